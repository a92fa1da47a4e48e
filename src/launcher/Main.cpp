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

void channelRoad(const launcher::CommandLine& line) {
    Main::parseGGJson(launcher::channelName(*line.page), line.quality.value_or(""), line.player);
}

void directAddressRoad(const std::string& youtubeDl, const launcher::CommandLine& line) {
    const std::string page = line.page.value_or("");
    Args arguments{"-g", page};
    if (!line.best) arguments.insert(arguments.end(), {"-f", *line.quality});
    std::string address =
        launcher::streamAddress(runForOutput(youtubeDl, arguments), line.best, [&] {
            return runForOutput(youtubeDl, {"-g", page, "-f", "best"});
        });
    sys::io::Process started(line.player, Args{address});  // not waited for: it plays on alone
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
    const Args args = Sys::args();
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

    if (args.empty()) {
        Sys::println("NO ARGUMENTS.");
        return;
    }

    launcher::CommandLine line = launcher::readCommandLine(args);
    if (line.player.empty()) {
        Sys::println("No player argument.");
        return;
    }

    if (contains(line.page, std::string(launcher::kWebDomain) + "/channel")) {
        channelRoad(line);
    } else if (line.quality) {
        directAddressRoad(youtubeDl, line);
    } else {
        formatListRoad(youtubeDl, line.page.value_or(""));
    }
}
