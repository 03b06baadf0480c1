#include "evaluate/Evaluate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <unordered_map>
#include <unordered_set>

#include "output/ResultReader.h"

namespace {

// Monoisotopic residue masses by capital letter (Da); C carries the fixed
// carbamidomethyl; I is read as L; 0: not a residue.
constexpr double kResidueMass[26] = {
    71.03711,  0,         160.03065, 115.02694, 129.04259, 147.06841, 57.02146,  // A B C D E F G
    137.05891, 113.08406, 0,         128.09496, 113.08406, 131.04049, 114.04293, // H I J K L M N
    0,         97.05276,  128.05858, 156.10111, 87.03203,  101.04768, 0,         // O P Q R S T U
    99.06841,  186.07931, 0,         163.06333, 0,                               // V W X Y Z
};
constexpr double kCarbamidomethyl = 57.021464;
constexpr double kDeltaAgree = 0.01;      // Da, modification masses
constexpr double kPrefixAgree = 0.5;      // Da, mass rule prefix masses
constexpr double kResidueAgree = 0.1;     // Da, mass rule residue masses

// "[+15.995]" at text[pos]; advances pos past it.
bool ReadDelta(const std::string& text, size_t& pos, double& delta) {
    if (pos >= text.size() || text[pos] != '[') return false;
    const size_t close = text.find(']', pos);
    if (close == std::string::npos) return false;
    const std::string inner = text.substr(pos + 1, close - pos - 1);
    char* end = nullptr;
    delta = std::strtod(inner.c_str(), &end);
    if (inner.empty() || end != inner.c_str() + inner.size() || !std::isfinite(delta)) return false;
    pos = close + 1;
    return true;
}

double ResidueMass(char c) { return (c >= 'A' && c <= 'Z') ? kResidueMass[c - 'A'] : 0.0; }

// Residue masses including deltas; a result's terminal mark takes the
// truth's terminal delta (the result file does not give its mass).
std::vector<double> Masses(const CEvalPeptide& p, const CEvalPeptide* truth) {
    std::vector<double> m(p.strResidues.size());
    for (size_t i = 0; i < m.size(); ++i) m[i] = ResidueMass(p.strResidues[i]) + p.vDeltas[i];
    if (truth && !m.empty() && !truth->vDeltas.empty()) {
        if (p.bNTermMark) m.front() += truth->vDeltas.front();
        if (p.bCTermMark) m.back() += truth->vDeltas.back();
    }
    return m;
}

bool DeltaAgrees(double result, bool mark, double truth) {
    if (mark && std::fabs(truth) > kDeltaAgree && std::fabs(result) <= kDeltaAgree) return true;
    return std::fabs(result - truth) <= kDeltaAgree;
}

}  // namespace

bool CEvaluate::ParsePeptide(const std::string& text, CEvalPeptide& out) {
    out = CEvalPeptide();
    size_t pos = 0;
    double nTerm = 0.0, cTerm = 0.0;
    if (pos < text.size() && text[pos] == 'n') {
        out.bNTermMark = true;
        ++pos;
    }
    if (pos < text.size() && text[pos] == '[') {
        if (!ReadDelta(text, pos, nTerm) || pos >= text.size() || text[pos] != '-') return false;
        ++pos;
    }
    while (pos < text.size()) {
        const char c = text[pos];
        if (c >= 'A' && c <= 'Z') {
            if (ResidueMass(c) == 0.0) return false;
            out.strResidues += c == 'I' ? 'L' : c;
            out.vDeltas.push_back(0.0);
            ++pos;
            double d = 0.0;
            while (pos < text.size() && text[pos] == '[') {
                if (!ReadDelta(text, pos, d)) return false;
                out.vDeltas.back() += d;
            }
        } else if (c == '-' && !out.strResidues.empty()) {
            ++pos;
            if (!ReadDelta(text, pos, cTerm) || pos != text.size()) return false;
        } else if (c == 'c' && pos + 1 == text.size() && !out.strResidues.empty()) {
            out.bCTermMark = true;
            ++pos;
        } else {
            return false;
        }
    }
    if (out.strResidues.empty()) return false;
    out.vDeltas.front() += nTerm;
    out.vDeltas.back() += cTerm;
    // Carbamidomethyl is fixed: C and C[+57.021] are one residue.
    for (size_t i = 0; i < out.strResidues.size(); ++i)
        if (out.strResidues[i] == 'C' && std::fabs(out.vDeltas[i] - kCarbamidomethyl) <= kDeltaAgree)
            out.vDeltas[i] -= kCarbamidomethyl;
    return true;
}

bool CEvaluate::ExactMatch(const CEvalPeptide& result, const CEvalPeptide& truth) {
    if (result.strResidues != truth.strResidues) return false;
    const size_t n = result.strResidues.size();
    for (size_t i = 0; i < n; ++i) {
        bool mark = false;
        if (i == 0 && result.bNTermMark) mark = true;
        if (i + 1 == n && result.bCTermMark) mark = true;
        if (!DeltaAgrees(result.vDeltas[i], mark, truth.vDeltas[i])) return false;
    }
    return true;
}

