#pragma once
// The system's socket headers, for the code that both socket layers share, and the one
// difference that code needs: the text of a resolver failure.
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

}  // namespace native
