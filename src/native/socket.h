#pragma once
// Native TCP sockets ("SocketWrapper") and host names. Failures are thrown as
// native::Failure: "Invalid socket handle" (InvalidHandle) for a null handle; for a
// failing connect, send or receive "Blocking" (Blocking) when the call would block or is
// already in progress, and "EOF" (EndOfStream) for everything else, the expiry of a
// timeout included.
//
// A closed handle keeps its place but no longer names a system socket, so a later call
// on it fails like a call on a dead socket ("EOF") and can never reach a descriptor that
// the system has since handed to another socket.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace native {

struct SocketHandle;
using SocketRef = std::shared_ptr<SocketHandle>;
using Ipv6Address = std::array<std::uint8_t, 16>;

// An IPv4 socket (socket_reopen gives IPv6); null when the system refuses one (reported by
// the first operation on it).
SocketRef socket_new(bool datagram);
// Releases the system socket once; later closes do nothing.
void socket_close(SocketHandle* s);
// Puts a new stream socket of the family, with the old one's timeout, in place of the
// system socket (closing it); "Invalid socket handle" when the system refuses one.
void socket_reopen(SocketHandle* s, bool ipv6);
// ip: the IPv4 octets in network order, as laid in memory. A port outside 1..65535 is
// refused before any connection as an unusable handle is ("Invalid port", InvalidHandle).
// The timeout bounds the wait for the peer; its expiry is "EOF".
void socket_connect(SocketHandle* s, std::uint32_t ip, int port);
void socket_connect_ipv6(SocketHandle* s, const Ipv6Address& ip, int port);
// One send or receive of bytes[pos, pos + len) of a buffer of size bytes; a range
// outside it moves nothing and counts 0.
int socket_send(SocketHandle* s, const unsigned char* bytes, int size, int pos, int len);
int socket_recv(SocketHandle* s, unsigned char* bytes, int size, int pos, int len);
void socket_send_char(SocketHandle* s, int c);
// Throws "Connection closed" when the peer has closed the connection.
int socket_recv_char(SocketHandle* s);
// Sends all of text, looping over partial sends.
void socket_write(SocketHandle* s, const std::string& text);
// Whole milliseconds, truncated; 0, negative or NaN means none, and values past 2^31 - 1
// milliseconds are clamped to it. Failures are ignored. It bounds a later connect too.
void socket_set_timeout(SocketHandle* s, double seconds);
// The timeout set last; 0 for none.
std::chrono::milliseconds socket_timeout(SocketHandle* s);
void socket_shutdown(SocketHandle* s, bool read, bool write);
// Sends each write at once rather than holding a small one until the peer acknowledges
// the last (TCP_NODELAY). Failures are ignored.
void socket_set_nodelay(SocketHandle* s);

// The raw transport under TLS: the system call's result unchanged (-1 on error, 0 when
// the peer closed), and how the last failure is to be read.
int socket_send_raw(SocketHandle* s, const unsigned char* data, std::size_t len);
int socket_recv_raw(SocketHandle* s, unsigned char* data, std::size_t len);
enum class SocketFailure { WouldBlock, TimedOut, Other };
SocketFailure socket_last_failure();

// Readiness of up to 64 sockets per set; timeout in seconds, truncated to microseconds:
// absent, negative or NaN = none (wait without limit, as NaN means for the socket
// timeouts), and values past 2^31 - 1 milliseconds are clamped to it.
// Throws "Too many sockets in select" and "Select error " + errno, a closed socket in a
// list included.
struct SelectSets {
    std::vector<bool> read, write, others;
};
SelectSets socket_select(const std::optional<std::vector<SocketHandle*>>& read,
                         const std::optional<std::vector<SocketHandle*>>& write,
                         const std::optional<std::vector<SocketHandle*>>& others,
                         std::optional<double> timeout);

// IPv4 address of a dotted literal or a name; throws "Unknown host:" + name.
std::uint32_t host_resolve(const std::string& name);
// IPv6 address of a literal or a name; absent when the resolver has no entry. Throws
// name + ":" + the resolver's message, or "Unkown ai_family".
std::optional<Ipv6Address> host_resolve_ipv6(const std::string& name);
std::string host_to_string(std::uint32_t ip);
std::optional<std::string> host_to_string_ipv6(const Ipv6Address& ip);

}  // namespace native
