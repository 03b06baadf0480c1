#include "driver/denovo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "common/Console.h"
#include "driver/BatchSequencer.h"
#include "driver/ResultFile.h"
#include "input/ReaderFactory.h"
#include "output/MzTabWriter.h"
#include "output/NativeWriter.h"
#include "output/TsvWriter.h"
#include "preprocess/Normalise.h"
#include "rerank/RerankModel.h"

std::ostringstream runLog;

namespace {

const char* const kBanner[7] = {
    "       ####################################",
    "       #                                  #",
    "       #       Welcome to Vemra+          #",
    "       #                                  #",
    "       #                                  #",
    "       #                                  #",
    "       ####################################",
};

// Without a terminal, a plain progress line this often (seconds): a
// cluster job's log shows the run is alive.
constexpr double kProgressInterval = 30.0;

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

// The progress of a dataset: share done, rate and time left. On a terminal
// one line rewritten in place; otherwise a plain line every half minute.
void PrintProgress(long long done, long long total, double seconds) {
    static double lastPlain = 0.0;
    if (total <= 0) return;
    if (seconds < lastPlain) lastPlain = 0.0;  // a new dataset
    done = std::min(done, total);
    const double share = static_cast<double>(done) / static_cast<double>(total);
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0.0;
    char text[160];
    std::snprintf(text, sizeof text, "%5.1f%% done, %.0f spectra/s, %s left", 100.0 * share, rate, Duration(left).c_str());
    if (console::Terminal()) {
        const int bars = static_cast<int>(std::floor(30.0 * share));
        console::Progress("|" + std::string(static_cast<size_t>(bars), '=') + std::string(static_cast<size_t>(30 - bars), ' ') +
                          "| " + text);
    } else if (seconds - lastPlain >= kProgressInterval && done < total) {
        lastPlain = seconds;
        console::Info() << text;
    }
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
        case EUnitStatus::Failed: s.nFailed += spectra; break;
        case EUnitStatus::Stopped: break;
    }
}

const char* ModeName(EMode m) { return m == EMode::Paired ? "HCD+ETD" : m == EMode::ETD ? "ETD" : "HCD"; }

// The files of one dataset: the native records and the tables asked for,
// and the trace of known peptides.
struct CDatasetFiles {
    CResultFile native, mztab, tsv, trace;
};

}  // namespace

void RequestStop(int signal) { g_nStopSignal.store(signal); }

