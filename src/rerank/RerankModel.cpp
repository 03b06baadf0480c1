#include "rerank/RerankModel.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/Console.h"
#include "conditions/Condition.h"
#include "rerank/Features.h"
#include "rerank/PortableMath.h"

// Texts of models/hcd.model and models/hcd_boosted.model, compiled in
// (generated at configure time).
extern const char* const kBuiltinHcdModelText;
extern const char* const kBuiltinHcdBoostedModelText;

const char* const CRerankModel::kCalibrationNames[3] = {"intercept", "probability", "margin"};
const char* const CRerankModel::kListInputNames[kListInputs] = {"softmax_share", "margin", "ranker_score"};

const char* CRerankModel::CalibrationName(int k) { return k < 3 ? kCalibrationNames[k] : CFeatures::kNames[k - 3]; }
const char* const CRerankModel::kHeader = "vemra rerank model 1";
const char* const CRerankModel::kBoostedHeader = "vemra rerank model 2";
const char* const CRerankModel::kBuiltinHcd = "builtin:hcd";
const char* const CRerankModel::kBuiltinHcdBoosted = "builtin:hcd-boosted";

static_assert(CRerankModel::kCalibration == 3 + static_cast<int>(CFeatures::kLinearCount));

namespace {

bool ReadNumber(const std::string& word, double& v) {
    if (word.empty()) return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtod(word.c_str(), &end);
    return end == word.c_str() + word.size() && std::isfinite(v) && errno != ERANGE;
}

std::string Number(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

}  // namespace

bool CRerankModel::Load(const std::string& path, std::string& error) {
    if (path == kBuiltinHcd || path == kBuiltinHcdBoosted) {
        if (Parse(path == kBuiltinHcd ? kBuiltinHcdModelText : kBuiltinHcdBoostedModelText, error)) return true;
        error = path + ": " + error;
        return false;
    }
    if (path.rfind("builtin:", 0) == 0) {
        error = "no built-in model is called " + path + " (there are " + kBuiltinHcd + " and " + kBuiltinHcdBoosted + ")";
        return false;
    }
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

bool CRerankModel::Parse(const std::string& text, std::string& error) {
    // The version decides the reader; the first meaningful line says it.
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#') break;
    }
    if (line == kBoostedHeader) return _ParseBoosted(text, true, error);
    return _ParseLinear(text, error);
}

bool CRerankModel::_ParseLinear(const std::string& text, std::string& error) {
    // The meaningful lines with their line numbers.
    std::vector<std::pair<int, std::string>> lines;
    std::istringstream in(text);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        lines.emplace_back(n, line);
    }
    size_t at = 0;
    auto fail = [&](const std::string& what) {
        error = (at < lines.size() ? "line " + std::to_string(lines[at].first) + ": " : std::string("at the end: ")) +
                what;
        return false;
    };
    if (lines.empty() || lines[0].second != kHeader) {
        if (!lines.empty() && lines[0].second.rfind("vemra rerank model ", 0) == 0)
            return fail("re-ranking model version \"" + lines[0].second.substr(19) +
                        "\"; this program reads versions 1 and 2");
        return fail(std::string("not a re-ranking model (the first line must be \"") + kBoostedHeader + "\" or \"" +
                    kHeader + "\")");
    }
    ++at;
    // "KEYWORD N", then N lines "NAME VALUE" with the expected names.
    auto block = [&](const char* keyword, auto name, int count, double* values) {
        if (at >= lines.size()) return fail(std::string("\"") + keyword + " " + std::to_string(count) + "\" is missing");
        std::istringstream head(lines[at].second);
        std::string word, n, rest;
        head >> word >> n;
        if (word != keyword || n != std::to_string(count) || (head >> rest))
            return fail("expected \"" + std::string(keyword) + " " + std::to_string(count) + "\" (this program's " +
                        keyword + "), found \"" + lines[at].second + "\"");
        ++at;
        for (int k = 0; k < count; ++k, ++at) {
            const std::string expected = name(k);
            if (at >= lines.size()) return fail(expected + " is missing");
            std::istringstream fields(lines[at].second);
            std::string found, value;
            fields >> found >> value;
            if (found != expected) return fail("expected " + expected + ", found \"" + found + "\"");
            if (fields >> rest) return fail("more than one value for " + found);
            if (!ReadNumber(value, values[k])) return fail(found + ": \"" + value + "\" is not a number");
        }
        return true;
    };
    std::vector<double> weights(CFeatures::kLinearCount, 0.0);
    double calibration[kCalibration] = {};
    if (!block("features", [](int k) { return std::string(CFeatures::kNames[k]); },
               static_cast<int>(CFeatures::kLinearCount), weights.data()))
        return false;
    if (!block("calibration", [](int k) { return std::string(CalibrationName(k)); }, kCalibration, calibration))
        return false;
    if (at < lines.size()) return fail("unexpected \"" + lines[at].second + "\"");
    *this = CRerankModel();
    m_vWeights = weights;
    for (int k = 0; k < kCalibration; ++k) m_lfCalibration[k] = calibration[k];
    return true;
}

