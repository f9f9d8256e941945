// Network diagnostics run by AppState with fake host facts: the lines, levels
// and hints in their order, the gateway ping off the main thread, and one run
// at a time. No test pings a real gateway.
#include <atomic>
#include <mutex>

#include "app_state_fixture.h"

namespace corvane::test {
namespace {

using Level = DiagLine::Level;
using std::chrono::milliseconds;

// A line as "level | text | hint", so a failing comparison shows the whole list.
std::string shown(Level level, const std::string& text, const std::optional<std::string>& hint) {
    const char* name = level == Level::ok ? "ok" : level == Level::warn ? "warn" : "bad";
    return std::string(name) + " | " + text + " | " + hint.value_or("-");
}

std::vector<std::string> shown(const std::vector<DiagLine>& lines) {
    std::vector<std::string> out;
    for (const DiagLine& line : lines) out.push_back(shown(line.level, line.text, line.hint));
    return out;
}

const std::string isolationHint =
    "大概率是路由器开了「AP 隔离 / 无线隔离 / 客户端隔离」。登录路由器关掉这个开关；或者让一台电脑开热点，其他设备连它。也可以先用下面「手动添加设备」输 IP 试一次";
const std::string notRunningHint = "确认每台设备都启动了 App，并允许了「本地网络」权限";
const std::string subnetHint =
    "你们中间隔了路由器。把中间那台改成 AP 模式（关 DHCP、网线插 LAN 口而不是 WAN 口），全网回到一个网段就自动互通了";
const std::string groupsHint = "建议给设备起别名、常用设备置顶；超过 12 台时更推荐分成小组、各用一个中枢，而不是一个巨型中枢";

const InterfaceAddress eth{"eth9", "192.168.7.20", "255.255.255.0"};
const InterfaceAddress wlan{"wlan9", "10.1.2.3", "255.0.0.0"};

// A config.json with manual devices at these addresses (port 8899).
std::string manualPeersConfig(const std::vector<std::string>& ips) {
    nlohmann::json peers = nlohmann::json::array();
    for (const std::string& ip : ips) peers.push_back(ip + ":8899");
    return nlohmann::json{{"manualPeers", peers}}.dump();
}

std::vector<std::string> addresses(const std::string& prefix, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(101 + i));
    return out;
}

class Diagnostics : public AppStateTest {
protected:
    struct Host {
        std::vector<InterfaceAddress> interfaces{eth, wlan};
        std::optional<std::string> gateway;
        bool gatewayAnswers = true;
    };

    AppState& makeOn(const Host& host, const std::string& config = "{}") {
        writeConfig(config);
        AppEnvironment env = environment();
        env.ipv4Addresses = [interfaces = host.interfaces] { return interfaces; };
        env.gateway = [this, gateway = host.gateway] {
            ++gatewayLookups;
            return gateway;
        };
        env.ping = [this, answers = host.gatewayAnswers](const std::string& target, int timeoutMs) {
            std::lock_guard<std::mutex> hold(pingLock);
            pings.push_back(target + " " + std::to_string(timeoutMs));
            return answers;
        };
        env.delays.diagPause = milliseconds(20);
        // Beacons only when asked for (the first one 260 ms after the start, one per rename), so the count is known.
        const int udp = udpPort;
        env.makeDiscovery = [udp](const DiscoverySetup& setup) {
            DiscoveryOptions options;
            options.port = udp;
            options.beaconInterval = std::chrono::hours(1);
            return std::make_shared<Discovery>(setup.deviceID, setup.deviceName, setup.token, setup.port, options);
        };
        state = std::make_unique<AppState>(env);
        return *state;
    }

    std::vector<std::string> run(AppState& s) {
        s.diagnose();
        EXPECT_TRUE(qtWaitFor([&] { return !s.diagRunning(); }));
        return shown(s.diagLines());
    }

