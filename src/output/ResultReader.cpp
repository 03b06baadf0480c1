#include "output/ResultReader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Console.h"

namespace {

// Columns the table readers look for, by role.
enum ETsvColumn { kTsvTitle, kTsvRank, kTsvProForma, kTsvPeptide, kTsvScore, kTsvConfidence, kTsvFile, kTsvIndex,
                  kTsvPairedIndex, kTsvColumns };
const char* const kTsvNames[kTsvColumns] = {"title", "rank", "proforma", "peptide", "score", "confidence",
                                            "file", "spectrum_index", "paired_index"};
enum EMzTabColumn { kMzSequence, kMzScore, kMzScore2, kMzRef, kMzRank, kMzProForma, kMzTitle, kMzConfidence,
                    kMzColumns };
const char* const kMzNames[kMzColumns] = {"sequence", "search_engine_score[1]", "search_engine_score[2]",
                                          "spectra_ref", "opt_global_rank", "opt_global_proforma",
                                          "opt_global_title", "opt_global_confidence"};

constexpr const char* kTsvHeaderStart = "file\tspectrum_index\t";
constexpr const char* kNoPsm = "COM\tno PSM for ";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Splits at tabs into fields (reusing its strings). Native lines end in a
// tab that closes the last field (trailingTab); in the tables an empty last
// cell is a field.
void Split(const std::string& line, std::vector<std::string>& fields, bool trailingTab) {
    size_t n = 0, start = 0;
    while (start <= line.size()) {
        size_t tab = line.find('\t', start);
        if (tab == std::string::npos) tab = line.size();
        if (trailingTab && start == line.size() && n > 0) break;
        if (fields.size() <= n) fields.emplace_back();
        fields[n++].assign(line, start, tab - start);
        start = tab + 1;
    }
    fields.resize(n);
}

// Result files hold millions of short decimals ("35.2718", "0.5"): those
// are converted directly, the rest by strtod. A mantissa below 2^53 divided
// by an exact power of ten is one correctly rounded division, so the value
// is the same bits strtod gives.
bool Number(const std::string& text, double& value) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (text.empty()) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    long long mantissa = 0;
    int digits = 0, decimals = 0;
    bool point = false, simple = i < text.size();
    for (; i < text.size() && simple; ++i) {
        const char ch = text[i];
        if (ch >= '0' && ch <= '9') {
            mantissa = mantissa * 10 + (ch - '0');
            decimals += point;
            simple = ++digits <= 15;
        } else {
            simple = ch == '.' && !point;
            point = true;
        }
    }
    if (simple && digits > 0) {
        value = static_cast<double>(mantissa) / kPow10[decimals];
        if (text[0] == '-') value = -value;
        return true;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

bool Integer(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') return false;
        value = value * 10 + (ch - '0');
    }
    return true;
}

bool Rank(const std::string& text, int& rank) {
    long long v = 0;
    if (!Integer(text, v) || v < 1 || v > 1000000000) return false;
    rank = static_cast<int>(v);
    return true;
}

bool CommaNumbers(const std::string& text, std::vector<double>& out) {
    out.clear();
    out.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), ',')) + 1);
    size_t start = 0;
    std::string item;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        double v = 0.0;
        item.assign(text, start, comma - start);
        if (!Number(item, v)) return false;
        out.push_back(v);
        start = comma + 1;
    }
    return true;
}

EResultFormat FromFirstLine(const std::string& line) {
    // A native file may begin with a stray candidate line (a file cut at the
    // front); it is still one, and the line is reported.
    if (line.size() >= 2 && (line[0] == 'S' || line[0] == 'P') && line[1] >= '0' && line[1] <= '9')
        return EResultFormat::Native;
    if (StartsWith(line, kTsvHeaderStart)) return EResultFormat::Tsv;
    for (const char* tag : {"MTD\t", "PSH\t", "PSM\t", "COM\t"})
        if (StartsWith(line, tag)) return EResultFormat::MzTab;
    return EResultFormat::Unknown;
}

