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

// Milliseconds at the full precision of the application's clock.
double millisNow() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

class AppStateEvents : public AppStateTest {
protected:
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

    int markers_ = 0;
};

TEST_F(AppStateEvents, aReceivedFileReloadsTheLocalListButNotAPeersList) {
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
    s.setTarget(Target::of(testPeer("p", "10.0.0.7", 8899)));
    int loads = 0;
    QObject::connect(&s, &AppState::loadingFilesChanged, [&] { ++loads; });
    raiseAndSettle(ServerEvent::fileReceived(FileItem{"a", "a", 1, 0}));
    EXPECT_EQ(loads, 0) << "a peer is shown: nothing reloads";
}

TEST_F(AppStateEvents, aNoteWaitingInLineStaysCountedByTheServerUntilItIsShown) {
    AppState& s = started();
    for (const char* text : {"one", "two"}) {
        const auto reply = httpRequest(s.port(), "POST", "/api/text", {}, json{{"text", text}, {"burn", true}}.dump());
        ASSERT_TRUE(reply && reply->status == 200);
    }
    ASSERT_TRUE(qtWaitFor([&] { return s.burnNote() && s.server()->burnsAwaitingDisplay() == 1; }));
    s.setBurnNote(std::nullopt);  // closed: the second one is shown and released
    ASSERT_TRUE(s.burnNote());
    EXPECT_EQ(s.burnNote()->text, "two");
    EXPECT_EQ(s.server()->burnsAwaitingDisplay(), 0);
}

TEST_F(AppStateEvents, readOnceNotesNameTheirSenderAndWaitTheirTurnNoneReplacedUnseen) {
    AppState& s = started(R"({"manualPeers":["10.0.0.5:8899"]})");
    ASSERT_EQ(s.peers().size(), 1u);
    raise({ServerEvent::burnText("n1", "秘密", "10.0.0.5"), ServerEvent::burnText("n2", "t2", "10.9.9.9"),
           ServerEvent::burnText("n3", "t3", "")});
    team.pending = 7;  // once the count arrives, so have the three notes before it
    raise({ServerEvent::teamPending()});
    ASSERT_TRUE(qtWaitFor([&] { return s.teamPending() == 7; }));
    const std::tuple<const char*, const char*, const char*> shown[] = {
        {"n1", "秘密", "手动 10.0.0.5"}, {"n2", "t2", "10.9.9.9"}, {"n3", "t3", "局域网设备"}};
    for (const auto& [id, text, sender] : shown) {
        ASSERT_TRUE(s.burnNote()) << id;
        EXPECT_EQ(s.burnNote()->id, id);
        EXPECT_EQ(s.burnNote()->text, text) << id;
        EXPECT_EQ(s.burnNote()->from, sender) << id;
        s.setBurnNote(std::nullopt);  // the user closes it: the next one comes
    }
    EXPECT_FALSE(s.burnNote());
    EXPECT_FALSE(fs::exists(support() / "chat.json"));
    EXPECT_TRUE(fs::is_empty(s.root() / ".parts") || !fs::exists(s.root() / ".parts"));
}

TEST_F(AppStateEvents, groupMessagesGoToAllDirectOnesToTheSenderAndAMissingTimeIsTheArrival) {
    AppState& s = started();
    const double before = millisNow();
    raise({ServerEvent::chat("m1", "dev-d", "Dee", "all", "大家好", false, 1000),
           ServerEvent::chat("m2", "dev-d", "Dee", s.deviceID(), "你好", false, 2000),
           ServerEvent::chat("m3", "dev-e", "Eve", "all", "x", false, 0)});
    ASSERT_TRUE(qtWaitFor([&] { return hasMessage("all", "m3"); }));
    EXPECT_TRUE(hasMessage("dev-d", "m2"));
    EXPECT_TRUE(hasMessage("all", "m1"));
    EXPECT_FALSE(hasMessage("all", "m2"));
    ASSERT_TRUE(conv("dev-d"));
    EXPECT_EQ(conv("dev-d")->title, "Dee");
    EXPECT_EQ(conv("dev-d")->unread, 1);
    EXPECT_EQ(conv("all")->unread, 0);  // the open conversation ("all" at start) counts nothing
    EXPECT_EQ(s.chatConvs()[0].id, "all");  // the group row stays first
    EXPECT_EQ(conv("all")->title, "全员频道");
    EXPECT_EQ(conv("all")->sub, "办公室所有人");
    EXPECT_EQ(s.chatMsgs().at("dev-d")[0], (ChatMsg{"m2", "dev-d", "Dee", s.deviceID(), 2000, "你好", false, false, false, false}));
    const double ts = s.chatMsgs().at("all")[1].ts;
    EXPECT_GE(ts, before);
    EXPECT_LE(ts, millisNow());
    EXPECT_EQ(conv("all")->lastText, "Eve：x");
}

