#include "rerank/FragmentModel.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/Masses.h"
#include "conditions/Condition.h"
#include "rerank/BoostedTrees.h"
#include "rerank/PortableMath.h"

const char* const CFragmentModel::kHeader = "vemra fragment model 1";
const char* const CFragmentModel::kAlphabet = "ACDEFGHKLMNPQRSTVWYmkx-";

namespace {

constexpr int kCodes = 23;
constexpr int kOxidisedM = 19;
constexpr int kLabelledK = 20;
constexpr int kOtherLetter = 21;
constexpr int kTerminus = 22;
constexpr int kCharges = 4;  // precursor 1+, 2+, 3+, 4+ and above
constexpr int kLengths = 20; // fragment length 1 .. 19, 20 and above
constexpr int kBasic = 4;    // basic residues in a fragment: 0, 1, 2, 3 and above
constexpr int kMzBins = 16;  // fragment m/z by 100 (up to 1600), and over the precursor m/z by 0.25 (up to 4)
constexpr double kLabelDelta = 0.1;
// The hydrogen atom that turns z into the z+1 radical ETD mostly yields.
constexpr double kHydrogen = 1.00782503207;

struct CTableSpec {
    const char* szName;
    int nRows;
    int nColumns;
};

// Order is the file's order and the order of a slot's feature indices.
constexpr CTableSpec kTableSpecs[CFragmentModel::kTables] = {
    {"bias", CFragmentModel::kKinds, kCharges},
    {"pair", kCodes, kCodes},  // shared by the four kinds: how readily the bond breaks
    {"n_side", CFragmentModel::kKinds, kCodes},
    {"c_side", CFragmentModel::kKinds, kCodes},
    {"n_far", CFragmentModel::kKinds, kCodes},
    {"c_far", CFragmentModel::kKinds, kCodes},
    {"fragment_length", CFragmentModel::kKinds * kCharges, kLengths},
    {"other_length", CFragmentModel::kKinds, kLengths},
    {"basic", CFragmentModel::kKinds * kCharges, kBasic * kBasic},
    {"nterm_label", CFragmentModel::kKinds, 2},
    {"cterm_residue", CFragmentModel::kKinds, kCodes},
    {"mz", CFragmentModel::kKinds, kMzBins},
    {"mz_over_precursor", CFragmentModel::kKinds * kCharges, kMzBins},
};

constexpr int SpecOffset(int k) {
    int o = 0;
    for (int i = 0; i < k; ++i) o += kTableSpecs[i].nRows * kTableSpecs[i].nColumns;
    return o;
}

struct COffsets {
    int v[CFragmentModel::kTables + 1];
    constexpr COffsets() : v() {
        for (int k = 0; k <= CFragmentModel::kTables; ++k) v[k] = SpecOffset(k);
    }
    constexpr int operator[](int k) const { return v[k]; }
};
constexpr COffsets kOffset;

// Residue code of each capital letter; I and L are one residue.
struct CLetterCodes {
    unsigned char vCode[26];
    constexpr CLetterCodes() : vCode() {
        const char* const letters = "ACDEFGHKLMNPQRSTVWY";
        for (int c = 0; c < 26; ++c) vCode[c] = kOtherLetter;
        for (int i = 0; letters[i]; ++i) vCode[letters[i] - 'A'] = static_cast<unsigned char>(i);
        vCode['I' - 'A'] = vCode['L' - 'A'];
    }
};
constexpr CLetterCodes kLetterCodes;

inline unsigned char LetterCode(char c) { return c >= 'A' && c <= 'Z' ? kLetterCodes.vCode[c - 'A'] : kOtherLetter; }

// A peptide as the tables see it.
struct CPeptideCodes {
    int nLength = 0;
    int nCharge = 0;  // bucket 0 .. kCharges - 1
    int nNLabel = 0;
    unsigned char vCode[CFragmentModel::kMaxLength];
    unsigned char vBasicBefore[CFragmentModel::kMaxLength + 1];  // basic residues among the first i
    double vPrefix[CFragmentModel::kMaxLength + 1];  // residue mass of the first i, with the N-terminal delta
    double lfBinsPerMz = 0.0;  // 4 / precursor m/z: bins of a quarter of the precursor m/z
};

// m/z bins of a slot's b- or y-type ion (c and z+1 lie within 17 Da of
// them: the same bins to these widths).
inline void MzBins(const CPeptideCodes& c, int s, int k, int& absolute, int& relative) {
    const double prefix = c.vPrefix[s], suffix = c.vPrefix[c.nLength] - c.vPrefix[s] + mass::kWater;
    const double neutral = k < 2 ? prefix : suffix;
    const double mz = (k & 1) ? (neutral + 2.0 * mass::kProton) / 2.0 : neutral + mass::kProton;
    absolute = std::clamp(static_cast<int>(mz * 0.01), 0, kMzBins - 1);
    relative = std::clamp(static_cast<int>(mz * c.lfBinsPerMz), 0, kMzBins - 1);
}

void Encode(const char* residues, const double* deltas, int length, double nTermDelta, int charge, CPeptideCodes& c) {
    c.nLength = length;
    c.nCharge = std::clamp(charge, 1, kCharges) - 1;
    c.nNLabel = nTermDelta > kLabelDelta ? 1 : 0;
    c.vBasicBefore[0] = 0;
    c.vPrefix[0] = nTermDelta;
    for (int i = 0; i < length; ++i) {
        const char r = residues[i];
        c.vPrefix[i + 1] = c.vPrefix[i] + CCondition::BuiltInMass(r == 'I' ? 'L' : r) + (deltas ? deltas[i] : 0.0);
        const bool modified = deltas != nullptr && deltas[i] > kLabelDelta;
        unsigned char code = LetterCode(r);
        if (r == 'M' && modified) code = kOxidisedM;
        if (r == 'K' && modified) code = kLabelledK;
        c.vCode[i] = code;
        const bool basic = r == 'K' || r == 'R' || r == 'H';
        c.vBasicBefore[i + 1] = static_cast<unsigned char>(c.vBasicBefore[i] + (basic ? 1 : 0));
    }
    const int z = std::max(charge, 1);
    c.lfBinsPerMz = 4.0 * z / (c.vPrefix[length] + mass::kWater + z * mass::kProton);
}

// The weight indices of kind k at site s (1 .. L-1).
inline void SlotFeatures(const CPeptideCodes& c, int s, int k, int32_t* idx) {
    const int L = c.nLength;
    const bool prefix = k < 2;
    const int fragment = prefix ? s : L - s;
    const int basicPrefix = c.vBasicBefore[s], basicSuffix = c.vBasicBefore[L] - c.vBasicBefore[s];
    const int basicFragment = std::min(prefix ? basicPrefix : basicSuffix, kBasic - 1);
    const int basicOther = std::min(prefix ? basicSuffix : basicPrefix, kBasic - 1);
    const int kz = k * kCharges + c.nCharge;
    idx[0] = kOffset[0] + kz;
    idx[1] = kOffset[1] + c.vCode[s - 1] * kCodes + c.vCode[s];
    idx[2] = kOffset[2] + k * kCodes + c.vCode[s - 1];
    idx[3] = kOffset[3] + k * kCodes + c.vCode[s];
    idx[4] = kOffset[4] + k * kCodes + (s >= 2 ? c.vCode[s - 2] : kTerminus);
    idx[5] = kOffset[5] + k * kCodes + (s + 1 < L ? c.vCode[s + 1] : kTerminus);
    idx[6] = kOffset[6] + kz * kLengths + std::min(fragment, kLengths) - 1;
    idx[7] = kOffset[7] + k * kLengths + std::min(L - fragment, kLengths) - 1;
    idx[8] = kOffset[8] + kz * kBasic * kBasic + basicFragment * kBasic + basicOther;
    idx[9] = kOffset[9] + k * 2 + c.nNLabel;
    idx[10] = kOffset[10] + k * kCodes + c.vCode[L - 1];
    int absolute = 0, relative = 0;
    MzBins(c, s, k, absolute, relative);
    idx[11] = kOffset[11] + k * kMzBins + absolute;
    idx[12] = kOffset[12] + kz * kMzBins + relative;
}

// Doubly charged fragments need a second proton the precursor does not have.
inline bool SlotPossible(int k, int charge) { return charge >= 2 || (k & 1) == 0; }

// The widest table row.
constexpr int MaxColumns() {
    int m = 2;  // the detection rows
    for (const CTableSpec& t : kTableSpecs) m = std::max(m, t.nColumns);
    return m;
}

void AppendNumber(std::string& t, float v) {
    char buf[32];
    // Nine significant digits give back the same float when read.
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
    t += buf;
}

}  // namespace

