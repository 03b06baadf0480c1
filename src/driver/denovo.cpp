#include "driver/denovo.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <system_error>
#include <thread>

#include "graph/CandidateGen.h"
#include "input/ReaderFactory.h"
#include "preprocess/PreprocessONE.h"

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

// Spectra sequenced in the dataset: the first list, or in paired mode only
// the positions present in both lists.
unsigned int SequencedCount(const CCondition& c) {
    if (c.m_vSpectra.empty()) return 0;
    size_t n = c.m_vSpectra[0].size();
    if (c.m_nActivationMode == 3 && c.m_vSpectra.size() >= 2) n = std::min(n, c.m_vSpectra[1].size());
    return static_cast<unsigned int>(n);
}

std::string WorkerFileName(const std::string& prefix, int index) {
    return prefix + "Vemra+_Result.txt." + std::to_string(index);
}

void PrintProgress(const CCondition& c) {
    long long done = 0;
    for (size_t t = 0; t < c.m_vThreads.size(); ++t)
        done += static_cast<long long>(c.m_vProgress[t].load(std::memory_order_relaxed)) -
                static_cast<long long>(c.m_vThreads[t].m_nBegin) + 1;
    const long long n = SequencedCount(c);
    if (n <= 0) return;
    std::lock_guard<std::mutex> lock(mutex);
    done = std::min(done, n);
    const int bars = static_cast<int>(std::floor(40.0 * static_cast<double>(done) / static_cast<double>(n) + 1));
    std::string line = "\r|";
    line.append(static_cast<size_t>(std::max(bars, 0)), '=');
    if (bars <= 39) line.append(static_cast<size_t>(40 - bars), ' ');
    line += "|\t";
    std::cout << line << std::fixed << std::setprecision(2) << 100.0 * static_cast<double>(done) / static_cast<double>(n)
              << "%\t" << "completed." << std::flush;
}

}  // namespace

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

bool WriteRunLog(const std::string& text) {
    std::vector<std::string> kept;
    {
        std::ifstream in("denovo.log", std::ios::binary);
        std::string line;
        while (in && std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > 999) break;  // a longer line ends the kept history
            kept.push_back(line);
        }
    }
    std::ofstream out("denovo.log", std::ios::binary | std::ios::trunc);
    if (!out) {
        std::cerr << "[error]\tcannot write the run log denovo.log" << std::endl;
        return false;
    }
    out << text;
    for (const std::string& l : kept) out << l << '\n';
    out.close();
    if (!out) {
        std::cerr << "[error]\tcannot write the run log denovo.log" << std::endl;
        return false;
    }
    return true;
}

void* _CallBack(void* arg) {
    CThread& r = *static_cast<CThread*>(arg);
    CCondition& c = *r.m_pCondition;
    c.m_bThreadStarted.store(false);

    std::ofstream out(WorkerFileName(c.m_strOutDir, r.m_nIndex), std::ios::binary | std::ios::trunc);
    if (!out) {
        std::cerr << "\n[error]\tcannot create the result file " << WorkerFileName(c.m_strOutDir, r.m_nIndex)
                  << "; the spectra " << r.m_nBegin << " to " << r.m_nEnd << " are not sequenced" << std::endl;
        c.m_bRunFailed.store(true);
    } else {
        // One preprocessor, one graph and one pair of spectrum buffers per
        // worker, reused for every spectrum of the range.
        CPreprocessONE pre(&c);
        CNCGraph graph(&c, r.m_nIndex);
        CSpectrum first, second;
        const auto& lists = c.m_vSpectra;
        for (unsigned int i = r.m_nBegin; i < r.m_nEnd; ++i) {
            c.m_vProgress[r.m_nIndex].store(static_cast<int>(i), std::memory_order_relaxed);
            if ((i - r.m_nBegin) % 50 == 0 || i + 1 >= r.m_nEnd) PrintProgress(c);
            // The copy the activation does not use stays as normalised; it is
            // only read, so the list entry itself stands in for it.
            const CSpectrum* pFirst = &first;
            const CSpectrum* pSecond = &second;
            switch (c.m_nActivationMode) {
                case 1:
                    first = lists[0][i];
                    pre.PreProcess(first);
                    pSecond = &lists[0][i];
                    break;
                case 2:
                    second = lists[0][i];
                    pre.PreProcess(second);
                    pFirst = &lists[0][i];
                    break;
                default:
                    first = lists[0][i];
                    pre.PreProcess(first);
                    second = lists[1][i];
                    pre.PreProcess(second);
                    break;
            }
            const double mh = pFirst->m_lfPrecursorMH;
            if (c.m_lfMassLowerBound <= mh && mh <= c.m_lfMassUpperBound)
                graph.ConstructGraph(*pFirst, *pSecond, out);
        }
        out.close();
        if (!out) {
            std::cerr << "\n[error]\twriting the result file " << WorkerFileName(c.m_strOutDir, r.m_nIndex)
                      << " failed" << std::endl;
            c.m_bRunFailed.store(true);
        }
    }

    std::lock_guard<std::mutex> lock(mutex);
    r.m_bRunning = false;
    cond.notify_one();
    return nullptr;
}

