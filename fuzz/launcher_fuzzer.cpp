// The launcher's argument handling and readings of youtube-dl's output, with no process
// started. The first byte says how many NUL-separated arguments follow (at most 7) and,
// by its bit of value 8, whether the quality is best; the rest is youtube-dl's output, read both as
// a format listing and as -g's answer (its second half answering -f best). Besides
// crashes, what the player extraction leaves, what the summary says and which address
// the player would get are checked against their contracts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/Reading.h"
#include "runtime/Thrown.h"

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

// Lines with more in them than a CR that ends them.
std::size_t addressCount(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t from = 0, end; from <= text.size(); from = end + 1) {
        end = std::min(text.find('\n', from), text.size());
        count += end - from > 1 || (end > from && text[from] != '\r');
    }
    return count;
}

// The player gets an address only when exactly one came, from the first ask or, with
// best, from the second; that address is one of the lines given, whole.
void checkStreamAddress(const std::string& output, bool best) {
    const std::string second = output.substr(output.size() / 2);
    bool asked = false;
    try {
        std::string address = launcher::streamAddress(output, best, [&] {
            asked = true;
            return second;
        });
        const std::string& from = asked ? second : output;
        std::size_t at = from.find(address), end = at + address.size();
        check(addressCount(from) == 1 && !address.empty() && (at == 0 || from[at - 1] == '\n'));
        check(end == from.size() || from[end] == '\n' || from.compare(end, 2, "\r\n") == 0 ||
              from.compare(end, std::string::npos, "\r") == 0);
    } catch (const runtime::ThrownMessage&) {
        check(addressCount(output) != 1 && (!asked || addressCount(second) != 1));
    }
    check(asked == (best && addressCount(output) > 1));
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
    const std::string output = at < rest.size() ? rest.substr(at) : std::string();
    if (!output.empty()) checkSummary(output);  // an empty one is an error, as the tests hold
    checkStreamAddress(output, data[0] & 8);
    return 0;
}
