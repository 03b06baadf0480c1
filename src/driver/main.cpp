#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "common/Console.h"
#include "driver/ParamTemplate.h"
#include "driver/denovo.h"
#include "evaluate/Evaluate.h"
#include "driver/Train.h"

namespace {

const char* const kUsage =
    "usage: vemra PARAM_FILE [OUTPUT_NAME] [--shard K/N] | evaluate RESULTS TRUTH [--plot FILE.svg] | "
    "train PARAM TRUTH [PARAM TRUTH ...] -o MODEL | "
    "--print-params [hcd|etd|paired] | --help | --version";

void PrintHelp() {
    std::cout << kUsage << "\n\n"
        "De novo peptide sequencing of tandem mass spectra (HCD, ETD, or HCD+ETD pairs).\n\n"
        "  vemra PARAM_FILE [OUTPUT_NAME]   sequence the spectra the parameter file names\n"
        "        [--shard K/N]              only the K-th of N equal shares of every dataset (K from 1);\n"
        "                                   the N result files joined in order are the whole result\n"
        "  vemra --print-params [MODE]      write a complete parameter file with the recommended\n"
        "                                   settings (MODE hcd, etd or paired; default hcd)\n"
        "  vemra evaluate RESULTS TRUTH [--plot FILE.svg]\n"
        "                                   peptide recall, amino-acid precision and recall and the\n"
        "                                   precision-coverage curve against known peptides\n"
        "  vemra train PARAM TRUTH [PARAM TRUTH ...] -o MODEL\n"
        "                                   fit a re-ranking model (rerank_model=MODEL) on spectra\n"
        "                                   with known peptides\n"
        "  vemra --version                  version and build type\n\n"
        "Keys that matter most (parameter file sections [meta] and [file]):\n"
        "  spec_path=1, spec_path1=FILE     spectra to sequence (two files: HCD first, ETD second)\n"
        "  spec_type=MGF                    MGF, MS2 or DTA (a folder of .dta files)\n"
        "  activation_type=HCD              HCD or ETD for a single file\n"
        "  frag_tol=20, frag_tol_type_ppm=1 fragment tolerance (ppm; 0: Da)\n"
        "  pep_tol=20, pep_tol_type_ppm=1   precursor tolerance (ppm; 0: Da)\n"
        "  thread=0                         worker threads (0: every core)\n"
        "  out_path=out                     where the results folder is made\n\n"
        "Results: OUT_PATH/OUTPUT_NAME/NAME.txt for a spectrum file NAME.ext (OUTPUT_NAME\n"
        "defaults to vemra+), with NAME.summary.json (what became of every spectrum) and\n"
        "time.txt beside it; the run history goes to denovo.log in the current folder.\n\n"
        "Exit status: 0 all work done; 1 parameter errors, or an input could not be read or an\n"
        "output written (everything else was done); 2 wrong command line; 130/143 interrupted\n"
        "(SIGINT/SIGTERM; partial results removed).\n";
}

extern "C" void OnStopSignal(int sig) { RequestStop(sig); }

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe on the console (vemra p | head) must not end the run
    // before its files are written: writes to it just fail.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM stop a run cleanly (partial results removed).
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal session (SIGHUP) stops it the same way.
    sigaction(SIGHUP, &action, nullptr);

    // "--shard K/N" may follow the run's arguments.
    int shard = 1, shards = 1;
    if (argc >= 4 && std::strcmp(argv[argc - 2], "--shard") == 0) {
        char extra = 0;
        if (std::sscanf(argv[argc - 1], "%d/%d%c", &shard, &shards, &extra) != 2 || shards < 1 || shard < 1 ||
            shard > shards) {
            std::cerr << kUsage << std::endl;
            return 2;
        }
        argc -= 2;
    }

    if (argc >= 2 && std::string(argv[1]) == "evaluate") return RunEvaluate(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "train") return RunTrain(argc, argv);
    if (argc >= 2 && argv[1][0] == '-') {
        const std::string opt = argv[1];
        if ((opt == "--help" || opt == "-h") && argc == 2) {
            PrintHelp();
            return 0;
        }
        if (opt == "--version" && argc == 2) {
            std::cout << "vemra " << VEMRA_VERSION << " (" << VEMRA_BUILD_TYPE << " build)\n";
            return 0;
        }
        if (opt == "--print-params" && argc <= 3) {
            const std::string text = ParamTemplate(argc == 3 ? argv[2] : "hcd");
            if (!text.empty()) {
                std::cout << text;
                return 0;
            }
        }
        std::cerr << kUsage << std::endl;
        return 2;
    }
    if (argc != 2 && argc != 3) {
        std::cerr << kUsage << std::endl;
        return 2;
    }

    int status = 0;
    try {
        CDeNovo denovo;
        denovo.m_nShard = shard;
        denovo.m_nShards = shards;
        status = denovo.DenovoRun(argv[1], argc == 3 ? argv[2] : "vemra+");
    } catch (const std::runtime_error& e) {
        console::Error() << e.what();
        return 1;
    }
    // An unwritable run log is a warning: the results were written.
    if (status != 1 || !runLog.str().empty()) WriteRunLog(runLog.str());
    return status;
}
