#include "driver/ResultFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "common/Console.h"
#include "driver/OutputFolder.h"

bool CResultFile::Open(const std::string& target) {
    m_strTarget = target;
    m_strTemp = COutputFolder::TempName(target);
    m_out.open(m_strTemp, std::ios::binary | std::ios::trunc);
    if (!m_out) {
        console::Error() << "cannot create the result file " << m_strTemp << ": " << std::strerror(errno);
        return false;
    }
    return true;
}

bool CResultFile::Commit() {
    m_out.close();
    if (!m_out) {
        console::Error() << "writing the result file " << m_strTemp << " failed";
        return false;
    }
    std::error_code ec;
    if (std::filesystem::exists(m_strTarget, ec))
        console::Info() << "the earlier results " << m_strTarget << " are replaced";
    return COutputFolder::Commit(m_strTemp, m_strTarget);
}

void CResultFile::Discard() {
    m_out.close();
    std::remove(m_strTemp.c_str());
}
