#pragma once
// The complete, commented parameter file with the recommended settings that
// `vemra --print-params` writes; the example parameter files are made from it.

#include <string>
#include <vector>

// File-specific lines of a parameter file made from the template.
struct CTemplateFiles {
    std::string strRun;                   // how the file is run (header comment)
    std::string strResults;               // where its results go (header comment)
    std::vector<std::string> vSpecPaths;  // spec_path1, spec_path2, ...
    std::string strAnsPath;               // ans_path ("" none)
    std::string strOutPath = "out";       // out_path
};

// The template for mode "hcd", "etd" or "paired" (any case); empty for an
// unknown mode. Without files, placeholders name the spectrum files.
std::string ParamTemplate(const std::string& mode, const CTemplateFiles* files = nullptr);
