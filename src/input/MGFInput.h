#pragma once
// Reader of MGF files ("BEGIN IONS" ... "END IONS" blocks).

#include <cstdio>
#include <string>

#include "input/Input.h"

class CMGFInput : public CInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;
    bool Close() override;
    ~CMGFInput() override;

private:
    FILE* m_fp = nullptr;
    std::string m_strPath;
    unsigned int m_nTotal = 0;
    unsigned int m_nCurrent = 0;
};
