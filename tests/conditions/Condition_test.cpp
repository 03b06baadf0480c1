#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "conditions/Condition.h"
#include "TempDir.h"

namespace {

// Reads a parameter file made of the given meta and file section bodies.
bool ReadParams(CCondition& c, const TempDir& dir, const std::string& meta, const std::string& file) {
    return c.Read(dir.Write("params.ini", "[meta]\n" + meta + "[file]\n" + file));
}

const double kBuiltIn[26] = {71.03711, 0, 103.00919, 115.02694, 129.04259, 147.06841, 57.02146,
                             137.05891, 0, 0, 128.09496, 113.08406, 131.04049, 114.04293,
                             0, 97.05276, 128.05858, 156.10111, 87.03203, 101.04768, 0,
                             99.06841, 186.07931, 0, 163.06333, 0};

}  // namespace

TEST(Condition, Read_OnlyThread12_DefaultsAndEightWorkers) {
    TempDir dir;
    CCondition c;
    ASSERT_TRUE(ReadParams(c, dir, "thread=12\n", "spec_path=1\nspec_path1=/data/x.mgf\n"));
    EXPECT_EQ(c.m_nThreadNum, 8u);
    EXPECT_EQ(c.m_lfFragTol, 20.0);
    EXPECT_TRUE(c.m_bFragTolPpm);
    EXPECT_EQ(c.m_lfPepTol, 20.0);
    EXPECT_TRUE(c.m_bPepTolPpm);
    EXPECT_EQ(c.m_lfMassLowerBound, 400.0);
    EXPECT_EQ(c.m_lfMassUpperBound, 2500.0);
    EXPECT_EQ(c.m_strActivation, "HCD");
    EXPECT_TRUE(c.m_vNTermMass.empty());
    EXPECT_TRUE(c.m_vCTermMass.empty());
    // No ion types declared: the standard ones of the mode that runs.
    ASSERT_EQ(c.m_vHCDIonTypes.size(), 4u);
    EXPECT_EQ(c.m_vHCDIonTypes[3].strLine, "y 2 0 0 18.0105647");
    EXPECT_TRUE(c.m_vETDIonTypes.empty());
    for (int k = 0; k < 26; ++k) EXPECT_EQ(c.m_lfAAMass[k], kBuiltIn[k]) << char('A' + k);
    EXPECT_EQ(c.m_nReportPath, 200);
    EXPECT_EQ(c.m_nReportTemp, 200);
    EXPECT_EQ(c.m_nReportPep, 10);
    EXPECT_EQ(c.m_nMaxNode, 300);
    EXPECT_EQ(c.m_strSpecType, "MGF");  // no spec_type: the path's name says it
    EXPECT_FALSE(c.m_bFolder);
    EXPECT_EQ(c.m_strAnsPath, "");
    EXPECT_EQ(c.m_strEnzymeName, "");
    EXPECT_FALSE(c.m_bEnzymeNTerm);
    EXPECT_EQ(c.m_vSpecPaths, std::vector<std::string>{"/data/x.mgf"});
    EXPECT_EQ(c.m_vFiles, std::vector<std::string>{"/data/x.mgf"});
    EXPECT_EQ(c.m_vAminoAcids.size(), 19u);
    EXPECT_EQ(c.m_vEdges.size(), 380u);
}

TEST(Condition, Read_ThreadCount_ZeroOrNegativeEveryCore_LargeUpToCores) {
    TempDir dir;
    const unsigned int cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned int limit = std::max(8u, cores);
    for (auto [text, expected] : {std::pair{"0", cores}, {"-3", cores}, {"8", 8u}, {"3", 3u}, {"", 1u}, {"100000", limit}}) {
        CCondition c;
        ReadParams(c, dir, std::string("thread=") + text + "\n", "");
        EXPECT_EQ(c.m_nThreadNum, expected) << text;
    }
}

