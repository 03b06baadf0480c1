// Runs that cannot silently go wrong, checked on the vemra binary: parameter
// mistakes, the command line, interruption, result files that are whole or
// absent, and summaries whose counts add up.

#include <gtest/gtest.h>
#include <sys/file.h>

#include <chrono>
#include <filesystem>
#include <csignal>
#include <regex>
#include <thread>

#include "../TestUtil.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSource = VEMRA_SOURCE_DIR;

const std::string kMeta = "[meta]\nthread=1\nC=160.03065\n";
const std::string kFile = "[file]\nspec_path=1\nspec_path1=x.mgf\nspec_type=MGF\nout_path=res\n";

// The first spectra of the HCD example, copied n times over.
std::string ExampleSpectra(int copies) {
    const std::string all = ReadFile(kSource + "/examples/hcd_example.mgf");
    std::string out;
    for (int k = 0; k < copies; ++k) out += all;
    return out;
}

// Every file name in a folder.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

long long JsonCount(const std::string& json, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(json, m, std::regex("\"" + key + "\": ([0-9]+)"))) return -1;
    return std::stoll(m[1]);
}

}  // namespace

TEST(RunChecks, ParameterMistakes_ClearMessageAndStatus) {
    struct Case {
        std::string strParams;
        int nStatus;
        std::vector<std::string> vErr;  // each must appear on stderr
    };
    const std::string mgfFile = "spec_path=1\nspec_path1=x.mgf\nspec_type=MGF\n";
    const std::vector<Case> cases = {
        {kMeta + "[file]\nspec_path = 1\nspec_path1= x.mgf \nspec_type =MGF\nout_path=res\n", 0,
         {"run.param:5: blanks around '=' in \"spec_path = 1\" are ignored"}},
        {mgfFile + kMeta + "[file]\n", 1,
         {"run.param:1: spec_path stands before any section header and is ignored; put it under [file]",
          "no spectrum file is configured"}},
        {mgfFile + "thread=1\n", 1, {"stands before any section header", "no spectrum file is configured"}},
        {"[meta]\n" + mgfFile + "[file]\nout_path=res\n", 1,
         {"run.param:2: spec_path belongs to section [file], not [meta]; it is ignored"}},
        {kMeta + "frag_tolerence=5\n" + kFile, 0, {"run.param:4: unknown key frag_tolerence; did you mean frag_tol?"}},
        // Without spec_type the name says MGF: the misspelt key only warns.
        {kMeta + "[file]\nspec_path=1\nspec_path1=x.mgf\nspec_typ=MGF\n", 0, {"unknown key spec_typ; did you mean spec_type?"}},
        {kMeta + "activation_type=EDT\n" + kFile, 1, {"run.param:4: activation_type=EDT is not one of HCD, ETD, CID"}},
        {kMeta + "HCDIONTYPE=2\nHCDIONTYPE1=b 1 1 0 0\n" + kFile, 1, {"run.param:4: HCDIONTYPE=2 but HCDIONTYPE2 is missing"}},
        {kMeta + "HCDIONTYPE=1\nHCDIONTYPE1=y 1 0 0 1e300\n" + kFile, 1, {"run.param:5: HCDIONTYPE1=y 1 0 0 1e300: the charge"}},
        {kMeta + "n-term=1e9 K\n" + kFile, 1, {"n-term: the mass 1000000000.000000 is no modification"}},
        // A file of spectra given as parameters (mostly unknown keys) stops early.
        {kMeta + [] {
             std::string junk;
             for (int k = 0; k < 40; ++k) junk += "PEAK" + std::to_string(k) + "=1\n";
             return junk;
         }() + kFile, 1, {"35 more unknown keys", "of its"}},
        {kMeta + "[file]\nspec_path=1\nspec_path1=x.mgf\nspec_type=xml\n", 1, {"spec_type=xml is not one of"}},
        {kMeta + kFile + "folder=maybe\n", 1, {"folder=MAYBE is not one of yes, no"}},
        {kMeta + "activation_type=etd\n" + kFile + "folder=No\n", 0, {"no ETDIONTYPE lines: the standard c and z ions"}},
        {kMeta + kFile, 0, {"no HCDIONTYPE lines: the standard b and y ions"}},
        {kMeta + "frag_tol=0\n" + kFile, 1, {"frag_tol must be above 0"}},
        {kMeta + "pep_tol=-5\n" + kFile, 1, {"pep_tol must be above 0"}},
        {kMeta + "mass_lower_bound=3000\n" + kFile, 1, {"mass_lower_bound is above mass_upper_bound"}},
        {kMeta + kFile + "report_pep=0\n", 1, {"report_pep=0 leaves every record empty"}},
        {kMeta + kFile + "report_path=-1\n", 1, {"report_path=-1 leaves every record empty"}},
        {kMeta + kFile + "max_node=0\n", 1, {"max_node=0 leaves no node"}},
        {kMeta + kFile + "max_spelled=0\n", 1, {"max_spelled=0 leaves every spectrum without a peptide"}},
        {kMeta + kFile + "max_spelled=2000000000\n", 0,
         {"max_spelled=2000000000 would take gigabytes per spectrum; 1000000 is used"}},
        {kMeta + kFile + "report_path=2147483647\nreport_temp=1000000\n", 0,
         {"report_path=2147483647 would take gigabytes per spectrum; 10000 is used",
          "report_temp=1000000 would take gigabytes per spectrum; 10000 is used"}},
        {"[meta]\nthread=0\n" + kFile, 0, {"thread=0: every core is used"}},
        {kMeta + "thread=1\n" + kFile, 0, {"thread is set again; the value of line 2 is used"}},
    };
    for (const Case& k : cases) {
        TempDir dir;
        WriteFile(dir / "x.mgf", ExampleSpectra(1));
        WriteFile(dir / "run.param", k.strParams);
        const auto r = RunVemra({"run.param"}, dir.path());
        EXPECT_EQ(r.status, k.nStatus) << k.strParams << r.err;
        for (const std::string& e : k.vErr) EXPECT_NE(r.err.find(e), std::string::npos) << k.strParams << r.err;
        // A parameter file with errors runs nothing and writes nothing.
        if (k.nStatus == 1 && r.err.find("nothing was run") != std::string::npos) {
            EXPECT_FALSE(Exists(dir / "res")) << k.strParams;
        }
    }
}

