#include "native/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <cstring>
#include <mutex>

#include "native/byte_range.h"
#include "native/posix/fd.h"
#include "runtime/Thrown.h"

extern char** environ;

namespace native {

using posix::Fd;
using posix::retryOnInterrupt;

namespace {

// Children whose handles are gone. Each is reaped, without blocking, at the first check
// after it has exited, so that a long-running caller does not collect zombies; one still
// running (a player) is neither waited for nor killed. Only our own pids are asked for:
// waiting for any child would steal the exit status of children the caller started.
class ReleasedChildren {
public:
    // Room for one more pid, made while a child's handle is made, so that letting the
    // handle go never needs memory: a destructor must not fail.
    void reserve() {
        std::lock_guard<std::mutex> lock(mutex_);
        pids_.reserve(pids_.size() + pending_ + 1);
        ++pending_;
    }
    // Gives back the room of a handle that never held a child, or fills it with its pid.
    void release(pid_t pid) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        --pending_;
        if (pid > 0) pids_.push_back(pid);
        reapExited();
    }
    void check() {
        std::lock_guard<std::mutex> lock(mutex_);
        reapExited();
    }

private:
    void reapExited() noexcept {
        std::erase_if(pids_, [](pid_t pid) {
            int status = 0;
            return retryOnInterrupt([&] { return ::waitpid(pid, &status, WNOHANG); }) != 0;
        });
    }
    std::mutex mutex_;
    std::vector<pid_t> pids_;  // capacity for every handle still pending
    std::size_t pending_ = 0;
};

// Never destroyed: a process held by a static object may be released at exit, after the
// statics made later than that object are gone.
ReleasedChildren& releasedChildren() {
    static union Storage {
        Storage() : children() {}
        ~Storage() {}
        ReleasedChildren children;
    } storage;
    return storage.children;
}

}  // namespace

struct ProcessHandle {
    ProcessHandle() { releasedChildren().reserve(); }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    // The pipes close first: a child that waits on them may exit at once.
    ~ProcessHandle() {
        out.reset();
        err.reset();
        in.reset();
        releasedChildren().release(pid);
    }

    Fd out;  // child's standard output, read end
    Fd err;  // child's standard error, read end; reset once it reached its end
    Fd in;   // child's standard input, write end; reset by vprocess_close_stdin
    pid_t pid = -1;
};

namespace {

struct Pipe {
    Fd read;
    Fd write;
};

// Both ends close-on-exec and above 2, so that dup2 onto 0, 1 or 2 in the child always
// makes a fresh descriptor (dup2 of a descriptor onto itself would keep close-on-exec).
Pipe makePipe() {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) throw runtime::ThrownMessage("Could not start process");
    Pipe p{Fd(fds[0]), Fd(fds[1])};
    for (Fd* end : {&p.read, &p.write}) {
        if (end->get() <= 2) {
            int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, 3);
            if (moved < 0) throw runtime::ThrownMessage("Could not start process");
            end->reset(moved);
        }
    }
    return p;
}

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    void dup2(int from, int to) { ::posix_spawn_file_actions_adddup2(&actions_, from, to); }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

ProcessHandle& checked(ProcessHandle* p) {
    if (p == nullptr) throw runtime::ThrownMessage("Invalid process");
    return *p;
}

// A failed read or wait is no end of the output: the caller must not take what it has
// read so far for all of it.
[[noreturn]] void throwReadFailure() {
    throw runtime::ThrownMessage(std::string("Could not read a child's output: ") + std::strerror(errno));
}

// The bytes read, 0 at the end of the pipe.
int readOnce(int fd, unsigned char* at, int len) {
    ssize_t n = retryOnInterrupt([&] { return ::read(fd, at, static_cast<std::size_t>(len)); });
    if (n < 0) throwReadFailure();
    return static_cast<int>(n);
}

// Passes one chunk of the child's standard error on to ours; at its end stops watching it.
void forwardStderr(ProcessHandle& h) {
    std::array<unsigned char, 16384> chunk;
    int n = readOnce(h.err.get(), chunk.data(), static_cast<int>(chunk.size()));
    if (n == 0) {
        h.err.reset();
        return;
    }
    for (int done = 0; done < n;) {
        ssize_t w = retryOnInterrupt([&] { return ::write(2, chunk.data() + done, n - done); });
        if (w <= 0) return;  // our own standard error is gone; the text has nowhere to go
        done += static_cast<int>(w);
    }
}

