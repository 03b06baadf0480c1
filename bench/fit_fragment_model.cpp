// Fits the fragment-intensity model on a labelled corpus, validates it set
// by set, and times its predictions.
//
//   fit_fragment_model CORPUS [--fragmentation HCD|CID|ETD] [--ridge X]
//                      [--validate] [--measure-on HCD|CID|ETD] [--time] [-o MODEL]
//
// --validate     leave one set out over the fragmentation's sets: per set and
//                pooled, the median agreement of the truth's predicted and
//                observed intensities, model against the flat prediction, and
//                how often the truth beats its decoys
// --measure-on   fit on every set of --fragmentation, measure on the sets of
//                another fragmentation (e.g. the HCD model on ion-trap CID)
// --time         prediction cost per peptide over the corpus's peptides
// -o MODEL       fit on every set of the fragmentation and write the model
//
// bench/fit_fragment_models.sh makes models/fragment_{hcd,cid,etd}.model
// with it (needs -DVEMRA_BENCH=ON).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "rerank/FragmentModelTrainer.h"
#include "rerank/FragmentValidation.h"
#include "rerank/TrainingCorpus.h"

namespace {

void PrintRow(const CSetAgreement& a) {
    using S = CSpectrumAgreement;
    std::printf("%-34s %5zu  %.3f %.3f  %.3f  %.3f %.3f  %.3f %.3f", a.strSet.c_str(), a.vSpectra.size(),
                a.Median(&S::lfCosine), a.Median(&S::lfCosineFlat), a.Median(&S::lfPearson), a.Median(&S::lfMissed),
                a.Median(&S::lfMissedFlat), a.Median(&S::lfDetectionLoss), a.Median(&S::lfDetectionLossFlat));
    for (int kind = 0; kind < 2; ++kind)
        for (int m = 0; m < kAgreements; ++m)
            std::printf("  %.3f %.3f", a.WinRate(kind, m, false), a.WinRate(kind, m, true));
    std::printf("\n");
}

void PrintTable(const std::vector<CSetAgreement>& rows, const char* title) {
    std::printf("\n%s\n", title);
    std::printf("%-34s %5s  %-11s  %-5s  %-11s  %-11s  truth beats shuffled decoys by  | swapped-neighbour decoys by\n",
                "", "", "median", "", "median", "median");
    std::printf("%-34s %5s  %-11s  %-5s  %-11s  %-11s  %-11s  %-11s  %-11s  %-11s  %-11s  %-11s\n", "set", "n",
                "cosine", "pears", "missed", "detect loss", "cosine", "missed", "combined", "cosine", "missed",
                "combined");
    std::printf("%-34s %5s  %-11s  %-5s  %-11s  %-11s  %-11s  %-11s  %-11s  %-11s  %-11s  %-11s\n", "", "",
                "model flat", "model", "model flat", "model flat", "model flat", "model flat", "model flat",
                "model flat", "model flat", "model flat");
    for (const CSetAgreement& r : rows) PrintRow(r);
    PrintRow(CSetAgreement::Pool(rows, "pooled"));
}

void TimePredictions(const CTrainingCorpus& corpus, const CFragmentModel& model) {
    std::vector<const CCorpusSpectrum*> all;
    for (const CCorpusSet& s : corpus.m_vSets)
        for (const CCorpusSpectrum& x : s.vSpectra) all.push_back(&x);
    std::vector<float> out(static_cast<size_t>(CFragmentModel::IonCount(CFragmentModel::kMaxLength)));
    double sink = 0.0, residues = 0.0;
    for (const CCorpusSpectrum* x : all) residues += static_cast<double>(x->peptide.strResidues.size());
    // The fastest of several passes: the machine is shared, and the other
    // jobs only ever add time.
    const int rounds = 20, passes = 10;
    double ns = HUGE_VAL;
    for (int pass = 0; pass < passes; ++pass) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int r = 0; r < rounds; ++r)
            for (const CCorpusSpectrum* x : all) {
                const CLabelledPeptide& p = x->peptide;
                const int n = model.Predict(p.strResidues.data(), p.vDeltas.data(),
                                            static_cast<int>(p.strResidues.size()), p.lfNTermDelta, x->nCharge,
                                            out.data());
                sink += out[static_cast<size_t>(n / 2)];
            }
        ns = std::min(ns, std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count());
    }
    const double calls = static_cast<double>(rounds) * static_cast<double>(all.size());
    std::printf("\nPredict: %.0f ns per peptide (mean length %.1f, %zu peptides x %d), checksum %.6f\n", ns / calls,
                residues / static_cast<double>(all.size()), all.size(), rounds, sink);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: fit_fragment_model CORPUS [--fragmentation HCD|CID|ETD] [--ridge X] [--validate]\n"
                 "                          [--measure-on HCD|CID|ETD] [--time] [-o MODEL]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string folder = argv[1];
    CFragmentFitOptions options;
    std::string outPath, ridgeText;
    bool validate = false, time = false, measure = false;
    EFragmentKind measureOn = EFragmentKind::CID;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--fragmentation" && more && ParseFragmentKind(argv[i + 1], options.eFragmentation)) {
            ++i;
        } else if (a == "--ridge" && more) {
            ridgeText = argv[++i];
            options.lfRidge = std::strtod(ridgeText.c_str(), nullptr);
        } else if (a == "--measure-on" && more && ParseFragmentKind(argv[i + 1], measureOn)) {
            measure = true;
            ++i;
        } else if (a == "--validate") {
            validate = true;
        } else if (a == "--time") {
            time = true;
        } else if (a == "-o" && more) {
            outPath = argv[++i];
        } else {
            return Usage();
        }
    }
    CTrainingCorpus corpus;
    std::string error;
    if (!corpus.Load(folder, error)) {
        std::fprintf(stderr, "[error]\t%s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "[info]\t%zu sets, %zu spectra (%d left out)\n", corpus.m_vSets.size(), corpus.SpectrumCount(),
                 corpus.m_nSkipped);
    for (const CCorpusSet& s : corpus.m_vSets) {
        CCorpusSet inferred = s;
        CTrainingCorpus::InferProfile(inferred);
        std::fprintf(stderr, "[info]\t  %-36s %4zu  %s  tol %.2f Da  weight %.1f  (%s; inferred %s %.2f Da)\n",
                     s.strName.c_str(), s.vSpectra.size(), FragmentKindName(s.eFragmentation), s.lfFragmentTol,
                     s.lfLabelWeight, s.bListed ? "listed" : "inferred", FragmentKindName(inferred.eFragmentation),
                     inferred.lfFragmentTol);
    }
    const std::string fragmentation = FragmentKindName(options.eFragmentation);
    const bool defaultRidge = ridgeText.empty();
    if (defaultRidge) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", CFragmentModelTrainer::DefaultRidge(options.eFragmentation));
        ridgeText = buf;
    }
    if (validate)
        PrintTable(CFragmentValidation::LeaveOneSetOut(corpus, options),
                   ("leave one set out, " + fragmentation + ", ridge " + ridgeText).c_str());
    const CFragmentModel model = CFragmentModelTrainer::Fit(corpus, options);
    if (measure) {
        if ((measureOn == EFragmentKind::ETD) != (options.eFragmentation == EFragmentKind::ETD)) {
            std::fprintf(stderr, "[error]\tETD spectra have other ions: measure them with an ETD model\n");
            return 2;
        }
        CFragmentFitOptions flatOptions = options;
        flatOptions.nIterations = 0;
        const CFragmentModel flat = CFragmentModelTrainer::Fit(corpus, flatOptions);
        std::vector<CSetAgreement> rows;
        for (const CCorpusSet& s : corpus.m_vSets)
            if (s.eFragmentation == measureOn) rows.push_back(CFragmentValidation::MeasureSet(model, flat, s));
        PrintTable(rows, (fragmentation + " model (all its sets) on the " + FragmentKindName(measureOn) + " sets").c_str());
    }
    if (time) TimePredictions(corpus, model);
    if (!outPath.empty()) {
        size_t sets = 0, spectra = 0;
        const CCorpusSet* last = nullptr;
        for (const CSpectrumRef& r : CFragmentModelTrainer::SpectraOf(corpus, options)) {
            ++spectra;
            if (r.pSet != last) ++sets;
            last = r.pSet;
        }
        // How to make the same file again (the options that shape the fit).
        std::string command = "fit_fragment_model " + folder;
        if (options.eFragmentation != EFragmentKind::HCD) command += " --fragmentation " + fragmentation;
        if (!defaultRidge) command += " --ridge " + ridgeText;
        command += " -o " + outPath;
        const std::string comment = "Fragment intensities of " + fragmentation + " spectra, fitted on " +
                                    std::to_string(spectra) + " labelled spectra of " + std::to_string(sets) +
                                    " sets (ridge " + ridgeText + ").\nRebuilt by bench/fit_fragment_models.sh: " +
                                    command;
        std::ofstream out(outPath, std::ios::binary);
        out << model.Text(comment);
        if (!out.flush()) {
            std::fprintf(stderr, "[error]\tcannot write %s\n", outPath.c_str());
            return 1;
        }
        std::fprintf(stderr, "[info]\twrote %s\n", outPath.c_str());
    }
    return 0;
}
