// AppState.start() and shutdown(): the server, discovery and the receive poll
// come up in order, and a missing port stops the rest. (The shipped ports and
// their fall-backs are held by the black-box tests of the built program.)
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include "app_state_fixture.h"
#include "held_port.h"
#include "support/udp_socket.h"

namespace corvane::test {
namespace {

using nlohmann::json;

std::optional<json> getJSON(int port, const std::string& path) {
    const auto reply = httpRequest(port, "GET", path);
    if (!reply || reply->status != 200) return std::nullopt;
    return json::parse(reply->body, nullptr, false);
}

// The lines written from "start() 进入" on.
std::vector<std::string> startLines(const std::vector<std::string>& all) {
    std::vector<std::string> out;
    bool on = false;
    for (const std::string& line : all) {
        on = on || line == "start() 进入";
        if (on) out.push_back(line);
    }
    return out;
}

TEST_F(AppStateTest, startBringsUpServerDiscoveryChatAndThePollOnce) {
    AppState& s = make();
    int polls = 0;
    QObject::connect(&s, &AppState::recvTasksChanged, [&] { ++polls; });
    s.start();
    EXPECT_TRUE(s.started());
    ASSERT_TRUE(s.server());
    EXPECT_EQ(s.port(), firstPort);
    EXPECT_EQ(s.localIPs(), (std::vector<std::string>{"192.168.7.20", "10.1.2.3"}));
    EXPECT_TRUE(s.discoveryEnabled());
    ASSERT_TRUE(s.discovery());
    EXPECT_EQ(startLines(log()), (std::vector<std::string>{"start() 进入", "HTTP 已监听 " + std::to_string(firstPort),
                                                           "本机 IP：192.168.7.20, 10.1.2.3", "UDP 发现：已开启"}));
    ASSERT_FALSE(s.chatConvs().empty());
    EXPECT_EQ(s.chatConvs()[0].id, "all");
    EXPECT_EQ(teamReads, (std::vector<std::filesystem::path>{s.root(), s.root()}));  // before the server and at the end

    EXPECT_TRUE(qtWaitFor([&] { return polls >= 3; }));  // the poll assigns on every tick
    EXPECT_TRUE(qtWaitFor([&] { return updateChecks == 1; }));
    const auto info = getJSON(s.port(), "/api/info");
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)["id"], s.deviceID());

    const auto server = s.server();
    const size_t lines = log().size();
    s.start();  // a second start changes nothing
    EXPECT_EQ(s.server(), server);
    EXPECT_EQ(log().size(), lines);
}

TEST_F(AppStateTest, withNoFreePortNothingElseStartsAndTheSavedChatHistoryIsKept) {
    const std::string saved = R"({"msgs":[{"id":"old","from":"d","fromName":"D","to":"all","ts":1,"text":"keep","mine":false}]})";
    writeFile(support() / "chat.json", saved);
    std::vector<std::unique_ptr<HeldPort>> held;
    for (int port = firstPort; port <= lastPort; ++port) {
        held.push_back(std::make_unique<HeldPort>(port, SOCK_STREAM));
        ASSERT_TRUE(held.back()->held()) << port;
    }
    AppState& s = make();
    int polls = 0;
    QObject::connect(&s, &AppState::recvTasksChanged, [&] { ++polls; });
    s.start();
    EXPECT_EQ(startLines(log()), (std::vector<std::string>{"start() 进入", "监听失败：8899-8918 全部不可用"}));
    EXPECT_FALSE(s.server());
    EXPECT_FALSE(s.discovery());
    EXPECT_EQ(s.port(), 0);
    EXPECT_TRUE(s.localIPs().empty());
    EXPECT_FALSE(s.discoveryEnabled());
    EXPECT_TRUE(s.chatConvs().empty());
    EXPECT_EQ(teamReads.size(), 1u);
    qtSpin(std::chrono::milliseconds(400));  // several poll periods and the update-check delay
    EXPECT_EQ(polls, 0);
    EXPECT_TRUE(s.recvTasks().empty());
    EXPECT_EQ(updateChecks, 0);
    s.sendChat("lost in memory", false);  // no history was loaded: nothing may overwrite it
    s.clearChat("all");
    EXPECT_EQ(readFile(support() / "chat.json"), saved);
}

