#include "rerank/ResiduePairs.h"

#include <cstdio>
#include <set>

#include "rerank/BoostedTrees.h"
#include "rerank/PortableMath.h"

const char* const CResiduePairs::kAlphabet = "ACDEFGHKLMNPQRSTVWY";

CResiduePairs::CResiduePairs() {
    for (auto& row : m_lfLogOdds)
        for (double& v : row) v = 0.0;
}

int CResiduePairs::_Code(char letter) {
    if (letter == 'I') letter = 'L';
    for (int k = 0; k < kLetters; ++k)
        if (kAlphabet[k] == letter) return k;
    return -1;
}

void CResiduePairs::Fit(const std::vector<std::string>& peptides) {
    // Each sequence once, in byte order, so the counts do not depend on the
    // order the sets came in.
    const std::set<std::string> distinct(peptides.begin(), peptides.end());
    double pairs[kLetters][kLetters] = {};
    double first[kLetters] = {}, second[kLetters] = {};
    double total = 0.0;
    for (const std::string& p : distinct) {
        for (size_t i = 0; i + 1 < p.size(); ++i) {
            const int a = _Code(p[i]), b = _Code(p[i + 1]);
            if (a < 0 || b < 0) continue;
            pairs[a][b] += 1.0;
            first[a] += 1.0;
            second[b] += 1.0;
            total += 1.0;
        }
    }
    constexpr double kCells = kLetters * kLetters;
    for (int a = 0; a < kLetters; ++a)
        for (int b = 0; b < kLetters; ++b) {
            const double pab = (pairs[a][b] + 1.0) / (total + kCells);
            const double pa = (first[a] + kLetters) / (total + kCells);
            const double pb = (second[b] + kLetters) / (total + kCells);
            m_lfLogOdds[a][b] = portable::Log(pab) - portable::Log(pa) - portable::Log(pb);
        }
}

double CResiduePairs::MeanLogOdds(const char* letters, int length) const {
    double sum = 0.0;
    int n = 0;
    for (int i = 0; i + 1 < length; ++i) {
        const int a = _Code(letters[i]), b = _Code(letters[i + 1]);
        if (a < 0 || b < 0) continue;
        sum += m_lfLogOdds[a][b];
        ++n;
    }
    return n > 0 ? sum / n : 0.0;
}

bool CResiduePairs::ParseRows(const std::vector<std::pair<int, std::string_view>>& rows, std::string& error) {
    if (rows.size() != static_cast<size_t>(kLetters)) {
        error = std::to_string(rows.size()) + " rows of residue pairs, expected " + std::to_string(kLetters);
        return false;
    }
    double table[kLetters][kLetters];
    for (int a = 0; a < kLetters; ++a) {
        const std::string_view row = rows[static_cast<size_t>(a)].second;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(rows[static_cast<size_t>(a)].first) + ": residue pairs of " +
                    kAlphabet[a] + ": " + why;
            return false;
        };
        size_t pos = 0;
        int b = 0;
        for (std::string_view word; modeltext::NextWord(row, pos, word); ++b) {
            if (b >= kLetters) return fail("more than " + std::to_string(kLetters) + " values");
            if (!modeltext::ReadStrtod(word, table[a][b])) return fail("\"" + std::string(word) + "\" is not a number");
        }
        if (b != kLetters) return fail(std::to_string(b) + " values, expected " + std::to_string(kLetters));
    }
    for (int a = 0; a < kLetters; ++a)
        for (int b = 0; b < kLetters; ++b) m_lfLogOdds[a][b] = table[a][b];
    return true;
}

bool CResiduePairs::ParseRows(const std::vector<std::pair<int, std::string>>& rows, std::string& error) {
    return ParseRows(std::vector<std::pair<int, std::string_view>>(rows.begin(), rows.end()), error);
}

std::string CResiduePairs::Text() const {
    std::string t = std::string("residue_pairs ") + kAlphabet + "\n";
    char buf[40];
    for (const auto& row : m_lfLogOdds) {
        for (int b = 0; b < kLetters; ++b) {
            std::snprintf(buf, sizeof buf, "%.17g", row[b]);
            t += (b ? " " : "") + std::string(buf);
        }
        t += "\n";
    }
    return t;
}