TEST(Condition, Read_FlagsByExactText) {
    TempDir dir;
    CCondition c;
    ReadParams(c, dir, "frag_tol_type_ppm=no\npep_tol_type_ppm=0\nfrag_tol=0.5\npep_tol=abc\n", "folder=No\n");
    EXPECT_TRUE(c.m_bFragTolPpm);
    EXPECT_FALSE(c.m_bPepTolPpm);
    EXPECT_EQ(c.m_lfFragTol, 0.5);
    EXPECT_EQ(c.m_lfPepTol, 0.0);
    EXPECT_FALSE(c.m_bFolder);
}

TEST(Condition, Read_MetaKeysInLaterFileSection_Found) {
    TempDir dir;
    CCondition c;
    ReadParams(c, dir, "", "frag_tol=0.02\nactivation_type=ETD\n");
    EXPECT_EQ(c.m_lfFragTol, 0.02);
    EXPECT_EQ(c.m_strActivation, "ETD");
}

TEST(Condition, Read_LetterMasses_OverrideOrNull) {
    TempDir dir;
    CCondition c;
    ReadParams(c, dir, "C=160.03065\nA=NULL\nD=abc\n", "");
    EXPECT_EQ(c.m_lfAAMass['C' - 'A'], 160.03065);
    EXPECT_EQ(c.m_lfAAMass['A' - 'A'], 71.03711);
    EXPECT_EQ(c.m_lfAAMass['D' - 'A'], 0.0);
    EXPECT_EQ(c.m_vAminoAcids.size(), 18u);  // D is no longer a residue
}

TEST(Condition, Read_TermModLists) {
    TempDir dir;
    CCondition c;
    ReadParams(c, dir, "n-term=42\nc-term=42 ST 1 NQ x 5 W\n", "");
    EXPECT_EQ(c.m_vNTermMass, std::vector<double>{42});
    EXPECT_EQ(c.m_vNTermSites, std::vector<std::string>{"ABCDEFGHIJKLMNOPQRSTUVWXYZ"});
    EXPECT_EQ(c.m_vCTermMass, (std::vector<double>{42, 1}));
    EXPECT_EQ(c.m_vCTermSites, (std::vector<std::string>{"ST", "NQ"}));

    CCondition d;
    ReadParams(d, dir, "n-term=NULL\nc-term=\n", "");
    EXPECT_TRUE(d.m_vNTermMass.empty());
    EXPECT_TRUE(d.m_vCTermMass.empty());
}

TEST(Condition, Read_IonTypeLines_MissingLineIsAnError_MissingWordsAreZero) {
    TempDir dir;
    CCondition c;
    testing::internal::CaptureStderr();
    ReadParams(c, dir,
               "HCDIONTYPE=2\nHCDIONTYPE1=y 2 0 1 18.0105647\n"
               "ETDIONTYPE=2\nETDIONTYPE1=c 1\nETDIONTYPE2=z x 1 0 1.99\n",
               "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("HCDIONTYPE=2 but HCDIONTYPE2 is missing"), std::string::npos);
    EXPECT_EQ(c.m_nParamErrors, 1);
    ASSERT_EQ(c.m_vHCDIonTypes.size(), 1u);
    const CIonType& y = c.m_vHCDIonTypes[0];
    EXPECT_EQ(y.strName, "y");
    EXPECT_EQ(y.nNumber, 2);
    EXPECT_FALSE(y.bFlag1);
    EXPECT_EQ(y.lfValue, 18.0105647);
    EXPECT_EQ(y.strLine, "y 2 0 1 18.0105647");

    ASSERT_EQ(c.m_vETDIonTypes.size(), 2u);
    EXPECT_EQ(c.m_vETDIonTypes[0].strName, "c");
    EXPECT_EQ(c.m_vETDIonTypes[0].nNumber, 1);
    EXPECT_FALSE(c.m_vETDIonTypes[0].bFlag1);
    EXPECT_EQ(c.m_vETDIonTypes[1].strName, "z");
    EXPECT_EQ(c.m_vETDIonTypes[1].nNumber, 0);
    EXPECT_FALSE(c.m_vETDIonTypes[1].bFlag1);
    EXPECT_EQ(c.m_vETDIonTypes[1].lfValue, 0.0);
}

TEST(Condition, Read_NumberedKeyCounts_NegativeIsZero_HugeIsCapped) {
    TempDir dir;
    CCondition c;
    testing::internal::CaptureStderr();
    ReadParams(c, dir, "HCDIONTYPE=-2\nETDIONTYPE=2000000000\n", "spec_path=-1\n");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.m_vHCDIonTypes.size(), 4u);  // none declared: the standard ones
    EXPECT_TRUE(c.m_vETDIonTypes.empty());  // capped at 1024, whose lines are missing: one error
    EXPECT_NE(err.find(":3: ETDIONTYPE=2000000000 is too large"), std::string::npos) << err;
    EXPECT_NE(err.find("ETDIONTYPE1 is missing"), std::string::npos) << err;
    EXPECT_TRUE(c.m_vSpecPaths.empty());
    EXPECT_TRUE(c.m_vFiles.empty());
}

