#pragma once
// Native child processes ("vprocess"): a child whose standard output, error and input are
// pipes held by the caller. The handle owns the caller's pipe ends; dropping the last
// reference closes them. A child is never killed, nor waited for in a way that blocks: on
// POSIX, once its handle is gone it is reaped as soon as it has exited (checked whenever a
// child is started or let go), so a long-running caller collects no zombies; on Windows
// closing the handles is all a finished child needs.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace native {

struct ProcessHandle;
using ProcessRef = std::shared_ptr<ProcessHandle>;

// Starts cmd with args, or through the shell when args is absent. `show` is the window
// state on Windows. Throws ThrownMessage "Could not start process".
ProcessRef vprocess_start(const std::string& cmd,
                          const std::optional<std::vector<std::string>>& args, int show);

// One blocking read or write of at most len bytes at pos. A read gives 0 at the end of
// the pipe and throws ThrownMessage "Could not read a child's output: " + the system's
// reason when it fails (a failed read is no end: what was read so far is not all); a
// write gives 0 when it fails. Both give 0 for a range outside bytes (then nothing is
// called). A null handle throws ThrownMessage "Invalid process" (after the range check).
// What the child writes to standard error while a stdout read waits is passed on to the
// launcher's own standard error, so that a chatty child cannot fill its error pipe and
// stall both sides. On Windows a thread does that from the first stdout read on, until
// the child closes its standard error; stderr reads then give 0.
// bytes is a buffer of size bytes, of which [pos, pos + len) is moved.
int vprocess_read_stdout(ProcessHandle* p, unsigned char* bytes, int size, int pos, int len);
int vprocess_read_stderr(ProcessHandle* p, unsigned char* bytes, int size, int pos, int len);
int vprocess_write_stdin(ProcessHandle* p, const unsigned char* bytes, int size, int pos, int len);
// Closes the caller's end of the child's standard input; later writes give 0.
void vprocess_close_stdin(ProcessHandle* p);

}  // namespace native
