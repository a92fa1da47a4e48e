// Parse throughput (bytes per second) of our JSON and XML parsers beside the peers that
// are installed, on a small real-world document and a generated 5 MB one.
#include <benchmark/benchmark.h>

#include "documents.h"
#include "lumo/format/JsonParser.h"
#include "lumo/xml/Parser.h"

#ifdef HAVE_RAPIDJSON
#include <rapidjson/document.h>
#endif
#ifdef HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#ifdef HAVE_SIMDJSON
#include <simdjson.h>
#endif
#ifdef HAVE_PUGIXML
#include <pugixml.hpp>
#endif
#ifdef HAVE_TINYXML2
#include <tinyxml2.h>
#endif

namespace {

const std::string& document(int which) {
    static const std::string docs[] = {bench::channelStatusJson(), bench::largeJson(), bench::embedXml(),
                                       bench::largeXml()};
    return docs[which];
}

enum Doc { kJsonSmall, kJsonLarge, kXmlSmall, kXmlLarge };

template <typename Parse>
void run(benchmark::State& state, Parse parse) {
    const std::string& text = document(static_cast<int>(state.range(0)));
    for (auto _ : state) parse(text);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void Json_Ours(benchmark::State& state) {
    run(state, [](const std::string& text) {
        runtime::Dynamic value = lumo::format::JsonParser(text).parseRec();
        benchmark::DoNotOptimize(value);
    });
}

#ifdef HAVE_RAPIDJSON
void Json_RapidJsonDom(benchmark::State& state) {
    run(state, [](const std::string& text) {
        rapidjson::Document d;
        d.Parse(text.c_str(), text.size());
        benchmark::DoNotOptimize(d);
    });
}
#endif

#ifdef HAVE_NLOHMANN
void Json_Nlohmann(benchmark::State& state) {
    run(state, [](const std::string& text) {
        auto value = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(value);
    });
}
#endif

#ifdef HAVE_SIMDJSON
void Json_SimdjsonDom(benchmark::State& state) {
    simdjson::dom::parser parser;  // reused across parses, as the library intends
    simdjson::padded_string padded(document(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        auto element = parser.parse(padded);
        benchmark::DoNotOptimize(element);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * padded.size()));
}
#endif

void Xml_Ours(benchmark::State& state) {
    run(state, [](const std::string& text) {
        Xml::Ptr doc = lumo::xml::Parser::parse(text);
        benchmark::DoNotOptimize(doc);
    });
}

#ifdef HAVE_PUGIXML
void Xml_Pugixml(benchmark::State& state) {
    run(state, [](const std::string& text) {
        pugi::xml_document doc;
        auto result = doc.load_buffer(text.data(), text.size());
        benchmark::DoNotOptimize(result);
    });
}
#endif

#ifdef HAVE_TINYXML2
void Xml_Tinyxml2(benchmark::State& state) {
    run(state, [](const std::string& text) {
        tinyxml2::XMLDocument doc;
        auto result = doc.Parse(text.data(), text.size());
        benchmark::DoNotOptimize(result);
    });
}
#endif

}  // namespace

#define JSON_DOCS ->Arg(kJsonSmall)->Arg(kJsonLarge)->Unit(benchmark::kMicrosecond)
#define XML_DOCS ->Arg(kXmlSmall)->Arg(kXmlLarge)->Unit(benchmark::kMicrosecond)

BENCHMARK(Json_Ours) JSON_DOCS;
#ifdef HAVE_RAPIDJSON
BENCHMARK(Json_RapidJsonDom) JSON_DOCS;
#endif
#ifdef HAVE_NLOHMANN
BENCHMARK(Json_Nlohmann) JSON_DOCS;
#endif
#ifdef HAVE_SIMDJSON
BENCHMARK(Json_SimdjsonDom) JSON_DOCS;
#endif
BENCHMARK(Xml_Ours) XML_DOCS;
#ifdef HAVE_PUGIXML
BENCHMARK(Xml_Pugixml) XML_DOCS;
#endif
#ifdef HAVE_TINYXML2
BENCHMARK(Xml_Tinyxml2) XML_DOCS;
#endif

BENCHMARK_MAIN();
