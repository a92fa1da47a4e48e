#include "native/socket.h"

#include <cstring>

#include "native/failure.h"
#include "native/socket_api.h"
#include "native/win32/procedure.h"
#include "runtime/Thrown.h"

namespace native {

struct SocketHandle {
    SOCKET s = INVALID_SOCKET;
    DWORD timeoutMs = 0;  // as set on the socket, for its connect and the socket replacing it

    SocketHandle() = default;
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    ~SocketHandle() {
        if (s != INVALID_SOCKET) ::closesocket(s);
    }
};

namespace {

SocketHandle& checked(SocketHandle* s) {
    if (s == nullptr) throw Failure(FailureKind::InvalidHandle, "Invalid socket handle");
    return *s;
}

// A socket that children do not inherit: they get their pipes, not our sockets.
SOCKET openSocket(bool datagram, bool ipv6) {
    SOCKET s = ::socket(ipv6 ? AF_INET6 : AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (s != INVALID_SOCKET) {
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    return s;
}

void applyTimeout(const SocketHandle& h) {
    const char* ms = reinterpret_cast<const char*>(&h.timeoutMs);
    if (::setsockopt(h.s, SOL_SOCKET, SO_SNDTIMEO, ms, 4) == 0) {
        ::setsockopt(h.s, SOL_SOCKET, SO_RCVTIMEO, ms, 4);
    }
}

// The error a connect in progress ended with, waiting at most the socket's timeout.
int awaitConnect(const SocketHandle& h) {
    fd_set done, failed;
    FD_ZERO(&done);
    FD_ZERO(&failed);
    FD_SET(h.s, &done);
    FD_SET(h.s, &failed);
    auto seconds = static_cast<long>(h.timeoutMs / 1000);
    timeval limit{seconds, static_cast<long>(h.timeoutMs % 1000) * 1000};
    int n = ::select(0, nullptr, &done, &failed, &limit);
    if (n == 0) return WSAETIMEDOUT;
    if (n == SOCKET_ERROR) return ::WSAGetLastError();
    int error = 0;
    int size = sizeof error;
    ::getsockopt(h.s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
    return FD_ISSET(h.s, &failed) && error == 0 ? WSAECONNREFUSED : error;
}

// Windows Sockets bounds no connect by the send timeout: with one set, the connect runs
// without blocking and its outcome is awaited that long.
void connectTo(SocketHandle* s, const sockaddr* addr, int size) {
    SocketHandle& h = checked(s);
    if (h.timeoutMs == 0) {
        if (::connect(h.s, addr, size) != 0) socket_throw_failure();
        return;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(h.s, FIONBIO, &nonBlocking);
    int error = ::connect(h.s, addr, size) == 0 ? 0 : ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) error = awaitConnect(h);
    nonBlocking = 0;
    ::ioctlsocket(h.s, FIONBIO, &nonBlocking);
    if (error != 0) {
        ::WSASetLastError(error);
        socket_throw_failure();
    }
}

// The calls take an int length: a larger request moves part of it, as any send may.
int clampedLength(std::size_t len) { return len < 0x7FFFFFFF ? static_cast<int>(len) : 0x7FFFFFFF; }

int sendOnce(SocketHandle& s, const void* data, std::size_t len) {
    return ::send(s.s, static_cast<const char*>(data), clampedLength(len), 0);
}

int recvOnce(SocketHandle& s, void* data, std::size_t len) {
    return ::recv(s.s, static_cast<char*>(data), clampedLength(len), 0);
}

}  // namespace

// Version word 2 (Windows Sockets 2.0); the result is not looked at: a failed start
// shows in the first call that needs it.
void sockets_startup() {
    static const bool started = [] {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 0), &data);
        return true;
    }();
    (void)started;
}

SocketRef socket_new(bool datagram) {
    sockets_startup();
    // The owner first: running out of memory after the socket is made would leak it.
    auto handle = std::make_shared<SocketHandle>();
    handle->s = openSocket(datagram, false);
    return handle->s == INVALID_SOCKET ? nullptr : handle;
}

void socket_reopen(SocketHandle* s, bool ipv6) {
    socket_close(s);
    s->s = openSocket(false, ipv6);
    if (s->s == INVALID_SOCKET) throw Failure(FailureKind::InvalidHandle, "Invalid socket handle");
    applyTimeout(*s);
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
    addr.sin_port = networkPort(port);
    addr.sin_addr.s_addr = ip;
    connectTo(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

void socket_connect_ipv6(SocketHandle* s, const Ipv6Address& ip, int port) {
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = networkPort(port);
    std::memcpy(&addr.sin6_addr, ip.data(), ip.size());
    connectTo(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

void socket_set_timeout(SocketHandle* s, double seconds) {
    SocketHandle& h = checked(s);
    // Whole milliseconds; no limit (negative or NaN) is 0, which the system reads as none.
    auto wait = bounded_wait<std::chrono::milliseconds>(seconds);
    h.timeoutMs = wait ? static_cast<DWORD>(wait->count()) : 0;
    applyTimeout(h);
}

std::chrono::milliseconds socket_timeout(SocketHandle* s) {
    return std::chrono::milliseconds(checked(s).timeoutMs);
}

void socket_shutdown(SocketHandle* s, bool read, bool write) {
    SocketHandle& h = checked(s);
    if (!read && !write) return;
    ::shutdown(h.s, read && write ? SD_BOTH : read ? SD_RECEIVE : SD_SEND);
}

void socket_set_nodelay(SocketHandle* s) {
    const BOOL on = TRUE;
    ::setsockopt(checked(s).s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

int socket_send_raw(SocketHandle* s, const unsigned char* data, std::size_t len) {
    return sendOnce(checked(s), data, len);
}

int socket_recv_raw(SocketHandle* s, unsigned char* data, std::size_t len) {
    return recvOnce(checked(s), data, len);
}

void socket_throw_failure() {
    int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK || e == WSAEALREADY) throw Failure(FailureKind::Blocking, "Blocking");
    throw Failure(FailureKind::EndOfStream, "EOF");
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
            // As the system would, rather than leave it to how select takes an invalid socket.
            if (h == INVALID_SOCKET) {
                throw runtime::ThrownMessage("Select error " + std::to_string(WSAENOTSOCK));
            }
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
        // Windows Sockets reports through its own error number; errno says nothing here.
        throw runtime::ThrownMessage("Select error " + std::to_string(::WSAGetLastError()));
    }
    SelectSets result;
    std::vector<bool>* outs[] = {&result.read, &result.write, &result.others};
    for (int k = 0; k < 3; ++k) {
        if (!*lists[k]) continue;
        for (SocketHandle* s : **lists[k]) outs[k]->push_back(FD_ISSET(s->s, &sets[k]) != 0);
    }
    return result;
}

// From the system's table, without inserts or line breaks (the width mask).
std::string resolver_message(int code) {
    char text[1024] = {0};
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    ::FormatMessageA(flags, nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    return text;
}

bool ipv6_from_text(const std::string& text, Ipv6Address& ip) {
    using InetPton = INT(WSAAPI*)(INT, PCSTR, PVOID);
    static const auto inetPton = win32::procedure<InetPton>("WS2_32.dll", "inet_pton");
    return inetPton != nullptr && inetPton(AF_INET6, text.c_str(), ip.data()) == 1;
}

std::optional<std::string> ipv6_to_text(const Ipv6Address& ip) {
    using InetNtop = PCSTR(WSAAPI*)(INT, const VOID*, PSTR, size_t);
    static const auto inetNtop = win32::procedure<InetNtop>("WS2_32.dll", "inet_ntop");
    char buf[100];
    if (inetNtop == nullptr || inetNtop(AF_INET6, ip.data(), buf, sizeof buf) == nullptr) return std::nullopt;
    return std::string(buf);
}

std::uint32_t host_resolve(const std::string& name) {
    sockets_startup();
    unsigned long literal = ::inet_addr(name.c_str());
    if (literal != INADDR_NONE) return literal;
    hostent* found = ::gethostbyname(name.c_str());
    if (found == nullptr) throw runtime::ThrownMessage("Unknown host:" + name);
    std::uint32_t ip;
    std::memcpy(&ip, found->h_addr_list[0], sizeof ip);
    return ip;
}

}  // namespace native
