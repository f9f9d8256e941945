// The receive folder: the default under home and the earlier product's
// folders moved over, both under home and as a stored storage folder.
#include <gtest/gtest.h>

#include "app/receive_folder.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using test::Sandbox;
using Lines = std::vector<std::string>;

struct Logged {
    Lines lines;
    LogLine sink() {
        return [this](const std::string& line) { lines.push_back(line); };
    }
};

TEST(ResolveRoot, usesCorvaneUnderHomeAndMovesTheEarlierFolderOnlyWhenAlone) {
    Sandbox fresh;
    Logged freshLog;
    EXPECT_EQ(resolveRoot(fresh.path(), freshLog.sink()), fresh / "Corvane");
    EXPECT_TRUE(fs::is_directory(fresh / "Corvane"));  // made when missing
    EXPECT_TRUE(freshLog.lines.empty());

    Sandbox earlier;
    test::writeFile(earlier / "Quillpath" / "a.txt", "A");
    Logged movedLog;
    EXPECT_EQ(resolveRoot(earlier.path(), movedLog.sink()), earlier / "Corvane");
    EXPECT_EQ(test::readFile(earlier / "Corvane" / "a.txt"), "A");
    EXPECT_FALSE(fs::exists(earlier / "Quillpath"));
    EXPECT_EQ(movedLog.lines, Lines{"接收目录已从 Quillpath 迁移到 Corvane"});

    Sandbox both;
    test::writeFile(both / "Quillpath" / "old.txt", "o");
    test::writeFile(both / "Corvane" / "new.txt", "n");
    Logged bothLog;
    EXPECT_EQ(resolveRoot(both.path(), bothLog.sink()), both / "Corvane");
    EXPECT_TRUE(fs::exists(both / "Quillpath" / "old.txt"));
    EXPECT_FALSE(fs::exists(both / "Corvane" / "old.txt"));
    EXPECT_TRUE(bothLog.lines.empty());
}

TEST(NormalizeStorageDir, otherFoldersAreOnlyCleaned) {
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

TEST(NormalizeStorageDir, anEarlierFolderBecomesTheSiblingMovedOnlyWhenTheSiblingIsMissing) {
    for (const char* earlier : {"Quillpath", "quillpath"}) {
        Sandbox box;
        fs::create_directories(box / "Corvane");
        test::writeFile(box / earlier / "old.txt", "o");
        Logged log;
        EXPECT_EQ(normalizeStorageDir((box / earlier).string(), log.sink()), box / "Corvane");
        EXPECT_TRUE(fs::exists(box / earlier / "old.txt")) << earlier;
        EXPECT_EQ(log.lines, Lines{"存储目录指向旧路径 " + (box / earlier).string() + "，已归一化到 " + (box / "Corvane").string()});
    }
    Sandbox box;
    test::writeFile(box / "Quillpath" / "a.txt", "A");
    Logged log;
    EXPECT_EQ(normalizeStorageDir((box / "Quillpath").string(), log.sink()), box / "Corvane");
    EXPECT_EQ(test::readFile(box / "Corvane" / "a.txt"), "A");
    EXPECT_EQ(log.lines, Lines{"存储目录已从 " + (box / "Quillpath").string() + " 迁移到 " + (box / "Corvane").string()});

    EXPECT_EQ(normalizeStorageDir((box / "deep" / "Quillpath").string(), log.sink()), box / "deep" / "Corvane");
    EXPECT_TRUE(fs::is_directory(box / "deep" / "Corvane")) << "neither folder: the sibling is made";
}

TEST(IsInsideFolder, onlyStrictDescendantsAreInside) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/a/b/c", "/a/b", true}, {"/a/b", "/a/b", false}, {"/a", "/a/b", false},
        {"/a/bc", "/a/b", false}, {"/x/y", "/a/b", false}, {"/a/b/c/d", "/a", true},
    };
    for (const auto& [inner, outer, inside] : cases) EXPECT_EQ(isInsideFolder(inner, outer), inside) << inner << " in " << outer;
}

}  // namespace
}  // namespace corvane
