// The Windows command line as a round trip: arguments of any bytes but NUL, built into one
// line and split again by the platform's documented rules, come back exactly. The input's
// NUL bytes separate the arguments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "native/command_line.h"

namespace {

using Args = std::vector<std::string>;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// CommandLineToArgvW: the program name runs to the next quote when it starts with one,
// else to the first blank, and takes no escapes. Each later argument runs to a blank
// outside quotes; 2n backslashes before a quote give n backslashes and the quote opens or
// closes quoting, 2n+1 give n and a literal quote; inside quotes, "" gives a literal
// quote; other backslashes are themselves.
Args splitCommandLine(const std::string& line) {
    Args args;
    std::size_t i = 0;
    std::string program;
    if (i < line.size() && line[i] == '"') {
        for (++i; i < line.size() && line[i] != '"'; ++i) program += line[i];
        if (i < line.size()) ++i;
    } else {
        for (; i < line.size() && !isBlank(line[i]); ++i) program += line[i];
    }
    args.push_back(program);
    for (;;) {
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i == line.size()) return args;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !isBlank(line[i]))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && backslashes == 0) arg += line[i++];
            }
        }
        args.push_back(arg);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Args arguments;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    arguments.push_back(current);

    Args expected{"player.exe"};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    if (splitCommandLine(native::buildCommandLine("player.exe", arguments, "cmd.exe")) != expected)
        std::abort();
    return 0;
}
