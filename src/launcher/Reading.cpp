#include "launcher/Reading.h"

#include <algorithm>
#include <string_view>

#include "util/StringTools.h"

namespace launcher {

namespace {

constexpr const char* kPlayerOption = "--player";
constexpr const char* kSummaryPrefix = "Available streams: ";

void removeFirst(Args& list, const std::string& value) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == value) {
            list.erase(it);
            return;
        }
    }
}

// Blanks as yt-dlp's table pads with them; CR too, as a Windows yt-dlp ends its lines.
constexpr std::string_view kBlanks = " \t\r";

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> found;
    for (std::size_t at = line.find_first_not_of(kBlanks); at != std::string_view::npos;
         at = line.find_first_not_of(kBlanks, at)) {
        std::size_t end = std::min(line.find_first_of(kBlanks, at), line.size());
        found.push_back(line.substr(at, end - at));
        at = end;
    }
    return found;
}

// "ID  EXT RESOLUTION | ..."
bool isTableHeader(std::string_view line) {
    std::vector<std::string_view> named = words(line);
    auto names = [&](std::string_view word) {
        return std::find(named.begin(), named.end(), word) != named.end();
    };
    return line.starts_with("ID") && named[0] == "ID" && names("EXT") && names("RESOLUTION");
}

// The rule under the header: ASCII dashes through a pipe, box-drawing ones (U+2500) on a
// UTF-8 terminal.
bool isDashLine(std::string_view line) {
    bool dash = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '-') {
            dash = true;
        } else if (line.substr(i, 3) == "\xE2\x94\x80") {
            dash = true;
            i += 2;
        } else if (kBlanks.find(line[i]) == std::string_view::npos) {
            return false;
        }
    }
    return dash;
}

// The first word of every row of yt-dlp's tables (one per video of a playlist). A table
// ends at a blank line or at one of yt-dlp's own "[...]" messages.
Args tableCodes(const Args& lines) {
    Args codes;
    bool inTable = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string_view> row = words(lines[i]);
        if (isTableHeader(lines[i]) && i + 1 < lines.size() && isDashLine(lines[i + 1])) {
            inTable = true;
            ++i;  // the rule
        } else if (row.empty() || row[0].starts_with("[")) {
            inTable = false;
        } else if (inTable) {
            codes.emplace_back(row[0]);
        }
    }
    return codes;
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

CommandLine readCommandLine(const Args& args) {
    CommandLine line;
    Args work = args;
    line.player = takePlayer(work);
    if (!work.empty()) line.page = work[0];
    if (args.size() == 4) {
        line.quality = work.size() > 1 ? work[1] : "";
        line.best = StringTools::toLowerCase(args[1]) == "best";
    }
    return line;
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
    if (headerSeen) {
        if (!codes.empty()) result.summary = kSummaryPrefix + StringTools::replace(codes, ",,", "");
        return result;
    }
    // Without that header every line is printed; yt-dlp's table still names the codes.
    Args tabled = tableCodes(result.printed);
    if (!tabled.empty()) result.summary = kSummaryPrefix + StringTools::join(tabled, ",");
    return result;
}

}  // namespace launcher
