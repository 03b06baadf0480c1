#pragma once
// Tells from the spectra of one file how they were fragmented: collisional
// (CID, HCD: b and y ions) or by electron transfer / capture (ETD, ECD: c and
// z ions). Paired runs need it when the files do not record their activation:
// two files given in swapped order would otherwise have their ETD spectra
// read as b/y spectra, and every pair would come out wrong without a sign.
//
// Evidence, per spectrum, from its strongest peaks (up to kTopPeaks by
// intensity; raw or relative intensities alike, peaks in any order):
// - complementary fragment pairs, counted by the sum of the two m/z values
//   against the precursor [M+H]+ (both singly charged, and from precursor
//   charge 3 on also one of them doubly charged):
//     b + y   = [M+H]+ + 1.0073 (a proton)
//     c + z.  = [M+H]+ + 2.0151 (c = prefix + NH3 + H+, z. = y - NH2)
//     c + z+1 = [M+H]+ + 3.0229
//   A collisional spectrum's sums start at +1.007 (its 13C peaks add sums
//   at +2.01 and +3.01); an electron-transfer spectrum has next to nothing
//   at +1.007. Windows at +7 .. +10 Da, where no pair of these ions falls,
//   count the chance pairs of the same peaks.
// - the charge-reduced precursor ([M+zH]^(z-1)+. and [M+zH]^(z-2)+..) among
//   the 20 strongest peaks, for precursors of charge 2 and more: electron
//   transfer leaves it, collisions do not make it.
// - low-mass ions, with tolerances of 0.05 Da or less at 150 m/z: immonium
//   ions and y1 ions of K and R against the z.1 and z+1 ions of K and R.
// - the intensity left at the unfragmented precursor: reported, not used
//   (ion-trap CID and ETD spectra both keep it, converters often drop it).
// Decide weighs the pooled counts as a log-likelihood ratio; chance pairs
// alone, however many, give a ratio near 0, so spectra without fragments,
// or judged with a tolerance far too narrow, stay undecided.
//
// Measured (bench/fragmentation_error): every file of the shared simulated,
// real and training sets right or, for files of fewer than 12 spectra or
// without fragment pairs, undecided; single spectra have the right sign 96 %
// of the time.
//
// Cost: per spectrum one copy of its peaks into a reused buffer, a partial
// sort to the strongest peaks and a few linear sweeps; no allocation once
// the buffers have grown: about 10 us per spectrum, 2 ms for 200 spectra.
//
// Threads: one object per thread (the buffers are its own); the static
// functions are free of state.

#include <string>
#include <vector>

#include "input/Spectrum.h"

enum class EFragmentation { UNDECIDED = 0, HCD_LIKE = 1, ETD_LIKE = 2 };

// "undecided", "HCD-like" or "ETD-like".
const char* FragmentationName(EFragmentation f);

// Evidence counts of one spectrum, or summed over many.
struct CFragmentationEvidence {
    unsigned int nSpectra = 0;       // spectra looked at (with a precursor and at least two peaks)
    double lfPairsBY = 0.0;          // complementary pairs at b + y
    double lfPairsCZ = 0.0;          // at c + z.
    double lfPairsCZ1 = 0.0;         // at c + z+1 (and at c + z. with one 13C)
    double lfPairsChance = 0.0;      // pairs expected by chance in one such window (mean of the controls)
    unsigned int nReduced = 0;       // spectra with a charge-reduced precursor among their strongest peaks
    unsigned int nReducible = 0;     // spectra of precursor charge 2 or more (where one could show)
    unsigned int nLowMassHcd = 0;    // immonium and y1 ions found
    unsigned int nLowMassEtd = 0;    // z.1 and z+1 ions found
    double lfPrecursorLeft = 0.0;    // relative intensity at the unfragmented precursor (summed)

    void Add(const CFragmentationEvidence& other);
};

