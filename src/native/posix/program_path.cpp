#include "native/program_path.h"

#include <unistd.h>

#include <vector>

namespace native {

std::optional<std::string> programPath() {
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
        // Possibly cut to the buffer: readlink does not say, so try a larger one.
        buf.resize(buf.size() * 2);
    }
}

}  // namespace native
