// The one reader of result files: the native file, the tab-separated table
// and mzTab give the same records, and malformed lines are reported with
// their place and skipped.

#include <gtest/gtest.h>

#include "../TestUtil.h"
#include "output/ResultReader.h"

namespace {

// Three spectra as each format writes them: two candidates (the first with a
// confidence), none, one; plus one malformed line each (at line kBad).
struct Format {
    const char* szName;
    EResultFormat eFormat;
    const char* szText;
    int nBad;
};

const Format kFormats[] = {
    {"native", EResultFormat::Native,
     "S1\ts.1\tPEPTLDEK\t\n"
     "P1\tM[+15.995]PEK\t35.25\t0.75\t1,0.5,1,1\t\n"
     "P2\tMPEK\t33.5\t0\t1,0,0,1\t\n"
     "P3\tMPEK\tnot-a-score\t\n"
     "\n"
     "S2\ts.2\t\n"
     "\n"
     "S4\ts 4\t\n"
     "P1\t[+42.011]-AK\t7\t0.5\t1,1\t\n"
     "\n",
     4},
    {"tsv", EResultFormat::Tsv,
     "file\tspectrum_index\ttitle\tscan\tretention_time\tprecursor_mz\tcharge\trank\tpeptide\tproforma\tscore\t"
     "confidence\tppm_error\tstatus\tpaired_file\tpaired_index\n"
     "a.mgf\t0\ts.1\t\t\t500\t2\t1\tMPEK\tM[+15.995]PEK\t35.25\t0.75\t1.0\tsequenced\t\t\n"
     "a.mgf\t0\ts.1\t\t\t500\t2\t2\tMPEK\tMPEK\t33.5\t0\t1.0\tsequenced\t\t\n"
     "a.mgf\t0\ts.1\t\t\t500\t2\t3\tMPEK\tMPEK\n"
     "a.mgf\t1\ts.2\t\t\t500\t2\t\t\t\t\t\t\tno_candidate\t\t\n"
     "a.mgf\t3\ts 4\t\t\t500\t2\t1\tAK\t[+42.011]-AK\t7\t0.5\t2.0\tsequenced\t\t\n",
     4},
    {"mztab", EResultFormat::MzTab,
     "MTD\tmzTab-version\t1.0.0\n"
     "PSH\tsequence\tPSM_ID\tsearch_engine_score[1]\tspectra_ref\topt_global_rank\topt_global_proforma\t"
     "opt_global_title\topt_global_confidence\n"
     "PSM\tMPEK\t1\t35.25\tms_run[1]:index=0\t1\tM[+15.995]PEK\ts.1\t0.75\n"
     "PSM\tMPEK\t2\t33.5\tms_run[1]:index=0\t2\tMPEK\ts.1\t0\n"
     "PXM\tbroken\n"
     "COM\tno PSM for ms_run[1]:index=1 (s.2): no_candidate\n"
     "PSM\tAK\t151\t7\tms_run[1]:index=3\t1\t[+42.011]-AK\ts 4\t0.5\n",
     5},
};

}  // namespace

