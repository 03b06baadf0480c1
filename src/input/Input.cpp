#include "input/Input.h"

#include "common/Console.h"

void CInput::_Warn(const std::string& path, unsigned long long number, const std::string& title,
                   const std::string& text, bool error) {
    // A file with a fault in every spectrum must not bury the console.
    if (m_bQuiet || ++m_nProblems > kShownProblems) return;
    console::CLine line(error ? console::ELevel::Error : console::ELevel::Warning);
    line << path;
    if (number > 0) line << ": spectrum " << number;
    // A title of any length is named by its start.
    if (!title.empty()) line << " (" << (title.size() > 100 ? title.substr(0, 100) + "..." : title) << ")";
    line << ": " << text;
}

void CInput::_EndProblems(const std::string& path) {
    if (m_nProblems > kShownProblems)
        console::Warning() << path << ": " << m_nProblems - kShownProblems
                           << " more problems of single spectra like those above were not shown";
    m_nProblems = 0;
}
