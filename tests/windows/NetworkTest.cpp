// Windows Sockets and TLS under the HTTP client: loopback peers of our own, and
// openssl s_server started by the test run (windows/run-tests.sh) for the TLS peer:
// STREAMLAUNCH_TLS_PORT is its port, STREAMLAUNCH_TLS_CA the test CA that signed its
// certificate for localhost.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "LoopbackServer.h"
#include "http/Http.h"
#include "lumo/io/Bytes.h"
#include "native/socket.h"
#include "native/socket_api.h"
#include "runtime/Thrown.h"
#include "WinTestSupport.h"
#include "support/ThrownText.h"
#include "sys/net/Host.h"
#include "sys/net/Socket.h"
#include "sys/ssl/Certificate.h"
#include "sys/ssl/Socket.h"

using lumo::Http;
using lumo::io::Bytes;
using sys::net::Host;
using testsupport::thrownText;
using wintest::LoopbackServer;
using namespace std::chrono_literals;

namespace {

const std::string kVerifyFailed = "X509 - Certificate verification failed, e.g. CRL, CA or signature check failed";

std::string requestText(const std::string& url) {
    return thrownText([&] { throw runtime::ThrownMessage("body: " + Http::requestUrl(url)); });
}

// A peer that accepts and then says nothing until the test ends.
LoopbackServer::Script silent() {
    return [](SOCKET, LoopbackServer& server) { server.waitForStop(20s); };
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

TEST(WindowsNetwork, HttpRequestsOverLoopback) {
    std::string head;
    {
        LoopbackServer server([&](SOCKET c, LoopbackServer&) {
            head = LoopbackServer::readHead(c);
            LoopbackServer::writeAll(c, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello");
        });
        EXPECT_EQ(requestText("http://127.0.0.1:" + std::to_string(server.port()) + "/status?id=7"), "body: hello");
    }
    EXPECT_EQ(head.rfind("GET /status?id=7 HTTP/1.1\r\n", 0), 0u) << head;
    {
        LoopbackServer server([](SOCKET c, LoopbackServer&) {
            LoopbackServer::readHead(c);
            LoopbackServer::writeAll(c, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        });
        EXPECT_EQ(requestText("http://localhost:" + std::to_string(server.port()) + "/"), "Http Error #404");
    }
}

TEST(WindowsNetwork, ASocketDroppedWithoutCloseEndsItsConnection) {
    std::atomic<int> end{-2};  // 0 for an orderly close, else the error the wait ended in
    {
        LoopbackServer server([&](SOCKET c, LoopbackServer&) {
            DWORD ms = 10000;  // the bound on the wait for the end
            ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
            char byte;
            end = ::recv(c, &byte, 1, 0) == 0 ? 0 : ::WSAGetLastError();
        });
        auto s = std::make_unique<sys::net::Socket>();
        s->connect(Host("127.0.0.1"), server.port());
        s.reset();
        // The server ends with its owner, perhaps before it took the connection: wait for
        // the script's answer first (bounded by its own receive timeout).
        for (int i = 0; i < 1100 && end == -2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The connection ends at once, with a close or a reset; a socket left open would make
    // the wait run into its timeout instead.
    EXPECT_TRUE(end == 0 || end == WSAECONNRESET) << "the wait ended with " << end;
}

TEST(WindowsNetwork, FailuresFollowTheWindowsErrorTables) {
    // Refused: WSAECONNREFUSED is no would-block code.
    EXPECT_EQ(thrownText([] { sys::net::Socket().connect(Host("127.0.0.1"), wintest::closedPort()); }), "EOF");

    // An expired receive timeout is WSAETIMEDOUT: a failure for the plain socket...
    {
        LoopbackServer server(silent());
        sys::net::Socket s;
        s.connect(Host("127.0.0.1"), server.port());
        s.setTimeout(0.3);
        Bytes buf = Bytes::alloc(8);
        EXPECT_EQ(thrownText([&] { s.input->readBytes(buf, 0, 8); }), "Custom(EOF)");
        unsigned char byte = 0;
        EXPECT_EQ(native::socket_recv_raw(s.s_.get(), &byte, 1), -1);
        EXPECT_EQ(native::socket_last_failure(), native::SocketFailure::TimedOut);
        s.close();
    }
    // ...and "Blocking" for the TLS layer, which the socket turns into Blocked.
    {
        LoopbackServer server(silent());
        sys::ssl::Socket s;
        s.verifyCert = false;
        s.setTimeout(0.3);
        EXPECT_EQ(thrownText([&] { s.connect(Host("127.0.0.1"), server.port()); }), "Blocked");
        s.close();
    }
    // A connect the peer never answers (its queue is full) is bounded by the timeout. The
    // thread owns its socket, should it outlive its bound.
    {
        int port = 0;
        std::shared_ptr<void> full(nullptr, [s = wintest::listenLoopback(port, 0)](void*) { ::closesocket(s); });
        sys::net::Socket queued;
        auto waiting = std::make_shared<sys::net::Socket>();
        queued.connect(Host("127.0.0.1"), port);
        waiting->setTimeout(0.3);
        auto connect = [waiting, port] { waiting->connect(Host("127.0.0.1"), port); };
        EXPECT_EQ(thrownText([&] { wintest::finishesWithin(connect, 2s); }), "EOF");
    }
    // Ports are checked before any connection; a closed socket in select is an error.
    EXPECT_EQ(thrownText([] { sys::net::Socket().connect(Host("127.0.0.1"), 65616); }), "Failed to connect on 127.0.0.1:65616");
    sys::net::Socket closed;
    closed.close();
    EXPECT_EQ(thrownText([&] { sys::net::Socket::select(std::vector{&closed}, {}, {}, 0.0); }), "Select error 10038");
    // The resolver's text is the system's own, on one line.
    std::string text = native::resolver_message(WSAHOST_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    // IPv6 literals go through inet_pton and inet_ntop, looked up at run time.
    Host v6("::1");
    ASSERT_TRUE(v6.ipv6.has_value());
    EXPECT_EQ(v6.toString(), "::1");
}

TEST(WindowsTls, RootStoreAndARealPeer) {
    std::string port = environment("STREAMLAUNCH_TLS_PORT");
    std::string ca = environment("STREAMLAUNCH_TLS_CA");
    ASSERT_FALSE(port.empty() || ca.empty()) << "run through windows/run-tests.sh, which starts the TLS peer";

    // The system's "Root" store is where trust comes from.
    sys::ssl::Certificate::Ptr roots = sys::ssl::Certificate::loadDefaults();
    ASSERT_TRUE(roots);
    EXPECT_GT(native::cert_count(*roots->x_), 10);

    // The test CA is not in it, so the peer's certificate is not trusted...
    std::string url = "https://localhost:" + port + "/";
    sys::ssl::Socket::DEFAULT_CA = nullptr;
    EXPECT_EQ(requestText(url), kVerifyFailed);
    // ...until the CA is the trust anchor: then the handshake verifies and the page
    // arrives over TLS.
    sys::ssl::Socket s;
    s.caCert = sys::ssl::Certificate::loadFile(ca);
    s.connect(Host("localhost"), std::stoi(port));
    s.write("GET / HTTP/1.0\r\n\r\n");
    Bytes head = Bytes::alloc(15);
    for (int got = 0; got < head.length();) got += s.input->readBytes(head, got, head.length() - got);
    EXPECT_EQ(head.toString(), "HTTP/1.0 200 ok");
    s.close();
}
