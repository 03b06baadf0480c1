#pragma once
// Validation of a fragment model on labelled spectra it was not fitted on.
//
// Per spectrum: the agreement (CIntensityAgreement) of the truth peptide's
// predicted and observed intensities, for the model and for the flat
// prediction (the same share for every ion); and how often the truth's
// agreement beats that of decoys with the same precursor mass scored
// against the same spectrum: three with the interior residues shuffled
// (first and last residue kept, modifications moving with their residue)
// and two with one interior pair of neighbours swapped (which changes the
// masses at one cleavage site only). A tie counts half. Decoys are drawn
// from a generator seeded with the spectrum's title, so every run and every
// fold sees the same ones.

#include <string>
#include <vector>

#include "rerank/FragmentModelTrainer.h"

// Agreement measures compared between the truth and its decoys.
enum EAgreement : int {
    kAgreeCosine,    // CIntensityAgreement::lfCosine, higher is better
    kAgreeMissed,    // lfMissedShare, lower is better
    kAgreeCombined,  // lfCosine x (1 - lfMissedShare), higher is better
    kAgreements
};

struct CSpectrumAgreement {
    // The truth peptide, model and flat prediction.
    double lfCosine = 0.0, lfCosineFlat = 0.0;
    double lfPearson = 0.0;  // (the flat prediction is constant: no correlation)
    double lfMissed = 0.0, lfMissedFlat = 0.0;
    // Mean log-loss of CFragmentModel::Detection over the truth's slots.
    double lfDetectionLoss = 0.0, lfDetectionLossFlat = 0.0;
    // Decoys that could be made: [0] shuffled, [1] swapped neighbours.
    int nDecoys[2] = {0, 0};
    // Wins of the truth over them: [decoy kind][measure][0 model, 1 flat].
    double lfWins[2][kAgreements][2] = {};
};

struct CSetAgreement {
    std::string strSet;
    std::vector<CSpectrumAgreement> vSpectra;

    // Median of one member over the spectra (0 without spectra).
    double Median(double CSpectrumAgreement::*member) const;
    // Share of decoys of a kind (0 shuffled, 1 swapped) the truth beats by
    // a measure, with the model (flat false) or the flat prediction; 0
    // without decoys.
    double WinRate(int decoyKind, int measure, bool flat) const;
    // All spectra of several sets as one.
    static CSetAgreement Pool(const std::vector<CSetAgreement>& sets, const std::string& name);
};

class CFragmentValidation {
public:
    // The model's agreement with each spectrum against that of the flat
    // model (zero weights; for the detection figures, with the detection
    // curves fitted on the same spectra), ions of the model's fragmentation,
    // each set's tolerance.
    static std::vector<CSpectrumAgreement> Measure(const CFragmentModel& model, const CFragmentModel& flat,
                                                   const std::vector<CSpectrumRef>& spectra);
    static CSetAgreement MeasureSet(const CFragmentModel& model, const CFragmentModel& flat, const CCorpusSet& set);

    // Every set of options.eFragmentation measured with a model fitted on
    // the other sets of that fragmentation (options.vLeaveOut is ignored).
    // A fragmentation with a single set is split into five folds of its
    // spectra, the spectra of one peptide always in the same fold. The flat
    // model of each fold is fitted on the same spectra with no steps.
    static std::vector<CSetAgreement> LeaveOneSetOut(const CTrainingCorpus& corpus, const CFragmentFitOptions& options);
};