TEST(Condition, Read_EnzymeWords) {
    TempDir dir;
    CCondition c;
    ReadParams(c, dir, "enzyme=trypsin KR C\n", "");
    EXPECT_EQ(c.m_strEnzymeName, "trypsin");
    EXPECT_EQ(c.m_strEnzymeSites, "KR");
    EXPECT_EQ(c.m_strEnzymeTerm, "C");
    EXPECT_FALSE(c.m_bEnzymeNTerm);

    CCondition d;
    ReadParams(d, dir, "enzyme=AspN  D\tN\n", "");
    EXPECT_EQ(d.m_strEnzymeSites, "D");
    EXPECT_TRUE(d.m_bEnzymeNTerm);

    CCondition e;
    ReadParams(e, dir, "enzyme=lysc K\n", "");
    EXPECT_EQ(e.m_strEnzymeSites, "K");
    EXPECT_EQ(e.m_strEnzymeTerm, "");
    EXPECT_FALSE(e.m_bEnzymeNTerm);
}

TEST(Condition, Read_OutPath_OneTrailingSlash_EmptyIsCurrentFolder) {
    TempDir dir;
    for (auto [value, expected] : {std::pair{"results", "results/"}, {"results/", "results/"},
                                   {"", "./"}, {"res ", "res/"}, {"\"my results\"", "my results/"}}) {
        CCondition c;
        ReadParams(c, dir, "", std::string("out_path=") + value + "\n");
        EXPECT_EQ(c.m_strOutPath, expected) << value;
    }
    CCondition missing;
    ReadParams(missing, dir, "", "");
    EXPECT_EQ(missing.m_strOutPath, "./");
}

TEST(Condition, Read_LongValue_KeptWhole) {
    TempDir dir;
    CCondition c;
    ReadParams(c, dir, "", "ans_path=" + std::string(400, 'a') + "\n");
    EXPECT_EQ(c.m_strAnsPath, std::string(400, 'a'));
}

TEST(Condition, Read_SpecPaths_InOrder_NoneIsNoFile) {
    TempDir dir;
    CCondition c;
    ReadParams(c, dir, "", "spec_path=2\nspec_path2=e.mgf\nspec_path1=h.mgf\nfolder=yes\n");
    EXPECT_EQ(c.m_vSpecPaths, (std::vector<std::string>{"h.mgf", "e.mgf"}));
    EXPECT_EQ(c.m_vFiles, std::vector<std::string>{"h.mgf"});
    EXPECT_EQ(c.m_nParamErrors, 0);

    CCondition none;
    EXPECT_TRUE(ReadParams(none, dir, "", ""));
    EXPECT_TRUE(none.m_vFiles.empty());
    EXPECT_EQ(none.m_vEdges.size(), 380u);
}

