// Real child processes through the pipes of sys::io::Process.
#include "sys/io/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "lumo/io/Eof.h"
#include "runtime/Thrown.h"
#include "support/Run.h"
#include "support/TempDir.h"

using lumo::io::Bytes;
using sys::io::Process;
using Args = std::vector<std::string>;

namespace {
std::string outputOf(Process& p) { return p.stdOut.readAll().toString(); }
// Made before the first child, so released at exit after the statics that child made.
std::optional<Process> heldUntilExit;
}  // namespace

TEST(Process, ArgumentsArriveUnchanged) {
    Process p("printf", Args{"[%s]", "", "a b", "x\"y\\", "$HOME", "\xE9\xFF"});
    EXPECT_EQ(outputOf(p), "[][a b][x\"y\\][$HOME][\xE9\xFF]");
}

TEST(Process, WithoutArgumentsTheShellRunsTheCommand) {
    Process p("echo one; echo two >&2; echo three");
    EXPECT_EQ(outputOf(p), "one\nthree\n");
}

TEST(Process, SilentChildGivesEmptyOutputAndEofAtOnce) {
    Process p("true", Args{});
    Bytes buf = Bytes::alloc(8);
    EXPECT_THROW(p.stdOut.readBytes(buf, 0, 8), lumo::io::Eof);
    EXPECT_EQ(outputOf(p), "");
    EXPECT_THROW(p.stdErr.readBytes(buf, 0, 8), lumo::io::Eof);
    // A range outside the buffer reads nothing, which is the end too.
    EXPECT_THROW(p.stdOut.readBytes(buf, 4, 5), lumo::io::Eof);
    EXPECT_THROW(p.stdErr.readBytes(buf, 4, 5), lumo::io::Eof);
}

TEST(Process, InputReachesTheChildAndCloseEndsIt) {
    Process p("cat", Args{});
    Bytes data = Bytes::ofString("through the pipe");
    p.stdIn.writeFullBytes(data, 0, data.length());
    p.stdIn.writeByte('!');
    EXPECT_EQ(p.stdIn.writeBytes(data, 16, 1), 0);  // outside the buffer: nothing goes
    p.stdIn.close();
    EXPECT_EQ(p.stdOut.readByte(), 't');
    EXPECT_EQ(outputOf(p), "hrough the pipe!");
    EXPECT_EQ(p.stdIn.writeBytes(data, 0, 3), 0);
}

TEST(Process, StandardErrorIsReadableWhenNothingDrainsIt) {
    Process p("printf", Args{"oops"});
    Process q("sh", Args{"-c", "printf oops >&2"});
    EXPECT_EQ(q.stdErr.readAll().toString(), "oops");
    EXPECT_EQ(p.stdErr.readAll().toString(), "");
}

TEST(Process, ErrorFloodBeforeOutputDoesNotStall) {
    // 4 MiB on standard error before one line on standard output: far beyond what a pipe
    // holds. Reading standard output passes the flood on instead of blocking on it.
    Process p("sh", Args{"-c", "head -c 4194304 /dev/zero >&2; echo done"});
    EXPECT_EQ(outputOf(p), "done\n");
}

TEST(Process, CreationFailureNamesTheCommand) {
    // An argument holding NUL could only reach the child cut short.
    for (const auto& [cmd, args] : std::vector<std::pair<std::string, Args>>{
             {"/no/such/program", {"x"}}, {"no-such-program-here", {"x"}}, {"/etc/hostname", {"x"}},
             {"printf", {std::string("a\0b", 3)}}}) {
        try {
            Process p(cmd, args);
            ADD_FAILURE() << cmd;
        } catch (const runtime::Thrown& e) {
            EXPECT_EQ(e.toString(), "Process creation failure : " + cmd);
        }
    }
}

TEST(ProcessDeathTest, EndedChildInputAndReleaseAtExit) {
    // Writing to an ended child fails also where SIGPIPE keeps its default action, and that
    // action and the signal mask stay as they were.
    auto writeToEndedChild = [] {
        std::signal(SIGPIPE, SIG_DFL);
        Process p("sh", Args{"-c", "exec <&-"});  // its input closes before its output ends
        outputOf(p);
        Bytes data = Bytes::ofString("x");
        int written = p.stdIn.writeBytes(data, 0, 1);
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        return written == 0 && !sigismember(&mask, SIGPIPE) && std::signal(SIGPIPE, SIG_DFL) == SIG_DFL;
    };
    EXPECT_EXIT(std::exit(writeToEndedChild() ? 0 : 1), testing::ExitedWithCode(0), "");
    // A use-after-free at exit without the mend, seen only under ASan (make test-asan).
    EXPECT_EXIT((heldUntilExit.emplace("true", Args{}), std::exit(0)), testing::ExitedWithCode(0), "");
}

TEST(Process, ReleasedChildrenAreReapedOnceExitedAndRunningOnesLeftAlone) {
    // A long-running caller must not collect zombies; a child still running when let go
    // (a player) is neither killed nor waited for.
    testsupport::TempDir dir;
    const std::string marker = dir.file("done");
    { Process player("sh", Args{"-c", "sleep 0.3; touch \"$0\"", marker}); }
    EXPECT_FALSE(std::filesystem::exists(marker));
    for (int i = 0; i < 100; ++i) {
        Process p("true", Args{});
        outputOf(p);
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return std::filesystem::exists(marker); }, std::chrono::seconds(10)));
    EXPECT_TRUE(testsupport::waitFor(
        [] {
            Process p("true", Args{});
            outputOf(p);
            return testsupport::zombieChildren() <= 1;  // the last child may still be on its way out
        },
        std::chrono::seconds(5)));
}
