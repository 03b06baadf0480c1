#include "input/MzXMLInput.h"

#include <cstdlib>
#include <cstring>

#include "input/TextScan.h"

namespace {

inline bool Is(const char* a, const char* b) { return std::strcmp(a, b) == 0; }
inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

double CMzXMLInput::DurationSeconds(const char* t) {
    const bool negative = *t == '-';
    if (negative) ++t;
    if (*t != 'P') return -1.0;
    ++t;
    double total = 0.0;
    bool time = false;
    while (*t != '\0') {
        if (*t == 'T') {
            time = true;
            ++t;
            continue;
        }
        char* end;
        const double v = std::strtod(t, &end);
        if (end == t) return -1.0;
        switch (*end) {
            case 'D': total += v * 86400.0; break;
            case 'H': total += v * 3600.0; break;
            case 'M': if (!time) return -1.0; total += v * 60.0; break;  // months are no run time
            case 'S': total += v; break;
            default: return -1.0;
        }
        t = end + 1;
    }
    return negative ? -total : total;
}

int CMzXMLInput::_MsLevel(const char* p, size_t n) const {
    const char* gt = static_cast<const char*>(std::memchr(p, '>', n));
    if (gt == nullptr) gt = p + n;
    for (const char* v = p + 1; v + 9 < gt; ++v)
        if (std::memcmp(v, "msLevel=", 8) == 0 && IsSpace(v[-1])) return textscan::Atoi(v + 9, gt);
    return memmem(p, n, "<precursorMz", 12) != nullptr ? 2 : 1;
}

std::string CMzXMLInput::_Read(const pugi::xml_node& element, CSpectrum& s) {
    if (!Is(element.name(), "scan")) return "not a scan element";
    const pugi::xml_attribute count = element.attribute("peaksCount");
    const char* countText = count.value();
    char* end;
    const unsigned long long pairs = std::strtoull(countText, &end, 10);
    if (!count || *countText < '0' || *countText > '9' || *end != '\0' || pairs >= (1ULL << 30))
        return "no valid peaksCount attribute";
    const char* num = element.attribute("num").value();
    s.m_nScan = *num >= '0' && *num <= '9' ? _Scan(num, "") : -1;
    if (const pugi::xml_attribute rt = element.attribute("retentionTime")) {
        const char* t = rt.value();
        // "-PT1S" is what a converter writes for "no time"; negative means not given.
        if (*t == '-' || *t == 'P') s.m_lfRetentionTime = DurationSeconds(t);
    }

    for (pugi::xml_node v = element.child("nameValue"); v; v = v.next_sibling("nameValue"))
        if (Is(v.attribute("name").value(), "TITLE") || Is(v.attribute("name").value(), "title")) {
            s.m_strTitle = v.attribute("value").value();
            break;
        }
    // The native ids of an mzXML scan: its number, or its position in the file.
    _StripIdSuffix(s.m_strTitle, "scan=" + std::string(num));
    _StripIdSuffix(s.m_strTitle, "index=" + std::to_string(m_nElement));
    if (s.m_strTitle.empty()) s.m_strTitle = _FallbackTitle();

    const pugi::xml_node precursor = element.child("precursorMz");
    const char* mzText = precursor.child_value();
    const double mz = textscan::Atof(mzText, mzText + std::strlen(mzText));
    int z = 2;
    if (const pugi::xml_attribute c = precursor.attribute("precursorCharge")) {
        z = _Charge(c.value(), s.m_strTitle);
    }
    s.m_nCharge = z;
    s.m_lfPrecursorMH = _PrecursorMH(mz, z);
    const char* method = precursor.attribute("activationMethod").value();
    s.m_strActivationRead = textscan::ActivationName(method, method + std::strlen(method));

    m_vMz.clear();
    m_vIntensity.clear();
    if (pairs > 0) {
        const pugi::xml_node peaks = element.child("peaks");
        if (!peaks) return "no peaks element";
        const char* content = peaks.attribute("contentType").value();
        const char* order = peaks.attribute("pairOrder").value();
        if ((*content && !Is(content, "m/z-int")) || (*order && !Is(order, "m/z-int")))
            return std::string("peaks of content type ") + content + order + " are not read";
        CArrayEncoding enc;
        const char* precision = peaks.attribute("precision").value();
        enc.nBits = *precision == '\0' ? 32 : std::atoi(precision);
        // The format fixes network byte order; "little" is read when stated.
        enc.bBigEndian = !Is(peaks.attribute("byteOrder").value(), "little");
        enc.bZlib = Is(peaks.attribute("compressionType").value(), "zlib");
        const char* text = peaks.child_value();
        const std::string why = m_decoder.Decode(text, std::strlen(text), enc, 2 * pairs, m_vMz);
        if (!why.empty()) return "peaks: " + why;
        // Pairs are interleaved: split them into the two arrays.
        m_vIntensity.resize(pairs);
        for (size_t i = 0; i < pairs; ++i) {
            m_vIntensity[i] = m_vMz[2 * i + 1];
            m_vMz[i] = m_vMz[2 * i];
        }
        m_vMz.resize(pairs);
    }
    _SetPeaks(m_vMz, m_vIntensity, s);
    return "";
}
