#include "launcher/Main.h"

#include <vector>

#include "launcher/Config.h"
#include "launcher/Reading.h"
#include "launcher/Usage.h"
#include "native/platform.h"
#include "sys/FileSystem.h"
#include "sys/Sys.h"
#include "sys/io/Process.h"
#include "util/StringTools.h"

namespace {

using launcher::Args;

// Indexed reading that yields an absent text past the end.
std::optional<std::string> at(const Args& list, std::size_t i) {
    return i < list.size() ? std::optional<std::string>(list[i]) : std::nullopt;
}

bool contains(const std::optional<std::string>& text, std::string_view sub) {
    return text && text->find(sub) != std::string::npos;
}

// The youtube-dl beside the program, or absent when the program's path is unknown.
std::optional<std::string> youtubeDlProbePath() {
    std::optional<std::string> program = Sys::programPath();
    if (!program) return std::nullopt;
    const std::string separator(1, native::kPathSeparator);
    Args pieces = StringTools::split(*program, separator);
    pieces.pop_back();
    return StringTools::join(pieces, separator) + separator + native::kYoutubeDlFileName;
}

std::string runForOutput(const std::string& command, const Args& arguments) {
    sys::io::Process child(command, arguments);
    return child.stdOut.readAll().toString();
}

void channelRoad(const std::string& page, const Args& work, const std::string& player) {
    std::string quality = Sys::args().size() == 4 ? at(work, 1).value_or("") : "";
    Main::parseGGJson(launcher::channelName(page), quality, player);
}

void directAddressRoad(const std::string& youtubeDl, const std::string& page, const Args& work,
                       const std::string& player) {
    Args arguments{"-g", page};
    if (StringTools::toLowerCase(Sys::args()[1]) != "best") {
        arguments.insert(arguments.end(), {"-f", at(work, 1).value_or("")});
    }
    std::string address = StringTools::replace(runForOutput(youtubeDl, arguments), "\n", "");
    sys::io::Process started(player, Args{address});  // not waited for: it plays on alone
}

void formatListRoad(const std::string& youtubeDl, const std::string& page) {
    launcher::FormatSummary listing = launcher::summarizeFormats(runForOutput(youtubeDl, {"-F", page}));
    for (const std::string& line : listing.printed) Sys::println(line);
    Sys::println(listing.summary);
}

}  // namespace

void Main::main() {
    std::optional<std::string> probe = youtubeDlProbePath();
    // Asked alone, these answer before any check: they need no youtube-dl.
    const Args& args = Sys::args();
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        Sys::println(launcher::helpText(probe));
        return;
    }
    if (args.size() == 1 && args[0] == "--version") {
        Sys::println(launcher::versionText());
        return;
    }
    if (!probe || !sys::FileSystem::exists(*probe)) {
        Sys::println("Put youtube-dl near this file.");
        return;
    }
    const std::string youtubeDl = native::kYoutubeDlByProbePath ? *probe : native::kYoutubeDlFileName;

    if (Sys::args().empty()) {
        Sys::println("NO ARGUMENTS.");
        return;
    }

    Args work = Sys::args();
    std::string player = launcher::takePlayer(work);
    if (player.empty()) {
        Sys::println("No player argument.");
        return;
    }

    std::optional<std::string> page = at(work, 0);
    if (contains(page, std::string(launcher::kWebDomain) + "/channel")) {
        channelRoad(*page, work, player);
    } else if (Sys::args().size() == 4) {
        directAddressRoad(youtubeDl, page.value_or(""), work, player);
    } else {
        formatListRoad(youtubeDl, page.value_or(""));
    }
}