TEST(ResultReader, ThreeFormats_SameRecords_MalformedLinesSkipped) {
    for (const Format& f : kFormats) {
        CResultReader reader;
        reader.m_bReport = false;
        std::vector<CResultRecord> records;
        std::string error;
        // The name says nothing: the content decides.
        ASSERT_TRUE(reader.ReadText(f.szText, records, error, "results.dat")) << f.szName << ": " << error;
        EXPECT_EQ(reader.Format(), f.eFormat) << f.szName;
        ASSERT_EQ(reader.m_vProblems.size(), 1u) << f.szName;
        EXPECT_EQ(reader.m_vProblems[0].rfind("results.dat:" + std::to_string(f.nBad) + ": ", 0), 0u)
            << reader.m_vProblems[0];
        ASSERT_EQ(records.size(), 3u) << f.szName;
        EXPECT_EQ(records[0].strTitle, "s.1");
        ASSERT_EQ(records[0].vPeptides.size(), 2u) << f.szName;
        const CResultPeptide& top = records[0].vPeptides[0];
        EXPECT_EQ(top.nRank, 1);
        EXPECT_EQ(top.strPeptide, "M[+15.995]PEK") << f.szName;
        EXPECT_DOUBLE_EQ(top.lfScore, 35.25);
        EXPECT_TRUE(top.bConfidence);
        EXPECT_DOUBLE_EQ(top.lfConfidence, 0.75);
        EXPECT_EQ(records[0].vPeptides[1].nRank, 2);
        EXPECT_EQ(records[1].strTitle, "s.2");
        EXPECT_TRUE(records[1].vPeptides.empty()) << f.szName;
        EXPECT_EQ(records[2].strTitle, "s 4");
        ASSERT_EQ(records[2].vPeptides.size(), 1u);
        EXPECT_EQ(records[2].vPeptides[0].strPeptide, "[+42.011]-AK");
        // Only the native file numbers its records and carries the answer
        // and the residue confidences.
        const bool native = f.eFormat == EResultFormat::Native;
        EXPECT_EQ(records[2].nRecord, native ? 4 : -1);
        EXPECT_EQ(records[0].strAnswer, native ? "PEPTLDEK" : "");
        EXPECT_EQ(top.vResidueConfidences, native ? std::vector<double>({1, 0.5, 1, 1}) : std::vector<double>());
    }
}

TEST(ResultReader, NativeFields_EdgeCases) {
    struct Case { const char* szText; size_t nPeptides; size_t nProblems; };
    const Case cases[] = {
        {"S1\tt\t\nP1\tPEK\t3\t0.5\t1,1,1\t\n\n", 1, 0},
        {"S1\tt\t\nP1\tPEK\t3\t0.5\t\n\n", 0, 1},                     // a confidence without residue confidences
        {"S1\tt\t\nP1\tPEK\t3\t0.5\t1,x\t\n\n", 0, 1},               // ... or with a broken one
        {"S1\tt\t\nP1\tPEK\t3\t0.5\t1,1,1\tmore\t\n\n", 0, 1},      // a field too many
        {"S1\tt\r\nP1\tnPEKc\t3\t\r\n\r\n", 1, 0},                    // CR LF line ends, terminal marks
        {"P1\tPEK\t3\t\nS1\tt\t\n\n", 0, 1},                          // a candidate outside a record
        {"\xEF\xBB\xBFS1\tt\t\nS2\tu\t\nP0\tPEK\t3\t\n", 0, 1},       // a byte-order mark; rank 0 is none
    };
    for (const Case& c : cases) {
        CResultReader reader;
        reader.m_bReport = false;
        std::vector<CResultRecord> records;
        std::string error;
        ASSERT_TRUE(reader.ReadText(c.szText, records, error)) << c.szText;
        size_t peptides = 0;
        for (const CResultRecord& r : records) peptides += r.vPeptides.size();
        EXPECT_EQ(peptides, c.nPeptides) << c.szText;
        EXPECT_EQ(reader.m_vProblems.size(), c.nProblems) << c.szText;
    }
}

TEST(ResultReader, UnreadableOrUnknownFiles_AreErrors) {
    testutil::TempDir dir;
    CResultReader reader;
    std::vector<CResultRecord> records;
    std::string error;
    EXPECT_FALSE(reader.Read(dir / "missing.txt", records, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_FALSE(reader.Read(dir.path(), records, error));
    testutil::WriteFile(dir / "spectra.mgf", "BEGIN IONS\nTITLE=x\nEND IONS\n");
    EXPECT_FALSE(reader.Read(dir / "spectra.mgf", records, error));
    EXPECT_NE(error.find("is not a result file"), std::string::npos) << error;
    // An empty file is a run that wrote no record.
    testutil::WriteFile(dir / "empty.txt", "");
    EXPECT_TRUE(reader.Read(dir / "empty.txt", records, error)) << error;
    EXPECT_TRUE(records.empty());
}
