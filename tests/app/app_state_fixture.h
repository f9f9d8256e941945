#pragma once
// AppState built with fakes: a temporary home and app-support folder, a fixed
// host, the server on a test port block, discovery on a test UDP port, a
// recorded team store, folder picker and update check, and short delays.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_environment.h"
#include "app/app_state.h"
#include "app/defaults_store.h"
#include "engine/discovery/discovery.h"
#include "engine/server/http_server.h"
#include "storage/team_store.h"
#include "support/boot_log_lines.h"
#include "support/qt_wait.h"
#include "support/test_support.h"

namespace corvane::test {

// A peer as discovery would list it.
inline Peer testPeer(const std::string& id, const std::string& ip, int port, bool pin = false,
                     const std::string& token = "") {
    Peer peer;
    peer.id = id;
    peer.name = peer.realName = "Peer " + id;
    peer.ip = ip;
    peer.port = port;
    peer.pin = pin;
    peer.token = token;
    return peer;
}

inline std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Every entry of the folder by name, hidden ones included, sorted.
inline std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

class AppStateTest : public testing::Test {
protected:
    std::filesystem::path home() const { return box / "home"; }
    std::filesystem::path support() const { return box / "support"; }
    std::filesystem::path defaultsFile() const { return box / "config" / "defaults.json"; }

    // The environment a test's AppState gets; tests change the fields below before make().
    AppEnvironment environment() {
        AppEnvironment env;
        env.home = home();
        env.appSupport = support();
        env.defaults = std::make_shared<DefaultsStore>(defaultsFile());
        env.teamStore = teamStore;
        ServerOptions options = serverOptionsFor(env.defaults, env.teamStore);
        options.firstPort = firstPort;
        options.lastPort = lastPort;
        env.hostname = [] { return std::string("test-host"); };
        env.ipv4Addresses = [] {
            return std::vector<InterfaceAddress>{{"eth9", "192.168.7.20", "255.255.255.0"},
                                                 {"wlan9", "10.1.2.3", "255.0.0.0"}};
        };
        env.makeServer = [options](const ServerSetup& setup) {
            return std::make_shared<HTTPServer>(setup.deviceID, setup.deviceName, setup.token, setup.pin, setup.root,
                                                options);
        };
        const int udp = udpPort;
        env.makeDiscovery = [udp](const DiscoverySetup& setup) {
            DiscoveryOptions options;
            options.port = udp;
            return std::make_shared<Discovery>(setup.deviceID, setup.deviceName, setup.token, setup.port, options);
        };
        env.readTeam = [this](const std::filesystem::path& root) {
            teamReads.push_back(root);
            return team;
        };
        env.teamPendingCount = [this](const std::filesystem::path&) { return team.pending; };
        env.checkForUpdates = [this] { ++updateChecks; };
        // Diagnostics: no gateway, so no test ever pings a real one.
        env.gateway = [] { return std::optional<std::string>(); };
        env.ping = [](const std::string&, int) { return false; };
        env.chooseFolder = [this](const FolderQuestion& question,
                                  std::function<void(std::optional<std::filesystem::path>)> answer) {
            questions.push_back(question);
            answer(chosenFolder);
        };
        env.delays.toast = std::chrono::milliseconds(300);
        env.delays.receivePoll = std::chrono::milliseconds(40);
        env.delays.updateCheck = std::chrono::milliseconds(100);
        env.clock = clock;  // none: the system clock
        return env;
    }

    AppState& make() {
        state = std::make_unique<AppState>(environment());
        return *state;
    }

    // Made from this config.json and started.
    AppState& started(const std::string& config = "{}") {
        writeConfig(config);
        make().start();
        EXPECT_TRUE(qtWaitFor([this] { return !state->chatHistoryLoading(); }));
        return *state;
    }

    const ChatConv* conv(const std::string& id) const {
        for (const ChatConv& c : state->chatConvs()) {
            if (c.id == id) return &c;
        }
        return nullptr;
    }

    bool hasMessage(const std::string& conversation, const std::string& id) const {
        const auto it = state->chatMsgs().find(conversation);
        if (it == state->chatMsgs().end()) return false;
        return std::any_of(it->second.begin(), it->second.end(), [&id](const ChatMsg& m) { return m.id == id; });
    }

    void writeConfig(const std::string& json) const { writeFile(support() / "config.json", json); }
    std::vector<std::string> log() const { return bootLogLines(support()); }

    Sandbox box;
    int firstPort = testPortBase(20);
    int lastPort = firstPort + 3;
    int udpPort = firstPort + 10;
    TeamFacts team;
    // The store the server's team routes and the team operations work on.
    std::shared_ptr<TeamStore> teamStore = std::make_shared<TeamStore>();
    std::function<double()> clock;
    std::vector<std::filesystem::path> teamReads;
    int updateChecks = 0;
    std::vector<FolderQuestion> questions;
    std::optional<std::filesystem::path> chosenFolder;
    std::unique_ptr<AppState> state;
};

}  // namespace corvane::test
