#pragma once
// Fits a CFragmentModel on labelled spectra.
//
// Labels: each labelled peptide's ions (CFragmentModel::FragmentMz) are
// matched against its spectrum within the set's fragment tolerance, the
// most intense peak in the window counting; an ion's target is its share of
// the peptide's summed square-root intensity (0 without a peak).
//
// Fit: the weights minimise the weighted cross-entropy between these
// targets and the model's softmax shares, averaged over spectra (each
// weighted by CCorpusSpectrum::lfWeight), plus a ridge penalty that pulls
// every weight towards 0, i.e. towards the flat prediction where the data
// say little. The problem is convex; a fixed quasi-Newton (L-BFGS) sequence
// in double precision, single-threaded and in corpus order, solves it, so
// the same spectra give the same model file bit for bit. Then the detection
// curve of each ion kind is a logistic regression of "the ion has a peak"
// on ln(share x ions).

#include <string>
#include <vector>

#include "rerank/FragmentModel.h"
#include "rerank/TrainingCorpus.h"

struct CFragmentFitOptions {
    EFragmentKind eFragmentation = EFragmentKind::HCD;  // which sets are fitted
    // Penalty per squared weight, against a spectrum's mean loss; below 0:
    // CFragmentModelTrainer::DefaultRidge of the fragmentation.
    double lfRidge = -1.0;
    int nIterations = 300;             // most quasi-Newton steps
    std::vector<std::string> vLeaveOut;  // sets not fitted on (validation)
};

// One spectrum and the set it belongs to (tolerance); both outlive the use.
struct CSpectrumRef {
    const CCorpusSet* pSet = nullptr;
    const CCorpusSpectrum* pSpectrum = nullptr;
};

class CFragmentModelTrainer {
public:
    // The ridge the leave-one-set-out validation chose: 0.003 for HCD,
    // 0.01 for CID and ETD (fewer spectra, a smoother model generalises
    // better and tells decoys apart more often).
    static double DefaultRidge(EFragmentKind e);

    // Every spectrum of the corpus's sets of options.eFragmentation, less
    // the sets named in options.vLeaveOut.
    static CFragmentModel Fit(const CTrainingCorpus& corpus, const CFragmentFitOptions& options);
    static CFragmentModel FitSpectra(const std::vector<CSpectrumRef>& spectra, const CFragmentFitOptions& options);
    static std::vector<CSpectrumRef> SpectraOf(const CTrainingCorpus& corpus, const CFragmentFitOptions& options);

    // Relative intensity (0..1, 0 without a peak) of the most intense peak
    // near each of the peptide's slots in the spectrum, with the set's
    // tolerance and the given fragmentation's ion masses. mz is scratch of
    // at least IonCount slots; returns the slot count.
    static int Observe(const CCorpusSet& set, const CCorpusSpectrum& s, const CLabelledPeptide& peptide,
                       EFragmentKind e, double* mz, double* out);
};
