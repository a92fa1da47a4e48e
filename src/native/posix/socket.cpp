#include "native/socket.h"

#include <netinet/tcp.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "native/failure.h"
#include "native/posix/fd.h"
#include "native/socket_api.h"
#include "runtime/Thrown.h"

namespace native {

using posix::retryOnInterrupt;

struct SocketHandle {
    posix::Fd fd;
    timeval timeout{};  // as set on the socket, for the one that replaces it
};

namespace {

SocketHandle& checked(SocketHandle* s) {
    if (s == nullptr) throw Failure(FailureKind::InvalidHandle, "Invalid socket handle");
    return *s;
}

int openSocket(bool datagram, bool ipv6) {
    int type = (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC;
    return ::socket(ipv6 ? AF_INET6 : AF_INET, type, 0);
}

void applyTimeout(const SocketHandle& h) {
    if (::setsockopt(h.fd.get(), SOL_SOCKET, SO_SNDTIMEO, &h.timeout, sizeof h.timeout) == 0) {
        ::setsockopt(h.fd.get(), SOL_SOCKET, SO_RCVTIMEO, &h.timeout, sizeof h.timeout);
    }
}

// The send timeout bounds a blocking connect too (socket(7)).
void connectTo(SocketHandle* s, const sockaddr* addr, socklen_t size) {
    int fd = checked(s).fd.get();
    if (retryOnInterrupt([&] { return ::connect(fd, addr, size); }) != 0) {
        // Interrupted connects go on in the background; EALREADY or EISCONN follows.
        if (errno == EISCONN) return;
        // On a blocking socket these come only once the send timeout has run out.
        if (errno == EINPROGRESS || errno == EALREADY) errno = ETIMEDOUT;
        socket_throw_failure();
    }
}

int sendOnce(SocketHandle& s, const void* data, std::size_t len) {
    return static_cast<int>(retryOnInterrupt([&] { return ::send(s.fd.get(), data, len, MSG_NOSIGNAL); }));
}

int recvOnce(SocketHandle& s, void* data, std::size_t len) {
    return static_cast<int>(retryOnInterrupt([&] { return ::recv(s.fd.get(), data, len, 0); }));
}

}  // namespace

SocketRef socket_new(bool datagram) {
    // The owner first: running out of memory after the socket is made would leak it.
    auto s = std::make_shared<SocketHandle>();
    s->fd.reset(openSocket(datagram, false));
    return s->fd.valid() ? s : nullptr;
}

void socket_reopen(SocketHandle* s, bool ipv6) {
    SocketHandle& h = checked(s);
    h.fd.reset(openSocket(false, ipv6));
    if (!h.fd.valid()) throw Failure(FailureKind::InvalidHandle, "Invalid socket handle");
    applyTimeout(h);
}

void socket_close(SocketHandle* s) { checked(s).fd.reset(); }

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
    long ms = wait ? static_cast<long>(wait->count()) : 0;
    h.timeout = timeval{ms / 1000, (ms % 1000) * 1000};
    applyTimeout(h);
}

std::chrono::milliseconds socket_timeout(SocketHandle* s) {
    const timeval& t = checked(s).timeout;
    return std::chrono::milliseconds(t.tv_sec * 1000 + t.tv_usec / 1000);
}

void socket_shutdown(SocketHandle* s, bool read, bool write) {
    SocketHandle& h = checked(s);
    if (!read && !write) return;
    ::shutdown(h.fd.get(), read && write ? SHUT_RDWR : read ? SHUT_RD : SHUT_WR);
}

void socket_set_nodelay(SocketHandle* s) {
    const int on = 1;
    ::setsockopt(checked(s).fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int socket_send_raw(SocketHandle* s, const unsigned char* data, std::size_t len) {
    return sendOnce(checked(s), data, len);
}

int socket_recv_raw(SocketHandle* s, unsigned char* data, std::size_t len) {
    return recvOnce(checked(s), data, len);
}

// A blocking socket reports an expired timeout as EAGAIN, so only an operation still in
// progress counts as would-block here.
void socket_throw_failure() {
    bool blocking = errno == EINPROGRESS || errno == EALREADY;
    if (blocking) throw Failure(FailureKind::Blocking, "Blocking");
    throw Failure(FailureKind::EndOfStream, "EOF");
}

SocketFailure socket_last_failure() {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return SocketFailure::TimedOut;
    if (errno == EINPROGRESS || errno == EALREADY) return SocketFailure::WouldBlock;
    return SocketFailure::Other;
}

SelectSets socket_select(const std::optional<std::vector<SocketHandle*>>& read,
                         const std::optional<std::vector<SocketHandle*>>& write,
                         const std::optional<std::vector<SocketHandle*>>& others,
                         std::optional<double> timeout) {
    // poll rather than select: descriptors above FD_SETSIZE would overflow an fd_set.
    std::vector<pollfd> fds;
    const std::optional<std::vector<SocketHandle*>>* sets[] = {&read, &write, &others};
    const short events[] = {POLLIN, POLLOUT, POLLPRI};
    for (int k = 0; k < 3; ++k) {
        if (!*sets[k]) continue;
        if ((*sets[k])->size() > 64) throw runtime::ThrownMessage("Too many sockets in select");
        for (SocketHandle* s : **sets[k]) {
            // poll would skip a closed socket and, without a timeout, wait for ever.
            if (!checked(s).fd.valid()) {
                throw runtime::ThrownMessage("Select error " + std::to_string(EBADF));
            }
            fds.push_back(pollfd{s->fd.get(), events[k], 0});
        }
    }
    timespec limit{};
    timespec* wait = nullptr;
    if (auto us = timeout ? bounded_wait<std::chrono::microseconds>(*timeout) : std::nullopt) {
        limit.tv_sec = static_cast<time_t>(us->count() / 1000000);
        limit.tv_nsec = static_cast<long>(us->count() % 1000000) * 1000;
        wait = &limit;
    }
    if (::ppoll(fds.data(), fds.size(), wait, nullptr) < 0) {
        throw runtime::ThrownMessage("Select error " + std::to_string(errno));
    }
    SelectSets result;
    std::vector<bool>* outs[] = {&result.read, &result.write, &result.others};
    const short ready[] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI};
    std::size_t at = 0;
    for (int k = 0; k < 3; ++k) {
        if (!*sets[k]) continue;
        for (std::size_t i = 0; i < (*sets[k])->size(); ++i, ++at) {
            outs[k]->push_back((fds[at].revents & ready[k]) != 0);
        }
    }
    return result;
}

void sockets_startup() {}

std::string resolver_message(int code) { return ::gai_strerror(code); }

bool ipv6_from_text(const std::string& text, Ipv6Address& ip) {
    return ::inet_pton(AF_INET6, text.c_str(), ip.data()) == 1;
}

std::optional<std::string> ipv6_to_text(const Ipv6Address& ip) {
    char buf[100];
    if (::inet_ntop(AF_INET6, ip.data(), buf, sizeof buf) == nullptr) return std::nullopt;
    return std::string(buf);
}

std::uint32_t host_resolve(const std::string& name) {
    in_addr_t literal = ::inet_addr(name.c_str());
    if (literal != INADDR_NONE) return literal;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        throw runtime::ThrownMessage("Unknown host:" + name);
    }
    std::uint32_t ip = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return ip;
}

}  // namespace native
