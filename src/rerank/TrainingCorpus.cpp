#include "rerank/TrainingCorpus.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "conditions/Condition.h"
#include "input/MGFInput.h"

namespace {

struct CListedSet {
    const char* szName;
    EFragmentKind eFragmentation;
    double lfTol;
    double lfLabelWeight;
};

constexpr EFragmentKind HCD = EFragmentKind::HCD;
constexpr EFragmentKind CID = EFragmentKind::CID;
constexpr EFragmentKind ETD = EFragmentKind::ETD;
constexpr double kHigh = CTrainingCorpus::kHighResTol;
constexpr double kQtof = CTrainingCorpus::kQtofTol;
constexpr double kLow = CTrainingCorpus::kLowResTol;
// Labels found with 1-3 Da precursor windows are less certain than those
// of the 20 ppm searches: they count half.
constexpr double kWide = 0.5;

// The sets of the shared training corpus: instrument and search settings
// as their sources record them. Beam-type collisions on a Q-TOF count as
// HCD (their spectra look like it); MALDI TOF/TOF as CID.
constexpr CListedSet kListedSets[] = {
    {"annsolo_hek293t_qe_hcd", HCD, kHigh, 1},
    {"crux_yeast_ltq_lowres", CID, kLow, kWide},
    {"denovobench_qeplus_human_hcd", HCD, kHigh, 1},
    {"denovogui_ecoli", CID, kLow, kWide},
    {"flashlfq_jurkat_velos_hcd", HCD, kHigh, 1},
    {"galaxyp_bsa_ltqorbixl_cid", CID, kLow, 1},
    {"galaxyp_morpheus_yeast_hcd", HCD, kHigh, 1},
    {"galaxyp_tmt_qexactive_hcd", HCD, kHigh, 1},
    {"galaxyp_yeast_etd_iontrap", ETD, kLow, 1},
    {"gleams_massivekb_ref_hcd", HCD, kHigh, 1},
    {"identipy_ups2_maxis_qtof", HCD, kQtof, 1},
    {"mm_hek293_velos_hcd", HCD, kHigh, 1},
    {"mm_hela3_velos_hcd", HCD, kHigh, 1},
    {"mm_mouse_velos_hcd", HCD, kHigh, 1},
    {"mm_qc_02ng_hcd", HCD, kHigh, 1},
    {"mm_sliced_raw_velos_hcd", HCD, kHigh, 1},
    {"mm_xl_ribosome_qe_hcd", HCD, kHigh, 1},
    {"mouse_tmt_ms2_cid", CID, kLow, 1},
    {"mpa_batch_bruker", CID, kLow, kWide},
    {"mpa_ecoli_bruker", CID, kLow, kWide},
    {"mpa_maldi_tof", CID, kLow, 1},
    {"msftbx_qexactive_hcd", HCD, kHigh, 1},
    {"msnbase_itraq_erwinia", HCD, kHigh, 1},
    {"openms_bsa_ltqorbixl_cid", CID, kLow, 1},
    {"openms_fusion_hcd", HCD, kHigh, 1},
    {"pepnet_human_hcd", HCD, kHigh, 1},
    {"percolator_small_ms2", CID, kLow, 1},
    {"proteometools_pool1_lumos_hcd", HCD, kHigh, 1},
    {"spectracluster_pride_clusters", CID, kLow, kWide},
    {"spectracluster_proteometools_hcd", HCD, kHigh, 1},
    {"tsarseqnovo_yeast_hcd", HCD, kHigh, 1},
    {"ursgal_creinhardtii_qe_hcd", HCD, kHigh, 1},
};

// Reads "[+12.3]" at pos (moved past it).
bool ReadDelta(const std::string& text, size_t& pos, double& delta) {
    if (pos >= text.size() || text[pos] != '[') return false;
    const size_t close = text.find(']', pos);
    if (close == std::string::npos || close == pos + 1) return false;
    const std::string inner = text.substr(pos + 1, close - pos - 1);
    if (inner[0] != '+' && inner[0] != '-') return false;
    char* end = nullptr;
    errno = 0;
    delta = std::strtod(inner.c_str(), &end);
    if (end != inner.c_str() + inner.size() || !std::isfinite(delta) || errno == ERANGE) return false;
    pos = close + 1;
    return true;
}

bool ReadText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Distance from mz to the nearest peak of s (infinite without peaks).
double NearestPeak(const CCorpusSpectrum& s, double mz) {
    const auto it = std::lower_bound(s.vMz.begin(), s.vMz.end(), mz);
    double best = HUGE_VAL;
    if (it != s.vMz.end()) best = *it - mz;
    if (it != s.vMz.begin()) best = std::min(best, mz - *(it - 1));
    return best;
}

}  // namespace

