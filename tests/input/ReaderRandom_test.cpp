// Randomized inputs for the three readers: well-formed files mutated by byte
// flips, insertions, cuts, NUL bytes and very long lines. The MGF and MS2
// readers are compared spectrum by spectrum with plain fgets / getline
// readings of the format's rules; the DTA reader must stay finite and sane.

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

// Straight reading of the MGF rules with fgets and an 81,960-byte buffer.
class CRefMgf {
public:
    CRefMgf(const std::string& path, const std::string& base)
        : m_fp(std::fopen(path.c_str(), "r")), m_buf(81960), m_base(base) {
        if (!m_fp) return;
        while (std::fgets(m_buf.data(), 81960, m_fp))
            if (std::strncmp(m_buf.data(), "BEGIN", 5) == 0) ++m_total;
        std::rewind(m_fp);
    }
    ~CRefMgf() {
        if (m_fp) std::fclose(m_fp);
    }
    unsigned Total() const { return m_total; }
    unsigned Browse(std::vector<CSpectrum>& out, unsigned n) {
        unsigned limit = m_cur + std::min(n, m_total - m_cur);
        if (!m_fp || m_cur >= limit) return 0;
        unsigned start = m_cur;
        CSpectrum s;
        char* b = m_buf.data();
        while (m_cur < limit && std::fgets(b, 81960, m_fp)) {
            if (std::strncmp(b, "BEGIN", 5) != 0) continue;
            s.m_vPeaks.clear();
            s.m_strTitle.clear();
            int z = 2;
            bool closed = false;
            while (!closed && std::fgets(b, 81960, m_fp)) {
                size_t len = std::strlen(b);
                switch (b[0]) {
                    case 'E': closed = true; break;
                    case 'C': z = len > 7 ? std::atoi(b + 7) : 0; break;
                    case 'P': s.m_lfPrecursorMH = len > 8 ? std::atof(b + 8) : 0.0; break;
                    case 'T': {
                        size_t l = len;
                        while (l > 1 && !std::isprint(static_cast<unsigned char>(b[l - 1]))) --l;
                        s.m_strTitle = l > 6 ? std::string(b + 6, l - 6) : std::string();
                        break;
                    }
                    default:
                        if (std::isdigit(static_cast<unsigned char>(b[0]))) {
                            CPeak p;
                            std::sscanf(b, "%lf%lf", &p.lfMz, &p.lfIntensity);
                            if (Finite(p.lfMz, p.lfIntensity)) s.m_vPeaks.push_back(p);
                        }
                }
            }
            if (!closed) break;
            s.m_lfPrecursorMH = z * s.m_lfPrecursorMH - (z - 1.0) * kProton;
            s.m_nCharge = z;
            if (s.m_strTitle.empty()) s.m_strTitle = m_base + ".index." + std::to_string(m_cur);
            out.push_back(s);
            ++m_cur;
        }
        return m_cur - start;
    }

private:
    FILE* m_fp;
    std::vector<char> m_buf;
    std::string m_base;
    unsigned m_total = 0, m_cur = 0;
};

