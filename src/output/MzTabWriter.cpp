#include "output/MzTabWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "common/Masses.h"
#include "output/PeptideText.h"

namespace {

using namespace mass;

std::string Number(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string FileUri(const std::string& path) {
    std::error_code ec;
    std::string abs = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (ec) abs = path;
    std::string uri = "file://";
    for (const char ch : abs) {
        const auto u = static_cast<unsigned char>(ch);
        if (std::isalnum(u) || ch == '/' || ch == '.' || ch == '_' || ch == '-' || ch == '~') {
            uri += ch;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", u);
            uri += buf;
        }
    }
    return uri;
}

// The modifications named by their UNIMOD entries: mass delta (Da), the
// residues they sit on ("" any), accession and name.
struct CUnimodEntry {
    double lfDelta;
    const char* szResidues;
    int nAccession;
    const char* szName;
};
const CUnimodEntry kUnimod[] = {
    {57.021464, "C", 4, "Carbamidomethyl"},  {15.994915, "MWHCY", 35, "Oxidation"},
    {42.010565, "", 1, "Acetyl"},            {43.005814, "", 5, "Carbamyl"},
    {0.984016, "NQR", 7, "Deamidated"},      {-17.026549, "Q", 28, "Gln->pyro-Glu"},
    {79.966331, "STYHDCRK", 21, "Phospho"},
};
constexpr double kSameModification = 0.001;  // Da

// mzTab's ms_run format and native id format of a spectrum file type.
struct CRunFormat {
    const char* szType;
    const char* szFormat;
    const char* szIdFormat;
};
const CRunFormat kRunFormats[] = {
    {"MGF", "[MS, MS:1001062, Mascot MGF format, ]", "[MS, MS:1000774, multiple peak list nativeID format, ]"},
    {"mzML", "[MS, MS:1000584, mzML format, ]", "[MS, MS:1000774, multiple peak list nativeID format, ]"},
    {"mzXML", "[MS, MS:1000566, ISB mzXML format, ]", "[MS, MS:1000774, multiple peak list nativeID format, ]"},
    {"MS2", "[MS, MS:1001466, MS2 format, ]", "[MS, MS:1000774, multiple peak list nativeID format, ]"},
    {"DTA", "[MS, MS:1000613, DTA format, ]", "[MS, MS:1000774, multiple peak list nativeID format, ]"},
};

// A modification as an mzTab parameter: its UNIMOD entry, or a CHEMMOD mass.
std::string ModParam(double delta, char residue) {
    std::string title;
    const std::string name = CMzTabWriter::ModName(delta, residue, &title);
    return title.empty() ? "[, " + name + ", , ]" : "[UNIMOD, " + name + ", " + title + ", ]";
}

std::string Clean(const std::string& s) {
    std::string out;
    for (const char ch : s) out += ch == '\t' || ch == '\n' || ch == '\r' ? ' ' : ch;
    return out.empty() ? "null" : out;
}

}  // namespace

CMzTabWriter::CMzTabWriter(const CCondition& c, std::vector<std::string> runs, std::string specType)
    : m_cond(c), m_vRuns(std::move(runs)), m_strSpecType(std::move(specType)) {}

std::string CMzTabWriter::ModName(double delta, char residue, std::string* title) {
    for (const CUnimodEntry& e : kUnimod) {
        if (std::fabs(delta - e.lfDelta) > kSameModification) continue;
        if (residue != 0 && e.szResidues[0] != '\0' && std::string(e.szResidues).find(residue) == std::string::npos)
            continue;
        if (title) *title = e.szName;
        return "UNIMOD:" + std::to_string(e.nAccession);
    }
    if (title) title->clear();
    return "CHEMMOD:" + Delta(delta);
}

std::string CMzTabWriter::Header(const std::string& description) const {
    const CCondition& c = m_cond;
    std::string h;
    auto mtd = [&h](const std::string& key, const std::string& value) { h += "MTD\t" + key + "\t" + value + "\n"; };
    mtd("mzTab-version", "1.0.0");
    mtd("mzTab-mode", "Summary");
    mtd("mzTab-type", "Identification");
    mtd("description", Clean(description));
    for (size_t k = 0; k < m_vRuns.size(); ++k) {
        const std::string run = "ms_run[" + std::to_string(k + 1) + "]";
        mtd(run + "-location", FileUri(m_vRuns[k]));
    }
    for (size_t k = 0; k < m_vRuns.size(); ++k) {
        const std::string run = "ms_run[" + std::to_string(k + 1) + "]";
        for (const CRunFormat& f : kRunFormats) {
            if (m_strSpecType != f.szType) continue;
            mtd(run + "-format", f.szFormat);
            mtd(run + "-id_format", f.szIdFormat);
        }
    }
    mtd("software[1]", std::string("[, , Vemra+, ") + VEMRA_VERSION + "]");
    int setting = 0;
    auto set = [&](const std::string& text) { mtd("software[1]-setting[" + std::to_string(++setting) + "]", text); };
    set("frag_tol=" + Number("%g", c.m_lfFragTol) + (c.m_bFragTolPpm ? " ppm" : " Da"));
    set("pep_tol=" + Number("%g", c.m_lfPepTol) + (c.m_bPepTolPpm ? " ppm" : " Da"));
    set("activation_type=" + c.m_strActivation);
    set("enzyme=" + (c.m_strEnzymeName.empty() ? std::string("none") : c.m_strEnzymeName + " " + c.m_strEnzymeSites + " " + c.m_strEnzymeTerm));
    set("mass_window=" + Number("%g", c.m_lfMassLowerBound) + ".." + Number("%g", c.m_lfMassUpperBound) + " Da");
    set("report_path=" + std::to_string(c.m_nReportPath) + " report_temp=" + std::to_string(c.m_nReportTemp) +
        " report_pep=" + std::to_string(c.m_nReportPep) + " max_node=" + std::to_string(c.m_nMaxNode));
    mtd("psm_search_engine_score[1]", "[MS, MS:1001153, search engine specific score, ]");
    // A re-ranking model gives each PSM a calibrated probability of being
    // right: the second score.
    if (c.m_pRerankModel) mtd("psm_search_engine_score[2]", "[, , Vemra+ calibrated peptide confidence, ]");

    // Residue masses that differ from the built-in ones are fixed modifications.
    int fixed = 0;
    for (char aa = 'A'; aa <= 'Z'; ++aa) {
        const double builtIn = CCondition::BuiltInMass(aa);
        const double delta = c.m_lfAAMass[aa - 'A'] - builtIn;
        if (builtIn <= 0.0 || std::fabs(delta) <= kModifiedResidue) continue;
        const std::string key = "fixed_mod[" + std::to_string(++fixed) + "]";
        mtd(key, ModParam(delta, aa));
        mtd(key + "-site", std::string(1, aa));
    }
    if (fixed == 0) mtd("fixed_mod[1]", "[MS, MS:1002453, No fixed modifications searched, ]");
    int variable = 0;
    _VariableMods(h, variable);
    if (variable == 0) mtd("variable_mod[1]", "[MS, MS:1002454, No variable modifications searched, ]");

    h += "PSH\tsequence\tPSM_ID\taccession\tunique\tdatabase\tdatabase_version\tsearch_engine\t"
         "search_engine_score[1]\t" + std::string(c.m_pRerankModel ? "search_engine_score[2]\t" : "") + "modifications\tretention_time\tcharge\texp_mass_to_charge\tcalc_mass_to_charge\t"
         "spectra_ref\tpre\tpost\tstart\tend\topt_global_rank\topt_global_proforma\topt_global_title\topt_global_confidence\t"
         "opt_global_aa_scores\n";
    return h;
}

void CMzTabWriter::_VariableMods(std::string& h, int& count) const {
    const CCondition& c = m_cond;
    auto entry = [&](double delta, char residue, const std::string& site, const char* position) {
        const std::string key = "variable_mod[" + std::to_string(++count) + "]";
        h += "MTD\t" + key + "\t" + ModParam(delta, residue) + "\n";
        h += "MTD\t" + key + "-site\t" + site + "\n";
        h += "MTD\t" + key + "-position\t" + position + "\n";
    };
    // One entry per modification and site class: a modification of every
    // residue's N-terminus is one "N-term" entry, otherwise one per residue.
    std::vector<bool> done(c.m_vVarMods.size(), false);
    for (size_t i = 0; i < c.m_vVarMods.size(); ++i) {
        if (done[i]) continue;
        const CVarMod& m = c.m_vVarMods[i];
        std::vector<size_t> group;
        for (size_t j = i; j < c.m_vVarMods.size(); ++j)
            if (c.m_vVarMods[j].bNTerm == m.bNTerm && c.m_vVarMods[j].lfDelta == m.lfDelta) group.push_back(j);
        size_t residues = 0;
        for (char aa = 'A'; aa <= 'Z'; ++aa) residues += aa != 'I' && c.m_lfAAMass[aa - 'A'] >= 0.1;
        if (m.bNTerm && group.size() >= residues) {
            for (const size_t j : group) done[j] = true;
            entry(m.lfDelta, 0, "N-term", "Any N-term");
            continue;
        }
        done[i] = true;
        entry(m.lfDelta, m.cResidue, std::string(1, m.cResidue), m.bNTerm ? "Any N-term" : "Anywhere");
    }
    auto terminal = [&](const std::vector<double>& masses, const std::vector<std::string>& sites, const char* where) {
        for (size_t k = 0; k < masses.size(); ++k) {
            if (sites[k].size() == 26) {
                entry(masses[k], 0, where, (std::string("Any ") + where).c_str());
                continue;
            }
            for (const char aa : sites[k]) entry(masses[k], aa, std::string(1, aa), (std::string("Any ") + where).c_str());
        }
    };
    terminal(c.m_vNTermMass, c.m_vNTermSites, "N-term");
    terminal(c.m_vCTermMass, c.m_vCTermSites, "C-term");
}

std::string CMzTabWriter::_SpectraRef(const CSpectrum& s, int run) const {
    // The index as the file gives it (an mzML's counts every spectrum, MS1
    // too), which every format has, where scan numbers may be missing.
    return "ms_run[" + std::to_string(run) + "]:index=" + std::to_string(s.FileIndex());
}

void CMzTabWriter::Rows(const CUnitResult& res, std::string& out) const {
    const CWorkUnit& u = *res.pUnit;
    const CSpectrum& s = *u.pFirst;
    std::string ref = _SpectraRef(s, u.nFirstRun);
    if (u.pSecond != nullptr) ref += "|" + _SpectraRef(*u.pSecond, u.nSecondRun);
    const size_t shown = std::min(res.vPeptides.size(), TableRows(m_cond));
    if (shown == 0) {
        out += "COM\tno PSM for " + ref + " (" + Clean(s.m_strTitle) + "): " + StatusName(res.eStatus) + "\n";
        return;
    }
    const std::string rt = s.m_lfRetentionTime >= 0 ? Number("%.3f", s.m_lfRetentionTime) : "null";
    const std::string exp = Number("%.6f", mass::MzOfMH(s.m_lfPrecursorMH, s.m_nCharge));
    const std::string engine = std::string("[, , Vemra+, ") + VEMRA_VERSION + "]";
    std::string proforma;
    for (size_t k = 0; k < shown; ++k) {
        const CResult& r = res.vPeptides[k];
        proforma.clear();
        AppendPeptide(proforma, r, m_cond, EPeptideText::ProForma);
        const std::string seq = PlainSequence(r, m_cond);
        // Modifications: position (1-based residue, 0 N-terminus, length + 1
        // C-terminus) and name, comma-separated.
        std::string mods;
        auto add = [&mods](size_t pos, const std::string& name) {
            mods += (mods.empty() ? "" : ",") + std::to_string(pos) + "-" + name;
        };
        if (std::fabs(r.lfNTermShift) > kSmallestShift) add(0, ModName(r.lfNTermShift, seq.empty() ? 0 : seq[0]));
        for (size_t p = 0; p < seq.size(); ++p) {
            if (const CVarMod* mod = m_cond.VarMod(r.strPeptide[p]))
                add(mod->bNTerm ? 0 : p + 1, ModName(mod->lfDelta, mod->cResidue));
            const char aa = seq[p];
            if (aa < 'A' || aa > 'Z') continue;
            const double delta = m_cond.m_lfAAMass[aa - 'A'] - CCondition::BuiltInMass(aa);
            if (CCondition::BuiltInMass(aa) > 0.0 && std::fabs(delta) > kModifiedResidue) add(p + 1, ModName(delta, aa));
        }
        if (std::fabs(r.lfCTermShift) > kSmallestShift) add(seq.size() + 1, ModName(r.lfCTermShift, seq.empty() ? 0 : seq.back()));
        // Unique and the same whatever the threads, shards or rows written.
        const long long rows = static_cast<long long>(std::max<size_t>({size_t{1}, TableRows(m_cond), static_cast<size_t>(std::max(0, m_cond.m_nReportPep))}));
        const long long id = u.nRecord * rows + static_cast<long long>(k) + 1;
        out += "PSM\t" + seq + "\t" + std::to_string(id) + "\tnull\tnull\tnull\tnull\t" + engine + "\t" +
               Number("%g", r.lfScore) + "\t" +
               (m_cond.m_pRerankModel ? Number("%g", r.lfConfidence) + "\t" : std::string()) + (mods.empty() ? "null" : mods) + "\t" + rt + "\t" +
               std::to_string(s.m_nCharge) + "\t" + exp + "\t" + Number("%.6f", mass::MzOfMH(ResultMH(r, m_cond), s.m_nCharge)) +
               "\t" + ref + "\tnull\tnull\tnull\tnull\t" + std::to_string(k + 1) + "\t" + proforma + "\t" +
               Clean(s.m_strTitle) + "\t" + (m_cond.m_bConfidence ? Number("%g", r.lfConfidence) : std::string("null")) + "\t" +
               (r.vResidueSides.empty() ? std::string("null") : ResidueScores(r)) + "\n";
    }
}
