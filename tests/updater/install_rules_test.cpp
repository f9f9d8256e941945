// The small rules of an install: the download share, the package's digest, the
// version that may name a file, what counts as a bundle, and a tool's failure text.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "updater/bundle_staging.h"
#include "updater/package_download.h"
#include "updater/package_md5.h"
#include "updater/update_cache.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

TEST(DownloadFraction, isClampedAndUnknownWithoutATotal) {
    const struct {
        int64_t written, total;
        std::optional<double> fraction;
    } cases[] = {
        {0, 100, 0.0},      {50, 100, 0.5}, {100, 100, 1.0}, {150, 100, 1.0}, {-5, 100, 0.0},
        {1, 1, 1.0},        {5, 0, std::nullopt}, {5, -1, std::nullopt}, {0, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(downloadFraction(c.written, c.total), c.fraction) << c.written << "/" << c.total;
    }
}

TEST(PackageMD5, digestsFilesOfAnySizeAndRefusesUnreadableOnes) {
    test::Sandbox box;
    const struct {
        std::string bytes;
        const char* md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},  // many pieces
    };
    for (const auto& c : cases) {
        test::writeFile(box / "p.zip", c.bytes);
        EXPECT_EQ(md5HexOfFile(box / "p.zip"), std::optional<std::string>(c.md5)) << c.bytes.size();
    }
    EXPECT_EQ(md5HexOfFile(box / "missing.zip"), std::nullopt);
    EXPECT_EQ(md5HexOfFile(box.path()), std::nullopt);  // a folder
}

TEST(PackageFileName, onlyPlainVersionsNameAFile) {
    const std::pair<const char*, const char*> accepted[] = {
        {"1.4.2", "Corvane-1.4.2.zip"}, {"2.0-beta_1", "Corvane-2.0-beta_1.zip"}, {"...", "Corvane-....zip"}};
    for (const auto& [latest, name] : accepted) EXPECT_EQ(packageFileName(latest), std::optional<std::string>(name));
    for (const char* latest : {"", ".", "..", "../x", "1.0/../../x", "/abs", "1 2", "1.0\n", "版本", "a\\b"}) {
        EXPECT_EQ(packageFileName(latest), std::nullopt) << latest;
    }
}

TEST(BundleOfExecutable, isTheAppFolderTwoLevelsUpFromBin) {
    const std::pair<const char*, std::optional<fs::path>> cases[] = {
        {"/opt/Corvane.app/bin/corvane", fs::path("/opt/Corvane.app")},
        {"/home/u/Other.app/bin/corvane", fs::path("/home/u/Other.app")},
        {"/work/build/corvane", std::nullopt},
        {"/opt/Corvane.app/corvane", std::nullopt},
        {"/opt/Corvane.app/lib/corvane", std::nullopt},
        {"/opt/Corvane.app.old/bin/corvane", std::nullopt},
        {"/usr/bin/corvane", std::nullopt},
    };
    for (const auto& [exe, bundle] : cases) EXPECT_EQ(bundleOfExecutable(exe), bundle) << exe;
}

TEST(RunTool, aNonZeroStatusOrAFailedStartIsAnError) {
    EXPECT_FALSE(runTool("/bin/true", {}).has_value());
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"/bin/false"}, "系统命令执行失败（/bin/false 返回 1）"},
        {{"/bin/sh", "-c", "exit 7"}, "系统命令执行失败（/bin/sh 返回 7）"},
        {{"/bin/sh", "-c", "kill -9 $$"}, "系统命令执行失败（/bin/sh 返回 137）"},
        {{"/nonexistent/tool"}, "/nonexistent/tool: No such file or directory"},
    };
    for (const auto& [command, text] : cases) {
        const auto failure = runTool(command[0], {command.begin() + 1, command.end()});
        ASSERT_TRUE(failure.has_value()) << command[0];
        EXPECT_EQ(failure->message, text);
    }
}

}  // namespace
}  // namespace corvane
