#pragma once
// `vemra train PARAM TRUTH [PARAM TRUTH ...] -o MODEL`: fits a re-ranking
// model (CRerankModel) on labelled spectra. Each parameter file is run as
// it stands (its re-ranking model, if any, left out), every scored
// candidate written with its features into a temporary folder; the truth
// file (title<TAB>peptide, as vemra evaluate reads it) labels them. Each
// spectrum's first 20 candidates by score are the examples.
//
// Fitting is deterministic: the same lists give the same model bit for bit.
// Weights: listwise softmax (the probability of the known peptide among its
// spectrum's candidates) on standardised features, Newton steps with step
// halving, a fixed number of iterations: first the score gap alone, then
// every feature with a ridge around that fit. Calibration:
// logistic regression of "the model's first candidate is right" on that
// candidate's softmax share and margin, over every spectrum with a known
// peptide and a candidate.

#include <string>
#include <vector>

#include "evaluate/Evaluate.h"
#include "rerank/RerankModel.h"

class CRerankTrainer {
public:
    // One spectrum's candidates: rows [nFirst, nFirst + nCount) of m_vRows,
    // in the engine's order; nPositive: the known peptide's position, -1
    // when it is not among them.
    struct SList {
        size_t nFirst = 0;
        size_t nCount = 0;
        long long nPositive = -1;
    };

    // Runs the engine on the parameter file; false (and why) when it fails.
    bool Collect(const std::string& paramFile, const std::string& truthFile, std::string& error);
    // The lists of a result file written with features, for the spectra
    // with a known peptide in truth.
    bool AddResults(const std::string& resultFile, const CEvaluate& truth);
    CRerankModel Fit() const;

    std::vector<double> m_vRows;
    std::vector<SList> m_vLists;
};

// The subcommand; argv[1] is "train". Returns the exit status.
int RunTrain(int argc, char** argv);
