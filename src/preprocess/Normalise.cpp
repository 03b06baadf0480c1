#include "preprocess/Normalise.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace {

constexpr double kWindow = 100.0;  // m/z units

// Keeps the strongest peaks of each m/z window, at most `limit` in all, in
// their order: an enormous spectrum (a damaged or profile file) must not
// take the run's memory and time, and a window keeps its share of peaks so
// the whole mass range stays covered.
void ReducePeaks(std::vector<CPeak>& peaks, size_t limit) {
    std::map<long long, std::vector<size_t>> windows;
    for (size_t i = 0; i < peaks.size(); ++i) {
        const double w = std::floor(peaks[i].lfMz / kWindow);
        windows[std::isfinite(w) ? static_cast<long long>(std::clamp(w, -1e15, 1e15)) : 0].push_back(i);
    }
    auto stronger = [&peaks](size_t a, size_t b) {
        return peaks[a].lfIntensity != peaks[b].lfIntensity ? peaks[a].lfIntensity > peaks[b].lfIntensity : a < b;
    };
    const size_t share = std::max<size_t>(1, limit / windows.size());
    std::vector<size_t> kept;
    for (auto& [w, members] : windows) {
        const size_t n = std::min(share, members.size());
        std::partial_sort(members.begin(), members.begin() + static_cast<std::ptrdiff_t>(n), members.end(), stronger);
        kept.insert(kept.end(), members.begin(), members.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (kept.size() > limit) {
        std::partial_sort(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(limit), kept.end(), stronger);
        kept.resize(limit);
    }
    std::sort(kept.begin(), kept.end());
    std::vector<CPeak> out;
    out.reserve(kept.size());
    for (const size_t i : kept) out.push_back(peaks[i]);
    peaks.swap(out);
}

}  // namespace

bool NormaliseSpectrum(CSpectrum& s, const char* label, int maxPeaks) {
    auto& peaks = s.m_vPeaks;
    peaks.erase(std::remove_if(peaks.begin(), peaks.end(),
                               [](const CPeak& p) { return !(p.lfIntensity > 0.0) || !std::isfinite(p.lfIntensity); }),
                peaks.end());
    const bool reduce = maxPeaks > 0 && peaks.size() > static_cast<size_t>(maxPeaks);
    if (reduce) ReducePeaks(peaks, static_cast<size_t>(maxPeaks));
    double max = 0.0;
    for (const CPeak& p : peaks) max = std::max(max, p.lfIntensity);
    for (size_t i = 0; i < peaks.size(); ++i) {
        CPeak& p = peaks[i];
        p.nOrder = static_cast<int>(i);
        s.m_strActivation = label;
        p.lfKeyMz = p.lfMz;
        p.nCharge = 0;
        p.lfLogIntensity = std::log(p.lfIntensity);
        p.lfIntensity = p.lfIntensity / max;
    }
    return reduce;
}

void CleanTitle(std::string& title) {
    for (char& ch : title)
        if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
}
