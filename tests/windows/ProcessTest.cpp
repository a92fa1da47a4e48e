// Child processes through the real CreateProcessW, with a child that reports the
// arguments it got as CommandLineToArgvW splits them (recorder.exe).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "WinTestSupport.h"
#include "runtime/Thrown.h"
#include "support/ThrownText.h"
#include "support/TempDir.h"
#include "sys/io/Process.h"

using sys::io::Process;
using Args = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

class WindowsProcess : public ::testing::Test {
protected:
    WindowsProcess() : echo(dir.file("echo.exe")) {
        std::filesystem::copy_file(wintest::programFolder() / "recorder.exe", dir.path() / "echo.exe");
    }
    std::string outputOf(Process& p) { return p.stdOut.readAll().toString(); }
    Args recorded() { return wintest::nulSeparated(testsupport::readFile(dir.file("echo.args"))); }

    testsupport::TempDir dir{"streamlaunch test \u00e9\u2713 "};
    std::string echo;  // in a folder whose name needs quoting and UTF-16
};

}  // namespace

TEST_F(WindowsProcess, ArgumentsSurviveTheCommandLineAndItsSplitting) {
    const std::vector<Args> cases = {
        {},
        {""},
        {"", "", ""},
        {"plain", "with space", "\ttab\tinside", "trailing space "},
        {"a\"b", "\"", "\"\"", "\"quoted\""},
        {"C:\\dir\\", "trail\\\\", "\\\\server\\share\\", "a\\b", "x\\\\\"y", "\\\"", "\\"},
        {"caf\xC3\xA9 \xE2\x9C\x93", "\xF0\x9F\x8E\xA5", "\xD0\xBF\xD1\x80\xD0\xB8"},
        {"-g", "https://example.org/watch?v=1&list=2", "-f", "best[height<=720]"},
        {"%PATH%", "^&|<>()", "!bang!"},
    };
    for (const Args& args : cases) {
        Process p(echo, args);
        EXPECT_EQ(outputOf(p), "");
        EXPECT_EQ(recorded(), args);
    }
}

TEST_F(WindowsProcess, AbsentArgumentListRunsThroughComspec) {
    // The system's own shell first: COMSPEC as Windows sets it.
    Process shell("echo via-shell& echo two");
    EXPECT_EQ(outputOf(shell), "via-shell\r\ntwo\r\n");

    // Then a shell of ours, which shows exactly what it was given.
    std::string saved = std::getenv("COMSPEC") ? std::getenv("COMSPEC") : "";
    ASSERT_EQ(_putenv_s("COMSPEC", echo.c_str()), 0);
    Process p("x.exe a  b");
    outputOf(p);
    _putenv_s("COMSPEC", saved.c_str());
    EXPECT_EQ(recorded(), (Args{"/C", "x.exe a  b"}));
}

TEST_F(WindowsProcess, StandardErrorFloodIsPassedOnWithoutStalling) {
    constexpr int kFlood = 1 << 20;
    testsupport::writeFile(dir.file("echo.err-bytes"), std::to_string(kFlood));
    testsupport::writeFile(dir.file("echo.out"), "done\n");
    // Our standard error goes to a file for the length of the run, to count what arrives.
    auto sink = dir.path() / "stderr.txt";
    HANDLE file = ::CreateFileW(sink.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE saved = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_ERROR_HANDLE, file);
    std::string out;
    bool finished = wintest::finishesWithin(
        [&] {
            Process p(echo, Args{"-g", "u"});
            out = outputOf(p);
        },
        30s);
    ::SetStdHandle(STD_ERROR_HANDLE, saved);
    ::CloseHandle(file);
    ASSERT_TRUE(finished) << "a child flooding its standard error stalled the reader";
    EXPECT_EQ(out, "done\n");
    EXPECT_EQ(std::filesystem::file_size(sink), static_cast<std::uintmax_t>(kFlood));
}

TEST_F(WindowsProcess, FailuresAndTheSilentChild) {
    try {
        Process p("no-such-program-anywhere.exe", Args{"x"});
        ADD_FAILURE() << "started a program that does not exist";
    } catch (const runtime::Thrown& e) {
        EXPECT_EQ(e.toString(), "Process creation failure : no-such-program-anywhere.exe");
    }
    // An argument holding NUL would reach the child cut short.
    EXPECT_EQ(testsupport::thrownText([&] { Process p(echo, Args{std::string("a\0b", 3)}); }),
              "Process creation failure : " + echo);
    Process silent(echo, Args{});
    EXPECT_EQ(outputOf(silent), "");
    // Standard input reaches the child's pipe, and closing it ends later writes.
    lumo::io::Bytes data = lumo::io::Bytes::ofString("x");
    silent.stdIn.close();
    EXPECT_EQ(silent.stdIn.writeBytes(data, 0, 1), 0);
}
