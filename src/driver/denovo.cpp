#include "driver/denovo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "driver/BatchSequencer.h"
#include "driver/ResultFile.h"
#include "output/MzTabWriter.h"
#include "output/TsvWriter.h"
#include "input/ReaderFactory.h"
#include "pairing/Pairing.h"

std::mutex mutex;
std::condition_variable cond;
std::ostringstream runLog;

namespace {

constexpr unsigned int kNoDataset = static_cast<unsigned int>(-1);

const char* const kBanner[7] = {
    "       ####################################",
    "       #                                  #",
    "       #       Welcome to Vemra+          #",
    "       #                                  #",
    "       #       https://vemra.example.org  #",
    "       #                                  #",
    "       ####################################",
};

// Set by RequestStop (possibly from a signal handler): the signal number.
std::atomic<int> g_nStopSignal{0};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

std::string Duration(double seconds) {
    const long long s = static_cast<long long>(std::llround(std::max(0.0, seconds)));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

// The progress line of a dataset: bar, share done, rate and time left.
// Shown only on a terminal: a log file gets the summary line instead.
void PrintProgress(long long done, long long total, double seconds) {
    static const bool terminal = isatty(STDOUT_FILENO) != 0;
    if (!terminal || total <= 0) return;
    done = std::min(done, total);
    const double share = static_cast<double>(done) / static_cast<double>(total);
    const int bars = static_cast<int>(std::floor(40.0 * share));
    std::string line = "\r|" + std::string(static_cast<size_t>(bars), '=') + std::string(static_cast<size_t>(40 - bars), ' ') + "|";
    char tail[128];
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0.0;
    std::snprintf(tail, sizeof tail, "\t%6.2f%%\t%.0f spectra/s\t%s left ", 100.0 * share, rate, Duration(left).c_str());
    std::cout << line << tail << std::flush;
}

// True when the path can be read twice (once to count, once to read): a
// regular file, or a folder for DTA. Pipes and devices cannot be rewound.
bool CanReadTwice(const std::string& path, bool folder) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return true;  // the reader reports what is wrong
    return folder ? S_ISDIR(st.st_mode) || S_ISREG(st.st_mode) : !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISSOCK(st.st_mode);
}

// The side a spectrum is sequenced on (0 HCD, 1 ETD): its recorded
// activation, or else the side of its file.
int SideOf(const CSpectrum& s, int fileSide) {
    const int side = CPairing::ActivationSide(s.m_strActivationRead);
    return side >= 0 ? side : fileSide;
}

// Spectra per read while light records are collected or spectra fetched.
constexpr unsigned int kRecordChunk = 10000;

void Count(CDatasetSummary& s, EUnitStatus status, long long spectra) {
    switch (status) {
        case EUnitStatus::Sequenced: s.nSequenced += spectra; break;
        case EUnitStatus::NoCandidate: s.nNoCandidate += spectra; break;
        case EUnitStatus::NoPeaks: s.nNoPeaks += spectra; break;
        case EUnitStatus::OutsideWindow: s.nOutsideWindow += spectra; break;
        case EUnitStatus::BadPrecursor: s.nBadPrecursor += spectra; break;
        case EUnitStatus::Stopped: break;
    }
}

}  // namespace

void RequestStop(int signal) { g_nStopSignal.store(signal); }

// Drops peaks whose intensity is not positive (their logarithm is undefined),
// then sets relative intensity, log intensity, key m/z, order and label.
void NormaliseSpectrum(CSpectrum& s, const char* label) {
    auto& peaks = s.m_vPeaks;
    peaks.erase(std::remove_if(peaks.begin(), peaks.end(),
                               [](const CPeak& p) { return !(p.lfIntensity > 0.0) || !std::isfinite(p.lfIntensity); }),
                peaks.end());
    double max = 0.0;
    for (const CPeak& p : peaks) max = std::max(max, p.lfIntensity);
    for (size_t i = 0; i < peaks.size(); ++i) {
        CPeak& p = peaks[i];
        p.nOrder = static_cast<int>(i);
        s.m_strActivation = label;
        p.lfKeyMz = p.lfMz;
        p.nCharge = 0;
        p.lfLogIntensity = std::log(p.lfIntensity);
        p.lfIntensity = p.lfIntensity / max;
    }
}

