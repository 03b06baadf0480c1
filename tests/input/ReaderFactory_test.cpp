#include <gtest/gtest.h>

#include <string>

#include "input/ReaderFactory.h"

TEST(ReaderFactory, SpecTypes_AnyCase_KnownOnly) {
    for (const char* t : {"MGF", "mgf", "DTA", "MS2", "mzML", "MZML", "mzml", "mzXML", "MzXmL"})
        EXPECT_NE(MakeReader(t), nullptr) << t;
    for (const char* t : {"", "mzML.gz", "xml", "mgf "}) EXPECT_EQ(MakeReader(t), nullptr) << t;
}

TEST(ReaderFactory, FolderModeNames_XmlEndingsInAnyCaseAndGzip) {
    const struct {
        const char* name;
        const char* type;
        bool taken;
    } rows[] = {
        {"a.mzML", "mzML", true},      {"a.MZML", "MZML", true},     {"a.mzml.gz", "mzml", true},
        {"a.mzML.GZ", "mzML", true},   {"a.mzXML", "mzML", false},   {"a.mzXML", "mzXML", true},
        {"a.mzxml.gz", "MZXML", true}, {"a.mzML.zip", "mzML", false}, {"mzML", "mzML", false},
        {"a.Mgf", "MGF", false},       {"a.mgf", "mgf", true},        {"a.MS2", "MS2", true},
    };
    for (const auto& r : rows) EXPECT_EQ(IsDatasetFileName(r.name, r.type), r.taken) << r.name << " " << r.type;
}