EResultFormat FromName(const std::string& name) {
    std::string ext = std::filesystem::path(name).extension().string();
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (ext == ".txt") return EResultFormat::Native;
    if (ext == ".tsv") return EResultFormat::Tsv;
    if (ext == ".mztab") return EResultFormat::MzTab;
    return EResultFormat::Unknown;
}

const std::string& Cell(const std::vector<std::string>& fields, int column) {
    static const std::string kEmpty;
    return column >= 0 && static_cast<size_t>(column) < fields.size() ? fields[static_cast<size_t>(column)] : kEmpty;
}

}  // namespace

void CResultReader::_Problem(const std::string& what) {
    m_vProblems.push_back(m_strName + ":" + std::to_string(m_nLine) + ": " + what + "; the line is skipped");
    if (m_bReport && m_vProblems.size() <= kMaxReported) console::Warning() << m_vProblems.back();
}

bool CResultReader::_Flush() {
    if (!m_bInRecord) return true;
    m_bInRecord = false;
    const bool more = (*m_pEach)(m_record);
    // Cleared rather than replaced: the next record reuses the list's room
    // (unless the caller took the record away).
    m_record.strTitle.clear();
    m_record.nRecord = -1;
    m_record.strAnswer.clear();
    m_record.vPeptides.clear();
    return more;
}

bool CResultReader::_NativeLine(const std::string& line) {
    if (line.empty()) return _Flush();  // a blank line ends the record
    Split(line, m_vFields, true);
    const std::vector<std::string>& f = m_vFields;
    if (line[0] == 'S') {
        if (!_Flush()) return false;
        long long number = 0;
        if (f.size() < 2 || !Integer(f[0].substr(1), number)) {
            _Problem("a record header is S<number><TAB>title");
            return true;
        }
        m_record.strTitle = f[1];
        m_record.nRecord = number;
        if (f.size() > 2) m_record.strAnswer = f[2];
        m_bInRecord = true;
        return true;
    }
    if (line[0] != 'P') {
        _Problem("neither a record header (S<number>) nor a candidate line (P<rank>)");
        return true;
    }
    if (!m_bInRecord) {
        _Problem("a candidate line outside a record");
        return true;
    }
    CResultPeptide p;
    if (f.size() < 3 || !Rank(f[0].substr(1), p.nRank) || f[1].empty() || !Number(f[2], p.lfScore)) {
        _Problem("a candidate line is P<rank><TAB>peptide<TAB>score");
        return true;
    }
    p.strPeptide = f[1];
    // After the score: the confidence and the residue confidences, when the
    // run wrote them.
    size_t k = 3;
    if (k < f.size()) {
        p.bConfidence = true;
        if (!Number(f[k], p.lfConfidence) || k + 1 >= f.size() || !CommaNumbers(f[k + 1], p.vResidueConfidences)) {
            _Problem("a confidence is followed by the residue confidences, comma-separated numbers");
            return true;
        }
        k += 2;
    }
    if (k < f.size()) {
        _Problem("unexpected fields after the score");
        return true;
    }
    m_record.vPeptides.push_back(std::move(p));
    return true;
}

