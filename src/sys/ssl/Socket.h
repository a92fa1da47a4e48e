#pragma once
// TLS client socket over the plain TCP socket, with the same interface. Peer verification
// follows verifyCert: true required, false none, absent optional (verified, but a failure
// does not stop the handshake). The trust anchors are caCert, by default the system's.
// close() sends no close-notify: the TCP connection simply ends.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "native/tls.h"
#include "sys/net/Socket.h"
#include "sys/ssl/Certificate.h"
#include "sys/ssl/Key.h"

namespace sys::ssl {

class Socket;

namespace detail {

// Every failure of an attached input is Eof from readByte. readBytes: Eof when the peer
// closed the TCP connection, Blocked on a timeout, Custom("ssl_recv") on a TLS failure
// (close-notify included) or a bad range, "Invalid handle" once detached.
class SocketInput : public lumo::io::Input {
public:
    explicit SocketInput(Socket* s) : s_(s) {}
    int readByte() override;
    int readBytes(lumo::io::Bytes& buf, int pos, int len) override;
    // Closes the whole socket.
    void close() override;
    void detach() { s_ = nullptr; }

private:
    Socket* s_;
};

// writeByte: Custom("invalid char") outside 0..255, "Invalid handle" once detached.
// writeBytes: one library write; a TLS failure comes back as its negative code.
class SocketOutput : public lumo::io::Output {
public:
    explicit SocketOutput(Socket* s) : s_(s) {}
    void writeByte(int c) override;
    int writeBytes(const lumo::io::Bytes& buf, int pos, int len) override;
    void close() override;
    void detach() { s_ = nullptr; }

private:
    Socket* s_;
};

}  // namespace detail

class Socket : public net::Socket {
public:
    // An alternative identity for the server role, chosen by the requested server name.
    struct SniContext {
        std::function<bool(const std::string&)> match;
        Certificate::Ptr cert;
        Key::Ptr key;
    };

    static std::optional<bool> DEFAULT_VERIFY_CERT;  // true
    static Certificate::Ptr DEFAULT_CA;              // loaded by the first socket that finds one

    Socket();
    ~Socket() override;

    void init() override;
    void close() override;
    // Sends all of content; throws "Blocking" or "ssl network error" as they are.
    void write(const std::string& content) override;
    // TCP to host.ip and port (IPv6 for a host that has only that), then the handshake,
    // each wait bounded by a timeout set before. hostname, when not set before, becomes
    // host.host. An unusable handle or a port outside 1..65535 gives "Failed to connect
    // on NAME:PORT"; "Unresolved host" for a host with no address.
    void connect(const net::Host& host, int port) override;
    // Completes the handshake once; a transport that would block or timed out throws
    // lumo::io::Error Blocked, anything else its text. Throws on a socket never connected.
    void handshake();
    // A new configuration from the fields as they are now; it owns all it uses (the
    // name selection holds copies of altSNIContexts, ownCert and ownKey), so it may
    // outlive this socket and later builds.
    native::ConfigRef buildSSLConfig(bool server);

    native::ConfigRef conf;
    native::ContextRef ssl;
    std::optional<bool> verifyCert;
    Certificate::Ptr caCert;
    std::optional<std::string> hostname;
    Certificate::Ptr ownCert;
    Key::Ptr ownKey;
    std::optional<std::vector<SniContext>> altSNIContexts;
    // The name selection of the last configuration built; that configuration shares it.
    std::shared_ptr<native::SniFunction> sniCallback;
    bool handshakeDone = false;
};

}  // namespace sys::ssl
