// The exact bytes lumo::Http sends, captured by a loopback server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "http/Http.h"
#include "lumo/io/BytesOutput.h"
#include "runtime/Thrown.h"
#include "support/PiecesInput.h"
#include "support/ScriptedServer.h"
#include "sys/net/Socket.h"

namespace {

using lumo::Http;
using testsupport::ScriptedServer;

// Everything the client sends until it shuts its sending side down. The server answers
// as soon as the head is in, without a length, so the client shuts down and then reads
// to the close. `url` may hold {port}, the server's port; with `proxied` the server is
// the proxy.
struct Captured {
    std::string request;
    std::string body;
    std::vector<std::string> errors;
};

struct Call {
    Call(bool post = false, std::optional<std::string> method = {}, bool proxied = false)
        : post(post), method(std::move(method)), proxied(proxied) {}
    bool post;
    std::optional<std::string> method;
    bool proxied;
};

Captured capture(std::string url, const std::function<void(Http&)>& setup, Call call) {
    Captured got;
    ScriptedServer server([&](int fd) {
        char buf[4096];
        while (got.request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) return;
            got.request.append(buf, static_cast<std::size_t>(n));
        }
        testsupport::writeAll(fd, "HTTP/1.1 200 OK\r\n\r\nok");
        got.request += testsupport::readUpTo(fd, 1 << 20);
    });
    if (auto at = url.find("{port}"); at != std::string::npos) url.replace(at, 6, std::to_string(server.port()));
    if (call.proxied) Http::PROXY = Http::ProxyRecord{"127.0.0.1", server.port()};
    Http h(url);
    h.onError = [&](const std::string& m) { got.errors.push_back(m); };
    setup(h);
    lumo::io::BytesOutput sink;
    h.customRequest(call.post, sink, nullptr, call.method);
    Http::PROXY.reset();
    server.join();
    got.body = sink.getBytes().toString();
    return got;
}

void noSetup(Http&) {}

Http::ParamRecord param(std::string name, std::string value) { return {std::move(name), std::move(value)}; }

void twoParams(Http& h) {
    h.params.add(param("a", "1"));
    h.params.add(param("b c", "x y&z"));
}

const std::string kBase = "http://127.0.0.1:{port}";
const std::string kHead = " HTTP/1.1\r\nHost: 127.0.0.1\r\n";