    std::atomic<int> gatewayLookups{0};
    std::mutex pingLock;
    std::vector<std::string> pings;
};

TEST_F(Diagnostics, noLocalAddressAndNoDiscoveryAskToConnectAndWait) {
    // Loopback entries do not count as LAN addresses; a device that never started discovery counts 0 and 0.
    AppState& s = makeOn({{{"lo", "127.0.0.1", "255.0.0.0"}}, std::nullopt, false});
    EXPECT_EQ(run(s), (std::vector<std::string>{
                          shown(Level::bad, "本机没有局域网地址", "先连上 Wi-Fi 或插网线"),
                          shown(Level::warn, "已发出 0 次广播 · 收到 0 次同伴广播", std::nullopt),
                          shown(Level::warn, "广播次数还不够，稍等几秒再测一次", std::nullopt),
                      }));
    EXPECT_EQ(gatewayLookups, 1);
    EXPECT_TRUE(pings.empty()) << "no gateway, no ping";
}

TEST_F(Diagnostics, theGatewayIsPingedOnceWithTheShortTimeOut) {
    struct Case {
        bool answers;
        std::string line;
    };
    for (const Case& c : {Case{true, shown(Level::ok, "路由器（网关 192.168.7.1）可达", std::nullopt)},
                          Case{false, shown(Level::bad, "路由器（网关 192.168.7.1）ping 不通",
                                            "网络本身有问题，先恢复上网再试")}}) {
        pings.clear();
        AppState& s = makeOn({{eth, wlan}, "192.168.7.1", c.answers});
        EXPECT_EQ(run(s), (std::vector<std::string>{
                              shown(Level::ok, "本机地址：192.168.7.20（掩码 255.255.255.0）、10.1.2.3（掩码 255.0.0.0）",
                                    std::nullopt),
                              c.line,
                              shown(Level::warn, "已发出 0 次广播 · 收到 0 次同伴广播", std::nullopt),
                              shown(Level::warn, "广播次数还不够，稍等几秒再测一次", std::nullopt),
                          }))
            << "answers " << c.answers;
        EXPECT_EQ(pings, (std::vector<std::string>{"192.168.7.1 900"}));
    }
}

TEST_F(Diagnostics, noPeerAfterTwoBeaconsPointsAtClientIsolation) {
    AppState& s = makeOn({{eth}, std::nullopt, false});
    s.start();
    ASSERT_TRUE(qtWaitFor([&] { return s.discovery()->stats().sent == 1; }));  // the first beacon
    s.renameDevice("书房");                                                    // announces at once: the second
    ASSERT_EQ(s.discovery()->stats().sent, 2);
    EXPECT_EQ(run(s), (std::vector<std::string>{
                          shown(Level::ok, "本机地址：192.168.7.20（掩码 255.255.255.0）", std::nullopt),
                          shown(Level::warn, "已发出 2 次广播 · 收到 0 次同伴广播", std::nullopt),
                          shown(Level::bad, "广播发出去了，但一台同伴设备都没回应", isolationHint),
                          shown(Level::warn, "另一种可能：其他设备根本没打开Corvane", notRunningHint),
                      }));
}

TEST_F(Diagnostics, devicesInAnotherSubnetAreNamedWithTheRouterHint) {
    struct Case {
        std::string name;
        std::vector<InterfaceAddress> interfaces;
        std::vector<std::string> peers;  // in the list's order (by name)
        std::vector<std::string> subnetLines;
    };
    const std::vector<Case> cases{
        {"one of two elsewhere",
         {eth, wlan},
         {"172.16.0.9", "192.168.7.30"},
         {shown(Level::warn, "有 1 台设备不在同一网段（172.16.0.9）", subnetHint),
          shown(Level::ok, "发现 2 台设备，其中 1 台同网段", std::nullopt)}},
        {"the second interface's subnet counts",
         {eth, wlan},
         {"10.200.0.1"},
         {shown(Level::ok, "发现 1 台设备，其中 1 台同网段", std::nullopt)}},
        {"without an address every device is elsewhere",
         {},
         {"172.16.0.9", "192.168.7.30"},
         {shown(Level::warn, "有 2 台设备不在同一网段（172.16.0.9、192.168.7.30）", subnetHint),
          shown(Level::ok, "发现 2 台设备，其中 0 台同网段", std::nullopt)}},
    };
    for (const Case& c : cases) {
        AppState& s = makeOn({c.interfaces, std::nullopt, false}, manualPeersConfig(c.peers));
        s.reloadPeers();
        ASSERT_EQ(s.peers().size(), c.peers.size()) << c.name;
        std::vector<std::string> lines = run(s);
        ASSERT_GE(lines.size(), 2u) << c.name;
        lines.erase(lines.begin(), lines.begin() + 2);  // the address line and the counter line
        EXPECT_EQ(lines, c.subnetLines) << c.name;
    }
}

TEST_F(Diagnostics, twelveDevicesOrMoreAskForGroups) {
    for (const int count : {11, 12, 13}) {
        AppState& s = makeOn({{eth}, std::nullopt, false}, manualPeersConfig(addresses("192.168.7.", count)));
        s.reloadPeers();
        const std::vector<std::string> lines = run(s);
        const std::string many =
            shown(Level::warn, "设备数量偏多（" + std::to_string(count) + " 台）", groupsHint);
        std::vector<std::string> expected{
            shown(Level::ok, "本机地址：192.168.7.20（掩码 255.255.255.0）", std::nullopt),
            shown(Level::warn, "已发出 0 次广播 · 收到 0 次同伴广播", std::nullopt),
            shown(Level::ok,
                  "发现 " + std::to_string(count) + " 台设备，其中 " + std::to_string(count) + " 台同网段",
                  std::nullopt)};
        if (count >= 12) expected.push_back(many);
        EXPECT_EQ(lines, expected) << count << " devices";
    }
}

TEST_F(Diagnostics, twoQuickCallsMakeOneRunThatClearsTheOldResultFirst) {
    AppState& s = makeOn({{eth}, "192.168.7.1", true});
    run(s);
    ASSERT_FALSE(s.diagLines().empty());
    pings.clear();

    std::vector<std::pair<bool, size_t>> seen;  // (running, lines) at each change of diagRunning
    QObject::connect(&s, &AppState::diagRunningChanged, [&] { seen.emplace_back(s.diagRunning(), s.diagLines().size()); });
    s.diagnose();
    EXPECT_TRUE(s.diagRunning());
    EXPECT_TRUE(s.diagLines().empty()) << "the previous result goes when a run starts";
    s.diagnose();
    ASSERT_TRUE(qtWaitFor([&] { return !s.diagRunning(); }));
    qtSpin(milliseconds(100));  // a second run would have pinged and published by now

    EXPECT_EQ(pings.size(), 1u);
    EXPECT_EQ(gatewayLookups, 2);  // the first run and this one
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].first);
    EXPECT_EQ(seen[1], (std::pair<bool, size_t>{false, 4}));  // the lines are there before running turns false
}

}  // namespace
}  // namespace corvane::test
