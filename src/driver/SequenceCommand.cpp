#include "driver/SequenceCommand.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/Console.h"
#include "conditions/OptionTool.h"
#include "driver/ParamTemplate.h"
#include "driver/denovo.h"
#include "input/ReaderFactory.h"

namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The spectrum type of one file: from its name, checked against its first
// bytes; "" after an error line.
std::string TypeOf(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        console::Error() << "cannot open " << path << ": no such file or folder";
        return "";
    }
    const std::string named = SpectrumTypeOfName(path);
    if (named.empty()) {
        console::Error() << "cannot tell the format of " << path
                         << " from its name: give it one of .mgf, .mzML, .mzML.gz, .mzXML, .mzXML.gz, .ms2, or a "
                            "folder of .dta files";
        return "";
    }
    if (named == "DTA") return named;
    const std::string held = SpectrumTypeOfContent(path);
    const bool compressed = EndsWith(Lower(path), ".gz");
    const bool agrees = held == named || (compressed && held == "gzip") || (held.empty() && named == "MS2");
    if (!agrees) {
        console::Error() << path << " is named as " << named << " but holds "
                         << (held.empty() ? std::string("no spectra of that format")
                             : held == "gzip" ? std::string("gzip-compressed data (name it .gz)")
                                              : held)
                         << "; check the file";
        return "";
    }
    return named;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open the parameter file " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Where -o sends the results; false (after an error line) when it names
// neither a folder nor a table.
bool PlanOutput(const CSequenceOptions& o, size_t datasets, COutputPlan& plan, std::string& format) {
    std::error_code ec;
    const std::string& out = o.strOutput;
    plan.bTimeFile = false;
    plan.bOwnFolder = false;
    if (EndsWith(out, "/") || fs::is_directory(out, ec)) {
        plan.strFolder = EndsWith(out, "/") ? out : out + "/";
        format = "native,mztab,tsv";
        return true;
    }
    const std::string lower = Lower(out);
    format = EndsWith(lower, ".mztab") ? "mztab" : EndsWith(lower, ".tsv") ? "tsv" : EndsWith(lower, ".txt") ? "native" : "";
    if (format.empty()) {
        console::Error() << "-o " << out << ": give a folder (ending in '/') or a FILE.mztab, FILE.tsv or FILE.txt";
        return false;
    }
    if (datasets > 1) {
        console::Error() << "-o " << out << " names one file, but " << datasets
                         << " spectrum files give " << datasets << " results: give -o a folder";
        return false;
    }
    const fs::path parent = fs::path(out).parent_path();
    plan.strFolder = parent.empty() ? "./" : parent.string() + "/";
    plan.strFile = out;
    return true;
}

}  // namespace

void SetKeyInText(std::string& text, const std::string& key, const std::string& value) {
    std::istringstream in(text);
    std::string out, line;
    bool set = false;
    while (std::getline(in, line)) {
        CKeyLine k;
        if (COptionTool::ParseKeyLine(line, k) && k.strKey == key) {
            if (set) continue;  // a key given twice keeps only the new value
            line = key + "=" + value;
            set = true;
        }
        out += line;
        out += '\n';
    }
    if (!set) out += key + "=" + value + "\n";
    text.swap(out);
}

int RunSequence(const CSequenceOptions& o) {
    console::SetQuiet(o.bQuiet);
    const std::string preset = o.strPreset.empty() ? "hcd" : Lower(o.strPreset);
    if (preset != "hcd" && preset != "etd" && preset != "paired") {
        console::Error() << "--preset " << o.strPreset << ": give hcd, etd or paired";
        return 2;
    }
    const bool paired = preset == "paired";
    if (o.vSpectra.empty() || (paired && o.vSpectra.size() > 2)) {
        console::Error() << (paired ? "--preset paired takes one file recording both activations, or an HCD and an ETD file"
                                    : "give at least one spectrum file");
        return 2;
    }
    std::vector<std::string> types;
    for (const std::string& path : o.vSpectra) {
        types.push_back(TypeOf(path));
        if (types.back().empty()) return 2;
    }
    if (paired && types.size() == 2 && types[0] != types[1]) {
        console::Error() << "the two files of a pair must have one format (" << types[0] << " and " << types[1] << ")";
        return 2;
    }
    // Datasets: the pair, or each file on its own.
    std::vector<std::vector<size_t>> datasets;
    if (paired)
        datasets.push_back(o.vSpectra.size() == 2 ? std::vector<size_t>{0, 1} : std::vector<size_t>{0});
    else
        for (size_t k = 0; k < o.vSpectra.size(); ++k) datasets.push_back({k});
    COutputPlan plan;
    std::string format;
    if (!PlanOutput(o, datasets.size(), plan, format)) return 2;

    std::string base;
    const std::string name = o.strParam.empty() ? "the " + preset + " preset" : o.strParam;
    try {
        base = o.strParam.empty() ? ParamTemplate(preset) : ReadWhole(o.strParam);
    } catch (const std::runtime_error& e) {
        console::Error() << e.what();
        return 1;
    }
    for (const std::string& kv : o.vSet) {
        const size_t eq = kv.find('=');
        if (eq == std::string::npos || eq == 0) {
            console::Error() << "--set " << kv << ": give KEY=VALUE";
            return 2;
        }
    }
    int status = 0;
    for (const std::vector<size_t>& files : datasets) {
        // The spectrum paths replace the ones the settings name.
        std::string text;
        std::istringstream lines(base);
        for (std::string line; std::getline(lines, line);) {
            CKeyLine k;
            // A blank line in its place keeps the other lines' numbers.
            const bool path = COptionTool::ParseKeyLine(line, k) && k.strKey.rfind("spec_path", 0) == 0;
            text += (path ? std::string() : line) + "\n";
        }
        SetKeyInText(text, "spec_path", std::to_string(files.size()));
        for (size_t k = 0; k < files.size(); ++k)
            SetKeyInText(text, "spec_path" + std::to_string(k + 1), o.vSpectra[files[k]]);
        SetKeyInText(text, "spec_type", types[files[0]]);
        SetKeyInText(text, "folder", "no");
        SetKeyInText(text, "out_path", plan.strFolder);
        SetKeyInText(text, "output_format", format);
        SetKeyInText(text, "table_rows", std::to_string(o.nTop));
        if (o.nThreads >= 0) SetKeyInText(text, "thread", std::to_string(o.nThreads));
        for (const std::string& kv : o.vSet) SetKeyInText(text, kv.substr(0, kv.find('=')), kv.substr(kv.find('=') + 1));
        CDeNovo run;
        run.m_plan = plan;
        run.m_pParamText = &text;
        int s = 1;
        try {
            s = run.DenovoRun(name, "");
        } catch (const std::runtime_error& e) {
            console::Error() << e.what();
        }
        if (s > 1) return s;  // interrupted
        status = std::max(status, s);
    }
    return status;
}
