#include "input/ReaderFactory.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "input/DTAInput.h"
#include "input/MGFInput.h"
#include "input/MS2Input.h"
#include "input/MzMLInput.h"
#include "input/MzXMLInput.h"

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::unique_ptr<CInput> MakeReader(const std::string& type) {
    const std::string t = Upper(type);
    if (t == "DTA") return std::make_unique<CDTAInput>();
    if (t == "MGF") return std::make_unique<CMGFInput>();
    if (t == "MS2") return std::make_unique<CMS2Input>();
    if (t == "MZML") return std::make_unique<CMzMLInput>();
    if (t == "MZXML") return std::make_unique<CMzXMLInput>();
    return nullptr;
}

bool IsDatasetFileName(const std::string& name, const std::string& type) {
    // Names of one or two bytes are never datasets (".", "..").
    if (name.size() <= 2) return false;
    const std::string t = Upper(type);
    // The XML formats came later and take their endings in any case, also
    // gzip-compressed.
    if (t == "MZML" || t == "MZXML") {
        const std::string u = Upper(name);
        const std::string ending = "." + t;
        return EndsWith(u, ending) || EndsWith(u, ending + ".GZ");
    }
    // Folder mode has always taken the all-capital and all-small endings
    // only ("x.MGF", "x.mgf"), not mixed ones.
    const std::string ending = t == "MS2" ? "MS2" : "MGF";
    std::string lower = ending;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return EndsWith(name, ending) || EndsWith(name, lower);
}

std::string SpectrumTypeOfName(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return "DTA";
    const std::string u = Upper(path.substr(path.find_last_of('/') + 1));
    for (const char* type : {"mzML", "mzXML"}) {
        const std::string ending = "." + Upper(type);
        if (EndsWith(u, ending) || EndsWith(u, ending + ".GZ")) return type;
    }
    if (EndsWith(u, ".MGF")) return "MGF";
    if (EndsWith(u, ".MS2")) return "MS2";
    return "";
}

std::string SpectrumTypeOfContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char buf[4096];
    in.read(buf, sizeof buf);
    const std::string head(buf, static_cast<size_t>(std::max<std::streamsize>(0, in.gcount())));
    if (head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1f && static_cast<unsigned char>(head[1]) == 0x8b)
        return "gzip";
    if (head.find('\0') != std::string::npos) return "binary";
    if (head.find("<mzML") != std::string::npos || head.find("<indexedmzML") != std::string::npos) return "mzML";
    if (head.find("<mzXML") != std::string::npos) return "mzXML";
    // Text formats: the first meaningful lines.
    std::istringstream lines(head);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        const std::string u = Upper(line);
        if (u == "BEGIN IONS" || u.rfind("PEPMASS=", 0) == 0 || u.rfind("TITLE=", 0) == 0 ||
            u.rfind("CHARGE=", 0) == 0 || u.rfind("COM=", 0) == 0 || u.rfind("MASS=", 0) == 0)
            return "MGF";
        if ((line[0] == 'H' || line[0] == 'S') && line.size() > 1 && (line[1] == '\t' || line[1] == ' ')) return "MS2";
        return "";
    }
    return "";
}
