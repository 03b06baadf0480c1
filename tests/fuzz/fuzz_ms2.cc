#include "FuzzCommon.h"
#include "input/MS2Input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = FuzzDir() + "/in.ms2";
    WriteFile(path, data, size);
    CMS2Input in;
    Drain(in, path, size ? data[0] : 0, true);
    return 0;
}