TEST(Condition, Read_FolderMode_EndingsCaseAsWritten_ByteOrder) {
    TempDir dir;
    const std::string data = dir.Path() + "/spectra";
    std::filesystem::create_directory(data);
    for (const char* name : {"xmgf", "d.txt", "c.Mgf", "b.MGF", "a.mgf", "mgf", "e.ms2"})
        std::ofstream(data + "/" + name) << "x";
    CCondition c;
    ASSERT_TRUE(ReadParams(c, dir, "", "spec_path=1\nspec_path1=" + data + "\nfolder=yes\nspec_type=MGF\n"));
    EXPECT_EQ(c.m_vSpecPaths[0], data + "/");
    EXPECT_EQ(c.m_vFiles, (std::vector<std::string>{data + "/a.mgf", data + "/b.MGF", data + "/mgf",
                                                    data + "/xmgf"}));

    CCondition ms2;
    ASSERT_TRUE(ReadParams(ms2, dir, "", "spec_path=1\nspec_path1=" + data + "/\nfolder=yes\nspec_type=MS2\n"));
    EXPECT_EQ(ms2.m_vSpecPaths[0], data + "/");
    EXPECT_EQ(ms2.m_vFiles, std::vector<std::string>{data + "/e.ms2"});
}

TEST(Condition, Read_FolderCannotOpen_MessageAndFalse) {
    TempDir dir;
    CCondition c;
    testing::internal::CaptureStderr();
    const bool ok = ReadParams(c, dir, "", "spec_path=1\nspec_path1=/nonexistent/vemra\nfolder=yes\n");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("[error]\tcannot open the spectrum folder /nonexistent/vemra/"),
              std::string::npos);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(c.m_vFiles.empty());
    EXPECT_TRUE(c.m_vAminoAcids.empty());
    EXPECT_TRUE(c.m_vEdges.empty());
}

TEST(Condition, Read_MissingParameterFile_Throws) {
    CCondition c;
    try {
        c.Read("/nonexistent/vemra/params.ini");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot open the parameter file /nonexistent/vemra/params.ini", 0), 0u);
    }
}

TEST(Condition, Deviation_PpmOrAbsolute) {
    CCondition c;
    c.m_lfFragTol = 20;
    c.m_bFragTolPpm = true;
    c.m_lfPepTol = 10;
    c.m_bPepTolPpm = true;
    EXPECT_NEAR(c.CalcFragmentMassDeviation(1000.0), 0.02, 1e-15);
    EXPECT_NEAR(c.CalcPeptideMassDeviation(2000.0), 0.02, 1e-15);
    c.m_bFragTolPpm = false;
    c.m_bPepTolPpm = false;
    EXPECT_EQ(c.CalcFragmentMassDeviation(1000.0), 20.0);
    EXPECT_EQ(c.CalcFragmentMassDeviation(5.0), 20.0);
    EXPECT_EQ(c.CalcPeptideMassDeviation(5.0), 10.0);
}

TEST(Condition, CanMerge_MeanOfTolerancesIsInclusive) {
    CCondition c;
    std::vector<CPeak> peaks(4);
    peaks[0].lfMz = 100.0;
    peaks[1].lfMz = 100.5;
    peaks[2].lfMz = 100.51;
    peaks[3].lfMz = 99.5;
    c.m_lfFragTol = 0.5;
    c.m_bFragTolPpm = false;
    EXPECT_TRUE(c.CanMerge(peaks, 0, 1));
    EXPECT_TRUE(c.CanMerge(peaks, 1, 0));
    EXPECT_TRUE(c.CanMerge(peaks, 0, 3));
    EXPECT_FALSE(c.CanMerge(peaks, 0, 2));

    std::vector<CPeak> near(3);
    near[0].lfMz = 1000.0;
    near[1].lfMz = 1000.02;
    near[2].lfMz = 1000.021;
    c.m_lfFragTol = 20;
    c.m_bFragTolPpm = true;
    EXPECT_TRUE(c.CanMerge(near, 0, 1));
    EXPECT_FALSE(c.CanMerge(near, 0, 2));
}

