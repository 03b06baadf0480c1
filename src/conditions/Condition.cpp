#include "conditions/Condition.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "conditions/OptionTool.h"
#include "input/ReaderFactory.h"

namespace {

// Monoisotopic residue masses by capital letter (Da); 0: not a residue.
constexpr double kBuiltInResidueMass[26] = {
    71.03711,  0,         103.00919, 115.02694, 129.04259, 147.06841, 57.02146,  // A B C D E F G
    137.05891, 0,         0,         128.09496, 113.08406, 131.04049, 114.04293, // H I J K L M N
    0,         97.05276,  128.05858, 156.10111, 87.03203,  101.04768, 0,         // O P Q R S T U
    99.06841,  186.07931, 0,         163.06333, 0,                               // V W X Y Z
};

// Text and real values are read into a buffer of this size: up to 259 bytes.
constexpr int kValueBufferSize = 260;

// Upper bound on "spec_path", "HCDIONTYPE" and "ETDIONTYPE": every numbered
// key costs one full rescan of the file, so a mistyped huge count would
// otherwise hang the start-up.
constexpr int kMaxNumberedKeys = 1024;

const char* const kAllLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

std::string GetText(const COptionTool& tool, const char* key, const char* def) {
    char buf[kValueBufferSize];
    tool._GetPrivateProfileString(tool.m_strSection, key, def, buf, kValueBufferSize, tool.m_strFileName);
    return buf;
}

int GetInt(const COptionTool& tool, const char* key, int def) {
    return tool._GetPrivateProfileInt(tool.m_strSection, key, def, tool.m_strFileName);
}

// The design reads numbers as atoi/atof do (text that is no number is 0, a
// number followed by other text is that number). That stays, but a value
// that is not wholly a number is almost always a typo that silently changes
// the run ("thread=four" sequences nothing), so it is pointed out.
void WarnIfNotNumber(const COptionTool& tool, const char* key, bool integer) {
    const std::string text = GetText(tool, key, "");
    if (text.empty()) return;
    const char* begin = text.c_str();
    char* end = nullptr;
    if (integer)
        (void)std::strtol(begin, &end, 10);
    else
        (void)std::strtod(begin, &end);
    bool whole = end != begin;
    for (const char* q = end; whole && *q; ++q)
        if (!std::isspace(static_cast<unsigned char>(*q))) whole = false;
    if (whole) return;
    std::cerr << "[warning]	parameter " << key << "=" << text << " is not " << (integer ? "an integer" : "a number")
              << "; it is read as ";
    if (integer)
        std::cerr << std::atoi(begin);
    else
        std::cerr << std::atof(begin);
    std::cerr << ".\n";
}

int GetCount(const COptionTool& tool, const char* key) {
    WarnIfNotNumber(tool, key, true);
    const int n = GetInt(tool, key, 0);
    if (n < 0) return 0;
    if (n > kMaxNumberedKeys) {
        std::cerr << "[warning]\t" << key << "=" << n << " is too large; only " << kMaxNumberedKeys
                  << " numbered lines are read.\n";
        return kMaxNumberedKeys;
    }
    return n;
}

// "mass WORD mass WORD ...": reading stops at the first word that does not
// begin a number where a mass is expected; a mass without a word applies to
// every letter.
void ParseTermMods(const std::string& text, std::vector<double>& masses, std::vector<std::string>& sites) {
    std::istringstream in(text);
    double mass = 0.0;
    while (in >> mass) {
        std::string word;
        if (!(in >> word)) word = kAllLetters;
        masses.push_back(mass);
        sites.push_back(word);
    }
}

// "name charge prefix-flag second-flag offset"; a missing or unreadable word
// and every word after it keep their zero value.
CIonType ParseIonType(const std::string& line) {
    CIonType ion;
    ion.strLine = line;
    std::istringstream in(line);
    std::string name;
    int charge = 0, flag1 = 0, flag2 = 0;
    double offset = 0.0;
    if (!(in >> name)) return ion;
    ion.strName = name;
    if (!(in >> charge)) return ion;
    ion.nNumber = charge;
    if (!(in >> flag1)) return ion;
    ion.bFlag1 = flag1 != 0;
    if (!(in >> flag2)) return ion;
    ion.bFlag2 = flag2 != 0;
    if (!(in >> offset)) return ion;
    ion.lfValue = offset;
    return ion;
}

void ReadIonTypes(const COptionTool& tool, const char* countKey, std::vector<CIonType>& ions) {
    ions.clear();
    const int n = GetCount(tool, countKey);
    for (int k = 1; k <= n; ++k) {
        const std::string key = countKey + std::to_string(k);
        ions.push_back(ParseIonType(GetText(tool, key.c_str(), "")));
    }
}

// Scalar keys, in the order they are read. Defaults live here only.
enum class Kind { Real, Int, Text, FlagUnlessZero, FlagIfYes, Folder, ModList };
struct ScalarKey {
    const char* szKey;
    const char* szDefault;
    Kind eKind;
    double CCondition::*pReal;
    int CCondition::*pInt;
    bool CCondition::*pFlag;
    std::string CCondition::*pText;
};

constexpr ScalarKey Real(const char* k, const char* d, double CCondition::*p) {
    return {k, d, Kind::Real, p, nullptr, nullptr, nullptr};
}
constexpr ScalarKey Int(const char* k, const char* d, int CCondition::*p) {
    return {k, d, Kind::Int, nullptr, p, nullptr, nullptr};
}
constexpr ScalarKey Flag(const char* k, const char* d, Kind kind, bool CCondition::*p) {
    return {k, d, kind, nullptr, nullptr, p, nullptr};
}
constexpr ScalarKey Text(const char* k, const char* d, Kind kind, std::string CCondition::*p) {
    return {k, d, kind, nullptr, nullptr, nullptr, p};
}

const ScalarKey kMetaScalars[] = {
    Real("mass_lower_bound", "400", &CCondition::m_lfMassLowerBound),
    Real("mass_upper_bound", "2500", &CCondition::m_lfMassUpperBound),
    Text("activation_type", "HCD", Kind::Text, &CCondition::m_strActivation),
    Real("frag_tol", "20", &CCondition::m_lfFragTol),
    Flag("frag_tol_type_ppm", "1", Kind::FlagUnlessZero, &CCondition::m_bFragTolPpm),
    Real("pep_tol", "20", &CCondition::m_lfPepTol),
    Flag("pep_tol_type_ppm", "1", Kind::FlagUnlessZero, &CCondition::m_bPepTolPpm),
    // Keys added for accuracy on real spectra; the defaults are the design.
    Text("node_weight", "log_intensity", Kind::Text, &CCondition::m_strNodeWeight),
    Text("tie_break", "none", Kind::Text, &CCondition::m_strTieBreak),
    Real("missing_fragment_penalty", "0", &CCondition::m_lfMissingSitePenalty),
    Flag("completion_with_pep_tol", "0", Kind::FlagUnlessZero, &CCondition::m_bCompletionWithPepTol),
    Flag("scale_to_frag_tol", "0", Kind::FlagUnlessZero, &CCondition::m_bScaleToFragTol),
    Text("var_mods", "", Kind::ModList, &CCondition::m_strVarMods),
    Text("var_nterm_mods", "", Kind::ModList, &CCondition::m_strVarNTermMods),
    Real("var_mod_penalty", "0", &CCondition::m_lfVarModPenalty),
    Flag("confidence", "0", Kind::FlagUnlessZero, &CCondition::m_bConfidence),
    Flag("isotope_error", "0", Kind::FlagUnlessZero, &CCondition::m_bIsotopeError),
    Real("isotope_error_penalty", "1", &CCondition::m_lfIsotopeErrorPenalty),
};

const ScalarKey kFileScalars[] = {
    Flag("folder", "no", Kind::FlagIfYes, &CCondition::m_bFolder),
    Text("spec_type", "DTA", Kind::Text, &CCondition::m_strSpecType),
    Text("out_path", "", Kind::Folder, &CCondition::m_strOutPath),
    Text("ans_path", "", Kind::Text, &CCondition::m_strAnsPath),
    Int("report_path", "200", &CCondition::m_nReportPath),
    Int("report_temp", "200", &CCondition::m_nReportTemp),
    Int("report_pep", "10", &CCondition::m_nReportPep),
    Int("max_node", "300", &CCondition::m_nMaxNode),
};

// An empty folder means the current folder (not the file-system root).
std::string AsFolder(std::string path) {
    if (path.empty()) return "./";
    if (path.back() != '/') path += '/';
    return path;
}

void ReadScalar(const COptionTool& tool, const ScalarKey& k, CCondition& c) {
    switch (k.eKind) {
    case Kind::Real:
        WarnIfNotNumber(tool, k.szKey, false);
        c.*k.pReal = std::atof(GetText(tool, k.szKey, k.szDefault).c_str());
        break;
    case Kind::Int:
        WarnIfNotNumber(tool, k.szKey, true);
        c.*k.pInt = GetInt(tool, k.szKey, std::atoi(k.szDefault));
        break;
    case Kind::Text:
    case Kind::ModList: c.*k.pText = GetText(tool, k.szKey, k.szDefault); break;
    case Kind::Folder: c.*k.pText = AsFolder(GetText(tool, k.szKey, k.szDefault)); break;
    case Kind::FlagUnlessZero: c.*k.pFlag = GetText(tool, k.szKey, k.szDefault) != "0"; break;
    case Kind::FlagIfYes: c.*k.pFlag = GetText(tool, k.szKey, k.szDefault) == "yes"; break;
    }
}

}  // namespace

