// The launcher's checks and youtube-dl roads, run as a user runs the built program.
#include <sys/stat.h>

#include <filesystem>

#include "e2e/LauncherFixture.h"
#include "util/StringTools.h"

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

TEST_F(LauncherFixture, ChecksComeInOrderEachWithItsLine) {
    // youtube-dl missing: reported first, whatever the arguments.
    for (const Args& args : {Args{}, Args{"http://x/v", "--player", "p"}}) {
        auto r = launch(args);
        EXPECT_EQ(r.out, "Put youtube-dl near this file.\n");
        EXPECT_EQ(r.status, 0);
    }
    fakeYoutubeDl("");
    auto none = launch({});
    EXPECT_EQ(none.out, "NO ARGUMENTS.\n");
    EXPECT_EQ(none.status, 0);
    for (const Args& args : {Args{"http://x/v"}, Args{"http://x/v", "--player"},
                             Args{"http://x/v", "--player", ""}, Args{"http://x/v", "best", "mpv"}}) {
        auto r = launch(args);
        EXPECT_EQ(r.out, "No player argument.\n") << args.size();
        EXPECT_EQ(r.status, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("youtube-dl.args")));
    // A path longer than the launcher's first guess at its length (256 bytes) is read whole.
    const std::string deep = dir.file(std::string(250, 'd')) + "/";
    std::filesystem::create_directory(deep);
    for (const char* name : {"streamlaunch", "youtube-dl"}) std::filesystem::copy(dir.file(name), deep + name);
    launcher = deep + "streamlaunch";
    EXPECT_EQ(launch({}).out, "NO ARGUMENTS.\n");
}

