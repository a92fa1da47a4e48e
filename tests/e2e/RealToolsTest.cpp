// The launcher with real outside tools: Debian's yt-dlp as youtube-dl, mpv as the player,
// media made by ffmpeg and served from a loopback HTTP server.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "e2e/LauncherFixture.h"
#include "util/StringTools.h"

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

namespace {

// Media made once for the whole suite: an MP4 clip, and an HLS stream long enough to be
// still playing when the test looks, behind a master playlist of two variants and one that
// offers picture and sound apart besides it.
class Media {
public:
    Media() {
        auto clip = testsupport::run({"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                                      "testsrc=duration=2:size=160x120:rate=10", "-pix_fmt",
                                      "yuv420p", dir.file("clip.mp4")},
                                     120s);
        auto hls = testsupport::run({"ffmpeg",
                                     "-loglevel",
                                     "error",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "testsrc=duration=30:size=160x120:rate=10",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "sine=duration=30",
                                     "-pix_fmt",
                                     "yuv420p",
                                     "-c:a",
                                     "aac",
                                     "-f",
                                     "hls",
                                     "-hls_time",
                                     "2",
                                     "-hls_playlist_type",
                                     "vod",
                                     dir.file("live.m3u8")},
                                    120s);
        // Picture and sound apart, as sites offer them beside the combined stream.
        auto apart = testsupport::run(
            {"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=duration=4:size=320x240",
             "-f", "lavfi", "-i", "sine=duration=4", "-map", "0:v", "-pix_fmt", "yuv420p", "-f",
             "hls", dir.file("video.m3u8"), "-map", "1:a", "-f", "hls", dir.file("audio.m3u8")},
            120s);
        if (clip.status != 0 || hls.status != 0 || apart.status != 0)
            throw std::runtime_error("ffmpeg: " + clip.err + hls.err + apart.err);
        // Two variants, so that yt-dlp lists two formats.
        testsupport::writeFile(
            dir.file("master.m3u8"),
            "#EXTM3U\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=200000,RESOLUTION=160x120\nlive.m3u8\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=400000,RESOLUTION=320x240\nlive.m3u8\n");
        testsupport::writeFile(dir.file("split.m3u8"),  // picture alone, sound alone, and both
            "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"a\",URI=\"audio.m3u8\"\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=320x240,CODECS=\"avc1.42c00d\",AUDIO=\"a\"\n"
            "video.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=160x120,"
            "CODECS=\"avc1.42c00d,mp4a.40.2\"\nlive.m3u8\n");
        server = std::make_unique<testsupport::Daemon>(
            Args{"python3", SERVE_DIR_SCRIPT, dir.path().string()}, 30s);
        base = "http://127.0.0.1:" + server->firstLine() + "/";
    }

    testsupport::TempDir dir;
    std::unique_ptr<testsupport::Daemon> server;
    std::string base;
};

Media& media() {
    static Media made;
    return made;
}

class RealToolsTest : public LauncherFixture {
protected:
    void useYtDlp() { std::filesystem::create_symlink("/usr/bin/yt-dlp", dir.file("youtube-dl")); }
    // yt-dlp keeps its cache under the test folder.
    Args hermetic() const {
        return {"HOME=" + dir.path().string(), "XDG_CACHE_HOME=" + dir.file("cache")};
    }
};

// Kills the player named in a pid file when the test ends, however it ends.
struct KillOnExit {
    std::string pidFile;
    ~KillOnExit() {
        std::string pid = testsupport::readFile(pidFile);
        if (!pid.empty()) kill(std::stoi(pid), SIGKILL);
    }
};

// Asks mpv over its JSON IPC socket for its playback position; negative when it cannot.
double playbackPosition(const std::string& socketPath) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    timeval bound{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    double position = -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string ask = "{\"command\":[\"get_property\",\"time-pos\"],\"request_id\":7}\n";
        if (write(fd, ask.data(), ask.size()) == static_cast<ssize_t>(ask.size())) {
            std::string reply;
            char buf[512];
            ssize_t n;
            while (reply.find("\"request_id\":7") == std::string::npos &&
                   (n = read(fd, buf, sizeof buf)) > 0) {
                reply.append(buf, static_cast<std::size_t>(n));
            }
            auto line = reply.rfind("{", reply.find("\"request_id\":7"));
            auto data = reply.find("\"data\":", line);
            if (line != std::string::npos && data != std::string::npos)
                position = std::atof(reply.c_str() + data + 7);
        }
    }
    close(fd);
    return position;
}

}  // namespace

TEST_F(RealToolsTest, YtDlpGivesThePlayerTheMediaAddress) {
    useYtDlp();
    // A clip; then yt-dlp's own choice of picture and sound apart (the larger picture has no
    // sound), where best is asked again and gives the combined stream.
    for (auto [page, played] : {std::pair{"clip.mp4", "clip.mp4"}, {"split.m3u8", "live.m3u8"}}) {
        auto r = launch({media().base + page, "best", "--player", fakePlayer()}, hermetic());
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        ASSERT_TRUE(testsupport::waitFor(
            [&] { return std::filesystem::exists(dir.file("player.args")); }, 10s));
        EXPECT_EQ(recorded("player"), Args{media().base + played});
        std::filesystem::remove(dir.file("player.args"));
    }
}

TEST_F(RealToolsTest, YtDlpListingIsPrintedWithItsCodes) {
    useYtDlp();
    auto r = launch({media().base + "master.m3u8", "--player", "unused"}, hermetic());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Available formats"), std::string::npos) << r.out;
    // The summary closes the output and names two codes, each the start of a printed row.
    std::size_t last = r.out.rfind('\n', r.out.size() - 2) + 1;
    std::string summary = r.out.substr(last);
    ASSERT_TRUE(summary.starts_with("Available streams: ")) << r.out;
    Args codes = StringTools::split(summary.substr(19, summary.size() - 20), ",");
    ASSERT_EQ(codes.size(), 2u) << r.out;
    for (const std::string& code : codes) {
        EXPECT_NE(r.out.find("\n" + code + " "), std::string::npos) << code << " in\n" << r.out;
    }
}

TEST_F(RealToolsTest, MpvKeepsPlayingAfterTheLauncherHasExited) {
    std::string stream = media().base + "live.m3u8";
    fakeYoutubeDl(stream + "\n");
    std::string player = dir.file("mpv-player");
    testsupport::writeFile(
        player,
        "#!/bin/sh\n"
        "here=$(dirname \"$0\")\n"
        "echo $$ > \"$here/mpv.pid\"\n"
        "exec mpv --no-config --ytdl=no --vo=null --ao=null --msg-level=all=status "
        "--input-ipc-server=\"$here/mpv.sock\" \"$1\"\n",
        true);
    KillOnExit cleanup{dir.file("mpv.pid")};
    auto r = launch({"http://x/v", "best", "--player", player});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // Waits with room: on a busy machine mpv starts late, then plays in real time.
    double first = -1;
    EXPECT_TRUE(testsupport::waitFor([&] { return (first = playbackPosition(dir.file("mpv.sock"))) > 1; }, 30s));
    std::string pid = testsupport::readFile(dir.file("mpv.pid"));
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(kill(std::stoi(pid), 0), 0) << "the player is gone";
    // Still advancing, not stalled on a full output pipe.
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return playbackPosition(dir.file("mpv.sock")) > first + 0.3; }, 15s));
}
