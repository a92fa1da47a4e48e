#include "support/TempDir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

namespace fs = std::filesystem;

// On Windows a path converts to and from UTF-8 only through char8_t.
fs::path pathOf(std::string_view utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string utf8(const fs::path& path) {
    std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

}  // namespace

TempDir::TempDir(std::string_view stem) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = fs::temp_directory_path() / pathOf(std::string(stem) + std::to_string(entropy()));
        if (fs::create_directory(path_)) {
            fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
            return;
        }
    }
    throw std::runtime_error("no fresh folder under " + utf8(fs::temp_directory_path()));
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const { return utf8(path_ / pathOf(name)); }

void writeFile(const std::string& path, const std::string& text, bool executable) {
    {
        std::ofstream out(pathOf(path), std::ios::binary | std::ios::trunc);
        out << text;
    }
    if (executable) {
        fs::permissions(pathOf(path), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(pathOf(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace testsupport
