#include "launcher/Reading.h"

#include <algorithm>
#include <string_view>

#include "runtime/Thrown.h"
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

// Blanks as yt-dlp's table pads with them; CR too, which may end a last line.
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

// youtube-dl's output cut at LF; a CR right before a LF belongs to the line end, as a
// youtube-dl writing in text mode on Windows ends its lines.
Args outputLines(const std::string& output) {
    Args lines = StringTools::split(output, "\n");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].ends_with('\r')) lines[i].pop_back();
    }
    return lines;
}

// youtube-dl -g's lines that may be addresses.
Args addressLines(const std::string& output) {
    Args lines = outputLines(output);
    if (lines.back().ends_with('\r')) lines.back().pop_back();
    std::erase(lines, std::string());
    return lines;
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

std::string streamAddress(const std::string& output, bool best,
                          const std::function<std::string()>& askBest) {
    Args addresses = addressLines(output);
    if (addresses.size() == 1) return addresses[0];
    if (addresses.empty()) throw runtime::ThrownMessage("youtube-dl gave no stream address");
    // Several: most often picture and sound apart, which the player cannot join.
    const std::string came =
        "youtube-dl gave " + std::to_string(addresses.size()) + " stream addresses";
    if (!best) {
        throw runtime::ThrownMessage(
            came +
            " and the player takes one: ask for a quality that holds picture and sound "
            "together, such as best");
    }
    Args single = addressLines(askBest());
    if (single.size() == 1) return single[0];
    throw runtime::ThrownMessage(
        came + ", and " + std::to_string(single.size()) +
        " for -f best; the player takes one: ask for a format that holds picture and "
        "sound together (the list without a quality names them)");
}

FormatSummary summarizeFormats(const std::string& listing) {
    if (listing.empty()) throw runtime::ThrownMessage("youtube-dl listed no formats");
    FormatSummary result;
    std::string codes;
    bool headerSeen = false;
    const Args lines = outputLines(listing);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        // An empty word (from an empty line, or one that begins with a blank) would leave
        // ",," and glue the codes on either side. The last line's stays: after a final line
        // end its "," takes the one before it away, as it always has.
        std::string word = headerSeen ? StringTools::split(line, " ")[0] : "";
        if (headerSeen && (!word.empty() || i + 1 == lines.size())) codes += word + ",";
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
