#pragma once
// A fresh folder under the temporary folder, removed with everything in it when the owner
// goes. Paths are UTF-8 text on every platform.
#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

class TempDir {
public:
    // The Windows tests give a stem with a blank and characters outside ASCII, so that
    // every path handed to the system needs quoting and UTF-16.
    explicit TempDir(std::string_view stem = "streamlaunch-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// Writes text to a file, optionally making it executable.
void writeFile(const std::string& path, const std::string& text, bool executable = false);
std::string readFile(const std::string& path);

}  // namespace testsupport