void CleanTitle(std::string& title) {
    for (char& ch : title)
        if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
}

bool WriteRunLog(const std::string& text) {
    const int fd = open("denovo.log", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::cerr << "[warning]\tcannot write the run log denovo.log: " << std::strerror(errno) << std::endl;
        return false;
    }
    // Held while the file is read and rewritten, so a concurrent run waits
    // instead of overwriting this run's entry with its own copy.
    flock(fd, LOCK_EX);
    std::string old;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) old.append(buf, static_cast<size_t>(n));
    std::string out = text;
    size_t pos = 0;
    while (pos < old.size()) {
        size_t end = old.find('\n', pos);
        if (end == std::string::npos) end = old.size();
        std::string line = old.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 999) break;  // a longer line ends the kept history
        out += line;
        out += '\n';
        pos = end + 1;
    }
    bool ok = lseek(fd, 0, SEEK_SET) == 0;
    for (size_t done = 0; ok && done < out.size();) {
        const ssize_t n = write(fd, out.data() + done, out.size() - done);
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ok = ok && ftruncate(fd, static_cast<off_t>(out.size())) == 0;
    close(fd);
    if (!ok) std::cerr << "[warning]\tcannot write the run log denovo.log" << std::endl;
    return ok;
}

bool CDeNovo::_ReadData(CCondition& c, const std::string& paramFile, const std::string& outputName) {
    c.Read(paramFile);
    if (c.m_nParamErrors > 0) {
        std::cerr << "[error]\t" << paramFile << ": " << c.m_nParamErrors << " error" << (c.m_nParamErrors > 1 ? "s" : "")
                  << " in the parameter file; nothing was run" << std::endl;
        return false;
    }
    if (c.m_vSpecPaths.empty()) {
        std::cerr << "[error]\t" << paramFile
                  << ": no spectrum file is configured; under [file] set spec_path=1 and spec_path1=FILE "
                     "(run vemra --print-params for a complete parameter file)"
                  << std::endl;
        return false;
    }
    if (c.m_bFolder && c.m_vFiles.empty()) {
        if (!c.m_bRunFailed.load())
            std::cerr << "[error]\tthe folder " << c.m_vSpecPaths[0] << " holds no " << c.m_strSpecType
                      << " file to sequence" << std::endl;
        return false;
    }
    if (m_fnAdjust) m_fnAdjust(c);
    c.m_strOutDir = c.m_strOutPath + outputName + "/";
    return m_folder.Open(c.m_strOutDir);
}

std::string CDeNovo::_DatasetPrefix(CCondition& c, const std::string& outputName, unsigned int datasetNumber) {
    // Base name: the file (or DTA folder) name without its folders and
    // without the part from its last '.'.
    const std::string& path0 = c.m_vSpecPaths[0];
    const size_t slash = path0.find_last_of('/');
    std::string base = slash == std::string::npos ? path0 : path0.substr(slash + 1);
    // A compressed file is named after what it holds: x.mzML.gz gives x.
    if (base.size() > 3 && base.compare(base.size() - 3, 3, ".gz") == 0) base.erase(base.size() - 3);
    if (size_t dot = base.find_last_of('.'); dot != std::string::npos) base.erase(dot);
    if (base.empty())
        std::cerr << "[warning]\tthe spectrum path " << path0 << " ends in '/', so the dataset's results are named \""
                  << outputName << "/.txt\"" << std::endl;
    else
        base = m_folder.UniqueBase(base, path0);
    const std::string prefix = c.m_strOutPath + outputName + "/" + base;
    if (datasetNumber != kNoDataset) std::cout << "output: " << prefix << "\n";
    return prefix;
}

