#include "conditions/Condition.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <thread>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <sstream>

#include "common/Console.h"
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

// Upper bound on "spec_path", "HCDIONTYPE" and "ETDIONTYPE": a mistyped huge
// count would otherwise make thousands of lookups for nothing.
constexpr int kMaxNumberedKeys = 1024;

// Searched paths and kept candidates per spectrum beyond which one spectrum
// takes seconds and hundreds of megabytes (a million paths: 17 s and 317 MB
// for 20 spectra) without changing what is reported.
constexpr int kMaxReportPaths = 10000;

const char* const kAllLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Plausible tolerances (outside them a warning): the narrowest any
// instrument measures, and the widest that still tell peaks apart.
constexpr double kLowestPpm = 0.1, kLowestDa = 0.0001;
constexpr double kFragHighPpm = 1000, kFragHighDa = 1;
constexpr double kPepHighPpm = 10000, kPepHighDa = 10;
// A residue mass (letters A..Z) above kMaxResidueMass cannot be meant and
// would blow the edge table's integer-mass index up to gigabytes; one above
// kHeavyResidue is heavier than any residue that is sequenced.
constexpr double kMaxResidueMass = 100000, kHeavyResidue = 1000;

// The standard ion types, used when the parameter file declares none for a
// mode that is run: b and y (HCD), c and z (ETD), at charges 1 and 2.
const char* const kDefaultHCDIons[] = {"b 1 1 0 0", "y 1 0 0 18.0105647", "b 2 1 0 0", "y 2 0 0 18.0105647"};
const char* const kDefaultETDIons[] = {"c 1 1 0 17.026549105", "z 1 0 0 1.9929378", "c 2 1 0 17.026549105",
                                       "z 2 0 0 1.9929378"};

std::string Upper(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

// A number key's value as read.
struct CNumber {
    bool bGiven = false;   // the key has a non-empty value
    double lfValue = 0.0;  // the value (0 for text that is no number)
    long long nValue = 0;  // integer keys: the value, saturated at long long's range
    int nLine = 0;         // its line; 0: not given
    std::string strText;   // the value as written
};

// Units people write after a tolerance; the unit keys decide instead.
bool IsUnitWord(std::string word) {
    for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const char* unit : {"ppm", "da", "dalton", "daltons", "th", "mz", "m/z", "amu", "u", "mmu", "mda"})
        if (word == unit) return true;
    return false;
}

// Reads the keys of one section through the parameter file, remembering
// which lines supplied a value (the rest are checked afterwards) and
// reporting problems with the file name and line.
class CSectionReader {
public:
    CSectionReader(const COptionTool& tool, const char* section, std::set<int>& used, int& errors)
        : m_tool(tool), m_strSection(section), m_used(used), m_nErrors(errors) {}

    std::string Text(const std::string& key, const std::string& def, int* where = nullptr) const {
        int line = 0;
        std::string value = m_tool._GetPrivateProfileString(m_strSection, key, def, &line);
        if (line) m_used.insert(line);
        if (where) *where = line;
        return value;
    }
    // A number key's value: the number its text begins with, as the format
    // has always read it (text that is no number is 0, a number followed by
    // other text is that number). A value that is not wholly a number is
    // almost always a typo that silently changes the run, so it is pointed
    // out; a unit after a tolerance is pointed out with the key that decides
    // the unit (unitKey, which says ppm when ppm is true). A real that is
    // not finite is an error. An empty value is no value.
    CNumber Number(const std::string& key, bool integer, const char* unitKey = nullptr, bool ppm = false) const {
        CNumber n;
        n.strText = Text(key, "", &n.nLine);
        if (n.strText.empty()) return n;
        n.bGiven = true;
        const char* begin = n.strText.c_str();
        char* end = nullptr;
        if (integer) {
            // Saturates at long long's range, far beyond every key's limits.
            n.nValue = std::strtoll(begin, &end, 10);
            n.lfValue = static_cast<double>(n.nValue);
        } else {
            n.lfValue = std::strtod(begin, &end);
        }
        std::string rest(end);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.pop_back();
        rest.erase(0, rest.find_first_not_of(" \t"));
        const std::string given = key + "=" + n.strText;
        std::ostringstream value;
        if (integer) value << n.nValue;
        else value << n.lfValue;
        if (end != begin && !rest.empty() && unitKey != nullptr && IsUnitWord(rest)) {
            Say("warning", n.nLine, given + ": the unit written after the number is ignored; " + unitKey +
                                        " decides, and it makes " + key + " " + value.str() + (ppm ? " ppm" : " Da"));
        } else if (end == begin || !rest.empty()) {
            Say("warning", n.nLine, given + " is not " + (integer ? "an integer" : "a number") + "; it is read as " +
                                        value.str());
        }
        if (!integer && !std::isfinite(n.lfValue)) Error(n.nLine, given + " is not a finite number");
        return n;
    }
    // An integer key: def when it has no value; a value beyond int's range is
    // an error (it would wrap round to another number), and def is used.
    int Int(const std::string& key, int def) const {
        const CNumber n = Number(key, true);
        if (!n.bGiven) return def;
        if (n.nValue < INT_MIN || n.nValue > INT_MAX) {
            Error(n.nLine, key + "=" + n.strText + " is out of range (an integer from -2147483648 to 2147483647)");
            return def;
        }
        return static_cast<int>(n.nValue);
    }
    // A real key: def when it has no value or is not finite.
    double Real(const std::string& key, double def, const char* unitKey = nullptr, bool ppm = false) const {
        const CNumber n = Number(key, false, unitKey, ppm);
        return n.bGiven && std::isfinite(n.lfValue) ? n.lfValue : def;
    }

