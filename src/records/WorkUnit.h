#pragma once
// One unit of work (a spectrum, or an HCD + ETD pair of one precursor) and
// the record its sequencing hands to the writers.

#include <string>
#include <vector>

#include "input/Spectrum.h"
#include "records/Result.h"

// How a unit's spectra are sequenced.
enum class EMode : unsigned char {
    HCD = 1,     // b/y ions of one spectrum (also CID)
    ETD = 2,     // c/z ions of one spectrum
    Paired = 3,  // an HCD and an ETD spectrum of one precursor, pooled in one graph
};

struct CWorkUnit {
    // As read and normalised; never changed (the sequencing cleans copies).
    const CSpectrum* pFirst = nullptr;   // the HCD side of a pair, or the lone spectrum
    const CSpectrum* pSecond = nullptr;  // the ETD side of a pair
    long long nRecord = 0;               // 0-based; the record header shows S<nRecord + 1>
    EMode eMode = EMode::HCD;            // ETD: pFirst is the ETD spectrum
    int nFirstRun = 1;                   // 1-based number of the file pFirst comes from
    int nSecondRun = 2;                  // and pSecond
};

// What became of a unit.
enum class EUnitStatus : unsigned char { Sequenced, NoCandidate, NoPeaks, OutsideWindow, BadPrecursor, Stopped };
// The status as the summary and the tables name it ("sequenced", "no_candidate", ...).
const char* StatusName(EUnitStatus s);

struct CUnitResult {
    const CWorkUnit* pUnit = nullptr;
    EUnitStatus eStatus = EUnitStatus::Stopped;
    bool bGraphed = false;             // the unit reached the graph: it has a record
    // The ranked scored peptides (the whole list; the writers show report_pep).
    std::vector<CResult> vPeptides;
    // Re-ranking features of the leading peptides, when the caller asked for
    // them: nFeatureRows rows of nFeatureCount values, row i for vPeptides[i].
    std::vector<double> vFeatures;
    size_t nFeatureRows = 0, nFeatureCount = 0;
    // Where the unit's known peptide was lost (trace=1): stage index, -1
    // without a known peptide, and its detail.
    int nTraceStage = -1;
    std::string strTraceDetail;
};