TEST(RunChecks, LongOutPath_KeptWhole) {
    TempDir dir;
    WriteFile(dir / "x.mgf", ExampleSpectra(1));
    const std::string deep = std::string(150, 'a') + "/" + std::string(150, 'b');
    WriteFile(dir / "run.param", kMeta + "[file]\nspec_path=1\nspec_path1=x.mgf\nspec_type=MGF\nout_path=" + deep + "\n");
    const auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Exists(dir / (deep + "/vemra+/x.txt")));
}

TEST(RunChecks, CommandLine_HelpVersionPrintParams) {
    TempDir dir;
    for (const char* opt : {"--help", "-h"}) {
        const auto r = RunVemra({opt}, dir.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: vemra sequence SPECTRA", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("Exit status"), std::string::npos);
    }
    auto r = RunVemra({"--version"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("vemra [0-9]+\\.[0-9]+\\.[0-9]+ \\(.*build\\)\n"))) << r.out;
    for (auto bad : std::vector<std::vector<std::string>>{{"--print-params", "xyz"}, {"--frobnicate"}, {"--help", "x"},
                                                           {"p.param", "--shard", "1/4294967297"}, {"p.param", "--shard", "0/2"}}) {
        r = RunVemra(bad, dir.path());
        EXPECT_EQ(r.status, 2) << bad[0];
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
    EXPECT_FALSE(Exists(dir / "denovo.log"));
    // The printed file is complete: it runs with no warning once its spectrum path is set.
    for (const char* mode : {"hcd", "etd", "paired"}) {
        r = RunVemra({"--print-params", mode}, dir.path());
        ASSERT_EQ(r.status, 0) << mode;
        std::string text = std::regex_replace(r.out, std::regex("spec_path([12])=[^\n]*"), "spec_path$1=x$1.mgf");
        WriteFile(dir / "p.param", text);
        // Spectra of the fragmentation each file is for.
        const std::string etd = ReadFile(kSource + "/examples/etd_example.mgf");
        WriteFile(dir / "x1.mgf", std::string(mode) == "etd" ? etd : ExampleSpectra(1));
        WriteFile(dir / "x2.mgf", etd);
        const auto run = RunVemra({"p.param"}, dir.path());
        EXPECT_EQ(run.status, 0) << mode << run.err;
        EXPECT_EQ(run.err.find("[warning]"), std::string::npos) << mode << run.err;
    }
}

TEST(RunChecks, Interrupted_PartialResultsRemovedEarlierResultsKept_Status128PlusSignal) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        WriteFile(dir / "x.mgf", ExampleSpectra(1));
        WriteFile(dir / "run.param", kMeta + kFile);
        ASSERT_EQ(RunVemra({"run.param"}, dir.path()).status, 0);
        const std::string before = ReadFile(dir / "res/vemra+/x.txt");
        // Long enough that the signal arrives while spectra are sequenced.
        WriteFile(dir / "x.mgf", ExampleSpectra(400));
        WriteFile(dir / "run.param", kMeta + "batch_size=50\n" + kFile);
        // Signal once sequencing has begun: its temporary result file exists.
        auto started = [&dir] {
            for (const std::string& n : Names(dir / "res/vemra+"))
                if (n.rfind("x.txt.tmp.", 0) == 0) return true;
            return false;
        };
        // A run that ended before the signal came (a machine that stalled the
        // test between its look and its signal) proves nothing: it runs again.
        testutil::RunResult r;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const pid_t pid = testutil::StartVemra({"run.param"}, dir.path());
            for (int k = 0; k < 3000 && !started(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            kill(pid, sig);
            r = testutil::WaitVemra(pid, dir.path());
            if (r.status != 0) break;
            WriteFile(dir / "res/vemra+/x.txt", before);
        }
        SCOPED_TRACE("signal " + std::to_string(sig) + "; stdout: " + r.out + "; stderr: " + r.err);
        EXPECT_EQ(r.status, 128 + sig);
        EXPECT_NE(r.err.find("interrupted"), std::string::npos);
        EXPECT_EQ(ReadFile(dir / "res/vemra+/x.txt"), before);
        EXPECT_EQ(Names(dir / "res/vemra+"), (std::vector<std::string>{".vemra.lock", "time.txt", "x.summary.json", "x.txt"}));
    }
}

TEST(RunChecks, SecondRunIntoLockedFolder_Refused) {
    TempDir dir;
    WriteFile(dir / "x.mgf", ExampleSpectra(1));
    WriteFile(dir / "run.param", kMeta + kFile);
    std::filesystem::create_directories(dir / "res/vemra+");
    const int fd = open((dir / "res/vemra+/.vemra.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const auto r = RunVemra({"run.param"}, dir.path());
    close(fd);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("another vemra run is writing into res/vemra+/"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir / "res/vemra+/x.txt"));
}

TEST(RunChecks, ResultsWholeOrAbsent_NamesNeverCollide_CountsAddUp) {
    TempDir dir;
    // A missing input leaves the earlier result file as it was.
    WriteFile(dir / "x.mgf", ExampleSpectra(1));
    WriteFile(dir / "run.param", kMeta + kFile);
    ASSERT_EQ(RunVemra({"run.param"}, dir.path()).status, 0);
    const std::string good = ReadFile(dir / "res/vemra+/x.txt");
    std::filesystem::remove(dir / "x.mgf");
    auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFile(dir / "res/vemra+/x.txt"), good);

    // A pipe or device cannot be read twice: refused, never reported as sequenced.
    WriteFile(dir / "dev.param", kMeta + "[file]\nspec_path=1\nspec_path1=/dev/null\nspec_type=MGF\nout_path=res\n");
    r = RunVemra({"dev.param"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/dev/null is a pipe or a device"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir / "res/vemra+/null.txt"));

    // time.mgf must not overwrite the timing file; x.mgf and x.MGF get two files.
    WriteFile(dir / "f/time.mgf", ExampleSpectra(1));
    WriteFile(dir / "f/x.mgf", ExampleSpectra(1));
    WriteFile(dir / "f/x.MGF",
              "BEGIN IONS\nTITLE=a\ttab\nPEPMASS=500\nCHARGE=0\n100 1\nEND IONS\n"
              "BEGIN IONS\nTITLE=far\nPEPMASS=5000\nCHARGE=2\n100 1\nEND IONS\n"
              "BEGIN IONS\nTITLE=empty\nPEPMASS=600.3\nCHARGE=2\nEND IONS\n");
    WriteFile(dir / "folder.param", kMeta + "[file]\nspec_path=1\nspec_path1=f\nfolder=yes\nspec_type=MGF\nout_path=res\n");
    r = RunVemra({"folder.param", "set"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Names(dir / "res/set"), (std::vector<std::string>{".vemra.lock", "time.txt", "time_2.summary.json",
                                                                 "time_2.txt", "x.summary.json", "x.txt",
                                                                 "x_2.summary.json", "x_2.txt"}));
    // Byte order: x.MGF comes first and keeps the name.
    EXPECT_NE(r.err.find("are named x_2 (the name x is taken in this run)"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir / "res/set/time_2.txt"), good);
    EXPECT_EQ(ReadFile(dir / "res/set/x_2.txt"), good);
    // x.MGF: charge 0, outside the window, no peaks; every spectrum is counted once.
    const std::string json = ReadFile(dir / "res/set/x.summary.json");
    EXPECT_EQ(JsonCount(json, "spectra_read"), 3) << json;
    EXPECT_EQ(JsonCount(json, "impossible_precursor"), 1);
    EXPECT_EQ(JsonCount(json, "outside_mass_window"), 1);
    EXPECT_EQ(JsonCount(json, "no_peaks_after_cleaning"), 1);
    EXPECT_EQ(ReadFile(dir / "res/set/x.txt"), "S3\tempty\t\n\n");
    const std::string ex = ReadFile(dir / "res/set/x_2.summary.json");
    EXPECT_EQ(JsonCount(ex, "spectra_read"), JsonCount(ex, "sequenced") + JsonCount(ex, "no_candidate"));
}

TEST(RunChecks, ConsoleClosedOrLogUnwritable_ResultsStillWritten) {
    TempDir dir;
    WriteFile(dir / "x.mgf", ExampleSpectra(1));
    WriteFile(dir / "run.param", kMeta + kFile);
    std::filesystem::create_directory(dir / "denovo.log");  // cannot be written as a file
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);  // nobody reads the console
    const pid_t pid = testutil::StartVemra({"run.param"}, dir.path(), fds[1]);
    close(fds[1]);
    const auto r = testutil::WaitVemra(pid, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("[warning]\tcannot write the run log denovo.log"), std::string::npos) << r.err;
    EXPECT_FALSE(ReadFile(dir / "res/vemra+/x.txt").empty());
}

// A file cut while it is read loses spectra: said, and the run fails.
TEST(RunChecks, FileShrinksWhileRead_ReportedStatusOne) {
    TempDir dir;
    const std::string spectra = ExampleSpectra(300);  // 3,000 spectra
    WriteFile(dir / "x.mgf", spectra);
    WriteFile(dir / "run.param", kMeta + "batch_size=1\n" + kFile);
    const pid_t pid = testutil::StartVemra({"run.param"}, dir.path());
    // Once the file is counted, keep only its first half.
    for (int k = 0; k < 600 && ReadFile(dir / ".stderr").find(" spectra.") == std::string::npos; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::filesystem::resize_file(dir / "x.mgf", spectra.find("BEGIN IONS", spectra.size() / 2));  // between blocks
    const auto r = testutil::WaitVemra(pid, dir.path());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("x.mgf changed while it was sequenced: 3000 spectra counted"), std::string::npos) << r.err;
}

// Whether one file holds HCD + ETD pairs is decided from all its spectra,
// whatever the batch size.
TEST(RunChecks, BothActivationsLateInTheFile_PairedWhateverTheBatch) {
    TempDir dir;
    std::string mgf;
    const std::string one = ExampleSpectra(1);
    for (int k = 0; k < 120; ++k) mgf += one;  // 1,200 spectra without activation
    std::string tagged = one;
    for (size_t at = 0; (at = tagged.find("BEGIN IONS\n", at)) != std::string::npos; at += 11)
        tagged.insert(at + 11, "ACTIVATION=ETD\n");
    mgf += tagged + std::regex_replace(tagged, std::regex("ACTIVATION=ETD"), "ACTIVATION=HCD");
    WriteFile(dir / "x.mgf", mgf);
    for (const char* batch : {"10", "10000"}) {
        WriteFile(dir / "run.param", kMeta + "batch_size=" + batch + "\n" + kFile);
        const auto r = RunVemra({"run.param"}, dir.path());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(ReadFile(dir / "res/vemra+/x.summary.json").find("\"mode\": \"HCD+ETD\""), std::string::npos) << batch;
    }
}
