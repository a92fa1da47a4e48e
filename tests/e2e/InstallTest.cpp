// Help and version as the sole argument, and the program as `make install` lays it out.
#include <filesystem>
#include <set>

#include "e2e/LauncherFixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kUsageLine = "Usage: streamlaunch <page-url> [quality] --player <player-command>\n";

TEST_F(LauncherFixture, HelpAndVersionAnswerOnlyAsTheSoleArgument) {
    // No youtube-dl beside the program: these need none.
    for (std::string option : {"--help", "-h"}) {
        auto help = launch({option});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.substr(0, kUsageLine.size()), kUsageLine);
        EXPECT_NE(help.out.find("\n  " + dir.file("youtube-dl") + "\n"), std::string::npos) << help.out;
        EXPECT_NE(help.out.find("Put youtube-dl near this file."), std::string::npos);
    }
    auto version = launch({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "streamlaunch " STREAMLAUNCH_VERSION "\nLicense: MIT\n");
    // The manual page, as the build configures it, names the same version.
    EXPECT_NE(testsupport::readFile(BUILD_DIR "/streamlaunch.1").find("\"streamlaunch " STREAMLAUNCH_VERSION "\""),
              std::string::npos);

    // With other arguments they are ordinary arguments, and the earlier rules hold.
    EXPECT_EQ(launch({"--help", "x"}).out, "Put youtube-dl near this file.\n");
    fakeYoutubeDl("line1\nID  resolution note\nf1 mp4\n");
    EXPECT_EQ(launch({"--help", "x"}).out, "No player argument.\n");
    EXPECT_EQ(launch({"x", "--help"}).out, "No player argument.\n");
    EXPECT_EQ(launch({"-h", "--player"}).out, "No player argument.\n");
    auto listed = launch({"--version", "--player", "mpv"});
    EXPECT_EQ(listed.out, "line1\nAvailable streams: f1\n");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(recorded("youtube-dl"), (std::vector<std::string>{"-F", "--version"}));
}

// Every entry below root that is not a folder, with a link's target after " -> ".
std::set<std::string> laidOut(const fs::path& root) {
    std::set<std::string> entries;
    if (!fs::exists(root)) return entries;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_directory() && !e.is_symlink()) continue;
        std::string name = e.path().lexically_relative(root).string();
        entries.insert(e.is_symlink() ? name + " -> " + fs::read_symlink(e.path()).string() : name);
    }
    return entries;
}

testsupport::RunResult make(const std::string& target, const std::string& destdir) {
    // A make of our own, not a sub-make of whatever runs the tests.
    return testsupport::run({"env", "-u", "MAKEFLAGS", "-u", "MFLAGS", "-u", "MAKELEVEL", "make", "-s", "-C",
                             SOURCE_DIR, target, "DESTDIR=" + destdir, "PREFIX=/usr", "BUILD_DIR=" BUILD_DIR},
                            300s);
}

TEST_F(LauncherFixture, InstallLaysOutTheProgramAndUninstallRemovesIt) {
    const fs::path root = dir.path() / "root";
    const fs::path lib = root / "usr/lib/streamlaunch";
    ASSERT_EQ(make("install", root.string()).status, 0);
    std::set<std::string> expected{"usr/bin/streamlaunch -> ../lib/streamlaunch/streamlaunch",
                                   "usr/lib/streamlaunch/streamlaunch", "usr/share/man/man1/streamlaunch.1",
                                   "usr/share/doc/streamlaunch/LICENSE",
                                   "usr/share/doc/streamlaunch/THIRD-PARTY-NOTICES"};
    std::string ytdl = testsupport::run({"sh", "-c", "command -v youtube-dl || command -v yt-dlp"}, 10s).out;
    if (!ytdl.empty()) expected.insert("usr/lib/streamlaunch/youtube-dl -> " + ytdl.substr(0, ytdl.size() - 1));
    EXPECT_EQ(laidOut(root), expected);

    // Run through the link in bin/, with a recording youtube-dl beside the real program.
    fs::remove(lib / "youtube-dl");
    fakeYoutubeDl("http://media.test/stream\n");
    fs::copy_file(dir.file("youtube-dl"), lib / "youtube-dl");
    fs::copy_file(dir.file("youtube-dl.out"), lib / "youtube-dl.out");
    auto played = testsupport::run({(root / "usr/bin/streamlaunch").string(), "http://page.test/v", "best", "--player",
                                    fakePlayer()},
                                   60s);
    EXPECT_EQ(played.status, 0);
    EXPECT_EQ(played.out, "");
    EXPECT_EQ(testsupport::readFile((lib / "youtube-dl.args").string()), std::string("-g\0http://page.test/v\0", 22));
    ASSERT_TRUE(testsupport::waitFor([&] { return fs::exists(dir.file("player.args")); }, 10s));
    EXPECT_EQ(recorded("player"), std::vector<std::string>{"http://media.test/stream"});

    // A youtube-dl that is no link is the user's own: uninstall leaves it, and its folder.
    ASSERT_EQ(make("uninstall", root.string()).status, 0);
    EXPECT_EQ(laidOut(root), (std::set<std::string>{"usr/lib/streamlaunch/youtube-dl",
                                                    "usr/lib/streamlaunch/youtube-dl.args",
                                                    "usr/lib/streamlaunch/youtube-dl.out"}));
    fs::remove_all(lib);
    ASSERT_EQ(make("install", root.string()).status, 0);
    ASSERT_EQ(make("uninstall", root.string()).status, 0);
    EXPECT_EQ(laidOut(root), std::set<std::string>{});
}

}  // namespace
