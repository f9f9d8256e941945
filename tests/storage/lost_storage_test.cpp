// A receive folder on a FUSE file system whose daemon has died (ENOTCONN): every route
// that reads or writes it says the storage cannot be reached, none shows an empty folder
// or a missing name; and the boot log notes the start and the end of a fault once each.

#include <gtest/gtest.h>

#include "engine/server/storage_gate.h"
#include "support/fuse_bind.h"
#include "team_routes_fixture.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace corvane::test {
namespace {

class LostStorageTest : public TeamSpaceTest {
protected:
    void SetUp() override {
        fs::create_directories(box / "disk");
        fs::create_directories(box / "recv");
        const std::string refused = bind.mount(box / "disk", box / "recv");
        if (!refused.empty()) GTEST_SKIP() << refused;
        TeamSpaceTest::SetUp();
    }

    void TearDown() override {
        if (server) TeamSpaceTest::TearDown();
    }

    FuseBind bind;
};

TEST_F(LostStorageTest, EveryRouteOnTheFolderSaysTheStorageCannotBeReached) {
    writeFile(box / "disk" / "a.txt", "kept");
    writeFile(box / "disk" / "_shared" / "s.txt", "kept");
    ASSERT_EQ(call("GET", "/api/fs").status, 200);
    ASSERT_NE(call("GET", "/api/fs").body.find("a.txt"), std::string::npos) << "the listing goes through the mount";
    // Uploads from a device: one whole to finish, one waiting for its chunk, one with a
    // part folder (its chunk came before its meta) whose meta comes again.
    const std::string upload = "/api/upload/";
    const std::string whole = "a1a1a1a1a1a1a1a1", waiting = "a2a2a2a2a2a2a2a2", folder = "a3a3a3a3a3a3a3a3";
    const std::string meta = json{{"name", "u.bin"}, {"rel", ""}, {"size", 3}, {"chunks", 1}}.dump();
    ASSERT_EQ(call("PUT", upload + whole + "/meta", meta).status, 200);
    ASSERT_EQ(call("PUT", upload + whole + "/0", "abc").status, 200);
    ASSERT_EQ(call("PUT", upload + waiting + "/meta", meta).status, 200);
    ASSERT_EQ(call("PUT", upload + folder + "/0", "abc").status, 200);

    ASSERT_TRUE(bind.lose());

    const std::string unreachable = json{{"error", storageUnreachableText}}.dump();
    const std::map<std::string, std::string> session{{"Cookie", "qp_s=" + amy}};
    struct Case {
        std::string method, target, body;
        std::map<std::string, std::string> headers;
        std::string reply;
    };
    const std::vector<Case> cases = {
        {"GET", "/api/fs", "", {}, unreachable},
        {"GET", "/api/fs?path=docs", "", {}, unreachable},
        {"POST", "/api/fs/mkdir", R"({"path":"new"})", {}, unreachable},
        {"GET", "/api/files", "", {}, unreachable},
        {"GET", "/api/trash", "", {}, unreachable},
        {"POST", "/api/fs/delete", R"({"path":"a.txt"})", {}, unreachable},
        {"PUT", "/api/fs/upload?name=u.bin", "new bytes", {}, unreachable},
        {"PROPFIND", "/dav/", "", {{"Depth", "1"}}, storageUnreachableText},
        {"PUT", "/dav/new.txt", "new bytes", {}, storageUnreachableText},
        {"GET", "/api/tf/list?scope=shared", "", session, unreachable},
        {"PUT", "/api/tf/up?scope=shared&name=u.bin", "new bytes", session, unreachable},
        {"PUT", upload + folder + "/meta", meta, {}, unreachable},
        {"PUT", upload + waiting + "/0", "abc", {}, unreachable},
        {"POST", upload + whole + "/finish", "{}", {}, unreachable},
    };
    for (const Case& c : cases) {
        const RawReply reply = call(c.method, c.target, c.body, c.headers);
        EXPECT_EQ(reply.status, 503) << c.method << " " << c.target << ": " << reply.body;
        EXPECT_EQ(reply.body, c.reply) << c.method << " " << c.target;
    }
}

TEST(StorageWatch, NotesTheStartAndTheEndOfAnOutageOnceEach) {
    std::vector<std::string> lines;
    StorageWatch watch([&](const std::string& line) { lines.push_back(line); });
    watch.note("/srv/team", StorageFault::none, 0);
    watch.note("/srv/team", StorageFault::unreachable, ENOTCONN);
    watch.note("/srv/team", StorageFault::unreachable, EIO);
    watch.note("/srv/team", StorageFault::full, ENOSPC);  // a full disk still answers
    watch.note("/srv/team", StorageFault::none, 0);
    watch.note("/srv/team", StorageFault::none, 0);
    watch.note("/srv/team", StorageFault::full, ENOSPC);
    const std::vector<std::string> expected = {
        "存储无法访问：/srv/team（" + std::string(std::strerror(ENOTCONN)) + "）",
        "存储已恢复：/srv/team",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace corvane::test
