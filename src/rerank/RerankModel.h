#pragma once
// A linear re-ranking model over the fragment-evidence features of a
// candidate (CFeatures), with a logistic calibration that turns a
// candidate's model score into a probability of being right.
//
// Text file (lines starting with '#' and blank lines are comments):
//   vemra rerank model 1
//   features 10
//   score_gap 0.51            one line per feature, in CFeatures order
//   ...
//   calibration 16
//   intercept -2.1            logistic calibration: intercept,
//   probability 3.0           the candidate's softmax share of its list,
//   margin 0.4                its model-score margin over the best other,
//   score_gap 0.1             then one line per feature, in CFeatures order
// Anything else (another header, other names or counts, a value that is
// not a finite number, lines left over) makes the file unusable: the
// engine never falls back to ranking without the model it was asked for.

#include <string>
#include <vector>

class CRerankModel {
public:
    // Calibration terms: intercept, softmax share, margin, then one per
    // feature (the candidate's own evidence says how sure the pick is).
    static constexpr int kCalibration = 3 + 13;
    static const char* const kCalibrationNames[3];
    static const char* const kHeader;
    // The name that stands for the model built into the program (fitted on
    // the shared HCD development sets, models/hcd.model).
    static const char* const kBuiltinHcd;

    // Reads a model file, or the built-in model named kBuiltinHcd. False with
    // the reason in error when it cannot be used.
    bool Load(const std::string& path, std::string& error);
    bool Parse(const std::string& text, std::string& error);
    // The model as a file's text; comment lines (without '#') go after the
    // header.
    std::string Text(const std::string& comment) const;

    // Model score of one feature row.
    double Score(const double* row) const;
    // Calibrated probability from a candidate's softmax share, margin and
    // features.
    double Confidence(double probability, double margin, const double* row) const;
    // Name of calibration term k.
    static const char* CalibrationName(int k);

    std::vector<double> m_vWeights;                 // per feature
    double m_lfCalibration[kCalibration] = {};
};

class CCondition;
// Loads the models the parameters name into the condition (its derived
// tables). A model the run was asked for that cannot be used is an error
// ("[error] FILE:LINE: rerank_model=...: why", counted in m_nParamErrors):
// never a run without it. False on such an error.
bool LoadModels(CCondition& c);