TEST_F(AppStateTest, thePeerListAnswerDescribesThisDeviceUnderItsNewNameAndTheDiscoveredOnes) {
    AppState& s = started();
    const auto before = getJSON(s.port(), "/api/peers");
    ASSERT_TRUE(before);
    EXPECT_EQ((*before)["self"], (json{{"id", s.deviceID()}, {"name", "test-host"}, {"port", s.port()}, {"pin", false}}));
    EXPECT_EQ((*before)["enabled"], true);
    EXPECT_EQ((*before)["peers"], json::array());

    UDPSocket other("127.0.0.1", 0);
    const json beacon = {{"v", 1},        {"t", "here"},     {"id", "peer-1"},    {"name", "Ann's PC"}, {"port", 9123},
                         {"pin", true},   {"token", "tok1"}, {"plat", "windows"}, {"team", "Sales"}};
    ASSERT_TRUE(other.sendTo("127.0.0.1", udpPort, beacon.dump()));
    ASSERT_TRUE(qtWaitFor([&] { return !s.peers().empty(); }));  // discovery's change reached reloadPeers
    const Peer& peer = s.peers()[0];
    EXPECT_EQ(peer.id, "peer-1");
    EXPECT_EQ(peer.name, "Ann's PC");
    EXPECT_EQ(peer.ip, "127.0.0.1");
    EXPECT_EQ(peer.team, "Sales");
    EXPECT_GT(peer.lastSeen, 1e12);  // milliseconds
    ASSERT_TRUE(s.nearbyTeam());

    const auto peers = getJSON(s.port(), "/api/peers");
    ASSERT_TRUE(peers);
    ASSERT_EQ((*peers)["peers"].size(), 1u);
    const json& entry = (*peers)["peers"][0];
    EXPECT_EQ(entry["pin"], true);
    EXPECT_EQ((*peers)["self"]["pin"], false);  // this device never asks for a PIN here
    EXPECT_EQ(entry["token"], "tok1");
    EXPECT_EQ(entry["plat"], "windows");
    EXPECT_FALSE(entry.contains("team"));
    EXPECT_GT(entry["lastSeen"].get<double>(), 1e12);

    s.renameDevice("  书房  ");  // reaches the server's guarded name at once
    EXPECT_EQ(s.deviceName(), "书房");
    EXPECT_EQ(s.server()->deviceName(), "书房");
    EXPECT_EQ(s.toast(), "本机已命名为「书房」");
    const auto renamed = getJSON(s.port(), "/api/peers");
    ASSERT_TRUE(renamed);
    EXPECT_EQ((*renamed)["self"]["name"], "书房");

    s.renameDevice(std::string(25, 'x'));
    EXPECT_EQ(s.deviceName(), "书房");
    EXPECT_EQ(s.toast(), "名字需要 1~24 个字符");
}

TEST_F(AppStateTest, aStrangerClaimingAListedDevicesIDLeavesItsRowAndIsNotedInTheBootLogOnce) {
    AppState& s = started();
    const auto beacon = [](const std::string& id, int port) {
        return json{{"v", 1}, {"t", "here"}, {"id", id}, {"name", "L"}, {"port", port}, {"token", "tok-" + id}}.dump();
    };
    const UDPSocket laptop("127.0.0.2", 0), stranger("127.0.0.3", 0), marker("127.0.0.4", 0);
    ASSERT_TRUE(laptop.sendTo("127.0.0.1", udpPort, beacon("laptop-l", 9123)));
    ASSERT_TRUE(qtWaitFor([&] { return s.peers().size() == 1; }));
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(stranger.sendTo("127.0.0.1", udpPort, beacon("laptop-l", 9999)));
    // Heard after the stranger's beacons: once it is listed, they have been handled.
    ASSERT_TRUE(marker.sendTo("127.0.0.1", udpPort, beacon("marker", 9124)));
    ASSERT_TRUE(qtWaitFor([&] { return s.peers().size() == 2; }));
    for (const Peer& peer : s.peers()) {
        if (peer.id != "laptop-l") continue;
        EXPECT_EQ(peer.ip, "127.0.0.2");
        EXPECT_EQ(peer.port, 9123);
    }
    const auto noted = log();
    EXPECT_EQ(std::count_if(noted.begin(), noted.end(),
                            [](const std::string& line) {
                                return line.find("laptop-l") != std::string::npos &&
                                       line.find("127.0.0.3") != std::string::npos;
                            }),
              1);
}

TEST_F(AppStateTest, thePollCopiesTheServersReceiveTasks) {
    AppState& s = started();
    s.server()->withReceiveTask("0123456789abcdef", [](ReceiveTask& task) {
        task.name = "a.bin";
        task.size = 100;
        task.received = 40;
        task.speed = 12.5;
        task.from = "10.0.0.9";
    });
    ASSERT_TRUE(qtWaitFor([&] { return !s.recvTasks().empty(); }));
    EXPECT_EQ(s.recvTasks()[0],
              (AppState::RecvItem{"0123456789abcdef", "a.bin", 100, 40, 12.5, "10.0.0.9", "接收中"}));
}

TEST_F(AppStateTest, theTeamModeSwitchReachesTheRouteGateAtOnce) {
    AppState& s = started();
    const auto gate = [&] {
        const auto reply = httpRequest(s.port(), "GET", "/dav/");
        if (!reply) return std::string("no reply");
        const json body = json::parse(reply->body, nullptr, false);  // the share answers in XML
        return body.is_object() ? body.value("error", "") : std::to_string(reply->status);
    };
    EXPECT_EQ(gate(), "拓展功能未开启");
    s.setNas(true);
    EXPECT_EQ(gate(), "207");
    s.setNas(false);
    EXPECT_EQ(gate(), "拓展功能未开启");
}

}  // namespace
}  // namespace corvane::test
