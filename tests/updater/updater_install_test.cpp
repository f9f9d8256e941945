// Installing against a loopback server that serves the manifest and the
// package: when install acts at all, the download with its progress and its
// cancel, the cache, the digest check and staging with its failures, each of
// which leaves the installed bundle as it was.
#include <cstdlib>
#include <sched.h>
#include <sys/mount.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/boot_log_lines.h"
#include "support/qt_wait.h"
#include "support/scripted_http_server.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "updater/package_md5.h"
#include "updater/updater.h"

namespace fs = std::filesystem;

namespace corvane {
namespace {

using nlohmann::json;
using test::ScriptedReply;
using test::ZipItem;
using Kind = UpdatePhase::Kind;

const char* const kNoChecksum = "清单缺少校验值，为安全起见请到下载页手动更新";
const char* const kRetry = "安装包校验不通过（可能没下完整），请重试一次";

class TestUpdater : public Updater {
public:
    using Updater::Updater;
    using Updater::setPhase;
    using Updater::verifyAndInstall;
};

// Every file below a folder, by relative path.
std::vector<std::string> filesBelow(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().lexically_relative(folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string md5Of(const std::string& bytes, const fs::path& scratch) {
    test::writeFile(scratch, bytes);
    const std::string md5 = md5HexOfFile(scratch).value_or("");
    fs::remove(scratch);
    return md5;
}

class UpdaterInstall : public testing::Test {
protected:
    void SetUp() override {
        setenv("CORVANE_MANIFEST", (server.base() + "update.json").c_str(), 1);
        fs::create_directories(installed() / "bin");
        test::writeFile(installed() / "bin" / "corvane", "old program");
        test::writeFile(installed() / "marker", "old");
        fs::create_directories(temp());
        package = makePackage({ZipItem::folder("Corvane.app/"), ZipItem::file("Corvane.app/bin/corvane", "new", 0755),
                               ZipItem::file("Corvane.app/marker", "new"), ZipItem::symlink("Corvane.app/link", "marker")});
    }
    void TearDown() override { unsetenv("CORVANE_MANIFEST"); }

    fs::path installed() const { return box / "inst" / "Corvane.app"; }
    fs::path temp() const { return box / "tmp"; }
    fs::path cache() const { return box / "cache"; }
    std::string packageURL() const { return server.base() + "Corvane-9.0.zip"; }

    std::string makePackage(const std::vector<ZipItem>& items) const {
        const fs::path zip = box / "made.zip";
        EXPECT_TRUE(test::writeZip(zip, items));
        const std::string bytes = test::readFile(zip);
        fs::remove(zip);
        return bytes;
    }

    Updater::Options options() {
        Updater::Options o;
        o.version = "1.2.0";
        o.logFolder = box / "logs";
        o.builtInManifestURL = "http://127.0.0.1:1/update.json";
        o.executable = installed() / "bin" / "corvane";
        o.cacheFolder = cache();
        o.tempFolder = temp();
        o.pid = 4242;
        o.openURL = [this](const std::string& url) { opened.push_back(url); };
        o.startSwap = [this](const SwapLaunch& launch) -> std::optional<UpdateError> {
            launches.push_back(launch);
            return launchFailure;
        };
        o.quitForSwap = [this] { ++quits; };
        return o;
    }

    // Serves a manifest offering version `latest` with this entry for the platform, and checks until it is available.
    void makeAvailable(TestUpdater& u, const json& files, const std::string& latest = "9.0") {
        json manifest = {{"latest", latest}};
        if (!files.is_null()) manifest["files"] = files;
        server.setReply("/update.json", {200, "application/json", manifest.dump()});
        u.check(false);
        ASSERT_TRUE(test::qtWaitFor([&] { return u.phase().kind == Kind::available; })) << u.phase().text();
    }
    json entry(const std::string& md5) const { return {{"linux", {{"url", packageURL()}, {"md5", md5}}}}; }
    json goodEntry() const { return entry(md5Of(package, box / "scratch")); }

    void servePackage(ScriptedReply reply) { server.setReply("/Corvane-9.0.zip", std::move(reply)); }
    void servePackage() { servePackage({200, "application/zip", package}); }

    // Installs and waits until it failed or handed the swap over.
    void installToTheEnd(TestUpdater& u) {
        u.install();
        ASSERT_TRUE(test::qtWaitFor([&] { return u.phase().kind == Kind::failed || quits > 0; }, std::chrono::seconds(20)))
            << u.phase().text();
    }

    size_t packageRequests() const {
        size_t n = 0;
        for (const HTTPReq& r : server.requests()) n += r.path == "/Corvane-9.0.zip";
        return n;
    }

    // The installed bundle is as the test made it and no staging or temporary file is left.
    void expectUntouched(const std::string& what) const {
        EXPECT_EQ(test::readFile(installed() / "marker"), "old") << what;
        EXPECT_EQ(test::readFile(installed() / "bin" / "corvane"), "old program") << what;
        EXPECT_FALSE(fs::exists(box / "inst" / ".Corvane-old.app")) << what;
        EXPECT_EQ(filesBelow(temp()), std::vector<std::string>{}) << what;
        EXPECT_EQ(quits, 0) << what;
    }

    test::Sandbox box;
    test::ScriptedHTTPServer server;
    std::string package;
    std::vector<std::string> opened;
    std::vector<SwapLaunch> launches;
    std::optional<UpdateError> launchFailure;
    int quits = 0;
};

TEST_F(UpdaterInstall, outsideAvailableInstallDoesNothing) {
    TestUpdater u(options());
    for (const UpdatePhase& phase : {UpdatePhase::idle(), UpdatePhase::of(Kind::checking), UpdatePhase::of(Kind::latest),
                                     UpdatePhase::downloading(0.5), UpdatePhase::of(Kind::verifying),
                                     UpdatePhase::of(Kind::installing), UpdatePhase::failed("x")}) {
        u.setPhase(phase);
        u.install();
        EXPECT_EQ(u.phase(), phase);
    }
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(UpdaterInstall, withoutAUsablePackageTheDownloadPageOpensAndTheUpdateStaysAvailable) {
    const json cases[] = {
        json(),
        json{{"mac", {{"url", "http://127.0.0.1:9/m.zip"}, {"md5", std::string(32, 'a')}}}},
        json{{"linux", {{"url", "not a url"}, {"md5", std::string(32, 'a')}}}},
        json{{"linux", {{"url", "http://bad host/p.zip"}, {"md5", std::string(32, 'a')}}}},
        json{{"linux", {{"url", ""}}}},
    };
    for (const json& files : cases) {
        TestUpdater u(options());
        makeAvailable(u, files);
        opened.clear();
        u.install();
        EXPECT_EQ(u.phase(), UpdatePhase::of(Kind::available)) << files;
        EXPECT_EQ(opened, std::vector<std::string>{Updater::pageURL()}) << files;
    }
    EXPECT_EQ(packageRequests(), 0u);
}

TEST_F(UpdaterInstall, aMissingOrMisshapenChecksumFailsWithoutADownload) {
    const json cases[] = {
        json{{"linux", {{"url", "http://127.0.0.1:9/p.zip"}}}},
        entry(std::string(31, 'a')),
        entry(std::string(33, 'a')),
        entry(""),
    };
    for (const json& files : cases) {
        TestUpdater u(options());
        makeAvailable(u, files);
        u.install();
        EXPECT_EQ(u.phase(), UpdatePhase::failed(kNoChecksum)) << files;
    }
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(packageRequests(), 0u);
}

TEST_F(UpdaterInstall, aVersionThatCannotNameAFileFailsBeforeAnythingIsWritten) {
    servePackage();
    TestUpdater u(options());
    makeAvailable(u, goodEntry(), "9.0/../../../escaped");
    u.install();
    EXPECT_EQ(u.phase(), UpdatePhase::failed("保存安装包失败：版本号不能用作文件名"));
    test::qtSpin(std::chrono::milliseconds(200));
    EXPECT_EQ(packageRequests(), 0u);
    EXPECT_FALSE(fs::exists(cache()));
    expectUntouched("bad version");
}

TEST_F(UpdaterInstall, aGoodPackageIsCachedStagedAndTheSwapHandedOver) {
    // Leftovers of an earlier attempt go first.
    fs::create_directories(box / "inst" / ".Corvane-new.app" / "junk");
    fs::create_directories(box / "inst" / ".Corvane-old.app");
    servePackage();
    TestUpdater u(options());
    std::string md5 = md5Of(package, box / "scratch");
    for (char& c : md5) c = char(std::toupper(c));
    makeAvailable(u, entry(md5));
    std::vector<UpdatePhase> seen;
    QObject::connect(&u, &Updater::phaseChanged, [&] { seen.push_back(u.phase()); });

    installToTheEnd(u);
    ASSERT_EQ(quits, 1) << u.phase().text();
    EXPECT_EQ(u.expectedMD5(), md5Of(package, box / "scratch"));
    EXPECT_EQ(u.phase(), UpdatePhase::of(Kind::installing));
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), UpdatePhase::downloading(0));
    EXPECT_EQ(seen[seen.size() - 2], UpdatePhase::of(Kind::verifying));
    for (size_t i = 1; i + 2 < seen.size(); ++i) {
        EXPECT_EQ(seen[i].kind, Kind::downloading);
        EXPECT_GE(seen[i].fraction, seen[i - 1].fraction);
        EXPECT_LE(seen[i].fraction, 1.0);
    }

    ASSERT_EQ(launches.size(), 1u);
    const SwapLaunch& launch = launches[0];
    EXPECT_EQ(launch.app, installed());
    EXPECT_EQ(launch.newBundle, box / "inst" / ".Corvane-new.app");
    EXPECT_EQ(launch.oldBundle, box / "inst" / ".Corvane-old.app");
    EXPECT_EQ(launch.pid, 4242);
    EXPECT_EQ(launch.script.parent_path(), temp());
    EXPECT_EQ(launch.script.filename().string().rfind("corvane-swap-", 0), 0u);
    EXPECT_EQ(launch.script.extension(), ".sh");
    EXPECT_EQ(fs::status(launch.script).permissions() & fs::perms::mask, fs::perms(0755));
    EXPECT_EQ(filesBelow(temp()), std::vector<std::string>{launch.script.filename().string()});

    EXPECT_EQ(filesBelow(launch.newBundle), (std::vector<std::string>{"bin", "bin/corvane", "link", "marker"}));
    EXPECT_EQ(fs::status(launch.newBundle / "bin" / "corvane").permissions() & fs::perms::mask, fs::perms(0755));
    EXPECT_EQ(fs::read_symlink(launch.newBundle / "link"), "marker");
    EXPECT_FALSE(fs::exists(launch.oldBundle));
    EXPECT_EQ(test::readFile(installed() / "marker"), "old");
    EXPECT_EQ(test::readFile(cache() / "Corvane-9.0.zip"), package);
}

TEST_F(UpdaterInstall, aPackageFailingItsDigestIsDeletedAndBothDigestsLogged) {
    const std::string page = "<html><body>404 Not Found</body></html>";
    servePackage({404, "text/html", page});
    TestUpdater u(options());
    const std::string expected = md5Of(package, box / "scratch");
    makeAvailable(u, entry(expected));
    installToTheEnd(u);
    EXPECT_EQ(u.phase(), UpdatePhase::failed(kRetry));
    EXPECT_TRUE(test::hasLineStarting(test::bootLogLines(box / "logs"),
                                      "更新包校验失败：期望 " + expected + "，实际 " + md5Of(page, box / "scratch")));
    EXPECT_EQ(filesBelow(cache()), std::vector<std::string>{});
    expectUntouched("digest mismatch");
}

TEST_F(UpdaterInstall, aCutDownloadIsInterrupted) {
    servePackage({200, "application/zip", package, package.size() + 5000});
    TestUpdater u(options());
    makeAvailable(u, goodEntry());
    installToTheEnd(u);
    EXPECT_EQ(u.phase(), UpdatePhase::failed("下载中断：网络连接已中断。")) << u.phase().text();
    EXPECT_FALSE(fs::exists(cache() / "Corvane-9.0.zip"));
    expectUntouched("cut download");
}

// A file:// URL once copied a local file into the cache; it passed the digest check too.
TEST_F(UpdaterInstall, onlyHTTPAndHTTPSPackageURLsAreFetched) {
    const fs::path local = box / "local.zip";
    test::writeFile(local, package);
    const std::string md5 = md5Of(package, box / "scratch");
    const std::vector<std::string> urls = {"file://" + local.string(), "ftp://127.0.0.1:9/p.zip", "dict://127.0.0.1:9/p"};
    for (const std::string& url : urls) {
        TestUpdater u(options());
        makeAvailable(u, {{"linux", {{"url", url}, {"md5", md5}}}});
        installToTheEnd(u);
        EXPECT_EQ(u.phase(), UpdatePhase::failed("下载中断：发生了未知错误。（Unsupported protocol）")) << url << ": " << u.phase().text();
        EXPECT_EQ(filesBelow(cache()), std::vector<std::string>{}) << url;
        expectUntouched(url);
    }
}

TEST_F(UpdaterInstall, cancellingADownloadGoesBackToAvailableAndLeavesNothing) {
    servePackage({200, "application/zip", package.substr(0, 100), package.size(), false, true});
    TestUpdater u(options());
    makeAvailable(u, goodEntry());
    u.install();
    ASSERT_TRUE(test::qtWaitFor([&] { return packageRequests() == 1 && u.phase().fraction > 0; })) << u.phase().text();
    u.cancel();
    EXPECT_EQ(u.phase(), UpdatePhase::of(Kind::available));
    // The cancelled transfer still reports its end, which changes nothing.
    ASSERT_TRUE(test::qtWaitFor([&] { return filesBelow(temp()).empty(); }));
    test::qtSpin(std::chrono::milliseconds(300));
    EXPECT_EQ(u.phase(), UpdatePhase::of(Kind::available));
    expectUntouched("cancelled");

    // Outside a download there is nothing to cancel.
    u.setPhase(UpdatePhase::failed("x"));
    u.cancel();
    EXPECT_EQ(u.phase(), UpdatePhase::failed("x"));
}

TEST_F(UpdaterInstall, aDownloadOfUnknownLengthShowsNoProgressUntilItEnds) {
    servePackage({200, "application/zip", package, std::nullopt, true});
    TestUpdater u(options());
    makeAvailable(u, goodEntry());
    std::vector<UpdatePhase> seen;
    QObject::connect(&u, &Updater::phaseChanged, [&] { seen.push_back(u.phase()); });
    installToTheEnd(u);
    EXPECT_EQ(quits, 1) << u.phase().text();
    EXPECT_EQ(seen, (std::vector<UpdatePhase>{UpdatePhase::downloading(0), UpdatePhase::of(Kind::verifying),
                                              UpdatePhase::of(Kind::installing)}));
}

TEST_F(UpdaterInstall, stagingFailuresSayWhatWentWrongAndLeaveTheInstalledBundleWhole) {
    struct Case {
        const char* what;
        std::vector<ZipItem> items;
        std::string message;
        fs::path executable;
        std::optional<UpdateError> launchFailure;
    };
    const std::vector<ZipItem> good = {ZipItem::file("Corvane.app/bin/corvane", "new", 0755)};
    const std::vector<Case> cases = {
        {"not a bundle", good, "当前不是以 App 方式运行，请到下载页手动更新", box / "build" / "corvane", std::nullopt},
        {"no bundle at the top",
         {ZipItem::file("Corvane/bin/corvane", "x"), ZipItem::folder("Corvane/Nested.app/"), ZipItem::file("Corvane.app", "a file")},
         "安装包内容异常（没找到 .app）", {}, std::nullopt},
        {"a refused entry", {ZipItem::file("Corvane.app/bin/corvane", "x"), ZipItem::file("../escaped", "x")},
         "解压安装包失败：Path contains '..'", {}, std::nullopt},
        {"the script does not start", good, "cannot start", {}, UpdateError{"cannot start"}},
    };
    for (const Case& c : cases) {
        package = makePackage(c.items);
        servePackage();
        Updater::Options o = options();
        if (!c.executable.empty()) o.executable = c.executable;
        launchFailure = c.launchFailure;
        TestUpdater u(o);
        makeAvailable(u, goodEntry());
        installToTheEnd(u);
        EXPECT_EQ(u.phase(), UpdatePhase::failed(c.message)) << c.what;
        EXPECT_FALSE(fs::exists(box / "inst" / ".Corvane-new.app")) << c.what;
        EXPECT_FALSE(fs::exists(box / "escaped")) << c.what;
        expectUntouched(c.what);
        EXPECT_EQ(test::readFile(cache() / "Corvane-9.0.zip"), package) << c.what;  // a verified package stays cached
    }
}

TEST_F(UpdaterInstall, aBundleInAFolderWithoutWriteAccessFailsBeforeUnpacking) {
    // A read-only file system refuses even root, which the tests run as.
    const fs::path readOnly = box / "ro";
    fs::create_directories(readOnly);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) {
        GTEST_SKIP() << "needs a mount namespace of its own";
    }
    servePackage();
    Updater::Options o = options();
    o.executable = readOnly / "Corvane.app" / "bin" / "corvane";
    TestUpdater u(o);
    makeAvailable(u, goodEntry());
    installToTheEnd(u);
    ::umount2(readOnly.c_str(), MNT_DETACH);
    EXPECT_EQ(u.phase(), UpdatePhase::failed("App 所在目录没有写权限。把「Corvane」拖到桌面或「应用程序」后再更新，或到下载页手动下载"));
    expectUntouched("read-only folder");
}

TEST_F(UpdaterInstall, anUnreadablePackageFails) {
    TestUpdater u(options());
    u.verifyAndInstall(box / "missing.zip");
    EXPECT_EQ(u.phase(), UpdatePhase::failed("读不到安装包"));
}

}  // namespace
}  // namespace corvane