CCondition::CCondition() {
    std::copy(std::begin(kBuiltInResidueMass), std::end(kBuiltInResidueMass), m_lfAAMass);
    std::fill(std::begin(m_lfResidueMassByCode), std::end(m_lfResidueMassByCode), 0.0);
    std::fill(std::begin(m_nVarModByCode), std::end(m_nVarModByCode), static_cast<signed char>(-1));
}

namespace {

// Codes for variable modifications: characters that are neither residue
// letters (A-Z, a-z), terminal-modification codes (1-26) nor candidate text
// syntax ( ( ) [ ] / ).
std::vector<char> FreeResidueCodes() {
    std::vector<char> codes;
    for (int c = 27; c < 128; ++c) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) continue;
        if (c == '(' || c == ')' || c == '[' || c == ']' || c == '/') continue;
        codes.push_back(static_cast<char>(c));
    }
    return codes;
}

}  // namespace

void CCondition::_ParseVarMods() {
    m_vVarMods.clear();
    std::fill(std::begin(m_nVarModByCode), std::end(m_nVarModByCode), static_cast<signed char>(-1));
    const std::vector<char> codes = FreeResidueCodes();
    auto parse = [&](const std::string& text, const char* key, bool nTerm) {
        std::string items = text;
        std::replace(items.begin(), items.end(), ',', ' ');  // commas separate items too
        std::istringstream in(items);
        std::string item;
        while (in >> item) {
            const size_t colon = item.find(':');
            char* end = nullptr;
            const std::string number = colon == std::string::npos ? "" : item.substr(colon + 1);
            const double delta = std::strtod(number.c_str(), &end);
            if (colon == std::string::npos || colon == 0 || number.empty() || *end != '\0' || !std::isfinite(delta)) {
                std::cerr << "[warning]\t" << key << ": \"" << item << "\" is not RESIDUES:delta; it is left out.\n";
                continue;
            }
            std::string residues = item.substr(0, colon);
            if (residues == "*") residues = kAllLetters;
            for (const char r : residues) {
                // I is sequenced as L.
                if (r < 'A' || r > 'Z' || r == 'I' || m_lfAAMass[r - 'A'] < 0.1) continue;
                if (m_vVarMods.size() >= codes.size()) {
                    std::cerr << "[warning]\t" << key << ": more than " << codes.size()
                              << " modified residues; the rest are left out.\n";
                    return;
                }
                CVarMod mod;
                mod.cCode = codes[m_vVarMods.size()];
                mod.cResidue = r;
                mod.lfDelta = delta;
                mod.bNTerm = nTerm;
                m_nVarModByCode[static_cast<unsigned char>(mod.cCode)] = static_cast<signed char>(m_vVarMods.size());
                m_vVarMods.push_back(mod);
            }
        }
    };
    parse(m_strVarMods, "var_mods", false);
    parse(m_strVarNTermMods, "var_nterm_mods", true);
}