bool WriteRunLog(const std::string& text) {
    // Never written through a link planted in the working folder.
    const int fd = open("denovo.log", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        console::Warning() << "cannot write the run log denovo.log: " << std::strerror(errno);
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
    if (!ok) console::Warning() << "cannot write the run log denovo.log";
    return ok;
}

bool CDeNovo::_ReadData(CCondition& c, const std::string& paramFile, const std::string& outputName) {
    const bool folderReadable = m_pParamText ? c.ReadText(paramFile, *m_pParamText) : c.Read(paramFile);
    LoadModels(c);
    if (c.m_nParamErrors > 0) {
        console::Error() << paramFile << ": " << c.m_nParamErrors << " error" << (c.m_nParamErrors > 1 ? "s" : "")
                         << " in the parameter file; nothing was run";
        return false;
    }
    if (c.m_vSpecPaths.empty()) {
        console::Error() << paramFile
                         << ": no spectrum file is configured; under [file] set spec_path=1 and spec_path1=FILE "
                            "(run vemra --print-params for a complete parameter file)";
        return false;
    }
    if (c.m_bFolder && c.m_vFiles.empty()) {
        if (folderReadable)
            console::Error() << "the folder " << c.m_vSpecPaths[0] << " holds no " << c.m_strSpecType
                             << " file to sequence";
        return false;
    }
    m_run.strOutDir = m_plan.strFolder.empty() ? c.m_strOutPath + outputName + "/" : m_plan.strFolder;
    return m_folder.Open(m_run.strOutDir, m_plan.bOwnFolder);
}

std::string CDeNovo::_DatasetPrefix(const std::string& outputName) {
    // Base name: the file (or DTA folder) name without its folders and
    // without the part from its last '.'.
    const std::string& path0 = m_run.vPaths[0];
    const size_t slash = path0.find_last_of('/');
    std::string base = slash == std::string::npos ? path0 : path0.substr(slash + 1);
    // A compressed file is named after what it holds: x.mzML.gz gives x.
    if (base.size() > 3 && base.compare(base.size() - 3, 3, ".gz") == 0) base.erase(base.size() - 3);
    if (size_t dot = base.find_last_of('.'); dot != std::string::npos) base.erase(dot);
    if (base.empty())
        console::Warning() << "the spectrum path " << path0 << " ends in '/', so the dataset's results are named \""
                           << outputName << "/.txt\"";
    else
        base = m_folder.UniqueBase(base, path0);
    if (!m_plan.bOwnFolder) m_folder.RemoveLeftovers(base);
    // One named table: the summary goes beside it, named after it.
    if (!m_plan.strFile.empty()) {
        const std::string& f = m_plan.strFile;
        const size_t dot = f.find_last_of('.'), slash = f.find_last_of('/');
        return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? f.substr(0, dot) : f;
    }
    const std::string prefix = m_run.strOutDir + base;
    if (m_run.nDatasetNumber != 0) console::Info() << "output: " << prefix;
    return prefix;
}

std::unique_ptr<CInput> CDeNovo::_OpenSpectra(const CCondition& c, size_t j, unsigned int& count) {
    const std::string& path = m_run.vPaths[j];
    count = 0;
    if (m_run.nDatasetNumber != 0) console::Info() << "DATASET " << m_run.nDatasetNumber;
    std::unique_ptr<CInput> reader = MakeReader(c.m_strSpecType);
    if (!reader) {
        console::Error() << "spectrum type " << c.m_strSpecType << " has no reader";
        m_run.Fail();
        return nullptr;
    }
    if (!CanReadTwice(path, c.m_strSpecType == "DTA")) {
        console::Error() << path << " is a pipe or a device; spectra are read in two passes, so save them to a file first";
        m_run.Fail();
        return nullptr;
    }
    count = reader->Count(path);
    console::Info() << "FILE" << j + 1 << " " << path << ": " << count << " spectra.";
    if (count == 0) {
        // An empty result would replace earlier results for nothing: most
        // often the file is of another format than spec_type says.
        if (!reader->Failed())
            console::Error() << "no spectrum found in " << path << " (is spec_type=" << c.m_strSpecType << " right?)";
        m_run.Fail();
        return nullptr;
    }
    return reader;
}

bool CDeNovo::_OpenDataset(const CCondition& c, CDatasetSummary& summary, CDatasetInput& in) {
    const bool paired = m_run.vPaths.size() >= 2;
    const size_t batch = static_cast<size_t>(c.m_nBatchSize);
    bool mixed = false;
    if (!paired) {
        in.eMode = c.m_strActivation == "ETD" ? EMode::ETD : EMode::HCD;
        unsigned int count = 0;
        in.pReader = _OpenSpectra(c, 0, count);
        in.nTotal = count;
        // A single file whose spectra record both HCD and ETD activations
        // holds pairs.
        if (in.pReader) {
            // Room for the whole first read up front: growing the list by
            // doubling would copy every spectrum read so far.
            const size_t first = std::max<size_t>(batch, 1000);
            in.vHead.reserve(std::min<size_t>(first, count));
            in.pReader->Browse(in.vHead, static_cast<unsigned int>(first));
            mixed = _RecordsBothActivations(c, in, first);
        }
    }
    in.bPaired = paired || mixed;
    if (!in.bPaired) {
        if (in.pReader) _CheckFileActivation(c, in);
        return in.pReader != nullptr;
    }
    in.eMode = EMode::Paired;
    _CollectRecords(c, in, mixed ? in.pReader.get() : nullptr);
    in.pReader.reset();
    in.vHead.clear();
    _PairUnits(c, summary, in);
    return !in.vRecords.empty() || !m_run.Failed();
}

bool CDeNovo::_RecordsBothActivations(const CCondition& c, CDatasetInput& in, size_t asked) {
    bool sides[2] = {false, false};
    auto note = [&sides](const std::vector<CSpectrum>& spectra) {
        for (const CSpectrum& s : spectra)
            if (const int side = CPairing::ActivationSide(s.m_strActivationRead); side >= 0) sides[side] = true;
        return sides[0] && sides[1];
    };
    // A head shorter than asked for is the whole file.
    if (note(in.vHead) || in.vHead.size() < asked) return sides[0] && sides[1];
    // The whole file decides, whatever the batch size: a light pass over the
    // rest, then the file from its start again.
    std::vector<CSpectrum> chunk;
    bool both = false;
    while (!both && in.pReader->Browse(chunk, kRecordChunk) > 0) {
        both = note(chunk);
        chunk.clear();
    }
    const size_t head = in.vHead.size();
    in.vHead.clear();
    in.pReader->Close();
    in.pReader = MakeReader(c.m_strSpecType);
    in.pReader->Count(m_run.vPaths[0]);
    in.pReader->Browse(in.vHead, static_cast<unsigned int>(head));
    return both;
}

void CDeNovo::_CollectRecords(const CCondition& c, CDatasetInput& in, CInput* single) {
    std::vector<CPairRecord>& records = in.vRecords;
    records.clear();
    std::vector<CSpectrum> chunk;
    CFragmentationGuess guess(c.m_lfFragTol, c.m_bFragTolPpm);
    CFragmentationVerdict verdicts[2];
    auto collect = [&](CInput& reader, int list, bool fromHead) {
        unsigned int index = 0;
        guess.Clear();
        for (bool first = fromHead;; first = false) {
            chunk.clear();
            if (first)
                chunk.swap(in.vHead);
            else if (reader.Browse(chunk, kRecordChunk) == 0)
                break;
            for (CSpectrum& s : chunk) {
                // The file's first spectra tell what fragmentation it holds.
                if (index < CFragmentationGuess::kRecommendedSpectra) guess.Add(s);
                CleanTitle(s.m_strTitle);
                records.push_back(CPairRecord::FromSpectrum(s, list, index++));
            }
        }
        reader.Close();
        if (reader.Failed()) m_run.Fail();
        in.nSkipped += reader.Skipped();
        if (list < 2) verdicts[list] = guess.Verdict();
    };
    if (single != nullptr) {
        collect(*single, 0, true);
        return;
    }
    for (size_t j = 0; j < m_run.vPaths.size(); ++j) {
        unsigned int count = 0;
        if (std::unique_ptr<CInput> reader = _OpenSpectra(c, j, count)) collect(*reader, static_cast<int>(j), false);
    }
    if (m_run.vPaths.size() == 2) _JudgeFileSides(verdicts, in);
}

void CDeNovo::_CheckFileActivation(const CCondition& c, const CDatasetInput& in) {
    // Spectra that record their activation are sequenced by it anyway.
    for (const CSpectrum& s : in.vHead)
        if (CPairing::ActivationSide(s.m_strActivationRead) >= 0) return;
    CFragmentationGuess guess(c.m_lfFragTol, c.m_bFragTolPpm);
    const EFragmentation seen = guess.Guess(in.vHead).eFragmentation;
    if (seen == EFragmentation::ETD_LIKE && in.eMode == EMode::HCD)
        console::Warning() << "the spectra of " << m_run.vPaths[0]
                           << " show c/z ions (ETD), but they are sequenced as HCD; set activation_type=ETD if they are";
    else if (seen == EFragmentation::HCD_LIKE && in.eMode == EMode::ETD)
        console::Warning() << "the spectra of " << m_run.vPaths[0]
                           << " show b/y ions (HCD or CID), but they are sequenced as ETD; set activation_type=HCD if they are";
}

void CDeNovo::_JudgeFileSides(const CFragmentationVerdict verdicts[2], CDatasetInput& in) {
    const EFragmentation first = verdicts[0].eFragmentation, second = verdicts[1].eFragmentation;
    if (first == EFragmentation::ETD_LIKE && second == EFragmentation::HCD_LIKE) {
        console::Info() << "the spectra of " << m_run.vPaths[0] << " show c/z ions and those of " << m_run.vPaths[1]
                        << " b/y ions: the files are taken as ETD and HCD (given the other way round)";
        in.nFileSide[0] = 1;
        in.nFileSide[1] = 0;
        // Pairing reads the side of a spectrum without a recorded activation
        // from its record.
        for (CPairRecord& r : in.vRecords)
            if (CPairing::ActivationSide(r.strActivation) < 0) r.strActivation = r.nList == 0 ? "ETD" : "HCD";
        return;
    }
    if (first == EFragmentation::ETD_LIKE)
        console::Warning() << "the spectra of " << m_run.vPaths[0]
                           << " show c/z ions (ETD) although the first file is the HCD side";
    if (second == EFragmentation::HCD_LIKE)
        console::Warning() << "the spectra of " << m_run.vPaths[1]
                           << " show b/y ions (HCD) although the second file is the ETD side";
}

void CDeNovo::_PairUnits(const CCondition& c, CDatasetSummary& summary, CDatasetInput& in) {
    CPairingSettings settings;
    CPairing::ParseMode(c.m_strPairing, settings.eMode);
    settings.lfPrecursorTol = c.m_lfPepTol;
    settings.bPrecursorTolPpm = c.m_bPepTolPpm;
    settings.nScanWindow = c.m_nPairScanWindow;
    settings.lfRtWindow = c.m_lfPairRtWindow;
    CPairing pairing(settings);
    CPairingResult result = pairing.Pair(in.vRecords);
    for (const std::string& note : result.vNotes) console::Info() << note;
    summary.strPairing = c.m_strPairing;
    summary.nRead = static_cast<long long>(in.vRecords.size());
    summary.nPairs = result.nPairs;
    summary.nLoneHcd = result.nLoneHcd;
    summary.nLoneEtd = result.nLoneEtd;
    summary.nRejected = result.nRejected;
    // Files swapped or from different runs pair few of their spectra.
    const long long hcd = result.nPairs + result.nLoneHcd, etd = result.nPairs + result.nLoneEtd;
    if (std::min(hcd, etd) > 0 && 2 * static_cast<long long>(result.nPairs) < std::min(hcd, etd) && result.nRejected == 0)
        console::Warning() << "only " << result.nPairs << " of " << std::min(hcd, etd)
                           << " possible pairs agree in charge and precursor; are the HCD and ETD spectra of the same run?";
    if (result.nRejected > 0)
        console::Warning() << result.nRejected << " of the positional pairs disagree in charge or precursor; "
                           << "their spectra are sequenced alone (are the two files of the same run, HCD first?)";
    in.vUnits.swap(result.vUnits);
    if (m_nShards > 1) {
        // This run's share of the units; the shares of all runs make up the
        // whole dataset, record numbers included.
        const auto [lo, hi] = ShardRange(in.vUnits.size());
        in.nFirstUnit = static_cast<long long>(lo);
        in.vUnits.erase(in.vUnits.begin() + static_cast<std::ptrdiff_t>(hi), in.vUnits.end());
        in.vUnits.erase(in.vUnits.begin(), in.vUnits.begin() + static_cast<std::ptrdiff_t>(lo));
        summary.nRead = summary.nPairs = summary.nLoneHcd = summary.nLoneEtd = 0;
        for (const CPairUnit& u : in.vUnits) {
            const bool h = u.nHcd >= 0, e = u.nEtd >= 0;
            summary.nRead += (h ? 1 : 0) + (e ? 1 : 0);
            (h && e ? summary.nPairs : h ? summary.nLoneHcd : summary.nLoneEtd) += 1;
        }
        if (m_nShard != 1) summary.nRejected = 0;
    }
    in.nTotal = static_cast<long long>(in.vUnits.size());
}

void CDeNovo::_FetchSpectra(const CCondition& c, const CDatasetInput& in, const std::vector<int>& want,
                            std::vector<CSpectrum>& out, long long& reduced) {
    const std::vector<CPairRecord>& records = in.vRecords;
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
        reader->Count(m_run.vPaths[static_cast<size_t>(list)]);
        unsigned int index = 0;
        for (;;) {
            chunk.clear();
            if (reader->Browse(chunk, kRecordChunk) == 0) break;
            for (CSpectrum& s : chunk) {
                if (wanted(index)) {
                    s.m_nIndex = index;
                    CleanTitle(s.m_strTitle);
                    reduced += NormaliseSpectrum(s, SideOf(s, in.nFileSide[list == 0 ? 0 : 1]) == 0 ? "HCD" : "ETD",
                                                 c.m_nMaxPeaks);
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
            console::Error() << m_run.vPaths[static_cast<size_t>(list)] << " changed while it was sequenced";
            m_run.Fail();
            ++k;
        }
    }
}

std::pair<size_t, size_t> CDeNovo::ShardRange(size_t n) const {
    const auto k = static_cast<size_t>(m_nShard), shards = static_cast<size_t>(m_nShards);
    return {n * (k - 1) / shards, n * k / shards};
}

template <class F>
void CDeNovo::_SequenceSingle(const CCondition& c, CDatasetInput& in, CDatasetSummary& summary, F sequence) {
    const size_t batch = static_cast<size_t>(c.m_nBatchSize);
    std::vector<CSpectrum> list;
    std::vector<CWorkUnit> units;
    const int fileSide = in.eMode == EMode::ETD ? 1 : 0;
    long long index = 0;
    const auto [lo, hi] = ShardRange(static_cast<size_t>(in.nTotal));
    in.nTotal = static_cast<long long>(hi - lo);
    bool first = true;
    while (g_nStopSignal.load() == 0 && index < static_cast<long long>(hi)) {
        const auto t0 = Clock::now();
        if (first) {
            list.swap(in.vHead);
            first = false;
        } else {
            list.clear();
            in.pReader->Browse(list, static_cast<unsigned int>(batch));
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
            summary.nPeaksReduced += NormaliseSpectrum(s, side == 0 ? "HCD" : "ETD", c.m_nMaxPeaks);
            units.push_back({&s, nullptr, index++, side == 0 ? EMode::HCD : EMode::ETD, 1, 2});
        }
        if (m_pStageTimes) m_pStageTimes->lfReading += SecondsSince(t0);
        summary.nRead += static_cast<long long>(units.size());
        sequence(units);
    }
    in.pReader->Close();
    summary.nSkipped += in.pReader->Skipped();
    if (in.pReader->Failed()) {
        m_run.Fail();
    } else if (g_nStopSignal.load() == 0 && index + in.pReader->Skipped() < static_cast<long long>(hi)) {
        // Counted, then gone: the file was cut or replaced while it was read.
        console::Error() << m_run.vPaths[0] << " changed while it was sequenced: " << hi << " spectra counted, "
                         << index << " read";
        m_run.Fail();
    }
}

template <class F>
void CDeNovo::_SequencePaired(const CCondition& c, CDatasetInput& in, F sequence) {
    const size_t batch = static_cast<size_t>(c.m_nBatchSize);
    const std::vector<CPairRecord>& records = in.vRecords;
    auto byFile = [&records](int a, const CPairRecord& key) {
        const CPairRecord& x = records[static_cast<size_t>(a)];
        return x.nList != key.nList ? x.nList < key.nList : x.nIndex < key.nIndex;
    };
    std::vector<int> want;
    std::vector<CSpectrum> store;
    std::vector<CWorkUnit> units;
    for (size_t first = 0; first < in.vUnits.size() && g_nStopSignal.load() == 0; first += batch) {
        const size_t last = std::min(in.vUnits.size(), first + batch);
        const auto t0 = Clock::now();
        // The batch's spectra, read in file order.
        want.clear();
        for (size_t i = first; i < last; ++i)
            for (const int rec : {in.vUnits[i].nHcd, in.vUnits[i].nEtd})
                if (rec >= 0) want.push_back(rec);
        std::sort(want.begin(), want.end(), [&](int a, int b) { return byFile(a, records[static_cast<size_t>(b)]); });
        _FetchSpectra(c, in, want, store, in.nPeaksReduced);
        auto spectrum = [&](int rec) -> const CSpectrum* {
            if (rec < 0) return nullptr;
            const auto at = std::lower_bound(want.begin(), want.end(), records[static_cast<size_t>(rec)], byFile);
            return &store[static_cast<size_t>(at - want.begin())];
        };
        // Spectra of the second file are the second run; a single file is one run.
        auto run = [&](int rec) { return rec >= 0 && records[static_cast<size_t>(rec)].nList == 1 ? 2 : 1; };
        units.clear();
        for (size_t i = first; i < last; ++i) {
            const CPairUnit& pu = in.vUnits[i];
            const CSpectrum* h = spectrum(pu.nHcd);
            const CSpectrum* e = spectrum(pu.nEtd);
            const long long n = in.nFirstUnit + static_cast<long long>(i);
            if (h != nullptr && e != nullptr)
                units.push_back({h, e, n, EMode::Paired, run(pu.nHcd), run(pu.nEtd)});
            else if (h != nullptr)
                units.push_back({h, nullptr, n, EMode::HCD, run(pu.nHcd), 2});
            else
                units.push_back({e, nullptr, n, EMode::ETD, run(pu.nEtd), 2});
        }
        if (m_pStageTimes) m_pStageTimes->lfReading += SecondsSince(t0);
        sequence(units);
    }
}

bool CDeNovo::_RunDataset(const CCondition& c, const std::string& outputName, CDatasetSummary& summary) {
    const auto start = Clock::now();
    summary = CDatasetSummary();
    for (size_t j = 0; j < m_run.vPaths.size(); ++j) summary.strDataset += (j ? " + " : "") + m_run.vPaths[j];
    m_run.strPrefix = _DatasetPrefix(outputName);
    const std::string& prefix = m_run.strPrefix;
    CDatasetInput in;
    const auto opening = Clock::now();
    const bool readable = _OpenDataset(c, summary, in);
    if (m_pStageTimes) m_pStageTimes->lfReading += SecondsSince(opening);
    summary.strMode = ModeName(in.eMode);
    if (!readable) {
        // Nothing new to write: an earlier result file stays as it was.
        console::Error() << "no spectrum of " << summary.strDataset << " could be read; no result file was written";
        return true;
    }

    CDatasetFiles files;
    const CNativeWriter nativeWriter(c);
    const CMzTabWriter mztabWriter(c, m_run.vPaths, c.m_strSpecType);
    const CTsvWriter tsvWriter(c, m_run.vPaths);
    auto target = [&](const char* ext) { return m_plan.strFile.empty() ? prefix + ext : m_plan.strFile; };
    if ((c.m_bNative && !files.native.Open(target(".txt"))) || (c.m_bMzTab && !files.mztab.Open(target(".mztab"))) ||
        (c.m_bTsv && !files.tsv.Open(target(".tsv")))) {
        m_run.Fail();
        return true;
    }
    // The trace of known peptides, beside the results.
    const bool trace = c.m_bTrace && !c.m_mapAnswers.empty();
    if (trace) {
        if (!files.trace.Open(prefix + ".trace.tsv")) {
            m_run.Fail();
            return true;
        }
        files.trace.Write("title\tstage\tdetail\n");
        summary.bTrace = true;
    }
    if (files.mztab.IsOpen()) files.mztab.Write(mztabWriter.Header("Vemra+ de novo sequencing of " + summary.strDataset));
    if (files.tsv.IsOpen()) files.tsv.Write(tsvWriter.Header());

    CBatchOptions options;
    options.pNative = files.native.IsOpen() ? &nativeWriter : nullptr;
    options.pMzTab = files.mztab.IsOpen() ? &mztabWriter : nullptr;
    options.pTsv = files.tsv.IsOpen() ? &tsvWriter : nullptr;
    options.bTrace = trace;
    options.bStageTimes = m_pStageTimes != nullptr;
    CBatchSequencer sequencer(c, options);
    long long done = 0;
    auto sequence = [&](const std::vector<CWorkUnit>& work) {
        // Each unit is written as soon as it is next in order.
        auto write = [&](size_t i) {
            const auto t0 = Clock::now();
            if (files.native.IsOpen()) files.native.Write(sequencer.m_vRecords[i]);
            if (files.mztab.IsOpen()) files.mztab.Write(sequencer.m_vMzTabRows[i]);
            if (files.tsv.IsOpen()) files.tsv.Write(sequencer.m_vTsvRows[i]);
            if (trace) {
                files.trace.Write(sequencer.m_vTraceRows[i]);
                if (sequencer.m_vTraceStage[i] >= 0) ++summary.vTrace[sequencer.m_vTraceStage[i]];
            }
            Count(summary, sequencer.m_vStatus[i], work[i].eMode == EMode::Paired ? 2 : 1);
            if (sequencer.m_vStatus[i] == EUnitStatus::Failed) m_run.Fail();
            if (m_pStageTimes) m_pStageTimes->lfWriting += SecondsSince(t0);
        };
        sequencer.Run(
            work, &g_nStopSignal,
            [&](size_t inBatch) { PrintProgress(done + static_cast<long long>(inBatch), in.nTotal, SecondsSince(start)); },
            write);
        done += static_cast<long long>(work.size());
    };
    if (in.bPaired)
        _SequencePaired(c, in, sequence);
    else
        _SequenceSingle(c, in, summary, sequence);
    summary.nPeaksReduced += in.nPeaksReduced;
    summary.nSkipped += in.nSkipped;
    if (m_pStageTimes) m_pStageTimes->Add(sequencer.StageTimes());

    if (g_nStopSignal.load() != 0) {
        for (CResultFile* f : {&files.native, &files.mztab, &files.tsv, &files.trace})
            if (f->IsOpen()) f->Discard();
        return false;
    }
    // A file whose writing failed is already gone (and said so).
    if (trace && !files.trace.Commit()) m_run.Fail();
    const std::pair<CResultFile*, bool> written[] = {
        {&files.native, c.m_bNative}, {&files.mztab, c.m_bMzTab}, {&files.tsv, c.m_bTsv}};
    for (const auto& [f, asked] : written) {
        if (!asked) continue;
        if (f->Commit()) {
            if (summary.strResultFile.empty()) summary.strResultFile = f->Target();
        } else {
            m_run.Fail();
        }
    }
    summary.lfSeconds = SecondsSince(start);
    return true;
}

void CDeNovo::_ReportDataset(const CDatasetSummary& summary) {
    console::Info() << summary.Text();
    if (summary.bTrace) console::Info() << summary.TraceText();
    if (!summary.strResultFile.empty()) {
        const std::string jsonPath = m_run.strPrefix + ".summary.json";
        if (!CResultFile::WriteWhole(jsonPath, summary.Json())) m_run.Fail();
        console::Info() << "results: " << summary.strResultFile << " (summary: " << jsonPath << ")";
    }
    runLog << summary.LogLine() << "\n";
}

void CDeNovo::_ReportTime(double seconds, const CDatasetSummary& total, size_t datasets) {
    char line[64];
    std::snprintf(line, sizeof line, "time: %.2f seconds", seconds);
    console::Info() << line;
    if (datasets > 1) console::Info() << "run: " << total.Text();
    if (total.nRead > 0 && seconds > 0)
        console::Info() << static_cast<long long>(std::llround(static_cast<double>(total.nRead) / seconds))
                        << " spectra per second";
    std::ostringstream timeText;
    timeText << "time : " << seconds << "seconds" << "\n";
    if (m_plan.bTimeFile && !CResultFile::WriteWhole(m_run.strOutDir + "time.txt", timeText.str())) m_run.Fail();
    runLog << "time=" << seconds << "\n";
}

int CDeNovo::DenovoRun(const std::string& paramFile, const std::string& outputName) {
    // The banner greets a person at a terminal; logs and pipes get none.
    if (console::Terminal() && !console::Quiet()) {
        for (const char* line : kBanner) std::cerr << line << "\n";
        std::cerr << std::endl;
    }

    const auto start = Clock::now();
    CCondition c;
    if (!_ReadData(c, paramFile, outputName)) return 1;
    if (!c.m_strAnsPath.empty()) {
        if (!std::ifstream(c.m_strAnsPath)) {
            console::Error() << "cannot open the answer file " << c.m_strAnsPath;
            m_run.Fail();
        }
        c.GetCorrectSQ();
    }

    CDatasetSummary& total = m_total;
    total = CDatasetSummary();
    total.strDataset = paramFile;
    bool interrupted = false;
    for (size_t i = 0; i < c.m_vFiles.size() && !interrupted; ++i) {
        // Folder mode: every file of the folder is a dataset of its own.
        m_run.vPaths = c.m_bFolder ? std::vector<std::string>{c.m_vFiles[i]} : c.m_vSpecPaths;
        m_run.nDatasetNumber = c.m_bFolder ? static_cast<unsigned int>(i + 1) : 0;
        CDatasetSummary summary;
        interrupted = !_RunDataset(c, outputName, summary);
        console::Progress("");
        if (interrupted) break;
        _ReportDataset(summary);
        total.Add(summary);
    }

    const double seconds = SecondsSince(start);
    if (interrupted) {
        const int sig = g_nStopSignal.load();
        console::Error() << "the run was interrupted (signal " << sig << "); the results of the dataset in hand were removed";
        runLog << "interrupted after " << seconds << " seconds\n";
        return 128 + sig;
    }
    _ReportTime(seconds, total, c.m_vFiles.size());
    return m_run.Failed() ? 1 : 0;
}
