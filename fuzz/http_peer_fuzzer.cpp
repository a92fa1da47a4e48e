// A request to a loopback peer, plain or TLS, that follows a script: what it answers, in
// which pieces, with which pauses, and how it ends. Properties: the request ends, with
// its body or an error, by the script's pauses + cnxTimeout + kMargin (every wait of the
// client ends at the peer's next move or after cnxTimeout, and the peer is slow only in
// its pauses; kMargin covers its handshake and sends), or a watchdog aborts; a delivered
// body is the one the peer framed (to the close: what it sent before ending).
//
// Input: byte 0 bit 0 TLS, bits 1-3 the answer: 0 stated length, 1 chunked in chunks of
// byte 1 + 1 bytes, 2 to the close, 3 a 304 stating a length, 4-7 the body sent raw as
// the whole answer (any body will do). Byte 2 the body's length, the body, then a byte a
// move: high 3 bits the Move, low 5 bits its argument a. After the last move the peer
// sends the rest and closes. The first move that is no pause or silence makes the peer
// take the connection up (the handshake, reading the request).
#include <mbedtls/net_sockets.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <future>
#include <thread>

#include "http/Http.h"
#include "native/tls_handles.h"
#include "support/ScriptedServer.h"
#include "sys/ssl/Socket.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kCnxTimeout = 0.05;
constexpr Clock::duration kMargin = 2s, kMaxPauses = 150ms;

// Send a + 1 bytes of the answer, or (a + 1) * 64; pause a * 2 ms (kMaxPauses in all);
// go silent, or half-close, until the request has ended; reset; close; send the rest.
enum Move { Send, SendMore, Pause, Silence, HalfClose, Reset, Close, SendRest };

std::chrono::milliseconds pauseOf(std::uint8_t move) { return std::chrono::milliseconds((move & 31) * 2); }

struct Script {
    bool tls = false;
    int answer = 0;
    std::string body, wire;  // wire: the whole answer as framed
    std::vector<std::uint8_t> moves;
};

Script parse(const std::uint8_t* data, std::size_t size) {
    Script s;
    if (size < 3) return s;
    s.tls = data[0] & 1;
    s.answer = (data[0] >> 1) & 7;
    std::size_t chunk = data[1] + 1u, length = std::min<std::size_t>(data[2], size - 3);
    s.body.assign(reinterpret_cast<const char*>(data + 3), length);
    s.moves.assign(data + 3 + length, data + size);
    const std::string ok = "HTTP/1.1 200 OK\r\n", stated = "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    if (s.answer == 0) s.wire = ok + stated + s.body;
    if (s.answer == 1) {
        s.wire = ok + "Transfer-Encoding: chunked\r\n\r\n";
        for (std::size_t at = 0; at < length; at += chunk) {
            char line[16];
            std::snprintf(line, sizeof line, "%zx\r\n", std::min(chunk, length - at));
            s.wire += line + s.body.substr(at, chunk) + "\r\n";
        }
        s.wire += "0\r\n\r\n";
    }
    if (s.answer == 2) s.wire = ok + "\r\n" + s.body;
    if (s.answer == 3) s.wire = "HTTP/1.1 304 Not Modified\r\n" + stated;
    if (s.answer > 3) s.wire = s.body;
    return s;
}