TEST_F(AppStateEvents, messagesWithoutIdOrSenderAreDropped) {
    AppState& s = started();
    const auto messagesBefore = s.chatMsgs();
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

TEST_F(AppStateEvents, ordinaryMessagesAreWrittenThroughARenameAndReadOnceOnesNever) {
    AppState& s = started();
    raise({ServerEvent::chat("m1", "dev-d", "Dee", "all", "留着", false, 1000)});
    ASSERT_TRUE(qtWaitFor([&] { return fs::exists(support() / "chat.json"); }));
    const std::string written = readFile(support() / "chat.json");
    EXPECT_EQ(json::parse(written), (json{{"msgs", json::array({json{{"id", "m1"}, {"from", "dev-d"}, {"fromName", "Dee"},
                                                                     {"to", "all"}, {"ts", 1000.0}, {"text", "留着"},
                                                                     {"mine", false}}})}}));
    EXPECT_EQ(folderEntries(support()), (std::vector<std::string>{"boot.log", "chat.json", "config.json", "device-id"}))
        << "no temporary file left";

    raise({ServerEvent::chat("m2", "dev-d", "Dee", s.deviceID(), "阅后即焚", true, 2000)});
    ASSERT_TRUE(qtWaitFor([&] { return hasMessage("dev-d", "m2"); }));
    EXPECT_EQ(readFile(support() / "chat.json"), written);
    EXPECT_TRUE(s.chatMsgs().at("dev-d")[0].burn);
    EXPECT_EQ(conv("dev-d")->lastText, "🔥 阅后即焚消息");
}

TEST_F(AppStateEvents, aReadReceiptBurnsOnlyThisDevicesOwnReadOnceMessage) {
    AppState& s = started();
    s.appendChat("dev-d", ChatMsg{"own-1", s.deviceID(), "me", "dev-d", 5, "secret", true, true, false, false}, false);
    raise({ServerEvent::chat("x1", "dev-e", "Eve", s.deviceID(), "their secret", true, 100)});
    raise({ServerEvent::chatBurn("x1"), ServerEvent::chatBurn("own-1")});
    ASSERT_TRUE(qtWaitFor([&] { return s.chatMsgs().at("dev-d")[0].burned; }));
    EXPECT_EQ(conv("dev-d")->lastText, "🔥 这条消息已阅后即焚");
    EXPECT_FALSE(s.chatMsgs().at("dev-e")[0].burned);
    EXPECT_EQ(conv("dev-e")->lastText, "🔥 阅后即焚消息");
}

TEST_F(AppStateEvents, aTeamRegistrationUpdatesThePendingCountAndALogEventChangesNothing) {
    AppState& s = started();
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles(); }));  // the start's own listing is done
    int changes = 0;
    QObject::connect(&s, &AppState::filesChanged, [&] { ++changes; });
    QObject::connect(&s, &AppState::burnNoteChanged, [&] { ++changes; });
    QObject::connect(&s, &AppState::teamPendingChanged, [&] { ++changes; });
    raiseAndSettle(ServerEvent::log("已删除 a.txt"));
    EXPECT_EQ(changes, 0);

    team.pending = 3;
    raiseAndSettle(ServerEvent::teamPending());
    EXPECT_EQ(s.teamPending(), 3);
}

TEST_F(AppStateEvents, aChangeOfTheTeamsAccountsRefreshesTheWholeTeamMirror) {
    // Registered, approved, blocked or removed on the web page: an open team panel shows it.
    AppState& s = started();
    team.hasAdmin = true;
    team.pending = 1;
    team.users = {json{{"id", "u1"}, {"user", "admin"}, {"status", "active"}, {"role", "admin"}},
                  json{{"id", "u2"}, {"user", "amy"}, {"status", "pending"}}};
    raiseAndSettle(ServerEvent::teamAccounts());
    EXPECT_TRUE(s.teamReady());
    EXPECT_EQ(s.teamUsers(), team.users);
    EXPECT_EQ(s.teamPending(), 1);

    team.users.pop_back();
    team.pending = 0;
    raiseAndSettle(ServerEvent::teamAccounts());
    EXPECT_EQ(s.teamUsers(), team.users);
    EXPECT_EQ(s.teamPending(), 0);
}

