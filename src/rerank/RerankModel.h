#pragma once
// A re-ranking model over the evidence features of a candidate (CFeatures)
// and the calibration that turns the model's view of a list into the
// probability that its first peptide is right. Two kinds of file:
//
// Version 1, linear (still read; `vemra train` writes version 2):
//   vemra rerank model 1
//   features 13
//   score_gap 0.51            one line per feature, the first 13 of CFeatures
//   ...
//   calibration 16
//   intercept -2.1            logistic calibration: intercept,
//   probability 3.0           the candidate's softmax share of its list,
//   margin 0.4                its model-score margin over the best other,
//   score_gap 0.1             then one line per feature
//
// Version 2, boosted trees with what its features need:
//   vemra rerank model 2
//   features 30               then one CFeatures name per line: the rows the
//   score_gap                   trees read, in this order
//   ...
//   residue_pairs ACDEFGHKLMNPQRSTVWY   optional: CResiduePairs' table
//   (19 rows)
//   fragment_model HCD 93     optional, per fragmentation (HCD, CID, ETD):
//   (93 lines)                  a CFragmentModel file of that many lines
//   ranker                    a CBoostedTrees block over the features
//   vemra boosted trees 1 ... end
//   calibration               a logistic CBoostedTrees block over
//   vemra boosted trees 1 ... end   softmax_share, margin, ranker_score, then
//                               the features (of the list's first candidate)
//   fallback detection_likelihood -0.75 32   optional, after the calibration: a
//   (32 lines)                  version 1 model that ranks and calibrates a
//                               list instead where that feature of its first
//                               candidate by score is below the value (or
//                               not a number): the trees learned from real
//                               fragmentation, and a spectrum whose
//                               intensities say nothing of it misleads them
// Lines starting with '#' and blank lines are comments. Anything else (another
// header or version, a feature this program does not compute, other names or
// counts, a value that is not a finite number, a damaged block, lines left
// over) makes the file unusable with the line named: the engine never falls
// back to ranking without the model it was asked for.
//
// Read-only once loaded; Score and Confidence may run on any number of
// threads at once and give the same bits on every machine.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rerank/BoostedTrees.h"
#include "rerank/FragmentModel.h"
#include "rerank/ResiduePairs.h"

class CRerankModel {
public:
    // Version 1: calibration terms intercept, softmax share, margin, then one
    // per feature (the candidate's own evidence says how sure the pick is).
    static constexpr int kCalibration = 3 + 13;
    static const char* const kCalibrationNames[3];
    static const char* const kHeader;         // version 1
    static const char* const kBoostedHeader;  // version 2
    // Version 2: the calibration's inputs before the features.
    static constexpr int kListInputs = 3;
    static const char* const kListInputNames[kListInputs];
    // The names that stand for the models built into the program: the
    // linear models/hcd.model and the boosted models/hcd_boosted.model. The
    // labelled ETD spectra of the training corpus never have the known
    // peptide among the leading candidates, so no c/z model is shipped.
    static const char* const kBuiltinHcd;
    static const char* const kBuiltinHcdBoosted;

    // Reads a model file, or a built-in model. False with the reason in
    // error when it cannot be used.
    bool Load(const std::string& path, std::string& error);
    bool Parse(std::string_view text, std::string& error);
    // A version 2 text that may lack the ranker and calibration: the
    // evidence part alone, as `vemra train` keeps it beside feature rows.
    bool ParseEvidence(std::string_view text, std::string& error);
    // The model as a file's text in its version; comment lines (without '#')
    // go after the header.
    std::string Text(const std::string& comment) const;

    int Version() const { return m_nVersion; }
    // Whether the model orders candidates (a version 2 model made only to
    // give features, as `vemra train` uses one, does not).
    bool Ranks() const { return m_nVersion == 1 || m_bRankerSet; }

    // Model score of one feature row (CFeatures::kCount values).
    double Score(const double* row) const;
    // Version 1: calibrated probability from a candidate's softmax share,
    // margin and features.
    double Confidence(double probability, double margin, const double* row) const;
    // Version 2: probability that a list's first candidate is right, from
    // its softmax share, margin over the runner-up, model score and row.
    double FirstRight(double share, double margin, double score, const double* row) const;
    // Name of version 1 calibration term k.
    static const char* CalibrationName(int k);

    // The fragment model of a fragmentation: ETD for c/z spectra; for b/y
    // spectra CID where the fragment tolerance is low-resolution (lowRes),
    // else HCD, either standing in for the other when the file has only
    // one. Null: none.
    const CFragmentModel* Fragments(bool etd, bool lowRes) const;
    const CResiduePairs* Pairs() const { return m_bPairs ? &m_pairs : nullptr; }

    // Version 2 parts, for the fitter and the tests.
    void SetFeatures(const std::vector<std::string>& names);
    const std::vector<std::string>& FeatureNames() const { return m_vFeatureNames; }
    void SetPairs(const CResiduePairs& pairs);
    void AddFragments(const CFragmentModel& model);
    void SetRanker(const CBoostedTrees& ranker, const CBoostedTrees& calibration);
    // The model without its ranker and calibration: the evidence part.
    CRerankModel Evidence() const;
    // The model that ranks a list instead when the first candidate's value
    // of the gate feature is below GateBelow() or not a number. Null: none.
    void SetFallback(const CRerankModel& linear, int feature, double below);
    const CRerankModel* Fallback() const { return m_pFallback.get(); }
    double GateBelow() const { return m_lfGateBelow; }
    // Whether the fallback ranks a list whose first candidate by score has
    // this row.
    bool FallsBack(const double* firstRow) const;
    // Whether FallsBack can be asked of the first candidate's row as soon as
    // it is added (the gate is a feature of the candidate alone).
    bool GatesOnOwnRow() const;
    const CBoostedTrees& Ranker() const { return m_ranker; }
    const CBoostedTrees& Calibration() const { return m_calibration; }
    // The calibration's input names: the list inputs, then the features.
    std::vector<std::string> CalibrationInputs() const;

    std::vector<double> m_vWeights;                 // version 1: per feature
    double m_lfCalibration[kCalibration] = {};      // version 1

private:
    bool _ParseLinear(std::string_view text, std::string& error);
    bool _ParseBoosted(std::string_view text, bool needRanker, std::string& error);
    std::string _BoostedText(const std::string& comment) const;

    int m_nVersion = 1;
    std::vector<std::string> m_vFeatureNames;
    std::vector<int> m_vFeatureIndex;  // CFeatures index of each model feature
    bool m_bPairs = false;
    CResiduePairs m_pairs;
    std::vector<CFragmentModel> m_vFragments;
    bool m_bRankerSet = false;
    CBoostedTrees m_ranker, m_calibration;
    std::shared_ptr<const CRerankModel> m_pFallback;
    int m_nGateFeature = -1;
    double m_lfGateBelow = 0.0;
};

class CCondition;
// Loads the models the parameters name into the condition (its derived
// tables). A model the run was asked for that cannot be used is an error
// ("[error] FILE:LINE: rerank_model=...: why", counted in m_nParamErrors):
// never a run without it. False on such an error.
bool LoadModels(CCondition& c);
