#include "sys/FileSystem.h"

#include "lumo/io/Path.h"
#include "native/file_status.h"

namespace sys {

namespace {
std::string compatiblePath(const std::string& path) {
    if (path.size() >= 2 && path.size() <= 3 && path[1] == ':') {
        return lumo::io::Path::addTrailingSlash(path);
    }
    return lumo::io::Path::removeTrailingSlashes(path);
}
}  // namespace

bool FileSystem::exists(const std::string& path) {
    return native::sys_file_stat(compatiblePath(path)).ok;
}

bool FileSystem::isDirectory(const std::string& path) {
    return native::sys_file_stat(compatiblePath(path)).kind == native::FileKind::Dir;
}

}  // namespace sys