std::unique_ptr<CInput> CDeNovo::_OpenSpectra(CCondition& c, size_t j, unsigned int datasetNumber, unsigned int& count) {
    const std::string& path = c.m_vSpecPaths[j];
    count = 0;
    if (datasetNumber != kNoDataset) std::cout << "[info]\t" << "DATASET " << datasetNumber << "\n";
    std::cout << "[info]\tFILE" << j + 1 << " " << path << ":\t" << std::flush;
    std::unique_ptr<CInput> reader = MakeReader(c.m_strSpecType);
    if (!reader) {
        std::cout << "\n";
        std::cerr << "[error]\tspectrum type " << c.m_strSpecType << " has no reader" << std::endl;
        c.m_bRunFailed.store(true);
        return nullptr;
    }
    if (!CanReadTwice(path, c.m_strSpecType == "DTA")) {
        std::cout << "\n";
        std::cerr << "[error]\t" << path
                  << " is a pipe or a device; spectra are read in two passes, so save them to a file first"
                  << std::endl;
        c.m_bRunFailed.store(true);
        return nullptr;
    }
    count = reader->Count(path);
    std::cout << count << " spectra." << "\n" << std::flush;
    if (reader->Failed() && count == 0) {
        c.m_bRunFailed.store(true);
        return nullptr;
    }
    return reader;
}

void CDeNovo::_CollectRecords(CCondition& c, unsigned int datasetNumber, std::vector<CPairRecord>& records,
                              CInput* single, std::vector<CSpectrum>& head) {
    records.clear();
    std::vector<CSpectrum> chunk;
    auto collect = [&](CInput& reader, int list, bool fromHead) {
        unsigned int index = 0;
        for (bool first = fromHead;; first = false) {
            chunk.clear();
            if (first)
                chunk.swap(head);
            else if (reader.Browse(chunk, kRecordChunk) == 0)
                break;
            for (CSpectrum& s : chunk) {
                CleanTitle(s.m_strTitle);
                records.push_back(CPairRecord::FromSpectrum(s, list, index++));
            }
        }
        reader.Close();
        if (reader.Failed()) c.m_bRunFailed.store(true);
    };
    if (single != nullptr) {
        collect(*single, 0, true);
        return;
    }
    for (size_t j = 0; j < c.m_vSpecPaths.size(); ++j) {
        unsigned int count = 0;
        if (std::unique_ptr<CInput> reader = _OpenSpectra(c, j, datasetNumber, count)) collect(*reader, static_cast<int>(j), false);
    }
}

void CDeNovo::_PairUnits(CCondition& c, CDatasetSummary& summary, const std::vector<CPairRecord>& records,
                         std::vector<CPairUnit>& units) {
    CPairingSettings settings;
    CPairing::ParseMode(c.m_strPairing, settings.eMode);
    settings.lfPrecursorTol = c.m_lfPepTol;
    settings.bPrecursorTolPpm = c.m_bPepTolPpm;
    settings.nScanWindow = c.m_nPairScanWindow;
    settings.lfRtWindow = c.m_lfPairRtWindow;
    CPairing pairing(settings);
    CPairingResult result = pairing.Pair(records);
    for (const std::string& note : result.vNotes) std::cout << "[info]\t" << note << "\n";
    summary.strPairing = c.m_strPairing;
    summary.nRead = static_cast<long long>(records.size());
    summary.nPairs = result.nPairs;
    summary.nLoneHcd = result.nLoneHcd;
    summary.nLoneEtd = result.nLoneEtd;
    summary.nRejected = result.nRejected;
    // Files swapped or from different runs pair few of their spectra.
    const long long hcd = result.nPairs + result.nLoneHcd, etd = result.nPairs + result.nLoneEtd;
    if (std::min(hcd, etd) > 0 && 2 * static_cast<long long>(result.nPairs) < std::min(hcd, etd) && result.nRejected == 0)
        std::cerr << "[warning]\tonly " << result.nPairs << " of " << std::min(hcd, etd)
                  << " possible pairs agree in charge and precursor; are the HCD and ETD spectra of the same run?"
                  << std::endl;
    if (result.nRejected > 0)
        std::cerr << "[warning]\t" << result.nRejected << " of the positional pairs disagree in charge or precursor; "
                  << "their spectra are sequenced alone (are the two files of the same run, HCD first?)" << std::endl;
    units.swap(result.vUnits);
}

