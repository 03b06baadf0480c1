#include "input/ReaderFactory.h"

#include <cctype>

#include "input/DTAInput.h"
#include "input/MGFInput.h"
#include "input/MS2Input.h"

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
    return nullptr;
}

bool IsDatasetFileName(const std::string& name, const std::string& type) {
    // Names of one or two bytes are never datasets (".", "..").
    if (name.size() <= 2) return false;
    // Folder mode has always taken the all-capital and all-small endings
    // only ("x.MGF", "x.mgf"), not mixed ones.
    const std::string ending = Upper(type) == "MS2" ? "MS2" : "MGF";
    std::string lower = ending;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return EndsWith(name, ending) || EndsWith(name, lower);
}
