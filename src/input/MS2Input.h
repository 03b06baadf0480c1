#pragma once
// Reader of MS2 files (S / Z / I lines and peak lines). Titles are composed
// as "BASE.SCAN.SCAN.CHARGE.dta"; peaks come out sorted by m/z.

#include <cstdio>
#include <string>

#include "input/Input.h"

class CMS2Input : public CInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;
    bool Close() override;
    ~CMS2Input() override;

private:
    FILE* m_fp = nullptr;
    std::string m_strPath;
    unsigned int m_nTotal = 0;
    unsigned int m_nCurrent = 0;
    std::string m_strBaseName;  // file name without folders and extension
};
