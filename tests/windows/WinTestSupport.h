#pragma once
// Recorded arguments, the helper programs' folder and bounded waits for the Windows tests.
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace wintest {

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
