#pragma once
// Reads what a run wrote back into one record per spectrum, whatever the
// format: the native result file (NAME.txt), the tab-separated table
// (NAME.tsv) or the mzTab file (NAME.mztab). The format is recognised from
// the first line (a native header "S<n>", the table header "file<TAB>
// spectrum_index...", an mzTab "MTD" line), so a renamed file reads the same;
// only a first line that says nothing (a file that starts with a blank line)
// falls back on the name's extension.
//
// Every reader of result files (evaluate, annotate, the tests) goes through
// here, so the formats are parsed in one place.
//
// Malformed lines are skipped and reported as "NAME:LINE: what" (kept in
// m_vProblems; the first kMaxReported also go to stderr as [warning] lines
// when m_bReport is set). A file that cannot be opened or read is an error:
// the call returns false with the reason in `error`.
//
// Records come in file order and are delivered one at a time by ReadEach,
// so a result file of millions of spectra needs the memory of one record;
// Read and ReadText collect them all. Not thread-safe: one reader per thread.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// One candidate line as written.
struct CResultPeptide {
    int nRank = 0;                  // 1 = best
    // The peptide as the file writes it: residue letters with mass deltas
    // ("M[+15.995]", "[+42.011]-A"), the native file's terminal marks "n"/"c";
    // the tables give their ProForma column (deltas against the built-in
    // masses, so carbamidomethyl C is "C[+57.0215]" there and "C" in the
    // native file).
    std::string strPeptide;
    double lfScore = 0.0;           // the matching score
    bool bConfidence = false;       // the file gives a confidence for this line
    double lfConfidence = 0.0;      // 0..1
    std::vector<double> vResidueConfidences;  // one per residue (native file only); empty: not given
};

// One spectrum's record: a spectrum without a written candidate has one
// with no peptides (the native file's empty record, the table's status row,
// mzTab's "COM no PSM" line).
struct CResultRecord {
    std::string strTitle;           // as written (tabs and line ends were written as blanks)
    long long nRecord = -1;         // the native "S<n>" number; -1: the format does not give it
    std::string strAnswer;          // native: the known answer on the header line; empty: none
    std::vector<CResultPeptide> vPeptides;  // in file order (rank order)
};

enum class EResultFormat { Unknown, Native, Tsv, MzTab };

class CResultReader {
public:
    // Reported problems beyond this many are only counted on stderr.
    static constexpr size_t kMaxReported = 10;

    // Calls each(record) for every record in file order; each may return
    // false to stop early (no error). False, with the reason, when the file
    // cannot be opened or read, or its format is not recognised.
    bool ReadEach(const std::string& path, const std::function<bool(CResultRecord&)>& each, std::string& error);
    // Every record of the file, appended to out.
    bool Read(const std::string& path, std::vector<CResultRecord>& out, std::string& error);
    // The same for a text in memory; name stands for the file in problems.
    bool ReadText(const std::string& text, std::vector<CResultRecord>& out, std::string& error,
                  const std::string& name = "text");

    // The format of the last file read.
    EResultFormat Format() const { return m_eFormat; }

    bool m_bReport = true;                 // also write problems to stderr
    std::vector<std::string> m_vProblems;  // "NAME:LINE: what", every problem of the last read

private:
    bool _ReadStream(std::istream& in, const std::string& name, const std::function<bool(CResultRecord&)>& each,
                     std::string& error);
    void _Problem(const std::string& what);
    // One line of each format; false: the caller stops.
    bool _NativeLine(const std::string& line);
    bool _TsvLine(const std::string& line);
    bool _MzTabLine(const std::string& line);
    // Hands the record in hand to the caller (when there is one).
    bool _Flush();

    EResultFormat m_eFormat = EResultFormat::Unknown;
    std::string m_strName;
    long long m_nLine = 0;
    const std::function<bool(CResultRecord&)>* m_pEach = nullptr;
    CResultRecord m_record;
    bool m_bInRecord = false;
    std::string m_strGroupKey;                   // tables: the spectrum of the record in hand
    std::vector<int> m_vColumn;                  // tables: field index of each wanted column, -1 absent
    size_t m_nColumns = 0;                       // tables: fields of the header
    std::vector<std::string> m_vFields;          // the line in hand, split at tabs
};
