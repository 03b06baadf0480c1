#pragma once
// `vemra evaluate`: the figures of one or more results files against one
// truth file, on stdout; per results file a line on stderr saying how many
// known spectra have a result; optionally the precision-coverage curves as
// one SVG (runs compared on one picture) and a per-spectrum table. The
// command line is parsed in main.cpp; this is what runs.

#include <string>
#include <vector>

struct CEvaluateOptions {
    std::vector<std::string> vResults;  // results files (native, TSV or mzTab), in order
    std::string strTruth;               // title<TAB>peptide lines
    std::vector<std::string> vLabels;   // names of the runs by position; missing ones: see RunLabels
    std::string strPlot;                // SVG file; empty: none
    std::string strPerSpectrum;         // TSV file; empty: none
};

// Names of the runs: the given label, else the file's name without folder
// and extension ("out/vemra+/hcd_example.txt" -> "hcd_example"); names that
// would be equal keep their folder ("run1/hcd_example", "run2/hcd_example").
std::vector<std::string> RunLabels(const std::vector<std::string>& paths, const std::vector<std::string>& given);

// Exit status: 0; 1 when the truth or a results file cannot be read, an
// output cannot be written, the truth file has no peptide, or some results
// file has a result for none of the known spectra (the figures of every
// readable file are still printed).
int RunEvaluate(const CEvaluateOptions& options);
