// run_bench: throughput, stage shares and peak memory of the engine on one
// dataset, measured on the production pipeline: the run driver reads the
// dataset in batches (pairing spectra by precursor where there are two
// files), the batch sequencer hands the units to its workers, and every
// unit goes through the one sequencing function. Not a test: it prints
// figures, it checks nothing.
//
//   run_bench [--threads N] [--repeat N] PARAM_FILE [SPECTRUM_FILE ...]
//
// The parameter file supplies every setting; spectrum files given on the
// command line replace the ones it names (two files: HCD first, ETD second).
// --repeat runs the whole dataset N times (for sets too small to time once).
// Results go to a temporary folder that is removed afterwards.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/denovo.h"

namespace {

using Clock = std::chrono::steady_clock;

int Usage() {
    std::fprintf(stderr, "usage: run_bench [--threads N] [--repeat N] PARAM_FILE [SPECTRUM_FILE ...]\n");
    return 2;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// The parameter file with its spectrum paths, output folder and thread count
// replaced (the keys found in any section are dropped, the new ones go into
// the last one, where the reader finds [meta] keys too).
std::string BenchParams(const std::string& param, const std::vector<std::string>& paths, const std::string& out,
                        int threads) {
    std::ifstream in(param);
    if (!in) throw std::runtime_error("cannot read " + param);
    std::ostringstream text;
    for (std::string line; std::getline(in, line);) {
        const std::string key = line.substr(0, line.find('='));
        const bool replaced = key.rfind("spec_path", 0) == 0 || key == "out_path" || key == "folder" ||
                              (threads > 0 && key == "thread");
        if (!replaced) text << line << "\n";
    }
    text << "[file]\n";
    if (!paths.empty()) {
        text << "spec_path=" << paths.size() << "\n";
        for (size_t k = 0; k < paths.size(); ++k) text << "spec_path" << k + 1 << "=" << paths[k] << "\n";
    }
    text << "out_path=" << out << "/\n";
    if (threads > 0) text << "thread=" << threads << "\n";
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 1;
    int repeat = 1;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
            if (threads < 1 || threads > 64) return Usage();
        } else if (a == "--repeat" && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
            if (repeat < 1) return Usage();
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) return Usage();
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "run-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
    std::vector<std::string> paths;
    for (size_t k = 1; k < args.size(); ++k) paths.push_back(fs::absolute(args[k]).string());
    const std::string param = folder + "/bench.param";
    try {
        std::ofstream(param) << BenchParams(args[0], paths, folder, threads);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "run_bench: %s\n", e.what());
        return 1;
    }

    CStageTimes stages;
    long long spectra = 0, pairs = 0;
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    for (int pass = 0; pass < repeat; ++pass) {
        CDeNovo run;
        run.m_pStageTimes = &stages;
        if (run.DenovoRun(param, "bench") != 0) std::fprintf(stderr, "run_bench: the run did not do all its work\n");
        spectra += run.Total().nRead;
        pairs += run.Total().nPairs;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = CpuSeconds() - cpu0;
    std::error_code ec;
    fs::remove_all(folder, ec);

    const double staged = stages.lfReading + stages.lfPreprocess + stages.lfNodes + stages.lfEdges + stages.lfPaths +
                          stages.lfCandidates + stages.lfScoring + stages.lfWriting;
    std::printf("parameters: %s\n", args[0].c_str());
    for (const std::string& p : paths) std::printf("input:      %s\n", p.c_str());
    std::printf("%lld spectra (%lld pairs), %d pass(es), %d worker thread(s)\n", spectra, pairs, repeat, threads);
    std::printf("%-22s %10s %8s\n", "stage", "seconds", "share");
    auto row = [&](const char* name, double s) {
        std::printf("%-22s %10.3f %7.1f %%\n", name, s, staged > 0 ? 100.0 * s / staged : 0.0);
    };
    row("reading+normalising", stages.lfReading);
    row("preprocessing", stages.lfPreprocess);
    row("nodes", stages.lfNodes);
    row("edges", stages.lfEdges);
    row("paths", stages.lfPaths);
    row("candidates", stages.lfCandidates);
    row("scoring+report", stages.lfScoring);
    row("writing", stages.lfWriting);
    std::printf("%-22s %10.3f   (wall %.3f s, CPU %.3f s)\n", "total (thread-seconds)", staged, wall, cpu);
    const double perThread = cpu > 0 ? static_cast<double>(spectra) / cpu : 0.0;
    std::printf("throughput: %.1f spectra/s per thread (CPU time), %.1f spectra/s wall\n", perThread,
                wall > 0 ? static_cast<double>(spectra) / wall : 0.0);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double peakMB = static_cast<double>(ru.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
    std::printf("peak memory: %.1f MB\n", peakMB);
    // One tab-separated line for scripts.
    std::printf("SUMMARY\t%lld\t%d\t%.1f\t%.3f\t%.1f\n", spectra, threads, perThread, cpu, peakMB);
    return 0;
}