bool CTrainingCorpus::ParsePeptide(const std::string& text, CLabelledPeptide& out) {
    out = CLabelledPeptide();
    size_t pos = 0;
    if (pos < text.size() && text[pos] == '[') {
        if (!ReadDelta(text, pos, out.lfNTermDelta) || pos >= text.size() || text[pos] != '-') return false;
        ++pos;
    }
    while (pos < text.size()) {
        const char c = text[pos];
        if (c >= 'A' && c <= 'Z' && (CCondition::BuiltInMass(c) > 0.0 || c == 'I')) {
            out.strResidues += c;
            out.vDeltas.push_back(0.0);
            ++pos;
            double d = 0.0;
            while (pos < text.size() && text[pos] == '[') {
                if (!ReadDelta(text, pos, d)) return false;
                out.vDeltas.back() += d;
            }
        } else if (c == '-' && !out.strResidues.empty()) {
            ++pos;
            double d = 0.0;
            if (!ReadDelta(text, pos, d) || pos != text.size()) return false;
            out.vDeltas.back() += d;
        } else {
            return false;
        }
    }
    return !out.strResidues.empty();
}

bool CTrainingCorpus::ListedProfile(const std::string& name, CCorpusSet& set) {
    for (const CListedSet& l : kListedSets)
        if (name == l.szName) {
            set.eFragmentation = l.eFragmentation;
            set.lfFragmentTol = l.lfTol;
            set.lfLabelWeight = l.lfLabelWeight;
            set.bListed = true;
            return true;
        }
    return false;
}

void CTrainingCorpus::InferProfile(CCorpusSet& set) {
    // Nearest-peak distances of the singly charged ions of each family.
    std::vector<double> errors[2];
    std::vector<double> mz;
    for (const CCorpusSpectrum& s : set.vSpectra) {
        const CLabelledPeptide& p = s.peptide;
        const int length = static_cast<int>(p.strResidues.size());
        mz.resize(static_cast<size_t>(CFragmentModel::IonCount(length)));
        for (int family = 0; family < 2; ++family) {
            const int n = CFragmentModel::FragmentMz(p.strResidues.data(), p.vDeltas.data(), length, p.lfNTermDelta,
                                                     family ? EFragmentKind::ETD : EFragmentKind::HCD, mz.data());
            for (int i = 0; i < n; i += CFragmentModel::kKinds)
                for (int k : {0, 2}) {
                    const double d = NearestPeak(s, mz[static_cast<size_t>(i + k)]);
                    if (d <= kLowResTol) errors[family].push_back(d);
                }
        }
    }
    // Chance peaks lie as often near either family's masses: the family
    // with clearly more peaks within the low-resolution window is the
    // spectra's own.
    const bool etd = static_cast<double>(errors[1].size()) > 1.2 * static_cast<double>(errors[0].size());
    std::vector<double>& e = errors[etd ? 1 : 0];
    double quartile = kLowResTol;
    if (!e.empty()) {
        // A quarter of the matched ions are real matches in any usable
        // spectrum: their distance is the instrument's accuracy.
        const size_t q = e.size() / 4;
        std::nth_element(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(q), e.end());
        quartile = e[q];
    }
    set.lfFragmentTol = quartile < 0.006 ? kHighResTol : quartile < 0.02 ? kQtofTol : kLowResTol;
    set.eFragmentation = etd ? EFragmentKind::ETD
                             : set.lfFragmentTol >= kLowResTol ? EFragmentKind::CID : EFragmentKind::HCD;
    set.lfLabelWeight = 1.0;
    set.bListed = false;
}

void CTrainingCorpus::MatchIons(const CCorpusSpectrum& s, const double* mz, int n, double tol, double* out) {
    for (int i = 0; i < n; ++i) {
        auto it = std::lower_bound(s.vMz.begin(), s.vMz.end(), mz[i] - tol);
        float best = 0.0f;
        for (; it != s.vMz.end() && *it <= mz[i] + tol; ++it)
            best = std::max(best, s.vIntensity[static_cast<size_t>(it - s.vMz.begin())]);
        out[i] = best;
    }
}

