#pragma once
// A child process whose standard output, error and input are pipes held by the caller.
// The child is started at construction and never killed, waited for or asked for its
// exit status; the pipe ends close when the Process and its streams are gone, and the
// child is then reaped once it has exited (native/process.h), never blocking the caller.
//
// The streams are stdOut, stdErr and stdIn: the C library may define stdout, stderr and
// stdin as macros, so those names cannot be members.
#include <optional>
#include <string>
#include <vector>

#include "lumo/io/Input.h"
#include "lumo/io/Output.h"
#include "native/process.h"

namespace sys::io {

namespace detail {

// Reads the child's standard output (out) or error. A read of 0 bytes (the end) throws
// lumo::io::Eof; a failed read throws the native message.
class Stdout : public lumo::io::Input {
public:
    Stdout(native::ProcessRef p, bool out) : p_(std::move(p)), out_(out), buf_(lumo::io::Bytes::alloc(1)) {}
    int readByte() override;
    int readBytes(lumo::io::Bytes& bytes, int pos, int len) override;

private:
    native::ProcessRef p_;
    bool out_;
    lumo::io::Bytes buf_;
};

// Writes the child's standard input: 0 when the write failed. close() ends the child's
// input.
class Stdin : public lumo::io::Output {
public:
    explicit Stdin(native::ProcessRef p) : p_(std::move(p)), buf_(lumo::io::Bytes::alloc(1)) {}
    void writeByte(int c) override;
    int writeBytes(const lumo::io::Bytes& bytes, int pos, int len) override;
    void close() override;

private:
    native::ProcessRef p_;
    lumo::io::Bytes buf_;
};

}  // namespace detail

class Process {
public:
    // Runs cmd with args (even an empty list), or through the shell when args is absent.
    // Throws "Process creation failure : " + cmd when the child cannot be started, or
    // when cmd or an argument holds NUL.
    explicit Process(const std::string& cmd,
                     const std::optional<std::vector<std::string>>& args = std::nullopt);

    native::ProcessRef p;
    detail::Stdout stdOut;
    detail::Stdout stdErr;
    detail::Stdin stdIn;
};

}  // namespace sys::io
