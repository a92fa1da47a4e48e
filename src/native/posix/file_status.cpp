#include "native/file_status.h"

#include <sys/stat.h>

namespace native {

FileStatus sys_file_stat(const std::string& path) {
    struct stat st {};
    FileStatus status;
    // The platform would read only up to a NUL; such a path names nothing.
    if (path.find('\0') != std::string::npos) return status;
    if (::stat(path.c_str(), &st) != 0) return status;
    status.ok = true;
    if (S_ISREG(st.st_mode)) {
        status.kind = FileKind::File;
    } else if (S_ISDIR(st.st_mode)) {
        status.kind = FileKind::Dir;
    } else if (S_ISCHR(st.st_mode)) {
        status.kind = FileKind::Char;
    }
    return status;
}

}  // namespace native
