#include "native/process.h"

#include <windows.h>

#include <cstdlib>

#include "lumo/io/Bytes.h"
#include "native/command_line.h"
#include "native/win32/text.h"
#include "runtime/Thrown.h"

namespace native {

namespace {

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(Handle&& other) noexcept : h_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (valid()) ::CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
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
    ::CreatePipe(&r, &w, &sa, 0);
    return Pipe{Handle(r), Handle(w)};
}

// The launcher's end, made non-inheritable so that the child gets only its own ends.
Handle keepPrivately(Handle& inheritable) {
    HANDLE self = ::GetCurrentProcess();
    HANDLE dup = nullptr;
    ::DuplicateHandle(self, inheritable.get(), self, &dup, 0, FALSE, DUPLICATE_SAME_ACCESS);
    inheritable.reset();
    return Handle(dup);
}

}  // namespace

struct ProcessHandle {
    Handle out;
    Handle err;
    Handle in;
    Handle process;
    Handle thread;
    DWORD pid = 0;
    DWORD tid = 0;
};

namespace {

ProcessHandle& checked(ProcessHandle* p) {
    if (p == nullptr) throw runtime::ThrownMessage("Invalid process");
    return *p;
}

int readPipe(ProcessHandle* p, Handle ProcessHandle::*end, lumo::io::Bytes& bytes, int pos,
             int len) {
    if (!bytes.isRange(pos, len)) return 0;
    ProcessHandle& h = checked(p);
    DWORD n = 0;
    if (!::ReadFile((h.*end).get(), bytes.b() + pos, static_cast<DWORD>(len), &n, nullptr)) {
        return 0;
    }
    return static_cast<int>(n);
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
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                          &pi)) {
        throw runtime::ThrownMessage("Could not start process");
    }
    handle->process.reset(pi.hProcess);
    handle->thread.reset(pi.hThread);
    handle->pid = pi.dwProcessId;
    handle->tid = pi.dwThreadId;
    return handle;  // the child's pipe ends close here
}

int vprocess_read_stdout(ProcessHandle* p, lumo::io::Bytes& bytes, int pos, int len) {
    return readPipe(p, &ProcessHandle::out, bytes, pos, len);
}

int vprocess_read_stderr(ProcessHandle* p, lumo::io::Bytes& bytes, int pos, int len) {
    return readPipe(p, &ProcessHandle::err, bytes, pos, len);
}

int vprocess_write_stdin(ProcessHandle* p, const lumo::io::Bytes& bytes, int pos, int len) {
    if (!bytes.isRange(pos, len)) return 0;
    ProcessHandle& h = checked(p);
    if (!h.in.valid()) return 0;
    DWORD n = 0;
    if (!::WriteFile(h.in.get(), bytes.b() + pos, static_cast<DWORD>(len), &n, nullptr)) return 0;
    return static_cast<int>(n);
}

void vprocess_close_stdin(ProcessHandle* p) { checked(p).in.reset(); }

}  // namespace native
