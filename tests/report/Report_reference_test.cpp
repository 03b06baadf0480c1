// Candidate generation and the result record against a plain implementation
// of the same rules (a std::deque for the breadth-first expansion, ordered
// maps for the edge cells, the plain scorer): random graphs with near-equal
// labels (GG/N, AG/GA/Q), modified terminal residues and all three
// activation modes must give the same candidate queue and the same record
// text, byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../scoring/PlainScorer.h"
#include "../scoring/ResidueTable.h"
#include "graph/CandidateGen.h"
#include "output/NativeWriter.h"
#include "report/Report.h"

namespace {

using testing_plain::Mass;
using testing_plain::PlainScorer;

constexpr double kNMod = 42.010565, kCMod = 0.984016;
const char kCModK = 11;  // K carrying the C-terminal modification

using Cell = std::map<std::string, double>;  // label -> deviation, byte order
using Key = std::pair<unsigned, unsigned>;

struct PlainGraph {
    std::map<Key, Cell> cells;
    std::map<Key, int> weights;
    std::vector<std::vector<unsigned>> paths;
};

double CodeMass(char c) {
    if (c == 'a') return Mass('A') + kNMod;
    if (c == kCModK) return Mass('K') + kCMod;
    return Mass(c);
}

void PlainTransfer(const std::string& t, unsigned pos, std::string built, std::set<std::string>& out) {
    if (pos == t.size()) {
        out.insert(built);
        return;
    }
    if (t[pos] == '[') {
        PlainTransfer(t, pos + 7, built + t[pos + 1] + t[pos + 2], out);
        PlainTransfer(t, pos + 7, built + t[pos + 4] + t[pos + 5], out);
    } else if (t[pos] == '(' || t[pos] == ')') {
        PlainTransfer(t, pos + 1, built, out);
    } else {
        PlainTransfer(t, pos + 1, built + t[pos], out);
    }
}

int PlainLength(const std::string& t) {
    int n = 0;
    for (size_t i = 0; i < t.size();) {
        if (t[i] == '[') { n += 2; i += 7; }
        else { if (t[i] != '(' && t[i] != ')') n += 1; i += 1; }
    }
    return n;
}

using Queue = std::priority_queue<CCandidate, std::vector<CCandidate>, PriorityQueueResultNode_CMP>;

void PlainCandidates(const PlainGraph& g, double T, double R, int reportTemp, Queue& q) {
    for (const auto& path : g.paths) {
        const size_t p = path.size();
        int Pw = 0;
        for (size_t u = 1; u < p; ++u) Pw += g.weights.at({path[u - 1], path[u]});
        std::deque<std::pair<std::string, double>> fifo{{"", 0.0}};
        bool empty = false;
        for (size_t u = 1; u < p; ++u) {
            const Cell& cell = g.cells.at({path[u - 1], path[u]});
            size_t c = fifo.size();
            for (size_t k = 0; k < c; ++k) {
                auto [text, drift] = fifo.front();
                fifo.pop_front();
                for (const auto& [L, d] : cell) {
                    if (std::fabs(d + drift) <= T) fifo.push_back({text + (L.size() == 2 ? "(" + L + ")" : L), drift + d});
                }
            }
            if (fifo.empty()) { empty = true; break; }
        }
        if (empty) continue;
        while (!fifo.empty()) {
            std::string text = fifo.front().first;
            fifo.pop_front();
            double M = 0;
            for (size_t i = 0; i < text.size();) {
                if (text[i] == '(' || text[i] == ')') { i += 1; }
                else if (text[i] == '[') { M += CodeMass(text[i + 1]); M += CodeMass(text[i + 2]); i += 7; }
                else { M += CodeMass(text[i]); i += 1; }
            }
            if (std::fabs(M - R) <= 0.01) {
                CCandidate r;
                r.strText = text;
                r.lfPathWeight = Pw;
                r.nDoubleSteps = PlainLength(text) - static_cast<int>(p - 1);
                q.push(r);
                if (static_cast<int>(q.size()) > reportTemp) q.pop();
            }
        }
    }
}

// mode 1: HCD spectrum a; 2: ETD spectrum a; 3: a (HCD) and b (ETD).
std::string PlainRecord(const CCondition& c, int mode, const CSpectrum& a, const CSpectrum& b, int x,
                        const std::string& title, Queue q) {
    std::vector<CCandidate> list;
    while (!q.empty()) { list.push_back(q.top()); q.pop(); }
    std::set<std::string> peps;
    for (const CCandidate& r : list) PlainTransfer(r.strText, 0, "", peps);
    PlainScorer plain(c);
    std::vector<CResult> results;
    for (const std::string& s : peps) {
        CResult r;
        r.strPeptide = s;
        // A one-residue peptide coded 1..26 is C-terminally modified only
        // (taking it for an N-terminal one would write a stray character).
        const bool lone = r.strPeptide.size() == 1 && r.strPeptide[0] >= 1 && r.strPeptide[0] <= 26;
        if (!(r.strPeptide[0] >= 'A' && r.strPeptide[0] <= 'Z') && !lone) {
            r.lfNTermShift = c.m_vNTermMass[0];
            r.strPeptide[0] -= 32;
        }
        if (!(r.strPeptide.back() >= 'A' && r.strPeptide.back() <= 'Z')) {
            r.lfCTermShift = c.m_vCTermMass[0];
            r.strPeptide.back() += 64;
        }
        if (mode == 1) {
            r.lfScore = plain.Score(r, c.m_vHCDIonTypes, a);
        } else if (mode == 2) {
            r.lfScore = plain.Score(r, c.m_vETDIonTypes, a);
        } else {
            double s1 = plain.Score(r, c.m_vHCDIonTypes, a);
            r.lfScore = s1 + plain.Score(r, c.m_vETDIonTypes, b);
        }
        results.push_back(r);
    }
    std::sort(results.begin(), results.end(), CResult::WEIGHTGREATERonly);
    std::ostringstream os;
    os << "S" << x + 1 << "\t" << title << "\t";
    if (!c.m_mapAnswers.empty() && c.m_mapAnswers.count(title)) os << c.m_mapAnswers.at(title).strSequence << "\t";
    os << "\n";
    for (int i = 1; i <= std::min(static_cast<int>(results.size()), c.m_nReportPep); ++i) {
        const CResult& r = results[i - 1];
        os << "P" << i << "\t" << (std::fabs(r.lfNTermShift) > 0.1 ? "n" : "") << r.strPeptide
           << (std::fabs(r.lfCTermShift) > 0.1 ? "c" : "") << "\t" << r.lfScore << "\t\n";
    }
    os << "\n";
    return os.str();
}

using testing_residues::Ion;

// A spectrum holding some b/y (or c/z) ions of peptide q, from 5 residues of
// noise, and a few peaks of equal intensity.
CSpectrum SpectrumOf(std::mt19937& rng, const std::string& q, const char* activation) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double total = 0;
    for (char ch : q) total += Mass(ch);
    std::vector<double> mzs;
    double pre = 0;
    for (size_t l = 1; l < q.size(); ++l) {
        pre += Mass(q[l - 1]);
        if (u(rng) < 0.7) mzs.push_back(pre + 1.00727647012 + (u(rng) - 0.5) * 0.02);
        if (u(rng) < 0.7) mzs.push_back(total - pre + 18.0105647 + 1.00727647012 + (u(rng) - 0.5) * 0.02);
        if (u(rng) < 0.5) mzs.push_back(pre + 17.026549105 + 1.00727647012 + (u(rng) - 0.5) * 0.02);
    }
    for (int k = 0; k < 8; ++k) mzs.push_back(50 + u(rng) * total);
    std::sort(mzs.begin(), mzs.end());
    CSpectrum s;
    s.m_lfPrecursorMH = total + 18.0105647 + 1.00727647012;
    s.m_nCharge = 2;
    s.m_strActivation = activation;
    for (double m : mzs) {
        CPeak p;
        p.lfMz = p.lfKeyMz = m;
        p.lfIntensity = u(rng) < 0.3 ? 0.5 : u(rng);
        s.m_vPeaks.push_back(p);
    }
    return s;  // no index: the report builds it on its copy
}