void CDeNovo::_FetchSpectra(CCondition& c, const std::vector<CPairRecord>& records, const std::vector<int>& want,
                            std::vector<CSpectrum>& out) {
    out.assign(want.size(), CSpectrum());
    std::vector<CSpectrum> chunk;
    size_t k = 0;
    while (k < want.size()) {
        const int list = records[static_cast<size_t>(want[k])].nList;
        auto wanted = [&](unsigned int index) {
            return k < want.size() && records[static_cast<size_t>(want[k])].nList == list &&
                   records[static_cast<size_t>(want[k])].nIndex == index;
        };
        std::unique_ptr<CInput> reader = MakeReader(c.m_strSpecType);
        reader->SetQuiet(true);  // its spectra's problems were shown when the records were collected
        reader->Count(c.m_vSpecPaths[static_cast<size_t>(list)]);
        unsigned int index = 0;
        for (;;) {
            chunk.clear();
            if (reader->Browse(chunk, kRecordChunk) == 0) break;
            for (CSpectrum& s : chunk) {
                if (wanted(index)) {
                    s.m_nIndex = index;
                    CleanTitle(s.m_strTitle);
                    NormaliseSpectrum(s, SideOf(s, list == 0 ? 0 : 1) == 0 ? "HCD" : "ETD");
                    out[k++] = std::move(s);
                }
                ++index;
            }
            if (k >= want.size() || records[static_cast<size_t>(want[k])].nList != list) break;
        }
        reader->Close();
        // A file that lost spectra since it was counted: what is missing is
        // sequenced as an empty spectrum (an impossible precursor).
        while (k < want.size() && records[static_cast<size_t>(want[k])].nList == list) {
            std::cerr << "[error]\t" << c.m_vSpecPaths[static_cast<size_t>(list)] << " changed while it was sequenced"
                      << std::endl;
            c.m_bRunFailed.store(true);
            ++k;
        }
    }
}

std::pair<size_t, size_t> CDeNovo::ShardRange(size_t n) const {
    const auto k = static_cast<size_t>(m_nShard), shards = static_cast<size_t>(m_nShards);
    return {n * (k - 1) / shards, n * k / shards};
}

