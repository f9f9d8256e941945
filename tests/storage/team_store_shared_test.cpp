// Two servers on one team folder: each store reads what the other wrote before its own
// change and writes under the folder's lock, so neither loses the other's accounts,
// sessions or reset codes.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "storage/team_store.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

// A quick stand-in for the 120,000-round derivation: these tests are about the files.
PasswordRecord quickRecord(const std::string& pass) { return PasswordRecord{"c2FsdA==", "plain:" + pass, 1}; }

PasswordCheck quickCheck(const std::string& pass, const PasswordRecord& stored) {
    return stored.hash == "plain:" + pass ? PasswordCheck::match : PasswordCheck::mismatch;
}

std::unique_ptr<TeamStore> storeOn(const fs::path& root) {
    auto store = std::make_unique<TeamStore>(TeamStore::systemClock(), [](const std::string&) {}, quickRecord,
                                             quickCheck);
    store->bind(root);
    return store;
}

std::string memberName(const std::string& server, int k) { return server + "_m" + std::to_string(k); }

// One server's share of the work: registers members, the administrator approves and signs
// them in, a reset code is issued for every third, and halfway the server restarts. The
// members' session tokens go to `tokensFile`, one a line. False at the first failed step.
bool serveMembers(const fs::path& root, const std::string& server, int members, const fs::path& tokensFile) {
    auto store = storeOn(root);
    std::string tokens;
    for (int k = 0; k < members; ++k) {
        const std::string name = memberName(server, k);
        const TeamRegResult reg = store->registerUser(name, name, "member-pass", "", name + "@example.com");
        if (!reg.ok) return false;
        if (store->login("admin", "admin-pass").kind != LoginResult::Kind::ok) return false;
        if (!store->setStatus(reg.user.id, "active")) return false;
        const LoginResult signedIn = store->login(name, "member-pass");
        if (signedIn.kind != LoginResult::Kind::ok) return false;
        tokens += signedIn.token + "\n";
        if (k % 3 == 0 && !store->issueReset(name)) return false;
        if (k == members / 2) store = storeOn(root);  // a restart
    }
    writeFile(tokensFile, tokens);
    return true;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

TEST(TeamStoreShared, TwoServersChangingOneFolderAtOnceLoseNothing) {
    Sandbox box;
    const fs::path root = box / "team";
    ASSERT_TRUE(storeOn(root)->createAdmin("Boss", "admin-pass", "Crew"));
    auto watching = storeOn(root);  // bound before any member exists, never restarted
    constexpr int members = 12;

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) std::_Exit(serveMembers(root, "b", members, box / "b.tokens") ? 0 : 1);
    const bool mine = serveMembers(root, "a", members, box / "a.tokens");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(mine);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other server failed a step";

    const auto restarted = storeOn(root);
    for (const TeamStore* store : {watching.get(), restarted.get()}) {
        const std::vector<TeamUser> users = store->allUsers();
        EXPECT_EQ(users.size(), size_t(1 + 2 * members));
        for (const std::string server : {"a", "b"}) {
            for (int k = 0; k < members; ++k) {
                const std::string name = memberName(server, k);
                const auto found = std::find_if(users.begin(), users.end(), [&](const TeamUser& u) { return u.user == name; });
                ASSERT_NE(found, users.end()) << name << " was lost";
                EXPECT_EQ(found->status, "active") << name;
                EXPECT_EQ(store->resetAccountId(name), std::optional<std::string>(found->id));
            }
            for (const std::string& token : linesOf(readFile(box / (server + ".tokens")))) {
                EXPECT_TRUE(store->userForToken(token)) << "a session made on server " << server << " was lost";
            }
        }
        EXPECT_EQ(store->teamName(), "Crew");
    }
}

TEST(TeamStoreShared, EachServerChangesWhatTheOtherWroteAndKnowsItsSessions) {
    Sandbox box;
    auto a = storeOn(box.path());
    auto b = storeOn(box.path());
    ASSERT_TRUE(a->createAdmin("Boss", "admin-pass", "Crew"));
    EXPECT_TRUE(b->hasAdmin());

    const TeamRegResult bob = b->registerUser("bob", "Bob", "bob-pass-1", "", "bob@example.com");
    ASSERT_TRUE(bob.ok) << bob.message;
    EXPECT_EQ(a->pendingCount(), 1);
    ASSERT_TRUE(a->setStatus(bob.user.id, "active")) << "A approves whom B registered";

    const LoginResult onB = b->login("bob", "bob-pass-1");
    ASSERT_EQ(onB.kind, LoginResult::Kind::ok) << onB.message;
    const LoginResult admin = a->login("admin", "admin-pass");
    ASSERT_EQ(admin.kind, LoginResult::Kind::ok);
    EXPECT_TRUE(a->userForToken(onB.token)) << "B's session is valid on A";
    EXPECT_TRUE(b->userForToken(admin.token)) << "A's session is valid on B";

    ASSERT_TRUE(b->changePassword(bob.user.id, "bob-pass-1", "bob-pass-2").ok());
    EXPECT_EQ(a->login("bob", "bob-pass-2").kind, LoginResult::Kind::ok) << "A checks the password B saved";
    ASSERT_TRUE(a->issueReset("bob"));
    EXPECT_FALSE(b->issueReset("bob")) << "B sees the code A issued a moment ago";

    a->logout(admin.token);
    EXPECT_FALSE(b->userForToken(admin.token)) << "a sign-out on A ends the session on B";
    EXPECT_TRUE(b->userForToken(onB.token));
    a->setTeamName("Renamed");
    ASSERT_TRUE(b->removeUser(bob.user.id));
    EXPECT_EQ(a->teamName(), "Renamed");
    EXPECT_FALSE(a->user(bob.user.id));
    EXPECT_FALSE(a->userForToken(onB.token));
    EXPECT_EQ(storeOn(box.path())->allUsers().size(), 1u);
}

}  // namespace
}  // namespace corvane::test
