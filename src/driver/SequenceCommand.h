#pragma once
// `vemra sequence SPECTRA... [-o OUT] [--preset hcd|etd|paired] [-p PARAM]
// [--set KEY=VALUE]... [--threads N] [--top N] [--quiet]`: sequences spectrum
// files with the recommended settings of a preset (the --print-params
// template) or a parameter file, every key overridable on the command line.
// The spectrum format comes from each file's name (and must agree with its
// content); -o names a folder (all three result formats, named after each
// spectrum file) or one table (FILE.mztab, FILE.tsv, FILE.txt).

#include <string>
#include <vector>

struct CSequenceOptions {
    std::vector<std::string> vSpectra;  // spectrum files, or folders of DTA files
    std::string strOutput = "./";       // a folder (ends in '/' or exists) or FILE.mztab|tsv|txt
    std::string strPreset;              // hcd, etd or paired; "": hcd
    std::string strParam;               // a parameter file instead of the preset
    std::vector<std::string> vSet;      // KEY=VALUE, applied last
    int nThreads = -1;                  // -1: as the settings say
    int nTop = 1;                       // candidates per spectrum in the tables
    bool bQuiet = false;                // errors only
};

// Runs it; returns the exit status (2 for a command line that cannot work).
int RunSequence(const CSequenceOptions& options);

// The parameter text with key set to value: the key's line replaced where
// the text has one, else appended. Numbered keys are replaced one by one.
void SetKeyInText(std::string& text, const std::string& key, const std::string& value);
