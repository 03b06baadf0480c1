// mzML / mzXML reading speed: Count + Browse in batches of 10,000 over
// generated files of 20,000 MS2 spectra with 100 peaks each, as the run
// driver reads them, in the common array codings and gzip-compressed.
// Reports bytes/s of the file as stored, and spectra/s.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../tests/input/XmlSpectrumWriter.h"
#include "input/MzMLInput.h"
#include "input/MzXMLInput.h"

namespace {

using NP = CArrayEncoding;

std::vector<xmlwriter::CSpec> Spectra(unsigned n, unsigned peaks) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> mz(100.0, 2000.0), in(1.0, 1e6);
    std::vector<xmlwriter::CSpec> v(n);
    for (unsigned s = 0; s < n; ++s) {
        auto& x = v[s];
        x.title = "bench." + std::to_string(s) + "." + std::to_string(s) + ".2";
        x.precursorMz = mz(rng) / 2 + 200;
        x.charge = 2 + static_cast<int>(s % 3);
        x.rtSeconds = s * 0.37;
        x.activation = "HCD";
        for (unsigned p = 0; p < peaks; ++p) x.mz.push_back(mz(rng));
        std::sort(x.mz.begin(), x.mz.end());
        for (unsigned p = 0; p < peaks; ++p) x.intensity.push_back(in(rng));
    }
    return v;
}

struct CFile {
    std::string path;
    size_t bytes = 0;
    CFile(const std::string& name, const std::string& text) {
        path = (std::filesystem::temp_directory_path() / ("vemra_bench_" + std::to_string(getpid()) + name)).string();
        FILE* fp = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), fp);
        std::fclose(fp);
        bytes = text.size();
    }
    ~CFile() { std::remove(path.c_str()); }
};

const std::vector<xmlwriter::CSpec>& Data() {
    static const auto v = Spectra(20000, 100);
    return v;
}

template <typename Reader>
void Read(benchmark::State& state, const CFile& file) {
    size_t spectra = 0;
    for (auto _ : state) {
        Reader in;
        in.Count(file.path);
        std::vector<CSpectrum> out;
        while (in.Browse(out, 10000) > 0) {
        }
        in.Close();
        spectra += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.bytes));
    state.counters["spectra/s"] = benchmark::Counter(static_cast<double>(spectra), benchmark::Counter::kIsRate);
    state.counters["MB"] = static_cast<double>(file.bytes) / 1e6;
}

void BM_MzML_64bit(benchmark::State& state) {
    static CFile f(".mzML", xmlwriter::MzML(Data(), {64}, {64}, true));
    Read<CMzMLInput>(state, f);
}
void BM_MzML_32bitZlib(benchmark::State& state) {
    static CFile f(".mzML", xmlwriter::MzML(Data(), {32, true}, {32, true}, true));
    Read<CMzMLInput>(state, f);
}
void BM_MzML_Numpress(benchmark::State& state) {
    static CFile f(".mzML", xmlwriter::MzML(Data(), {64, true, NP::LINEAR}, {64, true, NP::SLOF}, true));
    Read<CMzMLInput>(state, f);
}
void BM_MzML_64bitGzipFile(benchmark::State& state) {
    static CFile f(".mzML.gz", xmlwriter::Gzip(xmlwriter::MzML(Data(), {64}, {64}, true)));
    Read<CMzMLInput>(state, f);
}
void BM_MzXML_32bit(benchmark::State& state) {
    static CFile f(".mzXML", xmlwriter::MzXML(Data(), 32, false));
    Read<CMzXMLInput>(state, f);
}
// Count alone: the text pass the driver makes before reading.
void BM_MzML_64bitCountOnly(benchmark::State& state) {
    static CFile f(".mzML", xmlwriter::MzML(Data(), {64}, {64}, true));
    for (auto _ : state) {
        CMzMLInput in;
        benchmark::DoNotOptimize(in.Count(f.path));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}
BENCHMARK(BM_MzML_64bitCountOnly)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_MzML_64bit)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_MzML_32bitZlib)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_MzML_Numpress)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_MzML_64bitGzipFile)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_MzXML_32bit)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
