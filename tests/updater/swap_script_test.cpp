// The swap script run by the test against throwaway bundles, with a process
// standing in for the application that has to end first: the old program is
// ended (forcibly when it ignores SIGTERM), a process that runs another program
// is spared, and every fall-back leaves a bundle that starts; the user's desktop
// entry of the bundle is written again from the new bundle, no other entry.
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "updater/swap_script.h"

extern char** environ;

namespace fs = std::filesystem;
using std::chrono::seconds;

namespace corvane {
namespace {

pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// A child's wait status once it has ended.
std::optional<int> reaped(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid ? std::optional<int>(status) : std::nullopt;
}

class SwapScript : public testing::Test {
protected:
    void SetUp() override {
        root = fs::canonical(box.path());
        app = root / "inst" / "Corvane.app";
        staged = root / "inst" / ".Corvane-new.app";
        old = root / "inst" / ".Corvane-old.app";
        script = root / "corvane-swap-test.sh";
        makeBundle(app, "old");
        makeBundle(staged, "new");
        ASSERT_FALSE(writeSwapScript(script).has_value());
    }

    void TearDown() override {
        if (standIn > 0 && !standInStatus) {
            ::kill(standIn, SIGKILL);
            ::waitpid(standIn, nullptr, 0);
        }
    }

    // A bundle whose program only notes that it was started, and which bundle it was.
    void makeBundle(const fs::path& bundle, const std::string& label) const {
        fs::create_directories(bundle / "bin");
        test::writeFile(bundle / "marker", label);
        test::writeFile(bundle / "bin" / "corvane", "#!/bin/sh\necho " + label + " >> '" + (root / "launched").string() + "'\n");
        fs::permissions(bundle / "bin" / "corvane", fs::perms(0755));
    }

    // Runs the script to its end, reaping the stand-in meanwhile (a zombie would still answer kill -0).
    void runScript(const fs::path& oldPath, pid_t pid) {
        const pid_t sh = spawn({"/bin/sh", script.string(), app.string(), staged.string(), oldPath.string(),
                                std::to_string(pid)});
        ASSERT_GT(sh, 0);
        std::optional<int> shStatus;
        ASSERT_TRUE(test::waitFor(
            [&] {
                if (standIn > 0 && !standInStatus) standInStatus = reaped(standIn);
                return (shStatus = reaped(sh)).has_value();
            },
            seconds(20)));
        EXPECT_TRUE(WIFEXITED(*shStatus) && WEXITSTATUS(*shStatus) == 0);
    }

    // What the started bundle noted, once its line is complete: the shell's ">>" makes
    // the file a moment before the line is written to it.
    std::string launched() const {
        std::string text;
        test::waitFor([&] {
            text = test::readFile(root / "launched");
            return text.ends_with('\n');
        });
        return text;
    }

    test::Sandbox box;
    fs::path root, app, staged, old, script;
    pid_t standIn = -1;
    std::optional<int> standInStatus;
};

TEST_F(SwapScript, writtenExecutableWithTheArgumentsAsItsOnlyInput) {
    EXPECT_EQ(fs::status(script).permissions() & fs::perms::mask, fs::perms(0755));
    EXPECT_EQ(test::readFile(script), swapScriptText());
    EXPECT_EQ(swapScriptText().rfind("#!/bin/sh\n", 0), 0u);
}

TEST_F(SwapScript, endsTheOldProgramEvenWhenItIgnoresSigtermThenSwapsAndStartsTheNewBundle) {
    fs::copy_file("/bin/sleep", app / "bin" / "sleep");
    standIn = spawn({"/bin/sh", "-c", "trap '' TERM; exec \"$0\" 60", (app / "bin" / "sleep").string()});
    ASSERT_GT(standIn, 0);
    const fs::path exe = "/proc/" + std::to_string(standIn) + "/exe";
    ASSERT_TRUE(test::waitFor([&] {
        std::error_code ec;
        return fs::read_symlink(exe, ec) == app / "bin" / "sleep";
    }));

    runScript(old, standIn);
    ASSERT_TRUE(standInStatus.has_value());
    EXPECT_TRUE(WIFSIGNALED(*standInStatus) && WTERMSIG(*standInStatus) == SIGKILL);
    EXPECT_EQ(test::readFile(app / "marker"), "new");
    EXPECT_FALSE(fs::exists(staged));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_FALSE(fs::exists(script));
    EXPECT_EQ(launched(), "new\n");
}

TEST_F(SwapScript, sparesAProcessRunningAnotherProgramAndSwapsAfterItsPolls) {
    standIn = spawn({"/bin/sleep", "60"});
    ASSERT_GT(standIn, 0);
    runScript(old, standIn);
    EXPECT_FALSE(standInStatus.has_value()) << "the stand-in was ended";
    EXPECT_EQ(::kill(standIn, 0), 0);
    EXPECT_EQ(test::readFile(app / "marker"), "new");
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(launched(), "new\n");
}

TEST_F(SwapScript, aFailedMoveKeepsOrRestoresTheOldBundleAndStartsIt) {
    const pid_t gone = spawn({"/bin/true"});
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);

