// gen_spectra: makes MGF spectra with known answers from peptide sequences.
//
// For every peptide it writes one HCD spectrum (b and y ions) and one ETD
// spectrum (c, z-dot and z+1 ions) of the same precursor, with isotope peaks,
// about as many noise peaks as signal peaks, roughly 30 % of the fragment
// ions missing, a few ppm of m/z error and raw intensities between 1e3 and
// 1e7. It also writes an answer file that pairs the HCD and the ETD title of
// each peptide, so one file serves HCD-only, ETD-only and paired runs.
//
// The output is the same on every machine and library: the random numbers
// come from our own splitmix64 generator and all arithmetic is + - * / on
// doubles (no std:: distributions, no exp/log), printed with printf.
//
// Usage: gen_spectra [--peptides FILE | --count N] [--seed S] [--hcd NAME] [--etd NAME]
//                    [--answers FILE] OUT_DIR
// Writes OUT_DIR/NAME.mgf for the HCD and for the ETD set (titles NAME.001,
// NAME.002, ...; default names hcd_example and etd_example) and the answer
// file OUT_DIR/FILE (default answers.txt); with --count (random tryptic
// peptides instead of a peptide list) also OUT_DIR/peptides.txt.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr double kProton = 1.00727647012;
constexpr double kWater = 18.0105647;
constexpr double kIsotope = 1.00335;
// Fragment ion offsets from a prefix residue mass P or from MH+ - P, as the
// spectrum graph reads them back.
constexpr double kCOffset = 18.033825575119998;      // c = P + NH3 + H+
constexpr double kZDotOffset = 16.01762694024;       // z-dot = MH+ - P - 16.0176...
constexpr double kZPlusOneOffset = 15.010899035;     // z+1 = MH+ - P - 15.0109...
constexpr double kMissingIon = 0.3;                  // share of fragment ions left out

// Monoisotopic residue masses in Da; C carries carbamidomethyl. I is not
// used (it has the mass of L and is written as L).
double ResidueMass(char c) {
    switch (c) {
        case 'A': return 71.03711;
        case 'C': return 160.03065;
        case 'D': return 115.02694;
        case 'E': return 129.04259;
        case 'F': return 147.06841;
        case 'G': return 57.02146;
        case 'H': return 137.05891;
        case 'K': return 128.09496;
        case 'L': return 113.08406;
        case 'M': return 131.04049;
        case 'N': return 114.04293;
        case 'P': return 97.05276;
        case 'Q': return 128.05858;
        case 'R': return 156.10111;
        case 'S': return 87.03203;
        case 'T': return 101.04768;
        case 'V': return 99.06841;
        case 'W': return 186.07931;
        case 'Y': return 163.06333;
        default: return 0.0;
    }
}

