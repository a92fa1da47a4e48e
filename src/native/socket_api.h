#pragma once
// The system's socket headers, for the code that both socket layers share, and the
// differences that code needs: the text of a resolver failure, the reading of a failed
// socket call.
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

}  // namespace native
