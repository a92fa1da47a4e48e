// Parse throughput (bytes of input per second) of our JSON and XML parsers beside the
// peers that are installed, one row per parser and document. Each iteration builds the
// whole tree and frees it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>

#include "parsers.h"

namespace {

// Made on first use, so that a process running one row makes only that row's document.
const std::string& text(const bench::Document* document) {
    static std::map<const bench::Document*, std::string> made;
    auto found = made.find(document);
    if (found == made.end()) found = made.emplace(document, document->make()).first;
    return found->second;
}

template <typename P>
void throughput(benchmark::State& state, const bench::Document* document) {
    const std::string& source = text(document);
    decltype(auto) input = P::prepare(source);
    for (auto _ : state) {
        typename P::Tree tree;
        if (!P::parse(tree, input)) {
            state.SkipWithError("parse error");
            break;
        }
        benchmark::DoNotOptimize(tree);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}

}  // namespace

int main(int argc, char** argv) {
    bench::forEachRow([]<typename P>(const bench::Document& document) {
        benchmark::RegisterBenchmark(bench::rowName<P>(document).c_str(), throughput<P>, &document)
            ->Unit(benchmark::kMicrosecond);
    });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