TEST(HttpRequest, ComposesExactBytes) {
    struct Row {
        const char* name;
        std::string url;
        std::function<void(Http&)> setup;
        Call call;
        std::string expected;
    };
    const std::string encoded = "a=1&b%20c=x%20y%26z";
    const std::vector<Row> rows = {
        {"path and query", kBase + "/a/b?c=d", noSetup, {false}, "GET /a/b?c=d" + kHead + "Connection: close\r\n\r\n"},
        {"no path", kBase + "", noSetup, {false}, "GET /" + kHead + "Connection: close\r\n\r\n"},
        {"path that begins with ?", kBase + "?x=1", noSetup, {false}, "GET ?x=1" + kHead + "Connection: close\r\n\r\n"},
        {"fragment", kBase + "/p#frag", noSetup, {false}, "GET /p#frag" + kHead + "Connection: close\r\n\r\n"},
        {"GET parameters", kBase + "/p", twoParams, {false}, "GET /p?" + encoded + kHead + "Connection: close\r\n\r\n"},
        {"GET parameters after ?", kBase + "/p?q", twoParams, {false},
         "GET /p?q&" + encoded + kHead + "Connection: close\r\n\r\n"},
        {"POST parameters", kBase + "/p", twoParams, {true},
         "POST /p" + kHead + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 19\r\n" +
             "Connection: close\r\n\r\n" + encoded},
        {"POST parameters, own Content-Type", kBase + "/p",
         [](Http& h) {
             twoParams(h);
             h.headers.add({"Content-Type", "text/plain"});
             h.headers.add({"X-Two", "a: b"});
         },
         {true},
         "POST /p" + kHead + "Content-Length: 19\r\nConnection: close\r\nContent-Type: text/plain\r\n" +
             "X-Two: a: b\r\n\r\n" + encoded},
        {"POST parameters, lower-case content-type record", kBase + "/p",
         [](Http& h) {
             twoParams(h);
             h.headers.add({"content-type", "text/plain"});
         },
         {true},
         "POST /p" + kHead + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 19\r\n" +
             "Connection: close\r\ncontent-type: text/plain\r\n\r\n" + encoded},
        {"postData on POST wins over parameters", kBase + "/p",
         [](Http& h) {
             twoParams(h);
             h.postData = "{\"k\":1}";
         },
         {true}, "POST /p" + kHead + "Content-Length: 7\r\nConnection: close\r\n\r\n{\"k\":1}"},
        {"postData on GET", kBase + "/p",
         [](Http& h) {
             twoParams(h);
             h.postData = "hello";
         },
         {false}, "GET /p?" + encoded + kHead + "Content-Length: 5\r\nConnection: close\r\n\r\nhello"},
        {"POST with nothing to send", kBase + "/p", noSetup, {true}, "POST /p" + kHead + "Connection: close\r\n\r\n"},
        {"a caller's framing record without a body", kBase + "/p",
         [](Http& h) { h.headers.add({"Content-Length", "0"}); },
         {true}, "POST /p" + kHead + "Connection: close\r\nContent-Length: 0\r\n\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Captured got = capture(row.url, row.setup, row.call);
        EXPECT_EQ(got.request, row.expected);
        EXPECT_TRUE(got.errors.empty());
    }
}

TEST(HttpRequest, MethodWordAndProxy) {
    // Through a proxy the request line carries the absolute address (the port only when
    // it is not 80) and the Host field the host alone. An upper-case scheme is no scheme:
    // its letters are the host and the rest is the path.
    struct Row {
        std::string url;
        Call call;
        std::string expected;
    };
    const std::string tail = "Connection: close\r\n\r\n";
    for (const Row& row : std::vector<Row>{
             {kBase + "/x", {false, "PUT"}, "PUT /x" + kHead + tail},
             {kBase + "/x", {true, "DELETE"}, "DELETE /x" + kHead + tail},
             {"http://origin.test:8080/p?q", {false, {}, true},
              "GET http://origin.test:8080/p?q HTTP/1.1\r\nHost: origin.test\r\n" + tail},
             {"origin.test", {false, {}, true}, "GET http://origin.test/ HTTP/1.1\r\nHost: origin.test\r\n" + tail},
             {"HTTP://origin.test/p", {false, {}, true},
              "GET http://HTTP://origin.test/p HTTP/1.1\r\nHost: HTTP\r\n" + tail},
         }) {
        SCOPED_TRACE(row.url);
        Captured got = capture(row.url, noSetup, row.call);
        EXPECT_EQ(got.request, row.expected);
        EXPECT_EQ(got.body, "ok");
        EXPECT_TRUE(got.errors.empty());
    }
}

TEST(HttpRequest, RefusesWhatWouldBreakTheFramingBeforeConnecting) {
    // Line breaks would smuggle in fields or a second request; a length or coding of the
    // caller's would contradict the body this client frames itself.
    struct NoConnection : sys::net::Socket {
        void connect(const sys::net::Host&, int) override { throw runtime::ThrownMessage("connected"); }
    };
    struct Row {
        std::string url;
        std::optional<std::string> method;
        Http::HeaderRecord header;
        std::string error;
        std::optional<std::string> body = {};
    };
    for (const Row& row : std::vector<Row>{
             {"http://127.0.0.1/a\r", {}, {"X", "1"}, "Invalid URL"},
             {"http://127.0.0.1/a b", {}, {"X", "1"}, "Invalid URL"},
             {std::string("http://127.0.0.1/a\0b", 20), {}, {"X", "1"}, "Invalid URL"},
             {"http://127.0.0.1/", "GET /x HTTP/1.1\r\n", {"X", "1"}, "Invalid method: GET /x HTTP/1.1\r\n"},
             {"http://127.0.0.1/", "", {"X", "1"}, "Invalid method: "},
             {"http://127.0.0.1/", {}, {"X", "1\r\nHost: other"}, "Invalid header field: X"},
             {"http://127.0.0.1/", {}, {"X", std::string("a\0b", 3)}, "Invalid header field: X"},
             {"http://127.0.0.1/", {}, {"X: y", "1"}, "Invalid header field: X: y"},
             {"http://127.0.0.1/", {}, {"", "1"}, "Invalid header field: "},
             {"http://127.0.0.1/", {}, {"content-length", "0"}, "Header field set by the client: content-length", "b"},
             {"http://127.0.0.1/", {}, {"Transfer-Encoding", "chunked"}, "Header field set by the client: Transfer-Encoding",
              "b"},
             {"http://127.0.0.1/%20\x80", "M-SEARCH", {"X-Ok", "tab\tand \xff"}, "connected"},
             // A port a 16-bit cast or the Int reading would wrap (4294967376 to 80) is no address.
             {"http://127.0.0.1:65616/", {}, {"X", "1"}, "Invalid URL"},
             {"http://127.0.0.1:4294967376/", {}, {"X", "1"}, "Invalid URL"},
             {"http://127.0.0.1:0/", {}, {"X", "1"}, "Invalid URL"},
             {"http://127.0.0.1:65535/", {}, {"X", "1"}, "connected"},
         }) {
        SCOPED_TRACE(row.url);
        Http h(row.url);
        std::vector<std::string> errors;
        h.onError = [&](const std::string& m) { errors.push_back(m); };
        h.headers.add(row.header);
        h.postData = row.body;
        NoConnection socket;
        lumo::io::BytesOutput sink;
        h.customRequest(false, sink, &socket, row.method);
        EXPECT_EQ(errors, std::vector<std::string>{row.error});
    }
}

TEST(HttpRequest, MultipartUpload) {
    for (int declared : {7, 12}) {  // the whole file, then a file shorter than declared
        SCOPED_TRACE(declared);
        Http::FileRecord file{"upload", "a b.txt", std::make_shared<testsupport::PiecesInput>("content", std::vector<int>{3}),
                              declared, "text/plain"};
        Captured got = capture(kBase + "/up",
                               [&](Http& h) {
                                   h.params.add(param("k", "v w"));
                                   h.file = file;
                               },
                               {});
        std::smatch m;
        ASSERT_TRUE(std::regex_search(got.request, m, std::regex("boundary=(-{26,}[0-9]{4,12})\r\n")));
        std::string boundary = m[1];
        EXPECT_EQ(boundary.size(), 38u);
        std::string prefix = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv w\r\n--" +
                             boundary + "\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"a b.txt\"\r\n" +
                             "Content-Type: text/plain\r\n\r\n";
        std::string expected = "POST /up" + kHead + "Content-Type: multipart/form-data; boundary=" + boundary +
                               "\r\nContent-Length: " + std::to_string(prefix.size() + declared + 38 + 6) +
                               "\r\nConnection: close\r\n\r\n" + prefix + "content\r\n--" + boundary + "--";
        EXPECT_EQ(got.request, expected);
        EXPECT_TRUE(got.errors.empty());
    }
    // An input that gives 0 bytes before the declared size (100 times here, then Eof).
    struct Dry : lumo::io::Input {
        int left = 100;
        int readBytes(lumo::io::Bytes&, int, int) override { return left-- > 0 ? 0 : throw lumo::io::Eof(); }
    };
    Http::FileRecord dry{"upload", "f", std::make_shared<Dry>(), 5, "text/plain"};
    EXPECT_EQ(capture(kBase + "/up", [&](Http& h) { h.file = dry; }, {}).errors, std::vector<std::string>{"Blocked"});
}

}  // namespace
