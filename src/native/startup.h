#pragma once
// Platform start-up, run once before any class is used: console streams become
// unbuffered (on Windows after attaching to the parent's console), and on POSIX a write
// to a closed pipe or socket reports an error instead of killing the process. Children
// inherit the ignored SIGPIPE, so a player whose output pipe closes with the launcher
// keeps running.

#include <string>
#include <vector>

namespace native {

void bootPlatform();

// The program's arguments, its name first, as 8-bit text: on Windows the
// UTF-16 command line in UTF-8 (the narrow vector holds the ANSI code page, which loses
// every character outside it); elsewhere the vector as given.
std::vector<std::string> programArguments(int argc, const char* const* argv);

}  // namespace native
