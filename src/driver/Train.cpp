#include "driver/Train.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/Console.h"
#include "conditions/Condition.h"
#include "driver/BatchSequencer.h"
#include "evaluate/Evaluate.h"
#include "input/ReaderFactory.h"
#include "pairing/Pairing.h"
#include "preprocess/Normalise.h"
#include "rerank/Features.h"
#include "rerank/FragmentModelTrainer.h"
#include "rerank/RerankModel.h"
#include "rerank/ResiduePairs.h"
#include "rerank/TrainingCorpus.h"

namespace {

// Fragment tolerance at m/z 1000 from which a b/y set is ion-trap CID (Da),
// as the report tells low-resolution spectra.
constexpr double kLowResolutionTol = 0.1;
// Folds of a fragmentation that has a single set.
constexpr int kFolds = 5;

// One labelled set: its parameters, truth, labelled spectra (for the
// evidence models) and the fold of each.
struct CTrainSet {
    std::string strName, strParam, strTruth;
    std::unique_ptr<CCondition> pCondition;
    CEvaluate truth;
    std::map<std::string, size_t> mapByTitle;  // truth entry of each title
    CCorpusSet corpus;
    std::vector<int> vFold;  // per corpus spectrum
    int nFolds = 1;
};

// A truth peptide with the run's fixed residue masses taken out, written
// as the truth file has them (K[+229.163] where K carries the label), so
// that the run's plain K equals it.
std::string WithoutFixedDeltas(const std::string& text, const CCondition& c) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        const char x = text[i];
        if (x < 'A' || x > 'Z' || x == 'C' || i + 1 >= text.size() || text[i + 1] != '[') continue;
        const double builtIn = CCondition::BuiltInMass(x);
        const double fixed = c.m_lfAAMass[x - 'A'] - builtIn;
        const size_t close = text.find(']', i + 1);
        if (builtIn <= 0.0 || std::fabs(fixed) < 0.001 || close == std::string::npos) continue;
        const double delta = std::strtod(text.c_str() + i + 2, nullptr);
        if (std::fabs(delta - fixed) < 0.01) i = close;
    }
    return out;
}

EFragmentKind KindOf(const CCondition& c) {
    if (c.m_strActivation == "ETD") return EFragmentKind::ETD;
    return c.CalcFragmentMassDeviation(1000.0) >= kLowResolutionTol ? EFragmentKind::CID : EFragmentKind::HCD;
}

// Reads the set's parameter file, truth and labelled spectra.
bool ReadSet(CTrainSet& set, std::string& error) {
    set.pCondition = std::make_unique<CCondition>();
    CCondition& c = *set.pCondition;
    try {
        c.Read(set.strParam);
    } catch (const std::runtime_error& e) {
        error = e.what();
        return false;
    }
    if (c.m_nParamErrors > 0 || c.m_vFiles.empty()) {
        error = set.strParam + ": the parameter file has errors or names no spectrum file (see above)";
        return false;
    }
    if (!c.m_bFolder && c.m_vSpecPaths.size() >= 2) {
        error = set.strParam + ": vemra train learns from single spectrum files, not pairs";
        return false;
    }
    if (!set.truth.ReadTruth(set.strTruth)) {
        error = "cannot read the truth file " + set.strTruth;
        return false;
    }
    for (size_t i = 0; i < set.truth.m_vEntries.size(); ++i) {
        CEvalEntry& e = set.truth.m_vEntries[i];
        CEvaluate::ParsePeptide(WithoutFixedDeltas(e.strTruthText, c), e.truth);
        set.mapByTitle.emplace(e.strTitle, i);
    }
    set.corpus.strName = set.strName;
    set.corpus.eFragmentation = KindOf(c);
    set.corpus.lfFragmentTol = c.CalcFragmentMassDeviation(1000.0);
    set.corpus.bListed = true;
    std::vector<char> seen(set.truth.m_vEntries.size(), 0);
    for (const std::string& path : c.m_vFiles) {
        std::unique_ptr<CInput> reader = MakeReader(c.m_strSpecType);
        if (!reader) return false;
        reader->Count(path);
        std::vector<CSpectrum> list;
        while (reader->Browse(list, static_cast<unsigned int>(c.m_nBatchSize)) > 0) {
            for (CSpectrum& in : list) {
                CleanTitle(in.m_strTitle);
                const auto it = set.mapByTitle.find(in.m_strTitle);
                if (it == set.mapByTitle.end() || seen[it->second] || in.m_nCharge < 1) continue;
                CCorpusSpectrum s;
                if (!CTrainingCorpus::ParsePeptide(set.truth.m_vEntries[it->second].strTruthText, s.peptide) ||
                    CFragmentModel::IonCount(static_cast<int>(s.peptide.strResidues.size())) == 0)
                    continue;
                seen[it->second] = 1;
                s.strTitle = in.m_strTitle;
                s.nCharge = in.m_nCharge;
                s.lfPrecursorMH = in.m_lfPrecursorMH;
                std::sort(in.m_vPeaks.begin(), in.m_vPeaks.end(), CPeak::Mz_Less);
                double top = 0.0;
                for (const CPeak& p : in.m_vPeaks) top = std::max(top, p.lfIntensity);
                for (const CPeak& p : in.m_vPeaks) {
                    if (!(p.lfIntensity > 0.0)) continue;
                    s.vMz.push_back(p.lfMz);
                    s.vIntensity.push_back(static_cast<float>(p.lfIntensity / top));
                }
                set.corpus.vSpectra.push_back(std::move(s));
            }
            list.clear();
        }
        reader->Close();
        if (reader->Failed()) {
            error = "the spectra of " + path + " could not be read (see above)";
            return false;
        }
    }
    return true;
}

