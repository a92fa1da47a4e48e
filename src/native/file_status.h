#pragma once
#include <optional>
#include <string>

namespace native {

enum class FileKind { File, Dir, Char };

struct FileStatus {
    bool ok = false;                // the status query succeeded
    std::optional<FileKind> kind;   // absent for other kinds of entry
};

// sys_file_stat: the platform's status query on the 8-bit path, passed unchanged.
FileStatus sys_file_stat(const std::string& path);

}  // namespace native
