// Peak memory of a parse per byte of input, one row (named as parse_bench names it) per
// process:
//
//   parse_memory ROW
//
// prints "ROW <input bytes> <copies> <peak bytes> <peak bytes per input byte>".
//
// The peak is how far the resident high-water mark (VmHWM) rises while the document is
// parsed and its tree kept: the tree plus whatever the parser held at its busiest. The
// mark is first brought down to what is resident once the input is made, so that the
// input's making does not hide the parse. A document under 64 KB would move it by a few
// pages at most, so it is parsed 10 000 times into trees kept at once and the rise is
// divided by all their bytes: parser memory freed between parses is then spread over
// the copies, and what stays is what keeping many small trees costs.
#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "parsers.h"

namespace {

constexpr std::size_t kSmallDocument = 64 * 1024;
constexpr std::size_t kSmallCopies = 10'000;

std::size_t residentPeak() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::stoul(line.substr(6)) * 1024;  // in kB
    }
    throw std::runtime_error("no VmHWM in /proc/self/status");
}

// Sets the high-water mark to what is resident now; false where the kernel refuses.
bool resetPeak() {
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5" << std::flush;
    return static_cast<bool>(clearRefs);
}

template <typename P>
void measure(const std::string& row, const bench::Document& document) {
    const std::string text = document.make();
    decltype(auto) input = P::prepare(text);
    const std::size_t copies = text.size() < kSmallDocument ? kSmallCopies : 1;
    // Freed pages that making the input left resident would let the parse grow unseen.
    malloc_trim(0);
    if (!resetPeak()) {
        std::fputs("parse_memory: cannot reset VmHWM; measuring from the input's peak\n", stderr);
    }
    const std::size_t before = residentPeak();
    auto trees = std::make_unique<typename P::Tree[]>(copies);
    for (std::size_t i = 0; i < copies; ++i) {
        if (!P::parse(trees[i], input)) throw std::runtime_error(row + ": parse error");
    }
    const std::size_t peak = residentPeak() - before;
    std::printf("%s %zu %zu %zu %.2f\n", row.c_str(), text.size(), copies, peak,
                static_cast<double>(peak) / static_cast<double>(copies * text.size()));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string wanted = argc == 2 ? argv[1] : "";
    bool found = false;
    bench::forEachRow([&]<typename P>(const bench::Document& document) {
        const std::string row = bench::rowName<P>(document);
        if (row != wanted) return;
        found = true;
        measure<P>(row, document);
    });
    if (!found) {
        std::fputs("usage: parse_memory ROW (a row of parse_bench --benchmark_list_tests)\n",
                   stderr);
        return 2;
    }
    return 0;
}
