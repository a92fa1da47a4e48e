#include "e2e/LauncherFixture.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace std::chrono_literals;

LauncherFixture::LauncherFixture() : launcher(dir.file("streamlaunch")) {
    std::filesystem::copy_file(STREAMLAUNCH_BINARY, launcher);
}

void LauncherFixture::fakeYoutubeDl(const std::string& output,
                                    const std::optional<std::string>& best) {
    testsupport::writeFile(dir.file("youtube-dl.out"), output);
    testsupport::writeFile(dir.file("youtube-dl.best"), best.value_or(output));
    testsupport::writeFile(dir.file("youtube-dl"),
                           "#!/bin/sh\n"
                           "here=$(dirname \"$0\")\n"
                           "printf '%s\\0' \"$@\" > \"$here/youtube-dl.args\"\n"
                           "if [ \"$3 $4\" = '-f best' ]; then cat \"$here/youtube-dl.best\"; "
                           "else cat \"$here/youtube-dl.out\"; fi\n",
                           true);
}

std::string LauncherFixture::fakePlayer() {
    std::string player = dir.file("player");
    testsupport::writeFile(player,
                           "#!/bin/sh\n"
                           "here=$(dirname \"$0\")\n"
                           // Written whole under another name, then renamed: a test that waits
                           // for the file must not read it half written.
                           "printf '%s\\0' \"$@\" > \"$here/player.args.part\"\n"
                           "mv \"$here/player.args.part\" \"$here/player.args\"\n"
                           "sleep 0.5\n"
                           "echo to-stdout\n"
                           "echo to-stderr >&2\n"
                           "touch \"$here/player.alive\"\n",
                           true);
    return player;
}

testsupport::RunResult LauncherFixture::launch(const std::vector<std::string>& args,
                                               const std::vector<std::string>& env) {
    std::vector<std::string> argv = launcherCommand();
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::run(argv, 60s, env);
}

std::vector<std::string> LauncherFixture::launcherCommand() const {
    std::vector<std::string> argv;
    if (const char* wrapper = std::getenv("STREAMLAUNCH_LAUNCH_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;) argv.push_back(word);
    }
    argv.push_back(launcher);
    return argv;
}

std::vector<std::string> LauncherFixture::recorded(const std::string& name) const {
    std::string text = testsupport::readFile(dir.file(name + ".args"));
    std::vector<std::string> args;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find('\0', from)) != std::string::npos; from = at + 1) {
        args.push_back(text.substr(from, at - from));
    }
    return args;
}
