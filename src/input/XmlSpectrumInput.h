#pragma once
// Common part of the XML spectrum readers (mzML, mzXML): the file is read as
// a stream (plain or gzip-compressed) and cut into one spectrum element at a
// time, which alone is handed to the XML parser, so memory follows the
// largest spectrum, not the file.
//
// Only MS2 spectra are delivered; the others are skipped. Count is a cheap
// text pass over the file (the MS level is read from the element's text
// without parsing it); Browse keeps its position between calls.
//
// A damaged spectrum inside well-formed XML (bad base64, damaged zlib or
// numpress data, arrays of the wrong length, a missing required attribute)
// is skipped: one "[error]\t..." line names the file, the spectrum element
// (0-based, all MS levels) and its byte offset (in the uncompressed text),
// Skipped() counts it, Failed() becomes true, and reading goes on with the
// next element. Damage to the file itself (a cut file, malformed XML, an
// empty file) ends the reading: the spectra before it are delivered, one
// such line says so, Failed() becomes true and every further Browse returns
// 0. A file is whole when its run's closing tag is reached; Browse checks
// that once the counted spectra have been delivered.
//
// Titles that a converter made unique by appending "_" and the spectrum's
// native id ("x_index=0", "x_scan=17") lose that suffix, so that a file
// converted from MGF keeps the MGF's titles. A spectrum with no title at
// all is named "BASE.index.N" (file name without folders and extensions,
// N its 0-based position among the delivered spectra), as in the MGF reader.

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "input/BinaryDecoder.h"
#include "input/Input.h"
#include "input/XmlStream.h"

class CXmlSpectrumInput : public CInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;
    bool Close() override;

protected:
    // openTag: "<spectrum" / "<scan"; closeTag: "</spectrum>" / "</scan>";
    // runEnd: the text that closes the run ("</run" / "</msRun").
    // nested: elements may contain further elements of their kind (mzXML
    // scans); the element is then cut before the first inner one.
    CXmlSpectrumInput(std::string_view openTag, std::string_view closeTag, std::string_view runEnd, bool nested)
        : m_strOpenTag(openTag), m_strCloseTag(closeTag), m_strRunEnd(runEnd), m_bNested(nested) {}

    // Reads what the file says before its spectra (called by Count, with
    // the stream at the start of the file); it may consume text up to the
    // first spectrum element.
    virtual void _ReadHeader(CXmlStream& /*stream*/) {}
    // MS level of the element text [p, p + n) read without parsing it.
    virtual int _MsLevel(const char* p, size_t n) const = 0;
    // Fills s from the parsed element; returns "" or what is wrong with it.
    virtual std::string _Read(const pugi::xml_node& element, CSpectrum& s) = 0;

    // The title for a spectrum whose element names none.
    std::string _FallbackTitle() const;
    // Removes a trailing "_" + id from title when title is longer than that.
    static void _StripIdSuffix(std::string& title, std::string_view id);
    // [M+H]+ (Da) of a precursor m/z at charge z, as the MGF reader makes it.
    static double _PrecursorMH(double mz, int z);
    // The precursor charge written as text: z, or 0 with a warning when it
    // is no charge, negative or above INT_MAX (an impossible precursor).
    int _Charge(const char* text, const std::string& title);
    // A scan number written as text: the number, or -1 (not given) with a
    // warning when it is negative or above INT_MAX.
    int _Scan(const char* text, const std::string& title);
    // The peaks of parallel m/z and intensity arrays, in array order; pairs
    // with a non-finite value are dropped.
    static void _SetPeaks(const std::vector<double>& mz, const std::vector<double>& in, CSpectrum& s);

    std::string m_strPath;
    unsigned int m_nTotal = 0;
    unsigned int m_nCurrent = 0;
    unsigned long long m_nElement = 0;  // 0-based number of the element being read (all MS levels)
    CBinaryDecoder m_decoder;
    std::vector<double> m_vMz;          // scratch arrays of the spectrum being read
    std::vector<double> m_vIntensity;

private:
    enum EStep { ELEMENT, RUN_END, NO_RUN_END, CUT, UNCLOSED, READ_ERROR };
    // Cuts the next element: on ELEMENT it starts at m_stream.Data() and
    // spans len bytes; closeIt tells that the closing tag must be added.
    EStep _Next(size_t& len, bool& closeIt);
    // Find over the stream; a hit of a needle that opens a tag counts only
    // when a white space, '>' or '/' follows it. -1: the file ends right
    // after such a needle.
    int _FindTag(std::string_view a, std::string_view b, size_t from, bool keep, size_t& at);
    // Parses the element at m_stream.Data() into s; returns "" or why not.
    // xml tells that the element's XML is malformed (not only its content).
    std::string _Parse(size_t len, bool closeIt, CSpectrum& s, bool& xml);
    // The end of the elements: ends reading, reporting anything but RUN_END.
    void _Finish(EStep step);
    void _Stop(const std::string& why);
    // Reports a damaged spectrum that is skipped.
    void _Skip(const std::string& why);

    std::string_view m_strOpenTag, m_strCloseTag, m_strRunEnd;
    bool m_bNested;
    CXmlStream m_stream;
    std::string m_strBaseName;
    bool m_bDone = true;                // nothing more to read
    std::vector<char> m_vElement;       // the element's text, parsed in place
    pugi::xml_document m_doc;
};
