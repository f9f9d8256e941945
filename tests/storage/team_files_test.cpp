// Whole-file writes of the team folder and keeping damaged files aside.

#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "storage/team_files.h"
#include "team_test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteFileAtomically, WritesTheBytesWithTheGivenModeAndLeavesNoTemporaryFile) {
    Sandbox box;
    for (const mode_t mode : {mode_t(0600), mode_t(0644)}) {
        const fs::path file = box / ("f" + std::to_string(mode));
        ASSERT_TRUE(writeFileAtomically(file, "bytes", mode));
        EXPECT_EQ(readFile(file), "bytes");
        EXPECT_EQ(fileMode(file), unsigned(mode));
    }
    EXPECT_EQ(namesIn(box.path()), (std::vector<std::string>{"f384", "f420"}));
}

TEST(WriteFileAtomically, ReplacingAWorldReadableFileMakesItPrivate) {
    Sandbox box;
    const fs::path file = box / "accounts.json";
    writeFile(file, "old");
    fs::permissions(file, fs::perms(0644));
    ASSERT_TRUE(writeFileAtomically(file, "new", 0600));
    EXPECT_EQ(readFile(file), "new");
    EXPECT_EQ(fileMode(file), 0600u);
}

TEST(WriteFileAtomically, IgnoresAPermissiveUmask) {
    Sandbox box;
    const mode_t old = ::umask(0);
    const bool ok = writeFileAtomically(box / "s.json", "{}", 0600);
    ::umask(old);
    ASSERT_TRUE(ok);
    EXPECT_EQ(fileMode(box / "s.json"), 0600u);
}

TEST(WriteFileAtomically, FailsWithoutTouchingAnythingWhenTheFolderIsMissing) {
    Sandbox box;
    EXPECT_FALSE(writeFileAtomically(box / "missing" / "a.json", "x", 0600));
    EXPECT_TRUE(namesIn(box.path()).empty());
}

TEST(ReadWholeFile, TellsMissingFromUnreadable) {
    Sandbox box;
    const FileRead missing = readWholeFile(box / "nothing");
    EXPECT_FALSE(missing.present);
    fs::create_directory(box / "folder");
    const FileRead folder = readWholeFile(box / "folder");
    EXPECT_TRUE(folder.present);
    EXPECT_FALSE(folder.readable);
    writeFile(box / "file", std::string("a\0b", 3));
    const FileRead file = readWholeFile(box / "file");
    EXPECT_TRUE(file.present && file.readable);
    EXPECT_EQ(file.bytes, std::string("a\0b", 3));
}

TEST(KeepBrokenCopy, CopiesTheFileAsideWithATimeStampAndMode0600) {
    Sandbox box;
    writeFile(box / "accounts.json", "{broken");
    fs::permissions(box / "accounts.json", fs::perms(0644));
    const auto kept = keepBrokenCopy(box / "accounts.json");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(std::regex_match(kept->filename().string(), std::regex(R"(accounts\.json\.broken-\d{8}-\d{6})")))
        << kept->filename();
    EXPECT_EQ(readFile(*kept), "{broken");
    EXPECT_EQ(fileMode(*kept), 0600u);
    EXPECT_EQ(readFile(box / "accounts.json"), "{broken") << "the original stays until it is overwritten";
}

TEST(KeepBrokenCopy, NeverReplacesAnEarlierCopy) {
    Sandbox box;
    writeFile(box / "sessions.json", "one");
    const auto first = keepBrokenCopy(box / "sessions.json");
    writeFile(box / "sessions.json", "two");
    const auto second = keepBrokenCopy(box / "sessions.json");
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(readFile(*first), "one");
    EXPECT_EQ(readFile(*second), "two");
}

TEST(KeepBrokenCopy, MovesAsideWhatCannotBeRead) {
    Sandbox box;
    fs::create_directories(box / "resets.json" / "inner");
    const auto kept = keepBrokenCopy(box / "resets.json");
    ASSERT_TRUE(kept);
    EXPECT_FALSE(fs::exists(box / "resets.json"));
    EXPECT_TRUE(fs::is_directory(*kept / "inner"));
}

TEST(KeepBrokenCopy, KeepsNothingWhenThereIsNoFile) {
    Sandbox box;
    EXPECT_FALSE(keepBrokenCopy(box / "accounts.json"));
    EXPECT_TRUE(namesIn(box.path()).empty());
}

}  // namespace
}  // namespace corvane::test
