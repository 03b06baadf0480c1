#include "evaluate/CurvePlot.h"

#include <cmath>
#include <cstdio>

#include "common/Svg.h"

namespace {

// Colours that stay apart for colour-blind readers and in print.
const char* const kColours[] = {"#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#000000"};
const char* const kDashes[] = {"", "7 3", "2 2", "9 3 2 3", "4 4", "12 3", "1 3"};
constexpr size_t kStyles = sizeof kColours / sizeof kColours[0];

constexpr double kWidth = 640, kLeft = 70, kTop = 66, kPlotW = 520, kPlotH = 340;

std::string Fixed(double v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

// The curve's points in pixels, thinned to those that move it by half a
// pixel or more: a million spectra draw the same line as a few thousand.
std::vector<double> Points(const CEvalFigures& f) {
    std::vector<double> xy;
    double lastX = -1e9, lastY = -1e9;
    const size_t n = f.vCoverage.size();
    for (size_t k = 0; k < n; ++k) {
        const double x = kLeft + f.vCoverage[k] * kPlotW, y = kTop + (1.0 - f.vPrecision[k]) * kPlotH;
        if (k + 1 < n && std::fabs(x - lastX) < 0.5 && std::fabs(y - lastY) < 0.5) continue;
        xy.push_back(x);
        xy.push_back(y);
        lastX = x;
        lastY = y;
    }
    return xy;
}

void Axes(CSvg& svg) {
    const double bottom = kTop + kPlotH;
    for (const double v : CSvg::Ticks(0.0, 1.0, 5)) {
        const double x = kLeft + v * kPlotW, y = bottom - v * kPlotH;
        svg.Line(x, kTop, x, bottom, "#e0e0e0", 1);
        svg.Line(kLeft, y, kLeft + kPlotW, y, "#e0e0e0", 1);
        svg.Line(x, bottom, x, bottom + 5, "#000000", 1);
        svg.Line(kLeft - 5, y, kLeft, y, "#000000", 1);
        svg.Text(x, bottom + 18, Fixed(v, 1), "middle", 12);
        svg.Text(kLeft - 8, y + 4, Fixed(v, 1), "end", 12);
    }
    // Half coverage: where "precision at 50% coverage" is read.
    svg.Line(kLeft + 0.5 * kPlotW, kTop, kLeft + 0.5 * kPlotW, bottom, "#999999", 1, "stroke-dasharray=\"3 3\"");
    svg.Rect(kLeft, kTop, kPlotW, kPlotH, "none", "#000000");
    svg.Text(kLeft + kPlotW / 2, bottom + 38,
             "coverage (share of the known spectra, results taken best confidence first)",
             "middle", 12);
    svg.Text(22, kTop + kPlotH / 2, "precision (exact peptide)", "middle", 12,
             "transform=\"rotate(-90 22 " + CSvg::Num(kTop + kPlotH / 2) + ")\"");
}

}  // namespace

std::string CCurvePlot::Svg(const std::vector<CCurve>& curves) {
    const double legendTop = kTop + kPlotH + 58;
    CSvg svg(kWidth, legendTop + 20.0 * static_cast<double>(curves.size()) + 8);
    svg.Text(kLeft, 24, "Precision-coverage, exact peptide (I = L)", "start", 16, "font-weight=\"bold\"");
    bool sameN = true;
    for (const CCurve& c : curves) sameN = sameN && c.pFigures->nTruth == curves.front().pFigures->nTruth;
    std::string subtitle;
    if (curves.size() == 1) {
        const CEvalFigures& f = *curves[0].pFigures;
        subtitle = curves[0].strLabel + ": N = " + std::to_string(f.nTruth) + " spectra with a known peptide, " +
                   std::to_string(f.nWithResult) + " with a result";
    } else if (!curves.empty()) {
        subtitle = std::to_string(curves.size()) + " runs" +
                   (sameN ? ", N = " + std::to_string(curves[0].pFigures->nTruth) + " spectra with a known peptide"
                          : "; N of each run in the legend");
    }
    svg.Text(kLeft, 46, subtitle, "start", 13);
    Axes(svg);
    for (size_t i = 0; i < curves.size(); ++i) {
        const CEvalFigures& f = *curves[i].pFigures;
        const std::string colour = kColours[i % kStyles], dash = kDashes[i % kStyles];
        const std::string style = dash.empty() ? "" : "stroke-dasharray=\"" + dash + "\"";
        svg.Polyline(Points(f), colour, 2, style + (style.empty() ? "" : " ") + "stroke-linejoin=\"round\"");
        const double y = legendTop + 20.0 * static_cast<double>(i);
        svg.Line(kLeft, y - 4, kLeft + 34, y - 4, colour, 2.5, style);
        std::string entry = curves[i].strLabel + ": area " + Fixed(f.lfArea, 3) + ", top-1 " +
                            Fixed(f.ExactRecall(), 3) + ", precision at 50% " +
                            (f.lfPrecisionAtHalf < 0 ? std::string("not reached") : Fixed(f.lfPrecisionAtHalf, 3));
        if (!sameN || curves.size() == 1) entry += ", N = " + std::to_string(f.nTruth);
        svg.Text(kLeft + 42, y, entry, "start", 12);
    }
    return svg.Finish();
}
