// Chat actions: sending to a conversation's devices, unread counts, read-once
// messages burned on open, clearing, the bounded rows and the history file.
// (History kept with no port bound: the start-up tests.)
#include <regex>

#include <nlohmann/json.hpp>

#include "actions_fixture.h"
#include "support/loopback_server.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

class ChatTest : public ActionsTest {
protected:
    const std::vector<ChatMsg>& messages(const std::string& key) const { return state->chatMsgs().at(key); }
    json history() const { return json::parse(readFile(support() / "chat.json")); }

    static ChatMsg received(const std::string& id, const std::string& from, const std::string& to, double ts,
                            bool burn = false) {
        return ChatMsg{id, from, "Name " + from, to, ts, "text " + id, burn, false, false, false};
    }
};

TEST_F(ChatTest, aLongMessageIsCutToFourThousandCharactersAndReachesThePeerABlankOneIsNotSent) {
    LoopbackServer peer;
    ASSERT_TRUE(peer.started());
    AppState& s = startWithFakes();
    s.sendChat(" \n\t ", false);
    EXPECT_TRUE(messages("all").empty());
    EXPECT_FALSE(fs::exists(support() / "chat.json"));

    s.setPeers({testPeer("p1", "127.0.0.1", peer.port())});
    s.openChat("p1");
    s.sendChat(repeated("字", 5000), false);
    ASSERT_EQ(messages("p1").size(), 1u);
    const ChatMsg& msg = messages("p1")[0];
    EXPECT_EQ(msg.text, repeated("字", 4000));
    EXPECT_TRUE(std::regex_match(msg.id, std::regex("[0-9a-f]{18}")));
    EXPECT_EQ(msg.to, "p1");
    EXPECT_TRUE(msg.mine);
    ASSERT_TRUE(qtWaitFor([&] { return !peer.events().empty(); }));
    const ServerEvent arrived = peer.events()[0];
    EXPECT_EQ(arrived.id, msg.id);
    EXPECT_EQ(arrived.from, s.deviceID());
    EXPECT_EQ(arrived.text, msg.text);
    EXPECT_EQ(arrived.ts, msg.ts);
    qtSpin(std::chrono::milliseconds(100));
    EXPECT_FALSE(messages("p1")[0].failed);
}

TEST_F(ChatTest, everyTimeStampReadsTheEnvironmentsClock) {
    const auto now = std::make_shared<double>(1700000000123.25);  // outlives the test body with the state
    clock = [now] { return *now; };
    AppState& s = startWithFakes();
    s.sendChat("sent", false);
    ASSERT_EQ(messages("all").size(), 1u);
    EXPECT_EQ(messages("all")[0].ts, 1700000000123.25) << "sent";

    *now += 1000;
    s.handleServerEvent(ServerEvent::chat("m1", "dev-d", "Dee", "all", "no stamp", false, 0));
    s.handleServerEvent(ServerEvent::chat("m2", "dev-d", "Dee", "all", "stamped", false, 5));
    ASSERT_EQ(messages("all").size(), 3u);
    EXPECT_EQ(messages("all")[1].ts, 1700000001123.25) << "received without a stamp";
    EXPECT_EQ(messages("all")[2].ts, 5) << "received with its own stamp";

    *now += 1000;
    ASSERT_TRUE(s.addManualPeer("192.168.1.10"));
    ASSERT_EQ(s.peers().size(), 1u);
    EXPECT_EQ(s.peers()[0].lastSeen, 1700000002123.25) << "a manual device";

    *now += 1000;
    s.handleServerEvent(ServerEvent::burnText("n1", "secret", "10.0.0.9"));
    ASSERT_TRUE(s.burnNote());
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(s.burnNote()->at.time_since_epoch());
    EXPECT_EQ(at.count(), 1700000003123) << "a read-once note";
}

