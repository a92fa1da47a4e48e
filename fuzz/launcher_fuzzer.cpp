// The launcher's argument handling and youtube-dl format-list summary, with no process
// started. The first byte says how many NUL-separated arguments follow (at most 7); the
// rest is a format listing. Besides crashes, what the player extraction leaves and what
// the summary says are checked against their contracts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/Reading.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void checkPlayer(const launcher::Args& given) {
    launcher::Args left = given;
    std::string player = launcher::takePlayer(left);
    auto option = std::find_if(given.begin(), given.end(), [](const std::string& a) {
        return a.find("--player") != std::string::npos;
    });
    if (option == given.end() || option + 1 == given.end()) {
        check(player.empty() && left == given);
        return;
    }
    check(player == *(option + 1));
    // At most the player's first occurrence and the exact option went; order is kept.
    check(left.size() + 2 >= given.size() && left.size() < given.size());
    std::size_t g = 0;
    for (const std::string& a : left) {
        while (g < given.size() && given[g] != a) ++g;
        check(g++ < given.size());
    }
}

void checkSummary(const std::string& listing) {
    launcher::FormatSummary s = launcher::summarizeFormats(listing);
    constexpr std::string_view prefix = "Available streams: ";
    check(s.summary.empty() || s.summary.starts_with(prefix));
    check(s.summary.find('\n') == std::string::npos);
    for (const std::string& line : s.printed) check(line.find('\n') == std::string::npos);
    std::size_t lines =
        static_cast<std::size_t>(std::count(listing.begin(), listing.end(), '\n')) + 1;
    check(s.printed.size() <= lines);
    // Without youtube-dl's older header nothing is held back, and yt-dlp's codes are words.
    bool olderHeader = false;
    for (std::size_t at = listing.find("resolution note"); at != std::string::npos && !olderHeader;
         at = listing.find("resolution note", at + 1)) {
        olderHeader = at > 0 && listing[at - 1] != '\n';
    }
    if (!olderHeader) {
        check(s.printed.size() == lines);
        check(s.summary.find_first_of(" \t\r", prefix.size()) == std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t count = data[0] % 8;
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    launcher::Args args;
    std::size_t at = 0;
    while (args.size() < count && at <= rest.size()) {
        std::size_t end = std::min(rest.find('\0', at), rest.size());
        args.push_back(rest.substr(at, end - at));
        at = end + 1;
    }
    checkPlayer(args);
    for (const std::string& a : args) {
        if (a.find("goodgame.ru/channel") != std::string::npos) {
            check(launcher::channelName(a).find_first_of("/?#") == std::string::npos);
        }
    }
    checkSummary(at < rest.size() ? rest.substr(at) : std::string());
    return 0;
}
