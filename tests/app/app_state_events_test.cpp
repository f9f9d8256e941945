// Server events reach the state on the main thread, in order: file-list
// reloads, read-once notes, chat messages and read receipts, team approvals.
#include <chrono>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "app_state_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

double millisNow() {
    using namespace std::chrono;
    return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

class AppStateEvents : public AppStateTest {
protected:
    AppState& started(const std::string& config = "{}") {
        writeConfig(config);
        AppState& s = make();
        s.start();
        return s;
    }

    // Raises the events on a thread of their own, as a connection thread would.
    void raise(const std::vector<ServerEvent>& events) {
        std::thread([server = state->server(), events] {
            for (const ServerEvent& e : events) server->emit(e);
        }).join();
    }

    // Raises the event and then a marker chat; once the marker is handled, so is the event.
    void raiseAndSettle(const ServerEvent& event) {
        const std::string marker = "marker-" + std::to_string(++markers_);
        raise({event, ServerEvent::chat(marker, "marker-device", "M", "all", "m", false, 1)});
        ASSERT_TRUE(qtWaitFor([&] { return hasMessage("all", marker); }));
    }

    bool hasMessage(const std::string& conv, const std::string& id) const {
        const auto it = state->chatMsgs().find(conv);
        if (it == state->chatMsgs().end()) return false;
        return std::any_of(it->second.begin(), it->second.end(), [&id](const ChatMsg& m) { return m.id == id; });
    }

    const ChatConv* conv(const std::string& id) const {
        for (const ChatConv& c : state->chatConvs()) {
            if (c.id == id) return &c;
        }
        return nullptr;
    }

    int markers_ = 0;
};

TEST_F(AppStateEvents, aReceivedFileReloadsTheLocalList) {
    AppState& s = started();
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles(); }));
    writeFile(s.root() / "arrived.txt", "hello");
    for (const ServerEvent& event : {ServerEvent::fileReceived(FileItem{"arrived.txt", "arrived.txt", 5, 0}),
                                     ServerEvent::textReceived(FileItem{"note.txt", "note.txt", 1, 0})}) {
        s.setFiles({});
        raise({event});
        ASSERT_TRUE(qtWaitFor([&] { return !s.files().empty() && !s.loadingFiles(); }));
        EXPECT_EQ(s.files()[0].name, "arrived.txt");
    }
}

TEST_F(AppStateEvents, aReceivedFileWhileAPeerIsShownReloadsNothing) {
    AppState& s = started();
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles(); }));
    s.setTarget(Target::of(testPeer("p", "10.0.0.7", 8899)));
    int loads = 0;
    QObject::connect(&s, &AppState::loadingFilesChanged, [&] { ++loads; });
    raiseAndSettle(ServerEvent::fileReceived(FileItem{"a", "a", 1, 0}));
    EXPECT_EQ(loads, 0);
}

TEST_F(AppStateEvents, aReadOnceNoteNamesItsSender) {
    AppState& s = started(R"({"manualPeers":["10.0.0.5:8899"]})");
    ASSERT_EQ(s.peers().size(), 1u);
    const std::pair<std::string, std::string> cases[] = {
        {"10.0.0.5", "手动 10.0.0.5"}, {"10.9.9.9", "10.9.9.9"}, {"", "局域网设备"}};
    for (const auto& [from, sender] : cases) {
        s.setBurnNote(std::nullopt);
        raise({ServerEvent::burnText("n1", "秘密", from)});
        ASSERT_TRUE(qtWaitFor([&] { return s.burnNote().has_value(); })) << from;
        EXPECT_EQ(s.burnNote()->id, "n1");
        EXPECT_EQ(s.burnNote()->text, "秘密");
        EXPECT_EQ(s.burnNote()->from, sender);
    }
    EXPECT_FALSE(fs::exists(support() / "chat.json"));
    EXPECT_TRUE(fs::is_empty(s.root() / ".parts") || !fs::exists(s.root() / ".parts"));
}

