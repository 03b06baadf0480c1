#pragma once
// Reader of mzXML files (plain or gzip-compressed; the index is not needed).
// Delivers the MS2 scans in file order, inner scans included:
// - precursor: the first precursorMz's value and precursorCharge (2 when
//   none is given), converted to [M+H]+ (Da) as the MGF reader does;
// - peaks: the m/z-intensity pairs of the peaks element (32/64-bit floats
//   in network byte order, zlib or none), in file order;
// - m_nScan = the num attribute, m_lfRetentionTime from retentionTime (an
//   xs:duration such as "PT12.5S", in seconds), m_strActivationRead from
//   activationMethod;
// - title: a TITLE nameValue (see CXmlSpectrumInput for the suffix rule and
//   the fallback).
// A scan without peaksCount, with peaks that cannot be decoded or do not hold
// peaksCount pairs, or with peaks of another content type is damaged and
// skipped (see CXmlSpectrumInput). A charge that is negative or above
// INT_MAX is read as 0 (an impossible precursor), a num above INT_MAX as
// not given, each with a warning.

#include "input/XmlSpectrumInput.h"

class CMzXMLInput : public CXmlSpectrumInput {
public:
    CMzXMLInput() : CXmlSpectrumInput("<scan", "</scan>", "</msRun", true) {}

    // Seconds of an xs:duration ("PT1M30.5S" gives 90.5, "-PT1S" -1); -1
    // when the text is no duration.
    static double DurationSeconds(const char* text);

protected:
    int _MsLevel(const char* p, size_t n) const override;
    std::string _Read(const pugi::xml_node& element, CSpectrum& s) override;
};
