#pragma once
// The error record whose text ends a run.

#include <string>

struct CErrInfo {
    std::string m_strClassName;
    std::string m_strMethodName;
    std::string m_strDetail;
    std::string m_strTrailing;
    std::string m_strLeading;

    std::string Get() const {
        return m_strLeading + "\t  at " + m_strClassName + "::" + m_strMethodName + "() " + m_strDetail + "\n" +
               m_strTrailing;
    }
};
