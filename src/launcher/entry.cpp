#include "launcher/Main.h"
#include "runtime/Boot.h"

int main(int argc, char** argv) { return runtime::boot(argc, argv, &Main::main); }