// The peer's TLS identity, with a certificate made for this run.
native::ConfigRef serverConfig() {
    static native::ConfigRef conf = [] {
        auto dir = std::filesystem::temp_directory_path() / ("http_peer_fuzzer." + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                           "-subj /CN=localhost -keyout " + (dir / "key").string() + " -out " + (dir / "crt").string() +
                           " 2>/dev/null";
        if (std::system(make.c_str()) != 0) std::abort();
        sys::ssl::Socket identity;
        identity.ownCert = sys::ssl::Certificate::loadFile((dir / "crt").string());
        identity.ownKey = sys::ssl::Key::loadFile((dir / "key").string());
        std::filesystem::remove_all(dir);
        return identity.buildSSLConfig(true);
    }();
    return conf;
}

// Plays the script on one connection; sent counts the bytes of the answer it sent.
class Peer {
public:
    Peer(int fd, const Script& script) : fd_(fd), script_(script) {
        int one = 1;  // each piece leaves at once
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }

    void play(const std::shared_future<void>& requestEnded) {
        Clock::duration paused{};
        for (std::uint8_t m : script_.moves) {
            switch (m >> 5) {
                case Send: sendUpTo(sent + (m & 31) + 1); break;
                case SendMore: sendUpTo(sent + ((m & 31) + 1) * 64); break;
                case Pause:
                    if ((paused += pauseOf(m)) <= kMaxPauses) std::this_thread::sleep_for(pauseOf(m));
                    break;
                case HalfClose:
                    if (open()) shutdown(fd_, SHUT_WR);
                    [[fallthrough]];
                case Silence: return requestEnded.wait();
                case Reset: {
                    linger reset{1, 0};
                    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                    return;
                }
                case Close: open(); return;
                default: return sendUpTo(script_.wire.size());
            }
        }
        sendUpTo(script_.wire.size());
    }
    std::size_t sent = 0;

private:
    // The handshake and the request head, once; false when the client went first.
    bool open() {
        if (opened_) return *opened_;
        opened_ = false;
        if (script_.tls) {
            mbedtls_ssl_setup(ssl_.get(), serverConfig()->get());
            mbedtls_ssl_set_bio(ssl_.get(), &net_, mbedtls_net_send, mbedtls_net_recv, nullptr);
            int r;
            do r = mbedtls_ssl_handshake(ssl_.get());
            while (r == MBEDTLS_ERR_SSL_WANT_READ || r == MBEDTLS_ERR_SSL_WANT_WRITE);
            if (r != 0) return false;
        }
        unsigned char buf[1024];
        for (std::string head; head.find("\r\n\r\n") == std::string::npos;) {
            int n = script_.tls ? mbedtls_ssl_read(ssl_.get(), buf, sizeof buf) : static_cast<int>(read(fd_, buf, sizeof buf));
            if (n <= 0) return false;
            head.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        }
        opened_ = true;
        return true;
    }
    void sendUpTo(std::size_t end) {
        end = std::min(end, script_.wire.size());
        if (!open() || end <= sent) return;
        std::string piece = script_.wire.substr(sent, end - sent);
        sent = end;
        if (!script_.tls) return testsupport::writeAll(fd_, piece);
        for (std::size_t at = 0; at < piece.size();) {
            int n = mbedtls_ssl_write(ssl_.get(), reinterpret_cast<const unsigned char*>(piece.data() + at), piece.size() - at);
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    }

    int fd_;
    const Script& script_;
    std::optional<bool> opened_;
    mbedtls_net_context net_{fd_};
    native::TlsContext ssl_;
};

// The end of the running request, 0 when none runs: past it the watchdog aborts.
std::atomic<Clock::rep> deadline{0};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::signal(SIGPIPE, SIG_IGN);  // the peer's TLS sends may meet a client that has gone
    sys::ssl::Socket::DEFAULT_VERIFY_CERT = false;
    serverConfig();
    std::thread([] {
        for (;; std::this_thread::sleep_for(50ms)) {
            Clock::rep due = deadline;
            if (due != 0 && Clock::now().time_since_epoch().count() > due) {
                std::fprintf(stderr, "a request still runs past its bound\n");
                std::abort();
            }
        }
    }).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script = parse(data, size);
    std::promise<void> ended;
    std::shared_future<void> requestEnded = ended.get_future().share();
    std::size_t sent = 0;
    testsupport::ScriptedServer server([&](int fd) {
        Peer peer(fd, script);
        peer.play(requestEnded);
        sent = peer.sent;
    });

    lumo::Http h((script.tls ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(server.port()) + "/");
    h.cnxTimeout = kCnxTimeout;
    std::optional<std::string> body;
    bool failed = false;
    h.onData = [&](const std::string& d) { body = d; };
    h.onError = [&](const std::string&) { failed = true; };
    Clock::duration pauses{};
    for (std::uint8_t m : script.moves) pauses += (m >> 5) == Pause ? pauseOf(m) : 0ms;
    auto bound = std::min(pauses, kMaxPauses) + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(kCnxTimeout)) + kMargin;
    deadline = (Clock::now() + bound).time_since_epoch().count();
    h.request(false);
    deadline = 0;
    ended.set_value();
    server.join();

    if (body.has_value() == failed) {
        std::fprintf(stderr, "the request ended with %s\n", failed ? "a body and an error" : "neither body nor error");
        std::abort();
    }
    std::size_t head = script.wire.size() - script.body.size();
    std::optional<std::string> framed = script.answer == 3   ? ""
                                        : script.answer == 2 ? script.body.substr(0, sent > head ? sent - head : 0)
                                        : script.answer < 2  ? std::optional<std::string>(script.body)
                                                             : body;
    if (body && body != framed) {
        std::fprintf(stderr, "a body of %zu bytes where the peer framed %zu\n", body->size(), framed->size());
        std::abort();
    }
    return 0;
}
