#pragma once
// The start-up guard: runs the program's main. A thrown value that escapes is reported on
// standard output as "Error : " + its text; the result is the exit code, 0 after a normal
// return and -1 (status 255) after an error.

namespace runtime {

int runGuarded(void (*main)());

}  // namespace runtime