// At the end of standard output the child has usually exited: pass on what it left in its
// error pipe, without waiting for a child that keeps the pipe open.
void forwardPendingStderr(ProcessHandle& h) {
    while (h.err.valid()) {
        pollfd fd{h.err.get(), POLLIN, 0};
        if (retryOnInterrupt([&] { return ::poll(&fd, 1, 0); }) <= 0) return;
        forwardStderr(h);
    }
}

// A write into a child that has ended must fail, not end the caller with SIGPIPE, and
// leave the program's signal settings as they are: the signal is held back on this thread
// for the write, and the one it raised, if any, is taken before the mask is restored.
ssize_t writeWithoutSigpipe(int fd, const unsigned char* at, int len) {
    sigset_t pipe, saved, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &saved);
    ::sigpending(&pending);
    bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;  // not ours to take
    ssize_t n = retryOnInterrupt([&] { return ::write(fd, at, static_cast<std::size_t>(len)); });
    if (n < 0 && errno == EPIPE && !pendingBefore) {
        timespec none{0, 0};
        retryOnInterrupt([&] { return ::sigtimedwait(&pipe, nullptr, &none); });
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return n;
}

}  // namespace

ProcessRef vprocess_start(const std::string& cmd,
                          const std::optional<std::vector<std::string>>& args, int /*show*/) {
    std::vector<std::string> argv =
        args ? std::vector<std::string>{cmd} : std::vector<std::string>{"/bin/sh", "-c", cmd};
    if (args) argv.insert(argv.end(), args->begin(), args->end());
    std::vector<char*> argp;
    for (std::string& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);

    releasedChildren().check();
    Pipe out = makePipe();
    Pipe err = makePipe();
    Pipe in = makePipe();
    SpawnActions actions;
    actions.dup2(in.read.get(), 0);
    actions.dup2(out.write.get(), 1);
    actions.dup2(err.write.get(), 2);

    auto handle = std::make_shared<ProcessHandle>();
    if (::posix_spawnp(&handle->pid, argp[0], actions.get(), nullptr, argp.data(), environ) != 0) {
        throw runtime::ThrownMessage("Could not start process");
    }
    handle->out = std::move(out.read);
    handle->err = std::move(err.read);
    handle->in = std::move(in.write);
    return handle;  // the child's ends close here, as the pipes go out of scope
}

int vprocess_read_stdout(ProcessHandle* p, unsigned char* bytes, int size, int pos, int len) {
    if (!isRange(size, pos, len)) return 0;
    ProcessHandle& h = checked(p);
    if (!h.out.valid()) return 0;
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{h.out.get(), POLLIN, 0}, pollfd{h.err.get(), POLLIN, 0}};
        nfds_t count = h.err.valid() ? 2 : 1;
        if (retryOnInterrupt([&] { return ::poll(fds.data(), count, -1); }) < 0) throwReadFailure();
        if (count == 2 && fds[1].revents != 0) forwardStderr(h);
        if (fds[0].revents == 0) continue;
        int n = readOnce(h.out.get(), bytes + pos, len);
        if (n == 0) forwardPendingStderr(h);
        return n;
    }
}

int vprocess_read_stderr(ProcessHandle* p, unsigned char* bytes, int size, int pos, int len) {
    if (!isRange(size, pos, len)) return 0;
    ProcessHandle& h = checked(p);
    if (!h.err.valid()) return 0;
    return readOnce(h.err.get(), bytes + pos, len);
}

int vprocess_write_stdin(ProcessHandle* p, const unsigned char* bytes, int size, int pos, int len) {
    if (!isRange(size, pos, len)) return 0;
    ProcessHandle& h = checked(p);
    if (!h.in.valid()) return 0;
    ssize_t n = writeWithoutSigpipe(h.in.get(), bytes + pos, len);
    return n > 0 ? static_cast<int>(n) : 0;
}

void vprocess_close_stdin(ProcessHandle* p) { checked(p).in.reset(); }

}  // namespace native
