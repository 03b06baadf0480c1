#include "driver/DatasetSummary.h"

#include <cstdio>
#include <sstream>

namespace {

struct CReason {
    const char* szKey;   // JSON and run-log name
    const char* szText;  // console wording
    long long CDatasetSummary::*pCount;
};

const CReason kReasons[] = {
    {"outside_mass_window", "outside the precursor mass window", &CDatasetSummary::nOutsideWindow},
    {"impossible_precursor", "with an impossible charge or precursor", &CDatasetSummary::nBadPrecursor},
    {"no_peaks_after_cleaning", "without peaks after cleaning", &CDatasetSummary::nNoPeaks},
    {"no_candidate", "without a candidate", &CDatasetSummary::nNoCandidate},
    {"failed", "failed (an error inside the engine, see above)", &CDatasetSummary::nFailed},
};

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

void CDatasetSummary::Add(const CDatasetSummary& o) {
    nRead += o.nRead;
    nSequenced += o.nSequenced;
    for (const CReason& r : kReasons) this->*r.pCount += o.*r.pCount;
    lfSeconds += o.lfSeconds;
    nPeaksReduced += o.nPeaksReduced;
    nSkipped += o.nSkipped;
    nPairs += o.nPairs;
    nLoneHcd += o.nLoneHcd;
    nLoneEtd += o.nLoneEtd;
    nRejected += o.nRejected;
    bTrace = bTrace || o.bTrace;
    for (int k = 0; k < kTraceStages; ++k) vTrace[k] += o.vTrace[k];
}

std::string CDatasetSummary::TraceText() const {
    if (!bTrace) return std::string();
    long long known = 0;
    for (const long long n : vTrace) known += n;
    std::ostringstream out;
    out << "trace of " << known << " known peptides:";
    const char* sep = " ";
    for (int k = 0; k < kTraceStages; ++k) {
        if (vTrace[k] == 0) continue;
        out << sep << vTrace[k] << " " << TraceStageName(static_cast<ETraceStage>(k));
        sep = ", ";
    }
    return out.str();
}

std::string CDatasetSummary::Text() const {
    std::ostringstream out;
    out << nRead << " spectra read: " << nSequenced << " sequenced";
    if (NotSequenced() > 0) {
        out << "; not sequenced:";
        const char* sep = " ";
        for (const CReason& r : kReasons) {
            if (this->*r.pCount == 0) continue;
            out << sep << this->*r.pCount << " " << r.szText;
            sep = ", ";
        }
    }
    if (!strPairing.empty()) {
        out << "; paired by " << strPairing << ": " << nPairs << " pairs, " << nLoneHcd << " HCD and " << nLoneEtd
            << " ETD spectra alone";
        if (nRejected > 0) out << " (" << nRejected << " positional pairs rejected: their precursors disagree)";
    }
    if (nSkipped > 0) out << "; " << nSkipped << " damaged spectra skipped";
    if (nPeaksReduced > 0) out << "; " << nPeaksReduced << " spectra reduced to max_peaks peaks";
    return out.str();
}

std::string CDatasetSummary::LogLine() const {
    std::ostringstream out;
    out << "dataset=" << strDataset << "\tread=" << nRead << "\tsequenced=" << nSequenced;
    for (const CReason& r : kReasons) out << "\t" << r.szKey << "=" << this->*r.pCount;
    if (!strPairing.empty())
        out << "\tpairs=" << nPairs << "\tlone_hcd=" << nLoneHcd << "\tlone_etd=" << nLoneEtd << "\trejected_pairs=" << nRejected;
    return out.str();
}

std::string CDatasetSummary::Json() const {
    std::ostringstream out;
    out << "{\n  \"version\": " << JsonString(VEMRA_VERSION) << ",\n  \"dataset\": " << JsonString(strDataset) << ",\n  \"result_file\": " << JsonString(strResultFile)
        << ",\n  \"mode\": " << JsonString(strMode) << ",\n  \"spectra_read\": " << nRead
        << ",\n  \"sequenced\": " << nSequenced << ",\n  \"not_sequenced\": {";
    const char* sep = "\n";
    for (const CReason& r : kReasons) {
        out << sep << "    " << JsonString(r.szKey) << ": " << this->*r.pCount;
        sep = ",\n";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", lfSeconds);
    out << "\n  },\n  \"damaged_skipped\": " << nSkipped << ",\n  \"peaks_reduced\": " << nPeaksReduced << ",\n";
    if (!strPairing.empty())
        out << "  \"pairing\": {\n    \"method\": " << JsonString(strPairing) << ",\n    \"pairs\": " << nPairs
            << ",\n    \"lone_hcd\": " << nLoneHcd << ",\n    \"lone_etd\": " << nLoneEtd
            << ",\n    \"rejected_pairs\": " << nRejected << "\n  },\n";
    if (bTrace) {
        out << "  \"trace\": {";
        sep = "\n";
        for (int k = 0; k < kTraceStages; ++k) {
            out << sep << "    " << JsonString(TraceStageName(static_cast<ETraceStage>(k))) << ": " << vTrace[k];
            sep = ",\n";
        }
        out << "\n  },\n";
    }
    out << "  \"seconds\": " << seconds << "\n}\n";
    return out.str();
}
