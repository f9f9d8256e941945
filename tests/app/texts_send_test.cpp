// Texts and read-once notes: default recipients, several recipients one after
// another, the one-time link on the clipboard, and failures. (Notes arriving:
// the server-event tests.)
#include "actions_fixture.h"
#include "support/loopback_server.h"
#include "support/scripted_http_server.h"

namespace corvane::test {
namespace {

class TextsTest : public ActionsTest {
protected:
    // Composes and sends, then waits until the send has ended (a toast was shown).
    void send(AppState& s, const std::string& text, bool burn, std::set<std::string> to) {
        s.setTextInput(text);
        s.setBurnMode(burn);
        s.setTextTargets(std::move(to));
        s.setShowTextSheet(true);
        const size_t before = toasts.size();
        s.sendText();
        ASSERT_TRUE(qtWaitFor([&] { return toasts.size() > before; }));
    }

    bool sheetReset(const AppState& s) const {
        return s.textInput().empty() && !s.burnMode() && s.textTargets().empty() && !s.showTextSheet();
    }

    static std::vector<ServerEvent> eventsOf(const LoopbackServer& server, ServerEvent::Kind kind) {
        std::vector<ServerEvent> out;
        for (const ServerEvent& e : server.events()) {
            if (e.kind == kind) out.push_back(e);
        }
        return out;
    }
};

TEST_F(TextsTest, defaultRecipientsFollowTheTargetOrTheCenter) {
    AppState& s = makeWithFakes();
    const Peer shown = testPeer("p1", "10.0.0.2", 8899);
    struct Case {
        bool nas;
        std::string center;
        Target target;
        std::set<std::string> expected;
    };
    const Case cases[] = {
        {false, "", Target::local(), {"local"}},
        {false, "c1", Target::of(shown), {"p1"}},
        {true, "", Target::of(shown), {"local"}},
        {true, s.deviceID(), Target::of(shown), {"local"}},
        {true, "c1", Target::local(), {"c1"}},
    };
    for (const Case& c : cases) {
        s.setNasEnabled(c.nas);
        s.setCenterID(c.center);
        s.setTarget(c.target);
        EXPECT_EQ(s.defaultTextTargets(), c.expected) << "nas " << c.nas << " center " << c.center;
    }
}

TEST_F(TextsTest, aReadOnceNoteToOnePeerPutsItsOneTimeLinkOnTheClipboardToTwoPeersNone) {
    LoopbackServer first;
    LoopbackServer second;
    ASSERT_TRUE(first.started() && second.started());
    AppState& s = startWithFakes();
    s.setPeers({testPeer("p1", "127.0.0.1", first.port()), testPeer("p2", "127.0.0.1", second.port())});
    send(s, "  秘密 \n", true, {"p1"});
    const auto notes = eventsOf(first, ServerEvent::Kind::burnText);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].text, "秘密");
    EXPECT_EQ(clipboard, std::vector<std::string>{"http://127.0.0.1:" + std::to_string(first.port()) + "/b/" + notes[0].id});
    EXPECT_EQ(toasts, std::vector<std::string>{"已发送，一次性链接已复制到剪贴板"});
    EXPECT_TRUE(sheetReset(s));

    clipboard.clear();
    send(s, "两人", true, {"p1", "p2"});
    EXPECT_EQ(eventsOf(first, ServerEvent::Kind::burnText).size(), 2u);
    EXPECT_EQ(eventsOf(second, ServerEvent::Kind::burnText).size(), 1u);
    EXPECT_TRUE(clipboard.empty());
    EXPECT_EQ(toasts, (std::vector<std::string>{"已发送，一次性链接已复制到剪贴板", "已发送，对方打开后即销毁"}));
}

TEST_F(TextsTest, aLinkIsBuiltOnlyFromALowerCaseHexId) {
    for (const std::string reply : {R"({"ok":true})", R"({"ok":true,"id":""})", R"({"ok":true,"id":"../../x"})",
                                    R"({"ok":true,"id":"ABCDEF"})", R"({"ok":true,"id":42})"}) {
        ScriptedHTTPServer peer({200, "application/json", reply});
        clipboard.clear();
        toasts.clear();
        AppState& s = startWithFakes();
        s.setPeers({testPeer("p1", "127.0.0.1", peer.port())});
        send(s, "x", true, {"p1"});
        EXPECT_TRUE(clipboard.empty()) << reply;
        EXPECT_EQ(toasts, std::vector<std::string>{"已发送，对方打开后即销毁"}) << reply;
        state.reset();
    }
}

