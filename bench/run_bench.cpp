// run_bench: throughput, stage shares and peak memory of the engine on one
// dataset. Not a test: it prints figures, it checks nothing.
//
//   run_bench [--threads N] [--repeat N] [--out FILE] PARAM_FILE [SPECTRUM_FILE ...]
// (--repeat runs the whole set N times, for sets too small to time once)
//
// The parameter file supplies tolerances, ion types, enzyme and sizes. The
// spectrum files given on the command line replace the ones it names (one
// file: HCD or ETD by "activation_type"; two files: a HCD + ETD pair, HCD
// first). Files ending in .ms2 are read as MS2, folders as DTA, the rest as
// MGF. The dataset is read, labelled and normalised the way the run driver
// does it, then N workers (default 1) run the per-spectrum pipeline on
// contiguous ranges, each with its own preprocessor and graph; results go
// nowhere unless --out names a file (one per worker: FILE.0, FILE.1, ...).

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "conditions/Condition.h"
#include "driver/denovo.h"
#include "graph/CandidateGen.h"
#include "input/DTAInput.h"
#include "input/MGFInput.h"
#include "input/MS2Input.h"
#include "preprocess/PreprocessONE.h"

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Swallows the result records; the formatting work still happens.
class CNullBuf : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct CWorkerTimes {
    CStageTimes stages;
    double lfPreprocess = 0.0;
    double lfWall = 0.0;
    unsigned int nSequenced = 0;
};

bool EndsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

std::unique_ptr<CInput> MakeReader(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return std::make_unique<CDTAInput>();
    if (EndsWith(path, ".ms2") || EndsWith(path, ".MS2")) return std::make_unique<CMS2Input>();
    return std::make_unique<CMGFInput>();
}

double InputBytes(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        double total = 0;
        for (const auto& e : std::filesystem::directory_iterator(path, ec))
            if (e.is_regular_file(ec)) total += static_cast<double>(e.file_size(ec));
        return total;
    }
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0.0 : static_cast<double>(size);
}

// The run driver's labelling and normalisation: peaks without a positive
// intensity are dropped (no logarithm), the rest get relative intensity, log
// intensity, key m/z, order and the activation label.
void Normalise(CCondition& c) {
    for (size_t l = 0; l < c.m_vSpectra.size(); ++l) {
        const char* label = c.m_nActivationMode == 1 ? "HCD" : c.m_nActivationMode == 2 ? "ETD"
                            : l == 0                  ? "HCD"
                                                      : "ETD";
        for (CSpectrum& s : c.m_vSpectra[l]) NormaliseSpectrum(s, label);
    }
}

void Work(CCondition& c, int t, unsigned int begin, unsigned int end, const std::string& outPath,
          CWorkerTimes& times) {
    const auto t0 = Clock::now();
    CNullBuf nullBuf;
    std::ostream nullOut(&nullBuf);
    std::ofstream fileOut;
    if (!outPath.empty()) fileOut.open(outPath + "." + std::to_string(t));
    std::ostream& out = outPath.empty() ? nullOut : static_cast<std::ostream&>(fileOut);

    CPreprocessONE pre(&c);
    CNCGraph graph(&c, t);
    graph.m_pTimes = &times.stages;
    CSpectrum first, second;
    for (unsigned int i = begin; i < end; ++i) {
        c.m_vProgress[t].store(static_cast<int>(i), std::memory_order_relaxed);
        const auto tp = Clock::now();
        switch (c.m_nActivationMode) {
            case 1:
                first = c.m_vSpectra[0][i];
                second = first;
                pre.PreProcess(first);
                break;
            case 2:
                second = c.m_vSpectra[0][i];
                first = second;
                pre.PreProcess(second);
                break;
            default:
                first = c.m_vSpectra[0][i];
                pre.PreProcess(first);
                second = c.m_vSpectra[1][i];
                pre.PreProcess(second);
                break;
        }
        times.lfPreprocess += SecondsSince(tp);
        if (c.m_lfMassLowerBound <= first.m_lfPrecursorMH && first.m_lfPrecursorMH <= c.m_lfMassUpperBound) {
            graph.ConstructGraph(first, second, out);
            ++times.nSequenced;
        }
    }
    times.lfWall += SecondsSince(t0);
}