bool CTrainingCorpus::LoadSet(const std::string& folder, const std::string& name, CCorpusSet& out,
                              std::string& error) {
    out = CCorpusSet();
    out.strName = name;
    std::string truthText;
    if (!ReadText(folder + "/truth.tsv", truthText)) {
        error = "cannot read " + folder + "/truth.tsv: " + std::strerror(errno);
        return false;
    }
    std::map<std::string, std::string> truth;
    size_t start = 0;
    while (start < truthText.size()) {
        size_t end = truthText.find('\n', start);
        if (end == std::string::npos) end = truthText.size();
        std::string line = truthText.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const size_t tab2 = line.find('\t', tab + 1);
        truth.emplace(line.substr(0, tab), line.substr(tab + 1, tab2 == std::string::npos ? tab2 : tab2 - tab - 1));
    }
    CMGFInput reader;
    const std::string mgf = folder + "/labelled.mgf";
    const unsigned int count = reader.Count(mgf);
    std::vector<CSpectrum> spectra;
    spectra.reserve(count);
    reader.Browse(spectra, CInput::ALL);
    reader.Close();
    if (reader.Failed()) {
        error = "cannot read " + mgf;
        return false;
    }
    std::map<std::string, int> copies;
    std::vector<std::string> keys;
    for (const CSpectrum& in : spectra) {
        const auto it = truth.find(in.m_strTitle);
        CCorpusSpectrum s;
        if (it == truth.end() || !ParsePeptide(it->second, s.peptide) || in.m_nCharge < 1 ||
            CFragmentModel::IonCount(static_cast<int>(s.peptide.strResidues.size())) == 0) {
            ++m_nSkipped;
            continue;
        }
        s.strTitle = in.m_strTitle;
        s.nCharge = in.m_nCharge;
        s.lfPrecursorMH = in.m_lfPrecursorMH;
        std::vector<size_t> order;
        for (size_t i = 0; i < in.m_vPeaks.size(); ++i)
            if (in.m_vPeaks[i].lfIntensity > 0.0) order.push_back(i);
        std::sort(order.begin(), order.end(), [&in](size_t a, size_t b) {
            const CPeak &x = in.m_vPeaks[a], &y = in.m_vPeaks[b];
            return x.lfMz != y.lfMz ? x.lfMz < y.lfMz : x.lfIntensity < y.lfIntensity;
        });
        double top = 0.0;
        for (size_t i : order) top = std::max(top, in.m_vPeaks[i].lfIntensity);
        for (size_t i : order) {
            s.vMz.push_back(in.m_vPeaks[i].lfMz);
            s.vIntensity.push_back(static_cast<float>(in.m_vPeaks[i].lfIntensity / top));
        }
        keys.push_back(it->second + "/" + std::to_string(s.nCharge));
        ++copies[keys.back()];
        out.vSpectra.push_back(std::move(s));
    }
    if (!ListedProfile(name, out)) InferProfile(out);
    // A peptide measured many times (single-protein digests) would
    // otherwise teach its own pattern as the rule.
    for (size_t i = 0; i < out.vSpectra.size(); ++i)
        out.vSpectra[i].lfWeight = out.lfLabelWeight / std::sqrt(static_cast<double>(copies[keys[i]]));
    return true;
}

bool CTrainingCorpus::Load(const std::string& folder, std::string& error) {
    m_vSets.clear();
    m_nSkipped = 0;
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path p = it->path();
        if (std::filesystem::is_regular_file(p / "labelled.mgf") && std::filesystem::is_regular_file(p / "truth.tsv"))
            names.push_back(p.filename().string());
    }
    if (ec) {
        error = "cannot list " + folder + ": " + ec.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        CCorpusSet set;
        if (!LoadSet(folder + "/" + name, name, set, error)) return false;
        m_vSets.push_back(std::move(set));
    }
    if (m_vSets.empty()) {
        error = folder + " holds no set (a folder with labelled.mgf and truth.tsv)";
        return false;
    }
    return true;
}

size_t CTrainingCorpus::SpectrumCount() const {
    size_t n = 0;
    for (const CCorpusSet& s : m_vSets) n += s.vSpectra.size();
    return n;
}
