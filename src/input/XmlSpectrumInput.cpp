#include "input/XmlSpectrumInput.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>

#include "common/Console.h"
#include "common/Masses.h"
#include "input/TextScan.h"

namespace {

inline bool EndsTagName(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '>' || c == '/'; }
inline bool OpensTag(std::string_view s) { return s.size() > 1 && s[0] == '<' && s[1] != '/'; }

// "x.mzML.gz" -> "x": the compression ending goes first.
std::string XmlBaseName(std::string path) {
    const size_t n = path.size();
    if (n > 3 && path[n - 3] == '.' && (path[n - 2] | 0x20) == 'g' && (path[n - 1] | 0x20) == 'z') path.resize(n - 3);
    return textscan::FileBaseName(path);
}

}  // namespace

unsigned int CXmlSpectrumInput::Count(const std::string& path) {
    Close();
    m_strPath = path;
    m_strBaseName = XmlBaseName(path);
    m_nTotal = m_nCurrent = 0;
    m_nSkipped = 0;
    m_nElement = 0;
    if (!m_stream.Open(path)) {
        console::Error() << "cannot open spectrum file " << textscan::Where(path) << ": " << std::strerror(errno);
        m_bFailed = true;
        return 0;
    }
    _ReadHeader(m_stream);
    // Counting stops at the first element that is not whole; Browse reports
    // the damage when it gets there.
    unsigned int count = 0;
    size_t len;
    bool closeIt;
    while (_Next(len, closeIt) == ELEMENT) {
        if (_MsLevel(m_stream.Data(), len) == 2) ++count;
        m_stream.Consume(len);
    }
    if (!m_stream.Open(path)) {
        console::Error() << "cannot open spectrum file " << textscan::Where(path) << ": " << std::strerror(errno);
        m_bFailed = true;
        return 0;
    }
    // Both passes start where the header ends, so they see the same elements
    // even when the header is damaged.
    _ReadHeader(m_stream);
    m_nElement = 0;
    m_nTotal = count;
    m_bDone = false;
    return count;
}

unsigned int CXmlSpectrumInput::Browse(std::vector<CSpectrum>& out, unsigned int n) {
    if (m_bDone) return 0;
    const unsigned int start = m_nCurrent;
    size_t len;
    bool closeIt;
    // Skipped spectra do not fill the batch: it ends early only at the end.
    while (m_nCurrent - start < n && m_nCurrent + m_nSkipped < m_nTotal) {
        const EStep step = _Next(len, closeIt);
        if (step != ELEMENT) {
            _Finish(step);
            return m_nCurrent - start;
        }
        if (_MsLevel(m_stream.Data(), len) != 2) {
            m_stream.Consume(len);
            ++m_nElement;
            continue;
        }
        CSpectrum& s = out.emplace_back();
        s.m_nFileIndex = static_cast<long long>(m_nElement);
        bool xml = false;
        const std::string why = _Parse(len, closeIt, s, xml);
        if (!why.empty()) {
            out.pop_back();
            if (xml) {
                _Stop(why);
                return m_nCurrent - start;
            }
            _Skip(why);
        } else {
            ++m_nCurrent;
        }
        m_stream.Consume(len);
        ++m_nElement;
    }
    // All counted spectra passed: the rest of the file must still be
    // whole, or the file was cut after its last complete spectrum.
    if (m_nCurrent + m_nSkipped >= m_nTotal) {
        EStep step;
        while ((step = _Next(len, closeIt)) == ELEMENT) {
            m_stream.Consume(len);
            ++m_nElement;
        }
        _Finish(step);
    }
    return m_nCurrent - start;
}

bool CXmlSpectrumInput::Close() {
    _EndProblems(m_strPath);
    m_stream.Close();
    m_bDone = true;
    return true;
}

int CXmlSpectrumInput::_FindTag(std::string_view a, std::string_view b, size_t from, bool keep, size_t& at) {
    for (;;) {
        const int r = m_stream.Find(a, b, from, keep, at);
        if (r == 0) return 0;
        const std::string_view hit = r == 1 ? a : b;
        if (!OpensTag(hit)) return r;
        // "<spectrumList" and "<scanOrigin" are other elements.
        if (!m_stream.Ensure(at + hit.size() + 1)) return m_stream.Error().empty() ? -1 : 0;
        if (EndsTagName(m_stream.Data()[at + hit.size()])) return r;
        from = at + 1;
    }
}

