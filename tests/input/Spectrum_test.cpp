#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "input/Spectrum.h"

TEST(Spectrum, HashTable_KeysNotAscending_AddNoBuckets) {
    CSpectrum s;
    for (double k : {100.2, 100.7, 102.1}) { CPeak p; p.lfKeyMz = k; s.m_vPeaks.push_back(p); }
    s.Create_Hash_Table();
    ASSERT_EQ(s.m_vHashTable.size(), 103u);
    EXPECT_EQ(s.m_vHashTable[100], 0);
    EXPECT_EQ(s.m_vHashTable[101], 2);
    EXPECT_EQ(s.m_vHashTable[102], 2);
}

namespace {

CSpectrum WithKeys(std::initializer_list<double> keys) {
    CSpectrum s;
    for (double k : keys) {
        CPeak p;
        p.lfKeyMz = k;
        s.m_vPeaks.push_back(p);
    }
    return s;
}

// Entry k = smallest peak index j with trunc(key j) >= k, by brute force over
// the running maximum of the keys.
std::vector<int> BruteTable(const CSpectrum& s) {
    std::vector<int> t;
    long long best = -1;
    std::vector<long long> runMax;
    for (const auto& p : s.m_vPeaks) {
        best = std::max(best, static_cast<long long>(p.lfKeyMz));
        runMax.push_back(best);
    }
    for (long long k = 0; k <= best; ++k) {
        size_t j = 0;
        while (runMax[j] < k) ++j;
        t.push_back(static_cast<int>(j));
    }
    return t;
}

}  // namespace

TEST(Spectrum, HashTable_NoPeaks_Empty) {
    CSpectrum s;
    s.m_vHashTable = {1, 2, 3};
    s.Create_Hash_Table();
    EXPECT_TRUE(s.m_vHashTable.empty());
}

TEST(Spectrum, HashTable_OnePeak_AllZero) {
    CSpectrum s = WithKeys({350.9});
    s.Create_Hash_Table();
    ASSERT_EQ(s.m_vHashTable.size(), 351u);
    for (int v : s.m_vHashTable) EXPECT_EQ(v, 0);
}

TEST(Spectrum, HashTable_AscendingKeys_BucketsFigures) {
    CSpectrum s = WithKeys({100.2, 100.7, 102.1});
    s.Create_Hash_Table();
    ASSERT_EQ(s.m_vHashTable.size(), 103u);
    for (int k = 0; k <= 100; ++k) EXPECT_EQ(s.m_vHashTable[k], 0);
    EXPECT_EQ(s.m_vHashTable[101], 2);
    EXPECT_EQ(s.m_vHashTable[102], 2);
    // Rebuilding replaces the table.
    s.Create_Hash_Table();
    EXPECT_EQ(s.m_vHashTable.size(), 103u);
}

TEST(Spectrum, HashTable_RandomKeys_MatchBruteForce) {
    std::srand(7);
    for (int round = 0; round < 200; ++round) {
        CSpectrum s;
        int n = 1 + std::rand() % 20;
        for (int i = 0; i < n; ++i) {
            CPeak p;
            p.lfKeyMz = (std::rand() % 30000) / 100.0;
            s.m_vPeaks.push_back(p);
        }
        s.Create_Hash_Table();
        EXPECT_EQ(s.m_vHashTable, BruteTable(s)) << round;
    }
}

TEST(Spectrum, HashTable_AbsurdKeys_BoundedAndDefined) {
    CSpectrum s = WithKeys({std::nan(""), 5.5, 1e300, 7.0});
    s.Create_Hash_Table();
    ASSERT_EQ(s.m_vHashTable.size(), (1u << 24) + 1);
    EXPECT_EQ(s.m_vHashTable[0], 1);
    EXPECT_EQ(s.m_vHashTable[6], 2);
    EXPECT_EQ(s.m_vHashTable.back(), 2);
    CSpectrum neg = WithKeys({-3.5, -0.5, 2.2});
    neg.Create_Hash_Table();
    EXPECT_EQ(neg.m_vHashTable, (std::vector<int>{1, 2, 2}));
}

TEST(Spectrum, Scanless_ByteOrderNotNumeric) {
    CSpectrum a, b;
    a.m_strTitle = "a.10";
    b.m_strTitle = "a.9";
    EXPECT_TRUE(CSpectrum::SCANLESS(a, b));
    EXPECT_FALSE(CSpectrum::SCANLESS(b, a));
    b.m_strTitle = "a.10";
    EXPECT_FALSE(CSpectrum::SCANLESS(a, b));
    EXPECT_FALSE(CSpectrum::SCANLESS(b, a));
    // Unsigned bytes; a prefix sorts first.
    a.m_strTitle = "\xe9";
    b.m_strTitle = "z";
    EXPECT_TRUE(CSpectrum::SCANLESS(b, a));
    a.m_strTitle = "ab";
    b.m_strTitle = "abc";
    EXPECT_TRUE(CSpectrum::SCANLESS(a, b));
}

TEST(Spectrum, PeakMzLess_OrdersByMz) {
    CPeak a, b;
    a.lfMz = 100.0;
    b.lfMz = 100.5;
    EXPECT_TRUE(CPeak::Mz_Less(a, b));
    EXPECT_FALSE(CPeak::Mz_Less(b, a));
    EXPECT_FALSE(CPeak::Mz_Less(a, a));
}
