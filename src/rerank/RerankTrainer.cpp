#include "rerank/RerankTrainer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "rerank/Features.h"

namespace {

constexpr size_t kN = CFeatures::kCount;
constexpr int kNewtonSteps = 40;
constexpr double kRidge = 1e-3;
// Ridge of the full fit around the score-only fit (standardised features).
// Measured on the development sets, leave one set out: 0.001 gave 202
// of 628 first, 0.3 gave 206 and kept the simulated HCD set within one
// peptide; larger values give the features too little say.
constexpr double kCentredRidge = 0.3;
constexpr double kMarginCap = 10.0;  // as the engine's calibration inputs

// Solves a x = b (n x n, row-major) by elimination with partial pivoting;
// false when singular.
bool Solve(std::vector<double> a, std::vector<double> b, size_t n, std::vector<double>& x) {
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r * n + col]) > std::fabs(a[pivot * n + col])) pivot = r;
        if (!(std::fabs(a[pivot * n + col]) > 1e-300)) return false;
        if (pivot != col) {
            for (size_t k = 0; k < n; ++k) std::swap(a[col * n + k], a[pivot * n + k]);
            std::swap(b[col], b[pivot]);
        }
        for (size_t r = col + 1; r < n; ++r) {
            const double f = a[r * n + col] / a[col * n + col];
            for (size_t k = col; k < n; ++k) a[r * n + k] -= f * a[col * n + k];
            b[r] -= f * b[col];
        }
    }
    x.assign(n, 0.0);
    for (size_t r = n; r-- > 0;) {
        double s = b[r];
        for (size_t k = r + 1; k < n; ++k) s -= a[r * n + k] * x[k];
        x[r] = s / a[r * n + r];
    }
    return true;
}

// Minimises a smooth convex loss by Newton steps with step halving. eval
// returns the loss and, when asked, fills gradient and Hessian.
template <class Eval>
std::vector<double> Newton(size_t n, Eval eval) {
    std::vector<double> w(n, 0.0), g, h, d, trial;
    for (int step = 0; step < kNewtonSteps; ++step) {
        const double loss = eval(w, &g, &h);
        if (!Solve(h, g, n, d)) break;
        double t = 1.0;
        for (int halving = 0; halving < 30; ++halving, t *= 0.5) {
            trial = w;
            for (size_t k = 0; k < n; ++k) trial[k] -= t * d[k];
            if (eval(trial, nullptr, nullptr) <= loss) break;
        }
        w = trial;
    }
    return w;
}

}  // namespace

CRerankModel CRerankTrainer::Fit() const {
    // Standardised features: the Newton steps see comparable scales.
    std::vector<double> mean(kN, 0.0), sd(kN, 0.0);
    const size_t rows = m_vRows.size() / kN;
    for (size_t i = 0; i < rows; ++i)
        for (size_t k = 0; k < kN; ++k) mean[k] += m_vRows[i * kN + k];
    for (size_t k = 0; k < kN; ++k) mean[k] = rows ? mean[k] / static_cast<double>(rows) : 0.0;
    for (size_t i = 0; i < rows; ++i)
        for (size_t k = 0; k < kN; ++k) sd[k] += (m_vRows[i * kN + k] - mean[k]) * (m_vRows[i * kN + k] - mean[k]);
    for (size_t k = 0; k < kN; ++k) {
        sd[k] = rows ? std::sqrt(sd[k] / static_cast<double>(rows)) : 0.0;
        if (!(sd[k] > 1e-12)) sd[k] = 1.0;
    }
    auto z = [&](size_t row, size_t k) { return (m_vRows[row * kN + k] - mean[k]) / sd[k]; };

    size_t positives = 0;
    for (const CLabelledList& l : m_vLists) positives += l.nPositive >= 0;
    std::vector<double> s, x(kN), ex(kN);
    // Ridge per feature, around a centre.
    std::vector<double> ridge(kN, kRidge), centre(kN, 0.0);
    auto softmax = [&](const std::vector<double>& w, std::vector<double>* g, std::vector<double>* h) {
        double loss = 0.0;
        if (g) g->assign(kN, 0.0);
        if (h) h->assign(kN * kN, 0.0);
        std::vector<double> exx(kN * kN);
        for (const CLabelledList& l : m_vLists) {
            if (l.nPositive < 0) continue;
            s.resize(l.nCount);
            double top = -HUGE_VAL;
            for (size_t j = 0; j < l.nCount; ++j) {
                double v = 0.0;
                for (size_t k = 0; k < kN; ++k) v += w[k] * z(l.nFirst + j, k);
                s[j] = v;
                top = std::max(top, v);
            }
            double sum = 0.0;
            for (size_t j = 0; j < l.nCount; ++j) sum += std::exp(s[j] - top);
            loss += top + std::log(sum) - s[static_cast<size_t>(l.nPositive)];
            if (!g) continue;
            std::fill(ex.begin(), ex.end(), 0.0);
            std::fill(exx.begin(), exx.end(), 0.0);
            for (size_t j = 0; j < l.nCount; ++j) {
                const double p = std::exp(s[j] - top) / sum;
                for (size_t k = 0; k < kN; ++k) x[k] = z(l.nFirst + j, k);
                for (size_t a = 0; a < kN; ++a) {
                    ex[a] += p * x[a];
                    for (size_t b = 0; b < kN; ++b) exx[a * kN + b] += p * x[a] * x[b];
                }
            }
            for (size_t a = 0; a < kN; ++a) {
                (*g)[a] += ex[a] - z(l.nFirst + static_cast<size_t>(l.nPositive), a);
                for (size_t b = 0; b < kN; ++b) (*h)[a * kN + b] += exx[a * kN + b] - ex[a] * ex[b];
            }
        }
        const double n = positives ? static_cast<double>(positives) : 1.0;
        loss /= n;
        for (size_t k = 0; k < kN; ++k) loss += 0.5 * ridge[k] * (w[k] - centre[k]) * (w[k] - centre[k]);
        if (g) {
            for (size_t a = 0; a < kN; ++a) {
                (*g)[a] = (*g)[a] / n + ridge[a] * (w[a] - centre[a]);
                for (size_t b = 0; b < kN; ++b) (*h)[a * kN + b] /= n;
                (*h)[a * kN + a] += ridge[a];
            }
        }
        return loss;
    };
    // First the score alone, then every feature with the ridge around that
    // fit: the evidence features move the ranking away from the score only
    // as far as the examples ask.
    for (size_t k = 0; k < kN; ++k) ridge[k] = k == CFeatures::kScoreGap ? kRidge : 1e6;
    centre = Newton(kN, softmax);
    for (size_t k = 0; k < kN; ++k) {
        ridge[k] = kCentredRidge;
        if (k != CFeatures::kScoreGap) centre[k] = 0.0;
    }
    const std::vector<double> wz = Newton(kN, softmax);
    CRerankModel model;
    model.m_vWeights.assign(kN, 0.0);
    for (size_t k = 0; k < kN; ++k) model.m_vWeights[k] = wz[k] / sd[k];

    _FitCalibration(model);
    return model;
}