TEST_F(LauncherFixture, DirectAddressPlaysYoutubeDlsOneAddressOrNone) {
    std::string player = fakePlayer();
    const std::string url = "http://x/v", media = "http://media/a.m3u8";
    const std::string several = "Error : youtube-dl gave 2 stream addresses";
    struct Case {
        Args args;
        std::string output;
        Args youtubeDl;       // its last call
        std::string played;   // "" when the run must end with `out` and 255 instead
        std::string out = "";
        std::optional<std::string> best = {};  // its output for -f best, when not `output`
    };
    for (const Case& c : {
             Case{{url, "best", "--player", player}, media + "\n", {"-g", url}, media},
             Case{{url, "BEST", "--player", player}, media, {"-g", url}, media},
             Case{{url, "720p", "--player", player}, media, {"-g", url, "-f", "720p"}, media},
             Case{{"--player", player, url, "480"}, media, {"-g", url, "-f", "480"}, media},
             // CR LF and a CR at the very end are line ends, empty lines are skipped;
             // nothing else is trimmed.
             Case{{url, "720", "--player", player}, " http://a/1 \r\n", {"-g", url, "-f", "720"}, " http://a/1 "},
             Case{{url, "best", "--player", player}, "\n\nhttp://a/1\r", {"-g", url}, "http://a/1"},
             // Picture and sound apart: asked for best, one stream that holds both serves.
             Case{{url, "Best", "--player", player}, "http://v/1\r\nhttp://a/2\r\n", {"-g", url, "-f", "best"},
                  "http://av/3", "", "http://av/3\r\n"},
             Case{{url, "best", "--player", player}, "", {"-g", url}, "", "Error : youtube-dl gave no stream address\n"},
             Case{{url, "7", "--player", player}, "\r\n\n", {"-g", url, "-f", "7"}, "",
                  "Error : youtube-dl gave no stream address\n"},
             Case{{url, "137+140", "--player", player}, "http://v/1\nhttp://a/2\n", {"-g", url, "-f", "137+140"}, "",
                  several + " and the player takes one: ask for a quality that holds picture and sound "
                            "together, such as best\n"},
             Case{{url, "best", "--player", player}, "http://v/1\nhttp://a/2\n", {"-g", url, "-f", "best"}, "",
                  several + ", and 2 for -f best; the player takes one: ask for a format that holds "
                            "picture and sound together (the list without a quality names them)\n",
                  "http://v/1\nhttp://a/2\n"},
         }) {
        fakeYoutubeDl(c.output, c.best);
        auto r = launch(c.args);
        EXPECT_EQ(r.out, c.out) << c.output;
        EXPECT_EQ(r.status, c.played.empty() ? 255 : 0);
        EXPECT_EQ(recorded("youtube-dl"), c.youtubeDl);
        if (c.played.empty()) continue;
        ASSERT_TRUE(testsupport::waitFor([&] { return std::filesystem::exists(dir.file("player.args")); }, 10s));
        EXPECT_EQ(recorded("player"), Args{c.played});
        std::filesystem::remove(dir.file("player.args"));
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(std::filesystem::exists(dir.file("player.args")));
}

TEST_F(LauncherFixture, PlayerOutlivesTheLauncherAndItsClosedPipes) {
    fakeYoutubeDl("http://media/a.m3u8");
    std::string player = fakePlayer();
    auto r = launch({"http://x/v", "best", "--player", player});
    EXPECT_EQ(r.status, 0);
    // The launcher did not wait for the player, which sleeps before it marks itself...
    EXPECT_FALSE(std::filesystem::exists(dir.file("player.alive")));
    // ...and which goes on after writing to pipes whose reader has gone.
    EXPECT_TRUE(testsupport::waitFor([&] { return std::filesystem::exists(dir.file("player.alive")); }, 10s));
}

TEST_F(LauncherFixture, OptionContainingPlayerIsTakenButStaysInTheList) {
    fakeYoutubeDl("u");
    std::string player = fakePlayer();
    auto r = launch({"http://x/v", "--player=x", player, "best"});
    EXPECT_EQ(r.status, 0);
    // Four arguments: road of the direct address; the format comes from the working list.
    EXPECT_EQ(recorded("youtube-dl"), (Args{"-g", "http://x/v", "-f", "--player=x"}));
}

TEST_F(LauncherFixture, FormatListIsPrintedWithItsSummary) {
    struct Case {
        std::string listing;
        std::string printed;
        int status = 0;
    };
    const std::string header = "format code  extension  resolution note\n";
    // yt-dlp's tables as it prints them: an HLS master playlist of two variants and a page
    // of two videos (recorded through a pipe); the rule as it draws it on a UTF-8
    // terminal; CR LF line ends, as a Windows build writes them; a header without its rule.
    // Every line is printed, then the rows' codes.
    const std::string hls =
        "[generic] Extracting URL: http://127.0.0.1:36425/master.m3u8\n"
        "[generic] master: Downloading webpage\n"
        "[generic] master: Downloading m3u8 information\n"
        "[info] Available formats for master:\n"
        "ID  EXT RESOLUTION |  TBR PROTO | VCODEC   VBR ACODEC  ABR\n"
        "----------------------------------------------------------\n"
        "200 mp4 160x120    | 200k m3u8  | unknown 200k unknown  0k\n"
        "400 mp4 320x240    | 400k m3u8  | unknown 400k unknown  0k\n";
    const std::string boxed =
        "[info] Available formats for index-1:\n"
        "ID EXT RESOLUTION \u2502 PROTO \u2502 VCODEC  ACODEC\n"
        "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\n"
        "0  mp4 unknown    \u2502 http  \u2502 unknown unknown\n";
    const std::string playlist =
        "[generic] Extracting URL: http://127.0.0.1:36425/two.html\n"
        "[generic] two: Downloading webpage\n"
        "[generic] two: Extracting information\n"
        "[download] Downloading playlist: video\n"
        "[generic] Playlist video: Downloading 2 items of 2\n"
        "[download] Downloading item 1 of 2\n"
        "[info] Available formats for two-1:\n"
        "ID EXT RESOLUTION | PROTO | VCODEC  ACODEC\n"
        "-------------------------------------------\n"
        "0  mp4 unknown    | http  | unknown unknown\n"
        "[download] Downloading item 2 of 2\n"
        "[info] Available formats for two-2:\n"
        "ID EXT RESOLUTION | PROTO | VCODEC  ACODEC\n"
        "-------------------------------------------\n"
        "0  mp4 unknown    | http  | unknown unknown\n"
        "[download] Finished downloading playlist: video\n";
    const std::string crlf =
        "[info] Available formats for v:\r\n"
        "ID  EXT RESOLUTION | PROTO\r\n"
        "--------------------------\r\n"
        "22  mp4 1280x720   | https\r\n"
        "18  mp4 640x360    | https\r\n";
    const std::string noRule = "ID  EXT RESOLUTION | PROTO\n0  mp4 unknown    | http\n";
    // Lines that begin with ID but are no header; a rule with blanks in it.
    const std::string notHeaders = "IDs EXT RESOLUTION\n--\nID RESOLUTION\n--\nID EXT\n--\n1 a\n";
    const std::string blankRule = "ID EXT RESOLUTION\n--- --- ---\n7 mp4 1x1\n";
    for (const Case& c : {
             Case{hls, hls + "\nAvailable streams: 200,400\n"},
             Case{boxed, boxed + "\nAvailable streams: 0\n"},
             Case{playlist, playlist + "\nAvailable streams: 0,0\n"},
             Case{crlf, StringTools::replace(crlf, "\r\n", "\n") + "\nAvailable streams: 22,18\n"},
             Case{noRule, noRule + "\n\n"},
             Case{notHeaders, notHeaders + "\n\n"},
             Case{blankRule, blankRule + "\nAvailable streams: 7\n"},
             Case{"[info] formats\n" + header + "a1 x\nb2 y\n", "[info] formats\nAvailable streams: a1,b2\n"},
             Case{header + "a1 x\nb2 y", "Available streams: a1,b2,\n"},
             Case{header + "a1 x\n y\nb2 z\n", "Available streams: a1,b2\n"},
             Case{"l1\r\nfmt  resolution note\r\na1\r\nb2 y\r\n", "l1\nAvailable streams: a1,b2\n"},
             Case{"resolution note at 0\na1 x\n", "resolution note at 0\na1 x\n\n\n"},
             Case{"", "Error : youtube-dl listed no formats\n", 255},
             Case{"l1\nl2", "l1\nl2\n\n"},
             // A NUL byte in a line is printed, not the end of the line.
             Case{std::string("l1\0x\nl2", 7), std::string("l1\0x\nl2\n\n", 9)},
         }) {
        fakeYoutubeDl(c.listing);
        std::string player = fakePlayer();
        auto r = launch({"http://x/v", "--player", player});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.printed) << c.listing;
        EXPECT_EQ(recorded("youtube-dl"), (Args{"-F", "http://x/v"}));
    }
    // Five arguments list formats too; no player is started on this road.
    auto r = launch({"http://x/v", "720", "extra", "--player", fakePlayer()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(recorded("youtube-dl"), (Args{"-F", "http://x/v"}));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(std::filesystem::exists(dir.file("player.args")));
}

TEST_F(LauncherFixture, UncaughtErrorsEndWithTheErrorLineAndStatus255) {
    fakeYoutubeDl("u");
    auto missingPlayer = launch({"http://x/v", "best", "--player", dir.file("no-such-player")});
    EXPECT_EQ(missingPlayer.out, "Error : Process creation failure : " + dir.file("no-such-player") + "\n");
    EXPECT_EQ(missingPlayer.status, 255);

    chmod(dir.file("youtube-dl").c_str(), 0644);
    auto notRunnable = launch({"http://x/v", "best", "--player", "p"});
    EXPECT_EQ(notRunnable.out, "Error : Process creation failure : " + dir.file("youtube-dl") + "\n");
    EXPECT_EQ(notRunnable.status, 255);
}

TEST_F(LauncherFixture, YoutubeDlErrorTextReachesTheUser) {
    struct Case {
        std::string script;
        std::size_t flood;
        std::string out;
        int status = 0;
    };
    const std::string listing = "printf '%s\\n' 'fmt  resolution note' 'x1 y'\n";
    for (const Case& c : {
             // A flood on standard error before any output must neither stall nor be lost.
             Case{"head -c 1048576 /dev/zero | tr '\\0' e >&2\necho ERROR: bad >&2\n" + listing, 1048576,
                  "Available streams: x1\n"},
             // Over 16 KiB on standard error alone, just before the exit, all of it still in
             // the pipe when the launcher meets the end of the output: the child stops the
             // launcher meanwhile, as a launcher slow to be scheduled would be.
             Case{"kill -STOP $PPID\nhead -c 20000 /dev/zero | tr '\\0' e >&2\necho ERROR: bad >&2\n"
                  "(sleep 0.3; kill -CONT $PPID) </dev/null >/dev/null 2>&1 &\n",
                  20000, "Error : youtube-dl listed no formats\n", 255},
         }) {
        testsupport::writeFile(dir.file("youtube-dl"), "#!/bin/sh\n" + c.script, true);
        auto r = launch({"http://x/v", "--player", "p"});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err.size(), c.flood + 11u);
        EXPECT_TRUE(r.err.ends_with("ERROR: bad\n"));
    }
}

TEST_F(LauncherFixture, PlayerStartsWhenTheLauncherHasNoStandardStreams) {
    // With 0, 1 and 2 closed the launcher's pipes are the lowest free descriptors; one left
    // there would be overwritten as the child's own 0, 1 and 2 are set up, and youtube-dl's
    // output would be lost or mixed with its warnings.
    testsupport::writeFile(dir.file("youtube-dl"),
                           "#!/bin/sh\necho WARNING: one >&2\necho http://media/a.m3u8\necho WARNING: two >&2\n",
                           true);
    std::string player = fakePlayer();
    // Never under the launch wrapper: a memory checker started without a standard error
    // keeps descriptor 2 for its report and refuses it to the child's set-up.
    auto r = testsupport::run({"/bin/sh", "-c", "\"$@\" <&- >&- 2>&-; echo $?", "sh", launcher, "http://x/v",
                               "best", "--player", player},
                              60s);
    EXPECT_EQ(r.out, "0\n");
    ASSERT_TRUE(testsupport::waitFor([&] { return std::filesystem::exists(dir.file("player.args")); }, 10s));
    EXPECT_EQ(recorded("player"), Args{"http://media/a.m3u8"});
}
