// lumo::Http against peers that misbehave on purpose: each case ends in a clear message
// within its bound, never in a crash, a hang or unbounded memory. Heads that never end,
// chunk sizes past the Int range and closes inside the head or body are in
// HttpResponseTest.cpp; these are the rest.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "http/Http.h"
#include "lumo/format/JsonParser.h"
#include "runtime/Thrown.h"
#include "support/Run.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/ThrownText.h"

namespace {

using lumo::Http;
using testsupport::ScriptedServer;
using namespace std::chrono_literals;

const std::string kOk = "HTTP/1.1 200 OK\r\n";

// A server that reads what the client sends first (an HTTP request head, or a TLS client
// hello in one read), then runs the rest of the script. Bytes left unread would turn the
// server's close into a reset.
struct Peer {
    explicit Peer(std::function<void(int)> answer)
        : server([answer = std::move(answer)](int fd) {
              std::string request;
              char buf[4096];
              while (request.find("\r\n\r\n") == std::string::npos) {
                  ssize_t n = read(fd, buf, sizeof buf);
                  if (n <= 0) return;
                  request.append(buf, static_cast<std::size_t>(n));
                  if (request[0] == '\x16') break;  // a TLS handshake record
              }
              answer(fd);
          }) {}
    std::string url(const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(server.port()) + "/";
    }
    ScriptedServer server;
};

struct Outcome {
    std::optional<std::string> data;
    std::vector<std::string> errors;
    std::optional<std::string> responseData;
    std::optional<lumo::ds::StringMap<std::string>> headers;
};

Outcome fetch(const std::string& url, double timeout = 10.0, std::optional<std::string> postData = {}) {
    Outcome out;
    Http h(url);
    h.cnxTimeout = timeout;
    h.postData = std::move(postData);
    h.onData = [&](const std::string& d) { out.data = d; };
    h.onError = [&](const std::string& m) { out.errors.push_back(m); };
    h.request(false);
    out.responseData = h.responseData;
    out.headers = h.responseHeaders;
    return out;
}

void sendSlowly(int fd, const std::string& data) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (char c : data) {
        testsupport::writeAll(fd, std::string(1, c));
        std::this_thread::sleep_for(1ms);
    }
}

TEST(HttpHostilePeer, HeadOneByteAtATimeWorks) {
    Peer peer([](int fd) { sendSlowly(fd, kOk + "X-A: 1\r\nContent-Length: 5\r\n\r\nhello"); });
    Outcome got = fetch(peer.url());
    EXPECT_EQ(got.data, "hello");
    EXPECT_TRUE(got.errors.empty());
    EXPECT_EQ(got.headers->get("X-A"), "1");
}

// cnxTimeout bounds every wait: the handshake, the sending and the head. A peer's system
// takes bytes for a while before its window closes, so a large body waits more than once.
TEST(HttpHostilePeer, StallsFailSoonAfterTheTimeout) {
    using Row = std::tuple<std::string, std::string, std::optional<std::string>, std::string>;
    for (const auto& [scheme, sent, body, error] : std::vector<Row>{
             {"http", "", {}, "Custom(EOF)"}, {"http", kOk + "Content-Le", {}, "Custom(EOF)"},
             {"https", "", {}, "Blocked"}, {"http", "", std::string(32 << 20, 'x'), "EOF"}}) {
        Peer peer([&](int fd) {
            testsupport::writeAll(fd, sent);
            pollfd gone{fd, POLLRDHUP, 0};  // until the client gives up, reading nothing
            poll(&gone, 1, 3000);
        });
        auto start = std::chrono::steady_clock::now();
        Outcome got = fetch(peer.url(scheme), 0.5, body);
        EXPECT_LT(std::chrono::steady_clock::now() - start, body ? 2500ms : 1500ms) << scheme << sent;
        EXPECT_EQ(got.errors, std::vector<std::string>{error}) << scheme << sent;
        EXPECT_FALSE(got.data);
    }
}

TEST(HttpHostilePeer, ResetInsideTheBodyIsAnErrorAndKeepsWhatArrived) {
    Peer peer([](int fd) {
        testsupport::writeAll(fd, kOk + "Content-Length: 1000\r\n\r\n" + std::string(100, 'x'));
        std::this_thread::sleep_for(100ms);
        linger reset{1, 0};  // closing now sends RST instead of FIN
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    });
    Outcome got = fetch(peer.url());
    peer.server.join();
    EXPECT_FALSE(got.data);
    ASSERT_EQ(got.errors.size(), 1u);
    EXPECT_NE(got.errors[0], "");
    EXPECT_EQ(got.responseData, std::string(100, 'x'));
}

TEST(HttpHostilePeer, GarbageAndBinaryStatusLines) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"garbage\r\n\r\n", "Response status error"},
        {std::string("\0\x01\x02\xff \x80\xfe\r\n\r\n", 12), "Response status error"},
        {"HTTP/1.1 abc OK\r\n\r\n", "Response status error"},
        {"HTTP/1.1 99999999999 Big\r\n\r\n", "Response status error"},
        {"HTTP/1.1 -5 Negative\r\n\r\n", "Response status error"},
        {"HTTP/1.1 4294967496 Wraps to 200\r\nContent-Length: 1\r\n\r\nx", "Response status error"},
        {"HTTP/1.1 999 Odd\r\nContent-Length: 1\r\n\r\nx", "Http Error #999"},
        {"\r\n\r\n", "Response status error"},
        {std::string(5000, '\xff') + "\r\n\r\n", "Response status error"},
    };
    for (const auto& [reply, message] : rows) {
        Peer peer([reply = reply](int fd) { testsupport::writeAll(fd, reply); });
        Outcome got = fetch(peer.url());
        EXPECT_FALSE(got.data);
        EXPECT_EQ(got.errors, std::vector<std::string>{message}) << testing::PrintToString(reply);
    }
}

