#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "conditions/OptionTool.h"
#include "TempDir.h"

namespace {

std::string Lookup(const std::string& file, const std::string& section, const char* key, const char* def = "DEF",
                   int size = 260) {
    COptionTool tool(file, section);
    std::string buf(static_cast<std::size_t>(size), 'Z');
    tool._GetPrivateProfileString(tool.m_strSection, key, def, buf.data(), size, tool.m_strFileName);
    return buf.c_str();
}

int LookupInt(const std::string& file, const char* key, int def) {
    COptionTool tool(file, "meta");
    return tool._GetPrivateProfileInt(tool.m_strSection, key, def, tool.m_strFileName);
}

}  // namespace

TEST(OptionTool, Int_ValueEmptyMissingOrText_DefaultOrAtoi) {
    TempDir dir;
    EXPECT_EQ(LookupInt(dir.Write("a", "[meta]\nthread=4\n"), "thread", 1), 4);
    EXPECT_EQ(LookupInt(dir.Write("b", "[meta]\n"), "thread", 1), 1);
    EXPECT_EQ(LookupInt(dir.Write("c", "[meta]\nthread=\n"), "thread", 1), 1);
    EXPECT_EQ(LookupInt(dir.Write("d", "[meta]\nthread=x\n"), "thread", 1), 0);
    EXPECT_EQ(LookupInt(dir.Write("e", "[meta]\nthread = 4\n"), "thread", 1), 1);
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
    EXPECT_EQ(Lookup(f, "file", "last"), "\tz");
}

TEST(OptionTool, Value_LongerThanBuffer_Truncated) {
    TempDir dir;
    const std::string value(300, 'v');
    const std::string f = dir.Write("a", "[meta]\nk=" + value + "\n");
    EXPECT_EQ(Lookup(f, "meta", "k"), std::string(259, 'v'));
    EXPECT_EQ(Lookup(f, "meta", "k", "DEF", 5), "vvvv");
    EXPECT_EQ(Lookup(f, "meta", "missing", "long default", 5), "long");
}

TEST(OptionTool, PhysicalLineLongerThanBuffer_ReadInPieces) {
    TempDir dir;
    // 81,958 characters fill one read; the rest of the physical line is the next "line".
    const std::string f = dir.Write("a", "[meta]\n" + std::string(81958, 'x') + "k=piece\n");
    EXPECT_EQ(Lookup(f, "meta", "k"), "piece");
    const std::string g = dir.Write("b", "[meta]\n" + std::string(81957, 'x') + "k=whole\n");
    EXPECT_EQ(Lookup(g, "meta", "k"), "DEF");
}

TEST(OptionTool, MissingFile_ThrowsWithErrorText_AfterCopyingDefault) {
    COptionTool tool("/nonexistent/vemra/params.ini", "meta");
    char buf[260] = "junk";
    try {
        tool._GetPrivateProfileString(tool.m_strSection, "A", "NULL", buf, sizeof buf, tool.m_strFileName);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "\t  at COptionTool::_GetPrivateProfileString() cannot find the file.\n");
    }
    EXPECT_STREQ(buf, "NULL");
}
