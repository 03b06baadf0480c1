#pragma once
// A small builder of SVG pictures as text, shared by the plots (evaluate's
// precision-coverage curves, annotate's spectra). Coordinates are pixels
// from the top left; numbers are written with at most two decimals, so the
// same figures give the same file byte for byte; text is escaped.
//
//   CSvg svg(640, 400);
//   svg.Line(10, 10, 100, 10, "#000000", 1);
//   svg.Text(50, 30, "coverage", "middle", 12);
//   std::string text = svg.Finish();

#include <string>
#include <vector>

class CSvg {
public:
    CSvg(double width, double height);

    // attrs: extra attributes written as given (e.g. "stroke-dasharray=\"4 2\"").
    void Line(double x1, double y1, double x2, double y2, const std::string& stroke, double width,
              const std::string& attrs = "");
    void Rect(double x, double y, double w, double h, const std::string& fill, const std::string& stroke,
              const std::string& attrs = "");
    void Circle(double x, double y, double r, const std::string& fill, const std::string& attrs = "");
    // anchor: "start", "middle" or "end"; size in px.
    void Text(double x, double y, const std::string& text, const std::string& anchor, double size,
              const std::string& attrs = "");
    // Points as x0, y0, x1, y1, ...
    void Polyline(const std::vector<double>& xy, const std::string& stroke, double width,
                  const std::string& attrs = "");
    // A group; title (when not empty) is the tooltip a browser shows over it.
    void BeginGroup(const std::string& attrs, const std::string& title = "");
    void EndGroup();
    std::string Finish();

    static std::string Escape(const std::string& text);
    // At most `decimals` decimals, trailing zeros dropped ("12.5", "3", "-0.25").
    static std::string Num(double v, int decimals = 2);
    // Round tick values (1, 2 or 5 times a power of ten apart) inside
    // [lo, hi], about `target` of them; empty when hi <= lo.
    static std::vector<double> Ticks(double lo, double hi, int target);
    // Width in px of a text in the plots' sans-serif font, estimated (for
    // keeping labels apart; browsers differ by a few per cent).
    static double TextWidth(const std::string& text, double size);

private:
    std::string m_strOut;
};
