#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "conditions/Condition.h"

bool CCondition::MergeOutput() {
    const std::string target = m_strOutDir + ".txt";
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) {
        // Keep the workers' files: they hold the only copy of the records.
        std::cerr << "[error]\tcannot create the result file " << target << "; the workers' files "
                  << m_strOutDir << "Vemra+_Result.txt.N are kept" << std::endl;
        return false;
    }
    bool ok = true;
    std::vector<std::string> merged;
    std::string line;
    for (size_t t = 0; t < m_vThreads.size(); ++t) {
        const std::string part = m_strOutDir + "Vemra+_Result.txt." + std::to_string(t);
        std::ifstream in(part, std::ios::binary);
        if (!in) {
            std::cerr << "[error]\tcannot read the worker result file " << part << std::endl;
            ok = false;
            continue;
        }
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out << line << '\n';
        }
        merged.push_back(part);
    }
    out.close();
    if (!out) {
        std::cerr << "[error]\twriting the result file " << target << " failed; the workers' files are kept"
                  << std::endl;
        return false;
    }
    // Remove the workers' files only once the dataset file is safely written.
    for (const std::string& part : merged) std::remove(part.c_str());
    return ok;
}
