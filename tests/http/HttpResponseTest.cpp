// How lumo::Http reads answers: from scripted loopback servers for what real servers
// never send, and from in-memory inputs for every way a body can be split into reads.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "http/Http.h"
#include "lumo/io/BytesOutput.h"
#include "runtime/Thrown.h"
#include "support/PiecesInput.h"
#include "support/ScriptedServer.h"
#include "support/ThrownText.h"
#include "sys/net/Socket.h"
#include "util/EReg.h"

namespace {

using lumo::Http;
using testsupport::ScriptedServer;

// After its reply the server waits for the client's end of the connection (shutdown or
// close), at most waitMs, unless holdMs says to ignore it and keep the connection open.
struct Server {
    int waitMs = 5000;
    int holdMs = 0;
};

struct Outcome {
    std::vector<int> statuses;
    std::optional<std::string> data;
    std::vector<std::string> errors;
    std::optional<std::string> responseData;
    bool sawEnd = false;  // the server read the end of the client's sending side
    std::optional<lumo::ds::StringMap<std::string>> headers;
};

Outcome fetch(const std::string& reply, Server behaviour = {}, const std::function<void(Http&)>& setup = {}) {
    Outcome out;
    ScriptedServer server([&](int fd) {
        std::string request;
        char buf[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) return;
            request.append(buf, static_cast<std::size_t>(n));
        }
        testsupport::writeAll(fd, reply);
        if (behaviour.holdMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(behaviour.holdMs));
            return;
        }
        pollfd p{fd, POLLIN, 0};
        out.sawEnd = poll(&p, 1, behaviour.waitMs) == 1 && read(fd, buf, sizeof buf) == 0;
    });
    Http h("http://127.0.0.1:" + std::to_string(server.port()) + "/");
    h.onStatus = [&](int s) { out.statuses.push_back(s); };
    h.onData = [&](const std::string& d) { out.data = d; };
    h.onError = [&](const std::string& m) { out.errors.push_back(m); };
    if (setup) setup(h);
    h.request(false);
    server.join();
    out.responseData = h.responseData;
    out.headers = h.responseHeaders;
    return out;
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";

