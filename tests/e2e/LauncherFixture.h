#pragma once
// A temporary folder holding the built launcher, as a user would lay it out, plus fake
// youtube-dl and player scripts that record what they were given.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/Run.h"
#include "support/TempDir.h"

class LauncherFixture : public ::testing::Test {
protected:
    LauncherFixture();

    // Installs a youtube-dl that records its arguments and prints `output`; asked with
    // "-f best" after the page, it prints `best` instead, when given.
    void fakeYoutubeDl(const std::string& output,
                       const std::optional<std::string>& best = std::nullopt);
    // Installs a player that records its arguments, sleeps, then writes to its (by then
    // closed) output pipes, and only after that marks itself alive.
    std::string fakePlayer();

    testsupport::RunResult launch(const std::vector<std::string>& args,
                                  const std::vector<std::string>& env = {});
    // The launcher's command: the words of STREAMLAUNCH_LAUNCH_WRAPPER, when set (a memory
    // checker, as `make test-valgrind` runs it), then the launcher.
    std::vector<std::string> launcherCommand() const;
    // Arguments the fake youtube-dl or player got, one entry per argument.
    std::vector<std::string> recorded(const std::string& name) const;

    testsupport::TempDir dir;
    std::string launcher;
};