TEST(HttpHostilePeer, NulAndHighBytesInFieldsAndBodyStayExact) {
    std::string every;
    for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
    const std::string field = std::string("a\0b\x80\xff", 5);
    const std::string head = kOk + "X-Bin" + std::string("\0", 1) + "\xe9: " + field + "\r\n";
    const std::vector<std::string> replies = {
        head + "Content-Length: 256\r\n\r\n" + every,
        head + "Transfer-Encoding: chunked\r\n\r\n100\r\n" + every + "\r\n0\r\n\r\n",
        head + "\r\n" + every,
    };
    for (const std::string& reply : replies) {
        Peer peer([&](int fd) { testsupport::writeAll(fd, reply); });
        Outcome got = fetch(peer.url());
        EXPECT_EQ(got.data, every);
        EXPECT_EQ(got.headers->get(std::string("X-Bin\0\xe9", 7)), field);
    }
}

TEST(HttpHostilePeer, JsonAnswersNestedAMillionDeepOrOf100MBThroughTheParser) {
    const std::string deep(1'000'000, '[');
    // 100 MB: 1.6 million records, each with a string, a number and a nested object.
    std::string large = "[";
    const std::string record =
        R"({"name":"abcdefghijklmnopqrstuvwxyz","n":1234567,"o":{"k":[true,null]}},)";
    while (large.size() + record.size() < 100'000'000) large += record;
    large += "0]";
    Peer deepPeer([&](int fd) { testsupport::writeAll(fd, kOk + "\r\n" + deep); });
    Peer largePeer([&](int fd) {
        testsupport::writeAll(
            fd, kOk + "Content-Length: " + std::to_string(large.size()) + "\r\n\r\n" + large);
    });

    std::string body = Http::requestUrl(deepPeer.url());
    EXPECT_EQ(body.size(), deep.size());
    EXPECT_EQ(testsupport::thrownText([&] { lumo::format::JsonParser(body).parseRec(); }),
              "Nesting deeper than 1000 levels at position 1000");

    body = Http::requestUrl(largePeer.url());
    ASSERT_EQ(body, large);
    large.clear();
    large.shrink_to_fit();
    runtime::Dynamic parsed = lumo::format::JsonParser(body).parseRec();
    EXPECT_EQ(parsed.asArray().size(),
              static_cast<std::size_t>((body.size() - 3) / record.size()) + 1);
}

// TLS peers: each read the client's hello, then answer with what no server should send.
TEST(HttpHostilePeer, TlsHandshakesThatGoWrongEndInAMessage) {
    const std::vector<std::pair<const char*, std::string>> rows = {
        {"garbage instead of a server hello",
         "HTTP/1.1 400 Bad Request\r\n\r\n" + std::string(300, '\xA5')},
        {"close inside the server hello",
         std::string("\x16\x03\x03\x00\x50\x02\x00\x00\x4c\x03\x03\x01\x02", 13)},
        {"fatal handshake_failure alert", std::string("\x15\x03\x03\x00\x02\x02\x28", 7)},
        {"record longer than TLS allows",
         std::string("\x16\x03\x03\xff\xff", 5) + std::string(2000, '\0')},
    };
    for (const auto& [name, reply] : rows) {
        SCOPED_TRACE(name);
        Peer peer([reply = reply](int fd) { testsupport::writeAll(fd, reply); });
        auto start = std::chrono::steady_clock::now();
        Outcome got = fetch(peer.url("https"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_FALSE(got.data);
        ASSERT_EQ(got.errors.size(), 1u);
        EXPECT_FALSE(got.errors[0].empty());
    }
}

TEST(HttpHostilePeer, TlsServerWithAChainOfFiftyCertificates) {
    testsupport::TempDir dir;
    const std::string make = R"(set -e; cd "$1"
        key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
        key k0; openssl req -x509 -new -key k0 -subj /CN=c0 -days 2 -out c0 2>/dev/null
        for i in $(seq 1 49); do
          key k$i; openssl req -new -key k$i -subj /CN=c$i 2>/dev/null |
            openssl x509 -req -CA c$((i-1)) -CAkey k$((i-1)) -CAcreateserial -days 2 -out c$i 2>/dev/null
        done
        for i in $(seq 48 -1 0); do cat c$i; done > chain)";
    auto made = testsupport::run({"bash", "-c", make, "make", dir.path().string()}, 60s);
    ASSERT_EQ(made.status, 0) << made.err;
    int port = testsupport::freePort();
    testsupport::Daemon server(
        {"openssl", "s_server", "-quiet", "-www", "-accept", "127.0.0.1:" + std::to_string(port),
         "-cert", dir.file("c49"), "-key", dir.file("k49"), "-cert_chain", dir.file("chain")},
        port, 10s);
    auto start = std::chrono::steady_clock::now();
    Outcome got = fetch("https://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(got.data);
    ASSERT_EQ(got.errors.size(), 1u);
    EXPECT_FALSE(got.errors[0].empty());
}

}  // namespace