int Usage() {
    std::fprintf(stderr, "usage: run_bench [--threads N] [--repeat N] [--out FILE] PARAM_FILE [SPECTRUM_FILE ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 1;
    int repeat = 1;  // passes over the data set, for small sets
    std::string outPath;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
            if (threads < 1 || threads > 64) return Usage();
        } else if (a == "--repeat" && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
            if (repeat < 1) return Usage();
        } else if (a == "--out" && i + 1 < argc) {
            outPath = argv[++i];
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) return Usage();

    CCondition c;
    try {
        if (!c.Read(args[0])) std::fprintf(stderr, "run_bench: %s: the spectrum folder cannot be opened\n", args[0].c_str());
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "run_bench: cannot read %s:\n%s\n", args[0].c_str(), e.what());
        return 1;
    }
    std::vector<std::string> paths(args.begin() + 1, args.end());
    if (paths.empty()) paths = c.m_vSpecPaths;
    if (paths.empty()) {
        std::fprintf(stderr, "run_bench: no spectrum file given and none named by %s\n", args[0].c_str());
        return 1;
    }
    c.m_vSpecPaths = paths;

    // Reading: whole files through the readers, then sorting and normalising.
    const auto tr = Clock::now();
    double inputBytes = 0;
    c.m_vSpectra.clear();
    for (const std::string& p : paths) {
        inputBytes += InputBytes(p);
        std::unique_ptr<CInput> reader = MakeReader(p);
        reader->Count(p);
        c.m_vSpectra.emplace_back();
        reader->Browse(c.m_vSpectra.back(), CInput::ALL);
        reader->Close();
        if (reader->Failed()) std::fprintf(stderr, "run_bench: %s could not be read completely\n", p.c_str());
    }
    if (c.m_vSpectra.size() >= 2) {
        for (auto& list : c.m_vSpectra) std::sort(list.begin(), list.end(), CSpectrum::SCANLESS);
        c.m_nActivationMode = 3;
    } else {
        c.m_nActivationMode = c.m_strActivation == "ETD" ? 2 : 1;
    }
    Normalise(c);
    const double readSeconds = SecondsSince(tr);

    // Work units: spectra, or pairs of the same position in both lists.
    unsigned int n = static_cast<unsigned int>(c.m_vSpectra[0].size());
    if (c.m_nActivationMode == 3) n = std::min(n, static_cast<unsigned int>(c.m_vSpectra[1].size()));
    if (c.m_vProgress.size() < static_cast<size_t>(threads))
        c.m_vProgress = std::vector<std::atomic<int>>(static_cast<size_t>(threads));

    std::vector<CWorkerTimes> times(static_cast<size_t>(threads));
    const unsigned int chunk = n / static_cast<unsigned int>(threads) + 1;
    const auto tw = Clock::now();
    for (int pass = 0; pass < repeat; ++pass) {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            const unsigned int begin = std::min(static_cast<unsigned int>(t) * chunk, n);
            const unsigned int end = std::min(begin + chunk, n);
            c.m_vProgress[t].store(static_cast<int>(begin), std::memory_order_relaxed);
            workers.emplace_back(Work, std::ref(c), t, begin, end, std::cref(outPath), std::ref(times[t]));
        }
        for (std::thread& w : workers) w.join();
    }
    const double workSeconds = SecondsSince(tw);
    n *= static_cast<unsigned int>(repeat);

    CWorkerTimes sum;
    for (const CWorkerTimes& w : times) {
        sum.lfPreprocess += w.lfPreprocess;
        sum.stages.lfNodes += w.stages.lfNodes;
        sum.stages.lfEdges += w.stages.lfEdges;
        sum.stages.lfPaths += w.stages.lfPaths;
        sum.stages.lfCandidates += w.stages.lfCandidates;
        sum.stages.lfScoring += w.stages.lfScoring;
        sum.lfWall += w.lfWall;
        sum.nSequenced += w.nSequenced;
    }
    const double staged = sum.lfPreprocess + sum.stages.lfNodes + sum.stages.lfEdges + sum.stages.lfPaths +
                          sum.stages.lfCandidates + sum.stages.lfScoring;
    const double other = std::max(0.0, sum.lfWall - staged);
    const double total = readSeconds + sum.lfWall;

    static const char* kModes[] = {"?", "HCD", "ETD", "HCD+ETD pairs"};
    const char* unit = c.m_nActivationMode == 3 ? "pairs" : "spectra";
    std::printf("parameters: %s\n", args[0].c_str());
    for (const std::string& p : paths) std::printf("input:      %s\n", p.c_str());
    std::printf("mode %s: %u %s, %u in the mass window, %d worker thread(s)\n", kModes[c.m_nActivationMode], n, unit,
                sum.nSequenced, threads);
    std::printf("%-22s %10s %8s\n", "stage", "seconds", "share");
    auto row = [&](const char* name, double s) {
        std::printf("%-22s %10.3f %7.1f %%\n", name, s, total > 0 ? 100.0 * s / total : 0.0);
    };
    row("reading+normalising", readSeconds);
    row("preprocessing", sum.lfPreprocess);
    row("nodes", sum.stages.lfNodes);
    row("edges", sum.stages.lfEdges);
    row("paths", sum.stages.lfPaths);
    row("candidates", sum.stages.lfCandidates);
    row("scoring+report", sum.stages.lfScoring);
    row("other (copies)", other);
    std::printf("%-22s %10.3f   (workers' wall time %.3f s)\n", "total (thread-seconds)", total, workSeconds);

    const double perThread = sum.lfWall > 0 ? n / sum.lfWall : 0.0;
    const double overall = readSeconds + workSeconds > 0 ? n / (readSeconds + workSeconds) : 0.0;
    std::printf("throughput: %.1f %s/s per thread (pipeline), %.1f %s/s overall with reading\n", perThread, unit,
                overall, unit);

    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double peakMB = static_cast<double>(ru.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
    const double inputMB = inputBytes / (1024.0 * 1024.0);
    std::printf("peak memory: %.1f MB (input %.1f MB; target under 3 x input + 64 MB = %.1f MB)\n", peakMB, inputMB,
                3 * inputMB + 64);
    // One tab-separated line for scripts.
    std::printf("SUMMARY\t%s\t%u\t%d\t%.1f\t%.1f\t%.1f\n", c.m_nActivationMode == 3 ? "paired"
                                                             : c.m_nActivationMode == 2 ? "ETD"
                                                                                        : "HCD",
                n, threads, perThread, overall, peakMB);
    return 0;
}