    // "[warning]\tFILE:LINE: text" (no line part when line is 0).
    void Say(const char* level, int line, const std::string& text) const {
        std::ostringstream where;
        where << m_tool.FileName();
        if (line > 0) where << ":" << line;
        where << ": " << text;
        const console::ELevel l = level[0] == 'e' ? console::ELevel::Error
                                  : level[0] == 'w' ? console::ELevel::Warning
                                                    : console::ELevel::Info;
        console::Say(l, where.str());
    }
    void Error(int line, const std::string& text) const {
        Say("error", line, text);
        ++m_nErrors;
    }

    // The count of a numbered key ("spec_path", "HCDIONTYPE"): 0 when it is
    // negative or has no value, at most kMaxNumberedKeys.
    int Count(const std::string& key) const {
        const CNumber n = Number(key, true);
        if (n.nValue < 0) return 0;
        if (n.nValue > kMaxNumberedKeys) {
            Say("warning", n.nLine,
                key + "=" + n.strText + " is too large; only " + std::to_string(kMaxNumberedKeys) +
                    " numbered lines are read");
            return kMaxNumberedKeys;
        }
        return static_cast<int>(n.nValue);
    }

    // An enumerated value, compared without regard to case; the value as
    // listed in `allowed` ("|"-separated) is returned. An unknown value is an
    // error naming the allowed ones; def is returned then.
    std::string Choice(const std::string& key, const std::string& def, const std::string& allowed) const {
        int line = 0;
        const std::string value = Text(key, def, &line);
        std::string names;
        size_t pos = 0;
        while (pos <= allowed.size()) {
            size_t bar = allowed.find('|', pos);
            if (bar == std::string::npos) bar = allowed.size();
            const std::string choice = allowed.substr(pos, bar - pos);
            if (Upper(choice) == Upper(value)) return choice;
            names += (names.empty() ? "" : ", ") + choice;
            pos = bar + 1;
        }
        Error(line, key + "=" + value + " is not one of " + names);
        return def;
    }

private:
    const COptionTool& m_tool;
    std::string m_strSection;
    std::set<int>& m_used;
    int& m_nErrors;
};

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
    int charge = 0, flag1 = 0, flag2 = 0;  // the second flag is read past, not used
    double offset = 0.0;
    if (!(in >> name)) return ion;
    ion.strName = name;
    if (!(in >> charge)) return ion;
    ion.nNumber = charge;
    if (!(in >> flag1)) return ion;
    ion.bFlag1 = flag1 != 0;
    if (!(in >> flag2)) return ion;
    if (!(in >> offset)) return ion;
    ion.lfValue = offset;
    return ion;
}

// "spec_path" and the paths it counts. A path it counts but the file does not
// give is an error, one for the whole count however large, so that a run
// never starts on a path that is missing.
void ReadSpecPaths(const CSectionReader& file, std::vector<std::string>& paths) {
    paths.clear();
    const CNumber n = file.Number("spec_path", true);
    if (n.nValue <= 0) return;
    const long long looked = std::min<long long>(n.nValue, kMaxNumberedKeys);
    long long firstMissing = 0;
    for (long long k = 1; k <= looked; ++k) {
        int line = 0;
        const std::string path = file.Text("spec_path" + std::to_string(k), "", &line);
        if (line != 0) paths.push_back(path);
        else if (firstMissing == 0) firstMissing = k;
    }
    if (firstMissing == 0 && n.nValue > looked) firstMissing = looked + 1;
    if (firstMissing == 0) return;
    const std::string missing = "spec_path" + std::to_string(firstMissing);
    if (n.nValue - static_cast<long long>(paths.size()) == 1)
        file.Error(n.nLine, "spec_path=" + n.strText + " but " + missing + " is not given");
    else
        file.Error(n.nLine, "spec_path=" + n.strText + " but only " + std::to_string(paths.size()) +
                                " spectrum paths are given (the first missing is " + missing + ")");
}