// Folds: a set is its own fold where its fragmentation has other sets;
// a fragmentation's only set is split by peptide (a peptide's spectra stay
// together, so no fold learns a peptide another fold is judged on).
void AssignFolds(std::vector<CTrainSet>& sets) {
    for (CTrainSet& s : sets) {
        size_t same = 0;
        for (const CTrainSet& t : sets) same += t.corpus.eFragmentation == s.corpus.eFragmentation;
        s.nFolds = same > 1 ? 1 : kFolds;
        s.vFold.assign(s.corpus.vSpectra.size(), 0);
        if (s.nFolds == 1) continue;
        for (size_t i = 0; i < s.corpus.vSpectra.size(); ++i) {
            // FNV-1a of the residues: the same fold on every machine.
            uint32_t h = 2166136261u;
            for (const char ch : s.corpus.vSpectra[i].peptide.strResidues) h = (h ^ static_cast<unsigned char>(ch)) * 16777619u;
            s.vFold[i] = static_cast<int>(h % kFolds);
        }
    }
}

// The evidence models fitted on every labelled spectrum except those of set
// `skip`'s fold `fold` (skip out of range: on all).
CRerankModel Evidence(const std::vector<CTrainSet>& sets, size_t skip, int fold) {
    auto left = [&](size_t s, size_t i) { return s == skip && (sets[s].nFolds == 1 || sets[s].vFold[i] == fold); };
    CRerankModel model;
    std::vector<std::string> names(CFeatures::kNames, CFeatures::kNames + CFeatures::kCount);
    model.SetFeatures(names);
    std::vector<std::string> peptides;
    for (size_t s = 0; s < sets.size(); ++s)
        for (size_t i = 0; i < sets[s].corpus.vSpectra.size(); ++i)
            if (!left(s, i)) peptides.push_back(sets[s].corpus.vSpectra[i].peptide.strResidues);
    CResiduePairs pairs;
    pairs.Fit(peptides);
    model.SetPairs(pairs);
    for (const EFragmentKind kind : {EFragmentKind::HCD, EFragmentKind::CID, EFragmentKind::ETD}) {
        // Only the kind of the set left out matters for its rows.
        if (skip < sets.size() && sets[skip].corpus.eFragmentation != kind) continue;
        std::vector<CSpectrumRef> refs;
        for (size_t s = 0; s < sets.size(); ++s) {
            if (sets[s].corpus.eFragmentation != kind) continue;
            for (size_t i = 0; i < sets[s].corpus.vSpectra.size(); ++i)
                if (!left(s, i)) refs.push_back(CSpectrumRef{&sets[s].corpus, &sets[s].corpus.vSpectra[i]});
        }
        if (refs.empty()) continue;
        CFragmentFitOptions options;
        options.eFragmentation = kind;
        model.AddFragments(CFragmentModelTrainer::FitSpectra(refs, options));
    }
    return model;
}

