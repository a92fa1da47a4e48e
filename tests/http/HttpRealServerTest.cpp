// lumo::Http against a real server (nginx on loopback, plain and TLS), and the default
// ports of the two schemes.
#include <gtest/gtest.h>

#include <random>

#include "http/Http.h"
#include "support/Nginx.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/ThrownText.h"
#include "sys/ssl/Certificate.h"
#include "sys/ssl/Socket.h"

namespace {

using lumo::Http;

class HttpRealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        nginx_ = std::make_unique<testsupport::Nginx>();
        std::mt19937 rng(3);
        big_.resize(5 * 1024 * 1024 + 123);
        for (std::size_t i = 0; i < big_.size(); ++i) big_[i] = static_cast<char>(i < 256 ? i : rng());
        testsupport::writeFile((nginx_->root() / "big.bin").string(), big_);
        testsupport::writeFile((nginx_->root() / "small.json").string(), "{\"a\":1}");
        sys::ssl::Socket::DEFAULT_CA = sys::ssl::Certificate::loadFile(nginx_->caFile());
    }
    static void TearDownTestSuite() {
        sys::ssl::Socket::DEFAULT_CA.reset();
        nginx_.reset();
    }

    static std::string http(const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(nginx_->httpPort()) + path;
    }
    static std::string https(const std::string& path) {
        return "https://localhost:" + std::to_string(nginx_->httpsPort()) + path;
    }

    static std::unique_ptr<testsupport::Nginx> nginx_;
    static std::string big_;
};

std::unique_ptr<testsupport::Nginx> HttpRealServer::nginx_;
std::string HttpRealServer::big_;

// The whole body, byte for byte, or the message.
std::string fetch(const std::string& url, bool noShutdown) {
    Http h(url);
    h.noShutdown = noShutdown;
    std::string body = "onData not called";
    h.onData = [&](const std::string& d) { body = d; };
    h.onError = [&](const std::string& m) { body = "error: " + m; };
    h.request();
    return body;
}

TEST_F(HttpRealServer, EveryFramingDeliversTheExactBytes) {
    for (const std::string& url : {http("/big.bin"), https("/big.bin"), http("/chunked/big.bin"),
                                   https("/chunked/big.bin"), http("/unframed/big.bin")}) {
        // nginx takes the end of the client's sending side for the client going away and
        // cuts a body without length short, so that one is asked for without it.
        std::string body = fetch(url, url.find("/unframed") != std::string::npos);
        EXPECT_TRUE(body == big_) << url << ": " << body.size() << " bytes, " << body.substr(0, 60);
    }
    // Over TLS a body without length ends in the server's close-notify, which the TLS
    // input reports as a failure rather than as the end.
    EXPECT_EQ(fetch(https("/unframed/small.json"), true), "error: Custom(ssl_recv)");
    EXPECT_EQ(Http::requestUrl(http("/small.json")), "{\"a\":1}");
    EXPECT_EQ(Http::requestUrl(https("/chunked/small.json")), "{\"a\":1}");
}

TEST_F(HttpRealServer, ErrorStatusesAndRedirects) {
    for (const std::string& base : {http(""), https("")}) {
        SCOPED_TRACE(base);
        Http missing(base + "/missing");
        std::vector<std::string> errors;
        missing.onError = [&](const std::string& m) { errors.push_back(m); };
        missing.request();
        EXPECT_EQ(errors, std::vector<std::string>{"Http Error #404"});
        EXPECT_NE(missing.responseData.value_or("").find("404 Not Found"), std::string::npos);

        Http moved(base + "/redirect");
        std::vector<int> statuses;
        std::optional<std::string> body;
        moved.onStatus = [&](int s) { statuses.push_back(s); };
        moved.onData = [&](const std::string& d) { body = d; };
        moved.request();
        EXPECT_EQ(statuses, std::vector<int>{302});
        EXPECT_NE(body.value_or("").find("302 Found"), std::string::npos);
        EXPECT_EQ(moved.responseHeaders->get("Location"), "/");
    }
    // Verification is on: a name the certificate does not carry fails the handshake.
    std::string wrongName = "https://127.0.0.1:" + std::to_string(nginx_->httpsPort()) + "/small.json";
    EXPECT_NE(testsupport::thrownText([&] { Http::requestUrl(wrongName); }), "nothing thrown");
}

TEST(HttpDefaultPorts, SchemeChoosesTransportAndPort) {
    // The well-known ports are root's; elsewhere this cannot be shown without a namespace.
    struct Row {
        std::string url;
        int port;
        char firstByte;  // 'G' for a plain request, 0x16 for a TLS handshake record
    };
    for (const Row& row : {Row{"127.0.0.1/x", 80, 'G'}, Row{"http://127.0.0.1", 80, 'G'},
                           Row{"https://127.0.0.1/x", 443, '\x16'}}) {
        SCOPED_TRACE(row.url);
        std::string got;
        std::unique_ptr<testsupport::ScriptedServer> server;
        try {
            server = std::make_unique<testsupport::ScriptedServer>(
                [&](int fd) { got = testsupport::readUpTo(fd, 1); }, "127.0.0.1", row.port);
        } catch (const std::runtime_error& e) {
            GTEST_SKIP() << e.what() << " (needs root)";
        }
        Http h(row.url);
        h.cnxTimeout = 2;
        h.request();
        server->join();
        EXPECT_EQ(got, std::string(1, row.firstByte));
    }
}

}  // namespace