const char* FragmentKindName(EFragmentKind e) {
    switch (e) {
        case EFragmentKind::CID: return "CID";
        case EFragmentKind::ETD: return "ETD";
        default: return "HCD";
    }
}

bool ParseFragmentKind(std::string_view text, EFragmentKind& out) {
    for (EFragmentKind e : {EFragmentKind::HCD, EFragmentKind::CID, EFragmentKind::ETD})
        if (text == FragmentKindName(e)) {
            out = e;
            return true;
        }
    return false;
}

const char* CFragmentModel::TableName(int k) { return kTableSpecs[k].szName; }
int CFragmentModel::TableRows(int k) { return kTableSpecs[k].nRows; }
int CFragmentModel::TableColumns(int k) { return kTableSpecs[k].nColumns; }
int CFragmentModel::TableOffset(int k) { return kOffset[k]; }
int CFragmentModel::WeightCount() { return kOffset[kTables]; }

CFragmentModel::CFragmentModel(EFragmentKind e)
    : m_vWeights(static_cast<size_t>(WeightCount()), 0.0f), m_vDetection(2 * kKinds, 0.0f), m_eFragmentation(e) {}

int CFragmentModel::IonCount(int length) { return length >= 2 && length <= kMaxLength ? (length - 1) * kKinds : 0; }

