// Start-up: the platform and its console are set up, then the arguments are stored for
// Sys::args and Main::main runs, both inside the guard that reports what escapes them.
#include "launcher/Main.h"
#include "native/startup.h"
#include "runtime/Boot.h"
#include "sys/Sys.h"

namespace {

int argCount = 0;
char** argValues = nullptr;

// Copying the arguments allocates: running out of memory there is reported like anywhere else.
void start() {
    Sys::init(native::programArguments(argCount, argValues));
    Main::main();
}

}  // namespace

int main(int argc, char** argv) {
    argCount = argc;
    argValues = argv;
    native::bootPlatform();
    return runtime::runGuarded(&start);
}
