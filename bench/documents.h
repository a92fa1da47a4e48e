#pragma once
// Inputs for the parser benchmarks, made the same way on every run.
#include <string>

namespace bench {

// A channel-status answer of about 1 KB, as the service sends it.
std::string channelStatusJson();
// About 5 MB: objects, arrays, strings with escapes, integers and floats.
std::string largeJson();
// The embed fragment of a channel-status answer.
std::string embedXml();
// About 5 MB: nested elements with attributes, entities, comments and CDATA.
std::string largeXml();

}  // namespace bench