int CFragmentModel::Features(const char* residues, const double* deltas, int length, double nTermDelta, int charge,
                             int32_t* out) {
    const int n = IonCount(length);
    if (n == 0) return 0;
    CPeptideCodes c;
    Encode(residues, deltas, length, nTermDelta, charge, c);
    for (int s = 1; s < length; ++s)
        for (int k = 0; k < kKinds; ++k) {
            int32_t* idx = out + ((s - 1) * kKinds + k) * kFeaturesPerIon;
            SlotFeatures(c, s, k, idx);
            if (!SlotPossible(k, charge)) idx[0] = -1;
        }
    return n;
}

int CFragmentModel::Predict(const char* residues, const double* deltas, int length, double nTermDelta, int charge,
                            float* out) const {
    const int n = IonCount(length);
    if (n == 0) return 0;
    CPeptideCodes c;
    Encode(residues, deltas, length, nTermDelta, charge, c);
    // The same sums as SlotFeatures, with what is fixed for the peptide or
    // the site taken out of the inner loop.
    const float* w = m_vWeights.data();
    const int L = length;
    float constant[kKinds];
    const float* row[kKinds][9];
    for (int k = 0; k < kKinds; ++k) {
        const int kz = k * kCharges + c.nCharge;
        constant[k] = w[kOffset[0] + kz] + w[kOffset[9] + k * 2 + c.nNLabel] + w[kOffset[10] + k * kCodes + c.vCode[L - 1]];
        for (int t = 2; t <= 5; ++t) row[k][t - 2] = w + kOffset[t] + k * kCodes;
        row[k][4] = w + kOffset[6] + kz * kLengths;
        row[k][5] = w + kOffset[7] + k * kLengths;
        row[k][6] = w + kOffset[8] + kz * kBasic * kBasic;
        row[k][7] = w + kOffset[11] + k * kMzBins;
        row[k][8] = w + kOffset[12] + kz * kMzBins;
    }
    const int kinds = charge >= 2 ? kKinds : 0;  // 0: only the singly charged kinds can be scored
    float top = -HUGE_VALF;
    for (int s = 1; s < L; ++s) {
        const int cn = c.vCode[s - 1], cc = c.vCode[s];
        const int nFar = s >= 2 ? c.vCode[s - 2] : kTerminus, cFar = s + 1 < L ? c.vCode[s + 1] : kTerminus;
        const float pair = w[kOffset[1] + cn * kCodes + cc];
        const int lengthPrefix = std::min(s, kLengths) - 1, lengthSuffix = std::min(L - s, kLengths) - 1;
        const int basicPrefix = std::min<int>(c.vBasicBefore[s], kBasic - 1);
        const int basicSuffix = std::min<int>(c.vBasicBefore[L] - c.vBasicBefore[s], kBasic - 1);
        float* slot = out + (s - 1) * kKinds;
        for (int k = 0; k < kKinds; ++k) {
            if (kinds == 0 && (k & 1)) {
                slot[k] = -HUGE_VALF;
                continue;
            }
            const bool prefix = k < 2;
            const float* const* r = row[k];
            const int fragment = prefix ? lengthPrefix : lengthSuffix, other = prefix ? lengthSuffix : lengthPrefix;
            const int basic = prefix ? basicPrefix * kBasic + basicSuffix : basicSuffix * kBasic + basicPrefix;
            int absolute = 0, relative = 0;
            MzBins(c, s, k, absolute, relative);
            const float sum = constant[k] + pair + r[0][cn] + r[1][cc] + r[2][nFar] + r[3][cFar] + r[4][fragment] +
                              r[5][other] + r[6][basic] + r[7][absolute] + r[8][relative];
            slot[k] = sum;
            top = std::max(top, sum);
        }
    }
    // Softmax, shifted by the largest score so that no exponent overflows.
    float total = 0.0f;
    for (int i = 0; i < n; ++i) {
        out[i] = out[i] == -HUGE_VALF ? 0.0f : portable::ExpNonPositive(out[i] - top);
        total += out[i];
    }
    const float scale = 1.0f / total;
    for (int i = 0; i < n; ++i) out[i] *= scale;
    return n;
}