// Straight reading of the MS2 rules with an ifstream.
class CRefMs2 {
public:
    CRefMs2(const std::string& path, const std::string& base) : m_base(base) {
        FILE* fp = std::fopen(path.c_str(), "r");
        if (!fp) return;
        std::vector<char> buf(81960);
        while (std::fgets(buf.data(), 81960, fp))
            if (buf[0] == 'S') ++m_total;
        std::fclose(fp);
        m_ifs.open(path);
    }
    unsigned Total() const { return m_total; }
    unsigned Browse(std::vector<CSpectrum>& out, unsigned n) {
        unsigned limit = m_cur + std::min(n, m_total - m_cur);
        if (m_cur >= limit) return 0;
        unsigned start = m_cur;
        CSpectrum s;
        std::string line;
        while (m_cur < limit && std::getline(m_ifs, line)) {
            if (line.empty() || line[0] != 'S') continue;
            int scan = std::atoi(line.c_str() + 1);
            s.m_vPeaks.clear();
            while (m_ifs.peek() != 'S' && m_ifs.peek() != EOF) {
                std::getline(m_ifs, line);
                if (line.empty()) continue;
                if (line[0] == 'Z') {
                    if (line.size() <= 2) continue;
                    std::istringstream iss(line.substr(2));
                    int c;
                    double m;
                    if (iss >> c) {
                        s.m_nCharge = c;
                        if (iss >> m) s.m_lfPrecursorMH = m;
                    }
                } else if (std::isdigit(static_cast<unsigned char>(line[0]))) {
                    CPeak p;
                    std::sscanf(line.c_str(), "%lf%lf", &p.lfMz, &p.lfIntensity);
                    if (Finite(p.lfMz, p.lfIntensity)) s.m_vPeaks.push_back(p);
                }
            }
            std::sort(s.m_vPeaks.begin(), s.m_vPeaks.end(), CPeak::Mz_Less);
            char title[300];
            std::snprintf(title, sizeof title, "%s.%d.%d.%d.dta", m_base.c_str(), scan, scan, s.m_nCharge);
            s.m_strTitle = title;
            out.push_back(s);
            ++m_cur;
        }
        return m_cur - start;
    }

private:
    std::ifstream m_ifs;
    std::string m_base;
    unsigned m_total = 0, m_cur = 0;
};

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

std::string RandomMgf(std::mt19937& rng) {
    std::string s = (rng() % 3 == 0) ? "COM=header\n" : "";
    int blocks = static_cast<int>(rng() % 6);
    const char* eol = (rng() % 3 == 0) ? "\r\n" : "\n";
    for (int b = 0; b < blocks; ++b) {
        s += std::string("BEGIN IONS") + eol;
        if (rng() % 4) s += "TITLE=t" + std::to_string(rng() % 100) + ((rng() % 3) ? "" : " ") + eol;
        if (rng() % 4) s += "PEPMASS=" + Num(rng) + ((rng() % 2) ? " " + Num(rng) : "") + eol;
        if (rng() % 2) s += "CHARGE=" + std::to_string(rng() % 5) + ((rng() % 2) ? "+" : "") + eol;
        if (rng() % 3 == 0) s += std::string("RTINSECONDS=12.5") + eol;
        int peaks = static_cast<int>(rng() % 8);
        for (int p = 0; p < peaks; ++p) s += Num(rng) + ((rng() % 2) ? "\t" : " ") + Num(rng) + eol;
        if (rng() % 10) s += std::string("END IONS") + eol;
    }
    return Mutate(s, rng);
}

std::string RandomMs2(std::mt19937& rng) {
    std::string s = "H\tCreator\tx\n";
    int spectra = static_cast<int>(rng() % 6);
    const char* eol = (rng() % 3 == 0) ? "\r\n" : "\n";
    for (int k = 0; k < spectra; ++k) {
        std::string scan = std::to_string(rng() % 100000);
        s += "S\t" + scan + "\t" + scan + "\t" + Num(rng) + eol;
        if (rng() % 2) s += std::string("I\tRTime\t2.5") + eol;
        int zs = static_cast<int>(rng() % 3);
        for (int z = 0; z < zs; ++z) s += "Z\t" + std::to_string(rng() % 5) + "\t" + Num(rng) + eol;
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
        CRefMgf ref(path, "r");
        ASSERT_EQ(in.Count(path), ref.Total()) << round;
        std::vector<CSpectrum> got, want;
        for (unsigned n : RandomBatches(rng)) ASSERT_EQ(in.Browse(got, n), ref.Browse(want, n)) << round;
        ExpectSame(got, want, round);
        EXPECT_FALSE(in.Failed());
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
        CRefMs2 ref(path, "run");
        ASSERT_EQ(in.Count(path), ref.Total()) << round;
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
        ASSERT_EQ(in.Count(dir.Path()), static_cast<unsigned>(files));
        std::vector<CSpectrum> out;
        EXPECT_EQ(in.Browse(out, CInput::ALL), static_cast<unsigned>(files));
        for (const auto& s : out)
            for (const auto& p : s.m_vPeaks) ASSERT_TRUE(Finite(p.lfMz, p.lfIntensity));
        EXPECT_FALSE(in.Failed());
    }
}
