#include "output/TsvWriter.h"

#include <algorithm>
#include <cstdio>

#include "common/Masses.h"
#include "output/PeptideText.h"

namespace {

void Cell(std::string& out, const std::string& text) {
    for (const char ch : text) out += ch == '\t' || ch == '\n' || ch == '\r' ? ' ' : ch;
    out += '\t';
}

std::string Number(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

}  // namespace

std::string CTsvWriter::Header() const {
    // With a re-ranking model a confidence column follows the score.
    // With confidence=1, the per-residue confidences.
    return std::string("file\tspectrum_index\ttitle\tscan\tretention_time\tprecursor_mz\tcharge\trank\tpeptide\tproforma\tscore\t") +
           (m_cond.m_pRerankModel ? "confidence\t" : "") + (m_cond.m_bConfidence ? "aa_scores\t" : "") +
           "ppm_error\tstatus\tpaired_file\tpaired_index\n";
}

void CTsvWriter::Rows(const CUnitResult& r, std::string& out) const {
    const CWorkUnit& u = *r.pUnit;
    const CSpectrum& s = *u.pFirst;
    std::string lead;
    Cell(lead, m_vRuns[static_cast<size_t>(u.nFirstRun - 1)]);
    Cell(lead, std::to_string(s.FileIndex()));
    Cell(lead, s.m_strTitle);
    Cell(lead, s.m_nScan >= 0 ? std::to_string(s.m_nScan) : "");
    Cell(lead, s.m_lfRetentionTime >= 0 ? Number("%.3f", s.m_lfRetentionTime) : "");
    Cell(lead, Number("%.6f", mass::MzOfMH(s.m_lfPrecursorMH, s.m_nCharge)));
    Cell(lead, std::to_string(s.m_nCharge));
    std::string tail;
    if (u.pSecond != nullptr) {
        Cell(tail, m_vRuns[static_cast<size_t>(u.nSecondRun - 1)]);
        tail += std::to_string(u.pSecond->FileIndex());
    } else {
        tail += '\t';
    }
    tail += '\n';

    const size_t shown = std::min(r.vPeptides.size(), TableRows(m_cond));
    const char* status = StatusName(r.eStatus);
    if (shown == 0) {
        out += lead;
        // rank, peptide, proforma, score, [confidence], [aa_scores], ppm_error: empty.
        out += std::string(5 + (m_cond.m_pRerankModel ? 1 : 0) + (m_cond.m_bConfidence ? 1 : 0), '\t');
        Cell(out, status);
        out += tail;
        return;
    }
    std::string proforma;
    for (size_t k = 0; k < shown; ++k) {
        const CResult& p = r.vPeptides[k];
        const double calc = ResultMH(p, m_cond);
        out += lead;
        Cell(out, std::to_string(k + 1));
        Cell(out, PlainSequence(p, m_cond));
        proforma.clear();
        AppendPeptide(proforma, p, m_cond, EPeptideText::ProForma);
        Cell(out, proforma);
        Cell(out, Number("%g", p.lfScore));
        if (m_cond.m_pRerankModel) Cell(out, Number("%g", p.lfConfidence));
        if (m_cond.m_bConfidence) Cell(out, ResidueScores(p));
        Cell(out, Number("%.3f", (s.m_lfPrecursorMH - calc) / calc * 1e6));
        Cell(out, status);
        out += tail;
    }
}
