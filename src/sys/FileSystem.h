#pragma once
// File-system queries. A drive path such as "C:" or "C:\" keeps (or gets) its trailing
// separator; any other path loses its trailing separators before the platform is asked.
#include <string>

namespace sys {

class FileSystem {
public:
    // True for any existing file, directory or device; false when the query fails.
    static bool exists(const std::string& path);
    static bool isDirectory(const std::string& path);
};

}  // namespace sys