void ReadIonTypes(const CSectionReader& meta, const char* countKey, std::vector<CIonType>& ions) {
    ions.clear();
    const int n = meta.Count(countKey);
    for (int k = 1; k <= n; ++k) {
        const std::string key = countKey + std::to_string(k);
        int line = 0;
        const std::string text = meta.Text(key, "", &line);
        if (line == 0) {
            // One error for the count, however many lines it lacks.
            int countLine = 0;
            meta.Text(countKey, "", &countLine);
            meta.Error(countLine, std::string(countKey) + "=" + std::to_string(n) + " but " + key +
                                      " is missing: an ion type without a line would match nothing");
            break;
        }
        CIonType ion = ParseIonType(text);
        // An offset beyond any chemistry (or not a number at all) would
        // silently move every fragment off the spectrum.
        if (!std::isfinite(ion.lfValue) || std::fabs(ion.lfValue) > kMaxResidueMass || ion.nNumber < 0 ||
            ion.nNumber > 100)
            meta.Error(line, key + "=" + text + ": the charge (0..100) or the mass offset (within 100000 Da) is absurd");
        ions.push_back(ion);
    }
}

// Terminal modification masses that cannot be meant are errors.
void CheckTermMods(const CSectionReader& meta, const char* key, const std::vector<double>& masses) {
    for (const double m : masses) {
        if (std::isfinite(m) && std::fabs(m) <= kMaxResidueMass) continue;
        int line = 0;
        meta.Text(key, "", &line);
        meta.Error(line, std::string(key) + ": the mass " + std::to_string(m) + " is no modification (within 100000 Da)");
        return;
    }
}

// Scalar keys, in the order they are read. Defaults live here only.
enum class Kind { Real, Int, Text, FlagUnlessZero, FlagIfYes, Folder, Choice, ModList };
struct CScalarKey {
    const char* szKey;
    const char* szDefault;
    Kind eKind;
    double CCondition::*pReal;
    int CCondition::*pInt;
    bool CCondition::*pFlag;
    std::string CCondition::*pText;
    const char* szChoices = nullptr;  // Choice: the allowed values, "|"-separated
    const char* szUnitKey = nullptr;  // Real: the key that sets its unit (ppm or Da)
    // Real: values outside [lfLow, lfHigh] are implausible (a warning).
    double lfLow = -std::numeric_limits<double>::infinity();
    double lfHigh = std::numeric_limits<double>::infinity();
};

constexpr CScalarKey Real(const char* k, const char* d, double CCondition::*p) {
    return {k, d, Kind::Real, p, nullptr, nullptr, nullptr};
}
// A tolerance whose unit another key sets; its limits depend on the unit
// and are checked with the other values.
constexpr CScalarKey Tolerance(const char* k, const char* d, double CCondition::*p, const char* unitKey) {
    return {k, d, Kind::Real, p, nullptr, nullptr, nullptr, nullptr, unitKey};
}
// A score penalty: a negative one rewards what it should punish, and one
// above kMaxPenalty outweighs any peptide's score.
constexpr double kMaxPenalty = 100.0;
constexpr CScalarKey Penalty(const char* k, const char* d, double CCondition::*p) {
    return {k, d, Kind::Real, p, nullptr, nullptr, nullptr, nullptr, nullptr, 0.0, kMaxPenalty};
}
constexpr CScalarKey Int(const char* k, const char* d, int CCondition::*p) {
    return {k, d, Kind::Int, nullptr, p, nullptr, nullptr};
}
constexpr CScalarKey Flag(const char* k, const char* d, Kind kind, bool CCondition::*p) {
    return {k, d, kind, nullptr, nullptr, p, nullptr};
}
constexpr CScalarKey Text(const char* k, const char* d, Kind kind, std::string CCondition::*p) {
    return {k, d, kind, nullptr, nullptr, nullptr, p};
}
constexpr CScalarKey Choice(const char* k, const char* d, const char* choices, std::string CCondition::*p) {
    return {k, d, Kind::Choice, nullptr, nullptr, nullptr, p, choices};
}

