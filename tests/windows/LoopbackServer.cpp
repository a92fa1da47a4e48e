#include "LoopbackServer.h"

#include <ws2tcpip.h>

#include <stdexcept>

namespace wintest {

namespace {

void startSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
}

}  // namespace

SOCKET listenLoopback(int& port, int backlog) {
    startSockets();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof addr;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
        ::listen(s, backlog) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        throw std::runtime_error("no loopback listener: " + std::to_string(::WSAGetLastError()));
    }
    port = ntohs(addr.sin_port);
    return s;
}

LoopbackServer::LoopbackServer(Script script) : listener_(listenLoopback(port_)) {
    thread_ = std::thread([this, script = std::move(script)] {
        SOCKET c = ::accept(listener_, nullptr, nullptr);
        if (c == INVALID_SOCKET) return;  // ended before anyone came
        script(c, *this);
        ::closesocket(c);
    });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    ::closesocket(listener_);  // ends a wait in accept
    thread_.join();
}

void LoopbackServer::waitForStop(std::chrono::milliseconds bound) {
    auto until = std::chrono::steady_clock::now() + bound;
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string LoopbackServer::readHead(SOCKET s) {
    std::string head;
    char c;
    while (head.size() < 65536 && head.find("\r\n\r\n") == std::string::npos && ::recv(s, &c, 1, 0) == 1) {
        head += c;
    }
    return head;
}

void LoopbackServer::writeAll(SOCKET s, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        int n = ::send(s, text.data() + done, static_cast<int>(text.size() - done), 0);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

int closedPort() {
    int port = 0;
    ::closesocket(listenLoopback(port));
    return port;
}

}  // namespace wintest
