#include "rerank/FragmentModelTrainer.h"

#include <algorithm>
#include <cmath>

#include "rerank/PortableMath.h"

namespace {

constexpr int kF = CFragmentModel::kFeaturesPerIon;

// The fitting data: per spectrum a run of usable ions.
struct CExamples {
    std::vector<int32_t> vFeatures;  // kF weight indices per ion
    std::vector<double> vTarget;     // per ion: share of the spectrum's sqrt intensity
    std::vector<unsigned char> vKind;
    std::vector<size_t> vStart;      // per spectrum its first ion; one more entry at the end
    std::vector<double> vWeight;     // per spectrum, normalised to sum 1
};

CExamples Collect(const std::vector<CSpectrumRef>& spectra, EFragmentKind e) {
    CExamples x;
    std::vector<int32_t> features;
    std::vector<double> mz, observed;
    double total = 0.0;
    x.vStart.push_back(0);
    for (const CSpectrumRef& r : spectra) {
        const CLabelledPeptide& p = r.pSpectrum->peptide;
        const int length = static_cast<int>(p.strResidues.size());
        const int n = CFragmentModel::IonCount(length);
        if (n == 0) continue;
        features.resize(static_cast<size_t>(n * kF));
        mz.resize(static_cast<size_t>(n));
        observed.resize(static_cast<size_t>(n));
        CFragmentModelTrainer::Observe(*r.pSet, *r.pSpectrum, p, e, mz.data(), observed.data());
        CFragmentModel::Features(p.strResidues.data(), p.vDeltas.data(), length, p.lfNTermDelta, r.pSpectrum->nCharge,
                                 features.data());
        double sum = 0.0;
        for (int i = 0; i < n; ++i)
            if (features[static_cast<size_t>(i * kF)] >= 0) sum += std::sqrt(observed[static_cast<size_t>(i)]);
        if (sum <= 0.0) continue;  // nothing matched: no pattern to learn
        for (int i = 0; i < n; ++i) {
            const int32_t* f = features.data() + i * kF;
            if (f[0] < 0) continue;
            x.vFeatures.insert(x.vFeatures.end(), f, f + kF);
            x.vTarget.push_back(std::sqrt(observed[static_cast<size_t>(i)]) / sum);
            x.vKind.push_back(static_cast<unsigned char>(i % CFragmentModel::kKinds));
        }
        x.vStart.push_back(x.vTarget.size());
        x.vWeight.push_back(r.pSpectrum->lfWeight);
        total += r.pSpectrum->lfWeight;
    }
    for (double& w : x.vWeight) w /= total;
    return x;
}

// Softmax shares of one spectrum's ions under weights w; returns
// log(sum exp(score)) - (the largest score) for the loss.
double Shares(const CExamples& x, size_t spectrum, const double* w, std::vector<double>& p) {
    const size_t a = x.vStart[spectrum], b = x.vStart[spectrum + 1];
    p.resize(b - a);
    double top = -HUGE_VAL;
    for (size_t j = a; j < b; ++j) {
        const int32_t* f = x.vFeatures.data() + j * kF;
        double z = 0.0;
        for (int k = 0; k < kF; ++k) z += w[f[k]];
        p[j - a] = z;
        top = std::max(top, z);
    }
    double sum = 0.0;
    for (double& v : p) {
        v -= top;
        sum += portable::Exp(v);
    }
    const double logSum = portable::Log(sum);
    for (double& v : p) v = portable::Exp(v - logSum);
    return logSum;
}

// Loss and gradient at w.
double Objective(const CExamples& x, double ridge, const std::vector<double>& w, std::vector<double>& grad) {
    std::fill(grad.begin(), grad.end(), 0.0);
    std::vector<double> p;
    double loss = 0.0;
    for (size_t s = 0; s + 1 < x.vStart.size(); ++s) {
        Shares(x, s, w.data(), p);
        const size_t a = x.vStart[s];
        double ce = 0.0;
        for (size_t j = 0; j < p.size(); ++j) {
            const double t = x.vTarget[a + j];
            if (t > 0.0) ce -= t * portable::Log(std::max(p[j], 1e-300));
            const double g = x.vWeight[s] * (p[j] - t);
            const int32_t* f = x.vFeatures.data() + (a + j) * kF;
            for (int k = 0; k < kF; ++k) grad[static_cast<size_t>(f[k])] += g;
        }
        loss += x.vWeight[s] * ce;
    }
    for (size_t i = 0; i < w.size(); ++i) {
        loss += 0.5 * ridge * w[i] * w[i];
        grad[i] += ridge * w[i];
    }
    return loss;
}

double Dot(const std::vector<double>& a, const std::vector<double>& b) {
    double s = 0.0;
    for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
    return s;
}

// Limited-memory BFGS with a backtracking (Armijo) line search.
std::vector<double> Minimise(const CExamples& x, double ridge, int iterations) {
    constexpr size_t kMemory = 10;
    const size_t n = static_cast<size_t>(CFragmentModel::WeightCount());
    std::vector<double> w(n, 0.0), g(n), wNext(n), gNext(n), dir(n);
    std::vector<std::vector<double>> vS, vY;
    std::vector<double> vRho;
    double f = Objective(x, ridge, w, g);
    for (int it = 0; it < iterations; ++it) {
        // Two-loop recursion: dir = -H g.
        for (size_t i = 0; i < n; ++i) dir[i] = -g[i];
        std::vector<double> alpha(vS.size());
        for (size_t m = vS.size(); m-- > 0;) {
            alpha[m] = vRho[m] * Dot(vS[m], dir);
            for (size_t i = 0; i < n; ++i) dir[i] -= alpha[m] * vY[m][i];
        }
        const double gamma = vS.empty() ? 1.0 / std::max(std::sqrt(Dot(g, g)), 1e-12)
                                        : Dot(vS.back(), vY.back()) / Dot(vY.back(), vY.back());
        for (double& d : dir) d *= gamma;
        for (size_t m = 0; m < vS.size(); ++m) {
            const double beta = vRho[m] * Dot(vY[m], dir);
            for (size_t i = 0; i < n; ++i) dir[i] += (alpha[m] - beta) * vS[m][i];
        }
        const double slope = Dot(g, dir);
        if (!(slope < 0.0)) break;
        double step = 1.0, fNext = f;
        bool moved = false;
        for (int tries = 0; tries < 30; ++tries, step *= 0.5) {
            for (size_t i = 0; i < n; ++i) wNext[i] = w[i] + step * dir[i];
            fNext = Objective(x, ridge, wNext, gNext);
            if (fNext <= f + 1e-4 * step * slope) {
                moved = true;
                break;
            }
        }
        if (!moved) break;
        std::vector<double> s(n), y(n);
        for (size_t i = 0; i < n; ++i) {
            s[i] = wNext[i] - w[i];
            y[i] = gNext[i] - g[i];
        }
        const double sy = Dot(s, y);
        const double change = f - fNext;
        w.swap(wNext);
        g.swap(gNext);
        f = fNext;
        if (sy > 1e-16) {
            if (vS.size() == kMemory) {
                vS.erase(vS.begin());
                vY.erase(vY.begin());
                vRho.erase(vRho.begin());
            }
            vS.push_back(std::move(s));
            vY.push_back(std::move(y));
            vRho.push_back(1.0 / sy);
        }
        if (change <= 1e-12 * std::max(1.0, std::fabs(f))) break;
    }
    return w;
}

// Logistic regression of "has a peak" on ln(share x ions), per ion kind,
// by Newton steps on the two coefficients.
void FitDetection(const CExamples& x, const std::vector<double>& w, CFragmentModel& model) {
    double h[CFragmentModel::kKinds][3] = {}, g[CFragmentModel::kKinds][2] = {};
    std::vector<double> p;
    for (int round = 0; round < 25; ++round) {
        // A small ridge keeps the steps finite when a kind is (nearly)
        // always or never found.
        constexpr double kRidge = 1e-6;
        for (int k = 0; k < CFragmentModel::kKinds; ++k) {
            h[k][0] = h[k][2] = kRidge;
            h[k][1] = 0.0;
            g[k][0] = -kRidge * model.m_vDetection[static_cast<size_t>(2 * k)];
            g[k][1] = -kRidge * model.m_vDetection[static_cast<size_t>(2 * k + 1)];
        }
        for (size_t s = 0; s + 1 < x.vStart.size(); ++s) {
            Shares(x, s, w.data(), p);
            const size_t a = x.vStart[s];
            for (size_t j = 0; j < p.size(); ++j) {
                const int k = x.vKind[a + j];
                const double v = portable::Log(std::max(p[j] * static_cast<double>(p.size()), 1e-6));
                const double z = model.m_vDetection[static_cast<size_t>(2 * k)] +
                                 model.m_vDetection[static_cast<size_t>(2 * k + 1)] * v;
                const double q = 1.0 / (1.0 + portable::Exp(-z));
                const double r = (x.vTarget[a + j] > 0.0 ? 1.0 : 0.0) - q;
                const double ww = x.vWeight[s] * q * (1.0 - q);
                g[k][0] += x.vWeight[s] * r;
                g[k][1] += x.vWeight[s] * r * v;
                h[k][0] += ww;
                h[k][1] += ww * v;
                h[k][2] += ww * v * v;
            }
        }
        for (int k = 0; k < CFragmentModel::kKinds; ++k) {
            const double det = h[k][0] * h[k][2] - h[k][1] * h[k][1];
            if (det <= 0.0) continue;
            const double da = (h[k][2] * g[k][0] - h[k][1] * g[k][1]) / det;
            const double db = (h[k][0] * g[k][1] - h[k][1] * g[k][0]) / det;
            model.m_vDetection[static_cast<size_t>(2 * k)] += static_cast<float>(da);
            model.m_vDetection[static_cast<size_t>(2 * k + 1)] += static_cast<float>(db);
        }
    }
}

}  // namespace

