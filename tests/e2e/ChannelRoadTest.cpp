// The channel road as a user runs it: the built program in private namespaces where the
// service's real host names lead to a local stand-in (tests/support/in_namespace.sh).
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "e2e/LauncherFixture.h"
#include "util/StringTools.h"

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

namespace {

const std::string kHls = "http://hls.goodgame.ru/hls/";

// A channel entry under the answer's one field; the text of each given field is JSON.
std::string answerWith(const std::string& fields) {
    return R"({"channel":{"key":"name",)" + fields + "}}";
}

std::string liveWith(const std::string& premium,
                     const std::string& src = "//goodgame.ru/player?1234") {
    return answerWith(R"("status":"Live","embed":"<iframe frameborder=\"0\" src=\")" + src +
                      R"(\"></iframe>","premium":)" + premium);
}

std::string statusRequest(const std::string& channel) {
    return "GET /api/getchannelstatus?fmt=json&id=" + channel +
           " HTTP/1.1\r\nHost: goodgame.ru\r\nConnection: close\r\n\r\n";
}

// Why private namespaces cannot be made here; absent when they can.
std::optional<std::string> namespaceUnavailable() {
    static const std::optional<std::string> reason = []() -> std::optional<std::string> {
        auto r = testsupport::run({IN_NAMESPACE_SCRIPT, "--no-standin", "--", "true"}, 30s);
        if (r.status == 0) return std::nullopt;
        return r.status == 77 ? r.err : "in_namespace.sh failed: " + r.err;
    }();
    return reason;
}

class ChannelRoadTest : public LauncherFixture {
protected:
    void SetUp() override {
        if (auto reason = namespaceUnavailable()) GTEST_SKIP() << *reason;
        fakeYoutubeDl("");
        // Records its arguments and ends at once: each run waits for it to finish.
        player = dir.file("player");
        testsupport::writeFile(
            player, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$(dirname \"$0\")/player.args\"\n", true);
    }

    struct Outcome {
        testsupport::RunResult run;
        std::optional<Args> player;  // its arguments, when it was started
        std::string request;         // the bytes the stand-in received
    };

    // One run in a fresh namespace; the stand-in gives `answer` (a body, or a whole
    // response starting "HTTP/"), or is not there at all when there is none.
    Outcome resolve(const Args& args, const std::optional<std::string>& answer) {
        for (const char* name : {"player.args", "request"}) std::filesystem::remove(dir.file(name));
        Args argv{IN_NAMESPACE_SCRIPT};
        if (answer) {
            testsupport::writeFile(dir.file("answer"), *answer);
            argv.insert(argv.end(),
                        {"--answer", dir.file("answer"), "--record", dir.file("request")});
        } else {
            argv.push_back("--no-standin");
        }
        argv.push_back("--");
        for (const std::string& word : launcherCommand()) argv.push_back(word);
        argv.insert(argv.end(), args.begin(), args.end());
        // The namespace ends only once the player has finished, so what it records is there.
        Outcome o{testsupport::run(argv, 60s), std::nullopt, ""};
        if (std::filesystem::exists(dir.file("player.args"))) o.player = recorded("player");
        if (std::filesystem::exists(dir.file("request")))
            o.request = testsupport::readFile(dir.file("request"));
        return o;
    }

    std::string player;
};

}  // namespace

TEST_F(ChannelRoadTest, ChannelIsCutFromThePageAndQualityCountsOnlyWithFourArguments) {
    struct Case {
        Args args;
        std::string channel;
        std::string playlist;
    };
    const std::string page = "https://goodgame.ru/channel/Miker";
    for (const Case& c : {
             Case{{page + "/?a=1#b", "720", "--player", player}, "Miker", kHls + "1234_720.m3u8"},
             Case{{"http://goodgame.ru/channel/Miker#chat?x=1", "480", "--player", player},
                  "Miker",
                  kHls + "1234_480.m3u8"},
             Case{{"--player", player, page, "720"}, "Miker", kHls + "1234_720.m3u8"},
             Case{{"goodgame.ru/channel/", "720", "--player", player},
                  "channel",
                  kHls + "1234_720.m3u8"},
             // Only one trailing slash is dropped: the channel is then the empty text.
             Case{{page + "//", "720", "--player", player}, "", kHls + "1234_720.m3u8"},
             Case{{page, "720", "extra", "--player", player}, "Miker", kHls + "1234.m3u8"},
             Case{{page, "--player", player}, "Miker", kHls + "1234.m3u8"},
         }) {
        auto o = resolve(c.args, liveWith("false"));
        EXPECT_EQ(o.run.status, 0) << c.args[0] << o.run.out << o.run.err;
        EXPECT_EQ(o.run.out, "") << c.args[0];
        EXPECT_EQ(o.request, statusRequest(c.channel)) << c.args[0];
        EXPECT_EQ(o.player, Args{c.playlist}) << c.args[0];
    }
}

TEST_F(ChannelRoadTest, AnswerWithoutLiveChannelPrintsWhyAndStartsNoPlayer) {
    struct Case {
        std::string answer;
        std::string printed;
    };
    const std::string missing = "Channel doesn't exist!\n";
    const std::string offline = "Channel is offline.\n";
    const std::string embed = R"("embed":"<iframe src=\"//p?42\"/>")";
    for (const Case& c : {
             Case{"{}", missing},
             Case{R"({"channel":{}})", missing},
             // Only the first field counts, whatever follows it.
             Case{R"({"gone":{},"channel":{"status":"Live",)" + embed + "}}", missing},
             Case{R"({"channel":5})", missing},
             Case{R"(["Live"])", missing},
             Case{R"("Live")", missing},
             Case{"null", missing},
             Case{answerWith(R"("status":"live",)" + embed), offline},
             Case{answerWith(embed), offline},
             Case{answerWith(R"("status":null,)" + embed), offline},
             // Liveness is decided before the embed is looked at.
             Case{answerWith(R"("status":"Dead","embed":"")"), offline},
         }) {
        auto o = resolve({"https://goodgame.ru/channel/x", "720", "--player", player}, c.answer);
        EXPECT_EQ(o.run.out, c.printed) << c.answer << o.run.err;
        EXPECT_EQ(o.run.status, 0) << c.answer;
        EXPECT_EQ(o.player, std::nullopt) << c.answer;
    }
}

