#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "driver/denovo.h"
#include "evaluate/Evaluate.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "evaluate") return RunEvaluate(argc, argv);
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: vemra PARAM_FILE [OUTPUT_NAME]" << std::endl;
        return 2;
    }
    bool ok = true;
    try {
        CDeNovo denovo;
        ok = denovo.DenovoRun(argv[1], argc == 3 ? argv[2] : "vemra+");
    } catch (const std::runtime_error& e) {
        std::cout << e.what() << std::endl;
        return 1;
    }
    if (!WriteRunLog(runLog.str())) ok = false;
    return ok ? 0 : 1;
}
