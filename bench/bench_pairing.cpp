// Pairing speed on 100,000 spectra (50,000 HCD, 50,000 ETD) of one run:
// every precursor is fragmented by HCD and then ETD in the next scan, a fifth
// of the peptides come back later in the run, the ETD list is shuffled and a
// tenth of it is missing, so the precursor sweep does the work. Also the two
// lists lined up (the positional shortcut) and a wide 1 Da tolerance with
// retention times only. Reports records per second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "pairing/Pairing.h"

namespace {

std::vector<CPairRecord> MakeRun(unsigned int nPrecursors, bool lineUp, bool scans) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> mass(800.0, 3500.0);
    std::uniform_int_distribution<int> charge(2, 4);
    std::uniform_int_distribution<unsigned int> earlier(0, nPrecursors - 1);
    std::vector<double> mh(nPrecursors);
    std::vector<int> z(nPrecursors);
    for (unsigned int i = 0; i < nPrecursors; ++i) {
        const bool again = i > 0 && rng() % 5 == 0;  // the same peptide, selected again
        const unsigned int j = again ? earlier(rng) % i : i;
        mh[i] = again ? mh[j] : mass(rng);
        z[i] = again ? z[j] : charge(rng);
    }
    std::vector<CPairRecord> hcd, etd;
    char title[64];
    for (unsigned int i = 0; i < nPrecursors; ++i) {
        for (int side = 0; side < 2; ++side) {
            CPairRecord r;
            r.nList = side;
            r.lfPrecursorMH = mh[i] * (1 + (side ? 2e-6 : -1e-6));
            r.nCharge = z[i];
            const int scan = static_cast<int>(3 * i + 1 + side);
            r.nScan = scans ? scan : -1;
            r.lfRetentionTime = scan * 0.12;
            std::snprintf(title, sizeof title, "run1.%06d.%06d.%d", scan, scan, z[i]);
            r.strTitle = title;
            (side ? etd : hcd).push_back(r);
        }
    }
    if (!lineUp) {
        std::shuffle(etd.begin(), etd.end(), rng);
        etd.resize(etd.size() * 9 / 10);
        // Top the list up to 100,000 with unrelated ETD spectra.
        for (unsigned int i = 0; etd.size() < hcd.size(); ++i) {
            CPairRecord r = etd[i];
            r.lfPrecursorMH = mass(rng);
            r.strTitle += "x";
            etd.push_back(r);
        }
    }
    for (unsigned int k = 0; k < hcd.size(); ++k) hcd[k].nIndex = k;
    for (unsigned int k = 0; k < etd.size(); ++k) etd[k].nIndex = k;
    hcd.insert(hcd.end(), etd.begin(), etd.end());
    return hcd;
}

void Run(benchmark::State& state, const std::vector<CPairRecord>& recs, const CPairingSettings& settings) {
    CPairing pairing(settings);
    unsigned int pairs = 0;
    for (auto _ : state) {
        const CPairingResult r = pairing.Pair(recs);
        pairs = r.nPairs;
        benchmark::DoNotOptimize(r.vUnits.data());
    }
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(recs.size()) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["pairs"] = pairs;
}

void BM_PairByPrecursor_100k(benchmark::State& state) {
    static const std::vector<CPairRecord> recs = MakeRun(50000, false, true);
    Run(state, recs, CPairingSettings{});
}
BENCHMARK(BM_PairByPrecursor_100k)->Unit(benchmark::kMillisecond);

void BM_PairByPrecursor_100k_1Da_RtOnly(benchmark::State& state) {
    static const std::vector<CPairRecord> recs = MakeRun(50000, false, false);
    CPairingSettings settings;
    settings.lfPrecursorTol = 1.0;
    settings.bPrecursorTolPpm = false;
    Run(state, recs, settings);
}
BENCHMARK(BM_PairByPrecursor_100k_1Da_RtOnly)->Unit(benchmark::kMillisecond);

void BM_PairLinedUp_100k(benchmark::State& state) {
    static const std::vector<CPairRecord> recs = MakeRun(50000, true, true);
    Run(state, recs, CPairingSettings{});
}
BENCHMARK(BM_PairLinedUp_100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
