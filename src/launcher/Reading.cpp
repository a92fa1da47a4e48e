#include "launcher/Reading.h"

#include "util/StringTools.h"

namespace launcher {

namespace {

constexpr const char* kPlayerOption = "--player";

void removeFirst(Args& list, const std::string& value) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == value) {
            list.erase(it);
            return;
        }
    }
}

}  // namespace

std::string takePlayer(Args& args) {
    bool optionSeen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (optionSeen) {
            std::string player = args[i];
            removeFirst(args, player);
            removeFirst(args, kPlayerOption);
            return player;
        }
        if (args[i].find(kPlayerOption) != std::string::npos) optionSeen = true;
    }
    return "";
}

std::string channelName(const std::string& page) {
    std::string address = StringTools::split(StringTools::split(page, "?")[0], "#")[0];
    if (StringTools::endsWith(address, "/")) address.pop_back();
    return StringTools::split(address, "/").back();
}

FormatSummary summarizeFormats(const std::string& listing) {
    FormatSummary result;
    std::string codes;
    bool headerSeen = false;
    for (const std::string& line : StringTools::split(listing, "\n")) {
        if (headerSeen) codes += StringTools::split(line, " ")[0] + ",";
        std::size_t header = line.find("resolution note");
        if (header != std::string::npos && header > 0) {
            headerSeen = true;
        } else if (!headerSeen) {
            result.printed.push_back(line);
        }
    }
    if (!codes.empty())
        result.summary = "Available streams: " + StringTools::replace(codes, ",,", "");
    return result;
}

}  // namespace launcher
