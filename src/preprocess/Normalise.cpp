#include "preprocess/Normalise.h"

#include <algorithm>
#include <cmath>

void NormaliseSpectrum(CSpectrum& s, const char* label) {
    auto& peaks = s.m_vPeaks;
    peaks.erase(std::remove_if(peaks.begin(), peaks.end(),
                               [](const CPeak& p) { return !(p.lfIntensity > 0.0) || !std::isfinite(p.lfIntensity); }),
                peaks.end());
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
}

void CleanTitle(std::string& title) {
    for (char& ch : title)
        if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
}
