#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "conditions/OptionTool.h"
#include "TempDir.h"

namespace {

std::string Lookup(const std::string& file, const std::string& section, const char* key, const char* def = "DEF") {
    return COptionTool(file)._GetPrivateProfileString(section, key, def);
}

int LookupInt(const std::string& file, const char* key, int def) {
    return COptionTool(file)._GetPrivateProfileInt("meta", key, def);
}

}  // namespace

TEST(OptionTool, Int_ValueEmptyMissingOrText_DefaultOrAtoi) {
    TempDir dir;
    EXPECT_EQ(LookupInt(dir.Write("a", "[meta]\nthread=4\n"), "thread", 1), 4);
    EXPECT_EQ(LookupInt(dir.Write("b", "[meta]\n"), "thread", 1), 1);
    EXPECT_EQ(LookupInt(dir.Write("c", "[meta]\nthread=\n"), "thread", 1), 1);
    EXPECT_EQ(LookupInt(dir.Write("d", "[meta]\nthread=x\n"), "thread", 1), 0);
    EXPECT_EQ(LookupInt(dir.Write("e", "[meta]\nthread = 4\n"), "thread", 1), 4);
    EXPECT_EQ(LookupInt(dir.Write("f", "[meta]\nthread= -7abc\n"), "thread", 1), -7);
}

TEST(OptionTool, Header_RemarkAfterBracket_OpensSection_IndentOrCase_DoesNot) {
    TempDir dir;
    EXPECT_EQ(Lookup(dir.Write("a", "[meta] main settings\nk=1\n"), "meta", "k"), "1");
    EXPECT_EQ(Lookup(dir.Write("b", " [meta]\nk=1\n"), "meta", "k"), "DEF");
    EXPECT_EQ(Lookup(dir.Write("c", "[Meta]\nk=1\n"), "meta", "k"), "DEF");
    EXPECT_EQ(Lookup(dir.Write("d", "k=1\n"), "meta", "k"), "DEF");
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

TEST(OptionTool, Value_Verbatim_CrLfTrimmed) {
    TempDir dir;
    const std::string f =
        dir.Write("a", "[file]\r\nout_path=results \r\nq=\"a b\" # not a comment\r\nempty=\r\nlast=\tz");
    EXPECT_EQ(Lookup(f, "file", "out_path"), "results ");
    EXPECT_EQ(Lookup(f, "file", "q"), "\"a b\" # not a comment");
    EXPECT_EQ(Lookup(f, "file", "empty"), "");
    // A blank right after '=' is one of the blanks around it: trimmed.
    EXPECT_EQ(Lookup(f, "file", "last"), "z");
}

TEST(OptionTool, BlanksAroundKeyOrEquals_KeyFoundValueTrimmed_ExactLinesVerbatim) {
    TempDir dir;
    const std::string f = dir.Write("a", "[file]\nspec_path = /data/x y.mgf \n  out_path\t=res\nq=a \nlong=" +
                                             std::string(300, 'v') + "\n");
    EXPECT_EQ(Lookup(f, "file", "spec_path"), "/data/x y.mgf");
    EXPECT_EQ(Lookup(f, "file", "out_path"), "res");
    EXPECT_EQ(Lookup(f, "file", "q"), "a ");
    // No fixed buffer: a long value (a deep path) is kept whole.
    EXPECT_EQ(Lookup(f, "file", "long"), std::string(300, 'v'));
    std::string key, value;
    bool blanked = true;
    EXPECT_TRUE(COptionTool::SplitKeyLine("k=v ", key, value, &blanked));
    EXPECT_FALSE(blanked);
    EXPECT_FALSE(COptionTool::SplitKeyLine("frag tol=5", key, value));
    EXPECT_FALSE(COptionTool::SplitKeyLine("=5", key, value));
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
