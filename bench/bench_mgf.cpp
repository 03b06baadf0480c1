// MGF reading speed: Count + Browse(all) over a generated file of 50,000
// spectra with about 100 peaks each (~120 MB), as the run driver reads it.
// Reports bytes/s and spectra/s.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "input/MGFInput.h"

namespace {

struct CMgfFile {
    std::string path;
    size_t bytes = 0;
    unsigned spectra = 0;

    CMgfFile(unsigned nSpectra, unsigned nPeaks) : spectra(nSpectra) {
        path = (std::filesystem::temp_directory_path() / ("vemra_bench_" + std::to_string(getpid()) + ".mgf")).string();
        FILE* fp = std::fopen(path.c_str(), "w");
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> mz(100.0, 2000.0), in(1.0, 1e6);
        for (unsigned s = 0; s < nSpectra; ++s) {
            std::fprintf(fp, "BEGIN IONS\nTITLE=bench.%u.%u.2 File:\"run.raw\", NativeID:\"scan=%u\"\n", s, s, s);
            std::fprintf(fp, "RTINSECONDS=%.3f\nPEPMASS=%.6f %.1f\nCHARGE=%u+\n", s * 0.37, mz(rng) / 2 + 200, in(rng),
                         2 + s % 3);
            for (unsigned p = 0; p < nPeaks; ++p) std::fprintf(fp, "%.5f %.4f\n", mz(rng), in(rng));
            std::fputs("END IONS\n", fp);
        }
        bytes = static_cast<size_t>(std::ftell(fp));
        std::fclose(fp);
    }
    ~CMgfFile() { std::remove(path.c_str()); }
};

void BM_MgfCountAndBrowse(benchmark::State& state) {
    static CMgfFile file(50000, 100);
    size_t spectra = 0;
    for (auto _ : state) {
        CMGFInput in;
        unsigned n = in.Count(file.path);
        std::vector<CSpectrum> out;
        out.reserve(n);
        in.Browse(out, CInput::ALL);
        in.Close();
        spectra += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.bytes));
    state.counters["spectra/s"] = benchmark::Counter(static_cast<double>(spectra), benchmark::Counter::kIsRate);
    state.counters["MB"] = static_cast<double>(file.bytes) / 1e6;
}
BENCHMARK(BM_MgfCountAndBrowse)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
