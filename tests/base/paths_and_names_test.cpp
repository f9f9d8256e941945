// Client path cleaning and free names in a folder.

#include <gtest/gtest.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

TEST(Sanitize, CleansOrRefusesClientPaths) {
    const std::string long120(120, 'x');
    const std::string long121(121, 'x');
    const struct { std::string in; std::optional<std::string> want; } cases[] = {
        {"a/../b", "a/b"},     {"/a//b/", "a/b"},     {"./x", "x"},          {"..", std::nullopt},
        {".hidden/x", std::nullopt}, {"a:b", std::nullopt}, {"a\\b", "a/b"}, {long121, std::nullopt},
        {long120, long120},    {"", std::nullopt},    {"/", std::nullopt},   {"..x/y", std::nullopt},
        {"a/.parts/b", std::nullopt}, {"a\tb", std::nullopt}, {"q?", std::nullopt}, {"s*", std::nullopt},
        {"<a>", std::nullopt}, {"a|b", std::nullopt}, {"\"q\"", std::nullopt}, {"中文/文件.txt", "中文/文件.txt"},
        {"a+b c", "a+b c"},
    };
    for (const auto& c : cases) EXPECT_EQ(sanitize(c.in), c.want) << c.in;
    // 120 user-perceived characters may take far more bytes.
    std::string flags;
    for (int k = 0; k < 120; ++k) flags += "🇨🇳";
    EXPECT_EQ(sanitize(flags), flags);
    EXPECT_EQ(sanitize(flags + "a"), std::nullopt);
}

TEST(UniqueName, NumbersBeforeTheLastExtension) {
    test::Sandbox box;
    EXPECT_EQ(uniqueName(box.path(), "report.pdf"), "report.pdf");
    test::writeFile(box / "report.pdf", "");
    test::writeFile(box / "report (1).pdf", "");
    EXPECT_EQ(uniqueName(box.path(), "report.pdf"), "report (2).pdf");
    test::writeFile(box / "README", "");
    EXPECT_EQ(uniqueName(box.path(), "README"), "README (1)");
    test::writeFile(box / "archive.tar.gz", "");
    EXPECT_EQ(uniqueName(box.path(), "archive.tar.gz"), "archive.tar (1).gz");
    // A dangling link takes its name too.
    fs::create_symlink(box / "nowhere", box / "link.txt");
    EXPECT_EQ(uniqueName(box.path(), "link.txt"), "link (1).txt");
}

TEST(MoveUnique, NeverReplacesAnExistingFile) {
    test::Sandbox box;
    test::writeFile(box / "dst" / "a.txt", "old");
    test::writeFile(box / "src.bin", "new");
    const auto name = moveUnique(box / "src.bin", box / "dst", "a.txt");
    ASSERT_EQ(name, "a (1).txt");
    EXPECT_EQ(test::readFile(box / "dst" / "a.txt"), "old");
    EXPECT_EQ(test::readFile(box / "dst" / "a (1).txt"), "new");
    EXPECT_FALSE(fs::exists(box / "src.bin"));
    EXPECT_FALSE(renameNoReplace(box / "dst" / "a (1).txt", box / "dst" / "a.txt"));
}

}  // namespace

namespace {

TEST(RenameOverReservation, MovesFilesAndFoldersButNeverOntoATakenName) {
    // Where neither RENAME_NOREPLACE nor hard links exist, every finish and every text
    // once failed with 500.
    test::Sandbox box;
    test::writeFile(box / "a.txt", "A");
    test::writeFile(box / "taken.txt", "T");
    EXPECT_FALSE(renameOverReservation(box / "a.txt", box / "taken.txt"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(test::readFile(box / "taken.txt"), "T");
    EXPECT_TRUE(renameOverReservation(box / "a.txt", box / "b.txt"));
    EXPECT_EQ(test::readFile(box / "b.txt"), "A");
    EXPECT_FALSE(fs::exists(box / "a.txt"));

    test::writeFile(box / "dir" / "inner.txt", "I");
    EXPECT_TRUE(renameOverReservation(box / "dir", box / "moved"));
    EXPECT_EQ(test::readFile(box / "moved" / "inner.txt"), "I");
    // A failed move leaves no reservation behind.
    EXPECT_FALSE(renameOverReservation(box / "missing", box / "never"));
    EXPECT_FALSE(fs::exists(box / "never"));
}

}  // namespace
