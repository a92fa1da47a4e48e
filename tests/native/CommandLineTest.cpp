#include "native/command_line.h"

#include <gtest/gtest.h>

using native::buildCommandLine;
using native::escapeArgument;
using Args = std::vector<std::string>;

TEST(CommandLine, EscapingInvertsTheConventionalSplitting) {
    EXPECT_EQ(escapeArgument("a\"b"), "a\\\"b");
    EXPECT_EQ(escapeArgument("C:\\dir\\"), "C:\\dir\\\\");
    EXPECT_EQ(escapeArgument("x\\\\\"y"), "x\\\\\\\\\\\"y");
    EXPECT_EQ(escapeArgument("a\\b"), "a\\b");
    EXPECT_EQ(escapeArgument("a b\tc"), "a b\tc");
    EXPECT_EQ(escapeArgument(""), "");
    EXPECT_EQ(escapeArgument("\\"), "\\\\");
}

TEST(CommandLine, QuotedCommandArgumentsOrShell) {
    EXPECT_EQ(buildCommandLine("youtube-dl.exe", Args{"-g", "u"}, "cmd.exe"),
              "\"youtube-dl.exe\" \"-g\" \"u\"");
    EXPECT_EQ(buildCommandLine("X", Args{}, "cmd.exe"), "\"X\"");
    EXPECT_EQ(buildCommandLine("X", Args{"", "a\"b", "C:\\dir\\"}, "cmd.exe"),
              "\"X\" \"\" \"a\\\"b\" \"C:\\dir\\\\\"");
    EXPECT_EQ(buildCommandLine("dir /b", std::nullopt, "C:\\W\\cmd.exe"),
              "\"C:\\W\\cmd.exe\" /C \"dir /b\"");
    // The command itself goes in unchanged, quote and all.
    EXPECT_EQ(buildCommandLine("a\"b", Args{}, "S"), "\"a\"b\"");
}
