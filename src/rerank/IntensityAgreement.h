#pragma once
// How well a candidate's predicted fragment intensities (CFragmentModel::
// Predict) agree with what its ions matched in the spectrum: evidence for
// the re-ranking features. The caller gives, for each of the candidate's
// ion slots, the predicted share and the intensity of the peak the ion
// matched (any unit, the same for the whole spectrum; 0 when unmatched).
// Plain arithmetic in a fixed order: no allocation, the same bits on every
// machine, safe on any thread.
//
// The third intensity feature, the share of the spectrum's intensity that
// no predicted ion explains, needs the peaks and is the caller's: take the
// spectrum's N most intense peaks (N about twice the candidate's length, so
// that long and short candidates are judged on as many peaks as they could
// explain), and divide the summed square-root intensity of those that lie
// within the fragment tolerance of none of the candidate's slots whose
// predicted share is above a small floor (say a tenth of the mean share) by
// the summed square-root intensity of all N.

struct CIntensityAgreement {
    // Normalised dot product of the predicted shares and sqrt(observed),
    // 0..1; 0 when either side is all zero.
    double lfCosine = 0.0;
    // Pearson correlation of the same two vectors over all slots, -1..1;
    // 0 when either is constant.
    double lfPearson = 0.0;
    // Share of the predicted intensity that sits on slots without a peak
    // (observed 0), 0..1: what the peptide should have shown but did not.
    double lfMissedShare = 0.0;
    int nMatched = 0;  // slots with a peak

    // predicted and observed hold n values each; negative observed values
    // count as 0.
    static CIntensityAgreement Of(const float* predicted, const double* observed, int n);
};