bool CDeNovo::_RunDataset(CCondition& c, const std::string& outputName, unsigned int datasetNumber,
                          CDatasetSummary& summary) {
    const auto start = Clock::now();
    const bool paired = c.m_vSpecPaths.size() >= 2;
    summary = CDatasetSummary();
    for (size_t j = 0; j < c.m_vSpecPaths.size(); ++j)
        summary.strDataset += (j ? " + " : "") + c.m_vSpecPaths[j];

    // A single file is read and sequenced a batch at a time. Paired spectra
    // are paired over the whole files: a first pass keeps light records
    // only, and each batch of work units reads its spectra again.
    c.m_strOutDir = _DatasetPrefix(c, outputName, datasetNumber);
    std::unique_ptr<CInput> reader;
    long long total = 0;
    const size_t batch = static_cast<size_t>(c.m_nBatchSize);
    std::vector<CSpectrum> head;
    bool mixed = false;
    if (!paired) {
        c.m_nActivationMode = c.m_strActivation == "ETD" ? 2 : 1;
        unsigned int count = 0;
        reader = _OpenSpectra(c, 0, datasetNumber, count);
        total = count;
        // A single file whose spectra record both HCD and ETD activations
        // holds pairs.
        if (reader) {
            // Room for the whole first read up front: growing the list by
            // doubling would copy every spectrum read so far.
            const size_t first = std::max<size_t>(batch, 1000);
            head.reserve(std::min<size_t>(first, count));
            reader->Browse(head, static_cast<unsigned int>(first));
            bool sides[2] = {false, false};
            for (const CSpectrum& s : head)
                if (const int side = CPairing::ActivationSide(s.m_strActivationRead); side >= 0) sides[side] = true;
            mixed = sides[0] && sides[1];
        }
    }
    std::vector<CPairRecord> records;
    std::vector<CPairUnit> pairUnits;
    long long firstUnit = 0;  // record number of this run's first unit
    bool readable = reader != nullptr;
    if (paired || mixed) {
        c.m_nActivationMode = 3;
        _CollectRecords(c, datasetNumber, records, mixed ? reader.get() : nullptr, head);
        reader.reset();
        readable = !records.empty() || !c.m_bRunFailed.load();
        _PairUnits(c, summary, records, pairUnits);
        if (m_nShards > 1) {
            // This run's share of the units; the shares of all runs make up
            // the whole dataset, record numbers included.
            const auto [lo, hi] = ShardRange(pairUnits.size());
            firstUnit = static_cast<long long>(lo);
            pairUnits.erase(pairUnits.begin() + static_cast<std::ptrdiff_t>(hi), pairUnits.end());
            pairUnits.erase(pairUnits.begin(), pairUnits.begin() + static_cast<std::ptrdiff_t>(lo));
            summary.nRead = summary.nPairs = summary.nLoneHcd = summary.nLoneEtd = 0;
            for (const CPairUnit& u : pairUnits) {
                const bool h = u.nHcd >= 0, e = u.nEtd >= 0;
                summary.nRead += (h ? 1 : 0) + (e ? 1 : 0);
                (h && e ? summary.nPairs : h ? summary.nLoneHcd : summary.nLoneEtd) += 1;
            }
            if (m_nShard != 1) summary.nRejected = 0;
        }
        total = static_cast<long long>(pairUnits.size());
    }
    summary.strMode = c.m_nActivationMode == 3 ? "HCD+ETD" : c.m_nActivationMode == 2 ? "ETD" : "HCD";
    const std::string prefix = c.m_strOutDir;
    if (!readable) {
        // Nothing new to write: an earlier result file stays as it was.
        std::cerr << "[error]\tno spectrum of " << summary.strDataset << " could be read; no result file was written"
                  << std::endl;
        return true;
    }

    const std::string base = prefix.substr(prefix.find_last_of('/') + 1);
    m_folder.RemoveLeftovers(base);
    // The dataset's files: the native records, and the tables when asked for.
    CResultFile native, mztab, tsv, trace;
    std::vector<std::string> runs = c.m_vSpecPaths;
    const bool byScan = c.m_strSpecType == "mzML" || c.m_strSpecType == "mzXML";
    const CMzTabWriter mztabWriter(c, runs, byScan);
    const CTsvWriter tsvWriter(c, runs);
    if ((c.m_bNative && !native.Open(prefix + ".txt")) || (c.m_bMzTab && !mztab.Open(prefix + ".mztab")) ||
        (c.m_bTsv && !tsv.Open(prefix + ".tsv"))) {
        c.m_bRunFailed.store(true);
        return true;
    }
    // The trace of known peptides, beside the results.
    if (c.m_bTrace && !c.m_mapAnswers.empty()) {
        if (!trace.Open(prefix + ".trace.tsv")) {
            c.m_bRunFailed.store(true);
            return true;
        }
        trace.Write("title\tstage\tdetail\n");
        summary.bTrace = true;
    }
    if (mztab.IsOpen()) mztab.Write(mztabWriter.Header("Vemra+ de novo sequencing of " + summary.strDataset));
    if (tsv.IsOpen()) tsv.Write(tsvWriter.Header());

    CBatchSequencer sequencer(c);
    std::vector<CWorkUnit> units;
    sequencer.m_pMzTab = mztab.IsOpen() ? &mztabWriter : nullptr;
    sequencer.m_pTsv = tsv.IsOpen() ? &tsvWriter : nullptr;
    std::vector<CWorkUnit> part;
    long long done = 0;
    auto progress = [&](size_t inBatch) {
        PrintProgress(done + static_cast<long long>(inBatch), total, SecondsSince(start));
    };
    bool stopped = false;
    auto sequence = [&](const std::vector<CWorkUnit>& work) {
        sequencer.Run(work, &g_nStopSignal, progress);
        for (size_t i = 0; i < work.size(); ++i) {
            if (native.IsOpen()) native.Write(sequencer.m_vRecords[i]);
            if (mztab.IsOpen()) mztab.Write(sequencer.m_vMzTabRows[i]);
            if (tsv.IsOpen()) tsv.Write(sequencer.m_vTsvRows[i]);
            if (trace.IsOpen()) {
                trace.Write(sequencer.m_vTraceRows[i]);
                if (sequencer.m_vTraceStage[i] >= 0) ++summary.vTrace[sequencer.m_vTraceStage[i]];
            }
            Count(summary, sequencer.m_vStatus[i], work[i].nMode == 3 ? 2 : 1);
        }
        done += static_cast<long long>(work.size());
        stopped = g_nStopSignal.load() != 0;
    };

    if (paired || mixed) {
        std::vector<int> want;
        std::vector<CSpectrum> store;
        for (size_t first = 0; first < pairUnits.size() && !stopped; first += batch) {
            const size_t last = std::min(pairUnits.size(), first + batch);
            // The batch's spectra, read in file order.
            want.clear();
            for (size_t i = first; i < last; ++i)
                for (const int rec : {pairUnits[i].nHcd, pairUnits[i].nEtd})
                    if (rec >= 0) want.push_back(rec);
            std::sort(want.begin(), want.end(),
                      [&records](int a, int b) { return records[static_cast<size_t>(a)].nList != records[static_cast<size_t>(b)].nList
                                                            ? records[static_cast<size_t>(a)].nList < records[static_cast<size_t>(b)].nList
                                                            : records[static_cast<size_t>(a)].nIndex < records[static_cast<size_t>(b)].nIndex; });
            _FetchSpectra(c, records, want, store);
            auto byFile = [&records](int a, const CPairRecord& key) {
                const CPairRecord& x = records[static_cast<size_t>(a)];
                return x.nList != key.nList ? x.nList < key.nList : x.nIndex < key.nIndex;
            };
            auto spectrum = [&](int rec) -> const CSpectrum* {
                if (rec < 0) return nullptr;
                const auto at = std::lower_bound(want.begin(), want.end(), records[static_cast<size_t>(rec)], byFile);
                return &store[static_cast<size_t>(at - want.begin())];
            };
            // Spectra of the second file are the second run; a single file is one run.
            auto run = [&](int rec) { return rec >= 0 && records[static_cast<size_t>(rec)].nList == 1 ? 2 : 1; };
            units.clear();
            for (size_t i = first; i < last; ++i) {
                const CPairUnit& pu = pairUnits[i];
                const CSpectrum* h = spectrum(pu.nHcd);
                const CSpectrum* e = spectrum(pu.nEtd);
                const long long n = firstUnit + static_cast<long long>(i);
                if (h != nullptr && e != nullptr)
                    units.push_back({h, e, n, 3, run(pu.nHcd), run(pu.nEtd)});
                else if (h != nullptr)
                    units.push_back({h, nullptr, n, 1, run(pu.nHcd), 2});
                else
                    units.push_back({e, nullptr, n, 2, run(pu.nEtd), 2});
            }
            sequence(units);
        }
    } else {
        c.m_vSpectra.assign(1, std::vector<CSpectrum>());
        std::vector<CSpectrum>& list = c.m_vSpectra[0];
        const int fileSide = c.m_nActivationMode == 2 ? 1 : 0;
        long long index = 0;
        const auto [lo, hi] = ShardRange(static_cast<size_t>(total));
        total = static_cast<long long>(hi - lo);
        bool first = true;
        while (!stopped && index < static_cast<long long>(hi)) {
            if (first) {
                list.swap(head);
                first = false;
            } else {
                list.clear();
                reader->Browse(list, static_cast<unsigned int>(batch));
            }
            if (list.empty()) break;
            units.clear();
            for (CSpectrum& s : list) {
                if (index < static_cast<long long>(lo) || index >= static_cast<long long>(hi)) {
                    ++index;
                    continue;
                }
                // A spectrum that records its activation is sequenced in that mode.
                const int side = SideOf(s, fileSide);
                s.m_nIndex = static_cast<unsigned int>(index);
                CleanTitle(s.m_strTitle);
                NormaliseSpectrum(s, side == 0 ? "HCD" : "ETD");
                units.push_back({&s, nullptr, index++, side == 0 ? 1 : 2, 1, 2});
            }
            summary.nRead += static_cast<long long>(units.size());
            sequence(units);
        }
        reader->Close();
        if (reader->Failed()) c.m_bRunFailed.store(true);
    }
    c.m_vSpectra.clear();
    if (!stopped) stopped = g_nStopSignal.load() != 0;
    if (stopped) {
        for (CResultFile* f : {&native, &mztab, &tsv, &trace})
            if (f->IsOpen()) f->Discard();
        return false;
    }
    if (trace.IsOpen() && !trace.Commit()) c.m_bRunFailed.store(true);
    for (CResultFile* f : {&native, &mztab, &tsv}) {
        if (!f->IsOpen()) continue;
        if (f->Commit()) {
            if (summary.strResultFile.empty()) summary.strResultFile = f->Target();
        } else {
            c.m_bRunFailed.store(true);
        }
    }
    summary.lfSeconds = SecondsSince(start);
    return true;
}

