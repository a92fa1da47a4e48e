#pragma once
// Blocking TCP client socket with unbuffered byte streams. The streams translate native
// failures: "Blocking" becomes lumo::io::Error Blocked, an orderly close lumo::io::Eof,
// anything else Error Custom(text) (see each stream). close() releases the system socket
// and detaches both streams; the socket itself keeps its closed handle, on which later
// calls fail with "EOF".
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumo/io/Input.h"
#include "lumo/io/Output.h"
#include "native/socket.h"
#include "sys/net/Host.h"

namespace sys::net {

namespace detail {

class SocketInput : public lumo::io::Input {
public:
    explicit SocketInput(native::SocketRef s) : s_(std::move(s)) {}
    // Eof at the peer's close; Blocked; Custom(text) once detached.
    int readByte() override;
    // Eof when 0 bytes arrive (also for len 0); Custom("EOF") on a timeout; the string
    // "Invalid handle" once detached.
    int readBytes(lumo::io::Bytes& buf, int pos, int len) override;
    void close() override;
    void detach() { s_.reset(); }

private:
    native::SocketRef s_;
};

class SocketOutput : public lumo::io::Output {
public:
    explicit SocketOutput(native::SocketRef s) : s_(std::move(s)) {}
    // Values outside 0..255 are ignored; "Invalid handle" once detached.
    void writeByte(int c) override;
    // Eof when the peer is gone; Blocked; Custom(text) otherwise.
    int writeBytes(const lumo::io::Bytes& buf, int pos, int len) override;
    void close() override;
    void detach() { s_.reset(); }

private:
    native::SocketRef s_;
};

}  // namespace detail

class Socket {
public:
    Socket();
    virtual ~Socket() = default;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Makes the IPv4 handle if there is none, and new streams over it.
    virtual void init();
    virtual void close();
    // Sends all of content; throws the native "Blocking" or "EOF" as it is.
    virtual void write(const std::string& content);
    // IPv4, or IPv6 for a host that has only that. "Blocking" is no error; an unusable
    // handle or a port outside 1..65535 gives "Failed to connect on ADDRESS:PORT";
    // "Unresolved host" for a host with no address; "EOF" when the timeout runs out.
    virtual void connect(const Host& host, int port);
    void shutdown(bool read, bool write);
    // Seconds, truncated to whole milliseconds, for connecting, sending and receiving; 0,
    // negative or NaN = none; clamped to 2^31 - 1 milliseconds.
    void setTimeout(double timeout);

    struct Selected {
        std::optional<std::vector<Socket*>> read, write, others;
    };
    // The sockets of each list that are ready; absent lists stay absent. At most 64 per
    // list, none of them closed ("Select error"); timeout in seconds, absent, negative or
    // NaN waits without limit (NaN means none, as for setTimeout); clamped to 2^31 - 1
    // milliseconds.
    static Selected select(const std::optional<std::vector<Socket*>>& read,
                           const std::optional<std::vector<Socket*>>& write,
                           const std::optional<std::vector<Socket*>>& others,
                           std::optional<double> timeout);

    native::SocketRef s_;
    std::unique_ptr<lumo::io::Input> input;
    std::unique_ptr<lumo::io::Output> output;

protected:
    // For subclasses that make their handle and streams themselves.
    struct NoInit {};
    explicit Socket(NoInit) {}
    // Detaches the plain streams, if that is what input and output are.
    void detachStreams();
    // Whether the host is reached over IPv6: it has no IPv4 address (and is not named
    // 0.0.0.0). "Unresolved host" when it has neither.
    static bool ipv6Only(const Host& host);
};

}  // namespace sys::net
