#include "documents.h"

#include <cstdint>

namespace bench {

namespace {
// A small fixed generator, so every run parses the same bytes.
struct Lcg {
    std::uint32_t state = 12345;
    std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
};
}  // namespace

std::string channelStatusJson() {
    return R"({"52394":{"stream_id":"52394","key":"zumel","premium":"true","status":"Live",)"
           R"("id":52394,"url":"https:\/\/goodgame.ru\/channel\/zumel\/","title":"Evening stream \u2014 )"
           R"(ranked games with viewers, questions welcome","channel_id":"52394","viewers":"1284",)"
           R"("usersinchat":"2317","embed":"<iframe frameborder=\"0\" width=\"100%\" height=\"100%\" )"
           R"(src=\"https:\/\/goodgame.ru\/player?52394\"><\/iframe>","img":"https:\/\/goodgame.ru\/)"
           R"(files\/logotypes\/ch_52394_jpQe.png","thumb":"https:\/\/hls.goodgame.ru\/previews\/)"
           R"(52394_240.jpg","description":"Streams every day from 18:00. Rules: be polite, no spam, )"
           R"(no links.","adult":false,"games":"Dota 2","game_id":17,"spam":0,"rating":4.75,)"
           R"("broadcast_started":1733681400,"tags":["ru","dota","ranked"],"hidden":null,)"
           R"("player_src":"https:\/\/goodgame.ru\/player?52394","source":"obs","fps":60.0}})";
}

std::string largeJson(std::size_t bytes) {
    Lcg rng;
    std::string out = "[";
    // Reserved at its final size, here and below: doubling would leave freed copies
    // behind, and peak memory is measured from the peak that making the input leaves.
    out.reserve(bytes + 512);
    for (int i = 0; out.size() < bytes; ++i) {
        if (i > 0) out += ',';
        std::uint32_t r = rng.next();
        out += "{\"id\":" + std::to_string(i) + ",\"name\":\"user_" + std::to_string(r % 100000) +
               "\",\"score\":" + std::to_string(r % 1000) + "." + std::to_string(r % 97) +
               ",\"active\":" + (r & 1 ? "true" : "false") +
               ",\"tags\":[\"alpha\",\"beta \\\"quoted\\\"\",\"line\\nbreak\"],\"note\":" +
               (r & 2 ? "null" : "\"caf\\u00e9 \\/ path\"") + ",\"pos\":{\"x\":-" + std::to_string(r % 5000) +
               ",\"y\":" + std::to_string(r % 7) + ".5e3,\"label\":\"a somewhat longer text value " +
               std::to_string(r) + "\"}}";
    }
    out += ']';
    return out;
}

std::string smallObjectsJson() {
    Lcg rng;
    std::string out = "[";
    out.reserve(4'500'000);
    for (int i = 0; i < 100'000; ++i) {
        if (i > 0) out += ',';
        std::uint32_t r = rng.next();
        out += "{\"id\":" + std::to_string(i) + ",\"ok\":" + (r & 1 ? "true" : "false") +
               ",\"n\":\"k" + std::to_string(r % 1000) + "\",\"v\":" + std::to_string(r % 100) +
               '}';
    }
    out += ']';
    return out;
}

std::string embedXml() {
    return "<iframe frameborder=\"0\" width=\"100%\" height=\"100%\" "
           "src=\"https://goodgame.ru/player?52394\" allowfullscreen=\"true\"></iframe>";
}

std::string largeXml() {
    Lcg rng;
    std::string out = "<?xml version=\"1.0\"?>\n<catalog>\n";
    constexpr std::size_t kBytes = 5'000'000;
    out.reserve(kBytes + 512);
    for (int i = 0; out.size() < kBytes; ++i) {
        std::uint32_t r = rng.next();
        out += "  <item id=\"" + std::to_string(i) + "\" kind=\"k" + std::to_string(r % 13) +
               "\" price=\"" + std::to_string(r % 1000) + ".99\">\n    <title>Item " + std::to_string(r) +
               " &amp; friends &lt;new&gt;</title>\n    <description>A plain description of moderate length "
               "that runs on for a while.</description>\n";
        if (r & 1) out += "    <!-- reviewed -->\n";
        if (r & 2) out += "    <raw><![CDATA[a < b && c > d]]></raw>\n";
        out += "    <tags><tag>a</tag><tag>b</tag><empty/></tags>\n  </item>\n";
    }
    out += "</catalog>\n";
    return out;
}

std::string manyAttributesXml(int n) {
    std::string out = "<e";
    for (int i = 0; i < n; ++i) out += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return out + "/>";
}

std::span<const Document> documents() {
    static const Document all[] = {
        {"channel_status", Format::Json, channelStatusJson},
        {"json_5MB", Format::Json, [] { return largeJson(5'000'000); }},
        {"json_50MB", Format::Json, [] { return largeJson(50'000'000); }},
        {"json_100k_small_objects", Format::Json, smallObjectsJson},
        {"embed_fragment", Format::Xml, embedXml},
        {"xml_5MB", Format::Xml, largeXml},
        {"xml_10k_attributes", Format::Xml, [] { return manyAttributesXml(10'000); }},
        {"xml_40k_attributes", Format::Xml, [] { return manyAttributesXml(40'000); }},
        {"xml_160k_attributes", Format::Xml, [] { return manyAttributesXml(160'000); }},
    };
    return all;
}

}  // namespace bench
