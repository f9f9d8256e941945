// The device list and the target: hand-entered devices, aliases, PINs, team-mode
// center following and the fall-back to this device.
#include <nlohmann/json.hpp>

#include "actions_fixture.h"
#include "app/manual_peers.h"
#include "support/loopback_server.h"
#include "support/udp_socket.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

std::vector<std::string> names(const std::vector<Peer>& peers) {
    std::vector<std::string> out;
    for (const Peer& p : peers) out.push_back(p.name);
    return out;
}

TEST(ManualEntryFor, normalizesTypedAddressesAndRefusesOtherForms) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"192.168.1.10", "192.168.1.10:8899"},
        {" \t10.0.0.5\n", "10.0.0.5:8899"},
        {"http://192.168.1.10:8080", "192.168.1.10:8080"},
        {"192.168.1.10:08899", "192.168.1.10:8899"},
        {"192.168.1.10:+80", "192.168.1.10:80"},
        {"a.b.c.d", "a.b.c.d:8899"},  // four pieces is all the form asks
        {"192.168.1.10:0", std::nullopt},
        {"192.168.1.10:70000", std::nullopt},
        {"192.168.1.10:-1", std::nullopt},
        {"192.168.1.10:80:90", std::nullopt},
        {"192.168.1", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"::1", std::nullopt},
        {"https://1.2.3.4", std::nullopt},
        {"", std::nullopt},
        // The host holds only letters, digits, "." and "-".
        {"my-nas.lan.home.arpa", "my-nas.lan.home.arpa:8899"},
        {"x@127.0.0.1", std::nullopt},
        {"evil.com/a.b.c", std::nullopt},
        {"1.2.3.4/x", std::nullopt},
        {"1.2.3.4?a=b", std::nullopt},
        {"1.2 .3.4", std::nullopt},
        {"１.２.３.４", std::nullopt},  // full-width digits
    };
    for (const auto& [typed, entry] : cases) EXPECT_EQ(manualEntryFor(typed), entry) << "typed: " << typed;
}

TEST_F(ActionsTest, addManualPeerStoresListsAndRefusesDuplicatesAndBadForms) {
    AppState& s = makeWithFakes();
    EXPECT_TRUE(s.addManualPeer("192.168.1.10"));
    EXPECT_EQ(s.toast(), "已添加 192.168.1.10:8899，可以点它试试");
    ASSERT_EQ(s.peers().size(), 1u);
    const Peer& peer = s.peers()[0];
    EXPECT_EQ(peer.id, "manual:192.168.1.10:8899");
    EXPECT_EQ(peer.name, "手动 192.168.1.10");
    EXPECT_EQ(peer.plat, "manual");
    EXPECT_FALSE(peer.pin);
    EXPECT_EQ(json::parse(readFile(support() / "config.json"))["manualPeers"], json::array({"192.168.1.10:8899"}));

    EXPECT_FALSE(s.addManualPeer("192.168.1.10:08899"));
    EXPECT_EQ(s.toast(), "这台设备已经添加过了");
    for (const std::string bad : {"192.168.1.10:0", "192.168.1.10:70000", "192.168.1", "::1"}) {
        EXPECT_FALSE(s.addManualPeer(bad)) << bad;
        EXPECT_EQ(s.toast(), "格式应为 192.168.1.10 或 192.168.1.10:8899") << bad;
    }
    EXPECT_EQ(s.manualPeers(), std::vector<std::string>{"192.168.1.10:8899"});
}

TEST_F(ActionsTest, storedManualEntriesNeedAPortAndAreListedOnceSortedByNumber) {
    writeConfig(R"({"manualPeers":["10.0.0.5","10.0.0.7:1","10.0.0.8:1","10.0.0.7:1"],
                    "peerAliases":{"manual:10.0.0.7:1":"Mac 10","manual:10.0.0.8:1":" Mac 9\t"}})");
    AppState& s = makeWithFakes();
    s.reloadPeers();
    EXPECT_EQ(names(s.peers()), (std::vector<std::string>{"Mac 9", "Mac 10"}));
    EXPECT_EQ(s.peers()[0].realName, "手动 10.0.0.8");
    EXPECT_EQ(s.manualPeers().size(), 4u);  // skipped entries stay in the settings
}

