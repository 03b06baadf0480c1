#include "input/MzMLInput.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "input/TextScan.h"

namespace {

inline bool Is(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

double Number(const char* text) { return textscan::Atof(text, text + std::strlen(text)); }
int Integer(const char* text) { return textscan::Atoi(text, text + std::strlen(text)); }

bool SameNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if ((*a | 0x20) != (*b | 0x20)) return false;
    return *a == *b;
}

// A count attribute: plain decimal digits, below 2^31.
bool Length(const pugi::xml_attribute& a, size_t& n) {
    const char* p = a.value();
    if (!a || *p < '0' || *p > '9') return false;
    char* end;
    const unsigned long long v = std::strtoull(p, &end, 10);
    if (*end != '\0' || v >= (1ULL << 31)) return false;
    n = static_cast<size_t>(v);
    return true;
}

}  // namespace

int CMzMLInput::ScanFromId(const char* id, bool* outOfRange) {
    if (outOfRange != nullptr) *outOfRange = false;
    for (const char* p = std::strstr(id, "scan="); p != nullptr; p = std::strstr(p + 1, "scan=")) {
        if (p != id && p[-1] != ' ') continue;  // "subscan=" is another key
        const char* v = p + 5;
        if (*v < '0' || *v > '9') return -1;
        int scan = -1;
        if (!textscan::ReadScan(v, v + std::strlen(v), scan) && outOfRange != nullptr) *outOfRange = true;
        return scan;
    }
    return -1;
}

template <typename Fn>
pugi::xml_node CMzMLInput::_ForEachCv(const pugi::xml_node& node, Fn fn) const {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (Is(c.name(), "cvParam")) {
            if (fn(c)) return c;
        } else if (Is(c.name(), "referenceableParamGroupRef")) {
            const auto g = m_mapGroups.find(std::string_view(c.attribute("ref").value()));
            if (g == m_mapGroups.end()) continue;
            for (pugi::xml_node d = g->second.child("cvParam"); d; d = d.next_sibling("cvParam"))
                if (fn(d)) return d;
        }
    }
    return {};
}

pugi::xml_node CMzMLInput::_Cv(const pugi::xml_node& node, const char* accession) const {
    return _ForEachCv(node, [accession](const pugi::xml_node& c) { return Is(c.attribute("accession").value(), accession); });
}

void CMzMLInput::_ReadHeader(CXmlStream& stream) {
    m_mapGroups.clear();
    m_mapGroupLevel.clear();
    m_docGroups.reset();
    // Parameter groups come before the run; their cv terms count as written
    // where a group is referred to. Only a whole list met before the first
    // spectrum is taken, and nothing is passed over otherwise: a list in a
    // damaged place must not hide the spectra before it.
    size_t at, end;
    if (stream.Find("<referenceableParamGroupList", "<spectrum", 0, true, at) != 1) return;
    if (stream.Find("</referenceableParamGroupList>", "<spectrum", at, true, end) != 1) return;
    end += 30;
    m_vGroupText.assign(stream.Data() + at, stream.Data() + end);
    stream.Consume(end);
    if (!m_docGroups.load_buffer_inplace(m_vGroupText.data(), m_vGroupText.size(), pugi::parse_escapes,
                                         pugi::encoding_utf8))
        return;
    for (pugi::xml_node g = m_docGroups.first_child().child("referenceableParamGroup"); g;
         g = g.next_sibling("referenceableParamGroup")) {
        const std::string id = g.attribute("id").value();
        m_mapGroups[id] = g;
        int level = 0;
        for (pugi::xml_node c = g.child("cvParam"); c; c = c.next_sibling("cvParam"))
            if (Is(c.attribute("accession").value(), "MS:1000511")) level = Integer(c.attribute("value").value());
        m_mapGroupLevel[id] = level;
    }
}

