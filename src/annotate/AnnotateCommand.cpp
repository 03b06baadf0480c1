#include "annotate/AnnotateCommand.h"

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "annotate/AnnotationSvg.h"
#include "annotate/Annotator.h"
#include "common/Console.h"
#include "common/Masses.h"
#include "conditions/Condition.h"
#include "input/ReaderFactory.h"
#include "output/ResultReader.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The parameters: the given file, or the recommended settings through a
// scratch file (the conditions read files only).
bool ReadConditions(const CAnnotateOptions& o, const std::string& defaults, CCondition& c) {
    std::string path = o.strParam;
    if (path.empty()) {
        path = (fs::temp_directory_path() / ("vemra-annotate-" + std::to_string(getpid()) + ".param")).string();
        // One thread: the picture needs none, and the note about using
        // every core would only puzzle.
        std::string text = defaults;
        const size_t at = text.find("\nthread=");
        if (at != std::string::npos) text.replace(at, text.find('\n', at + 1) - at, "\nthread=1");
        std::ofstream(path, std::ios::binary) << text;
    }
    bool ok = false;
    try {
        ok = c.Read(path) && c.m_nParamErrors == 0;
        if (!ok) console::Error() << path << " has errors (see above)";
    } catch (const std::runtime_error& e) {
        console::Error() << e.what();
    }
    std::error_code ec;
    if (o.strParam.empty()) fs::remove(path, ec);
    return ok;
}

// The candidate of the given rank in the record of the title.
bool PeptideFromResults(const CAnnotateOptions& o, std::string& peptide) {
    CResultReader reader;
    std::string error;
    bool found = false, ranked = false;
    const bool read = reader.ReadEach(o.strResults, [&](CResultRecord& r) {
        if (r.strTitle != o.strTitle) return true;
        found = true;
        for (const CResultPeptide& p : r.vPeptides) {
            if (p.nRank != o.nRank) continue;
            peptide = p.strPeptide;
            ranked = true;
            return false;
        }
        return true;  // a later record of the same title may have the rank
    }, error);
    if (!read) {
        console::Error() << error;
        return false;
    }
    if (!ranked) {
        console::Error() << o.strResults << (found ? " has no candidate of rank " + std::to_string(o.nRank) + " for "
                                                   : " has no record of the spectrum ")
                         << "\"" << o.strTitle << "\"";
    }
    return ranked;
}

bool FindSpectrum(const CAnnotateOptions& o, CSpectrum& out) {
    const std::string type = SpectrumTypeOf(o.strSpectra);
    std::unique_ptr<CInput> reader = MakeReader(type);
    if (!reader) {
        console::Error() << "cannot tell the spectrum format of " << o.strSpectra
                         << " from its name (.mgf, .ms2, .mzML, .mzXML, .gz, or a folder of .dta files)";
        return false;
    }
    std::string path = o.strSpectra;
    std::error_code ec;
    if (type == "DTA" && !fs::is_directory(path, ec)) path = fs::path(path).parent_path().string();
    if (type == "DTA" && path.empty()) path = ".";
    reader->Count(path);
    std::vector<CSpectrum> batch;
    bool found = false;
    // In batches: a large file is searched without holding all of it.
    while (!found) {
        batch.clear();
        if (reader->Browse(batch, 1000) == 0) break;
        for (CSpectrum& s : batch) {
            // The result files write a title's tabs and line ends as blanks.
            std::string title = s.m_strTitle;
            for (char& ch : title)
                if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
            if (title != o.strTitle) continue;
            out = std::move(s);
            found = true;
            break;
        }
    }
    reader->Close();
    if (reader->Failed()) return false;
    if (!found) console::Error() << o.strSpectra << " has no spectrum titled \"" << o.strTitle << "\"";
    return found;
}

std::string Activation(const CAnnotateOptions& o, const CSpectrum& s, const CCondition& c) {
    for (const std::string& given : {o.strActivation, s.m_strActivationRead, c.m_strActivation}) {
        const std::string a = CAnnotator::ActivationOf(given);
        if (!a.empty()) return a;
    }
    return "HCD";
}

}  // namespace

std::string SpectrumTypeOf(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return "DTA";
    std::string name = Lower(fs::path(path).filename().string());
    if (EndsWith(name, ".gz")) name.resize(name.size() - 3);
    if (EndsWith(name, ".mgf")) return "MGF";
    if (EndsWith(name, ".ms2")) return "MS2";
    if (EndsWith(name, ".mzml")) return "mzML";
    if (EndsWith(name, ".mzxml")) return "mzXML";
    if (EndsWith(name, ".dta")) return "DTA";
    return "";
}

int RunAnnotate(const CAnnotateOptions& o, const std::string& defaultParams) {
    CCondition c;
    if (!ReadConditions(o, defaultParams, c)) return 1;
    std::string peptide = o.strPeptide;
    if (peptide.empty() && !PeptideFromResults(o, peptide)) return 1;
    CSpectrum s;
    if (!FindSpectrum(o, s)) return 1;
    if (o.nCharge > 0 && o.nCharge != s.m_nCharge) {
        // The file's m/z stays; the precursor's mass follows the charge.
        const double mz = mass::MzOfMH(s.m_lfPrecursorMH, s.m_nCharge);
        s.m_nCharge = o.nCharge;
        s.m_lfPrecursorMH = mass::MHOfMz(mz, o.nCharge);
    }
    CAnnotator annotator(c);
    CAnnotation a;
    std::string error;
    if (!annotator.Annotate(s, peptide, Activation(o, s, c), o.bLosses, a, error)) {
        console::Error() << "the peptide " << peptide << " cannot be annotated: " << error;
        return 1;
    }
    const double offBy = a.lfPrecursorMH - a.lfPeptideMH;
    if (std::fabs(offBy) > c.CalcPeptideMassDeviation(a.lfPeptideMH))
        console::Warning() << "the peptide's [M+H]+ " << a.lfPeptideMH << " is " << offBy
                           << " Da from the spectrum's precursor (outside pep_tol): a wrong charge or peptide?";
    std::ofstream out(o.strOutput, std::ios::binary);
    out << CAnnotationSvg::Svg(a);
    out.flush();
    if (!out) {
        console::Error() << "cannot write " << o.strOutput;
        return 1;
    }
    console::Info() << peptide << " on " << a.strTitle << " (" << a.strActivation << "): " << a.nMatchedIons
                    << " of " << a.nIons << " fragment ions matched, "
                    << static_cast<int>(std::lround(100.0 * a.lfExplained)) << "% of the intensity explained; "
                    << o.strOutput;
    return 0;
}