std::string CRerankModel::Text(const std::string& comment) const {
    if (m_nVersion == 2) return _BoostedText(comment);
    std::string t = std::string(kHeader) + "\n";
    std::istringstream in(comment);
    for (std::string line; std::getline(in, line);) t += "# " + line + "\n";
    t += "features " + std::to_string(CFeatures::kLinearCount) + "\n";
    for (size_t k = 0; k < CFeatures::kLinearCount; ++k)
        t += std::string(CFeatures::kNames[k]) + " " + Number(k < m_vWeights.size() ? m_vWeights[k] : 0.0) + "\n";
    t += "calibration " + std::to_string(kCalibration) + "\n";
    for (int k = 0; k < kCalibration; ++k) t += std::string(CalibrationName(k)) + " " + Number(m_lfCalibration[k]) + "\n";
    return t;
}

double CRerankModel::Score(const double* row) const {
    if (m_nVersion == 2) {
        double picked[CFeatures::kCount];
        for (size_t k = 0; k < m_vFeatureIndex.size(); ++k) picked[k] = row[m_vFeatureIndex[k]];
        return m_ranker.Score(picked);
    }
    double s = 0.0;
    for (size_t k = 0; k < m_vWeights.size(); ++k) s += m_vWeights[k] * row[k];
    return s;
}

double CRerankModel::Confidence(double probability, double margin, const double* row) const {
    double z = m_lfCalibration[0] + m_lfCalibration[1] * probability + m_lfCalibration[2] * margin;
    for (size_t k = 0; k < CFeatures::kLinearCount; ++k) z += m_lfCalibration[3 + k] * row[k];
    return 1.0 / (1.0 + std::exp(-z));
}

double CRerankModel::FirstRight(double share, double margin, double score, const double* row) const {
    double inputs[kListInputs + CFeatures::kCount];
    inputs[0] = share;
    inputs[1] = margin;
    inputs[2] = score;
    for (size_t k = 0; k < m_vFeatureIndex.size(); ++k) inputs[kListInputs + k] = row[m_vFeatureIndex[k]];
    return portable::Sigmoid(m_calibration.Score(inputs));
}

const CFragmentModel* CRerankModel::Fragments(bool etd, bool lowRes) const {
    const CFragmentModel* hcd = nullptr;
    const CFragmentModel* cid = nullptr;
    for (const CFragmentModel& m : m_vFragments) {
        if (m.Fragmentation() == EFragmentKind::ETD && etd) return &m;
        if (m.Fragmentation() == EFragmentKind::HCD) hcd = &m;
        if (m.Fragmentation() == EFragmentKind::CID) cid = &m;
    }
    if (etd) return nullptr;
    if (lowRes) return cid != nullptr ? cid : hcd;
    return hcd != nullptr ? hcd : cid;
}