int CMzMLInput::_MsLevel(const char* p, size_t n) const {
    // Base64 holds no ':', so the accession is found only where it is written.
    const char* at = static_cast<const char*>(memmem(p, n, "MS:1000511", 10));
    if (at == nullptr) {
        // A parameter group may state it: <referenceableParamGroupRef ref="..."/>.
        constexpr std::string_view kRef = "<referenceableParamGroupRef";
        for (const char* r = static_cast<const char*>(memmem(p, n, kRef.data(), kRef.size())); r != nullptr;
             r = static_cast<const char*>(memmem(r + 1, static_cast<size_t>(p + n - r - 1), kRef.data(), kRef.size()))) {
            const char* q = static_cast<const char*>(memmem(r, static_cast<size_t>(p + n - r), "ref=", 4));
            if (q == nullptr || q + 5 >= p + n) break;
            const char quote = q[4];
            const char* b = q + 5;
            const char* e = static_cast<const char*>(std::memchr(b, quote, static_cast<size_t>(p + n - b)));
            if (e == nullptr) break;
            const auto g = m_mapGroupLevel.find(std::string_view(b, static_cast<size_t>(e - b)));
            if (g != m_mapGroupLevel.end() && g->second > 0) return g->second;
        }
        return memmem(p, n, "<precursor", 10) != nullptr ? 2 : 1;
    }
    // The value attribute of the same tag, before or after the accession.
    const char* lt = at;
    while (lt > p && *lt != '<') --lt;
    const char* gt = static_cast<const char*>(std::memchr(at, '>', static_cast<size_t>(p + n - at)));
    if (gt == nullptr) gt = p + n;
    for (const char* v = lt + 1; v + 7 < gt; ++v) {
        if (std::memcmp(v, "value=", 6) == 0 && (v[-1] == ' ' || v[-1] == '\t' || v[-1] == '\n' || v[-1] == '\r'))
            return textscan::Atoi(v + 7, gt);
    }
    return 0;
}

std::string CMzMLInput::_Read(const pugi::xml_node& element, CSpectrum& s) {
    if (!Is(element.name(), "spectrum")) return "not a spectrum element";
    size_t length = 0;
    if (!Length(element.attribute("defaultArrayLength"), length)) return "no valid defaultArrayLength attribute";
    const char* id = element.attribute("id").value();

    // Title: the title term, else a TITLE user parameter, else the id.
    s.m_strTitle = _Cv(element, "MS:1000796").attribute("value").value();
    if (s.m_strTitle.empty())
        for (pugi::xml_node u = element.child("userParam"); u; u = u.next_sibling("userParam"))
            if (SameNoCase(u.attribute("name").value(), "TITLE")) {
                s.m_strTitle = u.attribute("value").value();
                break;
            }
    if (s.m_strTitle.empty()) s.m_strTitle = id;
    _StripIdSuffix(s.m_strTitle, id);
    if (s.m_strTitle.empty()) s.m_strTitle = _FallbackTitle();
    bool outOfRange = false;
    s.m_nScan = ScanFromId(id, &outOfRange);
    if (outOfRange)
        _Warn(m_strPath, m_nCurrent + 1, s.m_strTitle,
              std::string("the scan number of the id \"") + id + "\" is above 2147483647; the scan is taken as not given");

    const pugi::xml_node scan = element.child("scanList").child("scan");
    if (const pugi::xml_node rt = _Cv(scan, "MS:1000016")) {
        const double t = Number(rt.attribute("value").value());
        const bool minutes = Is(rt.attribute("unitAccession").value(), "UO:0000031") ||
                             Is(rt.attribute("unitName").value(), "minute");
        s.m_lfRetentionTime = minutes ? t * 60.0 : t;
    }

    const pugi::xml_node precursor = element.child("precursorList").child("precursor");
    const pugi::xml_node ion = precursor.child("selectedIonList").child("selectedIon");
    double mz = 0.0;
    int z = 2;
    if (const pugi::xml_node c = _Cv(ion, "MS:1000744")) {
        if (!c.attribute("value")) return "selected ion m/z without a value attribute";
        mz = Number(c.attribute("value").value());
    } else if (const pugi::xml_node t = _Cv(precursor.child("isolationWindow"), "MS:1000827")) {
        mz = Number(t.attribute("value").value());
    }
    if (const pugi::xml_node c = _Cv(ion, "MS:1000041")) z = _Charge(c.attribute("value").value(), s.m_strTitle);
    s.m_nCharge = z;
    s.m_lfPrecursorMH = _PrecursorMH(mz, z);

    bool cid = false, hcd = false, etd = false, ecd = false, ethcd = false;
    _ForEachCv(precursor.child("activation"), [&](const pugi::xml_node& c) {
        const char* a = c.attribute("accession").value();
        if (Is(a, "MS:1000133") || Is(a, "MS:1002679")) cid = true;
        else if (Is(a, "MS:1000422") || Is(a, "MS:1002481") || Is(a, "MS:1002678")) hcd = true;
        else if (Is(a, "MS:1000598")) etd = true;
        else if (Is(a, "MS:1000250")) ecd = true;
        else if (Is(a, "MS:1002631")) ethcd = true;
        return false;
    });
    // ETD with supplemental beam-type collisions is EThcD; with ion-trap
    // collisions the electron part still decides the fragment series.
    s.m_strActivationRead = ethcd || (etd && hcd) ? "EThcD" : etd ? "ETD" : ecd ? "ECD" : hcd ? "HCD" : cid ? "CID" : "";

    const std::string why = _ReadArrays(element, length);
    if (!why.empty()) return why;
    _SetPeaks(m_vMz, m_vIntensity, s);
    return "";
}

