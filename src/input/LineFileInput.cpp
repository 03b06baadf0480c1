#include "input/LineFileInput.h"

#include <iostream>

unsigned int CLineFileInput::_Open(const std::string& path, bool (*counts)(const char* line, size_t len)) {
    Close();
    m_strPath = path;
    m_nTotal = 0;
    m_nCurrent = 0;
    unsigned int count = 0;
    m_fp = textscan::OpenAndCount(path, m_reader, counts, count);
    if (m_fp == nullptr) {
        m_bFailed = true;
        return 0;
    }
    m_nTotal = count;
    return count;
}

unsigned int CLineFileInput::_EndBrowse(unsigned int start) {
    if (std::ferror(m_fp) && !m_bFailed) {
        std::cerr << "[error]\tcannot read spectrum file " << m_strPath << std::endl;
        m_bFailed = true;
    }
    return m_nCurrent - start;
}

bool CLineFileInput::Close() {
    if (m_fp != nullptr) {
        std::fclose(m_fp);
        m_fp = nullptr;
    }
    m_reader.Reset(nullptr);
    return true;
}

CLineFileInput::~CLineFileInput() { Close(); }
