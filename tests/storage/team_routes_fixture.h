#pragma once
// A real server on loopback with the storage rows registered over a private team store
// (quick password derivation, a clock the test moves), a short-waiting mailer, team
// mode on, and the events it raised. Plain helpers sign in as the administrator or a
// member and send requests with or without a session.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/server/http_server.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_crypto.h"
#include "storage/team_store.h"
#include "support/server_controls.h"
#include "support/test_support.h"

namespace corvane::test {

// Stored password data of few rounds, so that tests sign in quickly.
inline PasswordRecord quickRecord(const std::string& pass) {
    const std::string salt = teamRandomBytes(16);
    return PasswordRecord{base64Encode(salt), base64Encode(teamPBKDF2(pass, salt, 1000, 32)), 1000};
}

class TeamRouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = box / "recv";
        auto shared = controls;
        store = std::make_shared<TeamStore>([shared] { return shared->clock.load(); }, [](const std::string&) {},
                                            quickRecord);
        StorageContext context{store, mailer, [shared] { return shared->clock.load(); }};
        ServerOptions options;
        options.firstPort = testPortBase(20);
        options.lastPort = options.firstPort + 19;
        options.addRoutes = [context](RouteTable& table) { addStorageRoutes(table, context); };
        useControls(options, controls);
        server = std::make_shared<HTTPServer>("dev-1", "Desk", "tok", "", root, options);
        collectEvents(*server, controls);
        ASSERT_TRUE(server->start());
        store->bind(root);
    }

    void TearDown() override { stopAndDrain(*server); }

    RawReply call(const std::string& method, const std::string& target, const std::string& body = "",
                  const std::map<std::string, std::string>& headers = {}) {
        auto reply = httpRequest(server->port(), method, target, headers, body);
        EXPECT_TRUE(reply.has_value()) << method << " " << target << " got no reply";
        return reply.value_or(RawReply{});
    }
    // With the session cookie of `token`.
    RawReply as(const std::string& token, const std::string& method, const std::string& target,
                const nlohmann::json& body = nlohmann::json::object()) {
        return call(method, target, body.dump(), {{"Cookie", "qp_s=" + token}});
    }
    static nlohmann::json parse(const RawReply& reply) { return nlohmann::json::parse(reply.body, nullptr, false); }

    // The administrator "admin" (display name "Boss", password "boss-pass") and its session token.
    std::string adminToken() {
        if (!store->hasAdmin()) {
            EXPECT_TRUE(store->createAdmin("Boss", "boss-pass", ""));
        }
        return tokenOf(store->login("admin", "boss-pass"));
    }
    // An active member and its session token.
    std::string memberToken(const std::string& login, const std::string& email = "") {
        adminToken();
        const TeamRegResult reg = store->registerUser(login, "", login + "-pass", "", email);
        EXPECT_TRUE(reg.ok) << reg.message;
        EXPECT_TRUE(store->setStatus(reg.user.id, "active"));
        return tokenOf(store->login(login, login + "-pass"));
    }
    static std::string tokenOf(const LoginResult& result) {
        EXPECT_EQ(result.kind, LoginResult::Kind::ok) << result.message;
        return result.token;
    }

    std::vector<ServerEvent> events() { return eventsOnceIdle(*server, *controls); }
    void clearEvents() {
        std::lock_guard lock(controls->eventsLock);
        controls->events.clear();
    }
    void advance(double seconds) { controls->clock = controls->clock.load() + seconds; }

    Sandbox box;
    std::filesystem::path root;
    std::shared_ptr<ServerControls> controls = std::make_shared<ServerControls>(true);  // team mode on
    std::shared_ptr<Mailer> mailer = std::make_shared<Mailer>(std::chrono::seconds(5), std::chrono::seconds(3));
    std::shared_ptr<TeamStore> store;
    std::shared_ptr<HTTPServer> server;
};

// The same with the member "amy" signed in, for the team-file routes.
class TeamSpaceTest : public TeamRouteTest {
protected:
    void SetUp() override {
        TeamRouteTest::SetUp();
        amy = memberToken("amy");
        amyId = store->userForToken(amy)->id;
        shared = root / "_shared";
        std::filesystem::create_directories(shared);
    }

    std::string amy, amyId;
    std::filesystem::path shared;
};

}  // namespace corvane::test