// The labelled lists of one set's fold, its features computed with
// evidence (the spectra of other folds are not sequenced).
bool CollectFold(CTrainSet& set, int fold, const CRerankModel& evidence, CRerankTrainer& trainer, size_t index) {
    CCondition& c = *set.pCondition;
    c.m_pRerankModel = std::make_shared<CRerankModel>(evidence);
    std::map<std::string, int> foldOf;
    for (size_t i = 0; i < set.corpus.vSpectra.size(); ++i) foldOf[set.corpus.vSpectra[i].strTitle] = set.vFold[i];
    CBatchOptions options;
    options.bFeatures = true;
    CBatchSequencer sequencer(c, options);
    const int fileSide = c.m_strActivation == "ETD" ? 1 : 0;
    std::vector<char> seen(set.truth.m_vEntries.size(), 0);
    CEvalPeptide pep;
    long long index0 = 0;
    bool ok = true;
    for (const std::string& path : c.m_vFiles) {
        std::unique_ptr<CInput> reader = MakeReader(c.m_strSpecType);
        if (!reader) return false;
        reader->Count(path);
        std::vector<CSpectrum> list;
        std::vector<CWorkUnit> units;
        while (reader->Browse(list, static_cast<unsigned int>(c.m_nBatchSize)) > 0) {
            units.clear();
            for (CSpectrum& s : list) {
                int side = CPairing::ActivationSide(s.m_strActivationRead);
                if (side < 0) side = fileSide;
                s.m_nIndex = static_cast<unsigned int>(index0);
                CleanTitle(s.m_strTitle);
                const auto f = foldOf.find(s.m_strTitle);
                if (f == foldOf.end() || (set.nFolds > 1 && f->second != fold)) continue;
                NormaliseSpectrum(s, side == 0 ? "HCD" : "ETD", c.m_nMaxPeaks);
                units.push_back({&s, nullptr, index0++, side == 0 ? EMode::HCD : EMode::ETD, 1, 2});
            }
            sequencer.Run(units, nullptr, [](size_t) {}, [&](size_t i) {
                const auto it = set.mapByTitle.find(units[i].pFirst->m_strTitle);
                if (it == set.mapByTitle.end() || seen[it->second]) return;
                seen[it->second] = 1;
                const EUnitStatus status = sequencer.m_vStatus[i];
                const bool ranked = status != EUnitStatus::OutsideWindow && status != EUnitStatus::BadPrecursor;
                const std::vector<std::string>& peptides = sequencer.m_vFeaturePeptides[i];
                const size_t count = ranked ? peptides.size() : 0;
                long long positive = -1;
                for (size_t k = 0; k < count && positive < 0; ++k)
                    if (CEvaluate::ParsePeptide(peptides[k], pep) &&
                        CEvaluate::ExactMatch(pep, set.truth.m_vEntries[it->second].truth))
                        positive = static_cast<long long>(k);
                trainer.AddList(index, units[i].pFirst->m_strTitle, sequencer.m_vFeatures[i].data(), count, positive);
            });
            list.clear();
        }
        reader->Close();
        ok = ok && !reader->Failed();
    }
    c.m_pRerankModel.reset();
    return ok;
}

std::string SetName(const std::string& truthFile) {
    const std::filesystem::path p(truthFile);
    const std::string folder = p.parent_path().filename().string();
    return folder.empty() ? p.stem().string() : folder;
}

// Sequences every set with evidence fitted without it; the final evidence
// (fitted on all) into evidenceText. False with why.
bool CollectAll(const CTrainOptions& o, CRerankTrainer& trainer, std::string& evidenceText, std::string& error) {
    CRerankModel given;
    if (!o.strEvidence.empty()) {
        if (!given.Load(o.strEvidence, error) || given.Version() != 2) {
            error = "--evidence: " + (error.empty() ? o.strEvidence + " is a linear model without evidence" : error);
            return false;
        }
        given = given.Evidence();
    }
    std::vector<CTrainSet> sets(o.vSets.size());
    for (size_t k = 0; k < o.vSets.size(); ++k) {
        sets[k].strParam = o.vSets[k].first;
        sets[k].strTruth = o.vSets[k].second;
        sets[k].strName = SetName(sets[k].strTruth);
        for (size_t j = 0; j < k; ++j)
            if (sets[j].strName == sets[k].strName) sets[k].strName += "." + std::to_string(k + 1);
        if (!ReadSet(sets[k], error)) return false;
    }
    AssignFolds(sets);
    const bool fitted = o.strEvidence.empty();
    for (size_t k = 0; k < sets.size(); ++k) {
        CTrainSet& s = sets[k];
        const size_t lists = trainer.m_vLists.size();
        if (!fitted) s.nFolds = 1;
        for (int f = 0; f < s.nFolds; ++f) {
            const std::string name = s.nFolds > 1 ? s.strName + "#" + std::to_string(f + 1) : s.strName;
            if (!CollectFold(s, f, fitted ? Evidence(sets, k, f) : given, trainer, trainer.Set(name))) {
                error = "the spectra of " + s.strParam + " could not be read (see above)";
                return false;
            }
        }
        size_t found = 0, first = 0;
        for (size_t i = lists; i < trainer.m_vLists.size(); ++i) {
            found += trainer.m_vLists[i].nPositive >= 0;
            first += trainer.m_vLists[i].nPositive == 0;
        }
        console::Info() << s.strName << " (" << FragmentKindName(s.corpus.eFragmentation) << "): "
                        << trainer.m_vLists.size() - lists << " spectra with a known peptide, the peptide among the "
                        << CFeatures::kDepth << " first candidates: " << found << ", first by score: " << first;
    }
    evidenceText = (fitted ? Evidence(sets, sets.size(), 0) : given).Text("");
    return true;
}