void CRerankModel::SetFeatures(const std::vector<std::string>& names) {
    m_nVersion = 2;
    m_vFeatureNames = names;
    m_vFeatureIndex.clear();
    for (const std::string& n : names) m_vFeatureIndex.push_back(std::max(0, CFeatures::IndexOf(n)));
}

void CRerankModel::SetPairs(const CResiduePairs& pairs) {
    m_nVersion = 2;
    m_pairs = pairs;
    m_bPairs = true;
}

void CRerankModel::AddFragments(const CFragmentModel& model) {
    m_nVersion = 2;
    for (CFragmentModel& m : m_vFragments)
        if (m.Fragmentation() == model.Fragmentation()) {
            m = model;
            return;
        }
    m_vFragments.push_back(model);
}

void CRerankModel::SetRanker(const CBoostedTrees& ranker, const CBoostedTrees& calibration) {
    m_nVersion = 2;
    m_ranker = ranker;
    m_calibration = calibration;
    m_bRankerSet = true;
}

void CRerankModel::SetFallback(const CRerankModel& linear, int feature, double below) {
    m_pFallback = std::make_shared<const CRerankModel>(linear);
    m_nGateFeature = feature;
    m_lfGateBelow = below;
}

bool CRerankModel::FallsBack(const double* firstRow) const {
    if (m_pFallback == nullptr) return false;
    const double v = firstRow[m_nGateFeature];
    return !(v >= m_lfGateBelow);
}

bool CRerankModel::GatesOnOwnRow() const {
    return m_pFallback != nullptr && CFeatures::OwnFeature(m_nGateFeature);
}

CRerankModel CRerankModel::Evidence() const {
    CRerankModel e = *this;
    e.m_pFallback.reset();
    e.m_nGateFeature = -1;
    e.m_bRankerSet = false;
    e.m_ranker = CBoostedTrees();
    e.m_calibration = CBoostedTrees();
    return e;
}

std::vector<std::string> CRerankModel::CalibrationInputs() const {
    std::vector<std::string> names(kListInputNames, kListInputNames + kListInputs);
    names.insert(names.end(), m_vFeatureNames.begin(), m_vFeatureNames.end());
    return names;
}

namespace {

// Reads a text line by line, keeping the line number; comments and blank
// lines are skipped by Next.
struct CLineCursor {
    const std::string& strText;
    size_t nPos = 0;
    int nLine = 0;        // number of the line last read
    std::string strLine;  // its text

    // The next raw line; false at the end.
    bool Raw() {
        if (nPos >= strText.size()) {
            strLine.clear();
            return false;
        }
        size_t end = strText.find('\n', nPos);
        if (end == std::string::npos) end = strText.size();
        strLine = strText.substr(nPos, end - nPos);
        nPos = end < strText.size() ? end + 1 : end;
        ++nLine;
        if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
        return true;
    }
    // The next line that is not blank or a comment; false at the end.
    bool Next() {
        while (Raw()) {
            const size_t first = strLine.find_first_not_of(" \t");
            if (first != std::string::npos && strLine[first] != '#') return true;
        }
        return false;
    }
    // Comments and blank lines up to the next meaningful line, which stays
    // unread.
    void SkipComments() {
        while (nPos < strText.size()) {
            const size_t save = nPos;
            const int line = nLine;
            if (Next()) {
                nPos = save;
                nLine = line;
                return;
            }
        }
    }
};

bool ReadCount(const std::string& word, long long& n) {
    if (word.empty() || word.size() > 9 || word.find_first_not_of("0123456789") != std::string::npos) return false;
    n = std::stoll(word);
    return true;
}

}  // namespace

bool CRerankModel::ParseEvidence(const std::string& text, std::string& error) {
    if (text.rfind(kBoostedHeader, 0) != 0) {
        error = std::string("line 1: expected \"") + kBoostedHeader + "\"";
        return false;
    }
    return _ParseBoosted(text, false, error);
}

