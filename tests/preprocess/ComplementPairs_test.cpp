#include "preprocess/ComplementPairs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::vector<CPeak> Peaks(const std::vector<std::pair<double, int>>& mzCharge) {
    std::vector<CPeak> out;
    for (const auto& [mz, z] : mzCharge) {
        CPeak p;
        p.lfMz = p.lfKeyMz = mz;
        p.nCharge = z;
        out.push_back(p);
    }
    return out;
}

TEST(ComplementPairs, CountsSinglyChargedPartnersOnce) {
    struct Case {
        const char* what;
        std::vector<std::pair<double, int>> peaks;
        double sum;
        int pairs;
    };
    const std::vector<Case> cases = {
        {"no peaks", {}, 1000.0, 0},
        {"one pair", {{300.0, 1}, {700.0, 1}}, 1000.0, 1},
        {"partner just inside the tolerance", {{300.0, 1}, {700.019, 1}}, 1000.0, 1},
        {"partner outside the tolerance", {{300.0, 1}, {700.03, 1}}, 1000.0, 0},
        {"two partners of one peak count once", {{300.0, 1}, {699.99, 1}, {700.01, 1}}, 1000.0, 1},
        {"a doubly charged peak pairs with nothing", {{300.0, 2}, {700.0, 1}, {400.0, 1}, {600.0, 2}}, 1000.0, 0},
        {"charge unknown counts as single", {{200.0, 0}, {300.0, 1}, {700.0, 0}, {800.0, 1}}, 1000.0, 2},
        {"a peak at half the sum is not its own partner", {{500.0, 1}}, 1000.0, 0},
    };
    for (const Case& k : cases) {
        std::vector<CPeak> peaks = Peaks(k.peaks);
        std::sort(peaks.begin(), peaks.end(), CPeak::Mz_Less);
        EXPECT_EQ(ComplementPairs(peaks, k.sum, 0.02), k.pairs) << k.what;
    }
}

}  // namespace
