// Uploads onto a full file system: a small tmpfs as the receive folder, in a mount
// namespace of a forked (single-threaded) child.

#include <gtest/gtest.h>

#include "engine/server/http_server.h"
#include "engine/server/storage_gate.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"
#include "support/small_tmpfs.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

bool check(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "failed: %s\n", what);
    return ok;
}

// Runs in the child: the server on the full folder, a WebDAV PUT and a NAS upload
// that do not fit.
bool uploadsOntoAFullDisk(const fs::path& recv) {
    writeFile(recv / "f.bin", "old contents");
    ServerOptions options;
    options.firstPort = testPortBase(20);
    options.lastPort = options.firstPort + 19;
    options.addRoutes = [](RouteTable& table) { addStorageRoutes(table, StorageContext{std::make_shared<TeamStore>(), std::make_shared<Mailer>(), TeamStore::systemClock()}); };
    options.nasExt = [] { return true; };
    HTTPServer server("dev", "Desk", "tok", "", recv, options);
    if (!check(server.start(), "start")) return false;
    const std::string big(1 << 20, 'b');

    const auto put = httpRequest(server.port(), "PUT", "/dav/f.bin", {}, big);
    bool ok = check(put && put->status == 507 && put->body == storageFullText, "dav status");
    ok &= check(readFile(recv / "f.bin") == "old contents", "old file whole");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(recv)) ++entries;
    ok &= check(entries == 2, "no temporary file (f.bin and .parts only)");

    const auto upload = httpRequest(server.port(), "PUT", "/api/fs/upload?name=u.bin", {}, big);
    ok &= check(upload && upload->status == 507 && upload->body == R"({"error":"存储空间已满"})", "upload status");
    const auto tasks = server.receiveTasksSnapshot();
    ok &= check(tasks.size() == 1 && tasks[0].state == "中断", "task interrupted");
    ok &= check(!fs::exists(recv / "u.bin"), "no partial file left to fill the disk");
    server.stop();
    return ok;
}

TEST(FullDiskDeathTest, AFailedPutKeepsTheOldFileAndAFailedUploadEndsItsTaskLeavingNoFile) {
    if (!canMount()) GTEST_SKIP() << "needs root for a mount namespace";
    Sandbox box;
    fs::create_directories(box / "recv");
    EXPECT_EXIT(
        {
            if (!mountSmallTmpfs(box / "recv", 256 * 1024)) std::_Exit(3);
            std::_Exit(uploadsOntoAFullDisk(box / "recv") ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane::test
