#include "native/startup.h"

#include <csignal>
#include <cstdio>

namespace native {

void bootPlatform() {
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

std::vector<std::string> programArguments(int argc, const char* const* argv) { return {argv, argv + argc}; }

}  // namespace native
