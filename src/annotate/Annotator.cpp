#include "annotate/Annotator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/Masses.h"

namespace {

// A written delta and a known modification mass are the same one within
// this (the files write three or four decimals).
constexpr double kSameDelta = 0.01;

// The standard ion types, for a run whose parameter file declares none for
// the mode drawn (the same ones the conditions fill in for a run).
std::vector<CIonType> StandardIons(bool etd) {
    auto ion = [](const char* name, int z, bool prefix, double offset) {
        CIonType t;
        t.strName = name;
        t.nNumber = z;
        t.bFlag1 = prefix;
        t.lfValue = offset;
        return t;
    };
    if (etd) {
        return {ion("c", 1, true, mass::kAmmonia), ion("z", 1, false, 1.9929378), ion("c", 2, true, mass::kAmmonia),
                ion("z", 2, false, 1.9929378)};
    }
    return {ion("b", 1, true, 0.0), ion("y", 1, false, mass::kWater), ion("b", 2, true, 0.0),
            ion("y", 2, false, mass::kWater)};
}

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

}  // namespace

std::string CFragmentIon::Label() const {
    std::string s(1, cSeries);
    s += std::to_string(nLength);
    if (nCharge > 1) s += std::string(static_cast<size_t>(nCharge), '+');
    if (nLoss == 1) s += "-H2O";
    if (nLoss == 2) s += "-NH3";
    return s;
}

std::string CAnnotator::ActivationOf(const std::string& recorded) {
    std::string u = recorded;
    for (char& ch : u) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (u == "HCD" || u == "CID") return "HCD";
    if (u == "ETD" || u == "ECD") return "ETD";
    if (u == "ETHCD") return "EThcD";
    return "";
}

double CAnnotator::_TerminalDelta(double written, char first, bool nTerm) const {
    // The run's own terminal modifications and N-terminal variable ones
    // carry the exact masses the engine used.
    for (const double m : nTerm ? m_cond.m_vNTermMass : m_cond.m_vCTermMass)
        if (std::fabs(written - m) <= kSameDelta) return m;
    if (nTerm)
        for (const CVarMod& mod : m_cond.m_vVarMods)
            if (mod.bNTerm && mod.cResidue == first && std::fabs(written - mod.lfDelta) <= kSameDelta)
                return mod.lfDelta;
    return written;
}

bool CAnnotator::ParsePeptide(const std::string& text, std::vector<CAnnotResidue>& out, std::string& error) const {
    out.clear();
    size_t pos = 0;
    bool nMark = false, cMark = false;
    double nDelta = 0.0, cDelta = 0.0;
    if (pos < text.size() && text[pos] == 'n') {
        nMark = true;
        ++pos;
    }
    if (pos < text.size() && text[pos] == '[') {
        if (!ReadDelta(text, pos, nDelta) || pos >= text.size() || text[pos] != '-') {
            error = "an N-terminal delta is written [+42.011]-";
            return false;
        }
        ++pos;
    }
    while (pos < text.size()) {
        const char ch = text[pos];
        if (ch == '-' && !out.empty()) {
            // Only the end of the text may follow (checked below).
            ++pos;
            ReadDelta(text, pos, cDelta);
            break;
        }
        if (ch == 'c' && pos + 1 == text.size() && !out.empty()) {
            cMark = true;
            ++pos;
            break;
        }
        const char letter = ch == 'I' ? 'L' : ch;
        if (letter < 'A' || letter > 'Z' || m_cond.m_lfAAMass[letter - 'A'] <= 0.0) {
            error = std::string("'") + ch + "' at position " + std::to_string(pos + 1) + " is no residue of the run";
            return false;
        }
        ++pos;
        double sum = 0.0, d = 0.0;
        while (pos < text.size() && text[pos] == '[') {
            if (!ReadDelta(text, pos, d)) {
                error = "a broken mass delta after position " + std::to_string(pos);
                return false;
            }
            sum += d;
        }
        CAnnotResidue r;
        r.cLetter = ch;
        r.lfMass = m_cond.m_lfAAMass[letter - 'A'];
        // The native file writes deltas over the run's masses, the tables
        // over the built-in ones (so a fixed modification shows there): try
        // both readings against the run's variable modifications.
        const double fixed = r.lfMass - CCondition::BuiltInMass(letter);
        bool known = false;
        for (const double base : {0.0, fixed}) {
            const double rest = sum - base;
            if (std::fabs(rest) <= kSameDelta) {
                r.lfDelta = 0.0;
                known = true;
            }
            for (const CVarMod& mod : m_cond.m_vVarMods)
                if (!known && !mod.bNTerm && mod.cResidue == letter && std::fabs(rest - mod.lfDelta) <= kSameDelta) {
                    r.lfDelta = mod.lfDelta;
                    known = true;
                }
            if (known) break;
        }
        if (!known) r.lfDelta = sum;
        r.lfMass += r.lfDelta;
        out.push_back(r);
    }
    if (pos != text.size() || out.empty()) {
        error = out.empty() ? "no residues" : "a C-terminal delta is written -[+0.984] at the end";
        return false;
    }
    // The native file's marks stand for the run's first terminal
    // modification (the one the engine scores with).
    if (nMark && !m_cond.m_vNTermMass.empty()) nDelta += m_cond.m_vNTermMass[0];
    if (cMark && !m_cond.m_vCTermMass.empty()) cDelta += m_cond.m_vCTermMass[0];
    const char first = out.front().cLetter == 'I' ? 'L' : out.front().cLetter;
    if (nDelta != 0.0) {
        const double d = nMark ? nDelta : _TerminalDelta(nDelta, first, true);
        out.front().lfDelta += d;
        out.front().lfMass += d;
    }
    if (cDelta != 0.0) {
        const double d = cMark ? cDelta : _TerminalDelta(cDelta, first, false);
        out.back().lfDelta += d;
        out.back().lfMass += d;
    }
    return true;
}

