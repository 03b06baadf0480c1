#include "evaluate/EvaluateCommand.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "common/Console.h"
#include "evaluate/CurvePlot.h"
#include "evaluate/Evaluate.h"

namespace fs = std::filesystem;

namespace {

std::string Fixed(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

// The figures as `vemra evaluate` has always printed them (scripts read
// these lines by position).
void PrintFigures(const CEvalFigures& f, std::ostream& out) {
    out << "spectra with a known peptide\t" << f.nTruth << "\n";
    out << "spectra with a result\t" << f.nWithResult << "\n";
    out << "peptide recall, exact (I=L)\t" << Fixed(f.ExactRecall(), 4) << "\t" << f.nExact << "/" << f.nTruth << "\n";
    out << "peptide recall, mass rule\t" << Fixed(f.MassRecall(), 4) << "\t" << f.nMass << "/" << f.nTruth << "\n";
    out << "top-" << kTopListed << " recall, exact (I=L)\t"
        << Fixed(f.nTruth ? double(f.nTopListed) / f.nTruth : 0.0, 4) << "\t" << f.nTopListed << "/" << f.nTruth
        << "\n";
    out << "amino-acid precision\t" << Fixed(f.AAPrecision(), 4) << "\t" << f.nMatchedAA << "/" << f.nPredictedAA
        << "\n";
    out << "amino-acid recall\t" << Fixed(f.AARecall(), 4) << "\t" << f.nMatchedAA << "/" << f.nTruthAA << "\n";
    out << "precision-coverage area\t" << Fixed(f.lfArea, 4) << "\n";
    out << "precision at 50% coverage\t"
        << (f.lfPrecisionAtHalf < 0 ? std::string("not reached") : Fixed(f.lfPrecisionAtHalf, 4)) << "\n";
    out << "coverage\tprecision\n";
    // The curve at every tenth of the spectra with a result.
    const size_t n = f.vCoverage.size();
    for (int t = 1; t <= 10 && n > 0; ++t) {
        const size_t k = std::max<size_t>(1, (n * t + 9) / 10) - 1;
        out << Fixed(f.vCoverage[k], 3) << "\t" << Fixed(f.vPrecision[k], 4) << "\n";
    }
}

// Says how many known spectra have a result; false (after an [error] line)
// when none has, the silent failure of mismatched titles.
bool ReportFound(const CEvaluate& run, const CEvalFigures& f, const std::string& label, const std::string& path,
                 const std::string& truthPath, bool several) {
    const std::string who = several ? label + ": " : std::string();
    if (f.nWithResult > 0) {
        console::Info() << who << f.nWithResult << " of " << f.nTruth << " known spectra have a result";
        return true;
    }
    if (f.nFound == 0) {
        console::Error() << who << "none of the " << f.nTruth << " titles of " << truthPath << " has a record in "
                         << path << " (" << run.m_nRecords << " records; first truth title \""
                         << run.m_vEntries.front().strTitle << "\""
                         << (run.m_nRecords ? ", first result title \"" + run.m_strFirstResultTitle + "\"" : "")
                         << "): are they results of the same spectra?";
    } else {
        console::Error() << who << "none of the " << f.nTruth << " known spectra has a result in " << path << ": "
                         << f.nFound << " of them have a record without a candidate";
    }
    return false;
}

bool WritePerSpectrum(const std::string& path, const std::vector<CEvaluate>& runs,
                      const std::vector<std::string>& labels) {
    std::ofstream out(path, std::ios::binary);
    // One run: one row per known spectrum; several: the rows of each run in
    // turn, named by a leading column.
    const bool several = runs.size() > 1;
    out << (several ? "run\t" : "") << "title\ttruth\tprediction\tcorrect\tconfidence\n";
    char buf[32];
    for (size_t r = 0; r < runs.size(); ++r) {
        for (const CEvalEntry& e : runs[r].m_vEntries) {
            if (several) out << labels[r] << '\t';
            out << e.strTitle << '\t' << e.strTruthText << '\t';
            if (e.bHasResult) {
                std::snprintf(buf, sizeof buf, "%.6g", e.lfScore);
                out << e.strResultText << '\t' << (e.nTruthRank == 1 ? 1 : 0) << '\t' << buf << '\n';
            } else {
                out << "\t0\t\n";
            }
        }
    }
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

std::vector<std::string> RunLabels(const std::vector<std::string>& paths, const std::vector<std::string>& given) {
    // Each name says only as much of its path as it needs to stay apart:
    // the base name, then with its extension, then with its folder.
    auto name = [](const std::string& path, int level) {
        const fs::path p = fs::path(path).lexically_normal();
        const std::string folder = p.parent_path().filename().string();
        const std::string file = level % 2 == 0 ? p.stem().string() : p.filename().string();
        if (level < 2) return file;
        if (level < 4) return (folder.empty() ? std::string(".") : folder) + "/" + file;
        return p.string();
    };
    std::vector<int> level(paths.size(), 0);
    std::vector<std::string> labels(paths.size());
    for (int round = 0; round <= 4; ++round) {
        std::map<std::string, int> uses;
        for (size_t i = 0; i < paths.size(); ++i) ++uses[labels[i] = name(paths[i], level[i])];
        bool clash = false;
        for (size_t i = 0; i < paths.size(); ++i)
            if (uses[labels[i]] > 1 && level[i] < 4) {
                ++level[i];
                clash = true;
            }
        if (!clash) break;
    }
    for (size_t i = 0; i < given.size() && i < labels.size(); ++i)
        if (!given[i].empty()) labels[i] = given[i];
    return labels;
}

int RunEvaluate(const CEvaluateOptions& options) {
    CEvaluate truth;
    if (!truth.ReadTruth(options.strTruth)) {
        console::Error() << "cannot read the truth file " << options.strTruth;
        return 1;
    }
    if (truth.m_vEntries.empty()) {
        console::Error() << "the truth file " << options.strTruth << " has no title<TAB>peptide line";
        return 1;
    }
    const std::vector<std::string> labels = RunLabels(options.vResults, options.vLabels);
    const bool several = options.vResults.size() > 1;
    int status = 0;
    std::vector<CEvaluate> runs;
    std::vector<std::string> runLabels;
    std::vector<CEvalFigures> figures;
    for (size_t i = 0; i < options.vResults.size(); ++i) {
        CEvaluate run = truth;
        std::string error;
        if (!run.ReadResults(options.vResults[i], error)) {
            console::Error() << error;
            status = 1;
            continue;
        }
        const CEvalFigures f = run.Compute();
        if (!ReportFound(run, f, labels[i], options.vResults[i], options.strTruth, several)) status = 1;
        if (several)
            std::cout << (runs.empty() ? "" : "\n") << "results\t" << labels[i] << "\t" << options.vResults[i] << "\n";
        PrintFigures(f, std::cout);
        runs.push_back(std::move(run));
        runLabels.push_back(labels[i]);
        figures.push_back(f);
    }
    std::cout.flush();
    if (!options.strPlot.empty() && !runs.empty()) {
        std::vector<CCurve> curves;
        for (size_t i = 0; i < runs.size(); ++i) curves.push_back(CCurve{runLabels[i], &figures[i]});
        std::ofstream out(options.strPlot, std::ios::binary);
        out << CCurvePlot::Svg(curves);
        out.flush();
        if (!out) {
            console::Error() << "cannot write " << options.strPlot;
            status = 1;
        }
    }
    if (!options.strPerSpectrum.empty() && !runs.empty() &&
        !WritePerSpectrum(options.strPerSpectrum, runs, runLabels)) {
        console::Error() << "cannot write " << options.strPerSpectrum;
        status = 1;
    }
    return status;
}
