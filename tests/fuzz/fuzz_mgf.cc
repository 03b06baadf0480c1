#include "FuzzCommon.h"
#include "input/MGFInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = FuzzDir() + "/in.mgf";
    WriteFile(path, data, size);
    CMGFInput in;
    Drain(in, path, size ? data[0] : 0, false);
    return 0;
}
