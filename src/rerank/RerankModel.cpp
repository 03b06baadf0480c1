#include "rerank/RerankModel.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
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

bool CRerankModel::Parse(std::string_view text, std::string& error) {
    // The version decides the reader; the first meaningful line says it.
    modeltext::CLines in(text);
    in.Next();
    if (in.strLine == kBoostedHeader) return _ParseBoosted(text, true, error);
    return _ParseLinear(text, error);
}

bool CRerankModel::_ParseLinear(std::string_view text, std::string& error) {
    // The meaningful lines one after the other; the one being looked at
    // names its number in an error, or the end when none is left.
    modeltext::CLines in(text);
    bool more = in.Next();
    auto fail = [&](const std::string& what) {
        error = (more ? "line " + std::to_string(in.nLine) + ": " : std::string("at the end: ")) + what;
        return false;
    };
    const std::string_view first = in.strLine;
    if (!more || first != kHeader) {
        if (more && first.substr(0, 19) == "vemra rerank model ")
            return fail("re-ranking model version \"" + std::string(first.substr(19)) +
                        "\"; this program reads versions 1 and 2");
        return fail(std::string("not a re-ranking model (the first line must be \"") + kBoostedHeader + "\" or \"" +
                    kHeader + "\")");
    }
    more = in.Next();
    // "KEYWORD N", then N lines "NAME VALUE" with the expected names. A
    // missing word reads as empty, as a string stream leaves it.
    std::string_view w[3];
    auto block = [&](const char* keyword, auto name, int count, double* values) {
        if (!more) return fail(std::string("\"") + keyword + " " + std::to_string(count) + "\" is missing");
        size_t n = modeltext::Words(in.strLine, w, 3);
        if (n > 2 || (n > 0 ? w[0] : std::string_view()) != keyword ||
            (n > 1 ? w[1] : std::string_view()) != std::to_string(count))
            return fail("expected \"" + std::string(keyword) + " " + std::to_string(count) + "\" (this program's " +
                        keyword + "), found \"" + std::string(in.strLine) + "\"");
        more = in.Next();
        for (int k = 0; k < count; ++k, more = in.Next()) {
            const char* const expected = name(k);
            if (!more) return fail(std::string(expected) + " is missing");
            n = modeltext::Words(in.strLine, w, 3);
            const std::string_view found = n > 0 ? w[0] : std::string_view(), value = n > 1 ? w[1] : std::string_view();
            if (found != expected)
                return fail("expected " + std::string(expected) + ", found \"" + std::string(found) + "\"");
            if (n > 2) return fail("more than one value for " + std::string(found));
            if (!modeltext::ReadStrtod(value, values[k]))
                return fail(std::string(found) + ": \"" + std::string(value) + "\" is not a number");
        }
        return true;
    };
    std::vector<double> weights(CFeatures::kLinearCount, 0.0);
    double calibration[kCalibration] = {};
    if (!block("features", [](int k) { return CFeatures::kNames[k]; }, static_cast<int>(CFeatures::kLinearCount),
               weights.data()))
        return false;
    if (!block("calibration", [](int k) { return CalibrationName(k); }, kCalibration, calibration)) return false;
    if (more) return fail("unexpected \"" + std::string(in.strLine) + "\"");
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

bool ReadCount(std::string_view word, long long& n) {
    if (word.empty() || word.size() > 9 || word.find_first_not_of("0123456789") != std::string_view::npos) return false;
    n = 0;
    for (const char c : word) n = n * 10 + (c - '0');
    return true;
}

// The next count raw lines of in, for a reader of its own with the line
// numbers they have: false when the text ends first. They are passed on
// as they stand in the text. The reader drops one '\r' at a line's end
// again; a line that ends in two (which the reader was always handed with
// one of them dropped already) has the block copied without it, as it
// always was.
bool RawBlock(modeltext::CLines& in, long long count, std::string_view& block, std::string& copy) {
    const size_t start = in.nPos;
    bool twoReturns = false;
    for (long long k = 0; k < count; ++k) {
        if (!in.Raw()) return false;
        twoReturns = twoReturns || (!in.strLine.empty() && in.strLine.back() == '\r');
    }
    block = in.strText.substr(start, in.nPos - start);
    if (!twoReturns) return true;
    modeltext::CLines again(block);
    copy.clear();
    while (again.Raw()) copy.append(again.strLine).push_back('\n');
    block = copy;
    return true;
}

}  // namespace

bool CRerankModel::ParseEvidence(std::string_view text, std::string& error) {
    if (text.substr(0, std::strlen(kBoostedHeader)) != kBoostedHeader) {
        error = std::string("line 1: expected \"") + kBoostedHeader + "\"";
        return false;
    }
    return _ParseBoosted(text, false, error);
}

