#include "preprocess/ComplementPairs.h"

int ComplementPairs(const std::vector<CPeak>& peaks, double sum, double tol) {
    int count = 0;
    size_t hi = peaks.size();
    for (size_t lo = 0; lo < hi; ++lo) {
        if (peaks[lo].nCharge > 1) continue;
        const double want = sum - peaks[lo].lfMz;
        if (want <= peaks[lo].lfMz) break;
        // The partners of heavier peaks are lighter: the upper end only falls.
        while (hi > lo + 1 && peaks[hi - 1].lfMz > want + tol) --hi;
        for (size_t k = hi; k > lo + 1 && peaks[k - 1].lfMz >= want - tol; --k) {
            if (peaks[k - 1].nCharge <= 1) {
                ++count;
                break;
            }
        }
    }
    return count;
}
