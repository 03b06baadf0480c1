// Randomized inputs for the three readers: well-formed files mutated by byte
// flips, insertions, cuts, NUL bytes and very long lines. The MGF and MS2
// readers are compared spectrum by spectrum with plain getline readings of
// the formats' rules; the DTA reader must stay finite and sane.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "input/DTAInput.h"
#include "input/MGFInput.h"
#include "input/MS2Input.h"
#include "InputTestUtil.h"

namespace {

constexpr double kProton = 1.00727647012;

bool Finite(double a, double b) { return std::isfinite(a) && std::isfinite(b); }

// What a reference reading gives: the count, every spectrum, and whether
// the file ended inside a spectrum.
struct CRef {
    unsigned nTotal = 0;
    std::vector<CSpectrum> vSpectra;
    bool bCut = false;

    // The batches of a Browse sequence: up to n of the spectra left.
    unsigned Browse(std::vector<CSpectrum>& out, unsigned n) {
        const size_t k = std::min<size_t>(n, vSpectra.size() - m_nServed);
        out.insert(out.end(), vSpectra.begin() + m_nServed, vSpectra.begin() + m_nServed + k);
        m_nServed += k;
        return static_cast<unsigned>(k);
    }
    size_t m_nServed = 0;
};

// The file's lines as C strings see them: split at '\n' after a byte-order
// mark, each cut at its first NUL.
std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    std::istringstream ss(text);
    for (std::string l; std::getline(ss, l);) lines.push_back(l.substr(0, l.find('\0')));
    return lines;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimEnd(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    return s;
}

// The charge rules: sign before or after the digits, INT_MAX at most; 0 when refused.
bool ChargeOf(const char* p, int& z) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool neg = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    long long v = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) v = std::min(v * 10 + (*p - '0'), 1LL << 40);
    z = neg || *p == '-' || v > INT_MAX ? 0 : static_cast<int>(v);
    return true;
}

// Straight reading of the MGF rules.
CRef RefMgf(const std::string& path, const std::string& base) {
    CRef r;
    const std::vector<std::string> lines = Lines(path);
    for (const std::string& l : lines) r.nTotal += Upper(TrimEnd(l)) == "BEGIN IONS";
    bool inBlock = false;
    CSpectrum s;
    int z = 2;
    double mz = NAN;
    for (const std::string& l : lines) {
        const std::string word = Upper(TrimEnd(l));
        if (inBlock && (word == "END IONS" || word == "BEGIN IONS")) {
            s.m_lfPrecursorMH = z * mz - (z - 1.0) * kProton;
            s.m_nCharge = z;
            if (s.m_strTitle.empty()) s.m_strTitle = base + ".index." + std::to_string(r.vSpectra.size());
            r.vSpectra.push_back(s);
            inBlock = false;
        }
        if (word == "BEGIN IONS") {
            inBlock = true;
            s = CSpectrum();
            z = 2;
            mz = NAN;
            continue;
        }
        if (!inBlock || l.empty()) continue;
        if (std::isdigit(static_cast<unsigned char>(l[0]))) {
            CPeak p;
            std::sscanf(l.c_str(), "%lf%lf", &p.lfMz, &p.lfIntensity);
            if (Finite(p.lfMz, p.lfIntensity)) s.m_vPeaks.push_back(p);
            continue;
        }
        const size_t eq = l.find('=');
        if (eq == std::string::npos) continue;
        std::string key = Upper(l.substr(0, eq));
        key.erase(0, key.find_first_not_of(" \t\r"));
        key = TrimEnd(key);
        const char* value = l.c_str() + eq + 1;
        if (key == "PEPMASS") {
            char* end = nullptr;
            mz = std::strtod(value, &end);
            if (end == value) mz = NAN;
        } else if (key == "CHARGE" && !ChargeOf(value, z)) {
            z = 0;
        } else if (key == "TITLE") {
            size_t n = l.size();
            while (n > 1 && !std::isprint(static_cast<unsigned char>(l[n - 1]))) --n;
            s.m_strTitle = n > eq + 1 ? l.substr(eq + 1, n - eq - 1) : "";
            for (char& c : s.m_strTitle)
                if (c == '\v' || c == '\f') c = ' ';
        }
    }
    r.bCut = inBlock;
    return r;
}

