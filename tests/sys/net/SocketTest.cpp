// The TCP socket against scripted loopback servers.
#include "support/ThrownText.h"
#include "sys/net/Socket.h"

#include <gtest/gtest.h>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "lumo/io/Eof.h"
#include "lumo/io/Error.h"
#include "native/posix/fd.h"
#include "support/Run.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

using testsupport::thrownText;

using lumo::io::Bytes;
using sys::net::Host;
using sys::net::Socket;
using testsupport::ScriptedServer;
using namespace std::chrono_literals;

namespace {


// A server that answers after the client has finished sending: it echoes with a prefix.
ScriptedServer echoServer(const std::string& address = "127.0.0.1") {
    return ScriptedServer(
        [](int fd) {
            std::string request = testsupport::readUpTo(fd, 1 << 20);
            testsupport::writeAll(fd, "pong:" + request);
        },
        address);
}

}  // namespace

TEST(Socket, ConnectWriteHalfCloseAndReadToTheEnd) {
    ScriptedServer server = echoServer();
    Socket s;
    s.connect(Host("127.0.0.1"), server.port());
    s.write("ping ");
    Bytes more = Bytes::ofString("and more");
    s.output->writeFullBytes(more, 0, more.length());
    s.output->writeByte(256);  // ignored, as are negatives
    s.output->writeByte(-1);
    s.shutdown(false, false);  // shuts nothing: '!' still goes
    s.output->writeByte('!');
    s.shutdown(false, true);
    EXPECT_EQ(thrownText([&] { s.output->writeByte('x'); }), "Custom(EOF)");
    EXPECT_EQ(s.input->readAll().toString(), "pong:ping and more!");
    Bytes buf = Bytes::alloc(4);
    EXPECT_THROW(s.input->readBytes(buf, 0, 4), lumo::io::Eof);
    EXPECT_THROW(s.input->readByte(), lumo::io::Eof);
    s.close();
}

TEST(Socket, EveryLoopbackLiteralReachesTheServerListeningThere) {
    // Each server listens on its address alone: reaching it proves the address was used.
    for (const std::string address : {"::1", "127.0.0.2"}) {
        SCOPED_TRACE(address);
        ScriptedServer server = echoServer(address);
        Host host(address);
        EXPECT_EQ(host.ipv6.has_value(), address == "::1");
        EXPECT_EQ(host.ip == 0, address == "::1");
        EXPECT_EQ(host.toString(), address);
        Socket s;
        s.connect(host, server.port());
        s.write("hi");
        s.shutdown(false, true);
        EXPECT_EQ(s.input->readAll().toString(), "pong:hi");
    }
}

TEST(Socket, ReceiveTimeoutTurnsIntoTheStreamErrors) {
    ScriptedServer server([](int fd) { testsupport::readUpTo(fd, 1); });  // silent until closed
    Socket s;
    s.connect(Host("127.0.0.1"), server.port());
    s.setTimeout(0.2);
    Bytes buf = Bytes::alloc(8);
    EXPECT_EQ(thrownText([&] { s.input->readBytes(buf, 0, 8); }), "Custom(EOF)");
    EXPECT_EQ(thrownText([&] { s.input->readByte(); }), "Eof");
    // len 0 receives nothing, which counts as the end.
    EXPECT_EQ(thrownText([&] { s.input->readBytes(buf, 0, 0); }), "Eof");
    s.close();
}

TEST(Socket, TimeoutsAreWholeMillisecondsSoHalfAMillisecondIsNone) {
    ScriptedServer server([](int fd) {
        std::this_thread::sleep_for(300ms);
        testsupport::writeAll(fd, "late");
    });
    Socket s;
    s.connect(Host("127.0.0.1"), server.port());
    s.setTimeout(0.0005);
    EXPECT_EQ(s.input->readByte(), 'l');
}

TEST(Socket, ConnectFailures) {
    Socket unusable;
    unusable.s_.reset();  // as when the system refused a socket
    EXPECT_EQ(thrownText([&] { unusable.connect(Host("127.0.0.1"), 80); }), "Failed to connect on 127.0.0.1:80");

    Host nowhere("127.0.0.1");
    nowhere.host = "somewhere";
    nowhere.ip = 0;
    Socket s;
    EXPECT_EQ(thrownText([&] { s.connect(nowhere, 80); }), "Unresolved host");

    int closedPort = testsupport::freePort();
    EXPECT_EQ(thrownText([&] { Socket().connect(Host("127.0.0.1"), closedPort); }), "EOF");
    for (int port : {0, 65616, -1}) {  // 16 bits would wrap 65616 into port 80
        EXPECT_EQ(thrownText([&] { Socket().connect(Host("127.0.0.1"), port); }), "Failed to connect on 127.0.0.1:" + std::to_string(port));
    }

    // A listener whose queue is full: the system drops further connections' first packet.
    native::posix::Fd listener(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof addr;
    bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), size);
    listen(listener.get(), 0);
    getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &size);
    Socket queued, waiting;
    queued.connect(Host("127.0.0.1"), ntohs(addr.sin_port));
    waiting.setTimeout(0.3);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(thrownText([&] { waiting.connect(Host("127.0.0.1"), ntohs(addr.sin_port)); }), "EOF");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1300ms);
}

TEST(Host, LiteralsNeedNoLookup) {
    Host v4("127.0.0.1");
    EXPECT_EQ(v4.host, "127.0.0.1");
    EXPECT_EQ(v4.toString(), "127.0.0.1");
    EXPECT_FALSE(v4.ipv6.has_value());
    const auto* octets = reinterpret_cast<const unsigned char*>(&v4.ip);
    EXPECT_EQ(octets[0], 127);
    EXPECT_EQ(octets[3], 1);
    EXPECT_EQ(Host("0.0.0.0").ip, 0);
    EXPECT_EQ(Host("localhost").toString(), "127.0.0.1");
}