std::string CMzMLInput::_ReadArrays(const pugi::xml_node& element, size_t length) {
    bool haveMz = false, haveIntensity = false;
    m_vMz.clear();
    m_vIntensity.clear();
    for (pugi::xml_node a = element.child("binaryDataArrayList").child("binaryDataArray"); a;
         a = a.next_sibling("binaryDataArray")) {
        CArrayEncoding enc;
        int kind = 0;  // 1 m/z, 2 intensity, 0 another array
        _ForEachCv(a, [&](const pugi::xml_node& c) {
            const char* acc = c.attribute("accession").value();
            if (std::strncmp(acc, "MS:100", 6) != 0) return false;
            const int code = std::atoi(acc + 3);
            switch (code) {
                case 1000514: kind = 1; break;
                case 1000515: kind = 2; break;
                case 1000521: enc.nBits = 32; break;
                case 1000523: enc.nBits = 64; break;
                case 1000574: enc.bZlib = true; break;
                case 1002312: enc.eNumpress = CArrayEncoding::LINEAR; break;
                case 1002313: enc.eNumpress = CArrayEncoding::PIC; break;
                case 1002314: enc.eNumpress = CArrayEncoding::SLOF; break;
                case 1002746: enc.eNumpress = CArrayEncoding::LINEAR; enc.bZlib = true; break;
                case 1002747: enc.eNumpress = CArrayEncoding::PIC; enc.bZlib = true; break;
                case 1002748: enc.eNumpress = CArrayEncoding::SLOF; enc.bZlib = true; break;
                default: break;
            }
            return false;
        });
        if (kind == 0) continue;
        size_t n = length;
        if (pugi::xml_attribute al = a.attribute("arrayLength"); al && !Length(al, n))
            return "bad arrayLength attribute";
        const char* text = a.child("binary").child_value();
        std::vector<double>& out = kind == 1 ? m_vMz : m_vIntensity;
        const std::string why = m_decoder.Decode(text, std::strlen(text), enc, n, out);
        if (!why.empty()) return (kind == 1 ? "m/z array: " : "intensity array: ") + why;
        (kind == 1 ? haveMz : haveIntensity) = true;
    }
    if (length > 0 && !haveMz) return "no m/z array";
    if (length > 0 && !haveIntensity) return "no intensity array";
    if (m_vMz.size() != m_vIntensity.size()) return "m/z and intensity arrays differ in length";
    return "";
}
