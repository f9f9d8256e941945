#pragma once
// A real server on loopback for the peer-route tests: its own receive folder, a
// switchable team mode, a hand-set clock, recorded events and a storage extension
// that names the hook each request reached.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/http_response.h"
#include "engine/http_server.h"
#include "support/test_support.h"

namespace corvane::test {

// Answers the routed hooks with 200 {"hook": name}; the team routes take "/api/team" only.
class HookRecorder : public StubStorageHooks {
public:
    void davRoute(HTTPServer&, int fd, const HTTPReq&) override { answer(fd, "dav"); }
    bool teamRoute(HTTPServer&, int fd, const HTTPReq& req, const std::string&) override {
        if (req.path != "/api/team") return false;
        answer(fd, "team");
        return true;
    }
    void fsList(HTTPServer&, int fd, const HTTPReq&) override { answer(fd, "fsList"); }
    void fsMkdir(HTTPServer&, int fd, const HTTPReq&) override { answer(fd, "fsMkdir"); }
    void fsRename(HTTPServer&, int fd, const HTTPReq&) override { answer(fd, "fsRename"); }
    void fsDelete(HTTPServer&, int fd, const HTTPReq&) override { answer(fd, "fsDelete"); }
    void trashList(HTTPServer&, int fd) override { answer(fd, "trashList"); }
    void trashRestore(HTTPServer&, int fd, const HTTPReq&) override { answer(fd, "trashRestore"); }
    void trashDelete(HTTPServer&, int fd, const HTTPReq&) override { answer(fd, "trashDelete"); }
    void trashEmpty(HTTPServer&, int fd) override { answer(fd, "trashEmpty"); }

private:
    static void answer(int fd, const std::string& hook) { sendJSON(fd, 200, {{"hook", hook}}); }
};

// What the server's callbacks read and write; shared with connection threads that
// may outlive a test by a moment.
struct RouteControls {
    std::atomic<bool> nasExt{false};
    std::atomic<double> clock{1700000000.0};
    std::mutex eventsLock;
    std::vector<ServerEvent> events;
};

class RouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = sandbox / "recv";
        ServerOptions options;
        options.firstPort = testPortBase(20);
        options.lastPort = options.firstPort + 19;
        options.storage = std::make_shared<HookRecorder>();
        auto shared = controls;
        options.nasExt = [shared] { return shared->nasExt.load(); };
        options.clock = [shared] { return shared->clock.load(); };
        options.burnLimits = burnLimits;
        server = std::make_shared<HTTPServer>("dev-1", "Desk", "tok", "", root, options);
        server->onEvent = [shared](const ServerEvent& e) {
            std::lock_guard lock(shared->eventsLock);
            shared->events.push_back(e);
        };
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

    std::vector<ServerEvent> events() {
        std::lock_guard lock(controls->eventsLock);
        return controls->events;
    }

    void setClock(double seconds) { controls->clock = seconds; }
    double clock() const { return controls->clock.load(); }

    Sandbox sandbox;
    std::filesystem::path root;
    BurnLimits burnLimits;  // set by a fixture's constructor before SetUp
    std::shared_ptr<RouteControls> controls = std::make_shared<RouteControls>();
    std::shared_ptr<HTTPServer> server;
};

}  // namespace corvane::test
