// Pairing HCD with ETD spectra: the rules on small hand-made lists, today's
// positional pairs on the examples, and the shared simulated pairs under
// shuffling, deletion, swapped files and one interleaved file.

#include "pairing/Pairing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "input/MGFInput.h"

namespace {

const std::string kSim = VEMRA_SOURCE_DIR "/../shared/data/simulated/";
const std::string kExamples = VEMRA_SOURCE_DIR "/examples/";

// Units in output order: "h+e" for a pair, the title alone for a lone spectrum.
std::string Units(const CPairingResult& r, const std::vector<CPairRecord>& recs) {
    std::string s;
    for (const CPairUnit& u : r.vUnits) {
        if (!s.empty()) s += ' ';
        if (u.nHcd >= 0) s += recs[u.nHcd].strTitle;
        if (u.nHcd >= 0 && u.nEtd >= 0) s += '+';
        if (u.nEtd >= 0) s += recs[u.nEtd].strTitle;
    }
    return s;
}

// Spectra of an MGF file as pairing records. Scans and retention times come
// from the file's SCANS / RTINSECONDS lines where the reader leaves them unset.
std::vector<CPairRecord> ReadRecords(const std::string& path, int list, const char* activation) {
    CMGFInput in;
    in.Count(path);
    std::vector<CSpectrum> spectra;
    in.Browse(spectra, CInput::ALL);
    in.Close();
    std::ifstream text(path);
    std::string line;
    for (int block = -1; std::getline(text, line);) {
        if (line.rfind("BEGIN IONS", 0) == 0) ++block;
        if (block < 0 || block >= static_cast<int>(spectra.size())) continue;
        CSpectrum& s = spectra[block];
        if (line.rfind("SCANS=", 0) == 0 && s.m_nScan < 0) s.m_nScan = std::stoi(line.substr(6));
        if (line.rfind("RTINSECONDS=", 0) == 0 && s.m_lfRetentionTime < 0) s.m_lfRetentionTime = std::stod(line.substr(12));
    }
    std::vector<CPairRecord> recs;
    for (unsigned int k = 0; k < spectra.size(); ++k) {
        recs.push_back(CPairRecord::FromSpectrum(spectra[k], list, k));
        recs.back().strActivation = activation;
    }
    return recs;
}

void Renumber(std::vector<CPairRecord>& recs) {
    for (unsigned int k = 0; k < recs.size(); ++k) recs[k].nIndex = k;
}

struct CHand {
    int nList;
    const char* strTitle;
    double lfMH;
    int nCharge;
    int nScan;
    double lfRt;
};

}  // namespace

