#pragma once
// The system's socket headers, for the code that both socket layers share, and the
// differences that code needs: the text of a resolver failure, the reading of a failed
// socket call, and the conversion of a wait in seconds that both timeouts use.
#include <chrono>
#include <optional>
#include <string>

#include "native/failure.h"
#include "native/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace native {

// Starts the system's socket library once, before its first use (Windows Sockets).
void sockets_startup();
// The system's message for a getaddrinfo failure code.
std::string resolver_message(int code);
// inet_pton and inet_ntop for IPv6, which older Windows systems lack (there they are
// looked up at run time): false, or absent, when the text or the function is missing.
bool ipv6_from_text(const std::string& text, Ipv6Address& ip);
std::optional<std::string> ipv6_to_text(const Ipv6Address& ip);
// Throws the failure of the last socket call as a native::Failure: "Blocking" when it
// would block or is already in progress, "EOF" (EndOfStream) for anything else (an
// expired timeout included).
[[noreturn]] void socket_throw_failure();

// A port in network order. The system's 16 bits would wrap one outside 1..65535 into
// another port, so it is refused as an unusable address.
inline std::uint16_t networkPort(int port) {
    if (port < 1 || port > 65535) throw Failure(FailureKind::InvalidHandle, "Invalid port");
    return htons(static_cast<std::uint16_t>(port));
}

// A wait given in seconds, as both the socket timeouts and select take it: absent
// (no limit) when negative or NaN; otherwise truncated to whole Duration units and
// clamped to 2^31 - 1 milliseconds (about 24.8 days), the longest timeout the systems
// take, so that a huge value is never converted with an undefined result.
template <typename Duration>
std::optional<Duration> bounded_wait(double seconds) {
    if (!(seconds >= 0)) return std::nullopt;  // negative or NaN
    constexpr double perSecond = static_cast<double>(Duration::period::den) / Duration::period::num;
    constexpr double longest = 2147483647.0 * perSecond / 1000;
    double wanted = seconds * perSecond;  // infinite for a huge value: clamped below
    // No std::min: <windows.h> may define min as a macro.
    return Duration(static_cast<typename Duration::rep>(wanted < longest ? wanted : longest));
}

}  // namespace native
