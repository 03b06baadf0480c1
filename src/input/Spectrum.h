#pragma once
// Spectrum and peak records: plain value types, copied freely between the
// readers, the run driver, preprocessing, the graph and the scorer.

#include <string>
#include <vector>

// One peak. Masses in Da / m/z units.
struct CPeak {
    double lfMz = 0.0;           // m/z as read; singly charged after preprocessing
    double lfIntensity = 0.0;    // as read; relative (0..1] after normalisation
    double lfLogIntensity = 0.0; // ln(raw intensity), set at normalisation
    int nOrder = 0;              // 0-based position in the spectrum as read
    int nType = 0;               // interpretation code of a node peak (1..6)
    double lfKeyMz = 0.0;        // m/z as read, never changed after normalisation
    int nCharge = 0;             // fragment charge assigned by preprocessing

    static bool Mz_Less(const CPeak& a, const CPeak& b) { return a.lfMz < b.lfMz; }
};

// One MS/MS spectrum.
struct CSpectrum {
    std::string m_strTitle;
    double m_lfPrecursorMH = 0.0;   // precursor as [M+H]+ in Da
    int m_nCharge = 0;              // precursor charge
    std::vector<CPeak> m_vPeaks;    // file order after reading, ascending lfMz after preprocessing
    std::vector<int> m_vHashTable;  // entry k: smallest peak index whose trunc(lfKeyMz) >= k
    std::string m_strActivation;    // "HCD" / "ETD", set by the driver; empty when no peaks
    // What the file says about the spectrum, when it says it (kept for the
    // output and for pairing; sequencing does not read them).
    int m_nScan = -1;                   // scan number; -1: not given
    double m_lfRetentionTime = -1.0;    // seconds; negative: not given
    std::string m_strActivationRead;    // "CID", "HCD", "ETD", "ECD", "EThcD"; empty: not given
    unsigned int m_nIndex = 0;          // 0-based position among the file's MS2 spectra (set by the driver)
    long long m_nFileIndex = -1;        // the spectrum's index as the file gives it (mzML: among all
                                        // spectra, MS1 too); -1: the file gives none (m_nIndex then)

    // The index people find the spectrum by in its file.
    long long FileIndex() const { return m_nFileIndex >= 0 ? m_nFileIndex : static_cast<long long>(m_nIndex); }

    // Title order: plain unsigned byte comparison, shorter first on a tie.
    static bool SCANLESS(const CSpectrum& a, const CSpectrum& b) { return a.m_strTitle < b.m_strTitle; }

    // Rebuilds m_vHashTable from the peaks' lfKeyMz in their current order:
    // (largest integer key) + 1 entries. Keys of 2^24 and above count as
    // 2^24; negative and NaN keys own no bucket.
    void Create_Hash_Table();
};