TEST(HttpResponse, FramingsStatusesAndMessages) {
    struct Row {
        const char* name;
        std::string reply;
        std::optional<std::string> data;  // what onData gets; absent when it is not called
        std::vector<std::string> errors;
        std::string responseData;
        Server server = {};
        std::function<void(Http&)> setup = {};
    };
    const std::string head70k = kOk + "X-Long: " + std::string(70000, 'a');
    const std::vector<Row> rows = {
        {"stated length; bytes past it unread", kOk + "Content-Length: 5\r\n\r\nhelloEXTRA", "hello", {}, "hello"},
        {"stated length 0", kOk + "Content-Length: 0\r\n\r\n", "", {}, ""},
        {"length field without a space is no length", kOk + "Content-Length:12\r\n\r\nab", "ab", {}, "ab"},
        {"no length: to the close", kOk + "\r\nbody", "body", {}, "body"},
        {"chunked wins over a length", kOk + "Transfer-Encoding: Chunked\r\nContent-Length: 3\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         "hello", {}, "hello"},
        {"a list of codings is not chunked", kOk + "Transfer-Encoding: gzip, chunked\r\nContent-Length: 3\r\n\r\n5\r\nhello",
         "5\r\n", {}, "5\r\n"},
        {"302 delivers its own body", "HTTP/1.1 302 Found\r\nContent-Length: 5\r\n\r\nmoved", "moved", {}, "moved"},
        {"404 keeps its body", "HTTP/1.1 404 Not Found\r\nContent-Length: 8\r\n\r\nnot here", {}, {"Http Error #404"},
         "not here"},
        {"no reason phrase", "HTTP/1.1 204\r\n\r\n", "", {}, ""},
        {"an interim status is final", "HTTP/1.1 100 Continue\r\n\r\n", {}, {"Http Error #100"}, ""},
        {"two spaces before the status", "HTTP/1.1  200 OK\r\n\r\n", {}, {"Response status error"}, ""},
        {"no status", "HTTP/1.1\r\n\r\n", {}, {"Response status error"}, ""},
        {"status 0", "HTTP/1.1 0 Zero\r\n\r\n", {}, {"Response status error"}, ""},
        {"close inside the head", kOk + "Content-Le", {}, {"Eof"}, "", {.waitMs = 0}},
        {"close before the stated length", kOk + "Content-Length: 10\r\n\r\nshort", {}, {"Transfer aborted"}, "short",
         {.waitMs = 0}},
        {"close inside a chunked body", kChunked + "5\r\nhel", {}, {"Transfer aborted"}, "hel", {.waitMs = 0}},
        {"chunk size 7FFFFFFF, then the close", kChunked + "7FFFFFFF\r\nabc", {}, {"Transfer aborted"}, "abc",
         {.waitMs = 0}},
        {"chunk size FFFFFFFF", kChunked + "FFFFFFFF\r\nabc", {}, {"Invalid chunk"}, ""},
        {"chunk size of nine digits", kChunked + "100000000\r\nabc", {}, {"Invalid chunk"}, ""},
        {"11 bytes without a line end", kChunked + "2\r\nab\r\n00000000005", {}, {"Invalid chunk"}, "ab"},
        {"invalid chunk on a 404 reports twice", "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\nnot hex at all\r\n",
         {}, {"Invalid chunk", "Http Error #404"}, ""},
        {"a length past the Int range", kOk + "Content-Length: 4294967301\r\n\r\nhello", {},
         {"Invalid Content-Length: 4294967301"}, ""},
        {"a head that never ends", head70k, {}, {"Response head longer than 65536 bytes"}, "", {.waitMs = 0}},
        {"no length, without shutdown", kOk + "\r\nbody", "body", {}, "body", {.waitMs = 300},
         [](Http& h) { h.noShutdown = true; }},
        {"no length, connection kept open: the receive timeout", kOk + "\r\npartial", {}, {"Custom(EOF)"}, "partial",
         {.holdMs = 1500}, [](Http& h) { h.cnxTimeout = 0.3; }},
        {"a 304 has no body, whatever its length says", "HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\n", "", {},
         "", {.waitMs = 1000}},
        // Callbacks run through a copy: one may replace itself, or retry from inside (the retry
        // fails at once: no address). Without the copy, a use-after-free seen only under ASan.
        {"onStatus replaces itself", kOk + "Content-Length: 2\r\n\r\nok", "ok", {}, "ok", {}, [](Http& h) {
             h.onStatus = [&h, keep = std::string(40, 's')](int) { h.onStatus = [](int) {}; h.url = keep; };
         }},
        {"onError retries", kOk + "Content-Length: 9\r\n\r\nshort", {}, {}, std::string(40, 'e'), {.waitMs = 0}, [](Http& h) {
             h.onError = [&h, keep = std::string(40, 'e')](auto&) {
                 if (!h.url.empty()) { h.url.clear(); h.request(); h.responseData = keep; }
             };
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Outcome got = fetch(row.reply, row.server, row.setup);
        EXPECT_EQ(got.data, row.data);
        EXPECT_EQ(got.errors, row.errors);
        EXPECT_EQ(got.responseData, row.responseData);
    }
}

TEST(HttpResponse, ShutdownOnlyForABodyReadToTheClose) {
    EXPECT_TRUE(fetch(kOk + "\r\nbody").sawEnd);
    EXPECT_FALSE(fetch(kOk + "\r\nbody", {.waitMs = 300}, [](Http& h) { h.noShutdown = true; }).sawEnd);
}

TEST(HttpResponse, HeaderFields) {
    Outcome got = fetch(kOk +
                        "X-Time: 12:30: 45\r\nNoSeparator\r\nDup: 1\r\nDup: \t 2 \r\nMixed-Case: v\r\n"
                        "Content-Length:12\r\nContent-Length: 2\r\n\r\nok");
    ASSERT_TRUE(got.headers);
    const auto& h = *got.headers;
    EXPECT_EQ(h.get("X-Time"), "12:30: 45");
    EXPECT_EQ(h.get("NoSeparator"), "");
    EXPECT_EQ(h.get("Dup"), "2");
    EXPECT_EQ(h.get("Mixed-Case"), "v");
    EXPECT_FALSE(h.exists("mixed-case"));
    EXPECT_EQ(h.get("Content-Length:12"), "");
    EXPECT_EQ(got.statuses, std::vector<int>{200});
    EXPECT_EQ(got.data, "ok");
}

TEST(HttpResponse, RequestUrlReturnsTheBodyOrThrowsTheMessage) {
    // Listening on 127.0.0.2 alone: the address of the URL is the one connected to.
    ScriptedServer server(
        [](int fd) {
            testsupport::readUpTo(fd, 1);
            testsupport::writeAll(fd, kOk + "Content-Length: 4\r\n\r\nbody");
        },
        "127.0.0.2");
    EXPECT_EQ(Http::requestUrl("http://127.0.0.2:" + std::to_string(server.port()) + "/x"), "body");
    ScriptedServer chunky([](int fd) {
        testsupport::readUpTo(fd, 1);
        testsupport::writeAll(fd, kChunked + "zzzzzzzzzzzz\r\n");
    });
    auto port = std::to_string(chunky.port());
    EXPECT_EQ(testsupport::thrownText([&] { Http::requestUrl("http://127.0.0.1:" + port + "/"); }), "Invalid chunk");
    EXPECT_EQ(testsupport::thrownText([] { Http::requestUrl(""); }), "Invalid URL");
    EXPECT_EQ(testsupport::thrownText([] { Http::requestUrl("http://127.0.0.1:1/"); }), "EOF");
}

// Chunked coding of body in chunks of the given sizes (the last takes the rest), with
// the size in either case of hexadecimal and spaces before the line end.
std::string chunked(const std::string& body, std::mt19937& rng) {
    std::string out;
    for (std::size_t at = 0; at < body.size();) {
        std::size_t n = std::min<std::size_t>(body.size() - at, 1 + rng() % 20);
        char size[16];
        std::snprintf(size, sizeof size, rng() % 2 ? "%zx" : "%zX", n);
        out += size + std::string(rng() % 3, ' ') + "\r\n" + body.substr(at, n) + "\r\n";
        at += n;
    }
    return out + "0\r\n\r\n";
}

// An output that takes at most `take` bytes a call, as lumo::io::Output allows.
struct TrickleOutput : lumo::io::BytesOutput {
    int take = 1;
    int writeBytes(const lumo::io::Bytes& s, int pos, int len) override {
        return BytesOutput::writeBytes(s, pos, std::min(len, take));
    }
};

// Feeds the pieces to readChunk as successive reads; the decoded bytes, or "unfinished".
std::string decode(const std::vector<std::string>& pieces, std::vector<std::string>& errors) {
    Http h("");
    h.onError = [&](const std::string& m) { errors.push_back(m); };
    EReg pattern("^([0-9A-Fa-f]+)[ ]*\r\n", "m");
    TrickleOutput out;
    for (const std::string& piece : pieces) {
        lumo::io::Bytes buffer = lumo::io::Bytes::ofString(piece);
        if (!h.readChunk(pattern, out, buffer, buffer.length())) return out.getBytes().toString();
    }
    return "unfinished";
}

TEST(HttpResponse, ChunkedBodySplitAnywhereDecodesExactly) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        std::string body;
        for (std::size_t n = rng() % 40; body.size() < n;) body += "ab\r\n0\r\nF \x00\xff"[rng() % 12];
        std::string wire = chunked(body, rng);
        std::vector<std::string> errors;
        for (std::size_t i = 1; i < wire.size(); ++i) {
            ASSERT_EQ(decode({wire.substr(0, i), wire.substr(i)}, errors), body) << wire << " at " << i;
            for (std::size_t j = i + 1; j < wire.size(); ++j) {
                ASSERT_EQ(decode({wire.substr(0, i), wire.substr(i, j - i), wire.substr(j)}, errors), body)
                    << wire << " at " << i << ", " << j;
            }
        }
        EXPECT_TRUE(errors.empty());
    }
}

TEST(HttpResponse, SizeLineFragments) {
    // A size line cut after 1 to 10 bytes waits for the next read; 11 bytes without a line
    // end are no size line. Chunk extensions do not fit either.
    const std::string line = "000000005\r\n";
    for (std::size_t k = 1; k <= 10; ++k) {
        std::vector<std::string> errors;
        EXPECT_EQ(decode({line.substr(0, k), line.substr(k) + "hello\r\n0\r\n\r\n"}, errors), "hello") << k;
        EXPECT_TRUE(errors.empty());
    }
    std::vector<std::string> errors;
    EXPECT_EQ(decode({"00000000005", "\r\nhello\r\n0\r\n\r\n"}, errors), "");
    EXPECT_EQ(errors, std::vector<std::string>{"Invalid chunk"});
    errors.clear();
    EXPECT_EQ(decode({"5;a=b\r\nhello\r\n0\r\n\r\n"}, errors), "");
    EXPECT_EQ(errors, std::vector<std::string>{"Invalid chunk"});
}

TEST(HttpResponse, HeadReadsNeverTakeABodyByte) {
    // Whatever sizes the reads come in, the head ends exactly at its blank line and the
    // body at its stated length: what follows stays unread.
    std::mt19937 rng(11);
    const std::string body = "0123456789abcdefghij";
    const std::string answer = kOk + "Content-Length: 20\r\nX: \r\r\n\r\n" + body + "NEXT";
    for (int round = 0; round < 200; ++round) {
        std::vector<int> pieces;
        for (int i = 0; i < 8; ++i) pieces.push_back(1 + static_cast<int>(rng() % 9));
        sys::net::Socket socket;
        auto input = std::make_unique<testsupport::PiecesInput>(answer, pieces);
        auto* reader = input.get();
        socket.input = std::move(input);
        Http h("");
        lumo::io::BytesOutput out;
        h.readHttpResponse(out, socket);
        EXPECT_EQ(out.getBytes().toString(), body);
        EXPECT_EQ(reader->remaining(), 4u);
        EXPECT_EQ(h.responseHeaders->get("X"), "");
    }
}

TEST(HttpResponse, EveryFramingWritesEveryByteOrFailsBlocked) {
    // An output may take fewer bytes a call than offered; one that takes none is Blocked.
    for (const std::string& rest : std::vector<std::string>{
             "Content-Length: 4\r\n\r\nbody", "Transfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\n", "\r\nbody"}) {
        for (int take : {1, 0}) {
            SCOPED_TRACE(rest + " taking " + std::to_string(take));
            sys::net::Socket socket;
            socket.input = std::make_unique<testsupport::PiecesInput>(kOk + rest, std::vector<int>{});
            Http h("");
            h.noShutdown = true;
            TrickleOutput out;
            out.take = take;
            EXPECT_EQ(testsupport::thrownText([&] { h.readHttpResponse(out, socket); }),
                      take ? "nothing thrown" : "Blocked");
            EXPECT_EQ(out.getBytes().toString(), take ? "body" : "");
        }
    }
}

TEST(HttpResponse, ObjectUsedAgainAndTheOutputsClose) {
    // The first request's wrapper stays in onError after its success; the second
    // request's error body is its own all the same. The body's output is closed after a
    // complete 2xx or 3xx answer only.
    struct CountingOutput : lumo::io::BytesOutput {
        void close() override { ++closes; }
        int closes = 0;
    };
    Http h("");
    std::vector<std::string> errors;
    h.onError = [&](const std::string& m) { errors.push_back(m); };
    const std::string kMissing = "HTTP/1.1 404 Not Found\r\nContent-Length: 6\r\n\r\nsecond";
    struct Round {
        std::string reply;
        bool custom;
        std::string body;
        int closes;
        std::optional<std::string> method = {};
    };
    for (const Round& round : std::vector<Round>{{kOk + "Content-Length: 5\r\n\r\nfirst", false, "first", 0},
                                                 {kMissing, false, "second", 0},
                                                 {kOk + "Content-Length: 2\r\n\r\nok", true, "ok", 1},
                                                 {kMissing, true, "second", 0},
                                                 {kOk + "Content-Length: 5\r\n\r\n", true, "", 1, "HEAD"}}) {
        SCOPED_TRACE(round.reply);
        ScriptedServer server([&](int fd) {
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                std::string piece = testsupport::readUpTo(fd, 1);
                if (piece.empty()) return;
                request += piece;
            }
            testsupport::writeAll(fd, round.reply);
        });
        h.url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
        CountingOutput out;
        if (round.custom) {
            h.customRequest(false, out, nullptr, round.method);
        } else {
            h.request(false);
        }
        server.join();
        EXPECT_EQ(round.custom ? out.getBytes().toString() : h.responseData.value_or("-"), round.body);
        EXPECT_EQ(out.closes, round.closes);
    }
    EXPECT_EQ(errors, (std::vector<std::string>{"Http Error #404", "Http Error #404"}));
}

}  // namespace
