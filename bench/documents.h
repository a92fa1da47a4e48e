#pragma once
// Inputs for the parser benchmarks, made the same way on every run.
#include <cstddef>
#include <span>
#include <string>

namespace bench {

// A channel-status answer of about 1 KB, as the service sends it.
std::string channelStatusJson();
// At least `bytes` long: objects, arrays, strings with escapes, integers and floats.
std::string largeJson(std::size_t bytes);
// An array of 100 000 objects of four short fields each (about 4 MB): per-value costs.
std::string smallObjectsJson();
// The embed fragment of a channel-status answer.
std::string embedXml();
// About 5 MB: nested elements with attributes, entities, comments and CDATA.
std::string largeXml();
// One start tag of n attributes (10,000 make about 130 KB): the cost of the check that no
// name comes twice.
std::string manyAttributesXml(int n);

enum class Format { Json, Xml };

struct Document {
    const char* name;  // the second part of a benchmark row's name
    Format format;
    std::string (*make)();
};

// Every document the parsers are measured on, small to large within each format.
std::span<const Document> documents();

}  // namespace bench
