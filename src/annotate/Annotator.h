#pragma once
// Which peaks of a spectrum a peptide explains: the peptide's fragment ions
// (the run's ion types: b/y for HCD, c/z for ETD, both for EThcD, each at
// every charge up to the precursor's; water and ammonia losses on request)
// matched to the spectrum's peaks as read, within the run's fragment
// tolerance, the way the scorer matches them (the most intense peak in the
// window). What `vemra annotate` draws; CAnnotationSvg draws it.
//
// Peptide text as the result files write it: capital residue letters with
// the run's residue masses (so "C" is carbamidomethyl C when the run gives
// C that mass), mass deltas after a residue ("M[+15.995]"), an N-terminal
// delta before the first ("[+42.011]-A"), a C-terminal one after the last
// ("K-[+0.984]"), and the native file's marks "n"/"c" for the run's
// terminal modification. A delta that names the run's fixed residue mass
// as the tables write it ("C[+57.0215]") or one of its variable
// modifications is taken with the run's exact mass.

#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "input/Spectrum.h"

struct CAnnotResidue {
    char cLetter = 0;       // capital letter as written
    double lfMass = 0.0;    // residue mass with its modifications, Da
    double lfDelta = 0.0;   // what the text added to the run's residue mass, Da (0: none)
};

// One theoretical fragment ion and the peak it matched.
struct CFragmentIon {
    char cSeries = 'b';     // first letter of the ion type's name, small ('b', 'y', 'c', 'z')
    bool bPrefix = true;    // N-terminal ion
    int nLength = 0;        // residues it holds: b3 holds the first 3, y3 the last 3
    int nCharge = 1;
    int nLoss = 0;          // 0 none, 1 water, 2 ammonia
    double lfMz = 0.0;      // theoretical m/z
    int nPeak = -1;         // matched peak, index into CAnnotation::vPeaks; -1: none
    double lfError = 0.0;   // observed - theoretical, ppm or Da (CAnnotation::bPpm)

    // "b3", "y7++", "b5-H2O", "z4+-NH3" style: charge as that many '+' above 1.
    std::string Label() const;
};

struct CAnnotation {
    std::string strTitle;           // the spectrum's
    std::string strPeptide;         // as given
    std::string strActivation;      // "HCD", "ETD" or "EThcD": which ion types were used
    int nCharge = 0;                // precursor charge
    double lfPrecursorMz = 0.0;
    double lfPrecursorMH = 0.0;     // [M+H]+ of the spectrum, Da
    double lfPeptideMH = 0.0;       // [M+H]+ of the peptide, Da
    double lfTolerance = 0.0;       // fragment tolerance, ppm or Da
    bool bPpm = true;
    std::vector<CAnnotResidue> vResidues;
    std::vector<CPeak> vPeaks;      // ascending m/z, positive intensities only
    std::vector<CFragmentIon> vIons;  // every theoretical ion, by ion type, then length
    int nIons = 0, nMatchedIons = 0;  // ions without losses: theoretical, matched
    double lfExplained = 0.0;       // share of the total intensity in peaks matched by any ion

    double PrecursorErrorPpm() const {
        return lfPeptideMH > 0 ? (lfPrecursorMH - lfPeptideMH) / lfPeptideMH * 1e6 : 0.0;
    }
};

class CAnnotator {
public:
    explicit CAnnotator(const CCondition& c) : m_cond(c) {}

    // The peptide's residues; false, with the reason, for a text that is no
    // peptide of the run (a letter without a residue mass, a broken delta).
    bool ParsePeptide(const std::string& text, std::vector<CAnnotResidue>& out, std::string& error) const;
    // activation: "HCD", "ETD" or "EThcD"; losses: also match water and
    // ammonia losses of matched ions. False, with the reason, when the
    // peptide cannot be parsed.
    bool Annotate(const CSpectrum& spectrum, const std::string& peptide, const std::string& activation, bool losses,
                  CAnnotation& out, std::string& error) const;
    // The ion types of a spectrum's recorded activation ("CID", "HCD" ->
    // "HCD"; "ETD", "ECD" -> "ETD"; "EThcD"); "" for anything else.
    static std::string ActivationOf(const std::string& recorded);

private:
    double _TerminalDelta(double written, char first, bool nTerm) const;
    // Index of the most intense peak within the tolerance of mz; -1: none.
    int _Match(const std::vector<CPeak>& peaks, double mz) const;

    const CCondition& m_cond;
};
