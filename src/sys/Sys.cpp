#include "sys/Sys.h"

#include <cstdio>

#include "native/platform.h"
#include "native/program_path.h"
#include "util/Std.h"

namespace {
std::vector<std::string>& storedArgs() {
    static std::vector<std::string> args;
    return args;
}
}  // namespace

void Sys::init(std::vector<std::string> argv) { storedArgs() = std::move(argv); }

std::vector<std::string> Sys::args() {
    const auto& all = storedArgs();
    if (all.size() <= 1) return {};
    return {all.begin() + 1, all.end()};
}

std::optional<std::string> Sys::programPath() { return native::programPath(); }

void Sys::println(const std::string& text) {
    // One write of the whole line, NUL bytes included.
    std::string line = text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void Sys::println(const runtime::Dynamic& v) { println(Std::string(v)); }

std::string Sys::systemName() { return native::kSystemName; }
