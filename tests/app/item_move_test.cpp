// Moving files and folders never replaces anything, and across file systems an
// item ends up whole in one place.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "app/item_move.h"
#include "support/test_support.h"
#include "small_tmpfs.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using test::Sandbox;

TEST(ItemMove, movesAFileAndAFolderTree) {
    Sandbox box;
    test::writeFile(box / "a.txt", "A");
    test::writeFile(box / "tree" / "sub" / "b.txt", "B");
    EXPECT_FALSE(moveItemNoReplace(box / "a.txt", box / "moved.txt"));
    EXPECT_FALSE(moveItemNoReplace(box / "tree", box / "tree2"));
    EXPECT_EQ(test::readFile(box / "moved.txt"), "A");
    EXPECT_EQ(test::readFile(box / "tree2" / "sub" / "b.txt"), "B");
    EXPECT_FALSE(fs::exists(box / "a.txt"));
    EXPECT_FALSE(fs::exists(box / "tree"));
}

TEST(ItemMove, neverReplacesAnExistingDestination) {
    Sandbox box;
    test::writeFile(box / "a.txt", "new");
    test::writeFile(box / "b.txt", "old");
    test::writeFile(box / "dir1" / "x", "1");
    test::writeFile(box / "dir2" / "y", "2");
    EXPECT_TRUE(moveItemNoReplace(box / "a.txt", box / "b.txt"));
    EXPECT_TRUE(moveItemNoReplace(box / "dir1", box / "dir2"));
    EXPECT_EQ(test::readFile(box / "a.txt"), "new");
    EXPECT_EQ(test::readFile(box / "b.txt"), "old");
    EXPECT_TRUE(fs::exists(box / "dir1" / "x"));
    EXPECT_FALSE(fs::exists(box / "dir2" / "x"));
}

TEST(ItemMove, aMissingSourceIsAnError) {
    Sandbox box;
    const auto error = moveItemNoReplace(box / "nothing", box / "there");
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->empty());
}

TEST(ItemMoveDeathTest, acrossFileSystemsAFolderIsCopiedWholeThenRemoved) {
    if (!test::canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    test::writeFile(box / "src" / "tree" / "deep" / "f.bin", std::string(5000, 'f'));
    test::writeFile(box / "src" / "tree" / ".hidden", "h");
    fs::last_write_time(box / "src" / "tree" / "deep" / "f.bin", fs::file_time_type(std::chrono::hours(1000)));
    fs::create_directories(box / "other");
    EXPECT_EXIT(
        {
            if (!test::mountSmallTmpfs(box / "other", 1 << 20)) std::_Exit(3);
            const auto error = moveItemNoReplace(box / "src" / "tree", box / "other" / "tree");
            const bool ok = !error && test::readFile(box / "other" / "tree" / "deep" / "f.bin") == std::string(5000, 'f') &&
                            test::readFile(box / "other" / "tree" / ".hidden") == "h" &&
                            fs::last_write_time(box / "other" / "tree" / "deep" / "f.bin") ==
                                fs::file_time_type(std::chrono::hours(1000)) &&
                            !fs::exists(box / "src" / "tree");
            if (!ok) std::fprintf(stderr, "copy incomplete: %s\n", error ? error->c_str() : "");
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(ItemMoveDeathTest, acrossFileSystemsAFailedCopyLeavesTheSourceAndNoPartialCopy) {
    if (!test::canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    test::writeFile(box / "src" / "tree" / "small", "s");
    test::writeFile(box / "src" / "tree" / "big", std::string(400000, 'b'));
    fs::create_directories(box / "other");
    EXPECT_EXIT(
        {
            if (!test::mountSmallTmpfs(box / "other", 64 * 1024)) std::_Exit(3);
            const auto error = moveItemNoReplace(box / "src" / "tree", box / "other" / "tree");
            const bool ok = error && !fs::exists(box / "other" / "tree") &&
                            test::readFile(box / "src" / "tree" / "big").size() == 400000 &&
                            test::readFile(box / "src" / "tree" / "small") == "s";
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane
