#pragma once
// A real server on loopback for the peer-route tests: its own receive folder, a
// switchable team mode, a hand-set clock, recorded events and a storage extension
// that names the hook each request reached.

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/server/http_response.h"
#include "engine/server/http_server.h"
#include "support/server_controls.h"
#include "support/test_support.h"

namespace corvane::test {

// Rows in the places the storage extension fills, each answering 200 {"hook": name}:
// WebDAV on "/dav" and below, the team route "/api/team" only, and the NAS file API.
inline void addHookRows(RouteTable& table) {
    const auto answer = [](const char* hook) {
        return [hook](Connection& c) { sendJSON(c.fd, 200, {{"hook", hook}}); };
    };
    const RouteFacts dav{.teamGated = true};
    table.add(RouteStage::dav, Route{{}, PathTest::exact("/dav"), answer("dav"), dav});
    table.add(RouteStage::dav, Route{{}, PathTest::prefix("/dav/"), answer("dav"), dav});
    table.add(RouteStage::team, Route{{}, PathTest::exact("/api/team"), answer("team"),
                                      RouteFacts{.teamGated = true, .pinExempt = true}});
    const struct { const char* method; const char* path; const char* hook; } nas[] = {
        {"GET", "/api/fs", "fsList"},          {"POST", "/api/fs/mkdir", "fsMkdir"},
        {"POST", "/api/fs/rename", "fsRename"}, {"POST", "/api/fs/delete", "fsDelete"},
        {"GET", "/api/trash", "trashList"},    {"POST", "/api/trash/restore", "trashRestore"},
        {"POST", "/api/trash/delete", "trashDelete"}, {"POST", "/api/trash/empty", "trashEmpty"},
    };
    for (const auto& row : nas) {
        table.add(RouteStage::nas, Route{{row.method}, PathTest::exact(row.path), answer(row.hook), {}});
    }
}

// Whether the parts folder holds nothing but spare folders (spent part folders kept for
// the next uploads), each empty but for the file of its last meta. A spare beyond those
// kept is removed meanwhile by the server: one gone while it is looked at holds nothing.
inline bool onlySpareFolders(const std::filesystem::path& parts) {
    for (const auto& entry : std::filesystem::directory_iterator(parts)) {
        if (!entry.path().filename().string().starts_with(".spare-")) return false;
        std::error_code ec;
        for (std::filesystem::directory_iterator inner(entry.path(), ec), end; !ec && inner != end; inner.increment(ec)) {
            if (inner->path().filename() != ".meta-spare") return false;
        }
        if (ec && ec != std::errc::no_such_file_or_directory) return false;
    }
    return true;
}

// The ids of the uploads the parts folder holds (hidden folders, spares and claims, left out).
inline std::set<std::string> heldUploads(const std::filesystem::path& parts) {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator(parts)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(".")) ids.insert(name);
    }
    return ids;
}

// Server options on this test process's own ports.
inline ServerOptions withTestPorts(ServerOptions options = {}) {
    options.firstPort = testPortBase(20);
    options.lastPort = options.firstPort + 19;
    return options;
}

class RouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = sandbox / "recv";
        ServerOptions options = withTestPorts();
        options.addRoutes = addRoutes;
        useControls(options, controls);
        options.burnLimits = burnLimits;
        options.uploadLimits = uploadLimits;
        options.maxReceiveTasks = maxReceiveTasks;
        options.bodyGrace = bodyGrace;
        options.onFinishStep = onFinishStep;
        server = std::make_shared<HTTPServer>("dev-1", "Desk", "tok", "", root, options);
        collectEvents(*server, controls);
        ASSERT_TRUE(server->start());
    }

    void TearDown() override { stopAndDrain(*server); }

    RawReply call(const std::string& method, const std::string& target, const std::string& body = "",
                  const std::map<std::string, std::string>& headers = {}) {
        auto reply = httpRequest(server->port(), method, target, headers, body);
        EXPECT_TRUE(reply.has_value()) << method << " " << target << " got no reply";
        return reply.value_or(RawReply{});
    }

    static nlohmann::json parse(const RawReply& reply) {
        return nlohmann::json::parse(reply.body, nullptr, false);
    }

    nlohmann::json callJSON(const std::string& method, const std::string& target, const std::string& body = "") {
        return parse(call(method, target, body));
    }

    std::vector<ServerEvent> events() { return eventsOnceIdle(*server, *controls); }

    void setClock(double seconds) { controls->clock = seconds; }
    double clock() const { return controls->clock.load(); }

    Sandbox sandbox;
    std::filesystem::path root;
    BurnLimits burnLimits;  // set by a fixture's constructor before SetUp
    UploadLimits uploadLimits;  // likewise
    size_t maxReceiveTasks = 1000;  // likewise
    std::chrono::milliseconds bodyGrace{20000};  // likewise
    std::function<void(RouteTable&)> addRoutes = addHookRows;  // likewise
    std::function<void(FinishStep)> onFinishStep;  // likewise
    std::shared_ptr<ServerControls> controls = std::make_shared<ServerControls>();
    std::shared_ptr<HTTPServer> server;
};

}  // namespace corvane::test
