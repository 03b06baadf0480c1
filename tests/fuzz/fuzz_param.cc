#include <cstdio>
#include <stdexcept>

#include "FuzzCommon.h"
#include "conditions/Condition.h"

// The input is a parameter file; the part after the first 0x01 byte, if any,
// is an answer file named by it. Read and GetCorrectSQ must never crash,
// hang or overrun, whatever the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string param = FuzzDir() + "/p.param", ans = FuzzDir() + "/a.txt";
    size_t cut = 0;
    while (cut < size && data[cut] != 1) ++cut;
    WriteFile(param, data, cut);
    WriteFile(ans, cut < size ? data + cut + 1 : data, cut < size ? size - cut - 1 : 0);
    CCondition c;
    c.Read(param);
    c.m_strAnsPath = ans;
    c.GetCorrectSQ();
    return 0;
}
