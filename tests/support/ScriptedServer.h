#pragma once
// A loopback TCP server that accepts one connection (or a given number, one after the
// other) and runs a script on each in a thread of its own: for replies that real servers
// never send, and for closing at exact points. Every wait is bounded: accept gives up
// after 10 s, and each descriptor gets 10 s send and receive timeouts.
#include <functional>
#include <string>
#include <thread>

namespace testsupport {

class ScriptedServer {
public:
    // On the given loopback address (an IPv4 or IPv6 literal: 127.0.0.2 or ::1 too), on a
    // free port unless one is named. Throws std::runtime_error when it cannot listen (a
    // port in use, or one kept for root).
    explicit ScriptedServer(std::function<void(int fd)> script,
                            const std::string& address = "127.0.0.1", int port = 0, int connections = 1);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    // Waits for the script to end.
    void join();

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Reads until the peer closes or `count` bytes arrived (bounded by the fd's timeout).
std::string readUpTo(int fd, std::size_t count);
void writeAll(int fd, const std::string& data);

}  // namespace testsupport
