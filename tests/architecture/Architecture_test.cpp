// The layout rules of the code, checked on the sources themselves:
// includes point one way (each folder includes only itself and the layers
// below it, as the README's architecture paragraph orders them), and no
// function body runs over 120 lines.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path kSrc = fs::path(VEMRA_SOURCE_DIR) / "src";

// The layers, ground first; folders of one layer do not include each other.
const std::map<std::string, int> kLayer = {
    {"common", 0},  {"input", 1},   {"conditions", 2}, {"records", 3}, {"preprocess", 4},
    {"scoring", 4}, {"pairing", 4}, {"graph", 5},      {"rerank", 6},  {"report", 7},
    {"output", 8},  {"evaluate", 9}, {"annotate", 9},  {"driver", 10},
};

std::vector<fs::path> Sources() {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(kSrc)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".h" || ext == ".cpp") out.push_back(e.path());
    }
    return out;
}

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text with comments, string and character literals blanked (line
// breaks kept), so braces and parentheses in them do not count.
std::string Code(const std::string& text) {
    std::string out = text;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out.compare(i, 2, "//") == 0) {
            while (i < out.size() && out[i] != '\n') out[i++] = ' ';
        } else if (out.compare(i, 2, "/*") == 0) {
            for (; i < out.size() && out.compare(i, 2, "*/") != 0; ++i)
                if (out[i] != '\n') out[i] = ' ';
            if (i < out.size()) out[i] = out[i + 1] = ' ';
        } else if (out.compare(i, 2, "R\"") == 0) {
            // Raw string: R"delim( ... )delim"
            const size_t open = out.find('(', i);
            const std::string close = ")" + out.substr(i + 2, open - i - 2) + "\"";
            const size_t end = out.find(close, open);
            for (size_t k = i; k < end + close.size() && k < out.size(); ++k)
                if (out[k] != '\n') out[k] = ' ';
            i = end + close.size() - 1;
        } else if (out[i] == '"' || out[i] == '\'') {
            const char q = out[i];
            out[i] = ' ';
            for (++i; i < out.size() && out[i] != q; ++i) {
                if (out[i] == '\\') out[i++] = ' ';
                if (out[i] != '\n') out[i] = ' ';
            }
            if (i < out.size()) out[i] = ' ';
        }
    }
    return out;
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\n\r");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\n\r") - a + 1);
}

// A block opened right after `header` (the code since the last ';', '{' or
// '}') is a function body when the header is a declarator: it has a
// parameter list and is no namespace, type, initialiser or control statement.
bool OpensFunction(const std::string& header) {
    const std::string h = Trim(header);
    if (h.find('(') == std::string::npos) return false;
    static const std::regex kNot("^(namespace|class|struct|enum|union|extern|template\\s*<[^>]*>\\s*(class|struct))\\b");
    if (std::regex_search(h, kNot)) return false;
    if (!h.empty() && (h.back() == '=' || h.back() == ',')) return false;
    static const std::regex kControl("^(if|for|while|switch|catch|do|else)\\b");
    return !std::regex_search(h, kControl);
}

}  // namespace

TEST(Architecture, Includes_PointDownTheLayers) {
    std::vector<std::string> wrong;
    const std::regex include("^#include \"([a-z]+)/[^\"]+\"");
    for (const fs::path& file : Sources()) {
        const std::string folder = fs::relative(file, kSrc).begin()->string();
        ASSERT_TRUE(kLayer.count(folder)) << "a folder without a layer: " << folder;
        std::istringstream lines(Read(file));
        int n = 0;
        for (std::string line; std::getline(lines, line);) {
            ++n;
            std::smatch m;
            if (!std::regex_search(line, m, include)) continue;
            const std::string target = m[1];
            const auto it = kLayer.find(target);
            const bool fine = target == folder || (it != kLayer.end() && it->second < kLayer.at(folder));
            if (!fine) wrong.push_back(fs::relative(file, kSrc).string() + ":" + std::to_string(n) + " includes " + target);
        }
    }
    EXPECT_TRUE(wrong.empty()) << [&] {
        std::string s;
        for (const std::string& w : wrong) s += w + "\n";
        return s;
    }();
}

TEST(Architecture, Functions_NoneOverOneHundredTwentyLines) {
    // Text tables are written as one function per table.
    const std::vector<std::string> tables = {"driver/ParamTemplate.cpp"};
    std::vector<std::string> longer;
    for (const fs::path& file : Sources()) {
        const std::string rel = fs::relative(file, kSrc).string();
        bool table = false;
        for (const std::string& t : tables) table = table || rel == t;
        if (table) continue;
        const std::string code = Code(Read(file));
        // Open blocks: whether each is a function body, and where it began.
        std::vector<std::pair<bool, int>> open;
        int line = 1, inFunction = 0;
        size_t headerStart = 0;
        for (size_t i = 0; i < code.size(); ++i) {
            const char ch = code[i];
            if (ch == '\n') ++line;
            if (ch == '{') {
                const bool function = inFunction == 0 && OpensFunction(code.substr(headerStart, i - headerStart));
                open.push_back({function, line});
                inFunction += function;
                headerStart = i + 1;
            } else if (ch == '}') {
                if (open.empty()) continue;
                const auto [function, begin] = open.back();
                open.pop_back();
                if (function) {
                    --inFunction;
                    if (line - begin - 1 > 120)
                        longer.push_back(rel + ":" + std::to_string(begin) + ": " + std::to_string(line - begin - 1) +
                                         " lines");
                }
                headerStart = i + 1;
            } else if (ch == ';') {
                headerStart = i + 1;
            }
        }
    }
    EXPECT_TRUE(longer.empty()) << [&] {
        std::string s;
        for (const std::string& l : longer) s += l + "\n";
        return s;
    }();
}