const CScalarKey kMetaScalars[] = {
    Real("mass_lower_bound", "400", &CCondition::m_lfMassLowerBound),
    Real("mass_upper_bound", "2500", &CCondition::m_lfMassUpperBound),
    Choice("activation_type", "HCD", "HCD|ETD|CID", &CCondition::m_strActivation),
    Tolerance("frag_tol", "20", &CCondition::m_lfFragTol, "frag_tol_type_ppm"),
    Flag("frag_tol_type_ppm", "1", Kind::FlagUnlessZero, &CCondition::m_bFragTolPpm),
    Tolerance("pep_tol", "20", &CCondition::m_lfPepTol, "pep_tol_type_ppm"),
    Flag("pep_tol_type_ppm", "1", Kind::FlagUnlessZero, &CCondition::m_bPepTolPpm),
    Int("batch_size", "10000", &CCondition::m_nBatchSize),
    Choice("pairing", "precursor", "precursor|order", &CCondition::m_strPairing),
    Int("pair_scan_window", "10", &CCondition::m_nPairScanWindow),
    Real("pair_rt_window", "10", &CCondition::m_lfPairRtWindow),
    // Keys added for accuracy on real spectra; the defaults are the design.
    Choice("node_weight", "log_intensity", "log_intensity|rank", &CCondition::m_strNodeWeight),
    Choice("tie_break", "none", "none|evidence", &CCondition::m_strTieBreak),
    Penalty("missing_fragment_penalty", "0", &CCondition::m_lfMissingSitePenalty),
    Flag("completion_with_pep_tol", "0", Kind::FlagUnlessZero, &CCondition::m_bCompletionWithPepTol),
    Flag("scale_to_frag_tol", "0", Kind::FlagUnlessZero, &CCondition::m_bScaleToFragTol),
    Text("var_mods", "", Kind::ModList, &CCondition::m_strVarMods),
    Text("var_nterm_mods", "", Kind::ModList, &CCondition::m_strVarNTermMods),
    Penalty("var_mod_penalty", "0", &CCondition::m_lfVarModPenalty),
    Flag("confidence", "0", Kind::FlagUnlessZero, &CCondition::m_bConfidence),
    Flag("isotope_error", "0", Kind::FlagUnlessZero, &CCondition::m_bIsotopeError),
    Penalty("isotope_error_penalty", "1", &CCondition::m_lfIsotopeErrorPenalty),
    Flag("isotope_pairs", "0", Kind::FlagUnlessZero, &CCondition::m_bIsotopePairs),
    Text("rerank_model", "", Kind::Text, &CCondition::m_strRerankModel),
    Choice("node_select", "weight", "weight|support", &CCondition::m_strNodeSelect),
    Flag("trace", "0", Kind::FlagUnlessZero, &CCondition::m_bTrace),
    Int("gap_edges", "0", &CCondition::m_nGapResidues),
    Real("gap_weight", "0.5", &CCondition::m_lfGapWeight),
    Real("gap_max_mass", "0", &CCondition::m_lfGapMaxMass),
    Int("gap_orders", "3", &CCondition::m_nGapOrders),
};

const CScalarKey kFileScalars[] = {
    Flag("folder", "no", Kind::FlagIfYes, &CCondition::m_bFolder),
    Choice("spec_type", "DTA", kReaderTypes, &CCondition::m_strSpecType),
    Text("out_path", "", Kind::Folder, &CCondition::m_strOutPath),
    Text("ans_path", "", Kind::Text, &CCondition::m_strAnsPath),
    Int("report_path", "200", &CCondition::m_nReportPath),
    Int("report_temp", "200", &CCondition::m_nReportTemp),
    Int("report_pep", "10", &CCondition::m_nReportPep),
    Int("max_node", "300", &CCondition::m_nMaxNode),
    Int("max_peaks", "5000", &CCondition::m_nMaxPeaks),
    Int("max_spelled", "100000", &CCondition::m_nMaxSpelled),
    Int("table_rows", "0", &CCondition::m_nTableRows),
    Text("output_format", "native", Kind::Text, &CCondition::m_strOutputFormat),
};

// Keys read apart from the tables (letters A..Z are checked separately).
const char* const kMetaOtherKeys[] = {"n-term", "c-term", "HCDIONTYPE", "ETDIONTYPE", "enzyme", "thread"};
const char* const kFileOtherKeys[] = {"spec_path"};
// Keys followed by a number ("spec_path1", "HCDIONTYPE3").
const char* const kNumberedKeys[] = {"spec_path", "HCDIONTYPE", "ETDIONTYPE"};

// An empty folder means the current folder (not the file-system root).
std::string AsFolder(std::string path) {
    if (path.empty()) return "./";
    if (path.back() != '/') path += '/';
    return path;
}