TEST(Pairing, HandMadeLists_FollowTheRules) {
    struct Case {
        const char* name;
        EPairingMode mode;
        int nScanWindow;
        std::vector<CHand> recs;
        const char* expected;
        unsigned int nRejected, nOutside;
    };
    const auto P = EPairingMode::PRECURSOR;
    const Case cases[] = {
        {"nearest scan wins", P, 10,
         {{0, "h1", 1000, 2, 10, -1}, {1, "e1", 1000, 2, 13, -1}, {1, "e2", 1000, 2, 11, -1}, {1, "e3", 1000, 2, 40, -1}},
         "h1+e2 e1 e3", 0, 0},
        {"retention time when a scan is missing", P, 10,
         {{0, "h1", 1000, 2, -1, 100}, {1, "e1", 1000, 2, 3, 105}, {1, "e2", 1000, 2, 4, 101}}, "h1+e2 e1", 0, 0},
        {"outside the scan window", P, 10, {{0, "h1", 1000, 2, 10, -1}, {1, "e1", 1000, 2, 30, -1}, {1, "e2", 900, 2, 11, -1}},
         "h1 e1 e2", 0, 1},
        {"no scan limit", P, -1, {{0, "h1", 1000, 2, 10, -1}, {1, "e1", 1000, 2, 30, -1}, {1, "e2", 900, 2, 11, -1}},
         "h1+e1 e2", 0, 0},
        {"charge must agree", P, 10, {{0, "h1", 1000, 2, 1, -1}, {1, "e1", 1000, 3, 2, -1}, {1, "e2", 800, 3, 2, -1}},
         "h1 e1 e2", 0, 0},
        {"tolerance edge (0.5 Da) is inside", P, 10,
         {{0, "h1", 1000, 2, -1, -1}, {1, "e1", 1000.5, 2, -1, -1}, {0, "h2", 1200, 2, -1, -1}, {1, "e2", 1200.5000001, 2, -1, -1},
          {1, "e3", 500, 2, -1, -1}},
         "h1+e1 h2 e2 e3", 0, 0},
        {"exact tie goes to the first HCD title", P, 10,
         {{0, "h2", 1000, 2, -1, -1}, {0, "h1", 1000, 2, -1, -1}, {1, "e1", 1000, 2, -1, -1}}, "h1+e1 h2", 0, 0},
        {"lined-up lists keep their positional pairs", P, 10,
         {{0, "h1", 1000, 2, 10, -1}, {0, "h2", 1000, 2, 20, -1}, {1, "e1", 1000, 2, 21, -1}, {1, "e2", 1000, 2, 11, -1}},
         "h1+e1 h2+e2", 0, 0},
        {"order mode rejects disagreeing pairs", EPairingMode::ORDER, 10,
         {{0, "h1", 1000, 2, -1, -1}, {0, "h2", 1100, 2, -1, -1}, {0, "h3", 1200, 2, -1, -1}, {0, "h4", 1300, 2, -1, -1},
          {1, "e1", 1000, 2, -1, -1}, {1, "e2", 1100, 3, -1, -1}, {1, "e3", 1201, 2, -1, -1}},
         "h1+e1 h2 h3 h4 e2 e3", 2, 0},
        {"precursor mode never pairs them either", P, 10,
         {{0, "h1", 1000, 2, -1, -1}, {0, "h2", 1100, 2, -1, -1}, {0, "h3", 1200, 2, -1, -1}, {1, "e1", 1000, 2, -1, -1},
          {1, "e2", 1100, 3, -1, -1}, {1, "e3", 1201, 2, -1, -1}},
         "h1+e1 h2 h3 e2 e3", 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<CPairRecord> recs;
        for (const CHand& h : c.recs)
            recs.push_back({h.nList, static_cast<unsigned int>(recs.size()), h.lfMH, h.nCharge, h.nScan, h.lfRt, "", h.strTitle});
        CPairingSettings settings;
        settings.eMode = c.mode;
        settings.nScanWindow = c.nScanWindow;
        settings.lfPrecursorTol = 0.5;
        settings.bPrecursorTolPpm = false;
        CPairing pairing(settings);
        for (int round = 0; round < 2; ++round) {  // the input order must not matter
            const CPairingResult r = pairing.Pair(recs);
            EXPECT_EQ(Units(r, recs), c.expected) << c.name;
            EXPECT_EQ(r.nRejected, c.nRejected) << c.name;
            EXPECT_EQ(r.nOutsideWindow, c.nOutside) << c.name;
            EXPECT_EQ(r.nPairs * 2 + r.nLoneHcd + r.nLoneEtd, recs.size()) << c.name;
            std::reverse(recs.begin(), recs.end());
        }
    }
}

TEST(Pairing, ExamplePairedFiles_GiveTodaysPositionalPairs) {
    std::vector<CPairRecord> recs = ReadRecords(kExamples + "paired_hcd.mgf", 0, "");
    const std::vector<CPairRecord> etd = ReadRecords(kExamples + "paired_etd.mgf", 1, "");
    ASSERT_EQ(recs.size(), 10u);
    recs.insert(recs.end(), etd.begin(), etd.end());
    // Today's pairs: both lists sorted by title, the i-th with the i-th.
    std::vector<CPairUnit> today;
    for (int i = 0; i < 10; ++i) today.push_back({i, 10 + i});
    for (const EPairingMode mode : {EPairingMode::PRECURSOR, EPairingMode::ORDER}) {
        CPairingSettings settings;
        settings.eMode = mode;
        const CPairingResult r = CPairing(settings).Pair(recs);
        EXPECT_EQ(r.vUnits, today);
        EXPECT_TRUE(r.bByPosition);
        EXPECT_EQ(r.nPairs, 10u);
    }
}

TEST(Pairing, SimulatedPairs_SurviveShuffleDeletionSwapAndInterleaving) {
    const std::string hcdPath = kSim + "paired100_hcd.mgf", etdPath = kSim + "paired100_etd.mgf";
    if (!std::filesystem::exists(hcdPath) || !std::filesystem::exists(etdPath)) GTEST_SKIP() << "no shared data";

    struct Case {
        const char* name;
        bool bShuffle, bDeleteTenth, bSwap, bOneList;
    };
    const Case cases[] = {
        {"as given", false, false, false, false},
        {"ETD file shuffled", true, false, false, false},
        {"a tenth of the ETD spectra deleted", false, true, false, false},
        {"files swapped, activations recorded", false, false, true, false},
        {"one interleaved list, activations recorded", false, false, false, true},
        {"one list, a tenth of the ETD spectra deleted", false, true, false, true},
        {"all at once", true, true, true, false},
    };
    for (const Case& c : cases) {
        const bool recorded = c.bSwap || c.bOneList;
        std::vector<CPairRecord> hcd = ReadRecords(hcdPath, c.bSwap ? 1 : 0, recorded ? "HCD" : "");
        std::vector<CPairRecord> etd = ReadRecords(etdPath, c.bSwap || c.bOneList ? 0 : 1, recorded ? "ETD" : "");
        ASSERT_EQ(hcd.size(), 100u);
        ASSERT_EQ(etd.size(), 100u);
        if (c.bDeleteTenth)
            for (size_t k = etd.size(); k-- > 0;)
                if (k % 10 == 3) etd.erase(etd.begin() + static_cast<long>(k));
        if (c.bShuffle) std::shuffle(etd.begin(), etd.end(), std::mt19937(7));
        Renumber(etd);

        std::vector<CPairRecord> recs;
        if (c.bOneList) {  // the acquisition order: scans ascending
            recs = hcd;
            recs.insert(recs.end(), etd.begin(), etd.end());
            std::sort(recs.begin(), recs.end(), [](const CPairRecord& a, const CPairRecord& b) { return a.nScan < b.nScan; });
            Renumber(recs);
        } else {
            recs = c.bSwap ? etd : hcd;
            const auto& second = c.bSwap ? hcd : etd;
            recs.insert(recs.end(), second.begin(), second.end());
        }

        const CPairingResult r = CPairing(CPairingSettings{}).Pair(recs);
        // Truth: the titles of a pair share their stem ("sim2.000001.hcd" /
        // "sim2.000001.etd"); the HCD spectra come in title order.
        std::string prevHcd;
        unsigned int pairs = 0;
        for (const CPairUnit& u : r.vUnits) {
            if (u.nHcd < 0) continue;
            const std::string& title = recs[u.nHcd].strTitle;
            EXPECT_LT(prevHcd, title) << c.name;
            prevHcd = title;
            const std::string stem = title.substr(0, title.size() - 3);
            const bool hasPartner = std::any_of(etd.begin(), etd.end(), [&](const CPairRecord& e) { return e.strTitle == stem + "etd"; });
            ASSERT_EQ(u.nEtd >= 0, hasPartner) << c.name << ": " << title;
            if (u.nEtd >= 0) {
                EXPECT_EQ(recs[u.nEtd].strTitle, stem + "etd") << c.name;
                ++pairs;
            }
        }
        EXPECT_EQ(pairs, etd.size()) << c.name;
        EXPECT_EQ(r.nLoneHcd, 100 - etd.size()) << c.name;
        EXPECT_EQ(r.nLoneEtd, 0u) << c.name;
        EXPECT_EQ(!r.vNotes.empty() && r.vNotes[0].find("swapped") != std::string::npos, c.bSwap) << c.name;
    }
}
