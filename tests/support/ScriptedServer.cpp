#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace testsupport {

ScriptedServer::ScriptedServer(std::function<void(int fd)> script, const std::string& address,
                               int port, int connections) {
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    bool ipv6 = inet_pton(AF_INET, address.c_str(), &v4->sin_addr) != 1;
    if (ipv6 && inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1) {
        throw std::runtime_error("not an address literal: " + address);
    }
    if (ipv6) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    } else {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
    }
    socklen_t size = ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    listener_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto* addr = reinterpret_cast<sockaddr*>(&storage);
    int reuse = 1;  // a fixed port may still be in TIME_WAIT from an earlier run
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (bind(listener_, addr, size) != 0 || listen(listener_, 4) != 0 || getsockname(listener_, addr, &size) != 0) {
        close(listener_);
        throw std::runtime_error("cannot listen on " + address + " port " + std::to_string(port));
    }
    port_ = ntohs(ipv6 ? v6->sin6_port : v4->sin_port);
    thread_ = std::thread([this, connections, script = std::move(script)] {
        for (int i = 0; i < connections; ++i) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 10000) != 1) return;
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            timeval bound{10, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
            script(fd);
            close(fd);
        }
    });
}

void ScriptedServer::join() {
    if (thread_.joinable()) thread_.join();
}

ScriptedServer::~ScriptedServer() {
    join();
    close(listener_);
}

std::string readUpTo(int fd, std::size_t count) {
    std::string got;
    char buf[4096];
    while (got.size() < count) {
        ssize_t n = read(fd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

void writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace testsupport
