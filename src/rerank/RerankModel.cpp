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

// Text of models/hcd.model, compiled in (generated at configure time).
extern const char* const kBuiltinHcdModelText;

const char* const CRerankModel::kCalibrationNames[3] = {"intercept", "probability", "margin"};

const char* CRerankModel::CalibrationName(int k) { return k < 3 ? kCalibrationNames[k] : CFeatures::kNames[k - 3]; }
const char* const CRerankModel::kHeader = "vemra rerank model 1";
const char* const CRerankModel::kBuiltinHcd = "builtin:hcd";

static_assert(CRerankModel::kCalibration == 3 + static_cast<int>(CFeatures::kCount));

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
    if (path == kBuiltinHcd) return Parse(kBuiltinHcdModelText, error);
    if (path.rfind("builtin:", 0) == 0) {
        error = "no built-in model is called " + path + " (there is " + kBuiltinHcd + ")";
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
    if (lines.empty() || lines[0].second != kHeader)
        return fail(std::string("not a re-ranking model (the first line must be \"") + kHeader + "\")");
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
    std::vector<double> weights(CFeatures::kCount, 0.0);
    double calibration[kCalibration] = {};
    if (!block("features", [](int k) { return std::string(CFeatures::kNames[k]); }, static_cast<int>(CFeatures::kCount),
               weights.data()))
        return false;
    if (!block("calibration", [](int k) { return std::string(CalibrationName(k)); }, kCalibration, calibration))
        return false;
    if (at < lines.size()) return fail("unexpected \"" + lines[at].second + "\"");
    m_vWeights = weights;
    for (int k = 0; k < kCalibration; ++k) m_lfCalibration[k] = calibration[k];
    return true;
}

std::string CRerankModel::Text(const std::string& comment) const {
    std::string t = std::string(kHeader) + "\n";
    std::istringstream in(comment);
    for (std::string line; std::getline(in, line);) t += "# " + line + "\n";
    t += "features " + std::to_string(CFeatures::kCount) + "\n";
    for (size_t k = 0; k < CFeatures::kCount; ++k)
        t += std::string(CFeatures::kNames[k]) + " " + Number(k < m_vWeights.size() ? m_vWeights[k] : 0.0) + "\n";
    t += "calibration " + std::to_string(kCalibration) + "\n";
    for (int k = 0; k < kCalibration; ++k) t += std::string(CalibrationName(k)) + " " + Number(m_lfCalibration[k]) + "\n";
    return t;
}

double CRerankModel::Score(const double* row) const {
    double s = 0.0;
    for (size_t k = 0; k < m_vWeights.size(); ++k) s += m_vWeights[k] * row[k];
    return s;
}

double CRerankModel::Confidence(double probability, double margin, const double* row) const {
    double z = m_lfCalibration[0] + m_lfCalibration[1] * probability + m_lfCalibration[2] * margin;
    for (size_t k = 0; k < CFeatures::kCount; ++k) z += m_lfCalibration[3 + k] * row[k];
    return 1.0 / (1.0 + std::exp(-z));
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
