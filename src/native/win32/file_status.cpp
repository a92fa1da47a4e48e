#include "native/file_status.h"

#include <sys/stat.h>
#include <sys/types.h>

#include "native/win32/text.h"

namespace native {

// Paths are UTF-8, as the program's own path is: the narrow C library calls would read
// them in the ANSI code page and miss every folder with a name outside ASCII.
FileStatus sys_file_stat(const std::string& path) {
    struct _stat64 st {};
    FileStatus status;
    if (path.find('\0') != std::string::npos) return status;
    if (::_wstat64(utf8ToWide(path).c_str(), &st) != 0) return status;
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
