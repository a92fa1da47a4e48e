// The TLS socket against openssl s_server and against a server of our own.
#include <gtest/gtest.h>
#include <future>
#include <latch>
#include <thread>
#include <utility>

#include "support/ThrownText.h"
#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "sys/ssl/TlsFixture.h"

using testsupport::thrownText;

using lumo::io::Bytes;
using sys::net::Host;
using namespace std::chrono_literals;

namespace {


const std::string kVerifyFailed = "X509 - Certificate verification failed, e.g. CRL, CA or signature check failed";

// Identity of our own server: localhost by default, a.test and b.test by name.
std::unique_ptr<sys::ssl::Socket> serverIdentity() {
    auto id = std::make_unique<sys::ssl::Socket>();
    id->verifyCert = false;
    id->ownCert = sys::ssl::Certificate::loadFile(tlstest::cert("localhost"));
    id->ownKey = sys::ssl::Key::loadFile(tlstest::key("localhost"));
    std::vector<sys::ssl::Socket::SniContext> alternatives;
    for (std::string name : {"a", "b"}) {
        alternatives.push_back({[name](const std::string& requested) { return requested == name + ".test"; },
                                sys::ssl::Certificate::loadFile(tlstest::cert(name)),
                                sys::ssl::Key::loadFile(tlstest::key(name))});
    }
    // Skipped: one without a test of the name, one without a key (c.test gets localhost's).
    alternatives.push_back({{}, alternatives[0].cert, alternatives[0].key});
    alternatives.push_back({[](const std::string& requested) { return requested == "c.test"; }, alternatives[0].cert, {}});
    id->altSNIContexts = alternatives;
    return id;
}

void sendText(mbedtls_ssl_context* ssl, const std::string& text) {
    mbedtls_ssl_write(ssl, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// s_server's -www page for GET / and the text of what ended the reading.
std::pair<std::string, std::string> wwwPage(sys::ssl::Socket& s) {
    // The streams' single-byte ways beside their bulk ones.
    s.output->writeByte('G');
    Bytes request = Bytes::ofString("ET / HTTP/1.0\r\n\r\n");
    s.output->writeFullBytes(request, 0, request.length());
    s.setTimeout(10);
    std::string got(1, static_cast<char>(s.input->readByte()));
    Bytes buf = Bytes::alloc(1024);
    try {
        for (;;) got += buf.getString(0, s.input->readBytes(buf, 0, 1024));
    } catch (const runtime::Thrown& e) {
        return {got, e.toString()};
    }
}

}  // namespace

TEST(TlsSocket, VerificationMatrixAgainstOpensslServer) {
    struct Case {
        std::string served;
        bool verifiesWhenRequired;
    };
    for (const Case& c : {Case{"localhost", true}, Case{"other", false}, Case{"self", false},
                          Case{"expired", false}, Case{"untrusted", false}}) {
        int port = tlstest::opensslServer(c.served);
        for (std::optional<bool> verify : {std::optional<bool>(true), std::optional<bool>(), std::optional<bool>(false)}) {
            auto s = tlstest::client(verify);
            std::string outcome = thrownText([&] { s->connect(Host("localhost"), port); });
            bool expectOk = verify != std::optional<bool>(true) || c.verifiesWhenRequired;
            EXPECT_EQ(outcome, expectOk ? "nothing thrown" : kVerifyFailed)
                << c.served << " verify=" << (verify ? (*verify ? "true" : "false") : "null");
            s->close();
        }
    }
}

TEST(TlsSocket, RealPeerExchangeEndsWithCloseNotify) {
    auto s = tlstest::client(true);
    s->connect(Host("localhost"), tlstest::opensslServer("localhost"));
    auto [got, end] = wwwPage(*s);
    EXPECT_TRUE(got.starts_with("HTTP/1.0 200 ok")) << got;
    EXPECT_EQ(end, "Custom(ssl_recv)");  // the server's close-notify
    s->setTimeout(0.2);
    EXPECT_EQ(thrownText([&] { s->input->readByte(); }), "Eof");
    s->close();
}

// The client offers the fast curves first, yet keeps every curve of the library's default
// list: a server that agrees only on secp384r1 still completes the handshake.
TEST(TlsSocket, ServerWithOnlySecp384r1StillAgrees) {
    auto s = tlstest::client(true);
    ASSERT_EQ(thrownText([&] { s->connect(Host("localhost"), tlstest::opensslServer("localhost", "secp384r1")); }),
              "nothing thrown");
    std::string page = wwwPage(*s).first;
    EXPECT_NE(page.find("Shared groups: secp384r1\n"), std::string::npos) << page;
    EXPECT_NE(page.find("Supported groups: x25519:secp256r1:"), std::string::npos) << page;
    s->close();
}

TEST(TlsSocket, ServerNameSelectsTheIdentityAndHostnameGoesFirst) {
    auto identity = serverIdentity();
    struct Case {
        std::optional<std::string> hostname;
        bool verifies;
    };
    for (const Case& c : {Case{"b.test", true}, Case{"a.test", true}, Case{std::nullopt, true},
                          Case{"c.test", false}}) {
        tlstest::OwnServer server(*identity, [](mbedtls_ssl_context* ssl, int) { sendText(ssl, "hello"); });
        auto s = tlstest::client(true);
        s->hostname = c.hostname;
        // Without a hostname of its own the socket takes the host's name: localhost.
        std::string outcome = thrownText([&] { s->connect(Host("localhost"), server.port()); });
        EXPECT_EQ(outcome, c.verifies ? "nothing thrown" : kVerifyFailed) << c.hostname.value_or("(none)");
        if (c.verifies) {
            EXPECT_EQ(s->hostname, c.hostname.value_or("localhost"));
            Bytes buf = Bytes::alloc(5);
            EXPECT_EQ(s->input->readBytes(buf, 0, 5), 5);
            EXPECT_EQ(buf.toString(), "hello");
        }
        s->close();
        server.join();
    }
    identity->ownCert = nullptr;  // no identity of its own: none for a name no alternative takes
    tlstest::OwnServer bare(*identity, [](mbedtls_ssl_context*, int) {});
    auto s = tlstest::client(true);
    s->hostname = "c.test";
    EXPECT_EQ(thrownText([&] { s->connect(Host("localhost"), bare.port()); }),
              "SSL - A fatal alert message was received from our peer");
}

// Over IPv6 to a host that has no IPv4 address; a warning alert between the pieces is no failure.
TEST(TlsSocket, PeerTcpCloseIsTheEnd) {
    auto identity = serverIdentity();
    tlstest::OwnServer server(*identity, [](mbedtls_ssl_context* ssl, int) {
        sendText(ssl, "all of");
        mbedtls_ssl_send_alert_message(ssl, MBEDTLS_SSL_ALERT_LEVEL_WARNING, MBEDTLS_SSL_ALERT_MSG_NO_RENEGOTIATION);
        sendText(ssl, " it");
    }, "::1");
    auto s = tlstest::client(true);
    s->hostname = "localhost";
    s->connect(Host("::1"), server.port());
    EXPECT_EQ(s->input->readAll().toString(), "all of it");
    Bytes buf = Bytes::alloc(4);
    EXPECT_EQ(thrownText([&] { s->input->readBytes(buf, 0, 4); }), "Eof");
    s->close();
    // Alerts alone, for up to 5 s: the read asked again and again runs out with the timeout.
    tlstest::OwnServer chatty(*identity, [](mbedtls_ssl_context* ssl, int) {
        auto alert = [ssl] { return mbedtls_ssl_send_alert_message(ssl, 1, MBEDTLS_SSL_ALERT_MSG_NO_RENEGOTIATION); };
        for (int i = 0; i < 250 && alert() == 0; i++) std::this_thread::sleep_for(20ms);  // warning level
    });
    s = tlstest::client(true);
    s->setTimeout(0.2);
    s->connect(Host("localhost"), chatty.port());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(thrownText([&] { s->input->readBytes(buf, 0, 4); }), "Blocked");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    s->close();
}

TEST(TlsSocket, TimeoutsAndBadArgumentsGiveTheStreamErrors) {
    auto identity = serverIdentity();
    // The server reads nothing and stays until the test is done (10 s at most).
    std::promise<void> done;
    std::shared_future<void> finished = done.get_future().share();
    tlstest::OwnServer server(*identity, [finished](mbedtls_ssl_context*, int) { finished.wait_for(10s); });
    auto s = tlstest::client(true);
    s->connect(Host("localhost"), server.port());
    s->setTimeout(0.2);
    Bytes buf = Bytes::alloc(8);
    EXPECT_EQ(thrownText([&] { s->input->readBytes(buf, 0, 8); }), "Blocked");
    EXPECT_EQ(thrownText([&] { s->input->readByte(); }), "Eof");
    EXPECT_EQ(thrownText([&] { s->input->readBytes(buf, 4, 5); }), "Custom(ssl_recv)");
    EXPECT_EQ(thrownText([&] { s->output->writeBytes(buf, 9, 0); }), "Custom(ssl_send)");
    EXPECT_EQ(thrownText([&] { s->output->writeByte(256); }), "Custom(invalid char)");
    EXPECT_EQ(thrownText([&] { s->output->writeByte(-1); }), "Custom(invalid char)");
    s->write("");
    // Nobody reads: the send buffers fill and the send timeout expires.
    EXPECT_EQ(thrownText([&] { s->write(std::string(64 << 20, 'x')); }), "Blocking");
    s->shutdown(false, true);  // now a failed write for certain, whatever the peer's window does
    EXPECT_EQ(thrownText([&] { s->output->writeByte('x'); }), "Custom(ssl network error)");

    // Closing the input closes the whole socket.
    s->input->close();
    EXPECT_EQ(thrownText([&] { s->input->readBytes(buf, 0, 4); }), "Invalid handle");
    EXPECT_EQ(thrownText([&] { s->output->writeByte(1); }), "Invalid handle");
    EXPECT_EQ(thrownText([&] { s->input->readByte(); }), "Custom(Invalid handle)");
    EXPECT_EQ(thrownText([&] { s->output->writeBytes(buf, 0, 4); }), "Custom(Invalid handle)");
    EXPECT_NE(thrownText([&] { s->write("after close"); }), "nothing thrown");
    done.set_value();
    // A peer that never answers the hello: the handshake ends with the timeout.
    testsupport::ScriptedServer hushed([](int fd) { testsupport::readUpTo(fd, 1 << 20); });
    auto waiting = tlstest::client(true);
    waiting->setTimeout(0.2);
    EXPECT_EQ(thrownText([&] { waiting->connect(Host("localhost"), hushed.port()); }), "Blocked");
}

TEST(TlsSocket, ConnectFailures) {
    auto unusable = tlstest::client(true);
    unusable->s_.reset();
    EXPECT_EQ(thrownText([&] { unusable->connect(Host("localhost"), 443); }), "Failed to connect on localhost:443");

    auto refused = tlstest::client(true);
    EXPECT_EQ(thrownText([&] { refused->connect(Host("127.0.0.1"), testsupport::freePort()); }), "EOF");

    auto longName = tlstest::client(true);
    longName->hostname = std::string(256, 'h');
    EXPECT_EQ(thrownText([&] { longName->connect(Host("127.0.0.1"), 443); }), "SSL - Bad input parameters to function");

    // Never connected: every use is refused by name, none reaches a context that is not there.
    auto never = tlstest::client(true);
    const std::string notConnected = "TLS socket is not connected";
    Bytes buf = Bytes::alloc(1);
    EXPECT_EQ(thrownText([&] { never->handshake(); }), notConnected);
    EXPECT_EQ(thrownText([&] { never->write("x"); }), notConnected);
    EXPECT_EQ(thrownText([&] { never->input->readBytes(buf, 0, 1); }), "Custom(" + notConnected + ")");
    EXPECT_EQ(thrownText([&] { never->output->writeBytes(buf, 0, 1); }), "Custom(" + notConnected + ")");
    EXPECT_EQ(thrownText([&] { never->output->writeByte('x'); }), "Custom(" + notConnected + ")");
}

// Each connect builds a new configuration and context; the old context must not outlive
// the configuration it points at (run under ASan: a use after free shows there).
TEST(TlsSocket, ConnectingAgainAfterARefusalIsSafe) {
    auto s = tlstest::client(true);
    int nobody = testsupport::freePort();
    EXPECT_EQ(thrownText([&] { s->connect(Host("127.0.0.1"), nobody); }), "EOF");
    EXPECT_EQ(thrownText([&] { s->connect(Host("127.0.0.1"), nobody); }), "EOF");
    // The library reads a freed configuration inside mbedtls_ssl_free, which ASan does not
    // see (valgrind does), so the ownership is checked as well: replacing the socket's
    // configuration leaves the one its context uses alive.
    std::weak_ptr<native::TlsConfig> used = s->conf;
    s->conf = nullptr;
    EXPECT_FALSE(used.expired());
    s->close();

    auto identity = serverIdentity();
    tlstest::OwnServer server(*identity, [](mbedtls_ssl_context* ssl, int) { sendText(ssl, "again"); });
    auto retried = tlstest::client(true);
    EXPECT_EQ(thrownText([&] { retried->connect(Host("localhost"), nobody); }), "EOF");
    // The same TCP socket may connect again after a refusal.
    retried->connect(Host("localhost"), server.port());
    EXPECT_EQ(retried->input->readAll().toString(), "again");
    retried->close();
    server.join();
}

// A configuration keeps its own name selection: building another one from the same
// socket, or dropping that socket, leaves it whole.
TEST(TlsSocket, ServerConfigurationsKeepTheirOwnNameSelection) {
    auto identity = serverIdentity();
    auto hello = [](mbedtls_ssl_context* ssl, int) { sendText(ssl, "hello"); };
    tlstest::OwnServer first(*identity, hello);
    tlstest::OwnServer second(*identity, hello);
    identity.reset();
    for (tlstest::OwnServer* server : {&first, &second}) {
        auto s = tlstest::client(true);
        s->hostname = "a.test";
        EXPECT_EQ(thrownText([&] { s->connect(Host("localhost"), server->port()); }), "nothing thrown");
        EXPECT_EQ(thrownText([&] { EXPECT_EQ(s->input->readAll().toString(), "hello"); }), "nothing thrown");
        s->close();
        server->join();
        EXPECT_EQ(server->handshakeResult(), 0);
    }
}

TEST(TlsSocket, DefaultsComeFromTheStatics) {
    auto saved = sys::ssl::Socket::DEFAULT_VERIFY_CERT;
    sys::ssl::Socket::DEFAULT_VERIFY_CERT = false;
    sys::ssl::Socket unverified;
    EXPECT_EQ(unverified.verifyCert, std::optional<bool>(false));
    unverified.connect(Host("localhost"), tlstest::opensslServer("self"));
    unverified.close();
    sys::ssl::Socket::DEFAULT_VERIFY_CERT = saved;

    // Sockets made on four threads at once load the system's roots once, for all of them.
    sys::ssl::Socket::DEFAULT_CA = nullptr;
    std::vector<std::unique_ptr<sys::ssl::Socket>> made(4);
    std::latch start(4);
    std::vector<std::jthread> threads;
    for (auto& s : made) threads.emplace_back([&] { start.arrive_and_wait(); s = std::make_unique<sys::ssl::Socket>(); });
    threads.clear();  // joins them
    for (auto& s : made) EXPECT_EQ(s->caCert, made[0]->caCert);

    sys::ssl::Socket verified;
    EXPECT_EQ(verified.verifyCert, std::optional<bool>(true));
    ASSERT_NE(sys::ssl::Socket::DEFAULT_CA, nullptr);  // the system's roots
    EXPECT_EQ(verified.caCert, sys::ssl::Socket::DEFAULT_CA);
    // The system's roots do not include the test CA.
    EXPECT_EQ(thrownText([&] { verified.connect(Host("localhost"), tlstest::opensslServer("localhost")); }),
              kVerifyFailed);
    // System roots that fail to load leave the socket without a store, not unmade.
    const std::string bad = tlstest::certs().file("roots");
    testsupport::writeFile(bad, "no certificate\n");
    auto roots = std::exchange(sys::ssl::Socket::DEFAULT_CA, nullptr);
    EXPECT_EQ(testsupport::inPrivateNamespace({{bad, sys::ssl::Certificate::defaultPaths("Linux")[0]}},
                                              [] { return sys::ssl::Socket().caCert ? "a store" : "no store"; }),
              "no store");
    sys::ssl::Socket::DEFAULT_CA = roots;
}
