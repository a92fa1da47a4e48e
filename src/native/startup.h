#pragma once
// Platform start-up, run once before any class is used: console streams become
// unbuffered (on Windows after attaching to the parent's console), and on POSIX a write
// to a closed pipe or socket reports an error instead of killing the process. Children
// inherit the ignored SIGPIPE, so a player whose output pipe closes with the launcher
// keeps running.

namespace native {

void bootPlatform();

}  // namespace native
