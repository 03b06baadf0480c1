#include "rerank/FragmentValidation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "conditions/Condition.h"
#include "rerank/IntensityAgreement.h"

namespace {

constexpr int kShuffledDecoys = 3;
constexpr int kSwappedDecoys = 2;
constexpr int kFolds = 5;

// splitmix64: the same sequence on every platform (the standard library's
// distributions are not specified bit for bit).
struct CRandom {
    uint64_t u;
    uint64_t Next() {
        uint64_t z = (u += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
};

uint64_t Hash(const std::string& text) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
    return h;
}

double ResidueMass(const CLabelledPeptide& p, size_t i) {
    const char c = p.strResidues[i] == 'I' ? 'L' : p.strResidues[i];
    return CCondition::BuiltInMass(c) + p.vDeltas[i];
}

// True when both peptides have the same residue masses in the same order
// (such a decoy is the truth again).
bool SameMasses(const CLabelledPeptide& a, const CLabelledPeptide& b) {
    for (size_t i = 0; i < a.strResidues.size(); ++i)
        if (std::fabs(ResidueMass(a, i) - ResidueMass(b, i)) > 1e-6) return false;
    return true;
}

void Swap(CLabelledPeptide& p, size_t i, size_t j) {
    std::swap(p.strResidues[i], p.strResidues[j]);
    std::swap(p.vDeltas[i], p.vDeltas[j]);
}

// The decoys of one truth: shuffled ones first, then swapped ones; kinds
// tells which is which (0 shuffled, 1 swapped).
void MakeDecoys(const CCorpusSpectrum& s, std::vector<CLabelledPeptide>& decoys, std::vector<int>& kinds) {
    decoys.clear();
    kinds.clear();
    const CLabelledPeptide& truth = s.peptide;
    const size_t L = truth.strResidues.size();
    if (L < 4) return;
    CRandom rng{Hash(s.strTitle)};
    for (int d = 0; d < kShuffledDecoys; ++d)
        for (int attempt = 0; attempt < 10; ++attempt) {
            CLabelledPeptide p = truth;
            for (size_t i = L - 2; i > 1; --i) Swap(p, i, 1 + rng.Below(i));
            if (SameMasses(p, truth)) continue;
            decoys.push_back(std::move(p));
            kinds.push_back(0);
            break;
        }
    std::vector<size_t> sites;  // j such that swapping j and j + 1 (both interior) changes a mass
    for (size_t j = 1; j + 2 < L; ++j)
        if (std::fabs(ResidueMass(truth, j) - ResidueMass(truth, j + 1)) > 1e-6) sites.push_back(j);
    for (int d = 0; d < kSwappedDecoys && !sites.empty(); ++d) {
        const size_t pick = rng.Below(sites.size());
        CLabelledPeptide p = truth;
        Swap(p, sites[pick], sites[pick] + 1);
        sites.erase(sites.begin() + static_cast<std::ptrdiff_t>(pick));
        decoys.push_back(std::move(p));
        kinds.push_back(1);
    }
}

// Agreement of a peptide with a spectrum under the model and the flat
// prediction. Scratch vectors are sized by the caller.
struct CScratch {
    std::vector<double> vMz, vObserved;
    std::vector<float> vPredicted, vFlat;
};

void Agree(const CFragmentModel& model, const CFragmentModel& flat, const CSpectrumRef& r, const CLabelledPeptide& p,
           CScratch& x, CIntensityAgreement& withModel, CIntensityAgreement& withFlat) {
    const int length = static_cast<int>(p.strResidues.size());
    const int n = CFragmentModel::IonCount(length);
    x.vMz.resize(static_cast<size_t>(n));
    x.vObserved.resize(static_cast<size_t>(n));
    x.vPredicted.resize(static_cast<size_t>(n));
    x.vFlat.resize(static_cast<size_t>(n));
    CFragmentModelTrainer::Observe(*r.pSet, *r.pSpectrum, p, model.Fragmentation(), x.vMz.data(), x.vObserved.data());
    const int z = r.pSpectrum->nCharge;
    model.Predict(p.strResidues.data(), p.vDeltas.data(), length, p.lfNTermDelta, z, x.vPredicted.data());
    flat.Predict(p.strResidues.data(), p.vDeltas.data(), length, p.lfNTermDelta, z, x.vFlat.data());
    withModel = CIntensityAgreement::Of(x.vPredicted.data(), x.vObserved.data(), n);
    withFlat = CIntensityAgreement::Of(x.vFlat.data(), x.vObserved.data(), n);
}

// Mean log-loss of the detection probabilities of the slots that can carry
// intensity (the shares of the last Agree call).
double DetectionLoss(const CFragmentModel& model, const std::vector<float>& shares, const CScratch& x) {
    int ions = 0;
    for (float v : shares) ions += v > 0.0f;
    double loss = 0.0;
    for (size_t i = 0; i < shares.size(); ++i) {
        if (shares[i] <= 0.0f) continue;
        const double q = std::clamp<double>(model.Detection(static_cast<int>(i % CFragmentModel::kKinds), shares[i], ions),
                                            1e-6, 1.0 - 1e-6);
        loss -= std::log(x.vObserved[i] > 0.0 ? q : 1.0 - q);
    }
    return ions ? loss / ions : 0.0;
}

double Win(double truth, double decoy) { return truth > decoy ? 1.0 : truth == decoy ? 0.5 : 0.0; }

// A measure oriented so that higher is better.
double Oriented(const CIntensityAgreement& a, int m) {
    switch (m) {
        case kAgreeCosine: return a.lfCosine;
        case kAgreeMissed: return -a.lfMissedShare;
        default: return a.lfCosine * (1.0 - a.lfMissedShare);
    }
}

}  // namespace

double CSetAgreement::Median(double CSpectrumAgreement::*member) const {
    if (vSpectra.empty()) return 0.0;
    std::vector<double> v;
    for (const CSpectrumAgreement& a : vSpectra) v.push_back(a.*member);
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double CSetAgreement::WinRate(int decoyKind, int measure, bool flat) const {
    double w = 0.0;
    long n = 0;
    for (const CSpectrumAgreement& a : vSpectra) {
        w += a.lfWins[decoyKind][measure][flat ? 1 : 0];
        n += a.nDecoys[decoyKind];
    }
    return n ? w / static_cast<double>(n) : 0.0;
}

CSetAgreement CSetAgreement::Pool(const std::vector<CSetAgreement>& sets, const std::string& name) {
    CSetAgreement all;
    all.strSet = name;
    for (const CSetAgreement& s : sets) all.vSpectra.insert(all.vSpectra.end(), s.vSpectra.begin(), s.vSpectra.end());
    return all;
}

std::vector<CSpectrumAgreement> CFragmentValidation::Measure(const CFragmentModel& model, const CFragmentModel& flat,
                                                             const std::vector<CSpectrumRef>& spectra) {
    std::vector<CSpectrumAgreement> out;
    CScratch x;
    std::vector<CLabelledPeptide> decoys;
    std::vector<int> kinds;
    for (const CSpectrumRef& r : spectra) {
        CSpectrumAgreement a;
        CIntensityAgreement truth, truthFlat, decoy, decoyFlat;
        Agree(model, flat, r, r.pSpectrum->peptide, x, truth, truthFlat);
        a.lfCosine = truth.lfCosine;
        a.lfCosineFlat = truthFlat.lfCosine;
        a.lfPearson = truth.lfPearson;
        a.lfMissed = truth.lfMissedShare;
        a.lfMissedFlat = truthFlat.lfMissedShare;
        a.lfDetectionLoss = DetectionLoss(model, x.vPredicted, x);
        a.lfDetectionLossFlat = DetectionLoss(flat, x.vFlat, x);
        MakeDecoys(*r.pSpectrum, decoys, kinds);
        for (size_t d = 0; d < decoys.size(); ++d) {
            Agree(model, flat, r, decoys[d], x, decoy, decoyFlat);
            const int k = kinds[d];
            ++a.nDecoys[k];
            for (int m = 0; m < kAgreements; ++m) {
                a.lfWins[k][m][0] += Win(Oriented(truth, m), Oriented(decoy, m));
                a.lfWins[k][m][1] += Win(Oriented(truthFlat, m), Oriented(decoyFlat, m));
            }
        }
        out.push_back(a);
    }
    return out;
}

CSetAgreement CFragmentValidation::MeasureSet(const CFragmentModel& model, const CFragmentModel& flat,
                                              const CCorpusSet& set) {
    std::vector<CSpectrumRef> refs;
    for (const CCorpusSpectrum& s : set.vSpectra) refs.push_back({&set, &s});
    CSetAgreement out;
    out.strSet = set.strName;
    out.vSpectra = Measure(model, flat, refs);
    return out;
}

std::vector<CSetAgreement> CFragmentValidation::LeaveOneSetOut(const CTrainingCorpus& corpus,
                                                               const CFragmentFitOptions& options) {
    std::vector<const CCorpusSet*> sets;
    for (const CCorpusSet& s : corpus.m_vSets)
        if (s.eFragmentation == options.eFragmentation) sets.push_back(&s);
    CFragmentFitOptions flatOptions = options;
    flatOptions.nIterations = 0;
    std::vector<CSetAgreement> out;
    if (sets.size() == 1) {
        const CCorpusSet& set = *sets[0];
        CSetAgreement a;
        a.strSet = set.strName + " (" + std::to_string(kFolds) + " folds)";
        for (int fold = 0; fold < kFolds; ++fold) {
            std::vector<CSpectrumRef> train, test;
            for (const CCorpusSpectrum& s : set.vSpectra)
                (Hash(s.peptide.strResidues) % kFolds == static_cast<uint64_t>(fold) ? test : train).push_back({&set, &s});
            if (test.empty()) continue;
            const std::vector<CSpectrumAgreement> m = Measure(CFragmentModelTrainer::FitSpectra(train, options),
                                                              CFragmentModelTrainer::FitSpectra(train, flatOptions), test);
            a.vSpectra.insert(a.vSpectra.end(), m.begin(), m.end());
        }
        out.push_back(std::move(a));
        return out;
    }
    for (const CCorpusSet* held : sets) {
        CFragmentFitOptions fit = options;
        fit.vLeaveOut = {held->strName};
        const std::vector<CSpectrumRef> train = CFragmentModelTrainer::SpectraOf(corpus, fit);
        flatOptions.vLeaveOut = fit.vLeaveOut;
        out.push_back(MeasureSet(CFragmentModelTrainer::FitSpectra(train, fit),
                                 CFragmentModelTrainer::FitSpectra(train, flatOptions), *held));
    }
    return out;
}