void CDeNovo::_ReadData(CCondition& c, const std::string& paramFile, const std::string& outputName) {
    c.Read(paramFile);
    c.m_strOutDir = c.m_strOutPath + outputName + "/";
    std::error_code ec;
    std::filesystem::create_directories(c.m_strOutDir, ec);
    if (ec) {
        std::cerr << "[error]\tcannot create the output folder " << c.m_strOutDir << ": " << ec.message()
                  << std::endl;
        c.m_bRunFailed.store(true);
    }
}

void CDeNovo::_ReadSpectra(CCondition& c, const std::string& outputName, const unsigned int& datasetNumber) {
    c.m_vSpectra.clear();
    if (c.m_vSpecPaths.empty()) return;

    // Base name: the file (or DTA folder) name without its folders and
    // without the part from its last '.'.
    const std::string& path0 = c.m_vSpecPaths[0];
    const size_t slash = path0.find_last_of('/');
    std::string base = slash == std::string::npos ? path0 : path0.substr(slash + 1);
    if (size_t dot = base.find_last_of('.'); dot != std::string::npos) base.erase(dot);
    if (base.empty())
        std::cerr << "[warning]\tthe spectrum path " << path0 << " ends in '/', so the dataset's results are named \""
                  << outputName << "/.txt\"" << std::endl;
    c.m_strOutDir = c.m_strOutPath + outputName + "/" + base;
    if (datasetNumber != kNoDataset) std::cout << "output: " << c.m_strOutDir << "\n";

    for (size_t j = 0; j < c.m_vSpecPaths.size(); ++j) {
        const std::string& path = c.m_vSpecPaths[j];
        if (datasetNumber != kNoDataset) std::cout << "[info]\t" << "DATASET " << datasetNumber << "\n";
        std::cout << "[info]\tFILE" << j + 1 << " " << path << ":\t";
        std::unique_ptr<CInput> reader = MakeReader(c.m_strSpecType);
        if (!reader) {
            std::cout << "file type error!" << "\n" << path << "\n" << std::flush;
            c.m_bRunFailed.store(true);
            return;
        }
        std::cout << reader->Count(path) << " spectra." << "\n" << std::flush;
        c.m_vSpectra.emplace_back();
        reader->Browse(c.m_vSpectra.back(), CInput::ALL);
        for (size_t k = 0; k < c.m_vSpectra.back().size(); ++k)
            c.m_vSpectra.back()[k].m_nIndex = static_cast<unsigned int>(k);
        reader->Close();
        if (reader->Failed()) c.m_bRunFailed.store(true);
    }

    const size_t lists = c.m_vSpectra.size();
    if (lists >= 2) {
        for (auto& list : c.m_vSpectra) std::sort(list.begin(), list.end(), CSpectrum::SCANLESS);
        c.m_nActivationMode = 3;
        if (c.m_vSpectra[0].size() != c.m_vSpectra[1].size()) {
            const size_t a = c.m_vSpectra[0].size(), b = c.m_vSpectra[1].size();
            std::cout << "[info]\t" << (a > b ? a - b : b - a) << " spectra left unpaired (" << a << " HCD, " << b
                      << " ETD); only the first " << std::min(a, b) << " positions are sequenced." << "\n";
        }
    } else {
        c.m_nActivationMode = c.m_strActivation == "ETD" ? 2 : 1;
    }
    if (c.m_vSpectra[0].empty()) return;

    for (size_t l = 0; l < lists; ++l) {
        const char* label = c.m_nActivationMode == 1 ? "HCD" : c.m_nActivationMode == 2 ? "ETD" : (l == 0 ? "HCD" : "ETD");
        for (CSpectrum& s : c.m_vSpectra[l]) NormaliseSpectrum(s, label);
    }
}

