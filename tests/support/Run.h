#pragma once
// Runs a program to its end with a bound on the time it may take, and collects what it
// wrote. Used to test the built binary as a user runs it.
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct RunResult {
    int status = -1;       // exit status, or -1 when killed by a signal or the bound
    bool timedOut = false;
    std::string out;
    std::string err;
};

// argv[0] is the program; extraEnv entries ("NAME=value") are added to this environment.
RunResult run(const std::vector<std::string>& argv, std::chrono::milliseconds bound,
              const std::vector<std::string>& extraEnv = {});

// Waits up to `bound` for `done` to return true, checking every 20 ms.
template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds bound);

// A loopback port that nothing listens on at the moment of asking.
int freePort();
// True once something accepts TCP connections on the loopback port.
bool acceptsConnections(int port);
// Children of this process, with the state letter of each ('Z' for a zombie).
struct ChildProcess {
    int pid;
    char state;
};
std::vector<ChildProcess> childProcesses();
// Children of this process that have exited and were not reaped (zombies).
int zombieChildren();
// What fn returns when run in a thread with network and mount namespaces of its own (no
// query leaves the machine), each file bound over its target (such as /etc/hosts) first;
// "no private namespace" when they cannot be made.
std::string inPrivateNamespace(const std::vector<std::pair<std::string, std::string>>& binds,
                               const std::function<std::string()>& fn);

// A background process kept running for the length of a test (a local server); it is
// killed and reaped when the owner goes. At start it waits for the first line of its
// output, or, given a port, until that loopback port accepts connections.
class Daemon {
public:
    Daemon(const std::vector<std::string>& argv, std::chrono::milliseconds bound);
    Daemon(const std::vector<std::string>& argv, int port, std::chrono::milliseconds bound);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;
    const std::string& firstLine() const { return firstLine_; }

private:
    int pid_ = -1;
    std::string firstLine_;
};

}  // namespace testsupport

#include <thread>

template <typename Pred>
bool testsupport::waitFor(Pred done, std::chrono::milliseconds bound) {
    auto until = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