int CDeNovo::DenovoRun(const std::string& paramFile, const std::string& outputName) {
    if (isatty(STDOUT_FILENO)) std::cout << "\033[2J\033[H";
    for (const char* line : kBanner) std::cout << line << std::endl;
    std::cout << std::endl;

    const auto start = Clock::now();
    CCondition c;
    if (!_ReadData(c, paramFile, outputName)) return 1;

    if (!c.m_strAnsPath.empty()) {
        if (!std::ifstream(c.m_strAnsPath)) {
            std::cerr << "[error]\tcannot open the answer file " << c.m_strAnsPath << std::endl;
            c.m_bRunFailed.store(true);
        }
        c.GetCorrectSQ();
    }

    CDatasetSummary total;
    total.strDataset = paramFile;
    bool interrupted = false;
    for (size_t i = 0; i < c.m_vFiles.size() && !interrupted; ++i) {
        unsigned int datasetNumber = kNoDataset;
        if (c.m_bFolder) {
            c.m_vSpecPaths.assign(1, c.m_vFiles[i]);
            datasetNumber = static_cast<unsigned int>(i + 1);
        }
        CDatasetSummary summary;
        interrupted = !_RunDataset(c, outputName, datasetNumber, summary);
        if (isatty(STDOUT_FILENO)) std::cout << "\n";
        if (interrupted) break;
        std::cout << "[info]\t" << summary.Text() << "\n";
        if (summary.bTrace) std::cout << "[info]\t" << summary.TraceText() << "\n";
        if (!summary.strResultFile.empty()) {
            const std::string jsonPath = c.m_strOutDir + ".summary.json";
            std::ofstream json(jsonPath, std::ios::trunc);
            json << summary.Json();
            json.close();
            if (!json) {
                std::cerr << "[error]\tcannot write " << jsonPath << std::endl;
                c.m_bRunFailed.store(true);
            }
            std::cout << "[info]\tresults: " << summary.strResultFile << " (summary: " << jsonPath << ")\n";
        }
        runLog << summary.LogLine() << "\n";
        total.Add(summary);
    }

    const double seconds = SecondsSince(start);
    if (interrupted) {
        const int sig = g_nStopSignal.load();
        std::cerr << "\n[error]\tthe run was interrupted (signal " << sig
                  << "); the results of the dataset in hand were removed" << std::endl;
        runLog << "interrupted after " << seconds << " seconds\n";
        return 128 + sig;
    }

    std::cout << "\r\n" << "time: " << std::fixed << std::setprecision(2) << seconds << " seconds" << "\n";
    std::cout.unsetf(std::ios::floatfield);
    std::cout << std::setprecision(6);
    if (c.m_vFiles.size() > 1) std::cout << "[info]\trun: " << total.Text() << "\n";
    if (total.nRead > 0 && seconds > 0)
        std::cout << "[info]\t" << static_cast<long long>(std::llround(static_cast<double>(total.nRead) / seconds))
                  << " spectra per second\n";
    std::cout << std::flush;

    c.m_strOutDir = c.m_strOutPath + outputName + "/";
    std::ofstream timeFile(c.m_strOutDir + "time.txt", std::ios::trunc);
    if (timeFile) {
        timeFile << "time : " << seconds << "seconds" << "\n";
        timeFile.close();
    }
    if (!timeFile) {
        std::cerr << "[error]\tcannot write " << c.m_strOutDir << "time.txt" << std::endl;
        c.m_bRunFailed.store(true);
    }
    runLog << "time=" << seconds << "\n";
    return c.m_bRunFailed.load() ? 1 : 0;
}
