#include "driver/Train.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
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
#include "rerank/RerankTrainer.h"

namespace {

// The labelled lists of one dataset file: each spectrum with a known
// peptide (the first record of a title) and at least one candidate.
bool CollectFile(const CCondition& c, const std::string& path, const CEvaluate& truth,
                 const std::map<std::string, size_t>& byTitle, std::vector<char>& seen, CRerankTrainer& trainer) {
    std::unique_ptr<CInput> reader = MakeReader(c.m_strSpecType);
    if (!reader) return false;
    reader->Count(path);
    CBatchOptions options;
    options.bFeatures = true;
    CBatchSequencer sequencer(c, options);
    const int fileSide = c.m_strActivation == "ETD" ? 1 : 0;
    std::vector<CSpectrum> list;
    std::vector<CWorkUnit> units;
    long long index = 0;
    CEvalPeptide pep;
    while (reader->Browse(list, static_cast<unsigned int>(c.m_nBatchSize)) > 0) {
        units.clear();
        for (CSpectrum& s : list) {
            int side = CPairing::ActivationSide(s.m_strActivationRead);
            if (side < 0) side = fileSide;
            s.m_nIndex = static_cast<unsigned int>(index);
            CleanTitle(s.m_strTitle);
            NormaliseSpectrum(s, side == 0 ? "HCD" : "ETD", c.m_nMaxPeaks);
            units.push_back({&s, nullptr, index++, side == 0 ? EMode::HCD : EMode::ETD, 1, 2});
        }
        sequencer.Run(units, nullptr, [](size_t) {}, [&](size_t i) {
            // The first record of a title is its list (a spectrum outside
            // the window has no record).
            const EUnitStatus status = sequencer.m_vStatus[i];
            if (status == EUnitStatus::OutsideWindow || status == EUnitStatus::BadPrecursor) return;
            const auto it = byTitle.find(units[i].pFirst->m_strTitle);
            if (it == byTitle.end() || seen[it->second]) return;
            seen[it->second] = 1;
            const std::vector<std::string>& peptides = sequencer.m_vFeaturePeptides[i];
            long long positive = -1;
            for (size_t k = 0; k < peptides.size() && positive < 0; ++k)
                if (CEvaluate::ParsePeptide(peptides[k], pep) && CEvaluate::ExactMatch(pep, truth.m_vEntries[it->second].truth))
                    positive = static_cast<long long>(k);
            trainer.AddList(sequencer.m_vFeatures[i].data(), peptides.size(), positive);
        });
        list.clear();
    }
    reader->Close();
    return !reader->Failed();
}

// Every dataset of one parameter file; false (and why) when it cannot be used.
bool Collect(const std::string& paramFile, const std::string& truthFile, CRerankTrainer& trainer, std::string& error) {
    CEvaluate truth;
    if (!truth.ReadTruth(truthFile)) {
        error = "cannot read the truth file " + truthFile;
        return false;
    }
    CCondition c;
    try {
        c.Read(paramFile);
    } catch (const std::runtime_error& e) {
        error = e.what();
        return false;
    }
    if (c.m_nParamErrors > 0 || c.m_vFiles.empty()) {
        error = paramFile + ": the parameter file has errors or names no spectrum file (see above)";
        return false;
    }
    if (!c.m_bFolder && c.m_vSpecPaths.size() >= 2) {
        error = paramFile + ": vemra train learns from single spectrum files, not pairs";
        return false;
    }
    std::map<std::string, size_t> byTitle;
    for (size_t i = 0; i < truth.m_vEntries.size(); ++i) byTitle.emplace(truth.m_vEntries[i].strTitle, i);
    std::vector<char> seen(truth.m_vEntries.size(), 0);
    for (const std::string& path : c.m_vFiles) {
        if (!CollectFile(c, path, truth, byTitle, seen, trainer)) {
            error = "the spectra of " + path + " could not be read (see above)";
            return false;
        }
    }
    return true;
}

}  // namespace

int RunTrain(int argc, char** argv) {
    const char* usage = "usage: vemra train PARAM TRUTH [PARAM TRUTH ...] -o MODEL";
    std::string output;
    std::vector<std::string> args;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-o" && i + 1 < argc)
            output = argv[++i];
        else
            args.push_back(a);
    }
    if (output.empty() || args.empty() || args.size() % 2 != 0) {
        std::cerr << usage << std::endl;
        return 2;
    }
    CRerankTrainer trainer;
    std::string sets;
    for (size_t k = 0; k < args.size(); k += 2) {
        const size_t lists = trainer.m_vLists.size();
        std::string error;
        if (!Collect(args[k], args[k + 1], trainer, error)) {
            console::Error() << error;
            return 1;
        }
        size_t found = 0, first = 0;
        for (size_t i = lists; i < trainer.m_vLists.size(); ++i) {
            found += trainer.m_vLists[i].nPositive >= 0;
            first += trainer.m_vLists[i].nPositive == 0;
        }
        console::Info() << args[k] << ": " << trainer.m_vLists.size() - lists
                        << " spectra with a known peptide and candidates; the peptide among them: " << found
                        << ", first by score: " << first;
        // Named by the truth file's folder and name: the same sets give the
        // same file wherever they are.
        const std::filesystem::path truth(args[k + 1]);
        sets += (sets.empty() ? "" : ", ") + (truth.parent_path().filename() / truth.filename()).string();
    }
    const CRerankModel model = trainer.Fit();
    console::Info() << "fitted on " << trainer.m_vLists.size()
                    << " spectra: first by the model: " << trainer.FirstByModel(model);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << model.Text("fitted by vemra train on " + sets);
    out.close();
    if (!out) {
        console::Error() << "cannot write " << output;
        return 1;
    }
    console::Info() << "model: " << output;
    return 0;
}