// A verdict with what it rests on.
struct CFragmentationVerdict {
    EFragmentation eFragmentation = EFragmentation::UNDECIDED;
    // Log-likelihood ratio, natural log, of ETD-like over HCD-like on the
    // pooled evidence; positive favours ETD. |lfScore| >= kDecided decides.
    double lfScore = 0.0;
    CFragmentationEvidence evidence;  // pooled over the spectra looked at
    // The spectra one by one: score at most -kLeaning, at least +kLeaning,
    // or between.
    unsigned int nSpectraHcd = 0, nSpectraEtd = 0, nSpectraUndecided = 0;
};

class CFragmentationGuess {
public:
    // Peaks per spectrum that the evidence reads: the strongest.
    static constexpr unsigned int kTopPeaks = 80;
    // |score| a verdict needs: e^8, about 3000 to 1 on the model's terms;
    // no run of 20 or more spectra of the measured files came out wrong
    // with it.
    static constexpr double kDecided = 8.0;
    // |score| from which a single spectrum counts as leaning one way.
    static constexpr double kLeaning = 1.0;
    // Spectra a file verdict should look at: enough for every file the
    // measurements covered, few enough for a light pass.
    static constexpr unsigned int kRecommendedSpectra = 200;

    // Fragment tolerance as the run has it: Da, or ppm when ppm is true.
    CFragmentationGuess(double fragTol, bool ppm) : m_lfFragTol(fragTol), m_bFragTolPpm(ppm) {}

    // The evidence of one spectrum. A spectrum without a finite precursor,
    // or with fewer than two usable peaks (finite m/z and intensity > 0),
    // gives empty evidence (nSpectra 0).
    CFragmentationEvidence Look(const CSpectrum& s);

    // Pools spectra one at a time (as a driver streams them) and judges.
    void Add(const CSpectrum& s);
    CFragmentationVerdict Verdict() const;
    void Clear();

    // Judges up to nMax spectra of the list: all when there are no more,
    // else nMax of them evenly spaced (positions floor(i * size / nMax)), so
    // the verdict does not rest on the start of a run alone.
    CFragmentationVerdict Guess(const std::vector<CSpectrum>& spectra, unsigned int nMax = kRecommendedSpectra);

    // The verdict on pooled (or single-spectrum) evidence: ETD-like from
    // score >= threshold, HCD-like from score <= -threshold; score gets the
    // log-likelihood ratio when given.
    static EFragmentation Decide(const CFragmentationEvidence& e, double* score = nullptr,
                                 double threshold = kDecided);

private:
    struct CMz {
        double lfMz;
        double lfIntensity;
    };
    // Pairs among m_vTop (ascending m/z) whose sum lies in [lo, hi].
    unsigned int _PairsWithin(double lo, double hi) const;
    // Pairs of a peak of m_vTop with a peak of m_vTwo whose sum lies in [lo, hi].
    unsigned int _CrossPairsWithin(double lo, double hi) const;
    // True when a peak of m_vTop at least minIntensity strong lies within
    // the tolerance of mz.
    bool _Has(double mz, double minIntensity) const;
    // Low-mass ions and the precursor left over, from all usable peaks
    // (m_vTop before it is cut).
    void _LowMass(const CSpectrum& s, double strongest, CFragmentationEvidence& e) const;
    // The pair counts of m_vTop (ascending m/z) against precursor mh.
    void _Pairs(double mh, int z, CFragmentationEvidence& e);
    double _Tol(double mz) const { return m_bFragTolPpm ? mz * m_lfFragTol * 1e-6 : m_lfFragTol; }

    double m_lfFragTol;
    bool m_bFragTolPpm;
    std::vector<CMz> m_vTop;  // reused: the strongest peaks of the spectrum in hand
    std::vector<CMz> m_vTwo;  // reused: the same peaks read as doubly charged, singly charged mass
    CFragmentationEvidence m_Pooled;
    unsigned int m_nSpectraHcd = 0, m_nSpectraEtd = 0, m_nSpectraUndecided = 0;
};