int CEvaluate::MassMatchedResidues(const CEvalPeptide& result, const CEvalPeptide& truth) {
    const std::vector<double> a = Masses(result, &truth);
    const std::vector<double> b = Masses(truth, nullptr);
    size_t i = 0, j = 0;
    double ma = 0.0, mb = 0.0;
    int matched = 0;
    // Advance whichever side is lighter until the prefix masses meet.
    while (i < a.size() && j < b.size()) {
        const double na = ma + a[i], nb = mb + b[j];
        if (std::fabs(na - nb) < kPrefixAgree) {
            if (std::fabs(a[i] - b[j]) < kResidueAgree) ++matched;
            ma = na;
            mb = nb;
            ++i;
            ++j;
        } else if (nb > na) {
            ma = na;
            ++i;
        } else {
            mb = nb;
            ++j;
        }
    }
    return matched;
}

bool CEvaluate::ReadTruth(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    std::unordered_set<std::string> seen;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t a = line.find('\t');
        if (a == std::string::npos) continue;
        const size_t b = line.find('\t', a + 1);
        CEvalEntry e;
        e.strTitle = line.substr(0, a);
        e.strTruthText = line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
        if (!ParsePeptide(e.strTruthText, e.truth)) continue;
        if (!seen.insert(e.strTitle).second) continue;  // a title once: its first peptide
        m_vEntries.push_back(std::move(e));
    }
    return true;
}

bool CEvaluate::ReadResults(const std::string& path, std::string& error) {
    std::unordered_map<std::string, size_t> byTitle;
    byTitle.reserve(m_vEntries.size());
    for (size_t i = 0; i < m_vEntries.size(); ++i) byTitle.emplace(m_vEntries[i].strTitle, i);
    CResultReader reader;
    m_nRecords = 0;
    m_strFirstResultTitle.clear();
    return reader.ReadEach(path, [&](CResultRecord& record) {
        if (m_nRecords++ == 0) m_strFirstResultTitle = record.strTitle;
        const auto it = byTitle.find(record.strTitle);
        if (it == byTitle.end()) return true;
        CEvalEntry& e = m_vEntries[it->second];
        e.bFound = true;
        // A title seen twice: the first record with a peptide counts.
        if (e.bHasResult || record.vPeptides.empty()) return true;
        for (size_t k = 0; k < record.vPeptides.size() && k < static_cast<size_t>(kTopListed); ++k) {
            if (e.nTruthRank != 0) break;  // the further ranks cannot change anything
            const CResultPeptide& p = record.vPeptides[k];
            CEvalPeptide parsed;
            const bool ok = ParsePeptide(p.strPeptide, parsed);
            if (k == 0) {
                // A rank-1 peptide that is no peptide gives no result.
                if (!ok) return true;
                e.bHasResult = true;
                e.result = parsed;
                e.strResultText = p.strPeptide;
                // A confidence, when the file has one, is meant to compare
                // spectra: it orders the curve.
                e.lfScore = p.bConfidence ? p.lfConfidence : p.lfScore;
            }
            if (ok && ExactMatch(parsed, e.truth)) e.nTruthRank = static_cast<int>(k) + 1;
        }
        return true;
    }, error);
}

CEvalFigures CEvaluate::Compute() const {
    CEvalFigures f;
    f.nTruth = static_cast<int>(m_vEntries.size());
    std::vector<size_t> withResult;
    std::vector<char> exact(m_vEntries.size(), 0);
    for (size_t i = 0; i < m_vEntries.size(); ++i) {
        const CEvalEntry& e = m_vEntries[i];
        f.nTruthAA += static_cast<long long>(e.truth.strResidues.size());
        f.nTopListed += e.nTruthRank != 0;
        f.nFound += e.bFound;
        if (!e.bHasResult) continue;
        withResult.push_back(i);
        ++f.nWithResult;
        f.nPredictedAA += static_cast<long long>(e.result.strResidues.size());
        const int matched = MassMatchedResidues(e.result, e.truth);
        f.nMatchedAA += matched;
        if (matched == static_cast<int>(e.result.strResidues.size()) &&
            e.result.strResidues.size() == e.truth.strResidues.size())
            ++f.nMass;
        if (ExactMatch(e.result, e.truth)) {
            ++f.nExact;
            exact[i] = 1;
        }
    }
    // Equal scores keep the truth file's order, so the curve is reproducible.
    std::stable_sort(withResult.begin(), withResult.end(),
                     [this](size_t a, size_t b) { return m_vEntries[a].lfScore > m_vEntries[b].lfScore; });
    int correct = 0;
    for (size_t k = 0; k < withResult.size(); ++k) {
        correct += exact[withResult[k]];
        const double precision = double(correct) / double(k + 1);
        f.vCoverage.push_back(double(k + 1) / f.nTruth);
        f.vPrecision.push_back(precision);
        f.lfArea += precision / f.nTruth;
    }
    const size_t half = (static_cast<size_t>(f.nTruth) + 1) / 2;
    if (half > 0 && half <= f.vPrecision.size()) f.lfPrecisionAtHalf = f.vPrecision[half - 1];
    return f;
}
