// Moving files and folders never replaces anything, and across file systems an
// item ends up whole in one place.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "app/item_move.h"
#include "support/small_tmpfs.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using test::Sandbox;

TEST(ItemMove, neverReplacesAnExistingDestination) {
    Sandbox box;
    test::writeFile(box / "a.txt", "new");
    test::writeFile(box / "b.txt", "old");
    test::writeFile(box / "dir1" / "x", "1");
    test::writeFile(box / "dir2" / "y", "2");
    EXPECT_TRUE(test::refusalOf(moveItemNoReplace(box / "a.txt", box / "b.txt")));
    EXPECT_TRUE(test::refusalOf(moveItemNoReplace(box / "dir1", box / "dir2")));
    EXPECT_EQ(test::readFile(box / "a.txt"), "new");
    EXPECT_EQ(test::readFile(box / "b.txt"), "old");
    EXPECT_TRUE(fs::exists(box / "dir1" / "x"));
    EXPECT_FALSE(fs::exists(box / "dir2" / "x"));
}

// In a child process with a 64 KiB tmpfs: a small tree is copied whole (times
// kept) and then removed; a tree that does not fit stays and leaves no partial copy.
TEST(ItemMoveDeathTest, acrossFileSystemsAFolderIsCopiedWholeOrNotAtAll) {
    if (!test::canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    test::writeFile(box / "src" / "tree" / "deep" / "f.bin", std::string(5000, 'f'));
    test::writeFile(box / "src" / "tree" / ".hidden", "h");
    fs::last_write_time(box / "src" / "tree" / "deep" / "f.bin", fs::file_time_type(std::chrono::hours(1000)));
    test::writeFile(box / "src" / "big" / "small", "s");
    test::writeFile(box / "src" / "big" / "big", std::string(400000, 'b'));
    fs::create_directories(box / "other");
    EXPECT_EXIT(
        {
            if (!test::mountSmallTmpfs(box / "other", 64 * 1024)) std::_Exit(3);
            const auto fits = test::refusalOf(moveItemNoReplace(box / "src" / "tree", box / "other" / "tree"));
            const bool whole = !fits && test::readFile(box / "other" / "tree" / "deep" / "f.bin") == std::string(5000, 'f') &&
                               test::readFile(box / "other" / "tree" / ".hidden") == "h" &&
                               fs::last_write_time(box / "other" / "tree" / "deep" / "f.bin") ==
                                   fs::file_time_type(std::chrono::hours(1000)) &&
                               !fs::exists(box / "src" / "tree");
            const auto tooBig = test::refusalOf(moveItemNoReplace(box / "src" / "big", box / "other" / "big"));
            const bool none = tooBig && !fs::exists(box / "other" / "big") &&
                              test::readFile(box / "src" / "big" / "big").size() == 400000 &&
                              test::readFile(box / "src" / "big" / "small") == "s";
            if (!whole || !none) std::fprintf(stderr, "whole=%d none=%d %s\n", whole, none, fits ? fits->c_str() : "");
            std::_Exit(whole && none ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane
