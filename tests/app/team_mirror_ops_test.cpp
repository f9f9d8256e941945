// The team-state mirror over a real team store: set-up, renaming, blocking,
// the administrator's password, and the team name in the discovery beacon
// only in team usage mode.
#include <nlohmann/json.hpp>

#include "app_state_fixture.h"
#include "storage/team_store.h"
#include "support/qt_wait.h"
#include "support/udp_socket.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

using nlohmann::json;

class TeamMirror : public AppStateTest {
protected:
    AppState& makeWithStore(const std::string& config = "{}") {
        writeConfig(config);
        AppEnvironment env = environment();
        env.teamStore = store;
        env.readTeam = nullptr;  // read the store itself
        env.teamPendingCount = nullptr;
        state = std::make_unique<AppState>(env);
        return *state;
    }

    // A pending member registered through the store, as the team page would.
    std::string registerMember(const std::string& login) {
        const TeamRegResult result = store->registerUser(login, "", "secret1", "", "");
        EXPECT_TRUE(result.ok) << result.message;
        return result.user.id;
    }

    // The set-up and the password change answer later on the main thread: their refusal, once answered.
    static std::optional<std::string> enable(AppState& s, const std::string& title, const std::string& admin,
                                             const std::string& pass) {
        std::optional<Outcome> answer;
        s.enableTeam(title, admin, pass, [&](Outcome outcome) { answer = std::move(outcome); });
        EXPECT_TRUE(qtWaitFor([&] { return answer.has_value(); }));
        return answer ? refusalOf(*answer) : std::optional<std::string>("(no answer)");
    }

    static std::optional<std::string> changePassword(AppState& s, const std::string& oldPass,
                                                     const std::string& newPass) {
        std::optional<Outcome> answer;
        s.changeAdminPassword(oldPass, newPass, [&](Outcome outcome) { answer = std::move(outcome); });
        EXPECT_TRUE(qtWaitFor([&] { return answer.has_value(); }));
        return answer ? refusalOf(*answer) : std::optional<std::string>("(no answer)");
    }

    std::string statusOf(const std::string& id) const {
        const auto account = store->user(id);
        return account ? account->status : "(none)";
    }

    std::shared_ptr<TeamStore> store = teamStore;
};

TEST_F(TeamMirror, enableTeamChecksThePasswordFirstAndSetsUpOnce) {
    AppState& s = makeWithStore();
    EXPECT_EQ(enable(s, "Sales", "Ann", "12345"), "密码至少 6 位");
    EXPECT_FALSE(store->hasAdmin());

    EXPECT_EQ(enable(s, " \tSales\t ", "  ", "123456"), std::nullopt);
    EXPECT_TRUE(s.teamReady());
    EXPECT_EQ(s.teamName(), "Sales");
    ASSERT_EQ(s.teamUsers().size(), 1u);
    EXPECT_EQ(s.teamUsers()[0]["name"], "群主");  // an empty name after trimming
    EXPECT_EQ(s.teamUsers()[0]["role"], "admin");
    EXPECT_FALSE(s.teamUsers()[0].contains("hash"));
    for (const char* folder : {"_team", "_shared", "_users"}) EXPECT_TRUE(fs::is_directory(s.root() / folder)) << folder;

    EXPECT_EQ(enable(s, "Other", "Bob", "12345"), "密码至少 6 位") << "the password rule comes first";
    EXPECT_EQ(enable(s, "Other", "Bob", "abcdef"), "团队空间已经启用过了");
    EXPECT_EQ(store->allUsers().size(), 1u);
    EXPECT_EQ(store->teamName(), "Sales");
}

