#include "annotate/AnnotationSvg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/Svg.h"

namespace {

constexpr double kWidth = 1200, kLeft = 80, kRight = 1170;
constexpr double kSpectrumH = 300, kErrorH = 110;
constexpr double kLabelSize = 11;
const char* const kGrey = "#a8a8a8";

std::string Fixed(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

std::string Colour(char series, bool prefix) {
    switch (series) {
        case 'b': return "#0072B2";
        case 'y': return "#D55E00";
        case 'c': return "#009E73";
        case 'z': return "#CC79A7";
        case 'a': return "#56B4E9";
        case 'x': return "#E69F00";
        default: return prefix ? "#0072B2" : "#D55E00";
    }
}

// The m/z axis every panel shares.
struct CAxis {
    double lfLo = 0, lfHi = 1;
    double X(double mz) const { return kLeft + (mz - lfLo) / (lfHi - lfLo) * (kRight - kLeft); }
};

CAxis MzAxis(const CAnnotation& a) {
    CAxis ax;
    double lo = a.lfPrecursorMz, hi = a.lfPrecursorMz;
    for (const CPeak& p : a.vPeaks) {
        lo = std::min(lo, p.lfMz);
        hi = std::max(hi, p.lfMz);
    }
    const double pad = std::max(10.0, 0.03 * (hi - lo));
    ax.lfLo = std::max(0.0, lo - pad);
    ax.lfHi = hi + pad;
    return ax;
}

// The ion that names a peak: plain ions before losses, lower charges first,
// then the smaller error.
bool Better(const CFragmentIon& a, const CFragmentIon& b) {
    if ((a.nLoss == 0) != (b.nLoss == 0)) return a.nLoss == 0;
    if (a.nCharge != b.nCharge) return a.nCharge < b.nCharge;
    return std::fabs(a.lfError) < std::fabs(b.lfError);
}

std::string Percent(double share) { return Fixed(100.0 * share, share < 0.1 ? 1 : 0) + "%"; }

double Header(CSvg& svg, const CAnnotation& a) {
    const std::string head =
        a.strPeptide + ", " + std::to_string(a.nCharge) + "+, precursor m/z " + Fixed(a.lfPrecursorMz, 4);
    svg.Text(kLeft, 28, head, "start", 19, "font-weight=\"bold\"");
    std::string series;
    for (const CFragmentIon& ion : a.vIons)
        if (series.find(ion.cSeries) == std::string::npos) series += ion.cSeries;
    std::string names;
    for (const char s : series) names += (names.empty() ? "" : "/") + std::string(1, s);
    svg.Text(kLeft, 50, "spectrum " + a.strTitle + "; " + a.strActivation + " (" + names + " ions), tolerance " +
                            CSvg::Num(a.lfTolerance, 4) + (a.bPpm ? " ppm" : " Da"), "start", 13);
    const double share = a.nIons ? double(a.nMatchedIons) / a.nIons : 0.0;
    double ppm = a.PrecursorErrorPpm(), da = a.lfPrecursorMH - a.lfPeptideMH;
    if (std::fabs(ppm) < 0.05) ppm = 0.0;  // not "-0.0"
    if (std::fabs(da) < 5e-5) da = 0.0;
    svg.Text(kLeft, 70, std::to_string(a.nMatchedIons) + " of " + std::to_string(a.nIons) + " " + names +
                            " ions matched (" + Percent(share) + "), " + Percent(a.lfExplained) +
                            " of the intensity explained; peptide [M+H]+ " + Fixed(a.lfPeptideMH, 4) +
                            ", precursor error " + Fixed(da, 4) + " Da (" +
                            Fixed(ppm, 1) + " ppm)", "start", 13);
    return 82;
}

// The sequence with a hook at every cleavage site where a series has an ion
// (any charge, no loss). Returns the panel's bottom.
double Ladder(CSvg& svg, const CAnnotation& a, double top) {
    std::string prefix, suffix;
    for (const CFragmentIon& ion : a.vIons) {
        std::string& s = ion.bPrefix ? prefix : suffix;
        if (s.find(ion.cSeries) == std::string::npos) s += ion.cSeries;
    }
    const size_t len = a.vResidues.size();
    const double step = std::min(40.0, (kRight - kLeft - 120) / std::max<double>(1, static_cast<double>(len)));
    const double x0 = (kLeft + kRight) / 2 - step * (static_cast<double>(len) - 1) / 2;
    const double base = top + 22 + 16 * static_cast<double>(prefix.size());
    for (size_t i = 0; i < len; ++i) {
        const CAnnotResidue& r = a.vResidues[i];
        const double x = x0 + step * static_cast<double>(i);
        svg.Text(x, base, std::string(1, r.cLetter), "middle", 24, r.lfDelta != 0.0 ? "font-weight=\"bold\"" : "");
        if (r.lfDelta != 0.0) svg.Text(x, base + 12, (r.lfDelta > 0 ? "+" : "") + Fixed(r.lfDelta, 1), "middle", 9);
    }
    auto seen = [&a](char series, bool isPrefix, int length) {
        for (const CFragmentIon& ion : a.vIons)
            if (ion.cSeries == series && ion.bPrefix == isPrefix && ion.nLength == length && ion.nLoss == 0 &&
                ion.nPeak >= 0)
                return true;
        return false;
    };
    for (size_t k = 1; k < len; ++k) {
        const double xs = x0 + step * (static_cast<double>(k) - 0.5);
        for (size_t r = 0; r < prefix.size(); ++r) {
            if (!seen(prefix[r], true, static_cast<int>(k))) continue;
            const std::string colour = Colour(prefix[r], true);
            const double y = base - 24 - 16 * static_cast<double>(r);
            svg.Line(xs, y + 8, xs, y, colour, 2);
            svg.Line(xs - 8, y, xs, y, colour, 2);
            svg.Text(xs - 5, y - 2, std::to_string(k), "middle", 9, "fill=\"" + colour + "\"");
        }
        for (size_t r = 0; r < suffix.size(); ++r) {
            if (!seen(suffix[r], false, static_cast<int>(len - k))) continue;
            const std::string colour = Colour(suffix[r], false);
            const double y = base + 22 + 16 * static_cast<double>(r);
            svg.Line(xs, y - 8, xs, y, colour, 2);
            svg.Line(xs, y, xs + 8, y, colour, 2);
            svg.Text(xs + 5, y + 10, std::to_string(len - k), "middle", 9, "fill=\"" + colour + "\"");
        }
    }
    const double left = x0 - step / 2 - 14;
    for (size_t r = 0; r < prefix.size(); ++r)
        svg.Text(left, base - 20 - 16 * static_cast<double>(r), std::string(1, prefix[r]), "end", 12,
                 "fill=\"" + Colour(prefix[r], true) + "\" font-weight=\"bold\"");
    for (size_t r = 0; r < suffix.size(); ++r)
        svg.Text(left, base + 26 + 16 * static_cast<double>(r), std::string(1, suffix[r]), "end", 12,
                 "fill=\"" + Colour(suffix[r], false) + "\" font-weight=\"bold\"");
    return base + 36 + 16 * static_cast<double>(suffix.size());
}

void MzTicks(CSvg& svg, const CAxis& ax, double top, double bottom, bool labels) {
    for (const double v : CSvg::Ticks(ax.lfLo, ax.lfHi, 12)) {
        const double x = ax.X(v);
        svg.Line(x, top, x, bottom, "#eeeeee", 1);
        svg.Line(x, bottom, x, bottom + 5, "#000000", 1);
        if (labels) svg.Text(x, bottom + 18, CSvg::Num(v, 1), "middle", 12);
    }
}

// Where labels and peaks already are, to keep new labels off them.
struct CBox {
    double x1, y1, x2, y2;
};

bool Overlaps(const std::vector<CBox>& boxes, const CBox& b) {
    for (const CBox& o : boxes)
        if (b.x1 < o.x2 && o.x1 < b.x2 && b.y1 < o.y2 && o.y1 < b.y2) return true;
    return false;
}

}  // namespace

namespace {

void Peaks(CSvg& svg, const CAnnotation& a, const CAxis& ax, double top) {
    const double bottom = top + kSpectrumH;
    double maxI = 0.0;
    for (const CPeak& p : a.vPeaks) maxI = std::max(maxI, p.lfIntensity);
    if (maxI <= 0) maxI = 1;
    // 100 % sits below the panel's top, leaving room for labels.
    auto Y = [&](double intensity) { return bottom - intensity / maxI * (kSpectrumH - 50); };
    MzTicks(svg, ax, top, bottom, true);
    for (int v = 0; v <= 100; v += 20) {
        const double y = Y(maxI * v / 100.0);
        svg.Line(kLeft - 5, y, kLeft, y, "#000000", 1);
        svg.Text(kLeft - 8, y + 4, std::to_string(v), "end", 12);
    }
    svg.Text(24, bottom - (kSpectrumH - 50) / 2, "relative intensity (%)", "middle", 12,
             "transform=\"rotate(-90 24 " + CSvg::Num(bottom - (kSpectrumH - 50) / 2) + ")\"");
    svg.Text((kLeft + kRight) / 2, bottom + 36, "m/z", "middle", 13, "font-style=\"italic\"");

    // Per peak: the ion that names it and every ion it matched.
    std::vector<int> best(a.vPeaks.size(), -1);
    for (size_t i = 0; i < a.vIons.size(); ++i) {
        const CFragmentIon& ion = a.vIons[i];
        if (ion.nPeak < 0) continue;
        int& b = best[static_cast<size_t>(ion.nPeak)];
        if (b < 0 || Better(ion, a.vIons[static_cast<size_t>(b)])) b = static_cast<int>(i);
    }
    std::vector<CBox> boxes;
    for (size_t i = 0; i < a.vPeaks.size(); ++i) {
        const double x = ax.X(a.vPeaks[i].lfMz), y = Y(a.vPeaks[i].lfIntensity);
        boxes.push_back(CBox{x - 1, y, x + 1, bottom});
        if (best[i] < 0) svg.Line(x, bottom, x, y, kGrey, 1);
    }
    std::vector<size_t> order;
    for (size_t i = 0; i < a.vPeaks.size(); ++i)
        if (best[i] >= 0) order.push_back(i);
    // Labels go to the most intense peaks first: those are the ones a reader
    // looks for.
    std::stable_sort(order.begin(), order.end(),
                     [&a](size_t p, size_t q) { return a.vPeaks[p].lfIntensity > a.vPeaks[q].lfIntensity; });
    for (const size_t i : order) {
        const CPeak& p = a.vPeaks[i];
        const CFragmentIon& name = a.vIons[static_cast<size_t>(best[i])];
        std::string label = name.Label(), tip = "m/z " + Fixed(p.lfMz, 4) + ", " +
                                                Fixed(100.0 * p.lfIntensity / maxI, 1) + "%:";
        for (const CFragmentIon& ion : a.vIons) {
            if (ion.nPeak != static_cast<int>(i)) continue;
            tip += " " + ion.Label() + " " + Fixed(ion.lfMz, 4) + " (" + (ion.lfError >= 0 ? "+" : "") +
                   Fixed(ion.lfError, a.bPpm ? 1 : 4) + (a.bPpm ? " ppm)" : " Da)");
            // A peak that two series explain says so.
            if (&ion != &name && ion.nLoss == 0 && name.nLoss == 0 && ion.cSeries != name.cSeries &&
                label.find('/') == std::string::npos)
                label += "/" + ion.Label();
        }
        const std::string colour = Colour(name.cSeries, name.bPrefix);
        const std::string fade = name.nLoss ? "stroke-opacity=\"0.55\"" : "";
        const double x = ax.X(p.lfMz), y = Y(p.lfIntensity);
        svg.BeginGroup("class=\"peak\"", tip);
        svg.Line(x, bottom, x, y, colour, 1.8, fade);
        const double w = CSvg::TextWidth(label, kLabelSize);
        for (int level = 0; level < 6; ++level) {
            const double baseLine = y - 4 - 13.0 * level;
            const CBox b{x - w / 2 - 1, baseLine - kLabelSize, x + w / 2 + 1, baseLine + 2};
            if (b.y1 < top - 6 || Overlaps(boxes, b)) continue;
            boxes.push_back(b);
            if (level > 0) svg.Line(x, y - 1, x, baseLine + 2, colour, 0.6, "stroke-dasharray=\"1 1\"");
            svg.Text(x, baseLine, label, "middle", kLabelSize, "class=\"ion\" fill=\"" + colour + "\"");
            break;
        }
        svg.EndGroup();
    }
    svg.Line(kLeft, bottom, kRight, bottom, "#000000", 1);
    svg.Line(kLeft, top, kLeft, bottom, "#000000", 1);
}

void Errors(CSvg& svg, const CAnnotation& a, const CAxis& ax, double top) {
    const double bottom = top + kErrorH, mid = top + kErrorH / 2;
    const double tol = a.lfTolerance > 0 ? a.lfTolerance : 1;
    auto Y = [&](double e) { return mid - std::clamp(e / tol, -1.0, 1.0) * (kErrorH / 2 - 6); };
    MzTicks(svg, ax, top, bottom, true);
    svg.Rect(kLeft, top, kRight - kLeft, kErrorH, "none", "#000000");
    for (const double v : {-tol, -tol / 2, 0.0, tol / 2, tol}) {
        svg.Line(kLeft - 5, Y(v), kLeft, Y(v), "#000000", 1);
        svg.Text(kLeft - 8, Y(v) + 4, CSvg::Num(v, a.bPpm ? 1 : 3), "end", 11);
    }
    svg.Line(kLeft, mid, kRight, mid, "#777777", 1, "stroke-dasharray=\"4 3\"");
    svg.Text(24, mid, std::string("error (") + (a.bPpm ? "ppm" : "Da") + ")", "middle", 12,
             "transform=\"rotate(-90 24 " + CSvg::Num(mid) + ")\"");
    for (const CFragmentIon& ion : a.vIons) {
        if (ion.nPeak < 0) continue;
        const std::string colour = Colour(ion.cSeries, ion.bPrefix);
        const double x = ax.X(a.vPeaks[static_cast<size_t>(ion.nPeak)].lfMz);
        // Losses hollow: they read apart from the plain ions in grey print too.
        svg.Circle(x, Y(ion.lfError), 3.2, ion.nLoss ? "#ffffff" : colour,
                   ion.nLoss ? "stroke=\"" + colour + "\" stroke-width=\"1.3\"" : "");
    }
}

void Legend(CSvg& svg, const CAnnotation& a, double y) {
    double x = kLeft;
    std::string done;
    auto entry = [&](const std::string& colour, const std::string& text, bool hollow) {
        if (hollow) svg.Circle(x + 5, y - 4, 4, "#ffffff", "stroke=\"" + colour + "\" stroke-width=\"1.3\"");
        else svg.Rect(x, y - 9, 10, 10, colour, "none");
        svg.Text(x + 15, y, text, "start", 12);
        x += 25 + CSvg::TextWidth(text, 12);
    };
    bool losses = false;
    for (const CFragmentIon& ion : a.vIons) {
        losses = losses || ion.nLoss != 0;
        if (done.find(ion.cSeries) != std::string::npos) continue;
        done += ion.cSeries;
        entry(Colour(ion.cSeries, ion.bPrefix), std::string(1, ion.cSeries) + " ions", false);
    }
    if (losses) entry("#555555", "water / ammonia loss (paler peak, hollow error dot)", true);
    entry(kGrey, "unmatched peak", false);
}

}  // namespace

std::string CAnnotationSvg::Svg(const CAnnotation& a) {
    const double ladderTop = 86;
    // The ladder's height depends on how many series it shows; draw it into
    // a scratch picture first to learn it.
    CSvg scratch(kWidth, 10);
    const double ladderBottom = Ladder(scratch, a, ladderTop);
    const double spectrumTop = ladderBottom + 8, errorTop = spectrumTop + kSpectrumH + 52;
    const double legendY = errorTop + kErrorH + 44;
    CSvg svg(kWidth, legendY + 16);
    Header(svg, a);
    Ladder(svg, a, ladderTop);
    const CAxis ax = MzAxis(a);
    Peaks(svg, a, ax, spectrumTop);
    Errors(svg, a, ax, errorTop);
    Legend(svg, a, legendY);
    return svg.Finish();
}
