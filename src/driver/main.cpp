#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "annotate/AnnotateCommand.h"
#include "common/Console.h"
#include "driver/ParamTemplate.h"
#include "driver/SequenceCommand.h"
#include "driver/Train.h"
#include "driver/denovo.h"
#include "evaluate/EvaluateCommand.h"
#include "input/ReaderFactory.h"
#include "rerank/Features.h"

namespace {

const char* const kUsage =
    "usage: vemra sequence SPECTRA... [-o OUT] [--preset hcd|etd|paired] [-p PARAM] [--set KEY=VALUE]... | "
    "vemra PARAM_FILE [OUTPUT_NAME] [--shard K/N] | evaluate RESULTS... TRUTH [--plot FILE.svg] | "
    "annotate SPECTRA --title TITLE --peptide PEPTIDE -o FILE.svg | train PARAM TRUTH [PARAM TRUTH ...] -o MODEL | "
    "--print-params [hcd|etd|paired] | --help | --version";

const char* const kHelpText =
        "De novo peptide sequencing of tandem mass spectra (HCD, ETD, or HCD+ETD pairs).\n\n"
        "  vemra sequence SPECTRA... [-o OUT]\n"
        "                                   sequence spectrum files (.mgf, .mzML[.gz], .mzXML[.gz], .ms2,\n"
        "                                   a folder of .dta) with the recommended settings; OUT a folder/\n"
        "                                   (all three formats) or FILE.mztab, FILE.tsv or FILE.txt\n"
        "        [--preset hcd|etd|paired]  the settings (paired: an HCD and an ETD file, or one file\n"
        "                                   recording both activations); default hcd\n"
        "        [-p PARAM] [--set KEY=VALUE]...  a parameter file instead; any key overridden\n"
        "        [--threads N] [--top N] [--quiet]  threads (0: every core), candidates per spectrum\n"
        "                                   in the tables (default 1), errors only on the console\n"
        "  vemra PARAM_FILE [OUTPUT_NAME]   sequence the spectra the parameter file names\n"
        "        [--shard K/N]              only the K-th of N equal shares of every dataset (K from 1);\n"
        "                                   the N result files joined in order are the whole result\n"
        "  vemra --print-params [MODE]      write a complete parameter file with the recommended\n"
        "                                   settings (MODE hcd, etd or paired; default hcd)\n"
        "  vemra evaluate RESULTS... TRUTH [--plot FILE.svg] [--per-spectrum FILE]\n"
        "                                   peptide recall, amino-acid precision and recall and the\n"
        "                                   precision-coverage curve against known peptides\n"
        "  vemra annotate SPECTRA --title TITLE --peptide PEPTIDE -o FILE.svg\n"
        "                                   a picture of a spectrum with the peptide's fragment ions\n"
        "  vemra train PARAM TRUTH [PARAM TRUTH ...] -o MODEL\n"
        "                                   fit a re-ranking model (rerank_model=MODEL) on spectra\n"
        "                                   with known peptides\n"
        "  vemra --version                  version and build type\n\n"
        "Keys that matter most (parameter file sections [meta] and [file]):\n"
        "  spec_path=1, spec_path1=FILE     spectra to sequence (two files: HCD first, ETD second)\n"
        "  spec_type=MGF                    MGF, MS2 or DTA (a folder of .dta files)\n"
        "  activation_type=HCD              HCD or ETD for a single file\n"
        "  frag_tol=20, frag_tol_type_ppm=1 fragment tolerance (ppm; 0: Da)\n"
        "  pep_tol=20, pep_tol_type_ppm=1   precursor tolerance (ppm; 0: Da)\n"
        "  thread=0                         worker threads (0: every core)\n"
        "  out_path=out                     where the results folder is made\n\n"
        "Results: OUT_PATH/OUTPUT_NAME/NAME.txt for a spectrum file NAME.ext (OUTPUT_NAME\n"
        "defaults to vemra+), with NAME.summary.json (what became of every spectrum) and\n"
        "time.txt beside it; the run history goes to denovo.log in the current folder.\n\n"
        "Exit status: 0 all work done; 1 parameter errors, or an input could not be read or an\n"
        "output written (everything else was done); 2 wrong command line; 128 + the signal when\n"
        "interrupted (SIGINT 130, SIGTERM 143, SIGHUP 129; partial results removed).\n";

void PrintHelp() { std::cout << kUsage << "\n\n" << kHelpText; }

// The manual page: the help text in roff, so the two never disagree.
void PrintManual() {
    std::cout << ".TH VEMRA 1 \"\" \"vemra " << VEMRA_VERSION << "\" \"User Commands\"\n"
              << ".SH NAME\nvemra \\- de novo peptide sequencing of tandem mass spectra\n"
              << ".SH SYNOPSIS\n.nf\n";
    // One synopsis line per form of the usage line.
    std::string usage = std::string(kUsage).substr(7) + " | ";
    for (size_t at; (at = usage.find(" | ")) != std::string::npos; usage.erase(0, at + 3)) {
        const std::string form = usage.substr(0, at);
        std::cout << (form.rfind("vemra ", 0) == 0 ? "" : "vemra ") << form << "\n";
    }
    std::cout << ".fi\n.SH DESCRIPTION\n.nf\n";
    std::string help = kHelpText;
    // A backslash means something to roff.
    for (size_t at = 0; (at = help.find('\\', at)) != std::string::npos; at += 2) help.replace(at, 1, "\\\\");
    std::cout << help << ".fi\n";
}

extern "C" void OnStopSignal(int sig) { RequestStop(sig); }

// "K/N" with 1 <= K <= N, both within int: checked before narrowing, so a
// huge N cannot wrap round to a small one.
bool ParseShard(const char* text, int& shard, int& shards) {
    char* end = nullptr;
    errno = 0;
    const long long k = std::strtoll(text, &end, 10);
    if (end == text || *end != '/' || errno == ERANGE) return false;
    const char* rest = end + 1;
    const long long n = std::strtoll(rest, &end, 10);
    if (end == rest || *end != '\0' || errno == ERANGE) return false;
    if (n < 1 || n > 1000000 || k < 1 || k > n) return false;
    shard = static_cast<int>(k);
    shards = static_cast<int>(n);
    return true;
}

// A CLI11 parse: help asked for prints it (exit 0); a wrong command line
// prints the reason and the usage on stderr (exit 2). -1: go on.
int ParseSubcommand(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc - 1, argv + 1);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        console::Error() << e.what();
        std::cerr << app.help("", CLI::AppFormatMode::Normal) << std::flush;
        return 2;
    }
    return -1;
}

