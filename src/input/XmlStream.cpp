#include "input/XmlStream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {
// Bytes asked of zlib per read.
constexpr size_t CHUNK = 1 << 16;
}  // namespace

CXmlStream::~CXmlStream() { Close(); }

bool CXmlStream::Open(const std::string& path) {
    Close();
    m_pFile = std::fopen(path.c_str(), "rb");
    if (m_pFile == nullptr) return false;
    m_vIn.resize(1 << 15);
    const size_t got = std::fread(m_vIn.data(), 1, m_vIn.size(), m_pFile);
    m_bGzip = got >= 2 && m_vIn[0] == 0x1f && m_vIn[1] == 0x8b;
    if (!m_bGzip) {
        // Plain text: what was read ahead is the start of the buffer.
        m_vBuf.resize(std::max(m_vBuf.size(), CHUNK));
        std::memcpy(m_vBuf.data(), m_vIn.data(), got);
        m_nEnd = got;
        if (got == 0 && std::ferror(m_pFile)) {
            m_strError = "read error";
            m_bEof = true;
        }
        return true;
    }
    auto* z = new z_stream{};
    z->next_in = m_vIn.data();
    z->avail_in = static_cast<uInt>(got);
    // 16 + window bits: a gzip wrapper.
    if (inflateInit2(z, 15 + 16) != Z_OK) {
        delete z;
        Close();
        return false;
    }
    m_pZ = z;
    return true;
}

void CXmlStream::Close() {
    if (m_pZ != nullptr) {
        auto* z = static_cast<z_stream*>(m_pZ);
        inflateEnd(z);
        delete z;
        m_pZ = nullptr;
    }
    if (m_pFile != nullptr) std::fclose(m_pFile);
    m_pFile = nullptr;
    m_nPos = m_nEnd = 0;
    m_nBase = 0;
    m_bEof = false;
    m_strError.clear();
}

size_t CXmlStream::_Inflate(char* out, size_t n) {
    auto* z = static_cast<z_stream*>(m_pZ);
    z->next_out = reinterpret_cast<Bytef*>(out);
    z->avail_out = static_cast<uInt>(n);
    bool memberEnded = false;
    while (z->avail_out == n) {
        if (z->avail_in == 0) {
            const size_t got = std::fread(m_vIn.data(), 1, m_vIn.size(), m_pFile);
            if (got == 0) {
                m_bEof = true;
                if (std::ferror(m_pFile)) m_strError = "read error";
                else if (!memberEnded) m_strError = "damaged compressed data (it ends too early)";
                break;
            }
            z->next_in = m_vIn.data();
            z->avail_in = static_cast<uInt>(got);
        }
        if (memberEnded) {
            // Another gzip member may follow; anything else ends the data.
            if (z->avail_in < 2 || z->next_in[0] != 0x1f || z->next_in[1] != 0x8b) {
                m_bEof = true;
                break;
            }
            inflateReset(z);
            memberEnded = false;
        }
        const int rc = inflate(z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            memberEnded = true;
            // The member's end is a clean end of file unless more follows.
            if (z->avail_in == 0) {
                const int c = std::fgetc(m_pFile);
                if (c == EOF) {
                    m_bEof = true;
                    break;
                }
                std::ungetc(c, m_pFile);
            }
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            m_bEof = true;
            m_strError = std::string("damaged compressed data (") + (z->msg != nullptr ? z->msg : "inflate error") + ")";
            break;
        }
    }
    return n - z->avail_out;
}

bool CXmlStream::_Fill() {
    if (m_pFile == nullptr || m_bEof) return false;
    if (m_vBuf.size() - m_nEnd < CHUNK / 4) {
        // Move the kept text to the front only when the tail is short of
        // room, so a long element is not shifted once per read.
        if (m_nPos > 0) {
            std::memmove(m_vBuf.data(), m_vBuf.data() + m_nPos, m_nEnd - m_nPos);
            m_nBase += m_nPos;
            m_nEnd -= m_nPos;
            m_nPos = 0;
        }
        if (m_vBuf.size() - m_nEnd < CHUNK / 4) m_vBuf.resize(std::max(m_vBuf.size() * 2, m_nEnd + CHUNK));
    }
    const size_t room = std::min(CHUNK, m_vBuf.size() - m_nEnd);
    size_t got;
    if (m_bGzip) {
        got = _Inflate(m_vBuf.data() + m_nEnd, room);
    } else {
        got = std::fread(m_vBuf.data() + m_nEnd, 1, room, m_pFile);
        if (got == 0) {
            m_bEof = true;
            if (std::ferror(m_pFile)) m_strError = "read error";
        }
    }
    m_nEnd += got;
    return got > 0;
}

bool CXmlStream::Ensure(size_t n) {
    while (Avail() < n)
        if (!_Fill()) return false;
    return true;
}

int CXmlStream::Find(std::string_view a, std::string_view b, size_t from, bool keep, size_t& at) {
    const size_t longest = std::max(a.size(), b.size());
    size_t start = from;
    for (;;) {
        const char* base = Data();
        const size_t avail = Avail();
        if (start < avail) {
            const void* pa = memmem(base + start, avail - start, a.data(), a.size());
            const size_t posA = pa != nullptr ? static_cast<size_t>(static_cast<const char*>(pa) - base) : avail;
            if (!b.empty()) {
                // b counts only when it starts before a.
                const size_t lim = std::min(avail, posA + b.size() - 1);
                if (lim > start) {
                    const void* pb = memmem(base + start, lim - start, b.data(), b.size());
                    if (pb != nullptr) {
                        at = static_cast<size_t>(static_cast<const char*>(pb) - base);
                        return 2;
                    }
                }
            }
            if (pa != nullptr) {
                at = posA;
                return 1;
            }
            // A match may still begin in the last longest-1 bytes.
            if (avail - start >= longest) start = avail - (longest - 1);
        }
        if (!keep && start > 0) {
            Consume(start);
            start = 0;
        }
        if (!_Fill()) return 0;
    }
}