void ReadScalar(const CSectionReader& r, const CScalarKey& k, CCondition& c) {
    switch (k.eKind) {
    case Kind::Real: {
        // The unit key is read as FlagUnlessZero reads it.
        const bool ppm = k.szUnitKey != nullptr && r.Text(k.szUnitKey, "1") != "0";
        c.*k.pReal = r.Real(k.szKey, std::atof(k.szDefault), k.szUnitKey, ppm);
        const double v = c.*k.pReal;
        if (v < k.lfLow || v > k.lfHigh) {
            int line = 0;
            const std::string text = r.Text(k.szKey, "", &line);
            std::ostringstream msg;
            msg << k.szKey << "=" << text << " is implausible (expected " << k.lfLow << " to " << k.lfHigh
                << "); check the value";
            r.Say("warning", line, msg.str());
        }
        break;
    }
    case Kind::Int: c.*k.pInt = r.Int(k.szKey, std::atoi(k.szDefault)); break;
    case Kind::Text:
    case Kind::ModList: c.*k.pText = r.Text(k.szKey, k.szDefault); break;
    case Kind::Folder: c.*k.pText = AsFolder(r.Text(k.szKey, k.szDefault)); break;
    case Kind::FlagUnlessZero: c.*k.pFlag = r.Text(k.szKey, k.szDefault) != "0"; break;
    case Kind::FlagIfYes: {
        // yes/no in any case; the empty value is no, as it always was.
        int line = 0;
        const std::string value = Upper(r.Text(k.szKey, k.szDefault, &line));
        if (value != "YES" && value != "NO" && !value.empty()) r.Error(line, std::string(k.szKey) + "=" + value + " is not one of yes, no");
        c.*k.pFlag = value == "YES";
        break;
    }
    case Kind::Choice: c.*k.pText = r.Choice(k.szKey, k.szDefault, k.szChoices); break;
    }
}

// Edit distance, for "did you mean" hints.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (same ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