bool CResultReader::_TsvLine(const std::string& line) {
    if (line.empty()) return true;
    Split(line, m_vFields, false);
    const std::vector<std::string>& f = m_vFields;
    if (StartsWith(line, kTsvHeaderStart)) {
        // The header names the columns (the confidence column comes and goes
        // with the re-ranking model); tables joined with `cat` repeat it.
        m_vColumn.assign(kTsvColumns, -1);
        for (size_t k = 0; k < f.size(); ++k)
            for (int c = 0; c < kTsvColumns; ++c)
                if (f[k] == kTsvNames[c] && m_vColumn[c] < 0) m_vColumn[c] = static_cast<int>(k);
        m_nColumns = f.size();
        if (m_vColumn[kTsvTitle] < 0 || m_vColumn[kTsvRank] < 0 || m_vColumn[kTsvScore] < 0 ||
            (m_vColumn[kTsvProForma] < 0 && m_vColumn[kTsvPeptide] < 0)) {
            _Problem("the table header lacks title, rank, score or peptide");
            m_vColumn.clear();
        }
        return true;
    }
    if (m_vColumn.empty()) {
        _Problem("a row before the table header");
        return true;
    }
    if (f.size() != m_nColumns) {
        _Problem(std::to_string(f.size()) + " fields where the header has " + std::to_string(m_nColumns));
        return true;
    }
    // Rows of one spectrum are consecutive; a pair is one spectrum.
    std::string key = Cell(f, m_vColumn[kTsvFile]) + '\t' + Cell(f, m_vColumn[kTsvIndex]) + '\t' +
                      Cell(f, m_vColumn[kTsvTitle]) + '\t' + Cell(f, m_vColumn[kTsvPairedIndex]);
    const std::string& rank = Cell(f, m_vColumn[kTsvRank]);
    CResultPeptide p;
    if (!rank.empty()) {
        const std::string& proforma = Cell(f, m_vColumn[kTsvProForma]);
        p.strPeptide = proforma.empty() ? Cell(f, m_vColumn[kTsvPeptide]) : proforma;
        const std::string& confidence = Cell(f, m_vColumn[kTsvConfidence]);
        p.bConfidence = !confidence.empty();
        if (!Rank(rank, p.nRank) || p.strPeptide.empty() || !Number(Cell(f, m_vColumn[kTsvScore]), p.lfScore) ||
            (p.bConfidence && !Number(confidence, p.lfConfidence))) {
            _Problem("a candidate row needs a rank, a peptide and a numeric score");
            return true;
        }
    }
    if (!m_bInRecord || key != m_strGroupKey) {
        if (!_Flush()) return false;
        m_strGroupKey = std::move(key);
        m_record.strTitle = Cell(f, m_vColumn[kTsvTitle]);
        m_bInRecord = true;
    }
    if (!rank.empty()) m_record.vPeptides.push_back(std::move(p));
    return true;
}

bool CResultReader::_MzTabLine(const std::string& line) {
    if (line.empty() || StartsWith(line, "MTD\t")) return true;
    auto null = [](const std::string& s) { return s.empty() || s == "null"; };
    if (StartsWith(line, "COM\t")) {
        // "COM<TAB>no PSM for REF (TITLE): STATUS" stands for a spectrum
        // without a candidate; other comments are comments.
        if (!StartsWith(line, kNoPsm)) return true;
        const size_t open = line.find(" (", std::strlen(kNoPsm));
        const size_t close = line.rfind("): ");
        if (open == std::string::npos || close == std::string::npos || close < open) {
            _Problem("a spectrum without a PSM is COM<TAB>no PSM for REF (TITLE): STATUS");
            return true;
        }
        if (!_Flush()) return false;
        const std::string title = line.substr(open + 2, close - open - 2);
        m_record.strTitle = title == "null" ? std::string() : title;
        m_strGroupKey.clear();
        m_bInRecord = true;
        return _Flush();
    }
    const bool header = StartsWith(line, "PSH\t"), row = StartsWith(line, "PSM\t");
    if (!header && !row) {
        // The other sections of mzTab (proteins, peptides, small molecules)
        // say nothing about spectra.
        for (const char* tag : {"PRH\t", "PRT\t", "PEH\t", "PEP\t", "SMH\t", "SML\t"})
            if (StartsWith(line, tag)) return true;
        _Problem("not an mzTab line (MTD, PSH, PSM or COM)");
        return true;
    }
    Split(line, m_vFields, false);
    const std::vector<std::string>& f = m_vFields;
    if (header) {
        m_vColumn.assign(kMzColumns, -1);
        for (size_t k = 0; k < f.size(); ++k)
            for (int c = 0; c < kMzColumns; ++c)
                if (f[k] == kMzNames[c] && m_vColumn[c] < 0) m_vColumn[c] = static_cast<int>(k);
        m_nColumns = f.size();
        if (m_vColumn[kMzSequence] < 0 || m_vColumn[kMzScore] < 0 || m_vColumn[kMzRef] < 0) {
            _Problem("the PSH header lacks sequence, search_engine_score[1] or spectra_ref");
            m_vColumn.clear();
        }
        return true;
    }
    if (m_vColumn.empty()) {
        _Problem("a PSM row before the PSH header");
        return true;
    }
    if (f.size() != m_nColumns) {
        _Problem(std::to_string(f.size()) + " fields where the PSH header has " + std::to_string(m_nColumns));
        return true;
    }
    const std::string& title = Cell(f, m_vColumn[kMzTitle]);
    std::string key = Cell(f, m_vColumn[kMzRef]) + '\t' + title;
    CResultPeptide p;
    const std::string& proforma = Cell(f, m_vColumn[kMzProForma]);
    p.strPeptide = null(proforma) ? Cell(f, m_vColumn[kMzSequence]) : proforma;
    // The confidence column is written with confidence=1, the second score
    // with a re-ranking model; both hold the same value.
    const std::string& confidence = null(Cell(f, m_vColumn[kMzConfidence])) ? Cell(f, m_vColumn[kMzScore2])
                                                                            : Cell(f, m_vColumn[kMzConfidence]);
    p.bConfidence = !null(confidence);
    const std::string& rank = Cell(f, m_vColumn[kMzRank]);
    const bool sameSpectrum = m_bInRecord && key == m_strGroupKey;
    if (null(rank)) p.nRank = static_cast<int>(sameSpectrum ? m_record.vPeptides.size() + 1 : 1);
    if ((!null(rank) && !Rank(rank, p.nRank)) || null(p.strPeptide) ||
        !Number(Cell(f, m_vColumn[kMzScore]), p.lfScore) || (p.bConfidence && !Number(confidence, p.lfConfidence))) {
        _Problem("a PSM row needs a sequence and a numeric score");
        return true;
    }
    if (!sameSpectrum) {
        if (!_Flush()) return false;
        m_strGroupKey = std::move(key);
        m_record.strTitle = null(title) ? std::string() : title;
        m_bInRecord = true;
    }
    m_record.vPeptides.push_back(std::move(p));
    return true;
}

