#pragma once
// A real server of engine and storage on loopback: the route-test server with the
// storage extension's rows, team mode switchable, and helpers for JSON calls.

#include <sys/stat.h>

#include "engine/routes_fixture.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"

namespace corvane::test {

class StorageServerTest : public RouteTest {
protected:
    StorageServerTest() {
        addRoutes = [](RouteTable& table) { addStorageRoutes(table, StorageContext{std::make_shared<TeamStore>(), std::make_shared<Mailer>(), TeamStore::systemClock()}); };
    }

    RawReply post(const std::string& target, const nlohmann::json& body) { return call("POST", target, body.dump()); }

    static std::string errorBody(const std::string& text) { return nlohmann::json{{"error", text}}.dump(); }

    std::vector<std::string> logs() {
        std::vector<std::string> texts;
        for (const ServerEvent& e : events()) {
            if (e.kind == ServerEvent::Kind::log) texts.push_back(e.text);
        }
        return texts;
    }

    // Names in a folder, sorted, for comparing what a request left behind.
    static std::vector<std::string> namesIn(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace corvane::test
