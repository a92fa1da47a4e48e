#include "native/socket.h"


#include <cstring>

#include "native/socket_api.h"
#include "runtime/Thrown.h"

namespace native {

struct SocketHandle {
    SOCKET s = INVALID_SOCKET;
};

namespace {

// Windows Sockets is started once, before the first socket is made.
void startup() {
    static const bool started = [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 0), &data);
        return true;
    }();
    (void)started;
}

SocketHandle& checked(SocketHandle* s) {
    if (s == nullptr) throw runtime::ThrownMessage("Invalid socket handle");
    return *s;
}

void connectTo(SocketHandle* s, const sockaddr* addr, int size) {
    if (::connect(checked(s).s, addr, size) != 0) socket_throw_failure();
}

int sendOnce(SocketHandle& s, const void* data, int len) {
    return ::send(s.s, static_cast<const char*>(data), len, 0);
}

int recvOnce(SocketHandle& s, void* data, int len) { return ::recv(s.s, static_cast<char*>(data), len, 0); }

}  // namespace

SocketRef socket_new(bool datagram, bool ipv6) {
    startup();
    SOCKET s = ::socket(ipv6 ? AF_INET6 : AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return nullptr;
    auto handle = std::make_shared<SocketHandle>();
    handle->s = s;
    return handle;
}

// Marked closed, so that a second close cannot reach a socket that reuses the value.
void socket_close(SocketHandle* s) {
    SocketHandle& h = checked(s);
    if (h.s != INVALID_SOCKET) ::closesocket(h.s);
    h.s = INVALID_SOCKET;
}

void socket_connect(SocketHandle* s, std::uint32_t ip, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = ip;
    connectTo(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

void socket_connect_ipv6(SocketHandle* s, const Ipv6Address& ip, int port) {
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(static_cast<u_short>(port));
    std::memcpy(&addr.sin6_addr, ip.data(), ip.size());
    connectTo(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

void socket_set_timeout(SocketHandle* s, double seconds) {
    SocketHandle& h = checked(s);
    // Whole milliseconds; no limit (negative or NaN) is 0, which the system reads as none.
    auto wait = bounded_wait<std::chrono::milliseconds>(seconds);
    DWORD ms = wait ? static_cast<DWORD>(wait->count()) : 0;
    if (::setsockopt(h.s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), 4) == 0) {
        ::setsockopt(h.s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), 4);
    }
}

void socket_shutdown(SocketHandle* s, bool read, bool write) {
    SocketHandle& h = checked(s);
    if (!read && !write) return;
    ::shutdown(h.s, read && write ? SD_BOTH : read ? SD_RECEIVE : SD_SEND);
}

int socket_send_raw(SocketHandle* s, const unsigned char* data, std::size_t len) {
    return sendOnce(checked(s), data, static_cast<int>(len));
}

int socket_recv_raw(SocketHandle* s, unsigned char* data, std::size_t len) {
    return recvOnce(checked(s), data, static_cast<int>(len));
}

void socket_throw_failure() {
    int e = WSAGetLastError();
    throw runtime::ThrownMessage(e == WSAEWOULDBLOCK || e == WSAEALREADY ? "Blocking" : "EOF");
}

SocketFailure socket_last_failure() {
    int e = WSAGetLastError();
    if (e == WSAETIMEDOUT) return SocketFailure::TimedOut;
    if (e == WSAEWOULDBLOCK || e == WSAEALREADY) return SocketFailure::WouldBlock;
    return SocketFailure::Other;
}

SelectSets socket_select(const std::optional<std::vector<SocketHandle*>>& read,
                         const std::optional<std::vector<SocketHandle*>>& write,
                         const std::optional<std::vector<SocketHandle*>>& others,
                         std::optional<double> timeout) {
    const std::optional<std::vector<SocketHandle*>>* lists[] = {&read, &write, &others};
    fd_set sets[3];
    SOCKET largest = 0;
    for (int k = 0; k < 3; ++k) {
        FD_ZERO(&sets[k]);
        if (!*lists[k]) continue;
        if ((*lists[k])->size() > 64) throw runtime::ThrownMessage("Too many sockets in select");
        for (SocketHandle* s : **lists[k]) {
            SOCKET h = checked(s).s;
            if (h > largest) largest = h;
            if (!FD_ISSET(h, &sets[k]) && sets[k].fd_count < 64) FD_SET(h, &sets[k]);
        }
    }
    timeval limit{};
    timeval* wait = nullptr;
    if (auto us = timeout ? bounded_wait<std::chrono::microseconds>(*timeout) : std::nullopt) {
        limit.tv_sec = static_cast<long>(us->count() / 1000000);
        limit.tv_usec = static_cast<long>(us->count() % 1000000);
        wait = &limit;
    }
    if (::select(static_cast<int>(largest + 1), &sets[0], &sets[1], &sets[2], wait) == SOCKET_ERROR) {
        throw runtime::ThrownMessage("Select error " + std::to_string(errno));
    }
    SelectSets result;
    std::vector<bool>* outs[] = {&result.read, &result.write, &result.others};
    for (int k = 0; k < 3; ++k) {
        if (!*lists[k]) continue;
        for (SocketHandle* s : **lists[k]) outs[k]->push_back(FD_ISSET(s->s, &sets[k]) != 0);
    }
    return result;
}

std::string resolver_message(int code) {
    char text[1024] = {0};
    ::FormatMessageA(0x12FF, nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    return text;
}

std::uint32_t host_resolve(const std::string& name) {
    startup();
    unsigned long literal = ::inet_addr(name.c_str());
    if (literal != INADDR_NONE) return literal;
    hostent* found = ::gethostbyname(name.c_str());
    if (found == nullptr) throw runtime::ThrownMessage("Unknown host:" + name);
    std::uint32_t ip;
    std::memcpy(&ip, found->h_addr_list[0], sizeof ip);
    return ip;
}

}  // namespace native
