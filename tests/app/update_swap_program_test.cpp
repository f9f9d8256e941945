// The self-update from the outside: an installed copy of the program started
// with "--update-now" downloads a package from a loopback server, quits, is
// swapped for the package's bundle by the script and comes back as the new
// copy; a package with the wrong digest leaves the installed copy exactly as it was.
#include <csignal>
#include <map>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "program_run.h"
#include "support/boot_log_lines.h"
#include "support/scripted_http_server.h"
#include "support/zip_writer.h"
#include "updater/package_md5.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;
using std::chrono::seconds;

// Every entry below a folder: its type, mode and content (or link target).
std::map<std::string, std::string> treeOf(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        const std::string name = item.path().lexically_relative(folder).string();
        struct stat st {};
        ::lstat(item.path().c_str(), &st);
        std::string facts = std::to_string(st.st_mode);
        if (item.is_symlink()) facts += " -> " + fs::read_symlink(item.path()).string();
        else if (item.is_regular_file()) facts += " " + md5HexOfFile(item.path()).value_or("?");
        tree[name] = facts;
    }
    return tree;
}

class UpdateSwap : public testing::Test {
protected:
    void SetUp() override {
        if (!enterFreshNetwork()) GTEST_SKIP() << "needs a network namespace of its own (run as root)";
        server = std::make_unique<ScriptedHTTPServer>();
        run = std::make_unique<ProgramRun>(server->base() + "update.json");
        installed = fs::canonical(run->sandbox()) / "inst" / "Corvane.app";
        fs::create_directories(installed / "bin");
        fs::copy_file(CORVANE_BINARY, installed / "bin" / "corvane");
        writeFile(installed / "marker", "old");
        run->useExecutable(installed / "bin" / "corvane");

        const fs::path zip = run->sandbox() / "package.zip";
        ASSERT_TRUE(writeZip(zip, {ZipItem::folder("Corvane.app/"), ZipItem::folder("Corvane.app/bin/"),
                                   ZipItem::file("Corvane.app/bin/corvane", readFile(CORVANE_BINARY), 0755),
                                   ZipItem::file("Corvane.app/marker", "new"),
                                   ZipItem::symlink("Corvane.app/link", "marker")}));
        package = readFile(zip);
        packageMD5 = md5HexOfFile(zip).value_or("");
        fs::remove(zip);
        server->setReply("/Corvane-999.0.zip", {200, "application/zip", package});
    }

    void TearDown() override {
        if (run) killProcessesRunningFrom(run->sandbox());
    }

    void offer(const std::string& md5) {
        const json manifest = {{"latest", "999.0"},
                               {"files", {{"linux", {{"url", server->base() + "Corvane-999.0.zip"}, {"md5", md5}}}}}};
        server->setReply("/update.json", {200, "application/json", manifest.dump()});
    }

    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const fs::path& folder : {installed.parent_path(), run->tempFolder()}) {
            for (const auto& item : fs::directory_iterator(folder)) {
                if (item.path() != installed) names.push_back(item.path().filename().string());
            }
        }
        return names;
    }

    std::unique_ptr<ScriptedHTTPServer> server;
    std::unique_ptr<ProgramRun> run;
    fs::path installed;
    std::string package;
    std::string packageMD5;
};

TEST_F(UpdateSwap, theInstalledCopyIsSwappedAndTheNewOneStartsByItself) {
    offer(packageMD5);
    ASSERT_TRUE(run->start({"--update-now"}));
    ASSERT_EQ(run->waitForExit(seconds(60)), 0) << run->output();
    EXPECT_TRUE(hasLineStarting(run->bootLog(), "--update-now：发现 v999.0，开始安装"));
    EXPECT_EQ(run->bootLog().back(), "退出");  // the old copy quit in order

    std::optional<RawReply> info;
    ASSERT_TRUE(waitFor(
        [&] {
            info = httpRequest(8899, "GET", "/api/info");
            return info && info->status == 200;
        },
        seconds(30)));
    const std::vector<pid_t> newCopy = processesRunningFrom(installed);
    ASSERT_EQ(newCopy.size(), 1u);
    // Started without arguments, so no second update branch.
    EXPECT_EQ(readFile("/proc/" + std::to_string(newCopy[0]) + "/cmdline"), (installed / "bin" / "corvane").string() + '\0');
    EXPECT_TRUE(waitFor([&] { return leftovers().empty(); })) << testing::PrintToString(leftovers());

    EXPECT_EQ(readFile(installed / "marker"), "new");
    EXPECT_TRUE((fs::status(installed / "bin" / "corvane").permissions() & fs::perms::owner_exec) != fs::perms::none);
    ASSERT_TRUE(fs::is_symlink(installed / "link"));
    EXPECT_EQ(fs::read_symlink(installed / "link"), "marker");
    EXPECT_EQ(readFile(run->cacheFolder() / "CorvaneUpdate" / "Corvane-999.0.zip"), package);
    const std::vector<std::string> log = run->bootLog();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("进程启动 pid=", 0) == 0; }),
              2);

    ::kill(newCopy[0], SIGTERM);
    EXPECT_TRUE(waitFor([&] { return processEnded(newCopy[0]); }, seconds(15)));
    EXPECT_EQ(run->bootLog().back(), "退出");
}

TEST_F(UpdateSwap, aPackageWithTheWrongDigestLeavesTheInstalledCopyAsItWas) {
    const std::map<std::string, std::string> before = treeOf(installed);
    offer(std::string(32, '0'));
    ASSERT_TRUE(run->start({"--update-now"}));
    ASSERT_EQ(run->waitForExit(seconds(60)), 0) << run->output();
    const std::vector<std::string> log = run->bootLog();
    EXPECT_TRUE(hasLineStarting(log, "更新包校验失败：期望 " + std::string(32, '0') + "，实际 " + packageMD5));
    EXPECT_TRUE(hasLineStarting(
        log, "--update-now：安装失败（failed(\"安装包校验不通过（可能没下完整），请重试一次\")）"));
    EXPECT_EQ(treeOf(installed), before);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(run->cacheFolder() / "CorvaneUpdate" / "Corvane-999.0.zip"));
    EXPECT_TRUE(processesRunningFrom(installed).empty());
}

}  // namespace
}  // namespace corvane::test