bool CRerankModel::_ParseBoosted(const std::string& text, bool needRanker, std::string& error) {
    CLineCursor in{text, 0, 0, std::string()};
    auto fail = [&](const std::string& what) {
        error = (in.strLine.empty() && in.nPos >= text.size() ? std::string("at the end: ")
                                                              : "line " + std::to_string(in.nLine) + ": ") +
                what;
        return false;
    };
    in.Next();  // the header, checked by Parse
    CRerankModel model;
    model.m_nVersion = 2;
    long long count = 0;
    if (!in.Next()) return fail("\"features N\" is missing");
    std::vector<std::string> w = CBoostedTrees::Words(in.strLine);
    if (w.size() != 2 || w[0] != "features" || !ReadCount(w[1], count) || count < 1 ||
        count > static_cast<long long>(CFeatures::kCount))
        return fail("expected \"features N\" (N from 1 to " + std::to_string(CFeatures::kCount) + "), found \"" +
                    in.strLine + "\"");
    std::vector<std::string> names;
    for (long long k = 0; k < count; ++k) {
        if (!in.Next()) return fail("feature " + std::to_string(k + 1) + " of " + std::to_string(count) + " is missing");
        w = CBoostedTrees::Words(in.strLine);
        if (w.size() != 1 || CFeatures::IndexOf(w[0]) < 0)
            return fail("\"" + in.strLine + "\" is no feature this program computes");
        for (const std::string& n : names)
            if (n == w[0]) return fail("feature " + w[0] + " is named twice");
        names.push_back(w[0]);
    }
    model.SetFeatures(names);
    bool ranker = false, calibration = false;
    while (in.Next()) {
        w = CBoostedTrees::Words(in.strLine);
        if (w.size() == 2 && w[0] == "residue_pairs" && !model.m_bPairs) {
            if (w[1] != CResiduePairs::kAlphabet)
                return fail(std::string("expected \"residue_pairs ") + CResiduePairs::kAlphabet + "\"");
            std::vector<std::pair<int, std::string>> rows;
            for (int r = 0; r < CResiduePairs::kLetters && in.Next(); ++r) rows.emplace_back(in.nLine, in.strLine);
            CResiduePairs pairs;
            if (!pairs.ParseRows(rows, error)) {
                if (rows.size() < static_cast<size_t>(CResiduePairs::kLetters)) return fail(error);
                return false;
            }
            model.SetPairs(pairs);
        } else if (w.size() == 3 && w[0] == "fragment_model") {
            EFragmentKind kind;
            if (!ParseFragmentKind(w[1], kind) || !ReadCount(w[2], count) || count < 1)
                return fail("expected \"fragment_model HCD|CID|ETD LINES\", found \"" + in.strLine + "\"");
            for (const CFragmentModel& m : model.m_vFragments)
                if (m.Fragmentation() == kind) return fail("a second " + w[1] + " fragment model");
            const int first = in.nLine + 1;
            std::string block;
            for (long long k = 0; k < count; ++k) {
                if (!in.Raw()) return fail("the " + w[1] + " fragment model ends early");
                block += in.strLine + "\n";
            }
            CFragmentModel fragments;
            if (!fragments.Parse(block, error, first)) return false;
            if (fragments.Fragmentation() != kind) {
                error = "line " + std::to_string(first) + ": the fragment model is not of " + w[1];
                return false;
            }
            model.m_vFragments.push_back(fragments);
        } else if (w.size() == 1 && (w[0] == "ranker" || w[0] == "calibration")) {
            const bool isRanker = w[0] == "ranker";
            if (isRanker ? ranker : calibration) return fail("a second " + w[0]);
            if (!isRanker && !ranker) return fail("the calibration comes after the ranker");
            CBoostedTrees& trees = isRanker ? model.m_ranker : model.m_calibration;
            size_t pos = in.nPos;
            int line = in.nLine + 1;
            if (!trees.ParseFrom(text, pos, line, error, isRanker ? names : model.CalibrationInputs())) return false;
            if (!isRanker && trees.Objective() != CBoostedTrees::EObjective::Logistic) {
                error = "line " + std::to_string(in.nLine) + ": the calibration is not a logistic model";
                return false;
            }
            in.nPos = pos;
            in.nLine = line - 1;
            (isRanker ? ranker : calibration) = true;
        } else if (w.size() == 4 && w[0] == "fallback") {
            if (!calibration) return fail("the fallback comes after the calibration");
            if (model.m_pFallback != nullptr) return fail("a second fallback");
            const int feature = CFeatures::IndexOf(w[1]);
            double below = 0.0;
            if (feature < 0 || !ReadNumber(w[2], below) || !ReadCount(w[3], count) || count < 1)
                return fail("expected \"fallback FEATURE VALUE LINES\" (a feature this program computes, a "
                            "number, a line count), found \"" + in.strLine + "\"");
            const int first = in.nLine + 1;
            std::string block;
            for (long long k = 0; k < count; ++k) {
                if (!in.Raw()) return fail("the fallback model ends early");
                block += in.strLine + "\n";
            }
            CRerankModel linear;
            if (!linear.Parse(block, error) || linear.Version() != 1) {
                if (error.empty()) error = "it is not a version 1 model";
                error = "the fallback model from line " + std::to_string(first) + ": " + error;
                return false;
            }
            model.SetFallback(linear, feature, below);
        } else {
            return fail("unexpected \"" + in.strLine + "\"");
        }
    }
    in.strLine.clear();
    if (needRanker && !ranker) return fail("\"ranker\" is missing");
    if (ranker && !calibration) return fail("\"calibration\" is missing");
    model.m_bRankerSet = ranker;
    *this = std::move(model);
    return true;
}