int CAnnotator::_Match(const std::vector<CPeak>& peaks, double mz) const {
    const double tol = m_cond.CalcFragmentMassDeviation(mz);
    auto it = std::lower_bound(peaks.begin(), peaks.end(), mz - tol,
                               [](const CPeak& p, double v) { return p.lfMz < v; });
    int best = -1;
    for (; it != peaks.end() && it->lfMz <= mz + tol; ++it)
        if (best < 0 || it->lfIntensity > peaks[static_cast<size_t>(best)].lfIntensity)
            best = static_cast<int>(it - peaks.begin());
    return best;
}

bool CAnnotator::Annotate(const CSpectrum& spectrum, const std::string& peptide, const std::string& activation,
                          bool losses, CAnnotation& out, std::string& error) const {
    out = CAnnotation();
    if (!ParsePeptide(peptide, out.vResidues, error)) return false;
    out.strTitle = spectrum.m_strTitle;
    out.strPeptide = peptide;
    out.strActivation = activation;
    out.nCharge = spectrum.m_nCharge;
    out.lfPrecursorMH = spectrum.m_lfPrecursorMH;
    out.lfPrecursorMz = mass::MzOfMH(spectrum.m_lfPrecursorMH, spectrum.m_nCharge);
    out.bPpm = m_cond.m_bFragTolPpm;
    out.lfTolerance = m_cond.m_lfFragTol;
    for (const CPeak& p : spectrum.m_vPeaks)
        if (p.lfIntensity > 0.0 && std::isfinite(p.lfMz)) out.vPeaks.push_back(p);
    std::stable_sort(out.vPeaks.begin(), out.vPeaks.end(), CPeak::Mz_Less);

    const size_t len = out.vResidues.size();
    std::vector<double> prefix(len + 1, 0.0);
    for (size_t k = 0; k < len; ++k) prefix[k + 1] = prefix[k] + out.vResidues[k].lfMass;
    out.lfPeptideMH = prefix[len] + mass::kWater + mass::kProton;

    std::vector<CIonType> types;
    const bool hcd = activation != "ETD", etd = activation == "ETD" || activation == "EThcD";
    if (hcd) types = m_cond.m_vHCDIonTypes.empty() ? StandardIons(false) : m_cond.m_vHCDIonTypes;
    if (etd) {
        const std::vector<CIonType> e = m_cond.m_vETDIonTypes.empty() ? StandardIons(true) : m_cond.m_vETDIonTypes;
        types.insert(types.end(), e.begin(), e.end());
    }
    std::vector<char> matched(out.vPeaks.size(), 0);
    for (const CIonType& type : types) {
        const int z = type.nNumber;
        if (z <= 0 || z > std::max(1, spectrum.m_nCharge)) continue;
        const char series = type.strName.empty()
                                ? (type.bFlag1 ? 'b' : 'y')
                                : static_cast<char>(std::tolower(static_cast<unsigned char>(type.strName[0])));
        for (size_t l = 1; l < len; ++l) {
            CFragmentIon ion;
            ion.cSeries = series;
            ion.bPrefix = type.bFlag1;
            ion.nLength = static_cast<int>(l);
            ion.nCharge = z;
            const double m = type.bFlag1 ? prefix[l] : prefix[len] - prefix[len - l];
            ion.lfMz = (m + z * mass::kProton + type.lfValue) / z;
            ion.nPeak = _Match(out.vPeaks, ion.lfMz);
            ++out.nIons;
            out.vIons.push_back(ion);
            if (ion.nPeak < 0) continue;
            ++out.nMatchedIons;
            // Losses are looked for only beside a matched ion: alone they
            // would mostly explain noise.
            for (int loss = 1; losses && loss <= 2; ++loss) {
                CFragmentIon lost = ion;
                lost.nLoss = loss;
                lost.lfMz = ion.lfMz - (loss == 1 ? mass::kWater : mass::kAmmonia) / z;
                lost.nPeak = _Match(out.vPeaks, lost.lfMz);
                out.vIons.push_back(lost);
            }
        }
    }
    double total = 0.0, explained = 0.0;
    for (CFragmentIon& ion : out.vIons) {
        if (ion.nPeak < 0) continue;
        const double observed = out.vPeaks[static_cast<size_t>(ion.nPeak)].lfMz;
        ion.lfError = out.bPpm ? (observed - ion.lfMz) / ion.lfMz * 1e6 : observed - ion.lfMz;
        matched[static_cast<size_t>(ion.nPeak)] = 1;
    }
    for (size_t i = 0; i < out.vPeaks.size(); ++i) {
        total += out.vPeaks[i].lfIntensity;
        if (matched[i]) explained += out.vPeaks[i].lfIntensity;
    }
    out.lfExplained = total > 0 ? explained / total : 0.0;
    return true;
}