void PrintFigures(const std::vector<CSetFigures>& fit, const std::vector<CSetFigures>* baseline, bool perSet) {
    auto precision = [](double v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.3f", v);
        return v < 0.0 ? std::string("-") : std::string(buf);
    };
    console::Info() << "leave one set out: set, spectra, among the candidates, first by score, first by the model, "
                       "precision at 50% coverage" << (baseline ? "; the baseline model's first and precision" : "");
    for (size_t s = 0; s < fit.size(); ++s) {
        if (!perSet && s + 1 < fit.size()) continue;
        const CSetFigures& f = fit[s];
        auto line = console::Info();
        line << "  " << f.strSet << "\t" << f.nSpectra << "\t" << f.nInList << "\t" << f.nFirstByScore << "\t"
             << f.nFirstByModel << "\t" << precision(f.lfPrecisionAtHalf);
        if (baseline && s < baseline->size())
            line << "\t" << (*baseline)[s].nFirstByModel << "\t" << precision((*baseline)[s].lfPrecisionAtHalf);
    }
}

}  // namespace

int RunTrain(const CTrainOptions& o) {
    CRerankTrainer trainer;
    std::string evidenceText, error;
    if (!o.strLoadRows.empty()) {
        if (!trainer.Read(o.strLoadRows, evidenceText, error)) {
            console::Error() << error;
            return 1;
        }
        console::Info() << o.strLoadRows << ": " << trainer.m_vLists.size() << " lists of " << trainer.m_vSets.size()
                        << " sets";
    } else if (!CollectAll(o, trainer, evidenceText, error)) {
        console::Error() << error;
        return 1;
    }
    if (!o.vExcludeSets.empty()) trainer.DropSets(o.vExcludeSets);
    if (!o.strSaveRows.empty()) {
        if (!trainer.Write(o.strSaveRows, evidenceText, error)) {
            console::Error() << error;
            return 1;
        }
        console::Info() << "feature rows: " << o.strSaveRows;
    }
    if (o.strOutput.empty() && !o.bPerSet && o.strTestRows.empty()) return 0;
    CRerankModel model;
    if (!model.ParseEvidence(evidenceText, error)) {
        console::Error() << "the evidence models: " << error;
        return 1;
    }
    if (!o.strFallback.empty()) {
        CRerankModel linear;
        const int feature = CFeatures::IndexOf(o.strFallbackFeature);
        if (!linear.Load(o.strFallback, error) || linear.Version() != 1) {
            console::Error() << "--fallback: " << (error.empty() ? o.strFallback + " is not a linear model" : error);
            return 1;
        }
        if (feature < 0) {
            console::Error() << "--fallback-feature: no feature is called " << o.strFallbackFeature;
            return 1;
        }
        model.SetFallback(linear, feature, o.lfFallbackBelow);
    }
    std::vector<CSetFigures> figures;
    if (!trainer.Fit(o.fit, model, figures, error)) {
        console::Error() << error;
        return 1;
    }
    CRerankModel other;
    if (!o.strBaseline.empty() && !other.Load(o.strBaseline, error)) {
        console::Error() << "--baseline " << error;
        return 1;
    }
    const std::vector<CSetFigures> baseFigures = o.strBaseline.empty() ? std::vector<CSetFigures>() : trainer.Apply(other);
    PrintFigures(figures, o.strBaseline.empty() ? nullptr : &baseFigures, o.bPerSet);
    if (!o.strTestRows.empty()) {
        CRerankTrainer test;
        std::string ignored;
        if (!test.Read(o.strTestRows, ignored, error)) {
            console::Error() << error;
            return 1;
        }
        console::Info() << "measured on " << o.strTestRows << " (not fitted on):";
        const std::vector<CSetFigures> base = o.strBaseline.empty() ? std::vector<CSetFigures>() : test.Apply(other);
        PrintFigures(test.Apply(model), o.strBaseline.empty() ? nullptr : &base, true);
    }
    if (o.strOutput.empty()) return 0;
    // The sets by count: their names are the corpus' folders, --per-set
    // prints them.
    const CRerankFitOptions& f = o.fit;
    const std::string comment = "fitted by vemra train on " + std::to_string(trainer.m_vSets.size()) +
                                " sets\nranker: " +
                                CBoostedTrees::ObjectiveName(f.eObjective) + ", depth " + std::to_string(f.nDepth) +
                                ", " + std::to_string(f.nRounds) + " rounds; calibration: depth " +
                                std::to_string(f.nCalibrationDepth) + ", " + std::to_string(f.nCalibrationRounds) +
                                " rounds";
    std::ofstream out(o.strOutput, std::ios::binary | std::ios::trunc);
    out << model.Text(comment);
    out.close();
    if (!out) {
        console::Error() << "cannot write " << o.strOutput;
        return 1;
    }
    console::Info() << "model: " << o.strOutput;
    return 0;
}
