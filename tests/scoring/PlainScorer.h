#pragma once
// Test helper: a deliberately plain implementation of the peptide scoring
// rules (fixed-size tables, a hand-built integer-m/z index, every expression
// in the order the rules state it), to compare the scorer against bit for bit.

#include <cmath>
#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "records/Result.h"

namespace testing_plain {

constexpr double kProton = 1.00727647012;
constexpr double kWater = 18.0105647;
constexpr double kAmmonia = 17.026549105;

inline double Mass(char c) {
    switch (c) {
        case 'A': return 71.03711;
        case 'C': return 103.00919;
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

// Plain transcription of the scoring rules.
class PlainScorer {
public:
    explicit PlainScorer(const CCondition& c) : c_(c), B(100), Y(100), PE(6000) {}

    double Score(const CResult& r, const std::vector<CIonType>& ions, const CSpectrum& s) {
        BuildIndex(s);
        Compute(r, ions, s);
        return Bm25(r, s);
    }

private:
    double T(double I) const { return I * 1.02 / (I + 0.02 * (0.95 * LR + 0.050000000000000044)); }

    // Entry k: the smallest peak index whose truncated m/z is at least k.
    void BuildIndex(const CSpectrum& s) {
        idx.clear();
        if (s.m_vPeaks.empty()) return;
        long long cur = static_cast<long long>(s.m_vPeaks[0].lfMz);
        for (long long k = 0; k <= cur; ++k) idx.push_back(0);
        for (size_t j = 1; j < s.m_vPeaks.size(); ++j) {
            long long key = static_cast<long long>(s.m_vPeaks[j].lfMz);
            if (key > cur) {
                for (long long k = cur + 1; k <= key; ++k) idx.push_back(static_cast<int>(j));
                cur = key;
            }
        }
    }

    int Match(double mz, const CSpectrum& s) {
        double t = c_.CalcFragmentMassDeviation(mz);
        double lo = mz - t;
        double hi = mz + t;
        long long bucket = static_cast<long long>(lo);
        if (static_cast<unsigned long long>(bucket) >= idx.size()) return 2147483647;
        size_t i = static_cast<size_t>(idx[static_cast<size_t>(bucket)]);
        const std::vector<CPeak>& p = s.m_vPeaks;
        while (i < p.size() && p[i].lfMz < lo) i++;
        if (i == p.size() || p[i].lfMz > hi) return 2147483647;
        int best = 2147483647;
        for (; i < p.size() && p[i].lfMz <= hi; i++) {
            if (p[i].lfIntensity > 0 && (best == 2147483647 || p[i].lfIntensity > p[best].lfIntensity))
                best = static_cast<int>(i);
        }
        return best;
    }

    bool FindAndMatch(double mz, const CResult& r, const CSpectrum& s, unsigned int site, bool prefix) {
        int j = Match(mz, s);
        if (j == 2147483647) return false;
        double ppm = std::fabs(s.m_vPeaks[j].lfMz - mz) / mz * 1000000;
        double e, f;
        if (ppm > 20) {
            e = 2.6794896585028633e-8;
            f = 37320539.63435483;
        } else if (ppm < 1) {
            e = 0.9969173338382431;
            f = 1.0030921983770593;
        } else {
            e = std::cos(ppm / 20 * 3.1415926 * 0.5);
            f = 1 / e;
        }
        if (f < PE[j]) PE[j] = f;
        if (site == static_cast<unsigned int>(-1)) return true;
        int len = static_cast<int>(r.strPeptide.size());
        if (prefix)
            B[site] += e * T(s.m_vPeaks[j].lfIntensity);
        else
            Y[len - 2 - site] += e * T(s.m_vPeaks[j].lfIntensity);
        return true;
    }

    void Compute(const CResult& r, const std::vector<CIonType>& ions, const CSpectrum& s) {
        const std::string& q = r.strPeptide;
        int len = static_cast<int>(q.size());
        std::vector<double> A(len), Pre(len), Suf(len);
        for (int k = 0; k < len; ++k) A[k] = Mass(q[k]);
        if (std::fabs(r.lfNTermShift) > 0.1) A[0] += r.lfNTermShift;
        if (std::fabs(r.lfCTermShift) > 0.1) A[len - 1] += r.lfCTermShift;
        for (int k = 0; k < len; ++k) Pre[k] = (k == 0 ? 0.0 : Pre[k - 1]) + A[k];
        for (int k = 0; k < len; ++k) Suf[k] = (k == 0 ? 0.0 : Suf[k - 1]) + A[len - 1 - k];
        for (int k = 0; k < 100; ++k) B[k] = Y[k] = 0;
        for (size_t k = 0; k < s.m_vPeaks.size(); ++k) PE[k] = 10000.0;
        LR = (double)(len * len) / ((s.m_lfPrecursorMH / 110) * (s.m_lfPrecursorMH / 110));
        for (const CIonType& ion : ions) {
            int z = ion.nNumber;
            if (z > s.m_nCharge || len <= 1) continue;
            for (int l = 1; l <= len - 1; ++l) {
                double mass = ion.bFlag1 ? Pre[l - 1] : Suf[l - 1];
                double mz = (mass + z * 1.00727647012 + ion.lfValue) / z;
                bool matched = FindAndMatch(mz, r, s, l - 1, ion.bFlag1);
                if (matched) {
                    if (ion.strName[0] == 'b' && z == 1) FindAndMatch(mz - 27.99491463, r, s, -1, true);
                    FindAndMatch(mz - 17.026549105 / z, r, s, -1, true);
                    FindAndMatch(mz - 18.0105647 / z, r, s, -1, true);
                }
                if (ion.strName[0] == 'b' && q[l] == 'Q') FindAndMatch(mz + 17.026549105 / z, r, s, -1, true);
            }
        }
        if (s.m_strActivation == "HCD") {
            for (int st = 0; st <= len - 2; ++st) {
                for (int e = st + 1; e <= len - 1; ++e) {
                    if (e == len - 1 && st < len - 2) continue;
                    double mz = Pre[e] - Pre[st] + 1.00727647012;
                    if (FindAndMatch(mz, r, s, -1, true)) FindAndMatch(mz - 12 - 15.99491463, r, s, -1, true);
                }
            }
        }
    }

    double Bm25(const CResult& r, const CSpectrum& s) {
        size_t n = s.m_vPeaks.size();
        double S1 = 0, sum = 0;
        for (size_t i = 0; i < n; ++i) {
            if (PE[i] != 10000.0) S1 += T(s.m_vPeaks[i].lfIntensity) / PE[i];
        }
        for (size_t i = 0; i < n; ++i) sum += s.m_vPeaks[i].lfIntensity;
        double mean = sum / n;
        char term = c_.m_strEnzymeTerm == "N" ? r.strPeptide[0] : r.strPeptide[r.strPeptide.size() - 1];
        double S2 = c_.m_strEnzymeSites.find(term) != std::string::npos ? T(mean) : 0;
        double S3 = 0;
        for (int i = 1; i <= 95; ++i) {
            bool okB = true, okY = true;
            for (int k = i - 1; k <= i + 4; ++k) {
                if (!(B[k] >= 0.01)) okB = false;
                if (!(Y[k] >= 0.01)) okY = false;
            }
            if (okB) S3 += (B[i - 1] + B[i] + B[i + 1] + B[i + 2] + B[i + 3] + B[i + 4]) / 6;
            if (okY) S3 += (Y[i - 1] + Y[i] + Y[i + 1] + Y[i + 2] + Y[i + 3] + Y[i + 4]) / 6;
        }
        return S1 + S2 + S3;
    }

    const CCondition& c_;
    std::vector<double> B, Y, PE;
    std::vector<int> idx;
    double LR = 0;
};

}  // namespace testing_plain
