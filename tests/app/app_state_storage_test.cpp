// Moving the receive folder: entries move over without replacing anything, the
// server switches at once, and a refusal or failure is undone, logged and shown.
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "app_state_fixture.h"
#include "engine/server/storage_gate.h"
#include "support/fuse_bind.h"
#include "support/small_tmpfs.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

std::string storedDir(const fs::path& support) {
    return json::parse(readFile(support / "config.json"))["storageDir"].get<std::string>();
}

TEST_F(AppStateTest, changingTheStorageFolderMovesEverythingButTakenNamesAndSwitchesTheServer) {
    AppState& s = make();
    s.start();
    const fs::path old = s.root();
    writeFile(old / "a.txt", "A");
    writeFile(old / "docs" / "b.txt", "B");
    writeFile(old / ".hidden", "h");
    writeFile(old / "same.txt", "mine");
    writeFile(box / "disk" / "New" / "same.txt", "theirs");
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
    EXPECT_EQ(readFile(s.root() / "same.txt"), "theirs");
    EXPECT_EQ(readFile(old / "same.txt"), "mine");
    EXPECT_EQ(s.server()->root(), s.root());
    EXPECT_EQ(s.server()->parts(), s.root() / ".parts");
    EXPECT_EQ(storedDir(support()), s.root().string());
    EXPECT_EQ(teamReads.back(), s.root());
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && s.files().size() == 3; }));
    EXPECT_FALSE(s.toast());
}

TEST_F(AppStateTest, aRefusedFolderIsShownAndLoggedAndChangesNothing) {
    writeFile(box / "plain-file", "x");
    struct Case {
        std::optional<fs::path> chosen;
        std::string toastStart;  // "" for a cancelled picker: no toast
    };
    const Case cases[] = {
        {std::nullopt, ""},
        {home() / "Corvane" / "inner", "存储目录迁移失败：新的存储目录不能在当前存储目录里面"},
        {box / "plain-file" / "New", "存储目录迁移失败：无法创建 "},
    };
    for (const Case& c : cases) {
        const std::string name = c.chosen ? c.chosen->string() : "cancelled";
        AppState& s = make();
        const fs::path old = s.root();
        writeFile(old / "a.txt", "A");
        chosenFolder = c.chosen;
        s.changeStorageDir();
        qtSpin(std::chrono::milliseconds(50));
        EXPECT_EQ(s.root(), old) << name;
        EXPECT_EQ(readFile(old / "a.txt"), "A") << name;
        EXPECT_FALSE(fs::exists(support() / "config.json")) << name;
        if (c.toastStart.empty()) {
            EXPECT_FALSE(s.toast()) << name;
            continue;
        }
        ASSERT_TRUE(s.toast()) << name;
        EXPECT_EQ(s.toast()->rfind(c.toastStart, 0), 0u) << *s.toast();
        EXPECT_TRUE(hasLineStarting(log(), c.toastStart)) << name;
    }
}

TEST_F(AppStateTest, theCompletionRunsOnceTheQuestionIsAnsweredEitherWay) {
    AppState& s = make();
    for (const bool chosen : {false, true}) {
        chosenFolder = chosen ? std::optional<fs::path>(box / "elsewhere") : std::nullopt;
        int answered = 0;
        s.changeStorageDir([&] { ++answered; });
        EXPECT_EQ(answered, 1) << (chosen ? "chosen" : "cancelled");
    }
    // The chosen folder's move is under way: no second question, but an answer all the same.
    int answered = 0;
    s.changeStorageDir([&] { ++answered; });
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(questions.size(), 2u);
    ASSERT_TRUE(qtWaitFor([&] { return s.root() == box / "elsewhere"; }));
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

TEST_F(AppStateTest, aReceiveFolderWhoseStorageIsLostIsSaidSoNotShownEmptyAndClearsWhenItIsBack) {
    writeFile(box / "disk" / "a.txt", "A");
    fs::create_directories(box / "mnt");
    FuseBind bind;
    const std::string refused = bind.mount(box / "disk", box / "mnt");
    if (!refused.empty()) GTEST_SKIP() << refused;
    AppState& s = started(json{{"storageDir", (box / "mnt").string()}}.dump());
    ASSERT_EQ(s.root(), box / "mnt");
    s.refreshFiles();
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && s.files().size() == 1; }));
    EXPECT_EQ(s.filesProblem(), "");

    ASSERT_TRUE(bind.lose());
    s.refreshFiles();
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && !s.filesProblem().empty(); }));
    EXPECT_EQ(s.filesProblem(), storageUnreachableText);
    EXPECT_TRUE(s.files().empty());

    bind.unmount();
    s.refreshFiles();
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && s.filesProblem().empty(); }));
}

}  // namespace
}  // namespace corvane::test
