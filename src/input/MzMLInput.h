#pragma once
// Reader of mzML files (indexed or not, plain or gzip-compressed; the index
// is not needed). Delivers the MS2 spectra in file order:
// - precursor: the first selected ion's m/z (the isolation window target
//   when no selected ion m/z is given) and charge (2 when none is given),
//   converted to [M+H]+ (Da) as the MGF reader does;
// - peaks: the m/z and intensity arrays in array order (32/64-bit floats,
//   zlib, numpress linear / pic / slof, alone or followed by zlib);
// - m_nScan from the "scan=" part of the id, m_lfRetentionTime from the
//   scan start time (seconds; minutes converted), m_strActivationRead from
//   the activation's cv terms (CID, HCD, ETD, ECD, EThcD);
// - title: the spectrum title cv term, else a TITLE user parameter, else the
//   id (see CXmlSpectrumInput for the suffix rule and the fallback).
// A spectrum without defaultArrayLength, or whose arrays cannot be decoded
// or do not match that length, is damaged and skipped (see
// CXmlSpectrumInput). A charge that is negative or above INT_MAX is read as
// 0 (an impossible precursor), a scan number above INT_MAX as not given,
// each with a warning.

#include <map>
#include <string>
#include <vector>

#include "input/XmlSpectrumInput.h"

class CMzMLInput : public CXmlSpectrumInput {
public:
    CMzMLInput() : CXmlSpectrumInput("<spectrum", "</spectrum>", "</run", false) {}

    // The scan number in a native id ("controllerType=0 controllerNumber=1
    // scan=17" gives 17); -1 when it names none or one above INT_MAX (then
    // *outOfRange, when given, is set).
    static int ScanFromId(const char* id, bool* outOfRange = nullptr);

protected:
    void _ReadHeader(CXmlStream& stream) override;
    int _MsLevel(const char* p, size_t n) const override;
    std::string _Read(const pugi::xml_node& element, CSpectrum& s) override;

private:
    std::string _ReadArrays(const pugi::xml_node& element, size_t length);
    // The cvParam children of node, those of the parameter groups it refers
    // to included; stops early when fn returns true (and returns that node).
    template <typename Fn>
    pugi::xml_node _ForEachCv(const pugi::xml_node& node, Fn fn) const;
    pugi::xml_node _Cv(const pugi::xml_node& node, const char* accession) const;

    // The file's referenceable parameter groups (by id) and the MS level
    // each of them states (0: none).
    pugi::xml_document m_docGroups;
    std::vector<char> m_vGroupText;
    std::map<std::string, pugi::xml_node, std::less<>> m_mapGroups;
    std::map<std::string, int, std::less<>> m_mapGroupLevel;
};
