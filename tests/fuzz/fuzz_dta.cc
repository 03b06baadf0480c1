#include <cstring>

#include "FuzzCommon.h"
#include "input/DTAInput.h"

// The input is split at each "|" into up to four DTA files of one folder.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string dir = FuzzDir() + "/dta";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    size_t start = 0;
    for (int f = 0; f < 4 && start <= size; ++f) {
        const void* bar = size > start ? std::memchr(data + start, '|', size - start) : nullptr;
        size_t stop = bar ? static_cast<size_t>(static_cast<const uint8_t*>(bar) - data) : size;
        WriteFile(dir + "/f" + std::to_string(f) + ((f % 2) ? ".DTA" : ".dta"), data + start, stop - start);
        start = stop + 1;
    }
    CDTAInput in;
    Drain(in, dir, size ? data[0] : 0, false);
    return 0;
}
