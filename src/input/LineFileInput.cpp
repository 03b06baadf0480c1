#include "input/LineFileInput.h"

#include "common/Console.h"

unsigned int CLineFileInput::_Open(const std::string& path, textscan::CLineCounter& counter) {
    Close();
    m_strPath = path;
    m_nTotal = 0;
    m_nCurrent = 0;
    m_nSkipped = 0;
    unsigned int count = 0;
    m_fp = textscan::OpenAndCount(path, m_reader, counter, count);
    if (m_fp == nullptr) {
        m_bFailed = true;
        return 0;
    }
    m_nTotal = count;
    return count;
}

void CLineFileInput::_WarnCut(unsigned long long number) {
    _Warn(m_strPath, number, "",
          "a line longer than " + std::to_string(textscan::CLineReader::MAX_LINE) +
              " characters is cut there; the rest of it is ignored");
}

unsigned int CLineFileInput::_EndBrowse(unsigned int start) {
    if (std::ferror(m_fp) && !m_bFailed) {
        console::Error() << "cannot read spectrum file " << m_strPath;
        m_bFailed = true;
    }
    return m_nCurrent - start;
}

bool CLineFileInput::Close() {
    if (m_fp != nullptr) {
        std::fclose(m_fp);
        m_fp = nullptr;
        _EndProblems(m_strPath);
    }
    m_reader.Reset(nullptr);
    return true;
}

CLineFileInput::~CLineFileInput() { Close(); }
