#include "FuzzCommon.h"
#include "input/MzMLInput.h"
#include "input/MzXMLInput.h"

// Bit 2 of the first byte picks the format (the low bits pick the batch
// size), so one corpus serves both XML readers.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t pick = size ? data[0] : 0;
    const std::string path = FuzzDir() + "/in.mzML";
    WriteFile(path, data, size);
    if (pick & 4) {
        CMzXMLInput in;
        Drain(in, path, pick, false);
    } else {
        CMzMLInput in;
        Drain(in, path, pick, false);
    }
    return 0;
}
