#pragma once
// Folders, files and bounded waits for the Windows tests.
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace wintest {

// A fresh folder under the temporary folder whose name holds a blank and characters
// outside ASCII, so that every path handed to the system needs quoting and UTF-16; it
// is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // A path inside the folder, as UTF-8 text.
    std::string file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

std::string utf8(const std::filesystem::path& path);
std::filesystem::path pathOf(const std::string& utf8Text);
void writeFile(const std::filesystem::path& path, const std::string& text);
std::string readFile(const std::filesystem::path& path);
// Entries of a file of NUL-ended texts.
std::vector<std::string> nulSeparated(const std::string& text);
// The folder of the running test program, where the helper programs are built.
std::filesystem::path programFolder();

// Runs f on a thread of its own and waits at most `bound` for it; true when it finished.
// A call that does not finish is left running: the test has failed by then.
template <typename F>
bool finishesWithin(F f, std::chrono::milliseconds bound) {
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(f));
    std::future<void> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (done.wait_for(bound) != std::future_status::ready) return false;
    done.get();  // rethrows what f threw
    return true;
}

}  // namespace wintest
