#include "sys/Sys.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(Sys, ArgumentsAreFreshCopiesWithoutTheProgramName) {
    Sys::init({"prog", "a", "", "c d"});
    auto first = Sys::args();
    EXPECT_EQ(first, (std::vector<std::string>{"a", "", "c d"}));
    first.clear();
    EXPECT_EQ(Sys::args().size(), 3u);
    Sys::init({"prog"});
    EXPECT_TRUE(Sys::args().empty());
    Sys::init({});
    EXPECT_TRUE(Sys::args().empty());
}

TEST(Sys, ProgramPathSystemNameAndPrintedValues) {
    auto path = Sys::programPath();
    ASSERT_TRUE(path.has_value());
    EXPECT_TRUE(std::filesystem::equivalent(*path, "/proc/self/exe"));
    EXPECT_EQ(Sys::systemName(), "Linux");
    testing::internal::CaptureStdout();
    Sys::println(runtime::Dynamic(1.5));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "1.5\n");
}
