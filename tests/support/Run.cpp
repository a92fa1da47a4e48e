#include "support/Run.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (auto& t : texts) p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

int spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnv, int outFd,
          int errFd) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    // Our own process group, so that the bound can end the whole tree.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    auto args = pointers(argv);
    auto envp = pointers(env);
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, std::chrono::milliseconds bound,
              const std::vector<std::string>& extraEnv) {
    std::array<int, 2> out{};
    std::array<int, 2> err{};
    if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = spawn(argv, extraEnv, out[1], err[1]);
    close(out[1]);
    close(err[1]);

    RunResult result;
    auto until = Clock::now() + bound;
    std::array<pollfd, 2> fds{pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0}};
    std::array<std::string*, 2> sinks{&result.out, &result.err};
    int open = 2;
    // Read until the launcher's own streams close: children it started got pipes of
    // their own, so they do not hold these open.
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    if (result.timedOut) kill(-pid, SIGKILL);
    int status = 0;
    // The streams are closed; the exit follows at once unless the bound was hit.
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = !result.timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

Daemon::Daemon(const std::vector<std::string>& argv, std::chrono::milliseconds bound) {
    std::array<int, 2> out{};
    if (pipe2(out.data(), O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = spawn(argv, {}, out[1], devnull);
    close(out[1]);
    close(devnull);
    auto until = Clock::now() + bound;
    pollfd fd{out[0], POLLIN, 0};
    while (firstLine_.find('\n') == std::string::npos && Clock::now() < until) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char c;
        if (read(out[0], &c, 1) != 1) break;
        firstLine_ += c;
    }
    close(out[0]);
    if (firstLine_.empty() || firstLine_.back() != '\n') {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("server did not start: " + argv[0]);
    }
    firstLine_.pop_back();
}

Daemon::Daemon(const std::vector<std::string>& argv, int port, std::chrono::milliseconds bound) {
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = spawn(argv, {}, devnull, devnull);
    close(devnull);
    if (!waitFor([&] { return acceptsConnections(port); }, bound)) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("server did not start: " + argv[0]);
    }
}

namespace {
sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return addr;
}
}  // namespace

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t size = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    close(fd);
    return ntohs(addr.sin_port);
}

bool acceptsConnections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

Daemon::~Daemon() {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

std::vector<ChildProcess> childProcesses() {
    std::vector<ChildProcess> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
        // After "pid (name)", where the name may hold anything: state, then the parent's pid.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        char state = 0;
        int parent = 0;
        rest >> state >> parent;
        if (parent == getpid()) children.push_back({std::stoi(entry.path().filename()), state});
    }
    return children;
}

int zombieChildren() {
    int count = 0;
    for (const ChildProcess& child : childProcesses()) count += child.state == 'Z' ? 1 : 0;
    return count;
}

std::string inPrivateNamespace(const std::vector<std::pair<std::string, std::string>>& binds,
                               const std::function<std::string()>& fn) {
    // Namespaces belong to a thread: they go with it.
    std::string text;
    std::thread([&] {
        bool own = unshare(CLONE_NEWNET | CLONE_NEWNS) == 0 &&
                   mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        for (const auto& [file, target] : binds) {
            own = own && mount(file.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
        }
        text = own ? fn() : "no private namespace";
    }).join();
    return text;
}

}  // namespace testsupport
