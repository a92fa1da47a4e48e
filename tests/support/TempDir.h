#pragma once
// A fresh folder under /tmp, removed with everything in it when the owner goes.
#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes text to a file, optionally making it executable.
void writeFile(const std::string& path, const std::string& text, bool executable = false);
std::string readFile(const std::string& path);

}  // namespace testsupport
