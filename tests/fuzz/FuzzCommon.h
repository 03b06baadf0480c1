#pragma once
// Shared helpers of the reader fuzz harnesses: the input goes to a file of
// its own in a per-process temporary folder, then through a reader.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "input/Input.h"

inline const std::string& FuzzDir() {
    // Never destroyed, so the clean-up at exit (libFuzzer leaves through
    // exit()) can still read it.
    static const std::string& dir = *[] {
        auto* d = new std::string(
            (std::filesystem::temp_directory_path() / ("vemra_fuzz_" + std::to_string(getpid()))).string());
        std::filesystem::create_directories(*d);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(FuzzDir(), ec);
        });
        return d;
    }();
    return dir;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp) std::abort();
    if (size) std::fwrite(data, 1, size, fp);
    std::fclose(fp);
}

// Reads everything in batches picked by the first byte and checks the
// contract: never more than counted, and, unless the reader failed, exactly
// as many as counted (Count and Browse agree), with finite peaks.
inline void Drain(CInput& in, const std::string& path, uint8_t pick, bool sorted) {
    in.SetQuiet(true);
    unsigned total = in.Count(path);
    std::vector<CSpectrum> out;
    unsigned batch = (pick % 4 == 0) ? CInput::ALL : 1 + pick % 4;
    unsigned got = 0;
    for (int i = 0; i < 1000000; ++i) {
        unsigned r = in.Browse(out, batch);
        if (r == 0) break;
        if (r > batch) std::abort();
        got += r;
    }
    if (got + in.Skipped() > total || got != out.size()) std::abort();
    if (!in.Failed() && got != total) std::abort();
    for (const auto& s : out)
        for (size_t j = 0; j < s.m_vPeaks.size(); ++j) {
            if (!std::isfinite(s.m_vPeaks[j].lfMz) || !std::isfinite(s.m_vPeaks[j].lfIntensity)) std::abort();
            if (sorted && j > 0 && s.m_vPeaks[j].lfMz < s.m_vPeaks[j - 1].lfMz) std::abort();
        }
    in.Close();
}