TEST(Condition, Read_AccuracyKeys_DefaultsAreTheDesign_ValuesParsed) {
    TempDir dir;
    CCondition d;
    ReadParams(d, dir, "", "");
    EXPECT_FALSE(d.m_bRankNodeWeights || d.m_bEvidenceTies || d.m_bCompletionWithPepTol || d.m_bScaleToFragTol);
    EXPECT_EQ(d.m_lfMissingSitePenalty, 0.0);
    EXPECT_TRUE(d.m_vVarMods.empty());
    EXPECT_FALSE(d.m_bConfidence || d.m_bIsotopeError);
    EXPECT_EQ(d.m_vAminoAcids.size(), 19u);

    CCondition c;
    ReadParams(c, dir,
               "node_weight=rank\ntie_break=evidence\nscale_to_frag_tol=1\nfrag_tol=0.5\nfrag_tol_type_ppm=0\n"
               "var_mods=M:15.994915 NQ:0.984016,bad X:1\nvar_nterm_mods=*:42.010565\n",
               "");
    EXPECT_TRUE(c.m_bRankNodeWeights && c.m_bEvidenceTies && c.m_bScaleToFragTol);
    EXPECT_DOUBLE_EQ(c.m_lfEdgeScale, 25.0);  // 0.5 Da against the design's 0.02
    EXPECT_EQ(c.m_lfPpmScale, 1.0);
    // M, N, Q, then the 19 residues (no I) with an N-terminal acetyl.
    ASSERT_EQ(c.m_vVarMods.size(), 3u + 19u);
    EXPECT_EQ(c.m_vVarMods[1].cResidue, 'N');
    EXPECT_FALSE(c.m_vVarMods[2].bNTerm);
    EXPECT_TRUE(c.m_vVarMods.back().bNTerm);
    for (const CVarMod& m : c.m_vVarMods) {
        EXPECT_FALSE(std::string("()[]/").find(m.cCode) != std::string::npos || std::isalpha(m.cCode) || m.cCode < 27);
        EXPECT_EQ(c.VarMod(m.cCode), &m);
        EXPECT_DOUBLE_EQ(c.m_lfResidueMassByCode[static_cast<unsigned char>(m.cCode)],
                         c.m_lfAAMass[m.cResidue - 'A'] + m.lfDelta);
    }
    // 20 ppm: the design's own weighting, scale exactly 1.
    CCondition e;
    ReadParams(e, dir, "scale_to_frag_tol=1\n", "");
    EXPECT_EQ(e.m_lfPpmScale, 1.0);
    EXPECT_EQ(e.m_lfEdgeScale, 1.0);
}

