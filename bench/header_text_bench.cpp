// header_text_bench: throughput of the header text decoder on long texts,
// both targets. Prints a markdown table; not a test.

#include "mime/header_text.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kInputBytes = 4 * 1000 * 1000;
constexpr int kRuns = 5;

std::string Repeat(const std::string& piece)
{
    std::string text;
    while (text.size() < kInputBytes)
        text += piece;
    return text;
}

// Best of kRuns, in megabytes of input per second.
double MegabytesPerSecond(bool parameter, const std::string& input, TextTarget target, std::vector<char>& out)
{
    double best = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (parameter)
            DecodeParameter(input.data(), input.size(), "filename", target, out.data(), out.size());
        else
            DecodeHeaderText(input.data(), input.size(), target, out.data(), out.size());
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        const double speed = static_cast<double>(input.size()) / 1e6 / seconds.count();
        if (speed > best)
            best = speed;
    }
    return best;
}

} // namespace

int main()
{
    struct Case {
        const char* name;
        bool parameter;
        std::string input;
    };
    const Case cases[] = {
        {"ISO-2022-JP B words, folded", false,
         Repeat("=?ISO-2022-JP?B?GyRCRnxLXDhsJE43b0w+JEckORsoQg==?=\r\n ")},
        {"UTF-8 Q words", false,
         Repeat("=?utf-8?q?=E6=97=A5=E6=9C=AC=E8=AA=9E=E3=81=AE=E4=BB=B6=E5=90=8D?= ")},
        {"raw Shift_JIS", false, Repeat("\x93\xfa\x96{\x8c\xea\x82\xcc\x8c\x8f\x96\xbc ")},
        {"raw UTF-8", false, Repeat("日本語の件名です ")},
        {"RFC 2231 filename, UTF-8", true,
         "attachment; filename*=utf-8''" + Repeat("%E8%A6%8B%E7%A9%8D%E6%9B%B8")},
    };
    std::vector<char> out(2 * kInputBytes);
    std::printf("| input (%zu MB) | UTF-8 MB/s | CP932 MB/s |\n|---|---:|---:|\n", kInputBytes / 1000000);
    for (const Case& c : cases) {
        std::printf("| %s | %.0f | %.0f |\n", c.name, MegabytesPerSecond(c.parameter, c.input, TextTarget::Utf8, out),
                    MegabytesPerSecond(c.parameter, c.input, TextTarget::Cp932, out));
    }
    return 0;
}