bool CCondition::Read(const std::string& paramFile) {
    {
        const COptionTool meta(paramFile, "meta");
        for (int k = 0; k < 26; ++k) {
            const char key[2] = {static_cast<char>('A' + k), '\0'};
            const std::string value = GetText(meta, key, "NULL");
            if (value != "NULL") {
                WarnIfNotNumber(meta, key, false);
                m_lfAAMass[k] = std::atof(value.c_str());
            }
        }

        m_vNTermMass.clear();
        m_vNTermSites.clear();
        m_vCTermMass.clear();
        m_vCTermSites.clear();
        const std::string nTerm = GetText(meta, "n-term", "NULL");
        if (nTerm != "NULL") ParseTermMods(nTerm, m_vNTermMass, m_vNTermSites);
        const std::string cTerm = GetText(meta, "c-term", "NULL");
        if (cTerm != "NULL") ParseTermMods(cTerm, m_vCTermMass, m_vCTermSites);

        ReadIonTypes(meta, "HCDIONTYPE", m_vHCDIonTypes);
        ReadIonTypes(meta, "ETDIONTYPE", m_vETDIonTypes);

        m_strEnzymeName.clear();
        m_strEnzymeSites.clear();
        m_strEnzymeTerm.clear();
        const std::string enzyme = GetText(meta, "enzyme", "");
        if (!enzyme.empty()) {
            std::istringstream in(enzyme);
            in >> m_strEnzymeName >> m_strEnzymeSites >> m_strEnzymeTerm;
        }
        m_bEnzymeNTerm = m_strEnzymeTerm == "N";

        // Compared as unsigned on purpose: a negative count means "as many as allowed".
        WarnIfNotNumber(meta, "thread", true);
        m_nThreadNum = static_cast<unsigned int>(GetInt(meta, "thread", 1));
        if (m_nThreadNum > 8) m_nThreadNum = 8;
        if (m_nThreadNum == 0)
            std::cerr << "[warning]\tthread=0: no worker thread runs, so no spectrum is sequenced.\n";
        m_vThreads.clear();
        for (unsigned int t = 0; t < m_nThreadNum; ++t) {
            CThread thread;
            thread.m_pCondition = this;
            thread.m_nIndex = static_cast<int>(t);
            m_vThreads.push_back(thread);
        }
        m_vProgress = std::vector<std::atomic<int>>(m_nThreadNum);

        for (const ScalarKey& k : kMetaScalars) ReadScalar(meta, k, *this);
        m_bRankNodeWeights = m_strNodeWeight == "rank";
        if (!m_bRankNodeWeights && m_strNodeWeight != "log_intensity")
            std::cerr << "[warning]\tnode_weight=" << m_strNodeWeight
                      << " is neither log_intensity nor rank; log_intensity is used.\n";
        m_bEvidenceTies = m_strTieBreak == "evidence";
        if (!m_bEvidenceTies && m_strTieBreak != "none")
            std::cerr << "[warning]\ttie_break=" << m_strTieBreak << " is neither none nor evidence; none is used.\n";
        // The design's error weighting reaches zero at 20 ppm and its edge
        // thresholds (0.02 and 0.001 Da) suit high-resolution fragments.
        // Scaled, both follow the fragment tolerance; a ppm tolerance of 20
        // and every ppm tolerance's edges stay exactly as designed.
        m_lfPpmScale = 1.0;
        m_lfEdgeScale = 1.0;
        if (m_bScaleToFragTol && m_lfFragTol > 0.0) {
            if (m_bFragTolPpm)
                m_lfPpmScale = 20.0 / m_lfFragTol;
            else if (m_lfFragTol > 0.02)
                m_lfEdgeScale = m_lfFragTol / 0.02;
        }
    }

    const COptionTool file(paramFile, "file");
    const int nPaths = GetCount(file, "spec_path");
    m_vSpecPaths.clear();
    for (int k = 1; k <= nPaths; ++k) {
        const std::string key = "spec_path" + std::to_string(k);
        m_vSpecPaths.push_back(GetText(file, key.c_str(), "null"));
    }
    for (const ScalarKey& k : kFileScalars) ReadScalar(file, k, *this);

    m_vFiles.clear();
    if (nPaths == 1 && m_bFolder) {
        std::string& folder = m_vSpecPaths[0];
        if (folder.empty() || folder.back() != '/') folder += '/';
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) {
            std::cout << "Error! Cannot open file path: " << folder << std::endl;
            m_bRunFailed = true;
            return false;
        }
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
        closedir(dir);
        // Byte order of the names, so every file system gives the same datasets in the same order.
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (IsDatasetFileName(name, m_strSpecType)) m_vFiles.push_back(folder + name);
        }
    } else if (!m_vSpecPaths.empty()) {
        m_vFiles.push_back(m_vSpecPaths[0]);
    }

    _ParseVarMods();
    InitMods();
    CreateEdgeList();
    return true;
}

bool CCondition::CanMerge(const std::vector<CPeak>& peaks, unsigned int i, unsigned int j) const {
    const double mzI = peaks[i].lfMz;
    const double mzJ = peaks[j].lfMz;
    return std::fabs(mzJ - mzI) <= (CalcFragmentMassDeviation(mzI) + CalcFragmentMassDeviation(mzJ)) / 2;
}
