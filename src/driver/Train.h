#pragma once
// `vemra train`: fits a re-ranking model (version 2: boosted trees, their
// calibration, and the fragment-intensity models and residue-pair table its
// features need) on labelled sets, each a parameter file and a truth file
// (title<TAB>peptide, as vemra evaluate reads it).
//
// Each parameter file's datasets (single spectrum files; its own re-ranking
// model left out, so the candidates come in score order) are sequenced by
// the run's own pipeline, and every spectrum's leading candidates hand
// their feature rows to the fit. A set is named by its truth file's folder.
// The features of a set are computed with evidence models fitted without it
// (a fragment model per fragmentation, the residue pairs), so the ranker
// learns how far those models can be trusted on spectra and peptides they
// have not seen; a fragmentation with a single set is split into five folds
// by peptide instead. The model keeps the evidence models fitted on every
// set. Fragmentation of a set: ETD with activation_type=ETD, CID (ion trap)
// with a fragment tolerance of 0.1 Da or more at m/z 1000, HCD otherwise.
//
// The same sets and options give the same files bit for bit.

#include <string>
#include <utility>
#include <vector>

#include "rerank/RerankTrainer.h"

struct CTrainOptions {
    std::vector<std::pair<std::string, std::string>> vSets;  // parameter file, truth file
    std::string strOutput;    // the model file (empty: none written)
    std::string strSaveRows;  // write the feature rows (and evidence models) here
    std::string strLoadRows;  // fit on rows written earlier instead of sequencing
    std::string strBaseline;  // a model to measure on the same rows beside the fit
    // Evidence models (a version 2 model file) to compute every set's rows
    // with, instead of fitting them: rows of sets kept out of the fit.
    std::string strEvidence;
    std::string strTestRows;  // rows of other sets the fitted model is measured on
    std::vector<std::string> vExcludeSets;  // sets (by name) left out of the fit
    bool bPerSet = false;     // print the leave-one-set-out figures of every set
    // A linear model that ranks the lists whose first candidate by score has
    // strFallbackFeature below lfFallbackBelow (empty: none).
    std::string strFallback;
    std::string strFallbackFeature = "detection_likelihood";
    double lfFallbackBelow = 0.0;
    CRerankFitOptions fit;
};

// Returns the exit status (0 done, 1 a set, rows file or model could not be
// read or written or gives no model).
int RunTrain(const CTrainOptions& options);
