#pragma once
// The precision-coverage picture of `vemra evaluate --plot`: one curve per
// results file, so runs can be compared on one set of spectra. A title, the
// runs' names and their N (spectra with a known peptide), axes with ticks,
// and a legend that prints in black and white too (every curve also has its
// own dash pattern).

#include <string>
#include <vector>

#include "evaluate/Evaluate.h"

// One run's curve: its name (the results file's base name or --label) and
// its figures (borrowed; they outlive the call).
struct CCurve {
    std::string strLabel;
    const CEvalFigures* pFigures = nullptr;
};

class CCurvePlot {
public:
    // The SVG text; curves in legend order.
    static std::string Svg(const std::vector<CCurve>& curves);
};
