#include "input/Spectrum.h"

namespace {
// No real m/z comes near this; it bounds the table at 64 MiB.
constexpr long long MAX_HASH_KEY = 1LL << 24;
}  // namespace

void CSpectrum::Create_Hash_Table() {
    m_vHashTable.clear();
    if (m_vPeaks.empty()) return;
    // Keys are as-read m/z values; they need not be ascending after
    // preprocessing, so a key that does not exceed the running maximum adds
    // no bucket.
    auto key = [this](size_t j) -> long long {
        // Truncation toward zero. Absurd keys are clamped so that the
        // conversion stays defined and one bad peak cannot claim gigabytes;
        // a NaN key owns no bucket.
        const double x = m_vPeaks[j].lfKeyMz;
        if (!(x > -1.0)) return -1;
        if (x >= static_cast<double>(MAX_HASH_KEY)) return MAX_HASH_KEY;
        return static_cast<long long>(x);
    };
    long long cur = key(0);
    if (cur < 0) cur = -1;  // negative m/z values own no bucket
    m_vHashTable.reserve(static_cast<size_t>(cur + 1));
    m_vHashTable.assign(static_cast<size_t>(cur + 1), 0);
    for (size_t j = 1; j < m_vPeaks.size(); ++j) {
        long long k = key(j);
        if (k > cur) {
            m_vHashTable.insert(m_vHashTable.end(), static_cast<size_t>(k - cur), static_cast<int>(j));
            cur = k;
        }
    }
}