void CRerankTrainer::_FitCalibration(CRerankModel& model) const {
    std::vector<double> s;
    // Calibration inputs of each list's first candidate by the model, as
    // the engine computes them.
    constexpr size_t kD = CRerankModel::kCalibration;
    std::vector<double> inputs;  // kD terms, then the label, per list
    for (const CLabelledList& l : m_vLists) {
        s.resize(l.nCount);
        size_t best = 0;
        for (size_t j = 0; j < l.nCount; ++j) {
            s[j] = model.Score(m_vRows.data() + (l.nFirst + j) * kN);
            if (s[j] > s[best]) best = j;
        }
        double second = -HUGE_VAL, sum = 0.0;
        for (size_t j = 0; j < l.nCount; ++j) {
            if (j != best) second = std::max(second, s[j]);
            sum += std::exp(s[j] - s[best]);
        }
        const double margin = l.nCount == 1 ? kMarginCap : std::clamp(s[best] - second, -kMarginCap, kMarginCap);
        inputs.push_back(1.0);
        inputs.push_back(1.0 / sum);
        inputs.push_back(margin);
        for (size_t k = 0; k < kN; ++k) inputs.push_back(m_vRows[(l.nFirst + best) * kN + k]);
        inputs.push_back(static_cast<long long>(best) == l.nPositive ? 1.0 : 0.0);
    }
    const size_t m = inputs.size() / (kD + 1);
    auto logistic = [&](const std::vector<double>& c, std::vector<double>* g, std::vector<double>* h) {
        double loss = 0.0;
        if (g) g->assign(kD, 0.0);
        if (h) h->assign(kD * kD, 0.0);
        for (size_t i = 0; i < m; ++i) {
            const double* v = inputs.data() + i * (kD + 1);
            const double y = v[kD];
            double t = 0.0;
            for (size_t k = 0; k < kD; ++k) t += c[k] * v[k];
            // log(1 + e^t) - y t, computed without overflow.
            loss += (t > 0 ? t + std::log1p(std::exp(-t)) : std::log1p(std::exp(t))) - y * t;
            if (!g) continue;
            const double p = 1.0 / (1.0 + std::exp(-t));
            for (size_t a = 0; a < kD; ++a) {
                (*g)[a] += (p - y) * v[a];
                for (size_t b = 0; b < kD; ++b) (*h)[a * kD + b] += p * (1 - p) * v[a] * v[b];
            }
        }
        const double n = m ? static_cast<double>(m) : 1.0;
        loss /= n;
        for (size_t k = 0; k < kD; ++k) loss += 0.5 * kRidge * c[k] * c[k];
        if (g) {
            for (size_t a = 0; a < kD; ++a) {
                (*g)[a] = (*g)[a] / n + kRidge * c[a];
                for (size_t b = 0; b < kD; ++b) (*h)[a * kD + b] /= n;
                (*h)[a * kD + a] += kRidge;
            }
        }
        return loss;
    };
    const std::vector<double> cal = Newton(kD, logistic);
    for (size_t k = 0; k < kD; ++k) model.m_lfCalibration[k] = cal[k];
}

void CRerankTrainer::AddList(const double* rows, size_t count, long long positive) {
    if (count == 0) return;
    m_vLists.push_back(CLabelledList{m_vRows.size() / kN, count, positive});
    m_vRows.insert(m_vRows.end(), rows, rows + count * kN);
}

size_t CRerankTrainer::FirstByModel(const CRerankModel& model) const {
    size_t first = 0;
    for (const CLabelledList& l : m_vLists) {
        size_t best = 0;
        for (size_t j = 1; j < l.nCount; ++j)
            if (model.Score(m_vRows.data() + (l.nFirst + j) * kN) > model.Score(m_vRows.data() + (l.nFirst + best) * kN))
                best = j;
        first += static_cast<long long>(best) == l.nPositive;
    }
    return first;
}