bool CResultReader::_ReadStream(std::istream& in, const std::string& name,
                                const std::function<bool(CResultRecord&)>& each, std::string& error) {
    m_vProblems.clear();
    m_strName = name;
    m_nLine = 0;
    m_pEach = &each;
    m_record = CResultRecord();
    m_bInRecord = false;
    m_strGroupKey.clear();
    m_vColumn.clear();
    m_nColumns = 0;
    m_eFormat = EResultFormat::Unknown;
    std::string line;
    bool more = true;
    while (more && std::getline(in, line)) {
        ++m_nLine;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (m_nLine == 1) {
            if (StartsWith(line, "\xEF\xBB\xBF")) line.erase(0, 3);  // a byte-order mark from an editor
            m_eFormat = FromFirstLine(line);
            // A first line that says nothing: the name decides; a native
            // file's damaged first line is then reported like any other.
            if (m_eFormat == EResultFormat::Unknown) m_eFormat = FromName(name);
            if (m_eFormat == EResultFormat::Unknown) {
                error = name + " is not a result file: its first line is neither a native record header "
                               "(S<number>), the table header (file, spectrum_index, ...) nor mzTab (MTD)";
                return false;
            }
        }
        if (m_eFormat == EResultFormat::Native) more = _NativeLine(line);
        else if (m_eFormat == EResultFormat::Tsv) more = _TsvLine(line);
        else more = _MzTabLine(line);
    }
    if (more && in.bad()) {
        error = "cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    if (more) _Flush();
    if (m_bReport && m_vProblems.size() > kMaxReported)
        console::Warning() << name << ": " << m_vProblems.size() - kMaxReported << " more malformed lines skipped";
    return true;
}

bool CResultReader::ReadEach(const std::string& path, const std::function<bool(CResultRecord&)>& each,
                             std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "cannot read " + path + ": it is a folder";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    return _ReadStream(in, path, each, error);
}

bool CResultReader::Read(const std::string& path, std::vector<CResultRecord>& out, std::string& error) {
    return ReadEach(path, [&out](CResultRecord& r) { out.push_back(std::move(r)); return true; }, error);
}

bool CResultReader::ReadText(const std::string& text, std::vector<CResultRecord>& out, std::string& error,
                             const std::string& name) {
    std::istringstream in(text);
    return _ReadStream(in, name, [&out](CResultRecord& r) { out.push_back(std::move(r)); return true; }, error);
}
