#include "output/NativeWriter.h"

#include <algorithm>
#include <charconv>

#include "output/PeptideText.h"

namespace {

void AppendInt(std::string& out, long long v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

// A double as a default-state output stream writes it: general notation,
// six significant digits. to_chars with a precision is defined to give
// printf's "%g" text, without its format parsing and locale lookups (the
// writer prints two numbers per reported peptide).
void AppendScore(std::string& out, double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    out.append(buf, res.ptr);
}

}  // namespace

void CNativeWriter::Record(const CUnitResult& r, std::string& out) const {
    if (!r.bGraphed) return;
    const CCondition& c = m_cond;
    const CSpectrum& first = *r.pUnit->pFirst;
    out += 'S';
    AppendInt(out, r.pUnit->nRecord + 1);
    out += '\t';
    out += first.m_strTitle;
    out += '\t';
    if (!c.m_mapAnswers.empty()) {
        auto it = c.m_mapAnswers.find(first.m_strTitle);
        if (it != c.m_mapAnswers.end()) {
            out += it->second.strSequence;
            out += '\t';
        }
    }
    out += '\n';
    const size_t shown = std::min(r.vPeptides.size(), static_cast<size_t>(std::max(0, c.m_nReportPep)));
    for (size_t i = 0; i < shown; ++i) {
        const CResult& p = r.vPeptides[i];
        out += 'P';
        AppendInt(out, static_cast<long long>(i) + 1);
        out += '\t';
        AppendPeptide(out, p, c, EPeptideText::Native);
        out += '\t';
        AppendScore(out, p.lfScore);
        if (c.m_bConfidence) {
            // Confidence, then the residues' confidences, comma-separated.
            out += '\t';
            AppendScore(out, p.lfConfidence);
            out += '\t';
            out += ResidueScores(p);
        }
        out += "\t\n";
    }
    out += '\n';
}