// The splitmix64 output function: spreads neighbouring seeds far apart.
uint64_t Mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// splitmix64: a tiny generator whose output is fixed by its definition.
class CRandom {
public:
    explicit CRandom(uint64_t seed) : m_nState(seed) {}
    uint64_t Next() {
        return Mix64(m_nState += 0x9E3779B97F4A7C15ULL);
    }
    // Uniform in [0, 1), exactly 53 random bits.
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform integer in [0, n).
    unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
    bool Chance(double p) { return Uniform() < p; }
    // m/z error factor: triangular between -5 and +5 ppm.
    double PpmError(double ppm) { return 1.0 + (Uniform() + Uniform() - 1.0) * ppm * 1e-6; }
    // Intensity mant * 10^e with mant in [1, 10) and e in [lowExp, highExp].
    double Intensity(int lowExp, int highExp) {
        static const double kPow10[] = {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
        const int e = lowExp + static_cast<int>(Below(static_cast<unsigned>(highExp - lowExp + 1)));
        return (1.0 + 9.0 * Uniform()) * kPow10[e];
    }

private:
    uint64_t m_nState;
};

struct CGenPeak {
    double lfMz;
    double lfIntensity;
};

bool PeakLess(const CGenPeak& a, const CGenPeak& b) {
    // Full key so that the printed order never depends on the sort algorithm.
    if (a.lfMz != b.lfMz) return a.lfMz < b.lfMz;
    return a.lfIntensity < b.lfIntensity;
}

struct CPrecursor {
    double lfMH;       // theoretical [M+H]+, Da
    double lfMz;       // observed precursor m/z at nCharge
    int nCharge;
};

// Adds one fragment ion (singly charged mass m1) at charge z with its isotope
// peak; returns the number of peaks added.
int AddIon(std::vector<CGenPeak>& peaks, CRandom& rng, double m1, int z, double intensity) {
    const double mz = (m1 + (z - 1) * kProton) / z;
    peaks.push_back({mz * rng.PpmError(5.0), intensity});
    if (rng.Chance(0.8)) {
        const double iso = mz + kIsotope / z;
        peaks.push_back({iso * rng.PpmError(5.0), intensity * (0.2 + 0.6 * rng.Uniform())});
        return 2;
    }
    return 1;
}

// One fragment ion series entry: singly charged mass and relative strength.
void AddSeriesIon(std::vector<CGenPeak>& peaks, CRandom& rng, int& signal, double m1, int precursorCharge,
                  int lowExp, int highExp) {
    if (rng.Chance(kMissingIon)) return;
    signal += AddIon(peaks, rng, m1, 1, rng.Intensity(lowExp, highExp));
    // Precursors of charge 3 and more also give doubly charged fragments of
    // the larger ions.
    if (precursorCharge >= 3 && m1 > 400.0 && rng.Chance(0.5))
        signal += AddIon(peaks, rng, m1, 2, rng.Intensity(lowExp, highExp));
}

void AddNoise(std::vector<CGenPeak>& peaks, CRandom& rng, int signal, double maxMz) {
    // About as many noise peaks as signal peaks (between 0.75x and 1.25x).
    const int n = signal * 3 / 4 + static_cast<int>(rng.Below(static_cast<unsigned>(signal / 2 + 1)));
    for (int k = 0; k < n; ++k) peaks.push_back({50.0 + (maxMz - 50.0) * rng.Uniform(), rng.Intensity(3, 4)});
}

std::vector<CGenPeak> MakeHCD(const std::string& pep, const CPrecursor& pre, CRandom& rng) {
    std::vector<CGenPeak> peaks;
    int signal = 0;
    double prefix = 0.0;
    for (size_t k = 0; k + 1 < pep.size(); ++k) {
        prefix += ResidueMass(pep[k]);
        AddSeriesIon(peaks, rng, signal, prefix + kProton, pre.nCharge, 4, 6);      // b
        AddSeriesIon(peaks, rng, signal, pre.lfMH - prefix, pre.nCharge, 4, 6);     // y
    }
    AddNoise(peaks, rng, signal, pre.lfMH);
    std::sort(peaks.begin(), peaks.end(), PeakLess);
    return peaks;
}

std::vector<CGenPeak> MakeETD(const std::string& pep, const CPrecursor& pre, CRandom& rng) {
    std::vector<CGenPeak> peaks;
    int signal = 0;
    double prefix = 0.0;
    for (size_t k = 0; k + 1 < pep.size(); ++k) {
        prefix += ResidueMass(pep[k]);
        // The N-C(alpha) bond in front of proline is held by its ring: no c/z pair.
        if (pep[k + 1] == 'P') continue;
        AddSeriesIon(peaks, rng, signal, prefix + kCOffset, pre.nCharge, 4, 6);             // c
        AddSeriesIon(peaks, rng, signal, pre.lfMH - prefix - kZDotOffset, pre.nCharge, 4, 6);  // z-dot
        if (rng.Chance(0.5))
            AddSeriesIon(peaks, rng, signal, pre.lfMH - prefix - kZPlusOneOffset, pre.nCharge, 4, 5);  // z+1
    }
    AddNoise(peaks, rng, signal, pre.lfMH);
    std::sort(peaks.begin(), peaks.end(), PeakLess);
    return peaks;
}

void WriteSpectrum(FILE* fp, const std::string& title, const CPrecursor& pre, size_t scan,
                   const std::vector<CGenPeak>& peaks) {
    std::fprintf(fp, "BEGIN IONS\nTITLE=%s\nPEPMASS=%.6f\nCHARGE=%d+\nSCANS=%zu\n", title.c_str(), pre.lfMz,
                 pre.nCharge, scan);
    for (const CGenPeak& p : peaks) std::fprintf(fp, "%.5f %.1f\n", p.lfMz, p.lfIntensity);
    std::fprintf(fp, "END IONS\n");
}

// Random tryptic peptide: 7-15 residues, no K/R inside, ending in K or R.
std::string RandomPeptide(CRandom& rng) {
    static const char kInner[] = "ACDEFGHLMNPQSTVWY";
    const unsigned len = 7 + rng.Below(9);
    std::string pep;
    for (unsigned k = 0; k + 1 < len; ++k) pep += kInner[rng.Below(sizeof(kInner) - 1)];
    pep += rng.Chance(0.5) ? 'K' : 'R';
    return pep;
}

bool ReadPeptides(const char* path, std::vector<std::string>& out) {
    FILE* fp = std::fopen(path, "r");
    if (!fp) {
        std::fprintf(stderr, "gen_spectra: cannot open %s: %s\n", path, std::strerror(errno));
        return false;
    }
    char line[1024];
    int lineNo = 0;
    bool ok = true;
    while (std::fgets(line, sizeof(line), fp)) {
        ++lineNo;
        std::string pep;
        for (const char* p = line; *p; ++p)
            if (*p != '\r' && *p != '\n' && *p != ' ' && *p != '\t') pep += *p;
        if (pep.empty() || pep[0] == '#') continue;
        bool valid = pep.size() >= 2;
        for (char c : pep) valid = valid && ResidueMass(c) > 0.0;
        if (!valid) {
            std::fprintf(stderr, "gen_spectra: %s:%d: not a peptide of the residues ACDEFGHKLMNPQRSTVWY: %s\n",
                         path, lineNo, pep.c_str());
            ok = false;
            continue;
        }
        out.push_back(pep);
    }
    std::fclose(fp);
    if (ok && out.empty()) {
        std::fprintf(stderr, "gen_spectra: %s holds no peptide\n", path);
        ok = false;
    }
    return ok;
}

FILE* OpenOut(const std::string& path) {
    FILE* fp = std::fopen(path.c_str(), "w");
    if (!fp) std::fprintf(stderr, "gen_spectra: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return fp;
}

bool CloseOut(FILE* fp, const std::string& path) {
    const bool ok = !std::ferror(fp);
    if (std::fclose(fp) != 0 || !ok) {
        std::fprintf(stderr, "gen_spectra: write error on %s\n", path.c_str());
        return false;
    }
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: gen_spectra [--peptides FILE | --count N] [--seed S] [--hcd NAME] [--etd NAME]\n"
                 "                   [--answers FILE] OUT_DIR\n"
                 "  writes OUT_DIR/NAME.mgf for the HCD and the ETD set (defaults hcd_example and\n"
                 "  etd_example) and the answer file OUT_DIR/FILE (default answers.txt);\n"
                 "  --count N makes N random tryptic peptides and also writes OUT_DIR/peptides.txt\n");
    return 2;
}

bool ParseUnsigned(const char* s, unsigned long long& out) {
    if (!*s || *s == '-') return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(s, &end, 10);
    return errno == 0 && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    const char* peptidePath = nullptr;
    unsigned long long count = 0;
    unsigned long long seed = 20240601;
    std::string hcdName = "hcd_example";
    std::string etdName = "etd_example";
    std::string ansName = "answers.txt";
    std::string outDir;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--peptides" && hasValue) {
            peptidePath = argv[++i];
        } else if (a == "--count" && hasValue) {
            if (!ParseUnsigned(argv[++i], count) || count == 0 || count > 10000000) return Usage();
        } else if (a == "--seed" && hasValue) {
            if (!ParseUnsigned(argv[++i], seed)) return Usage();
        } else if (a == "--hcd" && hasValue) {
            hcdName = argv[++i];
        } else if (a == "--etd" && hasValue) {
            etdName = argv[++i];
        } else if (a == "--answers" && hasValue) {
            ansName = argv[++i];
        } else if (!a.empty() && a[0] != '-' && outDir.empty()) {
            outDir = a;
        } else {
            return Usage();
        }
    }
    if (outDir.empty() || (peptidePath == nullptr) == (count == 0) || hcdName.empty() || etdName.empty() ||
        ansName.empty() || hcdName == etdName)
        return Usage();
    if (outDir.back() != '/') outDir += '/';
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::fprintf(stderr, "gen_spectra: cannot make the folder %s: %s\n", outDir.c_str(), ec.message().c_str());
        return 1;
    }

    std::vector<std::string> peptides;
    if (peptidePath) {
        if (!ReadPeptides(peptidePath, peptides)) return 1;
    } else {
        CRandom rng(Mix64(seed ^ 0x5045505449444553ULL));
        peptides.reserve(count);
        for (unsigned long long k = 0; k < count; ++k) peptides.push_back(RandomPeptide(rng));
    }

    // Zero-padded numbers: titles then sort by byte order in input order, so
    // the k-th HCD and the k-th ETD title meet when a paired run sorts them.
    int width = 3;
    for (size_t n = peptides.size(); n >= 1000; n /= 10) ++width;

    const std::string hcdPath = outDir + hcdName + ".mgf";
    const std::string etdPath = outDir + etdName + ".mgf";
    const std::string ansPath = outDir + ansName;
    FILE* hcd = OpenOut(hcdPath);
    FILE* etd = hcd ? OpenOut(etdPath) : nullptr;
    FILE* ans = etd ? OpenOut(ansPath) : nullptr;
    if (!ans) {
        if (hcd) std::fclose(hcd);
        if (etd) std::fclose(etd);
        return 1;
    }

    for (size_t k = 0; k < peptides.size(); ++k) {
        const std::string& pep = peptides[k];
        // Every peptide has its own stream (hashed from the seed and its
        // number), so its spectra do not depend on the peptides before it.
        CRandom pepRng(Mix64(seed ^ Mix64(k + 1)));
        double residues = 0.0;
        for (char c : pep) residues += ResidueMass(c);
        CPrecursor pre;
        pre.lfMH = residues + kWater + kProton;
        pre.nCharge = (pep.size() >= 12 || (pep.size() >= 10 && pepRng.Chance(0.3))) ? 3 : 2;
        pre.lfMz = (pre.lfMH + (pre.nCharge - 1) * kProton) / pre.nCharge * (1.0 + (pepRng.Uniform() - 0.5) * 4e-6);

        std::string number = std::to_string(k + 1);
        if (number.size() < static_cast<size_t>(width)) number.insert(0, width - number.size(), '0');
        const std::string hcdTitle = hcdName + "." + number;
        const std::string etdTitle = etdName + "." + number;

        CRandom hcdRng(pepRng.Next());
        CRandom etdRng(pepRng.Next());
        WriteSpectrum(hcd, hcdTitle, pre, k + 1, MakeHCD(pep, pre, hcdRng));
        WriteSpectrum(etd, etdTitle, pre, k + 1, MakeETD(pep, pre, etdRng));

        // Answer-file pair: number, title, MH+, charge, scan, source, peptide,
        // activation, 0, verdict.
        std::fprintf(ans, "%zu\t%s\t%.5f\t%d\t%zu\tgen\t%s\thcd\t0\tYES\n", k + 1, hcdTitle.c_str(), pre.lfMH,
                     pre.nCharge, k + 1, pep.c_str());
        std::fprintf(ans, "%zu\t%s\t%.5f\t%d\t%zu\tgen\t%s\tetd\t0\tYES\n", k + 1, etdTitle.c_str(), pre.lfMH,
                     pre.nCharge, k + 1, pep.c_str());
    }
    bool ok = CloseOut(hcd, hcdPath);
    ok = CloseOut(etd, etdPath) && ok;
    ok = CloseOut(ans, ansPath) && ok;

    if (!peptidePath) {
        const std::string pepOut = outDir + "peptides.txt";
        FILE* fp = OpenOut(pepOut);
        if (!fp) return 1;
        for (const std::string& p : peptides) std::fprintf(fp, "%s\n", p.c_str());
        ok = CloseOut(fp, pepOut) && ok;
    }
    return ok ? 0 : 1;
}