TEST(Host, UnresolvableAndIpv6OnlyNames) {
    // With a hosts file of its own, which gives one name an IPv6 address alone.
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("hosts"), "2001:db8::1 ipv6only.test\n");
    std::string text = testsupport::inPrivateNamespace({{dir.file("hosts"), "/etc/hosts"}}, [] {
        return Host("ipv6only.test").toString().value_or("") + " " + thrownText([] { Host("no-such-host.invalid"); });
    });
    ASSERT_TRUE(text.starts_with("2001:db8::1 ")) << text;
    text.erase(0, 12);
    EXPECT_TRUE(text.starts_with("no-such-host.invalid:")) << text;
    EXPECT_GT(text.size(), std::string("no-such-host.invalid:").size()) << text;
    EXPECT_EQ(text.find("Unknown host"), std::string::npos) << text;
}

TEST(Socket, SelectReportsReadiness) {
    ScriptedServer talker([](int fd) {
        testsupport::writeAll(fd, "x");
        testsupport::readUpTo(fd, 1);
    });
    ScriptedServer silent([](int fd) { testsupport::readUpTo(fd, 1); });
    Socket a;
    Socket b;
    a.connect(Host("127.0.0.1"), talker.port());
    b.connect(Host("127.0.0.1"), silent.port());
    auto ready = Socket::select(std::vector<Socket*>{&b, &a}, std::nullopt, std::vector<Socket*>{}, 5.0);
    ASSERT_TRUE(ready.read.has_value());
    EXPECT_EQ(*ready.read, std::vector<Socket*>{&a});
    EXPECT_FALSE(ready.write.has_value());
    EXPECT_TRUE(ready.others->empty());
    auto writable = Socket::select(std::nullopt, std::vector<Socket*>{&a, &b, &a}, std::nullopt, 0.0);
    EXPECT_EQ(*writable.write, (std::vector<Socket*>{&a, &b, &a}));
    auto none = Socket::select(std::vector<Socket*>{&b}, std::nullopt, std::nullopt, 0.05);
    EXPECT_TRUE(none.read->empty());
    // Shut for reading, each is at its end at once (no timeout needed); a null one is refused.
    b.shutdown(true, false);
    a.shutdown(true, true);
    auto ended = Socket::select(std::vector<Socket*>{&b, &a}, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(*ended.read, (std::vector<Socket*>{&b, &a}));
    auto withNull = [] { Socket::select(std::vector<Socket*>{nullptr}, std::nullopt, std::nullopt, 0.0); };
    EXPECT_EQ(thrownText(withNull), "Invalid socket handle");

    std::vector<Socket*> many(65, &a);
    EXPECT_EQ(thrownText([&] { Socket::select(many, std::nullopt, std::nullopt, 0.0); }), "Too many sockets in select");
    a.close();
    // A closed socket is an error, with a timeout or without (where it was waited on for ever).
    for (std::optional<double> timeout : {std::optional<double>(0.05), std::optional<double>()}) {
        ASSERT_EQ(thrownText([&] { Socket::select(std::vector<Socket*>{&b, &a}, {}, {}, timeout); }), "Select error 9");
    }
    b.close();
}

// A huge timeout is clamped (to 2^31 - 1 ms) rather than converted with an undefined
// result; NaN, like a negative timeout, means no limit, as it does for setTimeout.
// Either way a socket that is ready comes back at once.
TEST(Socket, SelectTakesHugeAndNaNTimeouts) {
    ScriptedServer talker([](int fd) {
        testsupport::writeAll(fd, "x");
        testsupport::readUpTo(fd, 1);
    });
    Socket a;
    a.connect(Host("127.0.0.1"), talker.port());
    for (double timeout : {1e300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                           -1e300}) {
        auto started = std::chrono::steady_clock::now();
        Socket::Selected ready;
        auto selectA = [&] { ready = Socket::select(std::vector<Socket*>{&a}, std::nullopt, std::nullopt, timeout); };
        EXPECT_EQ(thrownText(selectA), "nothing thrown") << timeout;
        EXPECT_EQ(ready.read, std::optional<std::vector<Socket*>>(std::vector<Socket*>{&a})) << timeout;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << timeout;
    }
    a.close();
}

TEST(Socket, CloseDetachesStreamsAndNeverReachesAReusedDescriptor) {
    ScriptedServer first([](int fd) { testsupport::readUpTo(fd, 1); });
    Socket s;
    s.connect(Host("127.0.0.1"), first.port());
    s.close();
    Bytes buf = Bytes::alloc(4);
    EXPECT_EQ(thrownText([&] { s.input->readBytes(buf, 0, 4); }), "Invalid handle");
    EXPECT_EQ(thrownText([&] { s.output->writeByte(1); }), "Invalid handle");
    EXPECT_EQ(thrownText([&] { s.input->readByte(); }), "Custom(Invalid socket handle)");
    EXPECT_EQ(thrownText([&] { s.output->writeBytes(buf, 0, 4); }), "Custom(Invalid socket handle)");
    EXPECT_EQ(thrownText([&] { s.write("x"); }), "EOF");

    // The system hands the freed descriptor to the next socket; closing the old one
    // again must leave the new one alone.
    ScriptedServer second = echoServer();
    Socket fresh;
    s.close();
    s.input->close();
    fresh.connect(Host("127.0.0.1"), second.port());
    s.close();
    fresh.write("still here");
    fresh.shutdown(false, true);
    EXPECT_EQ(fresh.input->readAll().toString(), "pong:still here");
}
