#include "conditions/Condition.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <thread>
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

// Upper bound on "spec_path", "HCDIONTYPE" and "ETDIONTYPE": a mistyped huge
// count would otherwise make thousands of lookups for nothing.
constexpr int kMaxNumberedKeys = 1024;

// Searched paths and kept candidates per spectrum beyond which one spectrum
// takes seconds and hundreds of megabytes (a million paths: 17 s and 317 MB
// for 20 spectra) without changing what is reported.
constexpr int kMaxReportPaths = 10000;

const char* const kAllLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The standard ion types, used when the parameter file declares none for a
// mode that is run: b and y (HCD), c and z (ETD), at charges 1 and 2.
const char* const kDefaultHCDIons[] = {"b 1 1 0 0", "y 1 0 0 18.0105647", "b 2 1 0 0", "y 2 0 0 18.0105647"};
const char* const kDefaultETDIons[] = {"c 1 1 0 17.026549105", "z 1 0 0 1.9929378", "c 2 1 0 17.026549105",
                                       "z 2 0 0 1.9929378"};

std::string Upper(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
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
    int Int(const std::string& key, int def) const {
        const std::string value = Text(key, "");
        if (value.empty()) return def;
        return static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
    }

    // "[warning]\tFILE:LINE: text" (no line part when line is 0).
    void Say(const char* level, int line, const std::string& text) const {
        std::cerr << "[" << level << "]\t" << m_tool.FileName();
        if (line > 0) std::cerr << ":" << line;
        std::cerr << ": " << text << "\n";
    }
    void Error(int line, const std::string& text) const {
        Say("error", line, text);
        ++m_nErrors;
    }

    // The design reads numbers as atoi/atof do (text that is no number is 0,
    // a number followed by other text is that number). That stays, but a
    // value that is not wholly a number is almost always a typo that silently
    // changes the run, so it is pointed out.
    void WarnIfNotNumber(const std::string& key, bool integer) const {
        int line = 0;
        const std::string text = Text(key, "", &line);
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
        std::ostringstream msg;
        msg << key << "=" << text << " is not " << (integer ? "an integer" : "a number") << "; it is read as ";
        if (integer)
            msg << std::atoi(begin);
        else
            msg << std::atof(begin);
        Say("warning", line, msg.str());
    }

    int Count(const std::string& key) const {
        WarnIfNotNumber(key, true);
        const int n = Int(key, 0);
        if (n < 0) return 0;
        if (n > kMaxNumberedKeys) {
            int line = 0;
            Text(key, "", &line);
            Say("warning", line,
                key + "=" + std::to_string(n) + " is too large; only " + std::to_string(kMaxNumberedKeys) +
                    " numbered lines are read");
            return kMaxNumberedKeys;
        }
        return n;
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

void ReadIonTypes(const CSectionReader& meta, const char* countKey, std::vector<CIonType>& ions) {
    ions.clear();
    const int n = meta.Count(countKey);
    for (int k = 1; k <= n; ++k) ions.push_back(ParseIonType(meta.Text(countKey + std::to_string(k), "")));
}

// Scalar keys, in the order they are read. Defaults live here only.
enum class Kind { Real, Int, Text, FlagUnlessZero, FlagIfYes, Folder, Choice, ModList };
struct ScalarKey {
    const char* szKey;
    const char* szDefault;
    Kind eKind;
    double CCondition::*pReal;
    int CCondition::*pInt;
    bool CCondition::*pFlag;
    std::string CCondition::*pText;
    const char* szChoices = nullptr;  // Choice: the allowed values, "|"-separated
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
constexpr ScalarKey Choice(const char* k, const char* d, const char* choices, std::string CCondition::*p) {
    return {k, d, Kind::Choice, nullptr, nullptr, nullptr, p, choices};
}

const ScalarKey kMetaScalars[] = {
    Real("mass_lower_bound", "400", &CCondition::m_lfMassLowerBound),
    Real("mass_upper_bound", "2500", &CCondition::m_lfMassUpperBound),
    Choice("activation_type", "HCD", "HCD|ETD|CID", &CCondition::m_strActivation),
    Real("frag_tol", "20", &CCondition::m_lfFragTol),
    Flag("frag_tol_type_ppm", "1", Kind::FlagUnlessZero, &CCondition::m_bFragTolPpm),
    Real("pep_tol", "20", &CCondition::m_lfPepTol),
    Flag("pep_tol_type_ppm", "1", Kind::FlagUnlessZero, &CCondition::m_bPepTolPpm),
    Int("batch_size", "10000", &CCondition::m_nBatchSize),
    Choice("pairing", "precursor", "precursor|order", &CCondition::m_strPairing),
    Int("pair_scan_window", "10", &CCondition::m_nPairScanWindow),
    Real("pair_rt_window", "10", &CCondition::m_lfPairRtWindow),
    // Keys added for accuracy on real spectra; the defaults are the design.
    Choice("node_weight", "log_intensity", "log_intensity|rank", &CCondition::m_strNodeWeight),
    Choice("tie_break", "none", "none|evidence", &CCondition::m_strTieBreak),
    Real("missing_fragment_penalty", "0", &CCondition::m_lfMissingSitePenalty),
    Flag("completion_with_pep_tol", "0", Kind::FlagUnlessZero, &CCondition::m_bCompletionWithPepTol),
    Flag("scale_to_frag_tol", "0", Kind::FlagUnlessZero, &CCondition::m_bScaleToFragTol),
    Text("var_mods", "", Kind::ModList, &CCondition::m_strVarMods),
    Text("var_nterm_mods", "", Kind::ModList, &CCondition::m_strVarNTermMods),
    Real("var_mod_penalty", "0", &CCondition::m_lfVarModPenalty),
    Flag("confidence", "0", Kind::FlagUnlessZero, &CCondition::m_bConfidence),
    Flag("isotope_error", "0", Kind::FlagUnlessZero, &CCondition::m_bIsotopeError),
    Real("isotope_error_penalty", "1", &CCondition::m_lfIsotopeErrorPenalty),
    Text("rerank_model", "", Kind::Text, &CCondition::m_strRerankModel),
    Choice("node_select", "weight", "weight|support", &CCondition::m_strNodeSelect),
    Flag("trace", "0", Kind::FlagUnlessZero, &CCondition::m_bTrace),
    Int("gap_edges", "0", &CCondition::m_nGapResidues),
    Real("gap_weight", "0.5", &CCondition::m_lfGapWeight),
    Real("gap_max_mass", "0", &CCondition::m_lfGapMaxMass),
};

const ScalarKey kFileScalars[] = {
    Flag("folder", "no", Kind::FlagIfYes, &CCondition::m_bFolder),
    Choice("spec_type", "DTA", kReaderTypes, &CCondition::m_strSpecType),
    Text("out_path", "", Kind::Folder, &CCondition::m_strOutPath),
    Text("ans_path", "", Kind::Text, &CCondition::m_strAnsPath),
    Int("report_path", "200", &CCondition::m_nReportPath),
    Int("report_temp", "200", &CCondition::m_nReportTemp),
    Int("report_pep", "10", &CCondition::m_nReportPep),
    Int("max_node", "300", &CCondition::m_nMaxNode),
    Int("max_peaks", "5000", &CCondition::m_nMaxPeaks),
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

void ReadScalar(const CSectionReader& r, const ScalarKey& k, CCondition& c) {
    switch (k.eKind) {
    case Kind::Real:
        r.WarnIfNotNumber(k.szKey, false);
        c.*k.pReal = std::atof(r.Text(k.szKey, k.szDefault).c_str());
        break;
    case Kind::Int:
        r.WarnIfNotNumber(k.szKey, true);
        c.*k.pInt = r.Int(k.szKey, std::atoi(k.szDefault));
        break;
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
    for (const ScalarKey& k : kMetaScalars)
        if (key == k.szKey) return "meta";
    for (const char* k : kMetaOtherKeys)
        if (key == k) return "meta";
    for (const ScalarKey& k : kFileScalars)
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
    for (const ScalarKey& k : kMetaScalars) known.emplace_back(k.szKey);
    for (const ScalarKey& k : kFileScalars) known.emplace_back(k.szKey);
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

void SetThreads(CCondition& c, int requested, const CSectionReader& meta) {
    // Values up to 8 are taken as they are; beyond that the machine's cores
    // set the limit, and 0 or a negative value means every core.
    const unsigned int cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned int limit = std::max(8u, cores);
    if (requested <= 0) {
        c.m_nThreadNum = cores;
        meta.Say("info", 0, "thread=" + std::to_string(requested) + ": every core is used (" + std::to_string(cores) + ")");
    } else if (static_cast<unsigned int>(requested) > limit) {
        c.m_nThreadNum = limit;
        meta.Say("info", 0, "thread=" + std::to_string(requested) + " is more than this machine's " +
                                std::to_string(cores) + " cores; " + std::to_string(limit) + " threads are used");
    } else {
        c.m_nThreadNum = static_cast<unsigned int>(requested);
    }
}

// Points out every key line that did not supply a value: unknown keys (with
// the closest known one), keys before any header or in the wrong section,
// repeated keys. Comments, blank lines and free text are left alone.
void CheckLines(const COptionTool& tool, const std::set<int>& used) {
    const std::vector<std::string>& lines = tool.Lines();
    std::string section;  // the section the line stands in; empty before any header
    std::map<std::string, int> first;  // key -> line that supplied its value
    for (int n : used) {
        std::string key, value;
        if (COptionTool::SplitKeyLine(lines[static_cast<size_t>(n - 1)], key, value)) first[key] = n;
    }
    auto say = [&tool](const char* level, int n, const std::string& text) {
        std::cerr << "[" << level << "]\t" << tool.FileName() << ":" << n << ": " << text << "\n";
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const int n = static_cast<int>(i + 1);
        const std::string& line = lines[i];
        const size_t lead = line.find_first_not_of(" \t");
        if (lead == std::string::npos || line[lead] == '#' || line[lead] == ';') continue;
        if (line[lead] == '[') {
            const size_t close = line.find(']', lead);
            const std::string name =
                close == std::string::npos ? line.substr(lead + 1) : line.substr(lead + 1, close - lead - 1);
            if (lead == 0 && (name == "meta" || name == "file")) {
                section = name;
            } else {
                section = "?";
                say("warning", n, "unknown section header " + line +
                                      "; the headers are [meta] and [file], in small letters, in column 1");
            }
            continue;
        }
        std::string key, value;
        bool blanked = false;
        if (!COptionTool::SplitKeyLine(line, key, value, &blanked)) continue;  // free text: a comment
        const std::string home = SectionOf(key);
        if (used.count(n)) {
            if (blanked) say("info", n, "blanks around '=' in \"" + line + "\" are ignored");
            continue;
        }
        if (home.empty()) {
            say("warning", n, "unknown key " + key + "; did you mean " + ClosestKey(key) + "?");
        } else if (section.empty()) {
            say("warning", n, key + " stands before any section header and is ignored; put it under [" + home + "]");
        } else if (first.count(key)) {
            say("warning", n, key + " is set again; the value of line " + std::to_string(first[key]) + " is used");
        } else if (section != home) {
            say("warning", n, key + " belongs to section [" + home + "], not [" + section + "]; it is ignored");
        } else {
            say("warning", n, key + " is not read (a numbered line beyond its count); it is ignored");
        }
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
    if (!(c.m_lfMassLowerBound <= c.m_lfMassUpperBound))
        meta.Error(lineOf(meta, "mass_upper_bound"),
                   "mass_lower_bound is above mass_upper_bound: no spectrum could be sequenced");
    if (c.m_nBatchSize <= 0) meta.Error(lineOf(meta, "batch_size"), "batch_size must be 1 or more");
    struct SizeKey {
        const char* szKey;
        int* pValue;
        bool bCapped;
    };
    for (const SizeKey& k : {SizeKey{"report_path", &c.m_nReportPath, true},
                             SizeKey{"report_temp", &c.m_nReportTemp, true},
                             SizeKey{"report_pep", &c.m_nReportPep, false}}) {
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
    const COptionTool tool(paramFile);
    m_strParamFile = paramFile;
    std::set<int> used;
    m_nParamErrors = 0;
    const CSectionReader meta(tool, "meta", used, m_nParamErrors);
    for (int k = 0; k < 26; ++k) {
        const std::string key(1, static_cast<char>('A' + k));
        const std::string value = meta.Text(key, "NULL");
        if (value != "NULL") {
            meta.WarnIfNotNumber(key, false);
            m_lfAAMass[k] = std::atof(value.c_str());
        }
    }

    m_vNTermMass.clear();
    m_vNTermSites.clear();
    m_vCTermMass.clear();
    m_vCTermSites.clear();
    const std::string nTerm = meta.Text("n-term", "NULL");
    if (nTerm != "NULL") ParseTermMods(nTerm, m_vNTermMass, m_vNTermSites);
    const std::string cTerm = meta.Text("c-term", "NULL");
    if (cTerm != "NULL") ParseTermMods(cTerm, m_vCTermMass, m_vCTermSites);

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

    meta.WarnIfNotNumber("thread", true);
    SetThreads(*this, meta.Int("thread", 1), meta);

    for (const ScalarKey& k : kMetaScalars) ReadScalar(meta, k, *this);
    m_bRankNodeWeights = m_strNodeWeight == "rank";
    m_bSupportedNodesFirst = m_strNodeSelect == "support";
    m_bEvidenceTies = m_strTieBreak == "evidence";
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
    const int nPaths = file.Count("spec_path");
    m_vSpecPaths.clear();
    for (int k = 1; k <= nPaths; ++k) m_vSpecPaths.push_back(file.Text("spec_path" + std::to_string(k), "null"));
    for (const ScalarKey& k : kFileScalars) ReadScalar(file, k, *this);

    CheckLines(tool, used);
    CheckValues(*this, meta, file);
    LocateRerankModel(*this, meta, paramFile);

    m_vFiles.clear();
    if (nPaths == 1 && m_bFolder) {
        std::string& folder = m_vSpecPaths[0];
        if (folder.empty() || folder.back() != '/') folder += '/';
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) {
            std::cerr << "[error]\tcannot open the spectrum folder " << folder << ": " << std::strerror(errno)
                      << std::endl;
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