CXmlSpectrumInput::EStep CXmlSpectrumInput::_Next(size_t& len, bool& closeIt) {
    size_t at;
    const int r = _FindTag(m_strOpenTag, m_strRunEnd, 0, false, at);
    if (r < 0) return CUT;
    if (r == 0) return m_stream.Error().empty() ? NO_RUN_END : READ_ERROR;
    if (r == 2) return RUN_END;
    m_stream.Consume(at);
    // End of the start tag: an element written as <x .../> ends there.
    size_t gt;
    if (m_stream.Find(">", "", m_strOpenTag.size(), true, gt) == 0) return m_stream.Error().empty() ? CUT : READ_ERROR;
    closeIt = false;
    if (m_stream.Data()[gt - 1] == '/') {
        len = gt + 1;
        return ELEMENT;
    }
    // The search ends at the next element's start too, so an element whose
    // closing tag is lost does not pull the rest of the file into memory.
    const int e = _FindTag(m_strCloseTag, m_strOpenTag, gt + 1, true, at);
    if (e <= 0) return m_stream.Error().empty() ? CUT : READ_ERROR;
    if (e == 1) {
        len = at + m_strCloseTag.size();
        return ELEMENT;
    }
    if (!m_bNested) return UNCLOSED;
    len = at;
    closeIt = true;
    return ELEMENT;
}

std::string CXmlSpectrumInput::_Parse(size_t len, bool closeIt, CSpectrum& s, bool& xml) {
    m_vElement.assign(m_stream.Data(), m_stream.Data() + len);
    if (closeIt) m_vElement.insert(m_vElement.end(), m_strCloseTag.begin(), m_strCloseTag.end());
    const pugi::xml_parse_result res =
        m_doc.load_buffer_inplace(m_vElement.data(), m_vElement.size(), pugi::parse_escapes, pugi::encoding_utf8);
    xml = true;
    if (!res) return std::string("malformed XML (") + res.description() + ")";
    const pugi::xml_node element = m_doc.first_child();
    if (!element) return "malformed XML";
    xml = false;
    std::string why = _Read(element, s);
    textscan::BlankLineBreaks(s.m_strTitle);
    return why;
}

void CXmlSpectrumInput::_Finish(EStep step) {
    switch (step) {
        case ELEMENT:
        case RUN_END:
            m_stream.Close();
            m_bDone = true;
            break;
        case NO_RUN_END:
            _Stop(m_stream.BytesRead() == 0 ? "the file is empty"
                                            : "the file ends before its run is closed (cut short?)");
            break;
        case CUT: _Stop("the file ends inside this spectrum"); break;
        case UNCLOSED: _Stop("the spectrum element is not closed before the next one"); break;
        case READ_ERROR: _Stop(m_stream.Error()); break;
    }
}

void CXmlSpectrumInput::_Stop(const std::string& why) {
    if (!_Quiet())
        console::Error() << m_strPath << ": reading stopped at spectrum element " << m_nElement << " (byte "
                         << m_stream.Offset() << "): " << why << "; the " << m_nCurrent << " spectra before it are kept";
    m_bFailed = true;
    m_stream.Close();
    m_bDone = true;
}

void CXmlSpectrumInput::_Skip(const std::string& why) {
    ++m_nSkipped;
    m_bFailed = true;
    _Warn(m_strPath, 0, "",
          "spectrum element " + std::to_string(m_nElement) + " (byte " + std::to_string(m_stream.Offset()) + ") is damaged: " +
              why + "; it is skipped",
          true);
}

int CXmlSpectrumInput::_Charge(const char* text, const std::string& title) {
    int z = 0;
    const textscan::ECharge st = textscan::ReadCharge(text, text + std::strlen(text), z);
    if (st == textscan::ECharge::OK) return z;
    _Warn(m_strPath, m_nCurrent + 1, title,
          std::string("the precursor charge \"") + text + "\" is " +
              (st == textscan::ECharge::NONE ? "no charge" : st == textscan::ECharge::NEGATIVE ? "negative" : "out of range") +
              ": the precursor is unknown, so the spectrum is not sequenced");
    return 0;
}

int CXmlSpectrumInput::_Scan(const char* text, const std::string& title) {
    int scan = -1;
    if (!textscan::ReadScan(text, text + std::strlen(text), scan)) {
        _Warn(m_strPath, m_nCurrent + 1, title,
              std::string("the scan number ") + text + " is not from 0 to 2147483647; the scan is taken as not given");
        return -1;
    }
    return scan;
}

std::string CXmlSpectrumInput::_FallbackTitle() const {
    return m_strBaseName + ".index." + std::to_string(m_nCurrent);
}

void CXmlSpectrumInput::_StripIdSuffix(std::string& title, std::string_view id) {
    if (id.empty() || title.size() <= id.size() + 1) return;
    const size_t at = title.size() - id.size();
    if (title[at - 1] == '_' && title.compare(at, id.size(), id) == 0) title.resize(at - 1);
}

double CXmlSpectrumInput::_PrecursorMH(double mz, int z) { return mass::MHOfMz(mz, z); }

void CXmlSpectrumInput::_SetPeaks(const std::vector<double>& mz, const std::vector<double>& in, CSpectrum& s) {
    s.m_vPeaks.clear();
    s.m_vPeaks.reserve(mz.size());
    for (size_t i = 0; i < mz.size() && i < in.size(); ++i) {
        // A non-finite value would poison every sort and sum downstream.
        if (!std::isfinite(mz[i]) || !std::isfinite(in[i])) continue;
        CPeak& p = s.m_vPeaks.emplace_back();
        p.lfMz = mz[i];
        p.lfIntensity = in[i];
    }
}