TEST_F(TeamMirror, renameTeamTakesOneToThirtyCharacters) {
    AppState& s = makeWithStore();
    ASSERT_EQ(enable(s, "Start", "Ann", "123456"), std::nullopt);
    struct Case {
        std::string input;
        std::optional<std::string> error;
        std::string stored;  // the team name afterwards
    };
    const std::string thirty = repeated("团", 30);
    const std::vector<Case> cases{
        {"  ", "团队名称 1-30 个字", "Start"},
        {" Sales\n", std::nullopt, "Sales"},
        {thirty, std::nullopt, thirty},
        {repeated("队", 31), "团队名称 1-30 个字", thirty},
        {"\u3000设计部\u3000", std::nullopt, "设计部"},
        {"", "团队名称 1-30 个字", "设计部"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(refusalOf(s.renameTeam(c.input)), c.error) << c.input;
        EXPECT_EQ(store->teamName(), c.stored) << c.input;
        EXPECT_EQ(s.teamName(), c.stored) << c.input;
    }
    // The name reached the accounts file: a fresh store reads it back.
    TeamStore reread;
    reread.bind(s.root());
    EXPECT_EQ(reread.teamName(), "设计部");
}

TEST_F(TeamMirror, toggleTeamBlockBlocksPendingAndReleasesBlockedButLeavesTheAdmin) {
    AppState& s = makeWithStore();
    ASSERT_EQ(enable(s, "T", "Ann", "123456"), std::nullopt);
    const std::string member = registerMember("carol");
    s.refreshTeamState();
    EXPECT_EQ(s.teamPending(), 1);

    s.toggleTeamBlock(member);
    EXPECT_EQ(statusOf(member), "blocked");
    EXPECT_EQ(s.teamPending(), 0);  // refreshed
    s.toggleTeamBlock(member);
    EXPECT_EQ(statusOf(member), "active");
    s.toggleTeamBlock(member);
    EXPECT_EQ(statusOf(member), "blocked");

    int refreshes = 0;
    QObject::connect(&s, &AppState::teamUsersChanged, [&] { ++refreshes; });
    const std::string admin = store->allUsers()[0].id;
    s.toggleTeamBlock(admin);
    s.toggleTeamBlock("u000000000000");
    EXPECT_EQ(statusOf(admin), "active");
    EXPECT_EQ(refreshes, 0) << "neither the administrator nor an unknown id refreshes";
}

TEST_F(TeamMirror, changeAdminPasswordPassesTheStoresAnswer) {
    AppState& s = makeWithStore();
    EXPECT_EQ(changePassword(s, "123456", "abcdef"), "找不到管理员账号");
    ASSERT_EQ(enable(s, "T", "Ann", "123456"), std::nullopt);
    EXPECT_EQ(changePassword(s, "wrong1", "abcdef"), "原密码不对");
    EXPECT_EQ(changePassword(s, "123456", "abc"), "新密码至少 6 位");
    EXPECT_EQ(changePassword(s, "123456", "abcdef"), std::nullopt);
    EXPECT_EQ(store->login("admin", "abcdef").kind, LoginResult::Kind::ok);
    EXPECT_EQ(store->login("admin", "123456").kind, LoginResult::Kind::bad);
}

// The beacons discovery sends to loopback, caught on this device's own discovery port.
class TeamBeacon : public TeamMirror {
protected:
    // Waits for a "here" beacon and returns it.
    std::optional<json> nextBeacon(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            const auto datagram = catcher.receive(std::chrono::milliseconds(50));
            QCoreApplication::processEvents();
            if (!datagram) continue;
            const json message = json::parse(datagram->bytes, nullptr, false);
            if (message.is_object() && message.value("t", "") == "here") return message;
        }
        return std::nullopt;
    }

    // The team "Alpha" in the receive folder's team files, made before the state reads them.
    bool storeTeamAlpha() const {
        TeamStore setup;
        setup.bind(home() / "Corvane");
        return setup.createAdmin("Ann", "123456", "Alpha").has_value();
    }

    UDPSocket catcher{"127.0.0.1", udpPort};
};

TEST_F(TeamBeacon, theBeaconCarriesTheTeamOnlyInTeamUsageMode) {
    ASSERT_TRUE(catcher.ok());
    ASSERT_TRUE(storeTeamAlpha());
    AppState& s = makeWithStore(R"({"usageMode":"lan"})");
    s.start();
    const auto lan = nextBeacon();
    ASSERT_TRUE(lan);
    EXPECT_FALSE(lan->contains("team")) << lan->dump();
    EXPECT_EQ(s.teamName(), "Alpha");

    s.setUsageMode("team");
    s.refreshTeamState();
    const auto team = nextBeacon();
    ASSERT_TRUE(team);
    EXPECT_EQ(team->value("team", ""), "Alpha") << team->dump();
}

TEST_F(TeamBeacon, inTeamModeTheStartUpAnnouncesTheTeamWithoutAnotherRefresh) {
    ASSERT_TRUE(catcher.ok());
    ASSERT_TRUE(storeTeamAlpha());
    makeWithStore(R"({"usageMode":"team"})").start();
    // The first refresh runs before discovery exists; the second one reaches it.
    std::optional<json> beacon;
    for (int i = 0; i < 3 && !(beacon && beacon->contains("team")); ++i) beacon = nextBeacon();
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->value("team", ""), "Alpha") << beacon->dump();
}

}  // namespace
}  // namespace corvane::test