TEST_F(AppStateEvents, groupMessagesGoToAllAndDirectOnesToTheSender) {
    AppState& s = started();
    raise({ServerEvent::chat("m1", "dev-d", "Dee", "all", "大家好", false, 1000),
           ServerEvent::chat("m2", "dev-d", "Dee", s.deviceID(), "你好", false, 2000)});
    ASSERT_TRUE(qtWaitFor([&] { return hasMessage("dev-d", "m2"); }));
    EXPECT_TRUE(hasMessage("all", "m1"));
    EXPECT_FALSE(hasMessage("all", "m2"));
    ASSERT_TRUE(conv("dev-d"));
    EXPECT_EQ(conv("dev-d")->title, "Dee");
    EXPECT_EQ(conv("dev-d")->unread, 1);
    EXPECT_EQ(conv("all")->unread, 0);  // the open conversation ("all" at start) counts nothing
    EXPECT_EQ(conv("all")->lastText, "Dee：大家好");
    EXPECT_EQ(s.chatConvs()[0].id, "all");  // the group row stays first
    const ChatMsg& msg = s.chatMsgs().at("dev-d")[0];
    EXPECT_EQ(msg, (ChatMsg{"m2", "dev-d", "Dee", s.deviceID(), 2000, "你好", false, false, false, false}));
}

TEST_F(AppStateEvents, aMessageWithoutTimeGetsItsArrivalTime) {
    AppState& s = started();
    const double before = millisNow();
    raise({ServerEvent::chat("m1", "dev-d", "Dee", "all", "x", false, 0)});
    ASSERT_TRUE(qtWaitFor([&] { return hasMessage("all", "m1"); }));
    const double ts = s.chatMsgs().at("all")[0].ts;
    EXPECT_GE(ts, before);
    EXPECT_LE(ts, millisNow());
}

TEST_F(AppStateEvents, messagesWithoutIdOrSenderAreDropped) {
    AppState& s = started();
    const auto messagesBefore = s.chatMsgs();
    const auto convsBefore = s.chatConvs();
    raiseAndSettle(ServerEvent::chat("", "dev-d", "Dee", "all", "x", false, 1));
    raiseAndSettle(ServerEvent::chat("m9", "", "Dee", "all", "x", false, 1));
    auto messages = s.chatMsgs();
    for (auto& [key, list] : messages) {
        list.erase(std::remove_if(list.begin(), list.end(), [](const ChatMsg& m) { return m.id.rfind("marker-", 0) == 0; }),
                   list.end());
    }
    EXPECT_EQ(messages, messagesBefore);
    EXPECT_FALSE(conv("dev-d"));
}

TEST_F(AppStateEvents, ordinaryMessagesAreWrittenAndReadOnceOnesNever) {
    AppState& s = started();
    raise({ServerEvent::chat("m1", "dev-d", "Dee", "all", "留着", false, 1000)});
    ASSERT_TRUE(qtWaitFor([&] { return fs::exists(support() / "chat.json"); }));
    const std::string written = readFile(support() / "chat.json");
    EXPECT_EQ(json::parse(written), (json{{"msgs", json::array({json{{"id", "m1"}, {"from", "dev-d"}, {"fromName", "Dee"},
                                                                     {"to", "all"}, {"ts", 1000.0}, {"text", "留着"},
                                                                     {"mine", false}}})}}));

    raise({ServerEvent::chat("m2", "dev-d", "Dee", s.deviceID(), "阅后即焚", true, 2000)});
    ASSERT_TRUE(qtWaitFor([&] { return hasMessage("dev-d", "m2"); }));
    EXPECT_EQ(readFile(support() / "chat.json"), written);
    EXPECT_TRUE(s.chatMsgs().at("dev-d")[0].burn);
    EXPECT_EQ(conv("dev-d")->lastText, "🔥 阅后即焚消息");
}

TEST_F(AppStateEvents, aPlaceholderTitleIsReplacedByTheSendersName) {
    AppState& s = started();
    s.ensureConv("dev-a");
    s.ensureConv("dev-b");
    s.ensureConv("dev-c");
    ASSERT_EQ(conv("dev-a")->title, "设备");
    auto convs = s.chatConvs();
    for (ChatConv& c : convs) {
        if (c.id == "dev-c") c.title = "老王的电脑";
    }
    s.setChatConvs(convs);
    raise({ServerEvent::chat("m1", "dev-a", "Ann", s.deviceID(), "1", false, 1),
           ServerEvent::chat("m2", "dev-b", "", s.deviceID(), "2", false, 2),
           ServerEvent::chat("m3", "dev-c", "Cat", s.deviceID(), "3", false, 3)});
    ASSERT_TRUE(qtWaitFor([&] { return hasMessage("dev-c", "m3"); }));
    EXPECT_EQ(conv("dev-a")->title, "Ann");
    EXPECT_EQ(conv("dev-b")->title, "未知设备");
    EXPECT_EQ(conv("dev-c")->title, "老王的电脑");
}

