#include <gtest/gtest.h>

#include <algorithm>

#include "engine/discovery/discovery_datagram.h"

namespace corvane {
namespace {

using nlohmann::json;

std::string repeat(const std::string& piece, int n) {
    std::string out;
    for (int k = 0; k < n; ++k) out += piece;
    return out;
}

std::optional<HeardDatagram> read(const json& message, const std::string& ip = "10.0.0.7") {
    return readDatagram(message.dump(), "self-id", ip, 1000.0);
}

json beacon() {
    return {{"v", 1}, {"t", "here"}, {"id", "peer-1"}, {"name", "Studio"}, {"port", 8899},
            {"pin", false}, {"token", "tok"}, {"plat", "darwin"}};
}

json with(json base, const std::string& key, json value) {
    base[key] = std::move(value);
    return base;
}

json without(json base, const std::string& key) {
    base.erase(key);
    return base;
}

TEST(DiscoveryDatagram, HereAnnouncesLinuxAndTeamOnlyWhenSetProbeCarriesOnlyTheID) {
    const json msg = hereMessage({"dev-1", "Desk", "secret", 8901, ""});
    EXPECT_EQ(msg, (json{{"v", 1}, {"t", "here"}, {"id", "dev-1"}, {"name", "Desk"}, {"port", 8901},
                         {"pin", false}, {"token", "secret"}, {"plat", "linux"}}));
    EXPECT_EQ(hereMessage({"d", "n", "t", 1, "Alpha"})["team"], "Alpha");
    EXPECT_EQ(probeMessage("dev-1"), (json{{"v", 1}, {"t", "who"}, {"id", "dev-1"}}));
}

TEST(DiscoveryDatagram, DropsWhatIsNotAUsableMessage) {
    const struct { const char* why; std::string bytes; } cases[] = {
        {"not JSON", "hello"}, {"a JSON array", "[1,2]"}, {"cut at the buffer size", beacon().dump().substr(0, 20)},
        {"no version", without(beacon(), "v").dump()}, {"version 2", with(beacon(), "v", 2).dump()},
        {"version text 2", with(beacon(), "v", "2").dump()}, {"no id", without(beacon(), "id").dump()},
        {"empty id", with(beacon(), "id", "").dump()}, {"numeric id", with(beacon(), "id", 7).dump()},
        {"own id", with(beacon(), "id", "self-id").dump()}, {"unknown type", with(beacon(), "t", "bye").dump()},
        {"type not a text", with(beacon(), "t", 1).dump()}, {"port 0", with(beacon(), "port", 0).dump()},
        {"negative port", with(beacon(), "port", -5).dump()}, {"no port", without(beacon(), "port").dump()},
        {"port not numeric", with(beacon(), "port", "http").dump()},
        {"port with a blank", with(beacon(), "port", " 8899").dump()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(readDatagram(c.bytes, "self-id", "10.0.0.7", 1000.0).has_value()) << c.why;
    }
}

TEST(DiscoveryDatagram, ReadsLenientTypes) {
    const struct { const char* why; json message; int port; bool pin; } cases[] = {
        {"numbers", beacon(), 8899, false}, {"port as text", with(beacon(), "port", "8899"), 8899, false},
        {"version as text", with(with(beacon(), "v", "1"), "port", 8900), 8900, false},
        {"fractional port", with(beacon(), "port", 8901.7), 8901, false},
        {"pin true", with(beacon(), "pin", true), 8899, true}, {"pin 1", with(beacon(), "pin", 1), 8899, true},
        {"pin text true", with(beacon(), "pin", "true"), 8899, true},
        {"pin text yes", with(beacon(), "pin", "yes"), 8899, false},
        {"pin missing", without(beacon(), "pin"), 8899, false},
    };
    for (const auto& c : cases) {
        const auto heard = read(c.message);
        ASSERT_TRUE(heard.has_value()) << c.why;
        EXPECT_EQ(heard->kind, HeardDatagram::Kind::here) << c.why;
        EXPECT_EQ(heard->peer.port, c.port) << c.why;
        EXPECT_EQ(heard->peer.pin, c.pin) << c.why;
    }
}

TEST(DiscoveryDatagram, TextFieldsCutToTheirLimitsAndEmptyNameShowsTheAddress) {
    const std::string longToken = repeat("t", 500);
    const struct { const char* why; json message; std::string name, plat, team, token; } cases[] = {
        {"100-character name", with(beacon(), "name", repeat("n", 100)), repeat("n", 60), "darwin", "", "tok"},
        {"61 CJK characters", with(beacon(), "name", repeat("文", 61)), repeat("文", 60), "darwin", "", "tok"},
        {"emoji with modifier count once", with(beacon(), "name", repeat("👍🏽", 61)), repeat("👍🏽", 60), "darwin", "", "tok"},
        {"long plat", with(beacon(), "plat", "abcdefghijklmnop"), "Studio", "abcdefghijkl", "", "tok"},
        {"long team", with(beacon(), "team", repeat("x", 35)), "Studio", "darwin", repeat("x", 30), "tok"},
        {"token kept whole", with(beacon(), "token", longToken), "Studio", "darwin", "", longToken},
        {"empty name shows the address", with(beacon(), "name", ""), "10.0.0.7", "darwin", "", "tok"},
        {"missing name shows the address", without(beacon(), "name"), "10.0.0.7", "darwin", "", "tok"},
        {"numeric name shows the address", with(beacon(), "name", 42), "10.0.0.7", "darwin", "", "tok"},
        {"non-text token and plat", with(with(beacon(), "token", 5), "plat", json::array()), "Studio", "", "", ""},
    };
    for (const auto& c : cases) {
        const auto heard = read(c.message);
        ASSERT_TRUE(heard.has_value()) << c.why;
        EXPECT_EQ(heard->peer.name, c.name) << c.why;
        EXPECT_EQ(heard->peer.plat, c.plat) << c.why;
        EXPECT_EQ(heard->peer.team, c.team) << c.why;
        EXPECT_EQ(heard->peer.token, c.token) << c.why;
    }
}

TEST(DiscoveryDatagram, ChangeNeedsAVisibleFieldOrLongSilence) {
    const PeerInfo before{"p", "Studio", "10.0.0.2", 8899, false, "tok", "darwin", "", 100.0};
    const auto after = [&](auto edit) {
        PeerInfo p = before;
        p.lastSeen = 102.0;
        edit(p);
        return p;
    };
    const struct { const char* why; PeerInfo next; bool changed; } cases[] = {
        {"same beacon", after([](PeerInfo&) {}), false},
        {"new name", after([](PeerInfo& p) { p.name = "Desk"; }), true},
        {"new port", after([](PeerInfo& p) { p.port = 8900; }), true},
        {"new address", after([](PeerInfo& p) { p.ip = "10.0.0.3"; }), true},
        {"asks for a PIN", after([](PeerInfo& p) { p.pin = true; }), true},
        {"new team", after([](PeerInfo& p) { p.team = "Alpha"; }), true},
        {"new token only", after([](PeerInfo& p) { p.token = "other"; }), false},
        {"new platform only", after([](PeerInfo& p) { p.plat = "linux"; }), false},
        {"9 s of silence", after([](PeerInfo& p) { p.lastSeen = 109.0; }), false},
        {"9.5 s of silence", after([](PeerInfo& p) { p.lastSeen = 109.5; }), true},
    };
    for (const auto& c : cases) EXPECT_EQ(peerChanged(before, c.next, 9.0), c.changed) << c.why;
}

TEST(DiscoveryDatagram, BroadcastTargetsAddEachSubnetOnce) {
    using Targets = std::vector<std::string>;
    const auto sorted = [](Targets t) {
        std::sort(t.begin(), t.end());
        return t;
    };
    const struct { const char* why; std::vector<InterfaceAddress> interfaces; Targets targets; } cases[] = {
        {"no interface", {}, {"127.0.0.1", "255.255.255.255"}},
        {"one /24", {{"eth0", "192.168.1.23", "255.255.255.0"}}, {"127.0.0.1", "192.168.1.255", "255.255.255.255"}},
        {"a /8", {{"eth0", "10.4.5.6", "255.0.0.0"}}, {"10.255.255.255", "127.0.0.1", "255.255.255.255"}},
        {"two addresses of one subnet",
         {{"eth0", "192.168.1.23", "255.255.255.0"}, {"wlan0", "192.168.1.99", "255.255.255.0"}},
         {"127.0.0.1", "192.168.1.255", "255.255.255.255"}},
        {"mask of three parts", {{"eth0", "192.168.1.23", "255.255.255"}}, {"127.0.0.1", "255.255.255.255"}},
        {"host mask gives the address itself",
         {{"tun0", "10.8.0.1", "255.255.255.255"}},
         {"10.8.0.1", "127.0.0.1", "255.255.255.255"}},
        {"all-zero result", {{"x", "0.0.0.0", "255.255.255.255"}}, {"127.0.0.1", "255.255.255.255"}},
        {"zero mask gives the limited broadcast", {{"x", "10.0.0.1", "0.0.0.0"}}, {"127.0.0.1", "255.255.255.255"}},
    };
    for (const auto& c : cases) EXPECT_EQ(sorted(broadcastTargetsFor(c.interfaces)), c.targets) << c.why;
}

TEST(DiscoveryDatagram, TeamNameTrimsHorizontalSpaceAndKeeps40Characters) {
    const struct { std::string in, out; } cases[] = {
        {"  Alpha  ", "Alpha"}, {"\tAlpha\t", "Alpha"}, {"\u3000团队\u00a0", "团队"}, {"   ", ""},
        {"\nAlpha\n", "\nAlpha\n"}, {"A  B", "A  B"}, {repeat("x", 50), repeat("x", 40)}};
    for (const auto& c : cases) EXPECT_EQ(cleanTeamName(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace corvane
