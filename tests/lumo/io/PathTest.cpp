#include "lumo/io/Path.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "sys/FileSystem.h"

using lumo::io::Path;

TEST(Path, TrailingSeparatorsFollowTheKindInUse) {
    EXPECT_EQ(Path::addTrailingSlash(""), "/");
    EXPECT_EQ(Path::addTrailingSlash("a"), "a/");
    EXPECT_EQ(Path::addTrailingSlash("a/b"), "a/b/");
    EXPECT_EQ(Path::addTrailingSlash("a\\b"), "a\\b\\");
    EXPECT_EQ(Path::addTrailingSlash("a\\b/"), "a\\b/");
    EXPECT_EQ(Path::addTrailingSlash("a/b\\"), "a/b\\");
    EXPECT_EQ(Path::addTrailingSlash("C:"), "C:/");
    EXPECT_EQ(Path::removeTrailingSlashes("a//\\"), "a");
    EXPECT_EQ(Path::removeTrailingSlashes("/"), "");
    EXPECT_EQ(Path::removeTrailingSlashes(""), "");
    EXPECT_EQ(Path::removeTrailingSlashes("a/b"), "a/b");
}

TEST(FileSystem, ExistsAndIsDirectoryOnRealEntries) {
    testsupport::TempDir dir;
    std::string file = dir.file("f");
    testsupport::writeFile(file, "x");
    std::string folder = dir.path().string();

    EXPECT_TRUE(sys::FileSystem::exists(file));
    EXPECT_TRUE(sys::FileSystem::exists(folder + "//"));
    EXPECT_TRUE(sys::FileSystem::exists("/dev/null"));
    EXPECT_FALSE(sys::FileSystem::exists(dir.file("missing")));
    EXPECT_FALSE(sys::FileSystem::exists(""));
    // A NUL cuts the path for the platform; the path as given names nothing.
    EXPECT_FALSE(sys::FileSystem::exists(file + std::string(1, '\0') + "x"));

    EXPECT_TRUE(sys::FileSystem::isDirectory(folder + "/"));
    EXPECT_FALSE(sys::FileSystem::isDirectory(file));
    EXPECT_FALSE(sys::FileSystem::isDirectory("/dev/null"));
    EXPECT_FALSE(sys::FileSystem::isDirectory(dir.file("missing")));
}