TEST_F(AppStateEvents, aReadReceiptBurnsTheMessage) {
    AppState& s = started();
    ChatMsg mine{"own-1", s.deviceID(), "me", "dev-d", 5, "secret", true, true, false, false};
    s.appendChat("dev-d", mine, false);
    raise({ServerEvent::chatBurn("own-1")});
    ASSERT_TRUE(qtWaitFor([&] { return s.chatMsgs().at("dev-d")[0].burned; }));
    EXPECT_EQ(conv("dev-d")->lastText, "🔥 这条消息已阅后即焚");
}

TEST_F(AppStateEvents, aTeamRegistrationUpdatesThePendingCount) {
    AppState& s = started();
    team.pending = 3;
    raiseAndSettle(ServerEvent::teamPending());
    EXPECT_EQ(s.teamPending(), 3);
}

TEST_F(AppStateEvents, aLogEventChangesNothing) {
    AppState& s = started();
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles(); }));  // the start's own listing is done
    int changes = 0;
    QObject::connect(&s, &AppState::filesChanged, [&] { ++changes; });
    QObject::connect(&s, &AppState::burnNoteChanged, [&] { ++changes; });
    QObject::connect(&s, &AppState::teamPendingChanged, [&] { ++changes; });
    raiseAndSettle(ServerEvent::log("已删除 a.txt"));
    EXPECT_EQ(changes, 0);
}

TEST_F(AppStateEvents, eventsAreHandledInTheOrderTheyWereRaised) {
    AppState& s = started();
    std::vector<ServerEvent> events;
    for (int i = 0; i < 40; ++i) {
        events.push_back(ServerEvent::chat("m" + std::to_string(i), "dev-d", "Dee", "all", std::to_string(i), false, 1));
    }
    raise(events);
    ASSERT_TRUE(qtWaitFor([&] { return hasMessage("all", "m39"); }));
    const auto& list = s.chatMsgs().at("all");
    ASSERT_EQ(list.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(list[size_t(i)].id, "m" + std::to_string(i));
}

TEST_F(AppStateEvents, startLoadsTheHistoryIntoItsConversations) {
    writeFile(support() / "chat.json", json{{"msgs", json::array({
                                                          json{{"id", "h1"}, {"from", "dev-d"}, {"to", "all"}, {"ts", 10}, {"text", "a"}},
                                                          json{{"from", "dev-d"}, {"to", "me"}, {"ts", 20}, {"text", "b"}},
                                                          json{{"id", "h3"}, {"from", "me"}, {"to", "dev-e"}, {"mine", true}, {"ts", 30}},
                                                      })}}
                                             .dump());
    AppState& s = make();
    s.start();
    EXPECT_TRUE(hasMessage("all", "h1"));
    ASSERT_EQ(s.chatMsgs().at("dev-d").size(), 1u);
    EXPECT_TRUE(std::regex_match(s.chatMsgs().at("dev-d")[0].id,
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
    EXPECT_TRUE(hasMessage("dev-e", "h3"));
    EXPECT_EQ(conv("dev-e")->lastText, "我：");
    for (const ChatConv& c : s.chatConvs()) EXPECT_EQ(c.unread, 0) << c.id;
    EXPECT_EQ(s.chatConvs()[0].id, "all");
    EXPECT_EQ(s.chatConvs()[1].id, "dev-e");  // newest first after the group
}

}  // namespace
}  // namespace corvane::test

namespace corvane::test {
namespace {

TEST_F(AppStateTest, startMirrorsTheTeamStoreOfTheReceiveFolder) {
    team.hasAdmin = true;
    team.pending = 2;
    team.teamName = "Sales";
    team.hasLogo = true;
    team.logoStamp = 1700000000;
    team.users = {nlohmann::json{{"id", "u1"}, {"role", "admin"}}};
    AppState& s = make();
    int announced = 0;
    QObject::connect(&s, &AppState::teamNameChanged, [&] { ++announced; });
    s.start();
    EXPECT_TRUE(s.teamReady());
    EXPECT_EQ(s.teamPending(), 2);
    EXPECT_EQ(s.teamName(), "Sales");
    EXPECT_TRUE(s.teamHasLogo());
    EXPECT_EQ(s.teamLogoStamp(), 1700000000);
    EXPECT_EQ(s.teamUsers(), team.users);
    EXPECT_EQ(announced, 2);  // each refresh assigns, also without a change
    EXPECT_EQ(teamReads.back(), s.root());
}

}  // namespace
}  // namespace corvane::test
