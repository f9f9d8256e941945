// Moving the receive folder: entries move over without replacing anything, the
// server switches at once, and a failure is undone, logged and shown.
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "app_state_fixture.h"
#include "small_tmpfs.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

std::string storedDir(const fs::path& support) {
    return json::parse(readFile(support / "config.json"))["storageDir"].get<std::string>();
}

TEST_F(AppStateTest, changingTheStorageFolderMovesEverythingAndSwitchesTheServer) {
    AppState& s = make();
    s.start();
    const fs::path old = s.root();
    writeFile(old / "a.txt", "A");
    writeFile(old / "docs" / "b.txt", "B");
    writeFile(old / ".hidden", "h");
    chosenFolder = box / "disk" / "New";
    s.changeStorageDir();
    ASSERT_TRUE(qtWaitFor([&] { return s.root() == box / "disk" / "New"; }));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].prompt, "迁移到此处");
    EXPECT_EQ(questions[0].message, "选择新的存储目录，现有文件会自动迁移过去");
    EXPECT_EQ(readFile(s.root() / "a.txt"), "A");
    EXPECT_EQ(readFile(s.root() / "docs" / "b.txt"), "B");
    EXPECT_EQ(readFile(s.root() / ".hidden"), "h");
    EXPECT_FALSE(fs::exists(old / "a.txt"));
    EXPECT_EQ(s.server()->root(), s.root());
    EXPECT_EQ(s.server()->parts(), s.root() / ".parts");
    EXPECT_EQ(storedDir(support()), s.root().string());
    EXPECT_EQ(teamReads.back(), s.root());
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && s.files().size() == 2; }));
    EXPECT_FALSE(s.toast());
}

TEST_F(AppStateTest, entriesWhoseNameIsTakenStayInTheOldFolder) {
    AppState& s = make();
    const fs::path old = s.root();
    writeFile(old / "same.txt", "mine");
    writeFile(box / "New" / "same.txt", "theirs");
    chosenFolder = box / "New";
    s.changeStorageDir();
    ASSERT_TRUE(qtWaitFor([&] { return s.root() == box / "New"; }));
    EXPECT_EQ(readFile(box / "New" / "same.txt"), "theirs");
    EXPECT_EQ(readFile(old / "same.txt"), "mine");
}

TEST_F(AppStateTest, choosingTheCurrentFolderMovesNothingButStillSwitchesAndSaves) {
    AppState& s = make();
    s.start();
    writeFile(s.root() / "a.txt", "A");
    const size_t reads = teamReads.size();
    chosenFolder = fs::path(s.root().string() + "/");
    s.changeStorageDir();
    EXPECT_EQ(storedDir(support()), s.root().string());
    EXPECT_EQ(teamReads.size(), reads + 1);
    EXPECT_TRUE(s.loadingFiles());
    EXPECT_EQ(readFile(s.root() / "a.txt"), "A");
}

TEST_F(AppStateTest, aCancelledPickerChangesNothing) {
    AppState& s = make();
    const fs::path old = s.root();
    chosenFolder = std::nullopt;
    s.changeStorageDir();
    qtSpin(std::chrono::milliseconds(50));
    EXPECT_EQ(s.root(), old);
    EXPECT_FALSE(fs::exists(support() / "config.json"));
}

TEST_F(AppStateTest, aFolderInsideTheCurrentOneIsRefusedAndShown) {
    AppState& s = make();
    const fs::path old = s.root();
    writeFile(old / "a.txt", "A");
    chosenFolder = old / "inner";
    s.changeStorageDir();
    EXPECT_EQ(s.root(), old);
    EXPECT_EQ(s.toast(), "存储目录迁移失败：新的存储目录不能在当前存储目录里面");
    EXPECT_TRUE(hasLineStarting(log(), "存储目录迁移失败：新的存储目录不能在当前存储目录里面"));
    EXPECT_EQ(readFile(old / "a.txt"), "A");
    EXPECT_FALSE(fs::exists(support() / "config.json"));
}

TEST_F(AppStateTest, aFolderThatCannotBeMadeIsShownNotIgnored) {
    AppState& s = make();
    const fs::path old = s.root();
    writeFile(box / "plain-file", "x");
    chosenFolder = box / "plain-file" / "New";
    s.changeStorageDir();
    EXPECT_EQ(s.root(), old);
    ASSERT_TRUE(s.toast());
    EXPECT_EQ(s.toast()->rfind("存储目录迁移失败：无法创建 ", 0), 0u) << *s.toast();
    EXPECT_TRUE(hasLineStarting(log(), "存储目录迁移失败："));
}

TEST_F(AppStateTest, aMoveThatFailsHalfwayIsUndoneLoggedAndShown) {
    if (!canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    const std::string config = json{{"storageDir", (box / "old").string()}}.dump();
    writeConfig(config);
    static const char* const names[] = {"a.txt", "b.txt", "c.txt"};
    for (const char* name : names) writeFile(box / "old" / name, name);
    writeFile(box / "old" / "big.bin", std::string(300000, 'x'));
    fs::create_directories(box / "New");
    chosenFolder = box / "New";
    EXPECT_EXIT(
        {
            if (!mountSmallTmpfs(box / "New", 64 * 1024)) std::_Exit(3);
            AppState& s = make();
            s.changeStorageDir();
            const bool shown = qtWaitFor([&] { return s.toast().has_value(); });
            bool ok = shown && s.root() == box / "old" && s.toast()->rfind("存储目录迁移失败：big.bin：", 0) == 0 &&
                      hasLineStarting(log(), "存储目录迁移失败：big.bin：") && fs::is_empty(box / "New") &&
                      readFile(box / "old" / "big.bin").size() == 300000 && readFile(support() / "config.json") == config;
            for (const char* name : names) ok = ok && readFile(box / "old" / name) == name;
            if (!ok) std::fprintf(stderr, "toast: %s\n", s.toast() ? s.toast()->c_str() : "(none)");
            std::_Exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane::test
