// The channel road's resolver: channel name, status API, stream id, playlist, player.
#include <string>
#include <vector>

#include "http/Http.h"
#include "launcher/Config.h"
#include "launcher/Main.h"
#include "lumo/format/JsonParser.h"
#include "lumo/xml/Fast.h"
#include "lumo/xml/Xml.h"
#include "runtime/Thrown.h"
#include "sys/Sys.h"
#include "sys/io/Process.h"
#include "util/Reflect.h"
#include "util/Std.h"
#include "util/StringTools.h"

namespace {

using runtime::Dynamic;

// The status answer's first field, whatever its name; null when the answer has none.
Dynamic fetchChannelEntry(const std::string& channel) {
    const std::string body = lumo::Http::requestUrl(std::string("http://") + launcher::kApiHost +
                                                    "/api/getchannelstatus?fmt=json&id=" + channel);
    const Dynamic answer = lumo::format::JsonParser(body).parseRec();
    const std::vector<std::string> names = Reflect::fields(answer);
    return names.empty() ? Dynamic() : Reflect::getProperty(answer, names.front());
}

// A field of the entry as text. Missing or null stays absent, so that it never equals a
// literal the way the text "null" would.
std::optional<std::string> textField(const Dynamic& entry, std::string_view name) {
    const Dynamic value = Reflect::getProperty(entry, name);
    return value.isNull() ? std::nullopt : std::optional<std::string>(Std::string(value));
}

// The id sits in the embed's first element, in its "src" after the first "?" (up to any
// second one). Without an id the playlist address would be plainly wrong, so that ends
// the run as an error rather than starting the player on it.
std::string streamId(const std::optional<std::string>& embed) {
    const Xml::Ptr element = Xml::parse(embed.value_or(""))->firstElement();
    if (!element) throw runtime::ThrownMessage("Channel embed holds no element");
    const std::string source = lumo::xml::Fast(element).att.resolve("src");
    const std::vector<std::string> pieces = StringTools::split(source, "?");
    if (pieces.size() < 2 || pieces[1].empty()) {
        throw runtime::ThrownMessage("Channel embed source holds no stream id: " + source);
    }
    return pieces[1];
}

// What follows base + id; absent when the user must pick among a premium channel's streams.
std::optional<std::string> playlistSuffix(const std::string& quality, bool premium) {
    if (StringTools::toLowerCase(quality) == "best") return premium ? "_720.m3u8" : ".m3u8";
    if (!quality.empty()) return "_" + quality + ".m3u8";
    if (premium) return std::nullopt;
    return ".m3u8";
}

}  // namespace

void Main::parseGGJson(std::optional<std::string> channel, std::optional<std::string> quality,
                       std::optional<std::string> player) {
    const Dynamic entry = fetchChannelEntry(channel.value_or(launcher::kDefaultChannel));
    if (Reflect::fields(entry).empty()) {
        Sys::println("Channel doesn't exist!");
        return;
    }
    if (textField(entry, "status") != "Live") {
        Sys::println("Channel is offline.");
        return;
    }
    const std::string id = streamId(textField(entry, "embed"));
    const std::optional<std::string> suffix =
        playlistSuffix(quality.value_or(""), textField(entry, "premium") == "true");
    if (!suffix) {
        Sys::println("Available streams: 240, 480, 720");
        return;
    }
    const std::string playlist =
        std::string("http://") + launcher::kHlsHost + "/hls/" + id + *suffix;
    sys::io::Process started(player.value_or(""),
                             std::vector<std::string>{playlist});  // plays on alone
}