TEST_F(ChannelRoadTest, QualityAndPremiumChooseThePlaylist) {
    struct Case {
        std::string answer;
        Args quality;  // empty: three arguments, so no quality
        std::optional<std::string> playlist;
    };
    const std::string premium = liveWith(R"("true")");
    const std::string premiumBool = liveWith("true");
    const std::string plain = liveWith("false");
    const std::string noPremium = answerWith(R"("status":"Live","embed":"<iframe src='?1234'/>")");
    for (const Case& c : {
             Case{premium, {"best"}, kHls + "1234_720.m3u8"},
             Case{premiumBool, {"BEST"}, kHls + "1234_720.m3u8"},
             Case{plain, {"Best"}, kHls + "1234.m3u8"},
             Case{noPremium, {"best"}, kHls + "1234.m3u8"},
             Case{premium, {"480"}, kHls + "1234_480.m3u8"},
             Case{plain, {"480"}, kHls + "1234_480.m3u8"},
             // Any other name is used as given, not lower-cased or checked.
             Case{plain, {"Source"}, kHls + "1234_Source.m3u8"},
             Case{plain, {}, kHls + "1234.m3u8"},
             Case{noPremium, {}, kHls + "1234.m3u8"},
             Case{liveWith(R"("TRUE")"), {}, kHls + "1234.m3u8"},
             Case{premium, {}, std::nullopt},
             Case{premiumBool, {}, std::nullopt},
             // The id runs from the first "?" to the second.
             Case{liveWith("false", "//goodgame.ru/player?5678?autoplay=1"),
                  {"720"},
                  kHls + "5678_720.m3u8"},
             // The first element counts, after any text or comment before it.
             Case{answerWith(
                      R"("status":"Live","embed":"watch: <!-- x --><i src='?9'/><b src='?1'/>")"),
                  {"720"},
                  kHls + "9_720.m3u8"},
         }) {
        Args args{"https://goodgame.ru/channel/x"};
        args.insert(args.end(), c.quality.begin(), c.quality.end());
        args.insert(args.end(), {"--player", player});
        auto o = resolve(args, c.answer);
        EXPECT_EQ(o.run.status, 0) << c.answer << o.run.out << o.run.err;
        if (c.playlist) {
            EXPECT_EQ(o.run.out, "") << c.answer;
            EXPECT_EQ(o.player, Args{*c.playlist}) << c.answer;
        } else {
            EXPECT_EQ(o.run.out, "Available streams: 240, 480, 720\n") << c.answer;
            EXPECT_EQ(o.player, std::nullopt) << c.answer;
        }
    }
}

