#include "lumo/io/Path.h"

namespace lumo::io {

std::string Path::addTrailingSlash(const std::string& path) {
    if (path.empty()) return "/";
    auto slash = path.rfind('/');
    auto backslash = path.rfind('\\');
    long s = slash == std::string::npos ? -1 : static_cast<long>(slash);
    long b = backslash == std::string::npos ? -1 : static_cast<long>(backslash);
    char last = path.back();
    if (s < b) return last == '\\' ? path : path + '\\';
    return last == '/' ? path : path + '/';
}

std::string Path::removeTrailingSlashes(const std::string& path) {
    auto end = path.find_last_not_of("/\\");
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

}  // namespace lumo::io