TEST_F(ActionsTest, aDiscoveredDeviceHidesTheManualEntryForItsAddress) {
    AppState& s = startWithFakes(R"({"manualPeers":["127.0.0.1:9123"],"usageMode":"team"})");
    ASSERT_EQ(s.peers().size(), 1u);
    UDPSocket other("127.0.0.1", 0);
    const json beacon = {{"v", 1},     {"t", "here"},    {"id", "peer-1"}, {"name", "Ann"},
                         {"port", 9123}, {"token", "tok"}, {"plat", "linux"}, {"team", "Sales"}};
    ASSERT_TRUE(other.sendTo("127.0.0.1", udpPort, beacon.dump()));
    ASSERT_TRUE(qtWaitFor([&] { return !s.peers().empty() && s.peers()[0].id == "peer-1"; }));
    EXPECT_EQ(s.peers().size(), 1u);
    EXPECT_FALSE(s.nearbyTeam());  // never in team mode
}

TEST_F(ActionsTest, whenTheTargetsDeviceGoesAwayTheWindowFallsBackToThisDevice) {
    AppState& s = startWithFakes(R"({"manualPeers":["127.0.0.1:1"],"peerAliases":{"manual:127.0.0.1:1":"Box"}})");
    writeFile(s.root() / "here.txt", "x");
    ASSERT_EQ(s.peers().size(), 1u);
    s.switchTarget(Target::of(s.peers()[0]));
    ASSERT_EQ(s.target().peer->name, "Box");
    s.removeManualPeer("127.0.0.1:1");
    EXPECT_EQ(s.toast(), "已移除");
    EXPECT_TRUE(s.target().isLocal());
    EXPECT_TRUE(s.peerAliases().empty());
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && listed("here.txt"); }));

    s.addManualPeer("127.0.0.1:1");  // back again: the target stays here
    EXPECT_TRUE(s.target().isLocal());
}

TEST_F(ActionsTest, aPinIsAskedForStoredAsTypedAndAskedAgainWhenEmpty) {
    LoopbackServer peerServer("", "1234");
    ASSERT_TRUE(peerServer.started());
    writeFile(peerServer.root() / "secret.txt", "s");
    AppState& s = startWithFakes();
    const Peer locked = testPeer("p1", "127.0.0.1", peerServer.port(), true);

    s.confirmPIN();  // no prompt: nothing
    EXPECT_TRUE(s.target().isLocal());

    s.setPinInput("old");
    s.switchTarget(Target::of(locked));
    ASSERT_EQ(s.pinPromptFor(), locked);
    EXPECT_TRUE(s.target().isLocal()) << "the target waits for the PIN";
    EXPECT_EQ(s.pinInput(), "");
    s.confirmPIN();  // an empty PIN still opens the device
    EXPECT_FALSE(s.pinPromptFor());
    EXPECT_EQ(s.target(), Target::of(locked));
    EXPECT_EQ(s.peerPINs().at("p1"), "");
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles(); }));
    EXPECT_TRUE(s.files().empty());  // refused without the PIN

    s.switchTarget(Target::local());
    s.switchTarget(Target::of(locked));
    ASSERT_EQ(s.pinPromptFor(), locked);
    s.setPinInput(" 1234");
    s.confirmPIN();
    EXPECT_EQ(s.peerPINs().at("p1"), " 1234");  // not trimmed
    s.switchTarget(Target::local());
    s.switchTarget(Target::of(locked));
    s.setPinInput("1234");
    s.confirmPIN();
    EXPECT_EQ(s.pinInput(), "1234");
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && listed("secret.txt"); }));
}

