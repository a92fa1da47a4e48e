// The fault injector (protocol in FaultInjector.h). The platform functions reach it through
// the linker's --wrap, so only calls made from the program's own objects and the static
// libraries linked into it are counted; the C library's calls among its own functions are
// not. It never allocates through operator new and never calls a wrapped function but
// through its __real_ name.
#include "support/FaultInjector.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace {

enum Function {
    kGetaddrinfo,
    kSocket,
    kConnect,
    kSend,
    kRecv,
    kSetsockopt,
    kShutdown,
    kClose,
    kPpoll,
    kPoll,
    kPipe2,
    kFcntl,
    kPosixSpawnp,
    kRead,
    kWrite,
    kStat,
    kReadlink,
    kNew,
    kFunctionCount
};

constexpr std::string_view kNames[kFunctionCount] = {
    "getaddrinfo",  "socket", "connect", "send", "recv",     "setsockopt",
    "shutdown",     "close",  "ppoll",   "poll", "pipe2",    "fcntl",
    "posix_spawnp", "read",   "write",   "stat", "readlink", "new"};

enum class Mode { None, Fail, Short, Eintr };

struct Fault {
    int function = -1;
    long call = 0;
    Mode mode = Mode::None;
    int error = 0;  // 0: the function's usual error
};

Fault parse(const char* text) {
    Fault f;
    if (text == nullptr) return f;
    char name[32] = {};
    char mode[16] = {};
    if (std::sscanf(text, "%31s %ld %15s %d", name, &f.call, mode, &f.error) < 3) return f;
    for (int i = 0; i < kFunctionCount; ++i) {
        if (kNames[i] == name) f.function = i;
    }
    std::string_view m = mode;
    f.mode = m == "fail"    ? Mode::Fail
             : m == "short" ? Mode::Short
             : m == "eintr" ? Mode::Eintr
                            : Mode::None;
    return f;
}

const Fault& fault() {
    static const Fault f = parse(std::getenv(testsupport::kFaultVariable));
    return f;
}

std::atomic<long> counts[kFunctionCount];
std::atomic<bool> injected{false};

// Counts the call; the mode it is to take (None for every call but the chosen one).
Mode take(Function function) {
    long n = counts[function].fetch_add(1) + 1;
    const Fault& f = fault();
    return f.function == function && f.call == n ? f.mode : Mode::None;
}

// A failure with errno set, as most of the wrapped calls report one: the chosen error,
// else `usual`; EINTR for an interruption. `real` makes the call when no fault is due.
template <typename Real>
auto respond(Mode mode, int usual, Real real) -> decltype(real()) {
    if (mode != Mode::Fail && mode != Mode::Eintr) return real();
    injected = true;
    errno = mode == Mode::Eintr ? EINTR : fault().error != 0 ? fault().error : usual;
    return -1;
}

template <typename Real>
auto misbehaving(Function function, int usual, Real real) -> decltype(real()) {
    return respond(take(function), usual, real);
}

// The same for a transfer of len bytes, which a short count cuts to half when it can.
template <typename Real>
ssize_t transferring(Function function, int usual, std::size_t len, Real real) {
    Mode mode = take(function);
    if (mode == Mode::Short && len >= 2) {
        injected = true;
        return real(len / 2);
    }
    return respond(mode, usual, [&] { return real(len); });
}

void* allocate(std::size_t size) noexcept {
    if (take(kNew) == Mode::Fail) {
        injected = true;
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size) {
    void* p = allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

// Descriptors open before the program ran (inherited ones) are not its own to close.
constexpr int kDescriptorsNoted = 1024;
bool inherited[kDescriptorsNoted];

template <typename Visit>
void forEachOpenDescriptor(Visit visit) {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != ::dirfd(dir)) visit(fd);
    }
    ::closedir(dir);
}

__attribute__((constructor)) void noteInheritedDescriptors() {
    forEachOpenDescriptor([](int fd) {
        if (fd < kDescriptorsNoted) inherited[fd] = true;
    });
}

// Written after main and the static destructors, so every descriptor the program still
// holds then was left open.
__attribute__((destructor)) void writeReport() {
    const char* path = std::getenv(testsupport::kFaultReportVariable);
    if (path == nullptr) return;
    std::FILE* out = std::fopen(path, "w");
    if (out == nullptr) return;
    for (int i = 0; i < kFunctionCount; ++i) {
        if (long n = counts[i].load(); n > 0) {
            std::fprintf(out, "calls %.*s %ld\n", static_cast<int>(kNames[i].size()),
                         kNames[i].data(), n);
        }
    }
    if (injected) std::fputs("injected\n", out);
    forEachOpenDescriptor([&](int fd) {
        bool before = fd < kDescriptorsNoted && inherited[fd];
        if (fd > 2 && !before && fd != ::fileno(out)) std::fprintf(out, "open %d\n", fd);
    });
    std::fclose(out);
}

}  // namespace

