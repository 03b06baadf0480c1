#pragma once
// Fits a re-ranking model (CRerankModel) on labelled lists: per spectrum
// the feature rows of its leading candidates by score and the position of
// the known peptide among them (`vemra train` collects them).
//
// Fitting is deterministic: the same lists give the same model bit for bit.
// Weights: listwise softmax (the probability of the known peptide among its
// spectrum's candidates) on standardised features, Newton steps with step
// halving, a fixed number of iterations: first the score gap alone, then
// every feature with a ridge around that fit. Calibration:
// logistic regression of "the model's first candidate is right" on that
// candidate's softmax share and margin, over every spectrum with a known
// peptide and a candidate.

#include <cstddef>
#include <vector>

#include "rerank/RerankModel.h"

class CRerankTrainer {
public:
    // One spectrum's candidates: rows [nFirst, nFirst + nCount) of m_vRows,
    // in the engine's order; nPositive: the known peptide's position, -1
    // when it is not among them.
    struct CLabelledList {
        size_t nFirst = 0;
        size_t nCount = 0;
        long long nPositive = -1;
    };

    // One spectrum's list: count rows of CFeatures::kCount values, the known
    // peptide at `positive` (-1: not among them). Empty lists are left out.
    void AddList(const double* rows, size_t count, long long positive);
    CRerankModel Fit() const;
    // Lists whose first candidate by the model is the known peptide.
    size_t FirstByModel(const CRerankModel& model) const;

    std::vector<double> m_vRows;
    std::vector<CLabelledList> m_vLists;

private:
    // The logistic calibration of the fitted model's first candidates.
    void _FitCalibration(CRerankModel& model) const;
};