// Straight reading of the MS2 rules: one spectrum per Z line with a charge.
CRef RefMs2(const std::string& path, const std::string& base) {
    CRef r;
    const std::vector<std::string> lines = Lines(path);
    for (size_t i = 0; i < lines.size();) {
        if (lines[i].empty() || lines[i][0] != 'S') {
            ++i;
            continue;
        }
        char* end = nullptr;
        const long long scanValue = std::strtoll(lines[i].c_str() + 1, &end, 10);
        const int scan = end != lines[i].c_str() + 1 && scanValue >= 0 && scanValue <= INT_MAX ? static_cast<int>(scanValue) : -1;
        std::vector<std::pair<int, double>> zs;
        std::vector<CPeak> peaks;
        for (++i; i < lines.size() && (lines[i].empty() || lines[i][0] != 'S'); ++i) {
            const std::string& l = lines[i];
            if (!l.empty() && l[0] == 'Z') {
                int z = 0;
                if (!ChargeOf(l.c_str() + 1, z)) continue;
                const char* p = l.c_str() + 1;
                while (std::isspace(static_cast<unsigned char>(*p))) ++p;
                p += *p == '+' || *p == '-';
                while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
                p += *p == '+' || *p == '-';
                const double mh = std::strtod(p, &end);
                zs.push_back({z, end == p ? NAN : mh});
            } else if (!l.empty() && std::isdigit(static_cast<unsigned char>(l[0]))) {
                CPeak p;
                std::sscanf(l.c_str(), "%lf%lf", &p.lfMz, &p.lfIntensity);
                if (Finite(p.lfMz, p.lfIntensity)) peaks.push_back(p);
            }
        }
        if (zs.empty()) zs.push_back({0, NAN});
        std::sort(peaks.begin(), peaks.end(), CPeak::Mz_Less);
        for (const auto& [z, mh] : zs) {
            CSpectrum& s = r.vSpectra.emplace_back();
            s.m_vPeaks = peaks;
            s.m_nCharge = z;
            s.m_lfPrecursorMH = mh;
            char title[300];
            std::snprintf(title, sizeof title, "%s.%d.%d.%d.dta", base.c_str(), scan, scan, z);
            s.m_strTitle = title;
        }
    }
    r.nTotal = static_cast<unsigned>(r.vSpectra.size());
    return r;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }

void ExpectSame(const std::vector<CSpectrum>& got, const std::vector<CSpectrum>& want, int round) {
    ASSERT_EQ(got.size(), want.size()) << round;
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].m_strTitle, want[i].m_strTitle) << round << " #" << i;
        ASSERT_TRUE(SameBits(got[i].m_lfPrecursorMH, want[i].m_lfPrecursorMH)) << round << " #" << i;
        ASSERT_EQ(got[i].m_nCharge, want[i].m_nCharge) << round << " #" << i;
        ASSERT_EQ(got[i].m_vPeaks.size(), want[i].m_vPeaks.size()) << round << " #" << i;
        for (size_t j = 0; j < got[i].m_vPeaks.size(); ++j) {
            ASSERT_TRUE(SameBits(got[i].m_vPeaks[j].lfMz, want[i].m_vPeaks[j].lfMz)) << round;
            ASSERT_TRUE(SameBits(got[i].m_vPeaks[j].lfIntensity, want[i].m_vPeaks[j].lfIntensity)) << round;
        }
    }
}

std::string Num(std::mt19937& rng) {
    static const char* odd[] = {"nan", "inf", "-inf", "1e400", "0x1p4", "+3", "1e", "abc", "", "1,5", "2+", "-7"};
    if (rng() % 8 == 0) return odd[rng() % (sizeof odd / sizeof *odd)];
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng() % 6), (rng() % 2000000) / 1000.0);
    return buf;
}

