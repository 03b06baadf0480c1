#pragma once
// Per-spectrum cleaning before graph construction: isotope clusters with
// charge assignment, conversion to singly charged m/z, merging of close
// neighbouring peaks, removal of precursor peaks. One object per worker; its
// buffers are reused from one spectrum to the next, no state carries over.

#include <vector>

#include "conditions/Condition.h"
#include "input/Spectrum.h"

class CPreprocessONE {
public:
    explicit CPreprocessONE(const CCondition* pCondition) : m_pCondition(pCondition) {}
    virtual ~CPreprocessONE() = default;

    // Cleans the spectrum in place; peaks come out in ascending lfMz.
    void PreProcess(CSpectrum& spec);

    void _Deisotope(CSpectrum& spec);
    bool _DeisotopeChargeHCD(const CSpectrum& spec, const unsigned int& start, CSpectrum& out, const int& charge,
                             std::vector<int>& chargeOf);
    void _TranslateCharge(const CSpectrum& src, const int& index, CSpectrum& dst, const int& charge,
                          const double& factor);
    void _Merge(CSpectrum& spec);
    void _DelectProcorse(CSpectrum& spec);

private:
    const CCondition* m_pCondition;
    // Scratch reused between spectra (no state carries over): the deisotoped
    // peak list being built, the charge assigned to each input peak (0: none
    // yet), and the ascending peak indices of the cluster being searched.
    CSpectrum m_work;
    std::vector<int> m_vChargeOf;
    std::vector<unsigned int> m_vMembers;
};