TEST_F(AppStateEvents, aNameLogoOrMailChangeOnTheTeamPageReachesTheOpenPanel) {
    // The team mirror is read again on a name or logo change; a mail change is passed on.
    AppState& s = started();
    int mailChanges = 0;
    QObject::connect(&s, &AppState::teamMailChanged, [&] { ++mailChanges; });
    team.hasAdmin = true;
    team.teamName = "Sales";
    team.hasLogo = true;
    team.logoStamp = 1700000000;
    raiseAndSettle(ServerEvent::teamIdentity());
    EXPECT_EQ(s.teamName(), "Sales");
    EXPECT_TRUE(s.teamHasLogo());
    EXPECT_EQ(s.teamLogoStamp(), 1700000000);
    EXPECT_EQ(mailChanges, 0);

    team.teamName = "Ops";
    raiseAndSettle(ServerEvent::teamMail());
    EXPECT_EQ(mailChanges, 1);
    EXPECT_EQ(s.teamName(), "Sales") << "a mail change leaves the mirror as it was";
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

TEST_F(AppStateEvents, startLoadsTheHistoryIntoItsConversationsSkippingDamagedEntries) {
    const json msgs = json::array({3, "x", nullptr,
                                   {{"id", "h1"}, {"from", "dev-d"}, {"to", "all"}, {"ts", 10}, {"text", "a"}, {"mine", "yes"}},
                                   {{"from", "dev-d"}, {"to", "me"}, {"ts", 20}, {"text", "b"}},
                                   {{"id", "h3"}, {"from", "me"}, {"to", "dev-e"}, {"mine", true}, {"ts", 30}}});
    writeFile(support() / "chat.json", json{{"msgs", msgs}}.dump());
    AppState& s = started();
    ASSERT_EQ(s.chatMsgs().at("all").size(), 1u);
    EXPECT_EQ(s.chatMsgs().at("all")[0].id, "h1");
    EXPECT_FALSE(s.chatMsgs().at("all")[0].mine);
    ASSERT_EQ(s.chatMsgs().at("dev-d").size(), 1u);
    EXPECT_TRUE(std::regex_match(s.chatMsgs().at("dev-d")[0].id,
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
    EXPECT_TRUE(hasMessage("dev-e", "h3"));
    EXPECT_EQ(conv("dev-e")->lastText, "我：");
    for (const ChatConv& c : s.chatConvs()) EXPECT_EQ(c.unread, 0) << c.id;
    EXPECT_EQ(s.chatConvs()[0].id, "all");
    EXPECT_EQ(s.chatConvs()[1].id, "dev-e");  // newest first after the group
}

TEST_F(AppStateEvents, aLongHistoryLoadsAfterTheStartInOneStepBeforeWhatArrivedMeanwhile) {
    // 10,000 stored messages over 50 conversations held every start for 6 s before the first paint.
    json msgs = json::array();
    for (int i = 0; i < 10000; ++i) {
        const std::string device = "dev-" + std::to_string(i % 50);
        msgs.push_back({{"id", "h" + std::to_string(i)}, {"from", device}, {"fromName", "D"}, {"to", "me"},
                        {"ts", 1000 + i}, {"text", "t" + std::to_string(i)}, {"mine", false}});
    }
    writeFile(support() / "chat.json", json{{"msgs", msgs}}.dump());
    writeConfig("{}");
    AppState& s = make();
    int msgChanges = 0;
    QObject::connect(&s, &AppState::chatMsgsChanged, [&] { ++msgChanges; });
    s.start();
    EXPECT_TRUE(s.chatHistoryLoading()) << "the start waited for the history";
    EXPECT_FALSE(conv("dev-7"));
    s.handleServerEvent(ServerEvent::chat("new", "dev-7", "D", s.deviceID(), "刚到", false, 50000));
    s.ensureConv("dev-9");
    s.clearChat("dev-9");  // cleared before its history came: it stays clear
    const int changesBeforeTheHistory = msgChanges;

    ASSERT_TRUE(qtWaitFor([&] { return !s.chatHistoryLoading(); }));
    EXPECT_EQ(msgChanges, changesBeforeTheHistory + 1);
    EXPECT_EQ(s.chatConvs().size(), 51u);
    ASSERT_EQ(s.chatMsgs().at("dev-7").size(), 201u);
    EXPECT_EQ(s.chatMsgs().at("dev-7")[0].id, "h7");
    EXPECT_EQ(s.chatMsgs().at("dev-7")[199].id, "h9957");
    EXPECT_EQ(s.chatMsgs().at("dev-7")[200].id, "new");  // what arrived meanwhile stays the newest
    EXPECT_EQ(conv("dev-7")->lastText, "刚到");
    EXPECT_EQ(conv("dev-7")->unread, 1);
    EXPECT_EQ(conv("dev-8")->lastText, "t9958");
    EXPECT_EQ(conv("dev-8")->unread, 0);
    EXPECT_EQ(s.chatConvs()[1].id, "dev-7");  // newest first after the group
    EXPECT_EQ(s.chatConvs()[2].id, "dev-49");
    EXPECT_TRUE(s.chatMsgs().at("dev-9").empty());
    EXPECT_EQ(conv("dev-9")->lastText, "点这里开始对话");
    // The message that came first is written now, with the newest of the history.
    const json written = json::parse(readFile(support() / "chat.json"));
    ASSERT_EQ(written["msgs"].size(), 300u);
    EXPECT_EQ(written["msgs"].back()["id"], "new");
    for (const json& msg : written["msgs"]) EXPECT_NE(msg["from"], "dev-9") << msg["id"];
}

}  // namespace
}  // namespace corvane::test