TEST_F(ActionsTest, inTeamModeTheTargetFollowsTheCenterDeviceAndNothingIsSentWhileItIsAway) {
    writeConfig(R"({"centerId":"manual:127.0.0.1:1","manualPeers":["127.0.0.1:1","127.0.0.1:2"]})");
    AppState& s = makeWithFakes();
    s.setNas(true);
    ASSERT_TRUE(s.target().peer);
    EXPECT_EQ(s.target().peer->id, "manual:127.0.0.1:1");
    EXPECT_EQ(s.resolveSendTarget(), s.target());

    s.setCenterID("manual:10.9.9.9:1");  // not listed: nothing moves
    s.updateTargetLabel();
    s.reloadPeers();
    EXPECT_EQ(s.target().peer->id, "manual:127.0.0.1:1");
    EXPECT_FALSE(s.resolveSendTarget());
    EXPECT_EQ(s.toast(), "中心设备不在线，请到「设置」重新选择");
    s.setToast(std::nullopt);
    writeFile(box / "outbox" / "a.txt", "a");
    s.send({box / "outbox" / "a.txt"});
    EXPECT_TRUE(s.uploader().tasks().empty()) << "nothing is sent while the center is away";
    EXPECT_EQ(s.toast(), "中心设备不在线，请到「设置」重新选择");

    s.setCenterID(s.deviceID());
    s.reloadPeers();
    EXPECT_TRUE(s.target().isLocal());
    EXPECT_EQ(s.resolveSendTarget(), Target::local());
}

TEST_F(ActionsTest, aReloadOfAThousandDevicesChangesEachListOnce) {
    // 1,000 devices held the main thread for minutes: each reload copied the conversation
    // list once per device and announced every copy.
    json entries = json::array();
    for (int i = 0; i < 1000; ++i) entries.push_back("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":8899");
    writeConfig(json{{"manualPeers", entries}}.dump());
    AppState& s = makeWithFakes();
    s.ensureConv("all");
    s.ensureConv("gone");  // an offline device's row without messages: the first to make room
    int peerChanges = 0, convChanges = 0, msgChanges = 0;
    QObject::connect(&s, &AppState::peersChanged, [&] { ++peerChanges; });
    QObject::connect(&s, &AppState::chatConvsChanged, [&] { ++convChanges; });
    QObject::connect(&s, &AppState::chatMsgsChanged, [&] { ++msgChanges; });

    s.reloadPeers();
    EXPECT_EQ(peerChanges, 1);
    EXPECT_EQ(convChanges, 1);
    EXPECT_EQ(msgChanges, 1);
    ASSERT_EQ(s.peers().size(), 1000u);
    ASSERT_EQ(s.chatConvs().size(), 1001u);  // the group and at most 1,000 devices
    EXPECT_EQ(s.chatConvs()[0].id, "all");
    EXPECT_FALSE(conv("gone"));
    EXPECT_FALSE(s.chatMsgs().count("gone"));
    for (const ChatConv& c : s.chatConvs()) {
        if (c.isGroup) continue;
        EXPECT_TRUE(c.online && c.sub == "在线 · 点对点") << c.id;
    }
    EXPECT_EQ(conv("manual:10.1.3.250:8899")->title, "手动 10.1.3.250");

    s.reloadPeers();  // nothing changed: the peers are published again, the rows are not
    EXPECT_EQ(peerChanges, 2);
    EXPECT_EQ(convChanges, 1);
    EXPECT_EQ(msgChanges, 1);

    s.removeManualPeer("10.1.0.1:8899");  // one device leaves: one change, its row offline
    EXPECT_EQ(convChanges, 2);
    EXPECT_EQ(msgChanges, 1);
    EXPECT_FALSE(conv("manual:10.1.0.1:8899")->online);
    EXPECT_EQ(conv("manual:10.1.0.1:8899")->sub, "离线");
}

TEST_F(ActionsTest, aliasesAreTrimmedCutToTwentyFourAndClearedByBlanks) {
    AppState& s = makeWithFakes();
    s.addManualPeer("10.0.0.5");
    const std::string id = "manual:10.0.0.5:8899";
    s.setTarget(Target::of(s.peers()[0]));

    s.setAlias("  一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十 \n", id);
    EXPECT_EQ(s.peerAliases().at(id), "一二三四五六七八九十一二三四五六七八九十一二三四");
    EXPECT_EQ(s.toast(), "已重命名");
    EXPECT_EQ(s.target().peer->name, s.peerAliases().at(id));  // the target shows the new name

    s.setAlias(" \t\n", id);
    EXPECT_FALSE(s.peerAliases().count(id));
    EXPECT_EQ(s.toast(), "已恢复对方的原名");
    EXPECT_EQ(s.target().peer->name, "手动 10.0.0.5");
    EXPECT_FALSE(json::parse(readFile(support() / "config.json")).contains("peerAliases"));
}

}  // namespace
}  // namespace corvane::test
