#include "native/process.h"

#include <windows.h>

#include <array>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

#include "native/byte_range.h"
#include "native/command_line.h"
#include "native/win32/handle.h"
#include "native/win32/text.h"
#include "runtime/Thrown.h"

namespace native {

using win32::Handle;

namespace {

// How long the end of a child's standard output waits for the rest of its standard error
// to be passed on; a child that exited has closed both, one that lives on is not waited for.
constexpr DWORD kStderrGraceMs = 1000;

// The child's standard error, passed on to ours by a thread of its own, so that a child
// that writes much to it never stalls on a full pipe while we read its standard output.
// Shared with that thread, which ends at the end of the pipe (or with the process).
struct StderrDrain {
    Handle err;
    Handle finished{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    void run() {
        std::array<char, 16384> chunk;
        HANDLE ours = ::GetStdHandle(STD_ERROR_HANDLE);
        DWORD n = 0;
        while (::ReadFile(err.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr) && n > 0) {
            for (DWORD done = 0, w = 0; done < n; done += w) {
                // Without a standard error of our own the text has nowhere to go: drop it.
                if (!::WriteFile(ours, chunk.data() + done, n - done, &w, nullptr) || w == 0) break;
            }
        }
        err.reset();
        ::SetEvent(finished.get());
    }
};

struct Pipe {
    Handle read;
    Handle write;
};

Pipe makeInheritablePipe() {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!::CreatePipe(&r, &w, &sa, 0)) throw runtime::ThrownMessage("Could not start process");
    return Pipe{Handle(r), Handle(w)};
}

// The launcher's end, made non-inheritable so that the child gets only its own ends.
Handle keepPrivately(Handle& inheritable) {
    HANDLE self = ::GetCurrentProcess();
    HANDLE dup = nullptr;
    if (!::DuplicateHandle(self, inheritable.get(), self, &dup, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        throw runtime::ThrownMessage("Could not start process");
    }
    inheritable.reset();
    return Handle(dup);
}

}  // namespace

struct ProcessHandle {
    Handle out;
    Handle err;  // moved to the drain once standard output is first read
    Handle in;
    Handle process;
    Handle thread;
    DWORD pid = 0;
    DWORD tid = 0;
    std::shared_ptr<StderrDrain> drain;
};

namespace {

ProcessHandle& checked(ProcessHandle* p) {
    if (p == nullptr) throw runtime::ThrownMessage("Invalid process");
    return *p;
}

// The bytes read, 0 at the end of the pipe (the child closed its end: a broken pipe). Any
// other failure is no end of the output, and is thrown.
int readOnce(const Handle& end, unsigned char* bytes, int len) {
    if (!end.valid()) return 0;
    DWORD n = 0;
    if (!::ReadFile(end.get(), bytes, static_cast<DWORD>(len), &n, nullptr)) {
        DWORD error = ::GetLastError();
        if (error == ERROR_BROKEN_PIPE) return 0;
        throw runtime::ThrownMessage("Could not read a child's output: error " + std::to_string(error));
    }
    return static_cast<int>(n);
}

void startDrain(ProcessHandle& h) {
    if (h.drain || !h.err.valid()) return;
    auto drain = std::make_shared<StderrDrain>();
    drain->err = std::move(h.err);
    try {
        std::thread([drain] { drain->run(); }).detach();
    } catch (const std::system_error&) {
        h.err = std::move(drain->err);  // no thread to spare: the pipe stays the caller's
        return;
    }
    h.drain = std::move(drain);
}

}  // namespace

ProcessRef vprocess_start(const std::string& cmd,
                          const std::optional<std::vector<std::string>>& args, int show) {
    const char* comspec = std::getenv("COMSPEC");
    std::wstring line = utf8ToWide(buildCommandLine(cmd, args, comspec ? comspec : "cmd.exe"));

    Pipe out = makeInheritablePipe();
    Pipe err = makeInheritablePipe();
    Pipe in = makeInheritablePipe();
    auto handle = std::make_shared<ProcessHandle>();
    handle->out = keepPrivately(out.read);
    handle->err = keepPrivately(err.read);
    handle->in = keepPrivately(in.write);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(show);
    si.hStdOutput = out.write.get();
    si.hStdError = err.write.get();
    si.hStdInput = in.read.get();

    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        throw runtime::ThrownMessage("Could not start process");
    }
    handle->process.reset(pi.hProcess);
    handle->thread.reset(pi.hThread);
    handle->pid = pi.dwProcessId;
    handle->tid = pi.dwThreadId;
    return handle;  // the child's pipe ends close here
}

int vprocess_read_stdout(ProcessHandle* p, unsigned char* bytes, int size, int pos, int len) {
    if (!isRange(size, pos, len)) return 0;
    ProcessHandle& h = checked(p);
    startDrain(h);
    int n = readOnce(h.out, bytes + pos, len);
    if (n == 0 && h.drain) ::WaitForSingleObject(h.drain->finished.get(), kStderrGraceMs);
    return n;
}

int vprocess_read_stderr(ProcessHandle* p, unsigned char* bytes, int size, int pos, int len) {
    if (!isRange(size, pos, len)) return 0;
    return readOnce(checked(p).err, bytes + pos, len);
}

int vprocess_write_stdin(ProcessHandle* p, const unsigned char* bytes, int size, int pos, int len) {
    if (!isRange(size, pos, len)) return 0;
    ProcessHandle& h = checked(p);
    if (!h.in.valid()) return 0;
    DWORD n = 0;
    if (!::WriteFile(h.in.get(), bytes + pos, static_cast<DWORD>(len), &n, nullptr)) return 0;
    return static_cast<int>(n);
}

void vprocess_close_stdin(ProcessHandle* p) { checked(p).in.reset(); }

}  // namespace native
