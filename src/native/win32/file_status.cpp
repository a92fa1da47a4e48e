#include "native/file_status.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace native {

FileStatus sys_file_stat(const std::string& path) {
    struct _stat64 st {};
    FileStatus status;
    if (path.find('\0') != std::string::npos) return status;
    if (::_stat64(path.c_str(), &st) != 0) return status;
    status.ok = true;
    if ((st.st_mode & _S_IFMT) == _S_IFREG) {
        status.kind = FileKind::File;
    } else if ((st.st_mode & _S_IFMT) == _S_IFDIR) {
        status.kind = FileKind::Dir;
    } else if ((st.st_mode & _S_IFMT) == _S_IFCHR) {
        status.kind = FileKind::Char;
    }
    return status;
}

}  // namespace native
