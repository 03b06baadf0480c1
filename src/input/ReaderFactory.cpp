#include "input/ReaderFactory.h"

#include <cctype>

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
