// Start-up: the arguments are stored for Sys::args, the platform and its console are set
// up, then Main::main runs inside the guard that reports what escapes it.
#include "launcher/Main.h"
#include "native/startup.h"
#include "runtime/Boot.h"
#include "sys/Sys.h"

int main(int argc, char** argv) {
    Sys::init(native::programArguments(argc, argv));
    native::bootPlatform();
    return runtime::runGuarded(&Main::main);
}
