#include "native/command_line.h"

namespace native {

std::string escapeArgument(const std::string& arg) {
    std::string out;
    out.reserve(arg.size() + 2);
    std::size_t backslashes = 0;  // seen but not yet written
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            out.append(2 * backslashes + 1, '\\');
            out += '"';
            backslashes = 0;
        } else {
            out.append(backslashes, '\\');
            out += c;
            backslashes = 0;
        }
    }
    // Doubled so that the closing quote that follows is not escaped.
    out.append(2 * backslashes, '\\');
    return out;
}

std::string buildCommandLine(const std::string& cmd,
                             const std::optional<std::vector<std::string>>& args,
                             const std::string& shell) {
    if (!args) return "\"" + shell + "\" /C \"" + cmd + "\"";
    std::string line = "\"" + cmd + "\"";
    for (const std::string& a : *args) line += " \"" + escapeArgument(a) + "\"";
    return line;
}

}  // namespace native
