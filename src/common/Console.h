#pragma once
// Console diagnostics: every line a run prints about itself goes through
// here, so the prefixes ("[info]", "[warning]", "[error]", then a tab) and
// the stream (stderr) stay the same everywhere. A line is built whole and
// written in one call under a lock, so lines of concurrent workers never
// interleave.
//
//   console::Warning() << path << ": " << count << " spectra skipped";

#include <sstream>
#include <string>

namespace console {

enum class ELevel : unsigned char { Info, Warning, Error };

// Writes "[level]\ttext\n" to stderr at once (with SetQuiet, errors only).
// A progress line on the terminal is cleared first, and drawn again by the
// next Progress call.
void Say(ELevel level, const std::string& text);
// Errors only from now on (--quiet).
void SetQuiet(bool quiet);
bool Quiet();
// True when stderr is a terminal.
bool Terminal();
// On a terminal: text rewrites the one progress line ("" clears it). Not on
// a terminal: nothing (the caller writes plain Info lines instead).
void Progress(const std::string& text);

// One line, written when it goes out of scope.
class CLine {
public:
    explicit CLine(ELevel level) : m_eLevel(level) {}
    CLine(const CLine&) = delete;
    CLine& operator=(const CLine&) = delete;
    ~CLine() { Say(m_eLevel, m_text.str()); }
    template <class T>
    CLine& operator<<(const T& value) {
        m_text << value;
        return *this;
    }

private:
    ELevel m_eLevel;
    std::ostringstream m_text;
};

inline CLine Info() { return CLine(ELevel::Info); }
inline CLine Warning() { return CLine(ELevel::Warning); }
inline CLine Error() { return CLine(ELevel::Error); }

}  // namespace console
