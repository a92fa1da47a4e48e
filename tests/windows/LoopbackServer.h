#pragma once
// A real TCP peer on 127.0.0.1 for the Windows tests: it accepts one connection and runs a
// script on it in a thread of its own. The owner's destructor ends it: a script that waits
// for that (stopped()) returns, and the sockets close.
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace wintest {

class LoopbackServer {
public:
    using Script = std::function<void(SOCKET connection, LoopbackServer& server)>;
    explicit LoopbackServer(Script script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // Waits until the owner ends the server, at most `bound`.
    void waitForStop(std::chrono::milliseconds bound);

    // The request head (up to and including the blank line), at most 64 KiB.
    static std::string readHead(SOCKET s);
    static void writeAll(SOCKET s, const std::string& text);

private:
    int port_ = 0;  // before listener_, whose making sets it
    SOCKET listener_ = INVALID_SOCKET;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// A socket listening on 127.0.0.1 at a port the system picks; its port through `port`.
SOCKET listenLoopback(int& port, int backlog = 4);
// A loopback port that nothing listens on at the moment of asking.
int closedPort();

}  // namespace wintest
