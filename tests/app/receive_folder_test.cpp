// The receive folder: the default under home, the earlier product's folders
// moved over, and moving the folder's entries with an undo on failure.
#include <cstdlib>

#include <gtest/gtest.h>

#include "app/receive_folder.h"
#include "support/test_support.h"
#include "small_tmpfs.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using test::Sandbox;

struct Logged {
    std::vector<std::string> lines;
    LogLine sink() {
        return [this](const std::string& line) { lines.push_back(line); };
    }
};

TEST(ResolveRoot, usesCorvaneUnderHome) {
    Sandbox home;
    Logged log;
    EXPECT_EQ(resolveRoot(home.path(), log.sink()), home / "Corvane");
    EXPECT_TRUE(fs::is_directory(home / "Corvane"));  // made when missing
    EXPECT_TRUE(log.lines.empty());
}

TEST(ResolveRoot, movesTheEarlierFolderOver) {
    Sandbox home;
    test::writeFile(home / "Quillpath" / "a.txt", "A");
    Logged log;
    EXPECT_EQ(resolveRoot(home.path(), log.sink()), home / "Corvane");
    EXPECT_EQ(test::readFile(home / "Corvane" / "a.txt"), "A");
    EXPECT_FALSE(fs::exists(home / "Quillpath"));
    EXPECT_EQ(log.lines, std::vector<std::string>{"接收目录已从 Quillpath 迁移到 Corvane"});
}

TEST(ResolveRoot, withBothFoldersNothingMoves) {
    Sandbox home;
    test::writeFile(home / "Quillpath" / "old.txt", "o");
    test::writeFile(home / "Corvane" / "new.txt", "n");
    Logged log;
    EXPECT_EQ(resolveRoot(home.path(), log.sink()), home / "Corvane");
    EXPECT_TRUE(fs::exists(home / "Quillpath" / "old.txt"));
    EXPECT_FALSE(fs::exists(home / "Corvane" / "old.txt"));
    EXPECT_TRUE(log.lines.empty());
}

TEST(NormalizeStorageDir, otherFoldersStayAsTheyAre) {
    Sandbox box;
    Logged log;
    const std::pair<std::string, fs::path> cases[] = {
        {(box / "Files").string(), box / "Files"},
        {(box / "Files").string() + "/", box / "Files"},
        {(box / "x" / ".." / "Files").string(), box / "Files"},
        {(box / "QUILLPATH").string(), box / "QUILLPATH"},  // only the two exact spellings count
        {(box / "Quillpath2").string(), box / "Quillpath2"},
    };
    for (const auto& [stored, expected] : cases) EXPECT_EQ(normalizeStorageDir(stored, log.sink()), expected) << stored;
    EXPECT_TRUE(log.lines.empty());
}

TEST(NormalizeStorageDir, anExistingSiblingIsUsed) {
    for (const char* earlier : {"Quillpath", "quillpath"}) {
        Sandbox box;
        fs::create_directories(box / "Corvane");
        test::writeFile(box / earlier / "old.txt", "o");
        Logged log;
        EXPECT_EQ(normalizeStorageDir((box / earlier).string(), log.sink()), box / "Corvane");
        EXPECT_TRUE(fs::exists(box / earlier / "old.txt"));
        EXPECT_EQ(log.lines, std::vector<std::string>{"存储目录指向旧路径 " + (box / earlier).string() + "，已归一化到 " +
                                                      (box / "Corvane").string()});
    }
}

TEST(NormalizeStorageDir, anEarlierFolderAloneIsMovedToTheSibling) {
    Sandbox box;
    test::writeFile(box / "Quillpath" / "a.txt", "A");
    Logged log;
    EXPECT_EQ(normalizeStorageDir((box / "Quillpath").string(), log.sink()), box / "Corvane");
    EXPECT_EQ(test::readFile(box / "Corvane" / "a.txt"), "A");
    EXPECT_EQ(log.lines, std::vector<std::string>{"存储目录已从 " + (box / "Quillpath").string() + " 迁移到 " +
                                                  (box / "Corvane").string()});
}

TEST(NormalizeStorageDir, neitherFolderMakesTheSibling) {
    Sandbox box;
    Logged log;
    EXPECT_EQ(normalizeStorageDir((box / "deep" / "Quillpath").string(), log.sink()), box / "deep" / "Corvane");
    EXPECT_TRUE(fs::is_directory(box / "deep" / "Corvane"));
}

TEST(IsInsideFolder, onlyStrictDescendantsAreInside) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/a/b/c", "/a/b", true},  {"/a/b", "/a/b", false},  {"/a", "/a/b", false},
        {"/a/bc", "/a/b", false},  {"/x/y", "/a/b", false},   {"/a/b/c/d", "/a", true},
    };
    for (const auto& [inner, outer, inside] : cases) EXPECT_EQ(isInsideFolder(inner, outer), inside) << inner << " in " << outer;
}

TEST(MoveFolderEntries, movesEveryEntryHiddenOnesIncluded) {
    Sandbox box;
    test::writeFile(box / "old" / "a.txt", "A");
    test::writeFile(box / "old" / ".parts" / "x" / "0", "chunk");
    test::writeFile(box / "old" / "docs" / "b.txt", "B");
    fs::create_directories(box / "new");
    const FolderMoveResult result = moveFolderEntries(box / "old", box / "new");
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(test::readFile(box / "new" / "a.txt"), "A");
    EXPECT_EQ(test::readFile(box / "new" / ".parts" / "x" / "0"), "chunk");
    EXPECT_EQ(test::readFile(box / "new" / "docs" / "b.txt"), "B");
    EXPECT_TRUE(fs::is_empty(box / "old"));
}

TEST(MoveFolderEntries, takenNamesStayBehindUntouched) {
    Sandbox box;
    test::writeFile(box / "old" / "same.txt", "mine");
    test::writeFile(box / "old" / "other.txt", "o");
    test::writeFile(box / "new" / "same.txt", "theirs");
    const FolderMoveResult result = moveFolderEntries(box / "old", box / "new");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(test::readFile(box / "new" / "same.txt"), "theirs");
    EXPECT_EQ(test::readFile(box / "old" / "same.txt"), "mine");
    EXPECT_EQ(test::readFile(box / "new" / "other.txt"), "o");
}

TEST(MoveFolderEntriesDeathTest, aFailedMovePutsBackWhatWasMoved) {
    if (!test::canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    static const char* const names[] = {"a.txt", "b.txt", "c.txt", "d.txt"};
    for (const char* name : names) test::writeFile(box / "old" / name, name);
    test::writeFile(box / "old" / "big.bin", std::string(300000, 'x'));
    fs::create_directories(box / "new");
    EXPECT_EXIT(
        {
            if (!test::mountSmallTmpfs(box / "new", 64 * 1024)) std::_Exit(3);
            const FolderMoveResult result = moveFolderEntries(box / "old", box / "new");
            bool whole = !result.ok && result.error.find("big.bin") != std::string::npos && fs::is_empty(box / "new");
            for (const char* name : names) whole = whole && test::readFile(box / "old" / name) == name;
            whole = whole && test::readFile(box / "old" / "big.bin").size() == 300000;
            if (!whole) std::fprintf(stderr, "result ok=%d error=%s\n", int(result.ok), result.error.c_str());
            std::_Exit(whole ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane
