#include "sys/io/Process.h"

#include <algorithm>

#include "lumo/io/Eof.h"
#include "runtime/Thrown.h"

namespace sys::io {

namespace {

constexpr int kShowNormal = 1;

bool holdsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

native::ProcessRef start(const std::string& cmd, const std::optional<std::vector<std::string>>& args) {
    const runtime::ThrownMessage failure("Process creation failure : " + cmd);
    // Every platform hands the child texts that end at a NUL: it would run another command.
    if (holdsNul(cmd) || (args && std::ranges::any_of(*args, holdsNul))) throw failure;
    try {
        return native::vprocess_start(cmd, args, kShowNormal);
    } catch (const runtime::Thrown&) {
        throw failure;
    }
}

}  // namespace

Process::Process(const std::string& cmd, const std::optional<std::vector<std::string>>& args)
    : p(start(cmd, args)), stdOut(p, true), stdErr(p, false), stdIn(p) {}

namespace detail {

int Stdout::readByte() {
    readBytes(buf_, 0, 1);  // one byte, or it throws
    return buf_.get(0);
}

int Stdout::readBytes(lumo::io::Bytes& bytes, int pos, int len) {
    // A read that failed is no end of the output: its failure goes to the caller as thrown.
    int n = out_ ? native::vprocess_read_stdout(p_.get(), bytes.b(), bytes.length(), pos, len)
                 : native::vprocess_read_stderr(p_.get(), bytes.b(), bytes.length(), pos, len);
    if (n == 0) throw lumo::io::Eof();
    return n;
}

void Stdin::writeByte(int c) {
    buf_.set(0, c);
    writeBytes(buf_, 0, 1);
}

int Stdin::writeBytes(const lumo::io::Bytes& bytes, int pos, int len) {
    return native::vprocess_write_stdin(p_.get(), bytes.b(), bytes.length(), pos, len);
}

void Stdin::close() {
    Output::close();
    native::vprocess_close_stdin(p_.get());
}

}  // namespace detail

}  // namespace sys::io