TEST_F(TextsTest, toThisDeviceATextIsAlwaysAFileAndTheToastNamesFollowTheSortedKeys) {
    LoopbackServer peer;
    ASSERT_TRUE(peer.started());
    AppState& s = startWithFakes();
    send(s, "note to self", true, {"local"});
    EXPECT_EQ(toasts, std::vector<std::string>{"已发送，对方打开后即销毁"});
    EXPECT_TRUE(clipboard.empty());
    ASSERT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && s.files().size() == 1; }));
    EXPECT_EQ(readFile(s.root() / s.files()[0].path), "note to self");

    s.setPeers({testPeer("0abc", "127.0.0.1", peer.port())});
    send(s, "hello", false, {"local", "0abc"});
    EXPECT_EQ(toasts, (std::vector<std::string>{"已发送，对方打开后即销毁", "已发送给 Peer 0abc、本机"}));
    EXPECT_EQ(eventsOf(peer, ServerEvent::Kind::textReceived).size(), 1u);
}

TEST_F(TextsTest, someFailuresLeaveTheFailureToastAndResetTheSheet) {
    LoopbackServer peer;
    ASSERT_TRUE(peer.started());
    AppState& s = startWithFakes();
    s.setPeers({testPeer("p1", "127.0.0.1", peer.port()), testPeer("p2", "127.0.0.1", 1)});
    send(s, "hello", false, {"p1", "p2", "gone"});
    EXPECT_EQ(toasts, std::vector<std::string>{"部分发送失败，详见活动记录"});
    EXPECT_TRUE(sheetReset(s));
    EXPECT_EQ(eventsOf(peer, ServerEvent::Kind::textReceived).size(), 1u);
}

TEST_F(TextsTest, whenEveryRecipientFailsTheTextAndTheSheetStay) {
    AppState& s = startWithFakes();
    s.setPeers({testPeer("p2", "127.0.0.1", 1)});
    send(s, "keep me", true, {"p2", "gone"});
    EXPECT_EQ(toasts, std::vector<std::string>{"部分发送失败，详见活动记录"});
    EXPECT_EQ(s.textInput(), "keep me");
    EXPECT_TRUE(s.burnMode());
    EXPECT_EQ(s.textTargets(), (std::set<std::string>{"gone", "p2"}));
    EXPECT_TRUE(s.showTextSheet());
}

}  // namespace
}  // namespace corvane::test

namespace corvane::test {
namespace {

// A note closed by id (at once or after the copy delay) is gone from the server;
// only the note it still shows is cleared, so a newer note is never closed unseen.
TEST_F(ActionsTest, closingANoteDiscardsItAndClearsOnlyWhileItIsStillShown) {
    AppState& s = startWithFakes();
    const auto first = s.server()->storeBurn("一", "127.0.0.1");
    const auto second = s.server()->storeBurn("二", "127.0.0.1");
    ASSERT_TRUE(first && second);
    s.showBurnNote({.id = *first, .text = "一", .from = "本机", .at = {}});
    s.showBurnNote({.id = *second, .text = "二", .from = "本机", .at = {}});  // arrives while the first shows: it waits

    // Copied twice: two delayed closes of the first note.
    s.closeBurnNoteSoon(*first);
    s.closeBurnNoteSoon(*first);
    EXPECT_EQ(s.burnNote()->id, *first) << "the close waits its delay";
    ASSERT_TRUE(qtWaitFor([&] { return s.burnNote() && s.burnNote()->id == *second; }));
    qtSpin(std::chrono::milliseconds(100));
    ASSERT_TRUE(s.burnNote());
    EXPECT_EQ(s.burnNote()->id, *second) << "the second delayed close left the newer note";
    ASSERT_TRUE(qtWaitFor([&] { return httpRequest(s.port(), "GET", "/api/burn/" + *first)->status == 404; }));

    s.closeBurnNote(*first);  // a late close of the old note changes nothing
    EXPECT_EQ(s.burnNote()->id, *second);
    s.closeBurnNote(*second);
    EXPECT_FALSE(s.burnNote());
    ASSERT_TRUE(qtWaitFor([&] { return httpRequest(s.port(), "GET", "/api/burn/" + *second)->status == 404; }));
}

}  // namespace
}  // namespace corvane::test