    struct Case {
        const char* what;
        bool withStaged;
        fs::path oldPath;
    };
    const Case cases[] = {
        {"the old bundle cannot be moved aside", true, root / "no-such-folder" / ".Corvane-old.app"},
        {"the new bundle cannot be moved in", false, old},
    };
    for (const Case& c : cases) {
        fs::remove_all(staged);
        fs::remove(root / "launched");
        if (c.withStaged) makeBundle(staged, "new");
        ASSERT_FALSE(writeSwapScript(script).has_value());
        runScript(c.oldPath, gone);
        EXPECT_EQ(test::readFile(app / "marker"), "old") << c.what;
        EXPECT_FALSE(fs::exists(staged)) << c.what;
        EXPECT_FALSE(fs::exists(old)) << c.what;
        EXPECT_FALSE(fs::exists(script)) << c.what;
        EXPECT_EQ(launched(), "old\n") << c.what;
    }
}

TEST_F(SwapScript, theUsersEntryOfThisBundleIsWrittenAgainByTheNewBundlesInstaller) {
    const fs::path data = root / "data";
    const fs::path entry = data / "applications" / "corvane.desktop";
    const fs::path installed = root / "installed";
    // The new bundle's installer notes which program it was asked to write the entry for.
    const auto stageWithInstaller = [&] {
        fs::remove_all(staged);
        makeBundle(staged, "new");
        const fs::path installer = staged / "share" / "corvane" / "desktop-entry.sh";
        fs::create_directories(installer.parent_path());
        test::writeFile(installer, "#!/bin/sh\necho \"$1\" >> '" + installed.string() + "'\n");
        fs::permissions(installer, fs::perms(0755));
    };
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string kept = before ? before : "";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);

    struct Case {
        const char* what;
        std::optional<std::string> entryText;
        bool written;
    };
    const Case cases[] = {
        {"an entry of this bundle", "[Desktop Entry]\nTryExec=" + (app / "bin" / "corvane").string() + "\n", true},
        {"an entry of the built program elsewhere", "[Desktop Entry]\nTryExec=/home/lin/corvane/build/corvane\n", false},
        {"no entry", std::nullopt, false},
    };
    for (const Case& c : cases) {
        fs::remove_all(data);
        fs::remove(installed);
        fs::remove(root / "launched");
        fs::remove_all(app);
        makeBundle(app, "old");
        stageWithInstaller();
        if (c.entryText) {
            fs::create_directories(entry.parent_path());
            test::writeFile(entry, *c.entryText);
        }
        ASSERT_FALSE(writeSwapScript(script).has_value());
        const pid_t gone = spawn({"/bin/true"});
        ASSERT_GT(gone, 0);
        ::waitpid(gone, nullptr, 0);
        runScript(old, gone);
        EXPECT_EQ(test::readFile(app / "marker"), "new") << c.what;
        EXPECT_EQ(launched(), "new\n") << c.what;
        EXPECT_EQ(test::readFile(installed), c.written ? (app / "bin" / "corvane").string() + "\n" : "") << c.what;
    }
    if (before) {
        ::setenv("XDG_DATA_HOME", kept.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

}  // namespace
}  // namespace corvane
