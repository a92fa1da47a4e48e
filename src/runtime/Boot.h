#pragma once
// The start-up sequence: store the arguments, set up the platform and console, then run
// the program's main inside a guard. A thrown value that escapes is reported on standard
// output as "Error : " + its text, and the program ends with -1 (status 255).

namespace runtime {

int boot(int argc, char** argv, void (*main)());

}  // namespace runtime