int EvaluateCommand(int argc, char** argv) {
    CLI::App app("Peptide recall, amino-acid precision and recall and the precision-coverage curve of one or "
                 "more results files (native, TSV or mzTab) against known peptides.",
                 "vemra evaluate");
    CEvaluateOptions o;
    std::vector<std::string> files;
    app.add_option("files", files, "RESULTS... TRUTH (the last file is the truth unless --truth is given)");
    // One value per -r and --label, so "-r A TRUTH" leaves TRUTH positional.
    app.add_option("-r,--results", o.vResults, "a results file (repeatable)")
        ->allow_extra_args(false)
        ->type_name("FILE");
    app.add_option("-t,--truth", o.strTruth, "the truth file: title<TAB>peptide lines")->type_name("FILE");
    app.add_option("--label", o.vLabels, "name of the results file of the same position (repeatable)")
        ->allow_extra_args(false)->type_name("NAME");
    app.add_option("--plot", o.strPlot, "draw the precision-coverage curves into this SVG file")->type_name("FILE");
    app.add_option("--per-spectrum", o.strPerSpectrum, "write title, truth, prediction, correct, confidence (TSV)")
        ->type_name("FILE");
    if (const int status = ParseSubcommand(app, argc, argv); status >= 0) return status;
    if (o.strTruth.empty() && !files.empty()) {
        o.strTruth = files.back();
        files.pop_back();
    }
    o.vResults.insert(o.vResults.end(), files.begin(), files.end());
    if (o.strTruth.empty() || o.vResults.empty() || o.vLabels.size() > o.vResults.size()) {
        std::cerr << "usage: vemra evaluate RESULTS... TRUTH | -r RESULTS [-r RESULTS ...] --truth TRUTH "
                     "[--label NAME ...] [--plot FILE.svg] [--per-spectrum FILE.tsv]" << std::endl;
        return 2;
    }
    return RunEvaluate(o);
}