double CFragmentModelTrainer::DefaultRidge(EFragmentKind e) { return e == EFragmentKind::HCD ? 0.003 : 0.01; }

int CFragmentModelTrainer::Observe(const CCorpusSet& set, const CCorpusSpectrum& s, const CLabelledPeptide& peptide,
                                   EFragmentKind e, double* mz, double* out) {
    const int length = static_cast<int>(peptide.strResidues.size());
    const int n = CFragmentModel::FragmentMz(peptide.strResidues.data(), peptide.vDeltas.data(), length,
                                             peptide.lfNTermDelta, e, mz);
    CTrainingCorpus::MatchIons(s, mz, n, set.lfFragmentTol, out);
    return n;
}

std::vector<CSpectrumRef> CFragmentModelTrainer::SpectraOf(const CTrainingCorpus& corpus,
                                                           const CFragmentFitOptions& options) {
    std::vector<CSpectrumRef> out;
    for (const CCorpusSet& set : corpus.m_vSets) {
        if (set.eFragmentation != options.eFragmentation) continue;
        if (std::find(options.vLeaveOut.begin(), options.vLeaveOut.end(), set.strName) != options.vLeaveOut.end())
            continue;
        for (const CCorpusSpectrum& s : set.vSpectra) out.push_back({&set, &s});
    }
    return out;
}

CFragmentModel CFragmentModelTrainer::Fit(const CTrainingCorpus& corpus, const CFragmentFitOptions& options) {
    return FitSpectra(SpectraOf(corpus, options), options);
}

CFragmentModel CFragmentModelTrainer::FitSpectra(const std::vector<CSpectrumRef>& spectra,
                                                 const CFragmentFitOptions& options) {
    CFragmentModel model(options.eFragmentation);
    const CExamples x = Collect(spectra, options.eFragmentation);
    if (x.vWeight.empty()) return model;
    const double ridge = options.lfRidge >= 0.0 ? options.lfRidge : DefaultRidge(options.eFragmentation);
    std::vector<double> w = Minimise(x, ridge, options.nIterations);
    // The model predicts with floats: fit the detection curves on the
    // weights it will use.
    for (size_t i = 0; i < w.size(); ++i) {
        model.m_vWeights[i] = static_cast<float>(w[i]);
        w[i] = model.m_vWeights[i];
    }
    FitDetection(x, w, model);
    return model;
}