// The section a known key belongs to ("meta" or "file"), or "" for an
// unknown key.
std::string SectionOf(const std::string& key) {
    if (key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z') return "meta";
    for (const CScalarKey& k : kMetaScalars)
        if (key == k.szKey) return "meta";
    for (const char* k : kMetaOtherKeys)
        if (key == k) return "meta";
    for (const CScalarKey& k : kFileScalars)
        if (key == k.szKey) return "file";
    for (const char* k : kFileOtherKeys)
        if (key == k) return "file";
    for (const char* k : kNumberedKeys) {
        const size_t n = std::strlen(k);
        if (key.size() > n && key.compare(0, n, k) == 0 &&
            key.find_first_not_of("0123456789", n) == std::string::npos)
            return SectionOf(k);
    }
    return "";
}

std::string ClosestKey(const std::string& key) {
    std::vector<std::string> known;
    for (const CScalarKey& k : kMetaScalars) known.emplace_back(k.szKey);
    for (const CScalarKey& k : kFileScalars) known.emplace_back(k.szKey);
    for (const char* k : kMetaOtherKeys) known.emplace_back(k);
    for (const char* k : kFileOtherKeys) known.emplace_back(k);
    std::string best;
    size_t bestDistance = static_cast<size_t>(-1);
    for (const std::string& k : known) {
        const size_t d = Distance(key, k);
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    return best;
}

void SetThreads(CCondition& c, long long requested, const std::string& given, const CSectionReader& meta) {
    // Values up to 8 are taken as they are; beyond that the machine's cores
    // set the limit, and 0 or a negative value means every core. The notes
    // show the value as written: a huge one must not look like another.
    const unsigned int cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned int limit = std::max(8u, cores);
    if (requested <= 0) {
        c.m_nThreadNum = cores;
        meta.Say("info", 0, "thread=" + given + ": every core is used (" + std::to_string(cores) + ")");
    } else if (requested > static_cast<long long>(limit)) {
        c.m_nThreadNum = limit;
        meta.Say("info", 0, "thread=" + given + " is more than this machine's " +
                                std::to_string(cores) + " cores; " + std::to_string(limit) + " threads are used");
    } else {
        c.m_nThreadNum = static_cast<unsigned int>(requested);
    }
}

// Points out every key line that did not supply a value: unknown keys (with
// the closest known one), keys before any header or in the wrong section,
// repeated keys; and, on the lines that did, what was cleaned off their
// values. A section header other than [meta] and [file] is an error: the
// keys under a misspelt one would silently take their defaults. Comments,
// blank lines and free text are left alone.
void CheckLines(const COptionTool& tool, const std::set<int>& used, int& errors) {
    const std::vector<std::string>& lines = tool.Lines();
    std::string section;  // the section the line stands in; empty before any header
    std::map<std::string, int> first;  // key -> line that supplied its value
    for (int n : used) {
        std::string key, value;
        if (COptionTool::SplitKeyLine(lines[static_cast<size_t>(n - 1)], key, value)) first[key] = n;
    }
    auto say = [&tool](console::ELevel level, int n, const std::string& text) {
        console::Say(level, tool.FileName() + ":" + std::to_string(n) + ": " + text);
    };
    using console::ELevel;
    // A file of mostly unknown keys is no parameter file (spectra, say): a
    // few warnings tell, thousands would bury the one line that matters.
    constexpr int kShownUnknown = 5;
    int unknown = 0, keys = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int n = static_cast<int>(i + 1);
        const std::string& line = lines[i];
        const size_t lead = line.find_first_not_of(" \t");
        if (lead == std::string::npos || line[lead] == '#' || line[lead] == ';') continue;
        std::string name;
        bool closed = false;
        if (COptionTool::ParseHeader(line, name, closed)) {
            if (closed && (name == "meta" || name == "file")) {
                section = name;
            } else {
                section = "?";
                say(ELevel::Error, n, (closed ? "unknown section header " : "section header without ']': ") + line +
                                          "; the sections are [meta] and [file]");
                ++errors;
            }
            continue;
        }
        CKeyLine k;
        if (!COptionTool::ParseKeyLine(line, k)) continue;  // free text: a comment
        const std::string& key = k.strKey;
        const std::string home = SectionOf(key);
        ++keys;
        if (used.count(n)) {
            if (k.bBlanked) say(ELevel::Info, n, "blanks around '=' in \"" + line + "\" are ignored");
            if (k.bQuoted) say(ELevel::Info, n, "the quotes around " + key + "'s value are taken off");
            if (!k.strRemark.empty())
                say(ELevel::Warning, n, "the remark \"" + k.strRemark + "\" after " + key +
                                            "'s value is cut off; " + key + " is \"" + k.strValue +
                                            "\" (put remarks on lines of their own)");
            continue;
        }
        if (home.empty()) {
            if (++unknown <= kShownUnknown)
                say(ELevel::Warning, n, "unknown key " + key.substr(0, 60) + "; did you mean " + ClosestKey(key) + "?");
        } else if (section.empty()) {
            say(ELevel::Warning, n, key + " stands before any section header and is ignored; put it under [" + home + "]");
        } else if (first.count(key)) {
            say(ELevel::Warning, n, key + " is set again; the value of line " + std::to_string(first[key]) + " is used");
        } else if (section != home) {
            say(ELevel::Warning, n, key + " belongs to section [" + home + "], not [" + section + "]; it is ignored");
        } else {
            say(ELevel::Warning, n, key + " is not read (a numbered line beyond its count); it is ignored");
        }
    }
    if (unknown > kShownUnknown)
        console::Warning() << tool.FileName() << ": " << unknown - kShownUnknown << " more unknown keys";
    if (unknown >= 10 && 2 * unknown > keys) {
        console::Error() << tool.FileName() << ": " << unknown << " of its " << keys
                         << " key lines are no parameter; is it a parameter file?";
        ++errors;
    }
}

// Refuses values that would make every record empty and caps those that
// would take gigabytes; fills in the standard ion types where none are given.
void CheckValues(CCondition& c, const CSectionReader& meta, const CSectionReader& file) {
    auto lineOf = [](const CSectionReader& r, const char* key) {
        int line = 0;
        r.Text(key, "", &line);
        return line;
    };
    if (!(c.m_lfFragTol > 0.0) || !std::isfinite(c.m_lfFragTol))
        meta.Error(lineOf(meta, "frag_tol"), "frag_tol must be above 0 (a fragment tolerance of 0 matches nothing)");
    if (!(c.m_lfPepTol > 0.0) || !std::isfinite(c.m_lfPepTol))
        meta.Error(lineOf(meta, "pep_tol"), "pep_tol must be above 0 (a precursor tolerance of 0 matches nothing)");
    // Tolerances that work but cannot be meant: narrower than any
    // instrument measures, or wide enough to match nearly everything.
    auto plausible = [&meta, &lineOf](const char* key, double tol, bool ppm, double highPpm, double highDa) {
        const double low = ppm ? kLowestPpm : kLowestDa, high = ppm ? highPpm : highDa;
        if (!(tol > 0.0) || !std::isfinite(tol) || (tol >= low && tol <= high)) return;
        const int line = lineOf(meta, key);
        std::ostringstream msg;
        msg << key << "=" << meta.Text(key, "") << " is implausible for a tolerance in " << (ppm ? "ppm" : "Da")
            << " (expected " << low << " to " << high << "); check it and " << key << "_type_ppm";
        meta.Say("warning", line, msg.str());
    };
    plausible("frag_tol", c.m_lfFragTol, c.m_bFragTolPpm, kFragHighPpm, kFragHighDa);
    plausible("pep_tol", c.m_lfPepTol, c.m_bPepTolPpm, kPepHighPpm, kPepHighDa);
    if (!(c.m_lfMassLowerBound <= c.m_lfMassUpperBound))
        meta.Error(lineOf(meta, "mass_upper_bound"),
                   "mass_lower_bound is above mass_upper_bound: no spectrum could be sequenced");
    if (c.m_nBatchSize <= 0) meta.Error(lineOf(meta, "batch_size"), "batch_size must be 1 or more");
    struct CSizeKey {
        const char* szKey;
        int* pValue;
        bool bCapped;
    };
    for (const CSizeKey& k : {CSizeKey{"report_path", &c.m_nReportPath, true},
                             CSizeKey{"report_temp", &c.m_nReportTemp, true},
                             CSizeKey{"report_pep", &c.m_nReportPep, false}}) {
        if (*k.pValue <= 0) {
            file.Error(lineOf(file, k.szKey), std::string(k.szKey) + "=" + std::to_string(*k.pValue) +
                                                  " leaves every record empty; it must be 1 or more");
        } else if (k.bCapped && *k.pValue > kMaxReportPaths) {
            file.Say("warning", lineOf(file, k.szKey),
                     std::string(k.szKey) + "=" + std::to_string(*k.pValue) + " would take gigabytes per spectrum; " +
                         std::to_string(kMaxReportPaths) + " is used");
            *k.pValue = kMaxReportPaths;
        }
    }
    // output_format: a list of native, mztab, tsv (any case, commas or blanks).
    c.m_bNative = c.m_bMzTab = c.m_bTsv = false;
    std::string list = c.m_strOutputFormat;
    for (char& ch : list)
        if (ch == ',' || ch == ';') ch = ' ';
    std::istringstream words(Upper(list));
    for (std::string w; words >> w;) {
        if (w == "NATIVE") c.m_bNative = true;
        else if (w == "MZTAB") c.m_bMzTab = true;
        else if (w == "TSV") c.m_bTsv = true;
        else file.Error(lineOf(file, "output_format"), "output_format: " + w + " is not one of native, mztab, tsv");
    }
    if (!c.m_bNative && !c.m_bMzTab && !c.m_bTsv)
        file.Error(lineOf(file, "output_format"), "output_format names no format; use native, mztab and/or tsv");
    if (c.m_nMaxNode == 0)
        file.Error(lineOf(file, "max_node"), "max_node=0 leaves no node in any graph; a negative value means no limit");
    // Each spelled peptide is kept and scored (about 200 bytes while its
    // spectrum lasts): a million per spectrum is the most a worker may hold.
    constexpr int kMostSpelled = 1000000;
    if (c.m_nMaxSpelled <= 0) {
        file.Error(lineOf(file, "max_spelled"), "max_spelled=" + std::to_string(c.m_nMaxSpelled) +
                                                    " leaves every spectrum without a peptide; it must be 1 or more");
    } else if (c.m_nMaxSpelled > kMostSpelled) {
        file.Say("warning", lineOf(file, "max_spelled"),
                 "max_spelled=" + std::to_string(c.m_nMaxSpelled) + " would take gigabytes per spectrum; " +
                     std::to_string(kMostSpelled) + " is used");
        c.m_nMaxSpelled = kMostSpelled;
    }
    if (c.m_nMaxPeaks == 0)
        file.Error(lineOf(file, "max_peaks"), "max_peaks=0 leaves no peak in any spectrum; a negative value means no limit");

    // Scoring without ion types finds almost nothing: the standard types of
    // every mode that runs are used when the file declares none.
    const bool paired = !c.m_bFolder && c.m_vSpecPaths.size() >= 2;
    const bool etd = c.m_strActivation == "ETD";
    auto fill = [&meta](std::vector<CIonType>& ions, const char* const* lines, const char* key, const char* names) {
        if (!ions.empty()) return;
        for (int k = 0; k < 4; ++k) ions.push_back(ParseIonType(lines[k]));
        meta.Say("info", 0, std::string("no ") + key + " lines: the standard " + names + " are used");
    };
    if (paired || !etd) fill(c.m_vHCDIonTypes, kDefaultHCDIons, "HCDIONTYPE", "b and y ions at charges 1 and 2");
    if (paired || etd) fill(c.m_vETDIonTypes, kDefaultETDIons, "ETDIONTYPE", "c and z ions at charges 1 and 2");
}

// Where the model the run was asked to rank with is found (LoadModels
// reads it): a relative path is relative to the parameter file's folder.
void LocateRerankModel(CCondition& c, const CSectionReader& meta, const std::string& paramFile) {
    c.m_pRerankModel.reset();
    c.m_strRerankModelPath.clear();
    c.m_nRerankModelLine = 0;
    if (c.m_strRerankModel.empty()) return;
    meta.Text("rerank_model", "", &c.m_nRerankModelLine);
    std::string path = c.m_strRerankModel;
    const size_t slash = paramFile.find_last_of('/');
    if (path.rfind("builtin:", 0) != 0 && path[0] != '/' && slash != std::string::npos)
        path = paramFile.substr(0, slash + 1) + path;
    c.m_strRerankModelPath = path;
}

}  // namespace