// Random bytes, cuts, duplicated slices, NULs and long lines applied to text.
std::string Mutate(std::string s, std::mt19937& rng) {
    int n = static_cast<int>(rng() % 6);
    for (int i = 0; i < n && !s.empty(); ++i) {
        size_t at = rng() % s.size();
        switch (rng() % 6) {
            case 0: s[at] = static_cast<char>(rng() % 256); break;
            case 1: s.insert(at, 1, static_cast<char>(rng() % 256)); break;
            case 2: s.resize(at); break;
            case 3: s.insert(at, std::string(1, '\0')); break;
            case 4: s.insert(at, std::string(70000 + rng() % 30000, (rng() % 2) ? ' ' : '7')); break;
            case 5: s.insert(at, s.substr(rng() % s.size(), rng() % 200)); break;
        }
    }
    return s;
}

std::string Charge(std::mt19937& rng) {
    static const char* odd[] = {"2-", "-2", "4294967298", "abc", "", "3+ and 4+"};
    if (rng() % 6 == 0) return odd[rng() % (sizeof odd / sizeof *odd)];
    return std::to_string(rng() % 5) + ((rng() % 2) ? "+" : "");
}

// A key as files write it, sometimes in small letters.
std::string Key(const char* key, std::mt19937& rng) {
    std::string k = key;
    if (rng() % 5 == 0)
        for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k + "=";
}

std::string RandomMgf(std::mt19937& rng) {
    std::string s = (rng() % 5 == 0) ? "\xEF\xBB\xBF" : "";
    if (rng() % 3 == 0) s += "COM=header\n";
    int blocks = static_cast<int>(rng() % 6);
    const char* eol = (rng() % 3 == 0) ? "\r\n" : "\n";
    static const char* other[] = {"TOLU=ppm", "ETAG=x", "COMP=y", "SEQ=PEPTIDE", "INSTRUMENT=ESI-QUAD", "END", "TAG=1"};
    for (int b = 0; b < blocks; ++b) {
        s += std::string((rng() % 8) ? "BEGIN IONS" : "begin ions") + eol;
        if (rng() % 4) s += Key("TITLE", rng) + "t" + std::to_string(rng() % 100) + ((rng() % 3) ? "" : " \v") + eol;
        if (rng() % 3 == 0) s += std::string(other[rng() % (sizeof other / sizeof *other)]) + eol;
        if (rng() % 4) s += Key("PEPMASS", rng) + Num(rng) + ((rng() % 2) ? " " + Num(rng) : "") + eol;
        if (rng() % 2) s += Key("CHARGE", rng) + Charge(rng) + eol;
        if (rng() % 3 == 0) s += std::string("RTINSECONDS=12.5") + eol;
        int peaks = static_cast<int>(rng() % 8);
        for (int p = 0; p < peaks; ++p) s += Num(rng) + ((rng() % 2) ? "\t" : " ") + Num(rng) + eol;
        if (rng() % 10) s += std::string((rng() % 8) ? "END IONS" : "END IONS  ") + eol;
    }
    return Mutate(s, rng);
}

std::string RandomMs2(std::mt19937& rng) {
    std::string s = (rng() % 5 == 0) ? "\xEF\xBB\xBFH\tCreator\tx\n" : "H\tCreator\tx\n";
    int spectra = static_cast<int>(rng() % 6);
    const char* eol = (rng() % 3 == 0) ? "\r\n" : "\n";
    for (int k = 0; k < spectra; ++k) {
        std::string scan = std::to_string(rng() % 100000);
        s += "S\t" + scan + "\t" + scan + "\t" + Num(rng) + eol;
        if (rng() % 2) s += std::string("I\tRTime\t2.5") + eol;
        int zs = static_cast<int>(rng() % 3);
        for (int z = 0; z < zs; ++z) s += "Z\t" + Charge(rng) + "\t" + Num(rng) + eol;
        int peaks = static_cast<int>(rng() % 8);
        for (int p = 0; p < peaks; ++p) s += Num(rng) + " " + Num(rng) + ((rng() % 5) ? "" : "\n") + eol;
    }
    return Mutate(s, rng);
}

