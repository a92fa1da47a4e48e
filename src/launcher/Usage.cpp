#include "launcher/Usage.h"

#include "native/platform.h"

namespace launcher {

std::string helpText(const std::optional<std::string>& youtubeDl) {
    const std::string name = native::kYoutubeDlFileName;
    return "Usage: streamlaunch <page-url> [quality] --player <player-command>\n"
           "\n"
           "Starts a media player on a live stream and exits while it plays.\n"
           "\n"
           "  GoodGame channel pages (goodgame.ru/channel/<name>): the channel's status is\n"
           "  asked for, and the player is started on the channel's HLS playlist.\n"
           "  Any other page goes to youtube-dl: with a quality, the player is started on\n"
           "  the address youtube-dl gives for it; without one, youtube-dl's format list is\n"
           "  printed, followed by \"Available streams: \" and the format codes.\n"
           "\n"
           "The quality counts only with exactly four arguments: the page, the quality and\n"
           "the --player pair, which may stand anywhere. \"best\", in any letter case, asks\n"
           "for the best stream; any other name is passed on as it is (a youtube-dl format\n"
           "code, or 240, 480 or 720 on a channel).\n"
           "\n"
           "youtube-dl must lie beside this program's own file, named " + name + "\n" +
           "(a link to yt-dlp serves)" + (youtubeDl ? ":\n  " + *youtubeDl : std::string(".")) + "\n"
           "\n"
           "Messages (one line each; exit status 0):\n"
           "  Put youtube-dl near this file.      no youtube-dl beside the program\n"
           "  NO ARGUMENTS.                       no arguments\n"
           "  No player argument.                 no --player, or nothing after it\n"
           "  Channel doesn't exist!              the service knows no such channel\n"
           "  Channel is offline.                 the channel is not live\n"
           "  Available streams: 240, 480, 720    a premium channel, and no quality given\n"
           "Any other failure prints \"Error : \" and its reason; exit status 255.\n"
           "\n"
           "  streamlaunch --help, -h     this text\n"
           "  streamlaunch --version      the version and the license";
}

std::string versionText() { return std::string("streamlaunch ") + STREAMLAUNCH_VERSION + "\nLicense: MIT"; }

}  // namespace launcher