int AnnotateCommand(int argc, char** argv) {
    CLI::App app("An SVG picture of one spectrum with a peptide's fragment ions marked.", "vemra annotate");
    CAnnotateOptions o;
    app.add_option("spectra", o.strSpectra, "spectrum file (MGF, MS2, mzML, mzXML) or folder of DTA files")
        ->required();
    app.add_option("--title", o.strTitle, "the spectrum's title")->required();
    auto* peptide = app.add_option("--peptide", o.strPeptide, "the peptide, as the result files write it");
    auto* results = app.add_option("--results", o.strResults, "take the peptide from this result file");
    peptide->excludes(results);
    app.add_option("--rank", o.nRank, "with --results: the candidate's rank (default 1)")
        ->check(CLI::PositiveNumber)->needs(results);
    app.add_option("--charge", o.nCharge, "precursor charge instead of the file's")->check(CLI::Range(1, 20));
    app.add_option("-p,--param", o.strParam, "parameter file (residue masses, ion types, fragment tolerance); "
                                             "default: the recommended HCD settings");
    app.add_option("--activation", o.strActivation, "HCD, CID, ETD, ECD or EThcD instead of the spectrum's")
        ->check(CLI::IsMember({"HCD", "CID", "ETD", "ECD", "EThcD"}, CLI::ignore_case));
    app.add_flag("--losses", o.bLosses, "also mark water and ammonia losses");
    app.add_option("-o,--output", o.strOutput, "the SVG file to write")->required();
    if (const int status = ParseSubcommand(app, argc, argv); status >= 0) return status;
    if (o.strPeptide.empty() && o.strResults.empty()) {
        console::Error() << "vemra annotate needs --peptide PEPTIDE or --results FILE";
        return 2;
    }
    return RunAnnotate(o, ParamTemplate("hcd"));
}

