#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "input/TextScan.h"
#include "InputTestUtil.h"

namespace {

// Random number-like text: plain decimals of every length and exponent range,
// plus the forms only the C library reads (hex, inf, nan, '+', glued text).
std::string RandomToken(std::mt19937& rng) {
    static const char* odd[] = {"inf", "-INF", "nan", "NaN(12)", "infinity", "+5", "0x1.8p3", "0X", "0x", "1e",
                                "1e+", "1e-x", ".", "-", "-.5", "5.", ".5e2", "1e400", "-1e400", "1e-400",
                                "4.9e-324", "2.2250738585072011e-308", "9007199254740993", "1,5", "1x", "+", "e5"};
    std::uniform_int_distribution<int> pick(0, 9);
    int kind = pick(rng);
    if (kind == 0) return odd[rng() % (sizeof odd / sizeof *odd)];
    std::string s;
    if (rng() % 4 == 0) s += '-';
    int nInt = static_cast<int>(rng() % 25);
    for (int i = 0; i < nInt; ++i) s += static_cast<char>('0' + rng() % 10);
    if (rng() % 2) {
        s += '.';
        int nFrac = static_cast<int>(rng() % 25);
        for (int i = 0; i < nFrac; ++i) s += static_cast<char>('0' + rng() % 10);
    }
    if (rng() % 3 == 0) {
        s += (rng() % 2) ? 'e' : 'E';
        if (rng() % 2) s += (rng() % 2) ? '-' : '+';
        int nExp = static_cast<int>(rng() % 4);
        for (int i = 0; i < nExp; ++i) s += static_cast<char>('0' + rng() % 10);
    }
    return s;
}

std::string RandomSpace(std::mt19937& rng) {
    static const char* sp[] = {"", " ", "\t", "  ", " \r", "\v", "\f "};
    return sp[rng() % (sizeof sp / sizeof *sp)];
}

}  // namespace

TEST(TextScan, ScanTwoDoubles_RandomLines_SameAsSscanf) {
    std::mt19937 rng(11);
    for (int i = 0; i < 20000; ++i) {
        std::string line = RandomSpace(rng) + RandomToken(rng) + RandomSpace(rng) + RandomToken(rng) +
                           ((rng() % 2) ? std::string("\n") : RandomSpace(rng) + "tail");
        double ea = 0, eb = 0, a = -1, b = -1;
        std::sscanf(line.c_str(), "%lf%lf", &ea, &eb);
        textscan::ScanTwoDoubles(line.data(), line.data() + line.size(), a, b);
        ASSERT_EQ(std::memcmp(&a, &ea, sizeof a) == 0 || (a != a && ea != ea), true) << line;
        ASSERT_EQ(std::memcmp(&b, &eb, sizeof b) == 0 || (b != b && eb != eb), true) << line;
    }
}

TEST(TextScan, Atof_RandomText_SameAsStrtod) {
    std::mt19937 rng(12);
    for (int i = 0; i < 20000; ++i) {
        std::string text = RandomSpace(rng) + RandomToken(rng) + RandomSpace(rng) + RandomToken(rng);
        double e = std::strtod(text.c_str(), nullptr);
        double v = textscan::Atof(text.data(), text.data() + text.size());
        ASSERT_TRUE(std::memcmp(&v, &e, sizeof v) == 0 || (v != v && e != e)) << text;
    }
}

TEST(TextScan, Atoi_RandomText_SameAsAtoi) {
    std::mt19937 rng(13);
    for (int i = 0; i < 20000; ++i) {
        std::string text = RandomSpace(rng) + RandomToken(rng);
        ASSERT_EQ(textscan::Atoi(text.data(), text.data() + text.size()), std::atoi(text.c_str())) << text;
    }
}

TEST(TextScan, Atoi_OutOfRange_CutToIntLikeTheCLibrary) {
    // atoi is (int)strtol: saturated at long's range, then cut to 32 bits.
    const std::string cases[] = {"3+",         "  -7",        "+12",
                                 "abc",        "",            "2147483648",
                                 "-2147483649", "4294967298",  "99999999999",
                                 "-2147483648", "9223372036854775807", "9223372036854775808",
                                 "-9223372036854775808", "-99999999999999999999999", "99999999999999999999999"};
    const int want[] = {3, -7, 12, 0, 0, INT_MIN, INT_MAX, 2, 1215752191, INT_MIN, -1, -1, 0, 0, -1};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(textscan::Atoi(cases[i].data(), cases[i].data() + cases[i].size()), want[i]) << cases[i];
}

TEST(TextScan, LineReader_PiecesSameAsFgets) {
    // Random files with long lines, NUL bytes and no final line end, read
    // both ways; the reader must give fgets's pieces (as C strings).
    CTempDir dir;
    std::mt19937 rng(14);
    for (int round = 0; round < 12; ++round) {
        std::string content;
        int lines = static_cast<int>(rng() % 50);
        for (int i = 0; i < lines; ++i) {
            size_t len = (rng() % 5 == 0) ? rng() % 300000 : rng() % 100;
            std::string l(len, 'a');
            for (auto& c : l) c = static_cast<char>((rng() % 50 == 0) ? 0 : 'a' + rng() % 26);
            content += l;
            if (i + 1 < lines || rng() % 2) content += '\n';
        }
        std::string path = dir.Write("l.txt", content);
        std::vector<std::string> want;
        FILE* fp = std::fopen(path.c_str(), "r");
        std::vector<char> buf(81960);
        while (std::fgets(buf.data(), 81960, fp)) want.emplace_back(buf.data());
        std::fclose(fp);

        fp = std::fopen(path.c_str(), "r");
        textscan::CLineReader reader;
        reader.Reset(fp);
        std::vector<std::string> got;
        const char* line;
        size_t len;
        while (reader.Next(line, len, textscan::CLineReader::FGETS_PIECE)) got.emplace_back(line, len);
        std::fclose(fp);
        ASSERT_EQ(got, want) << round;
    }
}

TEST(TextScan, Atof_PeakLikeDecimals_CorrectlyRounded) {
    // The short decimals of real peak lists, where rounding slips would show.
    std::mt19937_64 rng(15);
    char buf[64];
    for (int i = 0; i < 100000; ++i) {
        int digits = static_cast<int>(rng() % 12);
        double x = static_cast<double>(rng() % 100000000000ULL) / static_cast<double>(1ULL << (rng() % 40));
        int n = std::snprintf(buf, sizeof buf, (i % 5 == 0) ? "%.*e" : "%.*f", digits, x);
        double e = std::strtod(buf, nullptr);
        double v = textscan::Atof(buf, buf + n);
        ASSERT_EQ(std::memcmp(&v, &e, sizeof v), 0) << buf;
    }
}
