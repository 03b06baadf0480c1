#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "conditions/OptionTool.h"
#include "TempDir.h"

namespace {

std::string Lookup(const std::string& file, const std::string& section, const char* key, const char* def = "DEF") {
    return COptionTool(file)._GetPrivateProfileString(section, key, def);
}

}  // namespace

TEST(OptionTool, Header_AnyCaseIndentOrRemark_OpensSection_ByteOrderMarkDropped) {
    TempDir dir;
    EXPECT_EQ(Lookup(dir.Write("a", "[meta] main settings\nk=1\n"), "meta", "k"), "1");
    EXPECT_EQ(Lookup(dir.Write("b", " [ meta ]\nk=1\n"), "meta", "k"), "1");
    EXPECT_EQ(Lookup(dir.Write("c", "[Meta]\nk=1\n"), "meta", "k"), "1");
    EXPECT_EQ(Lookup(dir.Write("d", "k=1\n"), "meta", "k"), "DEF");
    EXPECT_EQ(Lookup(dir.Write("e", "[metta]\nk=1\n"), "meta", "k"), "DEF");
    EXPECT_EQ(Lookup(dir.Write("f", "[meta\nk=1\n"), "meta", "k"), "DEF");
    // A byte-order mark before the first header used to hide the section.
    EXPECT_EQ(Lookup(dir.Write("g", "\xEF\xBB\xBF[meta]\nk=1\n"), "meta", "k"), "1");
}

TEST(OptionTool, KeySearch_RunsPastLaterHeaders_NotBeforeOwnHeader) {
    TempDir dir;
    EXPECT_EQ(Lookup(dir.Write("a", "[meta]\nx=1\n[file]\nfrag_tol=0.5\n"), "meta", "frag_tol"), "0.5");
    EXPECT_EQ(Lookup(dir.Write("b", "frag_tol=0.5\n[meta]\nx=1\n[file]\n"), "meta", "frag_tol"), "DEF");
    // The first occurrence after the first matching header wins.
    EXPECT_EQ(Lookup(dir.Write("c", "[meta]\nk=1\n[meta]\nk=2\nk=3\n"), "meta", "k"), "1");
}

TEST(OptionTool, KeyMatch_PrefixOfLongerKey_NotMatched) {
    TempDir dir;
    const std::string f = dir.Write("a", "[file]\nspec_path1=/data/a.mgf\nspec_path=1\n");
    EXPECT_EQ(Lookup(f, "file", "spec_path"), "1");
    EXPECT_EQ(Lookup(f, "file", "spec_path1"), "/data/a.mgf");
    EXPECT_EQ(Lookup(f, "file", "spec"), "DEF");
    EXPECT_EQ(Lookup(f, "file", "Spec_path"), "DEF");
}

// What a user does not mean to be part of a value is taken off it: blanks,
// tabs and CR at the ends, a remark after a blank, surrounding quotes.
TEST(OptionTool, KeyLine_ValueCleaned_WhatWasTakenOffTold) {
    struct Row {
        const char* line;
        const char* key;
        const char* value;
        bool blanked, quoted;
        const char* remark;
    } rows[] = {
        {"spec_type=MGF ", "spec_type", "MGF", false, false, ""},
        {"out_path=res\t\r", "out_path", "res", false, false, ""},
        {"spec_path = /data/x y.mgf ", "spec_path", "/data/x y.mgf", true, false, ""},
        {"  out_path\t=res", "out_path", "res", true, false, ""},
        {"last=\tz", "last", "z", true, false, ""},
        {"empty=", "empty", "", false, false, ""},
        {"p=\"a b\"", "p", "a b", false, true, ""},
        {"p='a # b' ; mine", "p", "a # b", false, true, "; mine"},
        {"p=x.mgf  # HCD run", "p", "x.mgf", false, false, "# HCD run"},
        {"p=run#1.mgf", "p", "run#1.mgf", false, false, ""},
        {"p=\"a\" b", "p", "\"a\" b", false, false, ""},
        {"p=\"open", "p", "\"open", false, false, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        CKeyLine k;
        ASSERT_TRUE(COptionTool::ParseKeyLine(r.line, k));
        EXPECT_EQ(k.strKey, r.key);
        EXPECT_EQ(k.strValue, r.value);
        EXPECT_EQ(k.bBlanked, r.blanked);
        EXPECT_EQ(k.bQuoted, r.quoted);
        EXPECT_EQ(k.strRemark, r.remark);
    }
    CKeyLine k;
    EXPECT_FALSE(COptionTool::ParseKeyLine("frag tol=5", k));
    EXPECT_FALSE(COptionTool::ParseKeyLine("=5", k));
    TempDir dir;
    EXPECT_EQ(Lookup(dir.Write("a", "[file]\r\nlong=" + std::string(300, 'v') + " \r\n"), "file", "long"),
              std::string(300, 'v'));
}

TEST(OptionTool, MissingFile_ThrowsNamingTheFile) {
    try {
        COptionTool tool("/nonexistent/vemra/params.ini");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot open the parameter file /nonexistent/vemra/params.ini: ", 0), 0u)
            << e.what();
    }
}
