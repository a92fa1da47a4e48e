#pragma once
// The system's socket headers, for the code that both socket layers share, and the
// differences that code needs: the text of a resolver failure, the reading of a failed
// socket call, and the conversion of a wait in seconds that both timeouts use.
#include <chrono>
#include <optional>
#include <string>

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

// The system's message for a getaddrinfo failure code.
std::string resolver_message(int code);
// Throws the failure of the last socket call: "Blocking" when it would block or is
// already in progress, "EOF" for anything else (an expired timeout included).
[[noreturn]] void socket_throw_failure();

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
