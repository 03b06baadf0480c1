#include "evaluate/Evaluate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <numeric>
#include <sstream>

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

std::string Fixed(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
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
    std::map<std::string, bool> seen;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t a = line.find('\t');
        if (a == std::string::npos) continue;
        const size_t b = line.find('\t', a + 1);
        CEvalEntry e;
        e.strTitle = line.substr(0, a);
        if (!ParsePeptide(line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1), e.truth))
            continue;
        if (seen[e.strTitle]) continue;  // a title once: its first peptide
        seen[e.strTitle] = true;
        m_vEntries.push_back(std::move(e));
    }
    return true;
}

bool CEvaluate::ReadResults(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::map<std::string, size_t> byTitle;
    for (size_t i = 0; i < m_vEntries.size(); ++i) byTitle.emplace(m_vEntries[i].strTitle, i);
    std::string line;
    CEvalEntry* current = nullptr;
    CEvalEntry* listed = nullptr;  // the record whose further ranks are read
    int rankSeen = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line[0] == 'S') {
            const size_t a = line.find('\t');
            const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
            current = nullptr;
            listed = nullptr;
            rankSeen = 0;
            if (a == std::string::npos) continue;
            auto it = byTitle.find(line.substr(a + 1, b == std::string::npos ? b : b - a - 1));
            if (it != byTitle.end() && !m_vEntries[it->second].bHasResult) current = listed = &m_vEntries[it->second];
        } else if (line[0] == 'P' && listed != nullptr && current == nullptr) {
            // Further ranks only say whether the truth is listed.
            if (++rankSeen > kTopListed || listed->nTruthRank != 0) continue;
            std::istringstream fields(line);
            std::string rank, pep;
            std::getline(fields, rank, '\t');
            std::getline(fields, pep, '\t');
            CEvalPeptide p;
            if (ParsePeptide(pep, p) && ExactMatch(p, listed->truth)) listed->nTruthRank = rankSeen;
        } else if (line[0] == 'P' && current != nullptr) {
            rankSeen = 1;
            std::istringstream fields(line);
            std::string rank, pep, score, confidence;
            std::getline(fields, rank, '\t');
            std::getline(fields, pep, '\t');
            std::getline(fields, score, '\t');
            std::getline(fields, confidence, '\t');
            if (ParsePeptide(pep, current->result)) {
                current->bHasResult = true;
                if (ExactMatch(current->result, current->truth)) current->nTruthRank = 1;
                // A confidence, when the file has one, is meant to compare
                // spectra: it orders the curve.
                current->lfScore = std::atof((confidence.empty() ? score : confidence).c_str());
            }
            current = nullptr;  // only rank 1
        }
    }
    return true;
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

bool CEvaluate::WriteSvg(const CEvalFigures& f, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    if (!out) return false;
    const double x0 = 60, y0 = 20, w = 400, h = 300;
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"500\" height=\"380\" font-family=\"sans-serif\" "
           "font-size=\"12\">\n";
    out << "<rect x=\"" << x0 << "\" y=\"" << y0 << "\" width=\"" << w << "\" height=\"" << h
        << "\" fill=\"none\" stroke=\"black\"/>\n";
    for (int t = 0; t <= 10; t += 2) {
        const double v = t / 10.0;
        out << "<text x=\"" << x0 + v * w << "\" y=\"" << y0 + h + 15 << "\" text-anchor=\"middle\">"
            << Fixed(v, 1) << "</text>\n";
        out << "<text x=\"" << x0 - 5 << "\" y=\"" << y0 + h - v * h + 4 << "\" text-anchor=\"end\">"
            << Fixed(v, 1) << "</text>\n";
    }
    out << "<text x=\"" << x0 + w / 2 << "\" y=\"" << y0 + h + 35 << "\" text-anchor=\"middle\">coverage</text>\n";
    out << "<text x=\"15\" y=\"" << y0 + h / 2 << "\" transform=\"rotate(-90 15 " << y0 + h / 2
        << ")\" text-anchor=\"middle\">precision (exact peptide)</text>\n";
    out << "<polyline fill=\"none\" stroke=\"#1f77b4\" stroke-width=\"2\" points=\"";
    for (size_t k = 0; k < f.vCoverage.size(); ++k)
        out << Fixed(x0 + f.vCoverage[k] * w, 2) << ',' << Fixed(y0 + h - f.vPrecision[k] * h, 2) << ' ';
    out << "\"/>\n";
    out << "<text x=\"" << x0 + w - 5 << "\" y=\"" << y0 + 15 << "\" text-anchor=\"end\">area " << Fixed(f.lfArea, 4)
        << "</text>\n</svg>\n";
    return static_cast<bool>(out);
}

int RunEvaluate(int argc, char** argv) {
    std::string plot;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--plot" && i + 1 < argc) {
            plot = argv[++i];
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) {
        std::cerr << "usage: vemra evaluate RESULTS TRUTH [--plot FILE.svg]" << std::endl;
        return 2;
    }
    CEvaluate ev;
    if (!ev.ReadTruth(files[1])) {
        std::cerr << "[error]\tcannot read the truth file " << files[1] << std::endl;
        return 1;
    }
    if (!ev.ReadResults(files[0])) {
        std::cerr << "[error]\tcannot read the result file " << files[0] << std::endl;
        return 1;
    }
    const CEvalFigures f = ev.Compute();
    std::cout << "spectra with a known peptide\t" << f.nTruth << "\n";
    std::cout << "spectra with a result\t" << f.nWithResult << "\n";
    std::cout << "peptide recall, exact (I=L)\t" << Fixed(f.ExactRecall(), 4) << "\t" << f.nExact << "/" << f.nTruth
              << "\n";
    std::cout << "peptide recall, mass rule\t" << Fixed(f.MassRecall(), 4) << "\t" << f.nMass << "/" << f.nTruth
              << "\n";
    std::cout << "top-" << kTopListed << " recall, exact (I=L)\t" << Fixed(f.nTruth ? double(f.nTopListed) / f.nTruth : 0.0, 4)
              << "\t" << f.nTopListed << "/" << f.nTruth << "\n";
    std::cout << "amino-acid precision\t" << Fixed(f.AAPrecision(), 4) << "\t" << f.nMatchedAA << "/"
              << f.nPredictedAA << "\n";
    std::cout << "amino-acid recall\t" << Fixed(f.AARecall(), 4) << "\t" << f.nMatchedAA << "/" << f.nTruthAA << "\n";
    std::cout << "precision-coverage area\t" << Fixed(f.lfArea, 4) << "\n";
    std::cout << "precision at 50% coverage\t"
              << (f.lfPrecisionAtHalf < 0 ? std::string("not reached") : Fixed(f.lfPrecisionAtHalf, 4)) << "\n";
    std::cout << "coverage\tprecision\n";
    // The curve at every tenth of the spectra with a result.
    const size_t n = f.vCoverage.size();
    for (int t = 1; t <= 10 && n > 0; ++t) {
        const size_t k = std::max<size_t>(1, (n * t + 9) / 10) - 1;
        std::cout << Fixed(f.vCoverage[k], 3) << "\t" << Fixed(f.vPrecision[k], 4) << "\n";
    }
    if (!plot.empty() && !CEvaluate::WriteSvg(f, plot)) {
        std::cerr << "[error]\tcannot write " << plot << std::endl;
        return 1;
    }
    return 0;
}