TEST_F(ChannelRoadTest, FailuresEndInTheErrorLineWithStatus255AndNoPlayer) {
    struct Case {
        std::optional<std::string> answer;  // absent: nothing listens on port 80
        std::string error;
    };
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    for (const Case& c : {
             Case{liveWith("false", "//goodgame.ru/player"),
                  "Channel embed source holds no stream id: //goodgame.ru/player"},
             Case{liveWith("false", "//goodgame.ru/player?"),
                  "Channel embed source holds no stream id: //goodgame.ru/player?"},
             Case{answerWith(R"("status":"Live","embed":"")"), "Channel embed holds no element"},
             Case{answerWith(R"("status":"Live","embed":"offline for now")"),
                  "Channel embed holds no element"},
             Case{answerWith(R"("status":"Live","embed":12)"), "Channel embed holds no element"},
             Case{answerWith(R"("status":"Live")"), "Channel embed holds no element"},
             Case{answerWith(R"("status":"Live","embed":"<iframe width='1'></iframe>")"),
                  "iframe is missing attribute src"},
             Case{std::nullopt, "EOF"},
             Case{"HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\nConnection: close\r\n\r\nno",
                  "Http Error #404"},
             Case{chunked + "this is no chunk size line\r\n", "Invalid chunk"},
             Case{chunked + "20\r\n{\"channel\":", "Transfer aborted"},
             Case{"{\"channel\":{\"status\":Live}}", "Invalid char 76 at position 21"},
         }) {
        auto o = resolve({"https://goodgame.ru/channel/x", "720", "--player", player}, c.answer);
        EXPECT_EQ(o.run.out, "Error : " + c.error + "\n")
            << c.answer.value_or("(no stand-in)") << o.run.err;
        EXPECT_EQ(o.run.status, 255) << c.answer.value_or("(no stand-in)");
        EXPECT_EQ(o.player, std::nullopt) << c.answer.value_or("(no stand-in)");
    }
}

TEST_F(ChannelRoadTest, MpvPlaysTheChannelStreamAndOutlivesTheLauncher) {
    // Twenty seconds of picture and sound, cut as HLS under the path the launcher builds.
    std::filesystem::create_directories(dir.file("www/hls"));
    Args ffmpeg = StringTools::split(
        "ffmpeg -loglevel error -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine -t 20 "
        "-pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac -f hls -hls_time 2 "
        "-hls_list_size 0 -hls_segment_filename",
        " ");
    ffmpeg.insert(ffmpeg.end(),
                  {dir.file("www/hls/1234_720_%d.ts"), dir.file("www/hls/1234_720.m3u8")});
    auto made = testsupport::run(ffmpeg, 120s);
    ASSERT_EQ(made.status, 0) << made.err;
    testsupport::writeFile(dir.file("answer"), liveWith("true"));
    std::string mpv = dir.file("mpv-player");
    testsupport::writeFile(
        mpv,
        "#!/bin/sh\n"
        "exec mpv --no-config --ytdl=no --vo=null --ao=null --term-status-msg='pos=${=time-pos}' "
        "\"$1\" >/dev/null 2>\"$(dirname \"$0\")/mpv.log\"\n",
        true);
    // The namespace stays while mpv plays (LINGER), and ends with everything in it when
    // the daemon is killed at the end of the test.
    testsupport::Daemon inside(
        {"env", "LINGER=60", IN_NAMESPACE_SCRIPT, "--answer", dir.file("answer"), "--hls",
         dir.file("www"), "--", "sh", "-c", "\"$@\"; echo \"launcher exited with $?\"", "sh",
         launcher, "http://goodgame.ru/channel/Miker/", "720", "--player", mpv},
        60s);
    ASSERT_EQ(inside.firstLine(), "launcher exited with 0");

    auto position = [&] {
        std::string log = testsupport::readFile(dir.file("mpv.log"));
        auto at = log.rfind("pos=");
        return at == std::string::npos ? -1.0 : std::atof(log.c_str() + at + 4);
    };
    // Waits with room: on a busy machine mpv starts late, then plays in real time.
    double first = -1;
    EXPECT_TRUE(testsupport::waitFor([&] { return (first = position()) > 0.5; }, 30s))
        << testsupport::readFile(dir.file("mpv.log"));
    EXPECT_TRUE(testsupport::waitFor([&] { return position() > first + 0.3; }, 15s))
        << "the player stalled or is gone";
}
