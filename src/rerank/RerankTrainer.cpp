#include "rerank/RerankTrainer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "rerank/BoostedTreesTrainer.h"
#include "rerank/Features.h"
#include "rerank/PortableMath.h"

namespace {

constexpr size_t kN = CFeatures::kCount;
const char* const kRowsHeader = "vemra feature rows 1";

// Precision at half coverage of spectra ordered by confidence (equal ones
// in the order given): entries (confidence, right) of the spectra with a
// result, total the spectra with a known peptide. -1 when not reached.
double PrecisionAtHalf(std::vector<std::pair<double, bool>> results, size_t total) {
    std::stable_sort(results.begin(), results.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    const size_t half = (total + 1) / 2;
    if (half == 0 || half > results.size()) return -1.0;
    size_t right = 0;
    for (size_t k = 0; k < half; ++k) right += results[k].second;
    return static_cast<double>(right) / static_cast<double>(half);
}

std::string Number(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// The ranking lists of the chosen sets: the lists with the known peptide
// among their candidates (the others teach a ranker nothing), the features
// of index.
CBoostedTreesTrainer::SData RankData(const CRerankTrainer& t, const std::vector<char>& sets,
                                     const std::vector<size_t>& index) {
    CBoostedTreesTrainer::SData d;
    d.nFeatures = index.size();
    for (const CRerankTrainer::CList& l : t.m_vLists) {
        if (!sets[l.nSet] || l.nPositive < 0) continue;
        d.vGroups.push_back(d.vLabels.size());
        for (size_t j = 0; j < l.nCount; ++j) {
            const double* row = t.m_vRows.data() + (l.nFirst + j) * kN;
            for (size_t k : index) d.vRows.push_back(row[k]);
            d.vLabels.push_back(static_cast<long long>(j) == l.nPositive ? 1.0 : 0.0);
        }
    }
    return d;
}

CBoostedTreesTrainer::SParams RankerParams(const CRerankFitOptions& o) {
    CBoostedTreesTrainer::SParams rp;
    rp.eObjective = o.eObjective;
    rp.nRounds = o.nRounds;
    rp.lfLearningRate = o.lfLearningRate;
    rp.nMaxDepth = o.nDepth;
    rp.lfLambda = o.lfLambda;
    rp.lfMinChildWeight = o.lfMinChildWeight;
    rp.lfSubsample = o.lfSubsample;
    return rp;
}

// The calibration rows (of cal, one per list of calList) of the chosen sets.
CBoostedTreesTrainer::SData CalibrationData(const CRerankTrainer& t, const CBoostedTreesTrainer::SData& cal,
                                            const std::vector<size_t>& calList, const std::vector<char>& sets) {
    CBoostedTreesTrainer::SData d;
    d.nFeatures = cal.nFeatures;
    for (size_t r = 0; r < calList.size(); ++r) {
        if (!sets[t.m_vLists[calList[r]].nSet]) continue;
        d.vRows.insert(d.vRows.end(), cal.vRows.begin() + static_cast<std::ptrdiff_t>(r * cal.nFeatures),
                       cal.vRows.begin() + static_cast<std::ptrdiff_t>((r + 1) * cal.nFeatures));
        d.vLabels.push_back(cal.vLabels[r]);
    }
    return d;
}

bool FeatureIndex(const std::vector<std::string>& names, std::vector<size_t>& index, std::string& error) {
    for (const std::string& n : names) {
        const int k = CFeatures::IndexOf(n);
        if (k < 0) {
            error = "no feature is called " + n;
            return false;
        }
        index.push_back(static_cast<size_t>(k));
    }
    return true;
}
}  // namespace

size_t CRerankTrainer::Set(const std::string& name) {
    for (size_t k = 0; k < m_vSets.size(); ++k)
        if (m_vSets[k] == name) return k;
    m_vSets.push_back(name);
    return m_vSets.size() - 1;
}

void CRerankTrainer::AddList(size_t set, const std::string& title, const double* rows, size_t count,
                             long long positive) {
    m_vLists.push_back(CList{set, title, m_vRows.size() / kN, count, count > 0 ? positive : -1});
    m_vRows.insert(m_vRows.end(), rows, rows + count * kN);
}

void CRerankTrainer::_Scores(const CRerankModel& model, const std::vector<char>& sets,
                             std::vector<double>& scores) const {
    for (const CList& l : m_vLists) {
        if (!sets[l.nSet]) continue;
        for (size_t j = 0; j < l.nCount; ++j) scores[l.nFirst + j] = model.Score(m_vRows.data() + (l.nFirst + j) * kN);
    }
}

bool CRerankTrainer::Fit(const CRerankFitOptions& o, CRerankModel& model, std::vector<CSetFigures>& figures,
                         std::string& error) const {
    std::vector<std::string> names = o.vFeatures;
    if (names.empty()) names.assign(CFeatures::kNames, CFeatures::kNames + kN);
    std::vector<size_t> index;
    if (!FeatureIndex(names, index, error)) return false;
    if (m_vSets.size() < 2) {
        error = "leaving one set out needs at least two sets";
        return false;
    }
    model.SetFeatures(names);
    const CBoostedTreesTrainer::SParams rp = RankerParams(o);
    auto fitRanker = [&](const std::vector<char>& sets, CBoostedTrees& out) {
        const CBoostedTreesTrainer::SData d = RankData(*this, sets, index);
        if (d.vGroups.empty()) {
            error = "no known peptide is among the candidates of the sets fitted on";
            return false;
        }
        CBoostedTreesTrainer trainer(rp);
        return trainer.Fit(d, nullptr, names, out, error);
    };

    // Held-out ranker scores of every set.
    std::vector<double> heldOut(m_vRows.size() / kN, 0.0);
    const size_t sets = m_vSets.size();
    for (size_t s = 0; s < sets; ++s) {
        std::vector<char> others(sets, 1), self(sets, 0);
        others[s] = 0;
        self[s] = 1;
        CBoostedTrees trees;
        if (!fitRanker(others, trees)) return false;
        CRerankModel part = model;
        part.SetRanker(trees, CBoostedTrees());
        _Scores(part, self, heldOut);
    }
    // Calibration rows: per list with candidates, what the engine gives the
    // calibration for the held-out ranker's first candidate. The lists the
    // model's fallback ranks get their pick and probability from it, and the
    // calibration never sees them.
    const std::vector<std::string> inputs = model.CalibrationInputs();
    CBoostedTreesTrainer::SData cal;
    cal.nFeatures = inputs.size();
    std::vector<size_t> calList;  // the list of each calibration row
    std::vector<size_t> best(m_vLists.size(), 0);
    std::vector<double> fallbackConfidence(m_vLists.size(), -1.0);  // -1: the trees rank the list
    std::vector<double> scratch;
    for (size_t i = 0; i < m_vLists.size(); ++i) {
        const CList& l = m_vLists[i];
        if (l.nCount == 0) continue;
        if (model.FallsBack(m_vRows.data() + l.nFirst * kN)) {
            fallbackConfidence[i] = _Pick(*model.Fallback(), l, best[i], scratch);
            continue;
        }
        const CFeatures::CListInputs in = CFeatures::ListInputs(heldOut.data() + l.nFirst, l.nCount);
        best[i] = in.nBest;
        const double* row = m_vRows.data() + (l.nFirst + in.nBest) * kN;
        cal.vRows.push_back(in.lfShare);
        cal.vRows.push_back(in.lfMargin);
        cal.vRows.push_back(heldOut[l.nFirst + in.nBest]);
        for (size_t k : index) cal.vRows.push_back(row[k]);
        cal.vLabels.push_back(static_cast<long long>(in.nBest) == l.nPositive ? 1.0 : 0.0);
        calList.push_back(i);
    }
    CBoostedTreesTrainer::SParams cp;
    cp.eObjective = CBoostedTrees::EObjective::Logistic;
    cp.nRounds = o.nCalibrationRounds;
    cp.lfLearningRate = o.lfCalibrationRate;
    cp.nMaxDepth = o.nCalibrationDepth;
    auto fitCalibration = [&](const std::vector<char>& sets, CBoostedTrees& out) {
        const CBoostedTreesTrainer::SData d = CalibrationData(*this, cal, calList, sets);
        if (d.vLabels.empty()) {
            error = "the fallback ranks every list of the sets fitted on: nothing is left to calibrate "
                    "(a lower --fallback-below leaves more to the model)";
            return false;
        }
        CBoostedTreesTrainer trainer(cp);
        return trainer.Fit(d, nullptr, inputs, out, error);
    };

    CBoostedTrees ranker, calibration;
    if (!fitRanker(std::vector<char>(sets, 1), ranker) || !fitCalibration(std::vector<char>(sets, 1), calibration))
        return false;
    model.SetRanker(ranker, calibration);

    figures.assign(sets + 1, CSetFigures());
    for (size_t s = 0; s < sets; ++s) figures[s].strSet = m_vSets[s];
    figures[sets].strSet = "pooled";
    std::vector<std::vector<std::pair<double, bool>>> confident(sets + 1);
    std::vector<double> probability(calList.size(), 0.0);
    if (o.bFigures) {
        for (size_t s = 0; s < sets; ++s) {
            std::vector<char> others(sets, 1);
            others[s] = 0;
            CBoostedTrees trees;
            if (!fitCalibration(others, trees)) return false;
            for (size_t r = 0; r < calList.size(); ++r)
                if (m_vLists[calList[r]].nSet == s)
                    probability[r] = portable::Sigmoid(trees.Score(cal.vRows.data() + r * cal.nFeatures));
        }
    }
    for (size_t r = 0, i = 0; i < m_vLists.size(); ++i) {
        const CList& l = m_vLists[i];
        for (CSetFigures* f : {&figures[l.nSet], &figures[sets]}) {
            ++f->nSpectra;
            f->nInList += l.nPositive >= 0;
            f->nFirstByScore += l.nPositive == 0;
            f->nFirstByModel += l.nCount > 0 && static_cast<long long>(best[i]) == l.nPositive;
        }
        if (l.nCount == 0) continue;
        const bool right = static_cast<long long>(best[i]) == l.nPositive;
        const bool fellBack = fallbackConfidence[i] >= 0.0;
        const double p = fellBack ? fallbackConfidence[i] : probability[r++];
        confident[l.nSet].emplace_back(p, right);
        confident[sets].emplace_back(p, right);
    }
    if (o.bFigures)
        for (size_t s = 0; s <= sets; ++s)
            figures[s].lfPrecisionAtHalf = PrecisionAtHalf(confident[s], figures[s].nSpectra);
    return true;
}

std::vector<CSetFigures> CRerankTrainer::Apply(const CRerankModel& model) const {
    const size_t sets = m_vSets.size();
    std::vector<CSetFigures> figures(sets + 1);
    for (size_t s = 0; s < sets; ++s) figures[s].strSet = m_vSets[s];
    figures[sets].strSet = "pooled";
    std::vector<std::vector<std::pair<double, bool>>> confident(sets + 1);
    std::vector<double> scores;
    for (const CList& l : m_vLists) {
        size_t best = 0;
        double confidence = 0.0;
        if (l.nCount > 0) {
            const bool fallBack = model.FallsBack(m_vRows.data() + l.nFirst * kN);
            confidence = _Pick(fallBack ? *model.Fallback() : model, l, best, scores);
        }
        const bool right = l.nCount > 0 && static_cast<long long>(best) == l.nPositive;
        for (size_t s : {l.nSet, sets}) {
            CSetFigures& f = figures[s];
            ++f.nSpectra;
            f.nInList += l.nPositive >= 0;
            f.nFirstByScore += l.nPositive == 0;
            f.nFirstByModel += right;
            if (l.nCount > 0) confident[s].emplace_back(confidence, right);
        }
    }
    for (size_t s = 0; s <= sets; ++s) figures[s].lfPrecisionAtHalf = PrecisionAtHalf(confident[s], figures[s].nSpectra);
    return figures;
}

double CRerankTrainer::_Pick(const CRerankModel& model, const CList& l, size_t& best,
                             std::vector<double>& scores) const {
    scores.resize(l.nCount);
    for (size_t j = 0; j < l.nCount; ++j) scores[j] = model.Score(m_vRows.data() + (l.nFirst + j) * kN);
    const CFeatures::CListInputs in = CFeatures::ListInputs(scores.data(), l.nCount);
    best = in.nBest;
    const double* row = m_vRows.data() + (l.nFirst + best) * kN;
    return model.Version() == 2 ? model.FirstRight(in.lfShare, in.lfMargin, scores[best], row)
                                : model.Confidence(in.lfShare, in.lfMargin, row);
}

void CRerankTrainer::DropSets(const std::vector<std::string>& names) {
    auto dropped = [&](const std::string& set) {
        for (const std::string& n : names)
            if (set == n || set.rfind(n + "#", 0) == 0) return true;
        return false;
    };
    CRerankTrainer kept;
    std::vector<size_t> index(m_vSets.size(), 0);
    for (size_t s = 0; s < m_vSets.size(); ++s)
        if (!dropped(m_vSets[s])) index[s] = kept.Set(m_vSets[s]);
    for (const CList& l : m_vLists)
        if (!dropped(m_vSets[l.nSet]))
            kept.AddList(index[l.nSet], l.strTitle, m_vRows.data() + l.nFirst * kN, l.nCount, l.nPositive);
    *this = std::move(kept);
}

bool CRerankTrainer::Write(const std::string& path, const std::string& evidence, std::string& error) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t evidenceLines = 0;
    for (const char ch : evidence) evidenceLines += ch == '\n';
    out << kRowsHeader << "\nfeatures " << kN << "\n";
    for (const char* name : CFeatures::kNames) out << name << "\n";
    out << "sets " << m_vSets.size() << "\n";
    for (const std::string& s : m_vSets) out << s << "\n";
    out << "evidence " << evidenceLines << "\n" << evidence;
    out << "lists " << m_vLists.size() << "\n";
    std::string line;
    for (const CList& l : m_vLists) {
        out << l.nSet << "\t" << l.strTitle << "\t" << l.nCount << "\t" << l.nPositive << "\n";
        for (size_t j = 0; j < l.nCount; ++j) {
            line.clear();
            for (size_t k = 0; k < kN; ++k) line += (k ? "\t" : "") + Number(m_vRows[(l.nFirst + j) * kN + k]);
            out << line << "\n";
        }
    }
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool CRerankTrainer::Read(const std::string& path, std::string& evidence, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    int lineNo = 0;
    std::string line;
    auto next = [&]() {
        if (!std::getline(in, line)) return false;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    };
    auto fail = [&](const std::string& why) {
        error = path + ": line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    // "KEYWORD N", N at most limit.
    auto counted = [&](const char* keyword, size_t limit, size_t& n) {
        if (!next()) return fail(std::string("\"") + keyword + " N\" is missing");
        const std::string head = std::string(keyword) + " ";
        char* end = nullptr;
        if (line.rfind(head, 0) != 0) return fail("expected \"" + head + "N\", found \"" + line + "\"");
        const unsigned long long v = std::strtoull(line.c_str() + head.size(), &end, 10);
        if (*end != '\0' || v > limit) return fail("expected \"" + head + "N\", found \"" + line + "\"");
        n = static_cast<size_t>(v);
        return true;
    };
    if (!next() || line != kRowsHeader) return fail(std::string("not a rows file (expected \"") + kRowsHeader + "\")");
    size_t n = 0;
    if (!counted("features", kN, n) || n != kN)
        return fail("the rows have " + std::to_string(n) + " features; this program computes " + std::to_string(kN));
    for (size_t k = 0; k < kN; ++k)
        if (!next() || line != CFeatures::kNames[k])
            return fail(std::string("expected feature ") + CFeatures::kNames[k] + " (rows of another version)");
    *this = CRerankTrainer();
    if (!counted("sets", 1000000, n)) return false;
    for (size_t k = 0; k < n; ++k) {
        if (!next()) return fail("a set name is missing");
        m_vSets.push_back(line);
    }
    if (!counted("evidence", 1000000, n)) return false;
    evidence.clear();
    for (size_t k = 0; k < n; ++k) {
        if (!next()) return fail("the evidence text ends early");
        evidence += line + "\n";
    }
    size_t lists = 0;
    if (!counted("lists", 100000000, lists)) return false;
    std::vector<double> row(kN);
    for (size_t i = 0; i < lists; ++i) {
        if (!next()) return fail("list " + std::to_string(i + 1) + " is missing");
        std::istringstream head(line);
        std::string set, title, count, positive;
        if (!std::getline(head, set, '\t') || !std::getline(head, title, '\t') || !std::getline(head, count, '\t') ||
            !std::getline(head, positive))
            return fail("expected set, title, count and position");
        const size_t s = std::strtoull(set.c_str(), nullptr, 10), c = std::strtoull(count.c_str(), nullptr, 10);
        const long long p = std::strtoll(positive.c_str(), nullptr, 10);
        if (s >= m_vSets.size() || c > CFeatures::kDepth || p < -1 || p >= static_cast<long long>(c))
            return fail("a list head out of range");
        const size_t first = m_vRows.size() / kN;
        for (size_t j = 0; j < c; ++j) {
            if (!next()) return fail("a row is missing");
            const char* at = line.c_str();
            for (size_t k = 0; k < kN; ++k) {
                char* end = nullptr;
                row[k] = std::strtod(at, &end);
                if (end == at || (*end != '\t' && *end != '\0') || (k + 1 < kN) != (*end == '\t'))
                    return fail("expected " + std::to_string(kN) + " numbers");
                at = end + (*end == '\t');
            }
            m_vRows.insert(m_vRows.end(), row.begin(), row.end());
        }
        m_vLists.push_back(CList{s, title, first, c, p});
    }
    return true;
}