float CFragmentModel::Detection(int kind, float share, int ions) const {
    if (share <= 0.0f || ions <= 0 || kind < 0 || kind >= kKinds) return 0.0f;
    const double x = portable::Log(std::max(static_cast<double>(share) * ions, 1e-6));
    const double z = m_vDetection[static_cast<size_t>(2 * kind)] + m_vDetection[static_cast<size_t>(2 * kind + 1)] * x;
    return static_cast<float>(1.0 / (1.0 + portable::Exp(-z)));
}

int CFragmentModel::FragmentMz(const char* residues, const double* deltas, int length, double nTermDelta,
                               EFragmentKind e, double* out) {
    const int n = IonCount(length);
    if (n == 0) return 0;
    double total = nTermDelta;
    for (int i = 0; i < length; ++i)
        total += CCondition::BuiltInMass(residues[i] == 'I' ? 'L' : residues[i]) + (deltas ? deltas[i] : 0.0);
    const bool etd = e == EFragmentKind::ETD;
    // Neutral fragment = residue sum + these.
    const double prefixShift = etd ? mass::kAmmonia : 0.0;
    const double suffixShift = etd ? mass::kWater - mass::kAmmonia + kHydrogen : mass::kWater;
    double prefix = nTermDelta;
    for (int s = 1; s < length; ++s) {
        prefix += CCondition::BuiltInMass(residues[s - 1] == 'I' ? 'L' : residues[s - 1]) + (deltas ? deltas[s - 1] : 0.0);
        const double p = prefix + prefixShift, q = total - prefix + suffixShift;
        double* slot = out + (s - 1) * kKinds;
        slot[0] = p + mass::kProton;
        slot[1] = (p + 2.0 * mass::kProton) / 2.0;
        slot[2] = q + mass::kProton;
        slot[3] = (q + 2.0 * mass::kProton) / 2.0;
    }
    return n;
}

