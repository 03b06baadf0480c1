#include "output/OutputUnit.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr double kProton = 1.00727647012;
constexpr double kWater = 18.0105647;
// Shifts below this are no modification (the report's own threshold).
constexpr double kSmallestShift = 0.1;
// A residue mass this far from the built-in one carries a modification.
constexpr double kModifiedResidue = 0.001;
}  // namespace

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

std::string ProForma(const CResult& r, const CCondition& c) {
    std::string out;
    if (std::fabs(r.lfNTermShift) > kSmallestShift) out += "[" + Delta(r.lfNTermShift) + "]-";
    for (const char code : r.strPeptide) {
        const CVarMod* mod = c.VarMod(code);
        const char aa = mod ? mod->cResidue : code;
        if (mod && mod->bNTerm) out += "[" + Delta(mod->lfDelta) + "]-";
        out += aa;
        if (mod && !mod->bNTerm) out += "[" + Delta(mod->lfDelta) + "]";
        if (aa < 'A' || aa > 'Z') continue;
        const double builtIn = CCondition::BuiltInMass(aa);
        const double used = c.m_lfAAMass[aa - 'A'];
        if (builtIn > 0.0 && std::fabs(used - builtIn) > kModifiedResidue) out += "[" + Delta(used - builtIn) + "]";
    }
    if (std::fabs(r.lfCTermShift) > kSmallestShift) out += "-[" + Delta(r.lfCTermShift) + "]";
    return out;
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

double MzOfMH(double mh, int z) { return z > 0 ? (mh + (z - 1) * kProton) / z : mh; }
