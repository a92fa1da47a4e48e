// The torture run: for one road, a clean run counts the calls of every platform function
// the fault injector sees (support/FaultInjector.h); then one run per call fails it (and,
// for send, recv, read and write, one cuts it short and one interrupts it). Every run is
// held to the expectations table; the summary is one line per road.
//
//   torture channel | direct | formats | http | https
//
// Status 0 when every run ended as the table says, 1 otherwise, 77 when the channel road
// cannot make its private namespaces here.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "support/FaultInjector.h"
#include "support/Nginx.h"
#include "support/Run.h"
#include "support/TempDir.h"
#include "torture/Expectations.h"

using namespace std::chrono_literals;
using torture::Ending;
using Args = std::vector<std::string>;

namespace {

constexpr auto kRunBound = 30s;
constexpr auto kChildBound = 5s;

struct Report {
    std::map<std::string, long> calls;
    bool injected = false;
    std::vector<int> open;
};

std::optional<Report> readReport(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    Report r;
    for (std::string word; in >> word;) {
        if (word == "calls") {
            std::string function;
            long n = 0;
            in >> function >> n;
            r.calls[function] = n;
        } else if (word == "injected") {
            r.injected = true;
        } else if (word == "open") {
            int fd = 0;
            in >> fd;
            r.open.push_back(fd);
        }
    }
    return r;
}

// Waits for every process left behind by the run (we are their subreaper); false when one
// was still running at the bound, which is then killed.
bool childrenFinished() {
    auto until = std::chrono::steady_clock::now() + kChildBound;
    for (;;) {
        pid_t pid = waitpid(-1, nullptr, WNOHANG);
        if (pid < 0) return true;  // none left
        if (pid > 0) continue;
        if (std::chrono::steady_clock::now() > until) break;
        std::this_thread::sleep_for(5ms);
    }
    // Killed, a child's own children fall to us in turn: kill again until none is left,
    // within a bound of its own.
    auto killUntil = std::chrono::steady_clock::now() + kChildBound;
    while (waitpid(-1, nullptr, WNOHANG) >= 0 && std::chrono::steady_clock::now() < killUntil) {
        for (const testsupport::ChildProcess& child : testsupport::childProcesses()) kill(child.pid, SIGKILL);
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// One road: how to run its program with a fault, and how to read the run's ending.
struct Road {
    std::string name;
    Args argv;
    std::filesystem::path dir;
    bool startsChildren;
    // The ending of a run that exited and left no trace of a crash; Bad with why otherwise.
    std::function<std::pair<Ending, std::string>(const testsupport::RunResult&)> judge;
};

struct Outcome {
    Ending ending = Ending::Bad;
    std::string why;
    std::optional<Report> report;
};

Outcome runOnce(const Road& road, const std::string& fault) {
    std::string reportPath = (road.dir / "report").string();
    std::filesystem::remove(reportPath);
    Args env{std::string(testsupport::kFaultReportVariable) + "=" + reportPath};
    if (!fault.empty()) env.push_back(std::string(testsupport::kFaultVariable) + "=" + fault);
    testsupport::RunResult r = testsupport::run(road.argv, kRunBound, env);
    Outcome o;
    o.report = readReport(reportPath);
    bool finished = !road.startsChildren || childrenFinished();
    for (const char* sign : {"Sanitizer", "runtime error", "terminate called", "Aborted"}) {
        if (r.err.find(sign) != std::string::npos)
            o.why = std::string("stderr holds \"") + sign + "\"";
    }
    if (!o.why.empty()) return o;
    if (r.timedOut) return o.why = "no end within the bound", o;
    if (!finished) return o.why = "a child was left running", o;
    if (!o.report) return o.why = "no report: status " + std::to_string(r.status), o;
    if (!o.report->open.empty())
        return o.why = "descriptor " + std::to_string(o.report->open[0]) + " left open", o;
    std::tie(o.ending, o.why) = road.judge(r);
    if (o.ending == Ending::Bad)
        o.why += " (status " + std::to_string(r.status) + ", out \"" + r.out + "\")";
    return o;
}

std::size_t count(const std::string& text, const std::string& sub) {
    std::size_t n = 0;
    for (std::size_t at = text.find(sub); at != std::string::npos; at = text.find(sub, at + 1)) ++n;
    return n;
}

// The launcher's ending: its normal output and player, its own message, or one error line
// after (at most) part of its normal output. A player, when one ran, got the whole address.
std::function<std::pair<Ending, std::string>(const testsupport::RunResult&)> launcherJudge(
    const std::filesystem::path& dir, std::string normalOut, std::optional<std::string> address) {
    return [args = (dir / "player.args").string(), normalOut,
            address](const testsupport::RunResult& r) -> std::pair<Ending, std::string> {
        std::optional<std::string> played;
        if (std::filesystem::exists(args)) {
            played = testsupport::readFile(args);
            std::filesystem::remove(args);
        }
        std::string whole = address ? *address + '\0' : "";
        if (played && *played != whole)
            return {Ending::Bad, "player started on \"" + *played + "\""};
        if (r.status == 0 && r.out == normalOut && played.has_value() == address.has_value()) {
            return {Ending::Normal, ""};
        }
        if (r.status == 0 && r.out == "Put youtube-dl near this file.\n" && !played)
            return {Ending::OwnMessage, ""};
        std::size_t error = r.out.rfind("Error : ");
        bool oneLine = error != std::string::npos && count(r.out, "Error : ") == 1 &&
                       r.out.back() == '\n' && r.out.find('\n', error) == r.out.size() - 1 &&
                       r.out.size() > error + 9 &&
                       normalOut.compare(0, error, r.out, 0, error) == 0;
        if (r.status == 255 && oneLine)
            return {Ending::Failure, r.out.substr(error, r.out.size() - error - 1)};
        return {Ending::Bad, "unexpected ending"};
    };
}

std::function<std::pair<Ending, std::string>(const testsupport::RunResult&)> fetchJudge(
    const std::filesystem::path& dir, std::string body) {
    return [file = (dir / "body").string(),
            body](const testsupport::RunResult& r) -> std::pair<Ending, std::string> {
        if (r.status == 0 && r.out == "body\n" && testsupport::readFile(file) == body) {
            return {Ending::Normal, ""};
        }
        if (r.status == 1 && r.out.rfind("thrown ", 0) == 0 && r.out.size() > 8) {
            return {Ending::Failure, r.out.substr(0, r.out.size() - 1)};
        }
        return {Ending::Bad, "unexpected ending"};
    };
}

struct Tally {
    std::map<std::string, long> calls;  // the points: calls counted by the clean run
    long points = 0;
    long runs = 0;
    std::map<Ending, long> endings;
    std::map<std::string, long> failures;  // each clear failure's text, and how often it came
};

// The clean run, then every point in turn; unexpected endings are printed as they come.
bool torture(const Road& road, Tally& tally) {
    Outcome clean = runOnce(road, "");
    if (clean.ending != Ending::Normal || !clean.report) {
        std::printf("%s: the clean run did not end normally: %s\n", road.name.c_str(),
                    clean.why.c_str());
        return false;
    }
    bool ok = true;
    tally.calls = clean.report->calls;
    for (const auto& [function, calls] : clean.report->calls) {
        tally.points += calls;
        for (const std::string& mode : torture::modesOf(function)) {
            std::vector<Ending> allowed = torture::expectedEndings(function, mode);
            for (long n = 1; n <= calls; ++n) {
                std::string fault = function + " " + std::to_string(n) + " " + mode;
                Outcome o = runOnce(road, fault);
                ++tally.runs;
                ++tally.endings[o.ending];
                if (o.ending == Ending::Failure) ++tally.failures[o.why];
                // A call the run did not reach this time (the order of pipe events varies)
                // changes nothing: the run must then end normally.
                std::vector<Ending> wanted =
                    o.report && !o.report->injected ? std::vector<Ending>{Ending::Normal} : allowed;
                if (std::find(wanted.begin(), wanted.end(), o.ending) == wanted.end()) {
                    ok = false;
                    std::printf("%s: %s: ended %s: %s\n", road.name.c_str(), fault.c_str(),
                                torture::name(o.ending), o.why.c_str());
                }
            }
        }
    }
    return ok;
}

// The road's line of the closing table.
int tortured(const Road& road) {
    Tally t;
    bool ok = torture(road, t);
    std::printf(
        "%-16s points %4ld  runs %4ld  normal %4ld  clear failure %4ld  own message %3ld  bad "
        "%ld\n",
        road.name.c_str(), t.points, t.runs, t.endings[Ending::Normal], t.endings[Ending::Failure],
        t.endings[Ending::OwnMessage], t.endings[Ending::Bad]);
    std::string points;
    for (const auto& [function, calls] : t.calls)
        points += " " + function + " " + std::to_string(calls);
    std::printf("    points:%s\n", points.c_str());
    for (const auto& [text, times] : t.failures)
        std::printf("    %4ld x %s\n", times, text.c_str());
    return ok ? 0 : 1;
}

std::string at(const std::filesystem::path& dir, const char* name) {
    return (dir / name).string();
}

// The launcher as a user lays it out, with a youtube-dl that prints `output` (and a line
// on its standard error) and a player that records its arguments.
void installLauncher(const std::filesystem::path& dir, const std::string& output) {
    std::filesystem::copy_file(FAULTY_LAUNCHER, at(dir, "streamlaunch"));
    testsupport::writeFile(at(dir, "youtube-dl.out"), output);
    testsupport::writeFile(
        at(dir, "youtube-dl"),
        "#!/bin/sh\necho 'youtube-dl: a warning' >&2\ncat \"$(dirname \"$0\")/youtube-dl.out\"\n",
        true);
    testsupport::writeFile(at(dir, "player"),
                           "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$(dirname \"$0\")/player.args\"\n",
                           true);
}

Road launcherRoad(const std::string& name, const std::filesystem::path& dir, const Args& args,
                  const std::string& out, const std::optional<std::string>& address) {
    Args argv{at(dir, "streamlaunch")};
    argv.insert(argv.end(), args.begin(), args.end());
    return Road{name, argv, dir, true, launcherJudge(dir, out, address)};
}

// The channel road runs in private namespaces where the service's names lead to a local
// stand-in: this program enters them once and runs every point there.
int channelRoad(const char* self, const char* inside) {
    const std::string page = "https://goodgame.ru/channel/Miker";
    if (inside != nullptr) {
        return tortured(launcherRoad("channel", inside,
                                     {page, "720", "--player", at(inside, "player")}, "",
                                     "http://hls.goodgame.ru/hls/1234_720.m3u8"));
    }
    testsupport::TempDir dir;
    installLauncher(dir.path(), "");
    testsupport::writeFile(dir.file("answer"),
                           R"({"channel":{"key":"name","status":"Live","premium":false,)"
                           R"("embed":"<iframe src=\"//goodgame.ru/player?1234\"></iframe>"}})");
    auto r = testsupport::run({IN_NAMESPACE_SCRIPT, "--answer", dir.file("answer"), "--", self,
                               "channel", dir.path().string()},
                              30min);
    std::fputs(r.out.c_str(), stdout);
    std::fputs(r.err.c_str(), stderr);
    return r.timedOut ? 1 : r.status;
}

int youtubeDlRoad(const std::string& name) {
    testsupport::TempDir dir;
    const std::string page = "https://example.org/v";
    if (name == "direct") {
        installLauncher(dir.path(), "http://media.example.org/stream.m3u8\n");
        return tortured(launcherRoad(name, dir.path(),
                                     {page, "best", "--player", dir.file("player")}, "",
                                     "http://media.example.org/stream.m3u8"));
    }
    installLauncher(dir.path(),
                    "[info] Available formats for v:\nformat code  extension  resolution note\n"
                    "18  mp4  640x360  medium\n22  mp4  1280x720  hd720\n");
    return tortured(launcherRoad(name, dir.path(), {page, "--player", dir.file("player")},
                                 "[info] Available formats for v:\nAvailable streams: 18,22\n",
                                 std::nullopt));
}

// requestUrl against a local nginx: a body framed by its length, then a chunked one.
int httpRoad(const std::string& scheme) {
    testsupport::Nginx nginx;
    testsupport::TempDir dir;
    std::string body;
    for (int i = 0; body.size() < 6000; ++i)
        body += "line " + std::to_string(i) + " of the torture body\n";
    testsupport::writeFile((nginx.root() / "body.txt").string(), body);
    std::string origin = scheme == "https"
                             ? "https://localhost:" + std::to_string(nginx.httpsPort())
                             : "http://127.0.0.1:" + std::to_string(nginx.httpPort());
    int status = 0;
    for (const char* path : {"/body.txt", "/chunked/body.txt"}) {
        Args argv{FETCH_PROGRAM, origin + path, dir.file("body")};
        if (scheme == "https") argv.push_back(nginx.caFile());
        std::string name = scheme + (std::string(path) == "/body.txt" ? " length" : " chunked");
        status |= tortured(Road{name, argv, dir.path(), false, fetchJudge(dir.path(), body)});
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string road = argc > 1 ? argv[1] : "";
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Players outlive the launcher: as their subreaper, every run waits for them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    if (road == "channel") {
        std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        return channelRoad(self.c_str(), argc > 2 ? argv[2] : nullptr);
    }
    if (road == "direct" || road == "formats") return youtubeDlRoad(road);
    if (road == "http" || road == "https") return httpRoad(road);
    std::fputs("usage: torture channel | direct | formats | http | https\n", stderr);
    return 2;
}
