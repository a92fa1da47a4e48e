// Long use in one process: many requests and many child processes leave the number of
// open descriptors unchanged, resident memory flat and no zombie children behind; one
// object used for 100,000 requests keeps its error wrappers one deep.
// STREAMLAUNCH_LONG_ROUNDS sets the count (500 by default; the figures for 10,000 are
// in the hardening notes). Each run prints what it measured.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "http/Http.h"
#include "runtime/Thrown.h"
#include "support/Nginx.h"
#include "support/Run.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "util/Std.h"
#include "sys/io/Process.h"
#include "sys/ssl/Certificate.h"
#include "sys/ssl/Socket.h"

namespace {

using namespace std::chrono_literals;

int rounds() {
    const char* text = std::getenv("STREAMLAUNCH_LONG_ROUNDS");
    return text ? std::atoi(text) : 500;
}

struct Usage {
    int descriptors = 0;
    long residentKiB = 0;
    int zombieChildren = 0;
};

Usage usage() {
    Usage u;
    for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        ++u.descriptors;
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    statm >> size >> u.residentKiB;
    u.residentKiB *= sysconf(_SC_PAGESIZE) / 1024;
    u.zombieChildren = testsupport::zombieChildren();
    return u;
}

// Runs warm-up rounds (caches, arena blocks, the allocator's pools), then the counted ones,
// and checks the usage between the two points.
template <typename Round>
void expectFlat(const char* what, Round round, int n = rounds()) {
    for (int i = 0; i < 100; ++i) round(i);
    Usage before = usage();
    for (int i = 0; i < n; ++i) round(i);
    Usage after = usage();
    std::cout << what << ": " << n << " rounds, descriptors " << before.descriptors << " -> "
              << after.descriptors << ", resident " << before.residentKiB << " -> "
              << after.residentKiB << " KiB, zombies " << after.zombieChildren << "\n";
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_LT(after.residentKiB - before.residentKiB, 2048);
    EXPECT_LE(after.zombieChildren, 1);  // the last child may still be on its way out
}

TEST(LongUse, RequestsLeaveDescriptorsAndMemoryFlat) {
    testsupport::Nginx nginx;
    testsupport::writeFile((nginx.root() / "a.json").string(), std::string(3000, 'a'));
    sys::ssl::Socket::DEFAULT_CA = sys::ssl::Certificate::loadFile(nginx.caFile());
    const std::string plain = "http://127.0.0.1:" + std::to_string(nginx.httpPort());
    const std::string tls = "https://localhost:" + std::to_string(nginx.httpsPort());
    const std::string closed =
        "https://127.0.0.1:" + std::to_string(nginx.httpPort());  // TLS to a plain port
    // Successes and failures of each transport, every framing nginx offers.
    const std::vector<std::pair<std::string, bool>> calls = {
        {plain + "/a.json", true},   {plain + "/chunked/a.json", true},
        {plain + "/missing", false}, {tls + "/unframed/a.json", false},
        {tls + "/a.json", true},     {tls + "/missing", false},
        {closed + "/a.json", false}, {plain + "/redirect", true},
    };
    int failures = 0;
    expectFlat("requests", [&](int i) {
        const auto& [url, succeeds] = calls[static_cast<std::size_t>(i) % calls.size()];
        try {
            std::string body = lumo::Http::requestUrl(url);
            EXPECT_TRUE(succeeds) << url;
        } catch (const runtime::Thrown& e) {
            EXPECT_FALSE(succeeds) << url << ": " << Std::string(e);
            ++failures;
        }
    });
    EXPECT_GT(failures, 0);
    sys::ssl::Socket::DEFAULT_CA.reset();
}

TEST(LongUse, OneObjectForManyRequestsKeepsItsWrappersShallow) {
    // Each success leaves a wrapper in onError: after 100,000 of them memory is flat, and
    // an error, then the object's end, run on a stack of 1 MiB.
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    testsupport::ScriptedServer server(
        [&](int fd) {
            testsupport::readUpTo(fd, request.size());
            testsupport::writeAll(fd, "HTTP/1.1 200 OK\r\n\r\n");  // ends at the close: no descriptor left
        },
        "127.0.0.1", 0, 100100);
    rlimit saved{};
    getrlimit(RLIMIT_STACK, &saved);
    rlimit small{1 << 20, saved.rlim_max};
    setrlimit(RLIMIT_STACK, &small);
    std::vector<std::string> errors;  // a failed request would be one more
    {
        lumo::Http h("http://127.0.0.1:" + std::to_string(server.port()) + "/");
        h.onError = [&](const std::string& m) { errors.push_back(m); };
        expectFlat("one object's requests", [&](int) { h.request(); }, 100000);
        h.url = "";
        h.request();
    }
    setrlimit(RLIMIT_STACK, &saved);
    EXPECT_EQ(errors, std::vector<std::string>{"Invalid URL"});
}

TEST(LongUse, ChildrenLeaveDescriptorsMemoryFlatAndNoZombies) {
    expectFlat("children", [](int i) {
        sys::io::Process child("printf", std::vector<std::string>{"%d", std::to_string(i)});
        EXPECT_EQ(child.stdOut.readAll().toString(), std::to_string(i));
    });
}

}  // namespace