bool CFragmentModel::Load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the model file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!Parse(text.str(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool CFragmentModel::Parse(std::string_view text, std::string& error, int firstLine) {
    // The meaningful lines one after the other; the one being looked at
    // names its number in an error, or the end when none is left.
    modeltext::CLines in(text, 0, firstLine - 1);
    bool more = in.Next();
    auto fail = [&](const std::string& what) {
        error = (more ? "line " + std::to_string(in.nLine) + ": " : std::string("at the end: ")) + what;
        return false;
    };
    auto line = [&]() { return std::string(in.strLine); };
    constexpr size_t kMaxWords = MaxColumns() + 1;  // one more tells a row with a value to spare
    std::string_view w[kMaxWords];
    const std::string header = kHeader;
    const std::string family = header.substr(0, header.rfind(' ') + 1);
    if (!more) return fail("not a fragment model (empty)");
    if (in.strLine != header) {
        if (in.strLine.substr(0, family.size()) == family)
            return fail("fragment model version \"" + line().substr(family.size()) + "\"; this program reads version " +
                        header.substr(family.size()));
        return fail("not a fragment model (the first line must be \"" + header + "\")");
    }
    more = in.Next();
    EFragmentKind fragmentation = EFragmentKind::HCD;
    if (!more) return fail("\"fragmentation\" is missing");
    if (modeltext::Words(in.strLine, w, 2) != 2 || w[0] != "fragmentation" || !ParseFragmentKind(w[1], fragmentation))
        return fail("expected \"fragmentation HCD\", \"CID\" or \"ETD\", found \"" + line() + "\"");
    more = in.Next();
    if (!more) return fail("\"alphabet\" is missing");
    if (modeltext::Words(in.strLine, w, 2) != 2 || w[0] != "alphabet" || w[1] != kAlphabet)
        return fail(std::string("expected \"alphabet ") + kAlphabet + "\", found \"" + line() + "\"");
    more = in.Next();
    // "KEYWORD [NAME] ROWS COLUMNS", then ROWS lines of COLUMNS numbers.
    auto block = [&](const std::string& expected, int rows, int columns, float* values) {
        const std::string head = expected + " " + std::to_string(rows) + " " + std::to_string(columns);
        if (!more) return fail("\"" + head + "\" is missing");
        // The line's words, one space between each, must be the head.
        std::string_view rest = head;
        size_t pos = 0;
        bool same = true;
        for (std::string_view word; same && modeltext::NextWord(in.strLine, pos, word);) {
            same = rest.substr(0, word.size()) == word && (rest.size() == word.size() || rest[word.size()] == ' ');
            if (same) rest.remove_prefix(std::min(rest.size(), word.size() + 1));
        }
        if (!same || !rest.empty()) return fail("expected \"" + head + "\", found \"" + line() + "\"");
        more = in.Next();
        for (int r = 0; r < rows; ++r, more = in.Next()) {
            if (!more) return fail(expected + ": row " + std::to_string(r + 1) + " is missing");
            const size_t n = modeltext::Words(in.strLine, w, kMaxWords);
            if (n != static_cast<size_t>(columns))
                return fail(expected + ": " + std::to_string(n) + " values, expected " + std::to_string(columns));
            for (int c = 0; c < columns; ++c)
                if (!modeltext::ReadStrtof(w[c], values[r * columns + c]))
                    return fail(expected + ": \"" + std::string(w[c]) + "\" is not a number");
        }
        return true;
    };
    std::vector<float> weights(static_cast<size_t>(WeightCount()), 0.0f);
    std::vector<float> detection(2 * kKinds, 0.0f);
    for (int k = 0; k < kTables; ++k)
        if (!block(std::string("table ") + TableName(k), TableRows(k), TableColumns(k), weights.data() + kOffset[k]))
            return false;
    if (!block("detection", kKinds, 2, detection.data())) return false;
    if (more) return fail("unexpected \"" + line() + "\"");
    m_vWeights = std::move(weights);
    m_vDetection = std::move(detection);
    m_eFragmentation = fragmentation;
    return true;
}

std::string CFragmentModel::Text(const std::string& comment) const {
    std::string t = std::string(kHeader) + "\n";
    std::istringstream in(comment);
    for (std::string line; std::getline(in, line);) t += "# " + line + "\n";
    t += std::string("fragmentation ") + FragmentKindName(m_eFragmentation) + "\n";
    t += std::string("alphabet ") + kAlphabet + "\n";
    auto rows = [&t](const float* v, int nRows, int nColumns) {
        for (int r = 0; r < nRows; ++r) {
            for (int c = 0; c < nColumns; ++c) {
                if (c) t += ' ';
                AppendNumber(t, v[r * nColumns + c]);
            }
            t += '\n';
        }
    };
    for (int k = 0; k < kTables; ++k) {
        t += std::string("table ") + TableName(k) + " " + std::to_string(TableRows(k)) + " " +
             std::to_string(TableColumns(k)) + "\n";
        rows(m_vWeights.data() + kOffset[k], TableRows(k), TableColumns(k));
    }
    t += "detection " + std::to_string(kKinds) + " 2\n";
    rows(m_vDetection.data(), kKinds, 2);
    return t;
}
