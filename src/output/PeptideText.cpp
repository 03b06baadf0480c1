#include "output/PeptideText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/Masses.h"

namespace {

using namespace mass;

// "[+15.995]" (three decimals, the native file) or "[+15.9949]" (four, zeros
// dropped, ProForma).
void AppendDelta(std::string& out, double delta, EPeptideText form) {
    if (form == EPeptideText::ProForma) {
        out += '[';
        out += Delta(delta);
        out += ']';
        return;
    }
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "[%+.3f]", delta);
    if (n > 0) out.append(buf, static_cast<size_t>(std::min(n, static_cast<int>(sizeof buf) - 1)));
}

}  // namespace

void AppendPeptide(std::string& out, const CResult& r, const CCondition& c, EPeptideText form) {
    const bool proforma = form == EPeptideText::ProForma;
    const bool nterm = std::fabs(r.lfNTermShift) > kSmallestShift;
    if (nterm && proforma) {
        AppendDelta(out, r.lfNTermShift, form);
        out += '-';
    } else if (nterm) {
        out += 'n';
    }
    if (!proforma && c.m_vVarMods.empty()) {
        out += r.strPeptide;
    } else {
        for (const char code : r.strPeptide) {
            const CVarMod* mod = c.VarMod(code);
            const char aa = mod ? mod->cResidue : code;
            if (mod && mod->bNTerm) {
                AppendDelta(out, mod->lfDelta, form);
                out += '-';
            }
            out += aa;
            if (mod && !mod->bNTerm) AppendDelta(out, mod->lfDelta, form);
            // The fixed modifications (residue masses of the run) are part of
            // ProForma's sequence; the native file leaves them to the run.
            if (!proforma || aa < 'A' || aa > 'Z') continue;
            const double builtIn = CCondition::BuiltInMass(aa);
            const double used = c.m_lfAAMass[aa - 'A'];
            if (builtIn > 0.0 && std::fabs(used - builtIn) > kModifiedResidue) AppendDelta(out, used - builtIn, form);
        }
    }
    if (std::fabs(r.lfCTermShift) > kSmallestShift) {
        if (proforma) {
            out += '-';
            AppendDelta(out, r.lfCTermShift, form);
        } else {
            out += 'c';
        }
    }
}

std::string PlainSequence(const CResult& r, const CCondition& c) {
    std::string out = r.strPeptide;
    for (char& code : out)
        if (const CVarMod* mod = c.VarMod(code)) code = mod->cResidue;
    return out;
}

std::string Delta(double mass) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.4f", mass);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

double ResultMH(const CResult& r, const CCondition& c) {
    double m = kWater + kProton;
    for (const char code : r.strPeptide) {
        const CVarMod* mod = c.VarMod(code);
        const char aa = mod ? mod->cResidue : code;
        if (aa >= 'A' && aa <= 'Z') m += c.m_lfAAMass[aa - 'A'] + (mod ? mod->lfDelta : 0.0);
    }
    if (std::fabs(r.lfNTermShift) > kSmallestShift) m += r.lfNTermShift;
    if (std::fabs(r.lfCTermShift) > kSmallestShift) m += r.lfCTermShift;
    return m;
}

std::string ResidueScores(const CResult& r) {
    std::string out;
    for (size_t k = 0; k < r.vResidueSides.size(); ++k) {
        if (k) out += ',';
        out += r.vResidueSides[k] == 2 ? "1" : r.vResidueSides[k] == 1 ? "0.5" : "0";
    }
    return out;
}

size_t TableRows(const CCondition& c) {
    return static_cast<size_t>(std::max(0, c.m_nTableRows > 0 ? c.m_nTableRows : c.m_nReportPep));
}
