#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "conditions/Condition.h"
#include "TempDir.h"

namespace {

std::string Line(int id, const std::string& title, const std::string& seq, const std::string& verdict) {
    return std::to_string(id) + " " + title + " 1.5 2.5 3.5 t1 " + seq + " t2 4.5 " + verdict + "\n";
}

// Loads an answer file with stdin on /dev/null, as in a batch run.
std::string Load(CCondition& c, const TempDir& dir, const std::string& text) {
    c.m_strAnsPath = dir.Write("answers.txt", text);
    const int saved = dup(STDIN_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    testing::internal::CaptureStderr();
    c.GetCorrectSQ();
    std::string out = testing::internal::GetCapturedStderr();
    dup2(saved, STDIN_FILENO);
    close(null);
    close(saved);
    return out;
}

}  // namespace

TEST(Answers, AcceptedPair_OneEntryPerTitleWithOwnFields) {
    TempDir dir;
    CCondition c;
    EXPECT_EQ(Load(c, dir, Line(7, "scanA", "PEPTIDE", "YES") + "7\tscanB 9 8 7 u1 PEPTIDE u2 6 YES\r\n"), "");
    ASSERT_EQ(c.m_mapAnswers.size(), 2u);
    const TRUESQ& a = c.m_mapAnswers.at("scanA");
    EXPECT_EQ(a.nID, 7);
    EXPECT_EQ(a.strTitle, "scanA");
    EXPECT_EQ(a.lfValue1, 1.5);
    EXPECT_EQ(a.lfValue2, 2.5);
    EXPECT_EQ(a.lfValue3, 3.5);
    EXPECT_EQ(a.strText1, "t1");
    EXPECT_EQ(a.strSequence, "PEPTIDE");
    EXPECT_EQ(a.strText2, "t2");
    EXPECT_EQ(a.lfValue4, 4.5);
    EXPECT_EQ(a.strVerdict, "YES");
    const TRUESQ& b = c.m_mapAnswers.at("scanB");
    EXPECT_EQ(b.lfValue1, 9.0);
    EXPECT_EQ(b.strText1, "u1");
    EXPECT_EQ(b.lfValue4, 6.0);
}

TEST(Answers, VerdictOrSequenceMismatch_NoEntry) {
    TempDir dir;
    CCondition c;
    Load(c, dir,
         Line(1, "a", "PEP", "YES") + Line(1, "b", "PEP", "NO") + Line(2, "c", "PEP", "yes") +
             Line(2, "d", "PEP", "YES") + Line(3, "e", "PEP", "YES") + Line(3, "f", "PEK", "YES"));
    EXPECT_TRUE(c.m_mapAnswers.empty());
}

TEST(Answers, PairNumbersDiffer_MessageNoEntryNoWait) {
    TempDir dir;
    CCondition c;
    const std::string out = Load(c, dir, Line(7, "a", "PEP", "YES") + Line(8, "b", "PEP", "YES") +
                                             Line(9, "c", "PEP", "YES") + Line(9, "d", "PEP", "YES"));
    EXPECT_EQ(out, "[error]\tanswer file " + c.m_strAnsPath + ": a pair of lines has two pair numbers, 7 and 8; it is skipped\n");
    EXPECT_EQ(c.m_mapAnswers.size(), 2u);
    EXPECT_EQ(c.m_mapAnswers.count("a"), 0u);
    EXPECT_EQ(c.m_mapAnswers.count("c"), 1u);
}

TEST(Answers, SharedTitle_FirstAcceptedWins) {
    TempDir dir;
    CCondition c;
    Load(c, dir,
         Line(1, "a", "PEP", "YES") + Line(1, "b", "PEP", "YES") + Line(2, "a", "KEK", "YES") +
             Line(2, "c", "KEK", "YES"));
    ASSERT_EQ(c.m_mapAnswers.size(), 3u);
    EXPECT_EQ(c.m_mapAnswers.at("a").strSequence, "PEP");
    EXPECT_EQ(c.m_mapAnswers.at("c").strSequence, "KEK");
}

TEST(Answers, OddLastLineOrUnparsableOrLongLine_Dropped) {
    TempDir dir;
    CCondition odd;
    Load(odd, dir, Line(1, "a", "PEP", "YES") + Line(1, "b", "PEP", "YES") + Line(2, "c", "PEP", "YES"));
    EXPECT_EQ(odd.m_mapAnswers.size(), 2u);

    CCondition bad;
    Load(bad, dir,
         "x a 1 2 3 t PEP t 4 YES\n" + Line(1, "b", "PEP", "YES") + Line(2, "c", "PEP", "YES") +
             "2 d 1 2\n" + Line(3, "e", "PEP", "YES") + Line(3, "f", "PEP", "YES"));
    EXPECT_EQ(bad.m_mapAnswers.size(), 2u);
    EXPECT_EQ(bad.m_mapAnswers.count("e"), 1u);

    // A line of 1000 characters ends the reading.
    CCondition longLine;
    Load(longLine, dir,
         Line(1, "a", "PEP", "YES") + Line(1, "b", "PEP", "YES") + std::string(1000, 'x') + "\n" +
             Line(2, "c", "PEP", "YES") + Line(2, "d", "PEP", "YES"));
    EXPECT_EQ(longLine.m_mapAnswers.size(), 2u);
    EXPECT_EQ(longLine.m_mapAnswers.count("c"), 0u);
}

TEST(Answers, MissingFile_NoAnswersNoMessage) {
    CCondition c;
    c.m_strAnsPath = "/nonexistent/vemra/answers.txt";
    testing::internal::CaptureStdout();
    c.GetCorrectSQ();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(c.m_mapAnswers.empty());
}

// A byte-order mark used to spoil the first line's pair number, losing the
// first pair.
TEST(Answers, ByteOrderMark_FirstPairKept) {
    TempDir dir;
    CCondition c;
    EXPECT_EQ(Load(c, dir, "\xEF\xBB\xBF" + Line(1, "a", "PEP", "YES") + Line(1, "b", "PEP", "YES")), "");
    EXPECT_EQ(c.m_mapAnswers.size(), 2u);
}