std::string CRerankModel::_BoostedText(const std::string& comment) const {
    std::string t = std::string(kBoostedHeader) + "\n";
    std::istringstream in(comment);
    for (std::string line; std::getline(in, line);) t += "# " + line + "\n";
    t += "features " + std::to_string(m_vFeatureNames.size()) + "\n";
    for (const std::string& n : m_vFeatureNames) t += n + "\n";
    if (m_bPairs) t += m_pairs.Text();
    for (const CFragmentModel& m : m_vFragments) {
        const std::string block = m.Text("");
        size_t lines = 0;
        for (const char ch : block) lines += ch == '\n';
        t += std::string("fragment_model ") + FragmentKindName(m.Fragmentation()) + " " + std::to_string(lines) + "\n";
        t += block;
    }
    if (m_bRankerSet) {
        t += "ranker\n" + m_ranker.Text();
        t += "calibration\n" + m_calibration.Text();
    }
    if (m_pFallback != nullptr) {
        const std::string block = m_pFallback->Text("");
        size_t lines = 0;
        for (const char ch : block) lines += ch == '\n';
        t += std::string("fallback ") + CFeatures::kNames[m_nGateFeature] + " " + Number(m_lfGateBelow) + " " +
             std::to_string(lines) + "\n" + block;
    }
    return t;
}

bool LoadModels(CCondition& c) {
    c.m_pRerankModel.reset();
    if (c.m_strRerankModelPath.empty()) return true;
    auto model = std::make_shared<CRerankModel>();
    std::string error;
    if (!model->Load(c.m_strRerankModelPath, error)) {
        std::ostringstream where;
        where << c.m_strParamFile;
        if (c.m_nRerankModelLine > 0) where << ":" << c.m_nRerankModelLine;
        console::Error() << where.str() << ": rerank_model=" << c.m_strRerankModel << ": " << error;
        ++c.m_nParamErrors;
        return false;
    }
    c.m_pRerankModel = std::move(model);
    return true;
}
