#include "common/Svg.h"

#include <cmath>
#include <cstdio>

CSvg::CSvg(double width, double height) {
    m_strOut = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(width) + "\" height=\"" + Num(height) +
               "\" viewBox=\"0 0 " + Num(width) + " " + Num(height) +
               "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n";
    // A white ground: the picture prints and shows the same on a dark page.
    Rect(0, 0, width, height, "#ffffff", "none");
}

std::string CSvg::Num(double v, int decimals) {
    if (!std::isfinite(v)) v = 0.0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

std::string CSvg::Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                // Control bytes are not allowed in XML text.
                out += static_cast<unsigned char>(ch) < 0x20 ? ' ' : ch;
        }
    }
    return out;
}

void CSvg::Line(double x1, double y1, double x2, double y2, const std::string& stroke, double width,
                const std::string& attrs) {
    m_strOut += "<line x1=\"" + Num(x1) + "\" y1=\"" + Num(y1) + "\" x2=\"" + Num(x2) + "\" y2=\"" + Num(y2) +
                "\" stroke=\"" + stroke + "\" stroke-width=\"" + Num(width) + "\"" + (attrs.empty() ? "" : " ") +
                attrs + "/>\n";
}

void CSvg::Rect(double x, double y, double w, double h, const std::string& fill, const std::string& stroke,
                const std::string& attrs) {
    m_strOut += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(w) + "\" height=\"" + Num(h) +
                "\" fill=\"" + fill + "\" stroke=\"" + stroke + "\"" + (attrs.empty() ? "" : " ") + attrs + "/>\n";
}

void CSvg::Circle(double x, double y, double r, const std::string& fill, const std::string& attrs) {
    m_strOut += "<circle cx=\"" + Num(x) + "\" cy=\"" + Num(y) + "\" r=\"" + Num(r) + "\" fill=\"" + fill + "\"" +
                (attrs.empty() ? "" : " ") + attrs + "/>\n";
}

void CSvg::Text(double x, double y, const std::string& text, const std::string& anchor, double size,
                const std::string& attrs) {
    m_strOut += "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" font-size=\"" + Num(size) + "\"";
    if (anchor != "start") m_strOut += " text-anchor=\"" + anchor + "\"";
    if (!attrs.empty()) m_strOut += " " + attrs;
    m_strOut += ">" + Escape(text) + "</text>\n";
}

void CSvg::Polyline(const std::vector<double>& xy, const std::string& stroke, double width,
                    const std::string& attrs) {
    m_strOut += "<polyline fill=\"none\" stroke=\"" + stroke + "\" stroke-width=\"" + Num(width) + "\"" +
                (attrs.empty() ? "" : " ") + attrs + " points=\"";
    for (size_t k = 0; k + 1 < xy.size(); k += 2) {
        if (k) m_strOut += ' ';
        m_strOut += Num(xy[k]) + "," + Num(xy[k + 1]);
    }
    m_strOut += "\"/>\n";
}

void CSvg::BeginGroup(const std::string& attrs, const std::string& title) {
    m_strOut += "<g" + (attrs.empty() ? std::string() : " " + attrs) + ">";
    if (!title.empty()) m_strOut += "<title>" + Escape(title) + "</title>";
    m_strOut += "\n";
}

void CSvg::EndGroup() { m_strOut += "</g>\n"; }

std::string CSvg::Finish() {
    m_strOut += "</svg>\n";
    return std::move(m_strOut);
}

std::vector<double> CSvg::Ticks(double lo, double hi, int target) {
    std::vector<double> ticks;
    if (!(hi > lo) || target < 1 || !std::isfinite(lo) || !std::isfinite(hi)) return ticks;
    const double raw = (hi - lo) / target;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= raw) break;
    }
    // Counting in whole steps keeps the values free of accumulated drift.
    // (+ 0.0 turns a -0 into 0, which prints without its sign.)
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1.0)
        ticks.push_back(k * step + 0.0);
    return ticks;
}

double CSvg::TextWidth(const std::string& text, double size) {
    double em = 0.0;
    for (const char ch : text) {
        if (ch == ' ' || ch == '.' || ch == ',' || ch == 'i' || ch == 'l' || ch == '|') em += 0.32;
        else if (ch == '+' || ch == '-') em += 0.6;
        else if (ch >= 'A' && ch <= 'Z') em += 0.7;
        else em += 0.6;
    }
    return em * size;
}