int TrainCommand(int argc, char** argv) {
    CLI::App app("Fit a re-ranking model (rerank_model=MODEL) on sets of spectra with known peptides; each set is a "
                 "parameter file and its truth file (title<TAB>peptide).",
                 "vemra train");
    CTrainOptions o;
    std::vector<std::string> files;
    std::string objective = "softmax", without;
    app.add_option("sets", files, "PARAM TRUTH [PARAM TRUTH ...]");
    app.add_option("-o,--output", o.strOutput, "the model file to write")->type_name("MODEL");
    app.add_option("--save-rows", o.strSaveRows, "also write the feature rows, to fit on again with --rows")
        ->type_name("FILE");
    app.add_option("--rows", o.strLoadRows, "fit on feature rows written by --save-rows instead of sequencing")
        ->type_name("FILE");
    app.add_flag("--per-set", o.bPerSet, "print the leave-one-set-out figures of every set");
    app.add_option("--baseline", o.strBaseline, "also measure this model (a file or builtin:NAME) on the same rows")
        ->type_name("MODEL");
    app.add_option("--evidence", o.strEvidence, "compute the rows with this model's evidence models instead of "
                                                "fitting them (rows of sets to test on)")->type_name("MODEL");
    app.add_option("--test-rows", o.strTestRows, "measure the fitted model on these rows too (sets not fitted on)")
        ->type_name("FILE");
    app.add_option("--exclude-sets", o.vExcludeSets, "sets (by name) left out of the fit")->delimiter(',');
    app.add_option("--fallback", o.strFallback, "a linear model (a file or builtin:NAME) that ranks the lists whose "
                                                "first candidate by score has --fallback-feature below --fallback-below")
        ->type_name("MODEL");
    app.add_option("--fallback-feature", o.strFallbackFeature, "the feature the fallback is chosen by")
        ->capture_default_str();
    app.add_option("--fallback-below", o.lfFallbackBelow, "the value below which the fallback ranks")
        ->capture_default_str();
    CRerankFitOptions& f = o.fit;
    app.add_option("--objective", objective, "ranking objective: softmax, pairwise or ndcg")
        ->check(CLI::IsMember({"softmax", "pairwise", "ndcg"}))->capture_default_str();
    app.add_option("--depth", f.nDepth, "depth of the ranker's trees")->check(CLI::Range(1, 12))->capture_default_str();
    app.add_option("--rounds", f.nRounds, "the ranker's trees")->check(CLI::Range(1, 5000))->capture_default_str();
    app.add_option("--learning-rate", f.lfLearningRate, "the ranker's learning rate")
        ->check(CLI::Range(1e-4, 1.0))->capture_default_str();
    app.add_option("--min-child-weight", f.lfMinChildWeight, "least hessian on either side of a split")
        ->check(CLI::NonNegativeNumber)->capture_default_str();
    app.add_option("--subsample", f.lfSubsample, "share of rows each tree is grown on")
        ->check(CLI::Range(0.05, 1.0))->capture_default_str();
    app.add_option("--calibration-depth", f.nCalibrationDepth, "depth of the calibration's trees")
        ->check(CLI::Range(1, 8))->capture_default_str();
    app.add_option("--calibration-rounds", f.nCalibrationRounds, "the calibration's trees")
        ->check(CLI::Range(1, 5000))->capture_default_str();
    app.add_option("--features", f.vFeatures, "the features the model reads (default: all)")->delimiter(',');
    app.add_option("--without", without, "features the model leaves out, comma-separated");
    if (const int status = ParseSubcommand(app, argc, argv); status >= 0) return status;
    if (files.size() % 2 != 0 || (files.empty() == o.strLoadRows.empty()) ||
        (o.strOutput.empty() && o.strSaveRows.empty() && !o.bPerSet && o.strTestRows.empty())) {
        std::cerr << "usage: vemra train PARAM TRUTH [PARAM TRUTH ...] [-o MODEL] [--save-rows FILE] [--per-set] | "
                     "vemra train --rows FILE [-o MODEL] [--per-set] [fit options] (see --help)" << std::endl;
        return 2;
    }
    for (size_t k = 0; k < files.size(); k += 2) o.vSets.emplace_back(files[k], files[k + 1]);
    f.eObjective = objective == "pairwise" ? CBoostedTrees::EObjective::RankPairwise
                   : objective == "ndcg"   ? CBoostedTrees::EObjective::RankNdcg
                                           : CBoostedTrees::EObjective::RankSoftmax;
    if (!without.empty()) {
        if (f.vFeatures.empty()) f.vFeatures.assign(CFeatures::kNames, CFeatures::kNames + CFeatures::kCount);
        std::stringstream list(without);
        for (std::string name; std::getline(list, name, ',');) {
            const auto it = std::find(f.vFeatures.begin(), f.vFeatures.end(), name);
            if (it == f.vFeatures.end()) {
                std::cerr << "[error]\t--without: no feature " << name << " among the model's" << std::endl;
                return 2;
            }
            f.vFeatures.erase(it);
        }
    }
    return RunTrain(o);
}