extern "C" {

int __real_getaddrinfo(const char*, const char*, const addrinfo*, addrinfo**);
int __real_socket(int, int, int);
int __real_connect(int, const sockaddr*, socklen_t);
ssize_t __real_send(int, const void*, std::size_t, int);
ssize_t __real_recv(int, void*, std::size_t, int);
int __real_setsockopt(int, int, int, const void*, socklen_t);
int __real_shutdown(int, int);
int __real_close(int);
int __real_ppoll(pollfd*, nfds_t, const timespec*, const sigset_t*);
int __real_poll(pollfd*, nfds_t, int);
int __real_pipe2(int*, int);
int __real_fcntl(int, int, ...);
int __real_posix_spawnp(pid_t*, const char*, const posix_spawn_file_actions_t*,
                        const posix_spawnattr_t*, char* const*, char* const*);
ssize_t __real_read(int, void*, std::size_t);
ssize_t __real_write(int, const void*, std::size_t);
int __real_stat(const char*, struct stat*);
ssize_t __real_readlink(const char*, char*, std::size_t);

int __wrap_getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                       addrinfo** found) {
    if (take(kGetaddrinfo) == Mode::Fail) {
        injected = true;
        return EAI_FAIL;
    }
    return __real_getaddrinfo(node, service, hints, found);
}

int __wrap_socket(int domain, int type, int protocol) {
    return misbehaving(kSocket, EMFILE, [&] { return __real_socket(domain, type, protocol); });
}

int __wrap_connect(int fd, const sockaddr* addr, socklen_t size) {
    return misbehaving(kConnect, ECONNREFUSED, [&] { return __real_connect(fd, addr, size); });
}

ssize_t __wrap_send(int fd, const void* data, std::size_t len, int flags) {
    return transferring(kSend, ECONNRESET, len,
                        [&](std::size_t n) { return __real_send(fd, data, n, flags); });
}

ssize_t __wrap_recv(int fd, void* data, std::size_t len, int flags) {
    return transferring(kRecv, ECONNRESET, len,
                        [&](std::size_t n) { return __real_recv(fd, data, n, flags); });
}

int __wrap_setsockopt(int fd, int level, int name, const void* value, socklen_t size) {
    return misbehaving(kSetsockopt, ENOMEM,
                       [&] { return __real_setsockopt(fd, level, name, value, size); });
}

int __wrap_shutdown(int fd, int how) {
    return misbehaving(kShutdown, ENOTCONN, [&] { return __real_shutdown(fd, how); });
}

// On Linux a close that fails has released the descriptor all the same.
int __wrap_close(int fd) {
    int rc = __real_close(fd);
    return misbehaving(kClose, EIO, [&] { return rc; });
}

int __wrap_ppoll(pollfd* fds, nfds_t count, const timespec* wait, const sigset_t* mask) {
    return misbehaving(kPpoll, ENOMEM, [&] { return __real_ppoll(fds, count, wait, mask); });
}

int __wrap_poll(pollfd* fds, nfds_t count, int wait) {
    return misbehaving(kPoll, ENOMEM, [&] { return __real_poll(fds, count, wait); });
}

int __wrap_pipe2(int* fds, int flags) {
    return misbehaving(kPipe2, EMFILE, [&] { return __real_pipe2(fds, flags); });
}

int __wrap_fcntl(int fd, int command, ...) {
    va_list rest;
    va_start(rest, command);
    void* argument = va_arg(rest, void*);
    va_end(rest);
    return misbehaving(kFcntl, EMFILE, [&] { return __real_fcntl(fd, command, argument); });
}

int __wrap_posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attributes, char* const* argv, char* const* envp) {
    if (take(kPosixSpawnp) == Mode::Fail) {
        injected = true;
        return fault().error != 0 ? fault().error : EAGAIN;
    }
    return __real_posix_spawnp(pid, file, actions, attributes, argv, envp);
}

ssize_t __wrap_read(int fd, void* data, std::size_t len) {
    return transferring(kRead, EIO, len, [&](std::size_t n) { return __real_read(fd, data, n); });
}

ssize_t __wrap_write(int fd, const void* data, std::size_t len) {
    return transferring(kWrite, EIO, len, [&](std::size_t n) { return __real_write(fd, data, n); });
}

int __wrap_stat(const char* path, struct stat* status) {
    return misbehaving(kStat, EACCES, [&] { return __real_stat(path, status); });
}

ssize_t __wrap_readlink(const char* path, char* buf, std::size_t size) {
    return misbehaving(kReadlink, EACCES, [&] { return __real_readlink(path, buf, size); });
}

}  // extern "C"

// Every replaceable form of allocation that pairs with free(), so the counts see them all.
void* operator new(std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
