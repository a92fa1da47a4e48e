#pragma once
// Building a Windows command line: pure text functions, compiled and tested everywhere.
#include <optional>
#include <string>
#include <vector>

namespace native {

// Quotes an argument so that the platform's conventional splitting (CommandLineToArgvW)
// gives it back unchanged; the surrounding quotes are not included.
std::string escapeArgument(const std::string& arg);

// With args: "cmd" "a1" "a2"...; without: "shell" /C "cmd". cmd is inserted unchanged.
std::string buildCommandLine(const std::string& cmd,
                             const std::optional<std::vector<std::string>>& args,
                             const std::string& shell);

}  // namespace native