double CCondition::BuiltInMass(char letter) {
    return letter >= 'A' && letter <= 'Z' ? kBuiltInResidueMass[letter - 'A'] : 0.0;
}

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
                console::Warning() << key << ": \"" << item << "\" is not RESIDUES:delta; it is left out.";
                continue;
            }
            std::string residues = item.substr(0, colon);
            if (residues == "*") residues = kAllLetters;
            for (const char r : residues) {
                // I is sequenced as L.
                if (r < 'A' || r > 'Z' || r == 'I' || m_lfAAMass[r - 'A'] < 0.1) continue;
                if (m_vVarMods.size() >= codes.size()) {
                    console::Warning() << key << ": more than " << codes.size()
                                       << " modified residues; the rest are left out.";
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

bool CCondition::Read(const std::string& paramFile) { return _Read(COptionTool(paramFile)); }

bool CCondition::ReadText(const std::string& name, const std::string& text) { return _Read(COptionTool(name, text)); }

bool CCondition::_Read(const COptionTool& tool) {
    const std::string& paramFile = tool.FileName();
    m_strParamFile = paramFile;
    std::set<int> used;
    m_nParamErrors = 0;
    const CSectionReader meta(tool, "meta", used, m_nParamErrors);
    for (int k = 0; k < 26; ++k) {
        const std::string key(1, static_cast<char>('A' + k));
        if (meta.Text(key, "NULL") == "NULL") continue;
        // An empty value, like 0, makes the letter no residue.
        const CNumber n = meta.Number(key, false);
        if (!std::isfinite(n.lfValue)) continue;
        if (n.lfValue > kMaxResidueMass) {
            meta.Error(n.nLine, key + "=" + n.strText + " is no residue mass (above 100000 Da)");
            continue;
        }
        if (n.lfValue > kHeavyResidue)
            meta.Say("warning", n.nLine, key + "=" + n.strText + " is heavier than any residue (above 1000 Da); check the value");
        m_lfAAMass[k] = n.lfValue;
    }

    m_vNTermMass.clear();
    m_vNTermSites.clear();
    m_vCTermMass.clear();
    m_vCTermSites.clear();
    const std::string nTerm = meta.Text("n-term", "NULL");
    if (nTerm != "NULL") ParseTermMods(nTerm, m_vNTermMass, m_vNTermSites);
    const std::string cTerm = meta.Text("c-term", "NULL");
    if (cTerm != "NULL") ParseTermMods(cTerm, m_vCTermMass, m_vCTermSites);
    CheckTermMods(meta, "n-term", m_vNTermMass);
    CheckTermMods(meta, "c-term", m_vCTermMass);

    ReadIonTypes(meta, "HCDIONTYPE", m_vHCDIonTypes);
    ReadIonTypes(meta, "ETDIONTYPE", m_vETDIonTypes);

    m_strEnzymeName.clear();
    m_strEnzymeSites.clear();
    m_strEnzymeTerm.clear();
    const std::string enzyme = meta.Text("enzyme", "");
    if (!enzyme.empty()) {
        std::istringstream in(enzyme);
        in >> m_strEnzymeName >> m_strEnzymeSites >> m_strEnzymeTerm;
    }
    m_bEnzymeNTerm = m_strEnzymeTerm == "N";

    const CNumber threads = meta.Number("thread", true);
    SetThreads(*this, threads.bGiven ? threads.nValue : 1, threads.strText, meta);

    for (const CScalarKey& k : kMetaScalars) ReadScalar(meta, k, *this);
    m_bRankNodeWeights = m_strNodeWeight == "rank";
    m_bSupportedNodesFirst = m_strNodeSelect == "support";
    m_bEvidenceTies = m_strTieBreak == "evidence";
    if (m_bIsotopePairs && !m_bIsotopeError) {
        int line = 0;
        meta.Text("isotope_pairs", "", &line);
        meta.Say("warning", line, "isotope_pairs=1 has no effect without isotope_error=1");
    }
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

    const CSectionReader file(tool, "file", used, m_nParamErrors);
    ReadSpecPaths(file, m_vSpecPaths);
    const int nPaths = static_cast<int>(m_vSpecPaths.size());
    for (const CScalarKey& k : kFileScalars) ReadScalar(file, k, *this);
    // Without spec_type the spectrum file's name says the format (a folder
    // stays a folder of DTA files).
    int typeLine = 0;
    file.Text("spec_type", "", &typeLine);
    if (typeLine == 0 && !m_vSpecPaths.empty() && !m_bFolder) {
        const std::string named = SpectrumTypeOfName(m_vSpecPaths[0]);
        if (!named.empty()) m_strSpecType = named;
    }

    CheckLines(tool, used, m_nParamErrors);
    CheckValues(*this, meta, file);
    LocateRerankModel(*this, meta, paramFile);

    m_vFiles.clear();
    if (nPaths == 1 && m_bFolder) {
        std::string& folder = m_vSpecPaths[0];
        if (folder.empty() || folder.back() != '/') folder += '/';
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) {
            console::Error() << "cannot open the spectrum folder " << folder << ": " << std::strerror(errno);
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
