#pragma once
// Pairing of HCD spectra with ETD spectra of the same precursor, between
// reading and sequencing. Works on light records (no peaks), so a driver can
// collect them while it streams the spectra and fetch the peaks later.
//
// Sides: a spectrum's recorded activation decides its side when the file
// gives one - CID and HCD are the HCD side; ETD, ECD and EThcD the ETD side
// (their spectra are read through c and z ions, which is what the ETD ion
// types and the ETD graph rules score). A spectrum without a recorded
// activation takes its list's side: list 0 HCD, every other list ETD. So two
// files given in the wrong order still pair when their spectra record their
// activation, and one file whose spectra record it is split by it (a single
// file without activations is passed as list 0 for HCD, list 1 for ETD work).
//
// Modes:
// - PRECURSOR (default): a HCD-side and an ETD-side spectrum pair when their
//   charges are equal, their precursors are close (|a - b| at most the mean
//   of the two precursor tolerances, as everywhere else in the engine), and
//   they lie within the scan window when both scan numbers are known, or -
//   when a scan is missing on either side - within the retention-time window
//   when both times are known. Among the admissible pairs the nearest go
//   first: smallest scan distance, then retention-time distance, then
//   precursor difference, then title rank of the HCD, then of the ETD
//   spectrum; each spectrum joins at most one pair. When the two sides are
//   equally long and their i-th spectra in title order all agree in charge
//   and precursor, the sides line up and the positional pairs are kept
//   whatever the windows say: two files written as pairs pair as they always
//   did, even when their scan numbers come from different runs.
// - ORDER: the i-th HCD-side spectrum in title order with the i-th ETD-side
//   one. A positional pair whose charges differ or whose precursors are not
//   close is rejected: both spectra are sequenced alone.
//
// Output order (both modes): every HCD-side spectrum in title order, each
// with its partner or alone, then the ETD-side spectra left alone in title
// order. Title order is unsigned byte order, equal titles by list and index;
// for two files without activations this is the order paired runs have
// always had. Spectra with a non-finite precursor never pair.
//
// Cost: sorting plus one sweep over a precursor window per HCD spectrum; the
// work grows with the number of close precursors, never with all-against-all.

#include <string>
#include <string_view>
#include <vector>

#include "input/Spectrum.h"

enum class EPairingMode { PRECURSOR, ORDER };

// What pairing needs to know of one spectrum.
struct CPairRecord {
    int nList = 0;                 // 0: first file (HCD side), 1: second file (ETD side)
    unsigned int nIndex = 0;       // position in its list; handed back untouched
    double lfPrecursorMH = 0.0;    // precursor [M+H]+, Da
    int nCharge = 0;               // precursor charge
    int nScan = -1;                // scan number; negative: not known
    double lfRetentionTime = -1.0; // seconds; negative or NaN: not known
    std::string strActivation;     // as recorded: "CID", "HCD", "ETD", "ECD", "EThcD"; empty: not known
    std::string strTitle;

    static CPairRecord FromSpectrum(const CSpectrum& s, int list, unsigned int index);
};

struct CPairingSettings {
    EPairingMode eMode = EPairingMode::PRECURSOR;
    double lfPrecursorTol = 20.0;  // half-width, ppm of the mass or Da (as pep_tol)
    bool bPrecursorTolPpm = true;
    int nScanWindow = 10;          // largest scan distance of a pair; negative: no limit
    double lfRtWindow = 10.0;      // largest retention-time distance, s; negative: no limit
};

// One piece of sequencing work: positions in the record vector given to
// CPairing::Pair, -1 for the missing side. Both set: a pair; only nHcd: a
// lone HCD spectrum; only nEtd: a lone ETD spectrum.
struct CPairUnit {
    int nHcd = -1;
    int nEtd = -1;
    bool operator==(const CPairUnit&) const = default;
};

struct CPairingResult {
    std::vector<CPairUnit> vUnits;     // every record exactly once, in the output order above
    std::vector<CPairUnit> vRejected;  // ORDER: positional pairs not formed, in HCD title order
    unsigned int nPairs = 0;
    unsigned int nLoneHcd = 0;         // includes the HCD sides of rejected pairs
    unsigned int nLoneEtd = 0;         // includes the ETD sides of rejected pairs
    unsigned int nRejected = 0;        // == vRejected.size()
    unsigned int nOutsideWindow = 0;   // lone HCD spectra whose only precursor matches lay outside the windows
    bool bByPosition = false;          // the pairs are the positional ones (ORDER, or sides that line up)
    std::vector<std::string> vNotes;   // one line each, for the console and the run summary
};

class CPairing {
public:
    explicit CPairing(const CPairingSettings& settings) : m_Settings(settings) {}

    // Pairs the records; deterministic, independent of the records' order
    // except through list and index on equal titles.
    CPairingResult Pair(const std::vector<CPairRecord>& records);

    // 0: HCD side (CID, HCD), 1: ETD side (ETD, ECD, EThcD), -1: not known.
    // Case is ignored.
    static int ActivationSide(std::string_view activation);
    // "precursor" or "order" (case ignored); false leaves mode unchanged.
    static bool ParseMode(std::string_view text, EPairingMode& mode);

    // True when two precursors [M+H]+ are close under the settings.
    bool Close(double a, double b) const;

private:
    // A record reduced to what the sweep reads, kept contiguous.
    struct CKey {
        double lfMass;
        double lfRt;
        int nCharge;
        int nScan;
        unsigned int nRec;   // position in the record vector
        unsigned int nRank;  // position in its side's title order
    };
    // An admissible pair; sorted nearest first.
    struct CCandidate {
        long long nScanDist;
        double lfRtDist;
        double lfMassDist;
        unsigned int nHcdRank, nEtdRank;
    };

    void _Sides(const std::vector<CPairRecord>& records, CPairingResult& result);
    void _SortByTitle(const std::vector<CPairRecord>& records, std::vector<unsigned int>& side) const;
    bool _Agree(const CPairRecord& h, const CPairRecord& e) const;
    void _MatchByPosition(const std::vector<CPairRecord>& records, CPairingResult& result);
    void _MatchByPrecursor(const std::vector<CPairRecord>& records, CPairingResult& result);
    bool _InWindow(const CKey& h, const CKey& e) const;
    void _Emit(CPairingResult& result) const;

    CPairingSettings m_Settings;
    // Scratch reused between calls: record positions of each side in title
    // order, and the partner of each by title rank (-1: none).
    std::vector<unsigned int> m_vHcd, m_vEtd;
    std::vector<int> m_vHcdPartner, m_vEtdPartner;
    std::vector<CKey> m_vHcdKeys, m_vEtdKeys;
    std::vector<CCandidate> m_vCandidates;
};