std::vector<unsigned> RandomBatches(std::mt19937& rng) {
    std::vector<unsigned> v;
    int n = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < n; ++i) v.push_back((rng() % 3 == 0) ? CInput::ALL : 1 + static_cast<unsigned>(rng() % 3));
    v.push_back(CInput::ALL);
    return v;
}

}  // namespace

TEST(ReaderRandom, Mgf_MutatedFiles_SameAsPlainReading) {
    CTempDir dir;
    std::mt19937 rng(21);
    size_t delivered = 0, peaks = 0;
    for (int round = 0; round < 300; ++round) {
        std::string path = dir.Write("r.mgf", RandomMgf(rng));
        CMGFInput in;
        in.SetQuiet(true);
        CRef ref = RefMgf(path, "r");
        ASSERT_EQ(in.Count(path), ref.nTotal) << round;
        std::vector<CSpectrum> got, want;
        for (unsigned n : RandomBatches(rng)) ASSERT_EQ(in.Browse(got, n), ref.Browse(want, n)) << round;
        ExpectSame(got, want, round);
        // A file cut inside a block fails the run; no other one does.
        EXPECT_EQ(in.Failed(), ref.bCut) << round;
        delivered += got.size();
        for (const auto& sp : got) peaks += sp.m_vPeaks.size();
    }
    // The inputs must mostly stay readable for the comparison to mean much.
    EXPECT_GT(delivered, 300u);
    EXPECT_GT(peaks, 1000u);
}

TEST(ReaderRandom, Ms2_MutatedFiles_SameAsPlainReading) {
    CTempDir dir;
    std::mt19937 rng(22);
    size_t delivered = 0, peaks = 0;
    for (int round = 0; round < 300; ++round) {
        std::string path = dir.Write("run.ms2", RandomMs2(rng));
        CMS2Input in;
        in.SetQuiet(true);
        CRef ref = RefMs2(path, "run");
        ASSERT_EQ(in.Count(path), ref.nTotal) << round;
        std::vector<CSpectrum> got, want;
        for (unsigned n : RandomBatches(rng)) ASSERT_EQ(in.Browse(got, n), ref.Browse(want, n)) << round;
        ExpectSame(got, want, round);
        delivered += got.size();
        for (const auto& sp : got) peaks += sp.m_vPeaks.size();
    }
    EXPECT_GT(delivered, 300u);
    EXPECT_GT(peaks, 1000u);
}

TEST(ReaderRandom, Dta_MutatedFiles_FinitePeaksNoHang) {
    std::mt19937 rng(23);
    for (int round = 0; round < 100; ++round) {
        CTempDir dir;
        int files = static_cast<int>(rng() % 4);
        for (int f = 0; f < files; ++f) {
            std::string s = Num(rng) + " " + std::to_string(rng() % 5) + "\n";
            int peaks = static_cast<int>(rng() % 10);
            for (int p = 0; p < peaks; ++p) s += Num(rng) + " " + Num(rng) + ((rng() % 4) ? "\n" : " x y\n\n");
            dir.Write("f" + std::to_string(f) + ".dta", Mutate(s, rng));
        }
        CDTAInput in;
        in.SetQuiet(true);
        ASSERT_EQ(in.Count(dir.Path()), static_cast<unsigned>(files));
        std::vector<CSpectrum> out;
        EXPECT_EQ(in.Browse(out, CInput::ALL), static_cast<unsigned>(files));
        for (const auto& s : out)
            for (const auto& p : s.m_vPeaks) ASSERT_TRUE(Finite(p.lfMz, p.lfIntensity));
        EXPECT_FALSE(in.Failed());
    }
}