int SequenceCommand(int argc, char** argv) {
    CLI::App app("Sequence spectrum files with the recommended settings of a preset or a parameter file.",
                 "vemra sequence");
    CSequenceOptions o;
    app.add_option("spectra", o.vSpectra, "spectrum files (.mgf, .mzML[.gz], .mzXML[.gz], .ms2) or folders of .dta files")
        ->required();
    app.add_option("-o,--output", o.strOutput, "a folder (ending in '/': every format) or FILE.mztab, FILE.tsv, FILE.txt")
        ->type_name("OUT");
    app.add_option("--preset", o.strPreset, "hcd, etd or paired (default hcd)")
        ->check(CLI::IsMember({"hcd", "etd", "paired"}, CLI::ignore_case));
    app.add_option("-p,--param", o.strParam, "a parameter file instead of the preset")->type_name("PARAM");
    app.add_option("--set", o.vSet, "KEY=VALUE, overriding any key (repeatable)")->allow_extra_args(false);
    app.add_option("--threads", o.nThreads, "worker threads (0: every core)")->check(CLI::Range(0, 4096));
    app.add_option("--top", o.nTop, "candidates per spectrum in the tables (default 1)")->check(CLI::Range(1, 10000));
    app.add_flag("--quiet", o.bQuiet, "errors only on the console");
    if (const int status = ParseSubcommand(app, argc, argv); status >= 0) return status;
    return RunSequence(o);
}

// A spectrum file given where a parameter file belongs (vemra my.mzML):
// one line saying what to run instead, not thousands of unknown-key warnings.
bool SpectraGivenAsParameters(const std::string& path) {
    const std::string held = SpectrumTypeOfContent(path);
    if (held.empty()) return false;
    console::Error() << path << " holds " << (held == "binary" || held == "gzip" ? held + " data" : held + " spectra")
                     << ", not parameters; to sequence it run: vemra sequence " << path;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe on the console (vemra p | head) must not end the run
    // before its files are written: writes to it just fail.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM stop a run cleanly (partial results removed).
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal session (SIGHUP) stops it the same way.
    sigaction(SIGHUP, &action, nullptr);

    // "--shard K/N" may follow the run's arguments.
    int shard = 1, shards = 1;
    if (argc >= 4 && std::strcmp(argv[argc - 2], "--shard") == 0) {
        if (!ParseShard(argv[argc - 1], shard, shards)) {
            std::cerr << kUsage << std::endl;
            return 2;
        }
        argc -= 2;
    }

    if (argc >= 2 && std::string(argv[1]) == "sequence") return SequenceCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "evaluate") return EvaluateCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "annotate") return AnnotateCommand(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "train") return TrainCommand(argc, argv);
    if (argc >= 2 && argv[1][0] == '-') {
        const std::string opt = argv[1];
        if ((opt == "--help" || opt == "-h") && argc == 2) {
            PrintHelp();
            return 0;
        }
        if (opt == "--man" && argc == 2) {
            PrintManual();
            return 0;
        }
        if (opt == "--version" && argc == 2) {
            std::cout << "vemra " << VEMRA_VERSION << " (" << VEMRA_BUILD_TYPE << " build)\n";
            return 0;
        }
        if (opt == "--print-params" && argc <= 3) {
            const std::string text = ParamTemplate(argc == 3 ? argv[2] : "hcd");
            if (!text.empty()) {
                std::cout << text;
                return 0;
            }
        }
        std::cerr << kUsage << std::endl;
        return 2;
    }
    if (argc != 2 && argc != 3) {
        std::cerr << kUsage << std::endl;
        return 2;
    }
    if (SpectraGivenAsParameters(argv[1])) return 2;

    int status = 0;
    try {
        CDeNovo denovo;
        denovo.m_nShard = shard;
        denovo.m_nShards = shards;
        status = denovo.DenovoRun(argv[1], argc == 3 ? argv[2] : "vemra+");
    } catch (const std::runtime_error& e) {
        console::Error() << e.what();
        return 1;
    }
    // An unwritable run log is a warning: the results were written.
    if (status != 1 || !runLog.str().empty()) WriteRunLog(runLog.str());
    return status;
}