bool CRerankModel::_ParseBoosted(std::string_view text, bool needRanker, std::string& error) {
    modeltext::CLines in(text);
    const std::string_view& line = in.strLine;
    auto fail = [&](const std::string& what) {
        error = (line.empty() && in.nPos >= text.size() ? std::string("at the end: ")
                                                        : "line " + std::to_string(in.nLine) + ": ") +
                what;
        return false;
    };
    in.Next();  // the header, checked by Parse
    CRerankModel model;
    model.m_nVersion = 2;
    long long count = 0;
    std::string_view w[4];
    if (!in.Next()) return fail("\"features N\" is missing");
    if (modeltext::Words(line, w, 2) != 2 || w[0] != "features" || !ReadCount(w[1], count) || count < 1 ||
        count > static_cast<long long>(CFeatures::kCount))
        return fail("expected \"features N\" (N from 1 to " + std::to_string(CFeatures::kCount) + "), found \"" +
                    std::string(line) + "\"");
    std::vector<std::string> names;
    for (long long k = 0; k < count; ++k) {
        if (!in.Next()) return fail("feature " + std::to_string(k + 1) + " of " + std::to_string(count) + " is missing");
        const size_t n = modeltext::Words(line, w, 1);
        std::string name(n == 1 ? w[0] : std::string_view());
        if (n != 1 || CFeatures::IndexOf(name) < 0)
            return fail("\"" + std::string(line) + "\" is no feature this program computes");
        for (const std::string& seen : names)
            if (seen == name) return fail("feature " + name + " is named twice");
        names.push_back(std::move(name));
    }
    model.SetFeatures(names);
    bool ranker = false, calibration = false;
    std::string copy;
    while (in.Next()) {
        const size_t n = modeltext::Words(line, w, 4);
        if (n == 2 && w[0] == "residue_pairs" && !model.m_bPairs) {
            if (w[1] != CResiduePairs::kAlphabet)
                return fail(std::string("expected \"residue_pairs ") + CResiduePairs::kAlphabet + "\"");
            std::vector<std::pair<int, std::string_view>> rows;
            rows.reserve(CResiduePairs::kLetters);
            for (int r = 0; r < CResiduePairs::kLetters && in.Next(); ++r) rows.emplace_back(in.nLine, line);
            CResiduePairs pairs;
            if (!pairs.ParseRows(rows, error)) {
                if (rows.size() < static_cast<size_t>(CResiduePairs::kLetters)) return fail(error);
                return false;
            }
            model.SetPairs(pairs);
        } else if (n == 3 && w[0] == "fragment_model") {
            EFragmentKind kind;
            if (!ParseFragmentKind(w[1], kind) || !ReadCount(w[2], count) || count < 1)
                return fail("expected \"fragment_model HCD|CID|ETD LINES\", found \"" + std::string(line) + "\"");
            const std::string kindName(w[1]);
            for (const CFragmentModel& m : model.m_vFragments)
                if (m.Fragmentation() == kind) return fail("a second " + kindName + " fragment model");
            const int first = in.nLine + 1;
            std::string_view block;
            if (!RawBlock(in, count, block, copy)) return fail("the " + kindName + " fragment model ends early");
            CFragmentModel fragments;
            if (!fragments.Parse(block, error, first)) return false;
            if (fragments.Fragmentation() != kind) {
                error = "line " + std::to_string(first) + ": the fragment model is not of " + kindName;
                return false;
            }
            model.m_vFragments.push_back(std::move(fragments));
        } else if (n == 1 && (w[0] == "ranker" || w[0] == "calibration")) {
            const bool isRanker = w[0] == "ranker";
            if (isRanker ? ranker : calibration) return fail("a second " + std::string(w[0]));
            if (!isRanker && !ranker) return fail("the calibration comes after the ranker");
            CBoostedTrees& trees = isRanker ? model.m_ranker : model.m_calibration;
            size_t pos = in.nPos;
            int next = in.nLine + 1;
            if (!trees.ParseFrom(text, pos, next, error, isRanker ? names : model.CalibrationInputs())) return false;
            if (!isRanker && trees.Objective() != CBoostedTrees::EObjective::Logistic) {
                error = "line " + std::to_string(in.nLine) + ": the calibration is not a logistic model";
                return false;
            }
            in.nPos = pos;
            in.nLine = next - 1;
            (isRanker ? ranker : calibration) = true;
        } else if (n == 4 && w[0] == "fallback") {
            if (!calibration) return fail("the fallback comes after the calibration");
            if (model.m_pFallback != nullptr) return fail("a second fallback");
            const int feature = CFeatures::IndexOf(std::string(w[1]));
            double below = 0.0;
            if (feature < 0 || !modeltext::ReadStrtod(w[2], below) || !ReadCount(w[3], count) || count < 1)
                return fail("expected \"fallback FEATURE VALUE LINES\" (a feature this program computes, a "
                            "number, a line count), found \"" + std::string(line) + "\"");
            const int first = in.nLine + 1;
            std::string_view block;
            if (!RawBlock(in, count, block, copy)) return fail("the fallback model ends early");
            CRerankModel linear;
            if (!linear.Parse(block, error) || linear.Version() != 1) {
                if (error.empty()) error = "it is not a version 1 model";
                error = "the fallback model from line " + std::to_string(first) + ": " + error;
                return false;
            }
            model.SetFallback(linear, feature, below);
        } else {
            return fail("unexpected \"" + std::string(line) + "\"");
        }
    }
    in.strLine = {};
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
        // The loader names the file it read; where that is the value as
        // written, the key already says it.
        const std::string& path = c.m_strRerankModelPath;
        if (path == c.m_strRerankModel && error.compare(0, path.size() + 2, path + ": ") == 0)
            error.erase(0, path.size() + 2);
        console::Error() << where.str() << ": rerank_model=" << c.m_strRerankModel << ": " << error;
        ++c.m_nParamErrors;
        return false;
    }
    c.m_pRerankModel = std::move(model);
    return true;
}