void DivideRanges(CCondition& c) {
    const unsigned int n = SequencedCount(c);
    const unsigned int T = static_cast<unsigned int>(c.m_vThreads.size());
    if (T == 0) return;
    const unsigned int chunk = n / T + 1;
    for (unsigned int t = 0; t < T; ++t) {
        CThread& w = c.m_vThreads[t];
        w.m_nBegin = std::min(t * chunk, n);
        w.m_nEnd = std::min(w.m_nBegin + chunk, n);
        c.m_vProgress[t].store(static_cast<int>(w.m_nBegin));
    }
}

bool CDeNovo::DenovoRun(const std::string& paramFile, const std::string& outputName) {
    if (isatty(STDOUT_FILENO)) std::cout << "\033[2J\033[H";
    for (const char* line : kBanner) std::cout << line << std::endl;
    std::cout << std::endl;

    const auto start = std::chrono::steady_clock::now();
    CCondition c;
    _ReadData(c, paramFile, outputName);

    if (!c.m_strAnsPath.empty()) {
        if (!std::ifstream(c.m_strAnsPath)) {
            std::cerr << "[error]\tcannot open the answer file " << c.m_strAnsPath << std::endl;
            c.m_bRunFailed.store(true);
        }
        c.GetCorrectSQ();
    }

    for (size_t i = 0; i < c.m_vFiles.size(); ++i) {
        unsigned int datasetNumber = kNoDataset;
        if (c.m_bFolder) {
            c.m_vSpecPaths.assign(1, c.m_vFiles[i]);
            datasetNumber = static_cast<unsigned int>(i + 1);
        }
        _ReadSpectra(c, outputName, datasetNumber);

        DivideRanges(c);

        // Start the workers one after another; a worker that cannot be
        // started has its range run here, so nothing is waited for in vain.
        std::vector<std::thread> workers;
        for (unsigned int t = 0; t < c.m_vThreads.size(); ++t) {
            CThread& w = c.m_vThreads[t];
            {
                std::lock_guard<std::mutex> lock(mutex);
                w.m_bRunning = true;
            }
            c.m_bThreadStarted.store(true);
            try {
                workers.emplace_back(_CallBack, &w);
            } catch (const std::system_error& e) {
                std::cerr << "\n[warning]\tcannot start worker " << t << " (" << e.what()
                          << "); its spectra are sequenced by the main thread" << std::endl;
                _CallBack(&w);
            }
            while (c.m_bThreadStarted.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        {
            std::unique_lock<std::mutex> lock(mutex);
            cond.wait(lock, [&c] {
                return std::none_of(c.m_vThreads.begin(), c.m_vThreads.end(),
                                    [](const CThread& w) { return w.m_bRunning; });
            });
        }
        for (std::thread& th : workers) th.join();

        if (!c.m_vSpecPaths.empty() && !c.MergeOutput()) c.m_bRunFailed.store(true);
        std::cout << "\n";
    }

    const auto end = std::chrono::steady_clock::now();
    const double seconds =
        static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count()) / 1000.0;
    std::cout << "\r\n" << "time: " << seconds << " seconds" << "\n" << std::flush;

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
    return !c.m_bRunFailed.load();
}
