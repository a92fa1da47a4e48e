#pragma once
// The fault injector's protocol, shared by the programs it is linked into (through
// streamlaunch_add_fault_program in tests/CMakeLists.txt) and the torture driver that runs
// them. Nothing of it reaches the release program.
//
// A program linked with it counts every call of the wrapped platform functions and of the
// C++ allocation functions, and may make one of them misbehave once:
//
//   STREAMLAUNCH_FAULT="<function> <n> <mode> [errno]"
//       the n-th call (from 1) of <function> fails (mode "fail", with the function's usual
//       error or the given errno), returns a short count ("short": read, write, send and
//       recv move at most half the bytes asked for), or is interrupted ("eintr": fails
//       with EINTR without being made)
//   STREAMLAUNCH_FAULT_REPORT=<path>
//       at exit, the report is written there: one line "calls <function> <count>" per
//       function called, "injected" when the fault was made, and "open <fd>" for every
//       descriptor still open besides 0, 1, 2 and those the program inherited
//
// The functions: getaddrinfo, socket, connect, send, recv, setsockopt, shutdown, close,
// poll, ppoll (the sockets' select), pipe2, fcntl, posix_spawnp, read, write, stat,
// readlink, and "new" for the throwing and non-throwing forms of operator new and new[]
// (not the aligned ones, which nothing here asks for).
namespace testsupport {

inline constexpr const char* kFaultVariable = "STREAMLAUNCH_FAULT";
inline constexpr const char* kFaultReportVariable = "STREAMLAUNCH_FAULT_REPORT";

}  // namespace testsupport