class ReportReferenceTest : public ::testing::Test {
protected:
    ReportReferenceTest() : g(&cond) {
        testing_residues::FillBuiltInResidues(cond);
        testing_residues::SetResidue(cond, 'a', Mass('A') + kNMod);
        testing_residues::SetResidue(cond, kCModK, Mass('K') + kCMod);
        cond.m_vNTermMass = {kNMod, 28.0313};
        cond.m_vCTermMass = {kCMod};
        cond.m_bFragTolPpm = false;
        cond.m_lfFragTol = 0.02;
        cond.m_strEnzymeSites = "KR";
        cond.m_strEnzymeTerm = "C";
        cond.m_vHCDIonTypes = {Ion("b", 1, true, 0.0), Ion("y", 1, false, 18.0105647)};
        cond.m_vETDIonTypes = {Ion("c", 1, true, 17.026549105), Ion("z", 1, false, 18.0105647 - 16.018724)};
    }
    CCondition cond;
    CNCGraph g;
};

// Random graphs: candidate queue equal entry for entry (pop order), record
// text equal byte for byte.
TEST_F(ReportReferenceTest, CandidatesAndRecord_RandomGraphs_SameAsPlainRules) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const std::vector<std::string> inner = {"G", "A", "N", "GG", "Q", "K", "AG", "GA", "S", "SK", "KS"};
    int nonEmpty = 0, ties = 0;
    for (int round = 0; round < 150; ++round) {
        const unsigned n = 5 + rng() % 5;
        PlainGraph pg;
        for (unsigned i = 0; i < n; ++i) {
            for (unsigned j = i + 1; j < n; ++j) {
                if (u(rng) > 0.55) continue;
                std::map<std::string, double> raw;
                const unsigned labels = 1 + rng() % 3;
                for (unsigned k = 0; k < labels; ++k) {
                    std::string L = inner[rng() % inner.size()];
                    if (i == 0 && u(rng) < 0.2) L[0] = 'a';
                    if (j == n - 1 && u(rng) < 0.2) L.back() = kCModK;
                    raw.emplace(L, (u(rng) - 0.5) * 0.05);
                }
                // Mirror pairs fold into one bracket label, as the edge
                // builder leaves them.
                Cell cell;
                for (const auto& [L, d] : raw) {
                    const std::string K = L.size() == 2 ? std::string{L[1], L[0]} : std::string();
                    if (!K.empty() && cell.count(K)) {
                        cell.erase(K);
                        cell["[" + K + "/" + L + "]"] = d;
                    } else {
                        cell[L] = d;
                    }
                }
                pg.cells[{i, j}] = cell;
                pg.weights[{i, j}] = static_cast<int>(rng() % 300) - 30;
            }
        }
        // Up to eight random walks from the first node to the last.
        for (int w = 0; w < 8; ++w) {
            std::vector<unsigned> path{0};
            while (path.back() != n - 1) {
                std::vector<unsigned> next;
                for (const auto& [k, cell] : pg.cells)
                    if (k.first == path.back()) next.push_back(k.second);
                if (next.empty()) break;
                path.push_back(next[rng() % next.size()]);
            }
            if (path.back() == n - 1 && path.size() > 1) pg.paths.push_back(path);
        }
        if (pg.paths.empty()) continue;

        // The precursor residue mass: a first-label reading of one path,
        // nudged.
        const auto& chosen = pg.paths[rng() % pg.paths.size()];
        double R = 0;
        for (size_t s = 1; s < chosen.size(); ++s) {
            const std::string& L = pg.cells.at({chosen[s - 1], chosen[s]}).begin()->first;
            if (L[0] == '[') R += CodeMass(L[1]) + CodeMass(L[2]);
            else for (char ch : L) R += CodeMass(ch);
        }
        R += (u(rng) - 0.5) * 0.02;

        // The same graph in the engine's storage.
        g.m_vSuccessors.assign(n, {});
        g.m_vEdgeWeights.assign(n, {});
        g.m_vGraphEdges.assign(n, {});
        g.m_vLabels.clear();
        for (const auto& [k, cell] : pg.cells) {
            CGraphEdge e;
            e.nFirstLabel = static_cast<unsigned>(g.m_vLabels.size());
            e.nLabelCount = static_cast<unsigned>(cell.size());
            for (const auto& [L, d] : cell) g.m_vLabels.push_back({L, d});
            g.m_vSuccessors[k.first].push_back(k.second);
            g.m_vEdgeWeights[k.first].push_back(pg.weights.at(k));
            g.m_vGraphEdges[k.first].push_back(e);
        }
        g.m_vPaths = pg.paths;
        g.m_lfTolerance = 0.02;
        g.m_lfResidueMass = R;
        cond.m_nReportTemp = 1 + static_cast<int>(rng() % 12);
        cond.m_nReportPep = static_cast<int>(rng() % 6);

        Queue want;
        PlainCandidates(pg, 0.02, R, cond.m_nReportTemp, want);
        CCandidateList list;
        list.Reset(cond.m_nReportTemp);
        g.GenerateCandidatePeptidevvPath(list);
        ASSERT_EQ(list.Size(), want.size()) << "round " << round;
        if (!want.empty()) ++nonEmpty;

        // Report: spectra made from one of the candidate peptides.
        std::string model = "GANQK";
        if (!want.empty()) {
            std::set<std::string> peps;
            PlainTransfer(want.top().strText, 0, "", peps);
            model = *peps.begin();
            for (char& ch : model) {
                if (ch == 'a') ch = 'A';
                if (ch == kCModK) ch = 'K';
            }
        }
        const int x = static_cast<int>(rng() % 3);
        const int mode = 1 + static_cast<int>(rng() % 3);
        std::vector<CSpectrum> first(3), second(3);
        for (int k = 0; k < 3; ++k) {
            first[k] = SpectrumOf(rng, model, mode == 2 ? "ETD" : "HCD");
            second[k] = SpectrumOf(rng, model, "ETD");
            first[k].m_strTitle = second[k].m_strTitle = "t" + std::to_string(k);
        }
        cond.m_mapAnswers.clear();
        if (round % 2 == 0) cond.m_mapAnswers["t" + std::to_string(x)].strSequence = model;
        const std::string title = first[x].m_strTitle;

        const std::string expected = PlainRecord(cond, mode, first[x], second[x], x, title, want);
        // Drain order of the engine's list equals the plain queue's pop order.
        std::vector<CCandidate> mine;
        list.Drain(mine);
        for (const CCandidate& m : mine) {
            ASSERT_EQ(m.strText, want.top().strText) << "round " << round;
            ASSERT_EQ(m.lfPathWeight, want.top().lfPathWeight) << "round " << round;
            ASSERT_EQ(m.nDoubleSteps, want.top().nDoubleSteps) << "round " << round;
            want.pop();
        }
        const CWorkUnit unit{&first[x], mode == 3 ? &second[x] : nullptr, x, static_cast<EMode>(mode), 1, 2};
        CUnitResult result;
        result.pUnit = &unit;
        result.bGraphed = true;
        CReport report(&cond);
        report.Report_unknowResult(unit, mine, false, result);
        std::string record;
        CNativeWriter(cond).Record(result, record);
        ASSERT_EQ(record, expected) << "round " << round;
        for (size_t i = 1; i < result.vPeptides.size(); ++i)
            if (result.vPeptides[i].lfScore == result.vPeptides[i - 1].lfScore) ++ties;
    }
    EXPECT_GT(nonEmpty, 40);
    EXPECT_GT(ties, 0);  // equal scores occurred and were ordered alike
}

}  // namespace
