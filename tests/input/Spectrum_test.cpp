#include <gtest/gtest.h>

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
