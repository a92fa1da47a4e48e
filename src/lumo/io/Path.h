#pragma once
// Path helpers applied before the platform is asked about a path. Both separators count.
#include <string>

namespace lumo::io {

class Path {
public:
    // The path with a separator at its end: the kind it already uses last, "/" when it
    // has none; an empty path gives "/".
    static std::string addTrailingSlash(const std::string& path);
    static std::string removeTrailingSlashes(const std::string& path);
};

}  // namespace lumo::io
