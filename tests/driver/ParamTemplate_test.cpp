// The example parameter files are the template with their own file lines:
// what `vemra --print-params` writes and what the examples run can never
// drift apart.

#include <gtest/gtest.h>

#include "../TestUtil.h"
#include "driver/ParamTemplate.h"

TEST(ParamTemplate, Examples_AreTheTemplateWithTheirFiles) {
    const std::string src = VEMRA_SOURCE_DIR;
    struct Example {
        const char* szMode;
        const char* szFile;
        CTemplateFiles files;
    };
    const Example examples[] = {
        {"hcd", "hcd.param",
         {"build-release/vemra examples/hcd.param (from the project root)", "out/vemra+/hcd_example.txt",
          {"examples/hcd_example.mgf"}, "examples/answers.txt", "out"}},
        {"etd", "etd.param",
         {"build-release/vemra examples/etd.param (from the project root)", "out/vemra+/etd_example.txt",
          {"examples/etd_example.mgf"}, "examples/answers.txt", "out"}},
        {"paired", "paired.param",
         {"build-release/vemra examples/paired.param (from the project root)", "out/vemra+/paired_hcd.txt",
          {"examples/paired_hcd.mgf", "examples/paired_etd.mgf"}, "examples/paired_answers.txt", "out"}},
    };
    for (const Example& e : examples) {
        const std::string path = src + "/examples/" + e.szFile;
        const std::string expected = ParamTemplate(e.szMode, &e.files);
        if (getenv("VEMRA_UPDATE_GOLDEN")) testutil::WriteFile(path, expected);
        EXPECT_EQ(testutil::ReadFile(path), expected) << path;
    }
    EXPECT_EQ(ParamTemplate("HCD").rfind("# Vemra+ parameter file: HCD spectra alone.\n", 0), 0u);
    EXPECT_EQ(ParamTemplate("bogus"), "");
}