// Parameter mistakes that used to slip through unseen (a section lost to a
// byte-order mark or a capital letter, an invisible blank, a NaN penalty, a
// count that wrapped round): each is now read as meant or refused, and said.
TEST(Condition, Read_ParameterMistakes_ReadAsMeantOrRefused) {
    const std::string meta = "[meta]\nC=160.03065\n", file = "[file]\nspec_path=1\nspec_path1=x.mgf\nspec_type=MGF\n";
    struct Row {
        std::string strText;
        int nErrors;
        std::vector<std::string> vSaid;  // each on stderr
        std::function<bool(const CCondition&)> fnCheck = nullptr;
    };
    const std::vector<Row> rows = {
        {"\xEF\xBB\xBF" + meta + "frag_tol=0.5\n" + file, 0, {}, [](auto& c) { return c.m_lfFragTol == 0.5; }},
        {"[Meta]\nfrag_tol=0.5\n[FILE]\nspec_path=1\nspec_path1=x.mgf\n", 0, {}, [](auto& c) { return c.m_lfFragTol == 0.5; }},
        {"[metta]\nfrag_tol=0.5\n" + file, 1, {"[error]\tP:1: unknown section header [metta]; the sections are [meta] and [file]"}},
        {"[meta\n" + file, 1, {"P:1: section header without ']'"}},
        {meta + file + "spec_type=mgf \t\n", 0, {}, [](auto& c) { return c.m_strSpecType == "MGF"; }},
        {meta + "[file]\nspec_path=1\nspec_path1=\"x y.mgf\"\n", 0, {"[info]\tP:5: the quotes around spec_path1's value are taken off"},
         [](auto& c) { return c.m_vSpecPaths[0] == "x y.mgf"; }},
        {meta + "pep_tol=10 # ppm\n" + file, 0, {"[warning]\tP:3: the remark \"# ppm\" after pep_tol's value is cut off"},
         [](auto& c) { return c.m_lfPepTol == 10; }},
        {meta + "pep_tol=0.02 Da\n" + file, 0,
         {"P:3: pep_tol=0.02 Da: the unit written after the number is ignored; pep_tol_type_ppm decides, and it makes "
          "pep_tol 0.02 ppm", "pep_tol=0.02 Da is implausible for a tolerance in ppm (expected 0.1 to 10000)"}},
        {meta + "frag_tol=20ppm\nfrag_tol_type_ppm=0\n" + file, 0, {"it makes frag_tol 20 Da", "(expected 0.0001 to 1)"}},
        {meta + "missing_fragment_penalty=nan\nvar_mod_penalty=inf\n" + file, 2,
         {"P:3: missing_fragment_penalty=nan is not a finite number", "P:4: var_mod_penalty=inf is not a finite number"}},
        {meta + "mass_upper_bound=1e400\n" + file, 1, {"mass_upper_bound=1e400 is not a finite number"}},
        {meta + "isotope_error_penalty=-1\n" + file, 0, {"isotope_error_penalty=-1 is implausible (expected 0 to 100)"}},
        {meta + "isotope_pairs=1\n" + file, 0, {"P:3: isotope_pairs=1 has no effect without isotope_error=1"}},
        {meta + "pep_tol=1e308\nfrag_tol=1e-300\n" + file, 0,
         {"pep_tol=1e308 is implausible", "frag_tol=1e-300 is implausible"}},
        {meta + file + "report_pep=4294967297\n", 1,
         {"report_pep=4294967297 is out of range (an integer from -2147483648 to 2147483647)"},
         [](auto& c) { return c.m_nReportPep == 10; }},
        {meta + "batch_size=-99999999999\n" + file, 1, {"batch_size=-99999999999 is out of range"}},
        {meta + "thread=99999999999\n" + file, 0, {"[info]\tP: thread=99999999999 is more than this machine's"}},
        {meta + "[file]\nspec_path=2\nspec_path1=x.mgf\n", 1, {"P:4: spec_path=2 but spec_path2 is not given"}},
        {meta + "[file]\nspec_path=1000000000\nspec_path1=x.mgf\n", 1,
         {"spec_path=1000000000 but only 1 spectrum paths are given (the first missing is spec_path2)"}},
        {meta + "W=1e12\n" + file, 1, {"P:3: W=1e12 is no residue mass (above 100000 Da)"}},
        {meta + "W=5000\n" + file, 0, {"[warning]\tP:3: W=5000 is heavier than any residue"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.strText);
        TempDir dir;
        const std::string path = dir.Write("p.param", r.strText);
        CCondition c;
        testing::internal::CaptureStderr();
        c.Read(path);
        std::string err = testing::internal::GetCapturedStderr();
        for (size_t at; (at = err.find(path)) != std::string::npos;) err.replace(at, path.size(), "P");
        EXPECT_EQ(c.m_nParamErrors, r.nErrors) << err;
        size_t errorLines = 0;
        for (size_t at = 0; (at = err.find("[error]", at)) != std::string::npos; ++at) ++errorLines;
        EXPECT_EQ(errorLines, static_cast<size_t>(r.nErrors)) << err;
        for (const std::string& said : r.vSaid) EXPECT_NE(err.find(said), std::string::npos) << said << "\n" << err;
        EXPECT_TRUE(!r.fnCheck || r.fnCheck(c)) << err;
    }
}