TEST_F(ChatTest, unreadCountsGrowOutsideTheCurrentConversationAndOpeningClearsThem) {
    AppState& s = startWithFakes();
    s.handleServerEvent(ServerEvent::chat("m1", "dev-d", "Dee", s.deviceID(), "第一行\n第二行", false, 100));
    s.handleServerEvent(ServerEvent::chat("m2", "dev-d", "Dee", s.deviceID(), "again", false, 200));
    s.handleServerEvent(ServerEvent::chat("m2", "dev-d", "Dee", s.deviceID(), "again", false, 200));  // duplicate
    s.handleServerEvent(ServerEvent::chat("g1", "dev-e", "Eve", "all", "group", false, 300));  // "all" is current
    EXPECT_EQ(conv("dev-d")->unread, 2);
    EXPECT_EQ(conv("all")->unread, 0);
    EXPECT_EQ(conv("all")->lastText, "Eve：group");
    EXPECT_EQ(s.chatUnreadTotal(), 2);

    s.openChat("dev-d");
    EXPECT_EQ(s.chatCurrent(), "dev-d");
    EXPECT_EQ(conv("dev-d")->unread, 0);
    EXPECT_EQ(s.chatUnreadTotal(), 0);
    EXPECT_EQ(s.chatMsgsForCurrent().size(), 2u);
    ASSERT_TRUE(s.chatConvForCurrent());
    EXPECT_EQ(s.chatConvForCurrent()->title, "Dee");
    s.handleServerEvent(ServerEvent::chat("m3", "dev-d", "Dee", s.deviceID(), "seen", false, 400));
    EXPECT_EQ(conv("dev-d")->unread, 0);
}

TEST_F(ChatTest, openingAConversationBurnsItsReadOnceMessagesAndTellsTheSender) {
    LoopbackServer sender;
    ASSERT_TRUE(sender.started());
    AppState& s = startWithFakes();
    s.setPeers({testPeer("p1", "127.0.0.1", sender.port())});
    s.handleServerEvent(ServerEvent::chat("b1", "p1", "Pat", s.deviceID(), "secret", true, 100));
    EXPECT_EQ(conv("p1")->lastText, "🔥 阅后即焚消息");
    s.openChat("p1");
    EXPECT_TRUE(messages("p1")[0].burned);
    EXPECT_EQ(conv("p1")->lastText, "🔥 这条消息已阅后即焚");
    ASSERT_TRUE(qtWaitFor([&] { return !sender.events().empty(); }));
    EXPECT_EQ(sender.events()[0].kind, ServerEvent::Kind::chatBurn);
    EXPECT_EQ(sender.events()[0].id, "b1");
}

TEST_F(ChatTest, theHistoryKeepsTheNewestThreeHundredOverAllConversations) {
    AppState& s = startWithFakes();
    for (int i = 0; i < 350; ++i) {
        // Interleaved times over two conversations, none above the 300 of one conversation.
        const std::string key = i % 2 ? "dev-d" : "all";
        s.appendChat(key, received("m" + std::to_string(i), "dev-d", key == "all" ? "all" : s.deviceID(), 1000 + i), true);
    }
    s.appendChat("dev-d", received("burn", "dev-d", s.deviceID(), 5000, true), true);
    s.persistChat();
    const json stored = history()["msgs"];
    ASSERT_EQ(stored.size(), 300u);
    for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i]["ts"], 1050 + int(i)) << i;
}

TEST_F(ChatTest, aRestartKeepsTheHistory) {
    {
        AppState& s = startWithFakes();
        s.handleServerEvent(ServerEvent::chat("m1", "dev-d", "Dee", s.deviceID(), "remember me", false, 100));
        s.sendChat("me too", false);
        state.reset();
    }
    startWithFakes();
    ASSERT_EQ(messages("dev-d").size(), 1u);
    EXPECT_EQ(messages("dev-d")[0].text, "remember me");
    ASSERT_EQ(messages("all").size(), 1u);
    EXPECT_FALSE(messages("all")[0].failed);
    EXPECT_TRUE(messages("all")[0].mine);
    EXPECT_EQ(conv("dev-d")->unread, 0);
}

TEST_F(ChatTest, deviceRowsAreBoundedAndOfflineRowsWithoutMessagesGoFirst) {
    AppState& s = makeWithFakes();
    s.ensureConv("all");
    s.appendChat("busy", received("b1", "busy", "me", 1), true);
    for (int i = 0; i < 999; ++i) s.ensureConv("dev-" + std::to_string(i));
    ASSERT_EQ(s.chatConvs().size(), 1001u);  // the group and 1,000 devices
    s.handleServerEvent(ServerEvent::chat("n1", "newcomer", "New", "me", "hi", false, 10));
    EXPECT_EQ(s.chatConvs().size(), 1001u);
    EXPECT_EQ(s.chatConvs()[0].id, "all");
    EXPECT_TRUE(conv("newcomer"));
    EXPECT_TRUE(conv("busy"));
    EXPECT_EQ(messages("busy").size(), 1u);
    EXPECT_EQ(s.chatMsgs().size(), 1001u);  // the dropped row's empty list went with it
}

}  // namespace
}  // namespace corvane::test
