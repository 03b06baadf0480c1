#pragma once
// Fits the boosted-tree re-ranking model (CRerankModel, version 2) on
// labelled lists grouped by set: per spectrum the feature rows of its
// leading candidates by score (CFeatures, all kCount features) and the
// position of the known peptide among them (`vemra train` collects them).
//
// Every set is ranked once by a ranker fitted on the other sets (leave one
// set out); those held-out scores are what the calibration learns from, so
// its probability is that of a model meeting spectra it was not fitted on.
// The ranker the model keeps is then fitted on every set. The figures of
// each set are its held-out ones: first by score, first by the held-out
// ranker, and the precision at half coverage by a calibration fitted on the
// other sets' held-out lists.
//
// Deterministic: the same lists and options give the same model bit for
// bit (the boosted-tree fitter is; sets and lists are taken in the order
// they were added). One thread.

#include <cstddef>
#include <string>
#include <vector>

#include "rerank/BoostedTrees.h"
#include "rerank/RerankModel.h"

struct CRerankFitOptions {
    CBoostedTrees::EObjective eObjective = CBoostedTrees::EObjective::RankSoftmax;
    int nDepth = 4;
    int nRounds = 300;
    double lfLearningRate = 0.05;
    double lfMinChildWeight = 1.0;
    double lfLambda = 1.0;
    double lfSubsample = 1.0;
    int nCalibrationDepth = 2;
    int nCalibrationRounds = 150;
    double lfCalibrationRate = 0.05;
    // The features the model reads, by name (empty: every feature).
    std::vector<std::string> vFeatures;
    // Leave-one-set-out figures of each set (the ranker's held-out fits are
    // made either way; this adds the calibration's).
    bool bFigures = true;
};

// Held-out figures of one set (or, for strSet "pooled", of all).
struct CSetFigures {
    std::string strSet;
    size_t nSpectra = 0;       // spectra with a known peptide
    size_t nInList = 0;        // the known peptide among the ranked candidates
    size_t nFirstByScore = 0;  // first in the score order
    size_t nFirstByModel = 0;  // first by the held-out ranker
    // Precision at half coverage, spectra ordered by the held-out calibrated
    // probability (by score order's first candidate); -1: not reached.
    double lfPrecisionAtHalf = -1.0;
};

class CRerankTrainer {
public:
    // One spectrum's candidates: rows [nFirst, nFirst + nCount) of m_vRows,
    // in the engine's order; nPositive: the known peptide's position, -1
    // when it is not among them (nCount 0: the spectrum had no candidate).
    struct CList {
        size_t nSet = 0;
        std::string strTitle;
        size_t nFirst = 0;
        size_t nCount = 0;
        long long nPositive = -1;
    };

    // The index of a set of that name, added when new.
    size_t Set(const std::string& name);
    // One spectrum's list: count rows of CFeatures::kCount values.
    void AddList(size_t set, const std::string& title, const double* rows, size_t count, long long positive);

    // Fits the ranker and calibration of model (its features set to the
    // options' features; its evidence parts and fallback stay: the lists
    // the fallback ranks are left to it, in the figures too) and the held-out figures,
    // one per set and then the pooled ones. False with why when the lists
    // cannot give a model (fewer than two sets, no known peptide among the
    // candidates, an unknown feature).
    bool Fit(const CRerankFitOptions& options, CRerankModel& model, std::vector<CSetFigures>& figures,
             std::string& error) const;
    // The figures of a fitted model applied to the lists as they are (no
    // fitting): what a model fitted elsewhere does on these sets.
    std::vector<CSetFigures> Apply(const CRerankModel& model) const;

    // Drops the sets whose name is one of these or starts with one and "#"
    // (the folds of a set), with their lists.
    void DropSets(const std::vector<std::string>& names);

    // Rows file: the lists with their sets and titles, and text kept with
    // them (the evidence models that computed the rows). False with why.
    bool Write(const std::string& path, const std::string& evidence, std::string& error) const;
    bool Read(const std::string& path, std::string& evidence, std::string& error);

    std::vector<std::string> m_vSets;
    std::vector<CList> m_vLists;
    std::vector<double> m_vRows;

private:
    // Model scores of every row of the lists of the sets (kept), by the
    // model's ranker.
    void _Scores(const CRerankModel& model, const std::vector<char>& sets, std::vector<double>& scores) const;
    // A model's first candidate of a list (its own scores, in scores) and
    // the confidence it gives it.
    double _Pick(const CRerankModel& model, const CList& l, size_t& best, std::vector<double>& scores) const;
};
