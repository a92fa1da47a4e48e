#include "sys/Sys.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(Sys, ArgumentsAreFreshCopiesWithoutTheProgramName) {
    const char* argv[] = {"prog", "a", "", "c d"};
    Sys::init(4, argv);
    auto first = Sys::args();
    EXPECT_EQ(first, (std::vector<std::string>{"a", "", "c d"}));
    first.clear();
    EXPECT_EQ(Sys::args().size(), 3u);
    Sys::init(1, argv);
    EXPECT_TRUE(Sys::args().empty());
    Sys::init(0, argv);
    EXPECT_TRUE(Sys::args().empty());
}

TEST(Sys, ProgramPathAndSystemName) {
    auto path = Sys::programPath();
    ASSERT_TRUE(path.has_value());
    EXPECT_TRUE(std::filesystem::equivalent(*path, "/proc/self/exe"));
    EXPECT_EQ(Sys::systemName(), "Linux");
}
