// Binding the store to a team root, loading and saving its files, and its folders.

#include <regex>

#include <gtest/gtest.h>

#include "storage/team_crypto.h"
#include "team_test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace corvane::test {
namespace {

std::vector<std::string> brokenCopies(const fs::path& folder, const std::string& name) {
    std::vector<std::string> found;
    if (!fs::exists(folder)) return found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind(name + ".broken-", 0) == 0) found.push_back(file);
    }
    return found;
}

using TeamStoreFiles = TeamStoreTest;

TEST_F(TeamStoreFiles, AFreshRootHasNoAdminNoUsersAndNoName) {
    EXPECT_EQ(store.rootPath(), box.path().string());
    EXPECT_FALSE(store.hasAdmin());
    EXPECT_EQ(store.pendingCount(), 0);
    EXPECT_TRUE(store.allUsers().empty());
    EXPECT_EQ(store.teamName(), "");
    EXPECT_FALSE(fs::exists(teamDir())) << "binding writes nothing";
}

TEST_F(TeamStoreFiles, AnUnboundStoreReadsAndWritesNothing) {
    TeamStore unbound([] { return 1.0; }, [](const std::string&) {});
    EXPECT_EQ(unbound.rootPath(), "");
    unbound.setTeamName("x");
    unbound.prepareDirs();
    EXPECT_FALSE(unbound.hasLogo());
    EXPECT_EQ(unbound.logoStamp(), 0);
    EXPECT_EQ(unbound.saveLogo("GIF89a-------"), "保存失败");
    EXPECT_FALSE(unbound.userFolder("u0123456789ab"));
    EXPECT_FALSE(fs::exists("_team"));
}

TEST_F(TeamStoreFiles, LoadsAccountsWithTheirDefaults) {
    writeTeamFile("accounts.json", R"({"version":1,"team":"Crew","users":[
        {"id":"u1","user":"bob","iter":0,"created":"soon"},
        {"id":"u2","user":"admin","role":"admin","status":"active","iter":5000,"created":1700000000000}]})");
    reload();
    const auto users = store.allUsers();
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].role, "member");
    EXPECT_EQ(users[0].status, "pending");
    EXPECT_EQ(users[0].iter, 120000);
    EXPECT_EQ(users[0].created, 0);
    EXPECT_EQ(users[1].iter, 5000);
    EXPECT_EQ(store.teamName(), "Crew");
    EXPECT_TRUE(store.hasAdmin());
    EXPECT_EQ(store.pendingCount(), 1);
    EXPECT_EQ(store.user("u2")->user, "admin");
    EXPECT_FALSE(store.user("U2")) << "ids compare exactly";
}

TEST_F(TeamStoreFiles, ATeamNameThatIsNotTextLoadsEmpty) {
    writeTeamFile("accounts.json", R"({"team":7,"users":[]})");
    reload();
    EXPECT_EQ(store.teamName(), "");
}

TEST_F(TeamStoreFiles, UsersWithOneNonObjectElementLoadNoUsersAndTheFileIsKeptAside) {
    const std::string original = R"({"team":"Crew","users":[{"id":"u1","user":"bob"},"junk"]})";
    writeTeamFile("accounts.json", original);
    reload();
    EXPECT_TRUE(store.allUsers().empty());
    EXPECT_TRUE(brokenCopies(teamDir(), "accounts.json").empty()) << "nothing is written by loading";

    store.setTeamName("New");
    const auto copies = brokenCopies(teamDir(), "accounts.json");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readFile(teamDir() / copies[0]), original);
    EXPECT_EQ(fileMode(teamDir() / copies[0]), 0600u);
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_NE(logLines[0].find(copies[0]), std::string::npos) << logLines[0];

    store.setTeamName("Newer");
    EXPECT_EQ(brokenCopies(teamDir(), "accounts.json").size(), 1u) << "copied aside once";
    EXPECT_EQ(logLines.size(), 1u);
}

TEST_F(TeamStoreFiles, EveryUnusableTeamFileIsKeptAsideBeforeItsFirstSave) {
    struct Case {
        const char* file;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"accounts.json", "{not json"},
        {"accounts.json", "[1,2]"},
        {"accounts.json", R"({"team":"x"})"},
        {"accounts.json", R"({"users":{"id":"u1"}})"},
        {"sessions.json", "garbage"},
        {"sessions.json", R"({"sessions":[]})"},
        {"resets.json", "\"text\""},
        {"resets.json", R"({"codes":5})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.bytes);
        Sandbox root;
        std::vector<std::string> lines;
        TeamStore fresh([] { return 1700000000.0; }, [&](const std::string& line) { lines.push_back(line); });
        writeFile(root / "_team" / c.file, c.bytes);
        fresh.bind(root.path());
        EXPECT_TRUE(fresh.allUsers().empty());
        {
            std::lock_guard hold(fresh.lock());
            fresh.saveUsersLocked();
            fresh.saveSessionsLocked();
            fresh.saveResetsLocked();
        }
        const auto copies = brokenCopies(root / "_team", c.file);
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(readFile(root / "_team" / copies[0]), c.bytes);
        EXPECT_EQ(lines.size(), 1u);
    }
}

TEST_F(TeamStoreFiles, MissingFilesAreNotDamage) {
    store.setTeamName("x");
    {
        std::lock_guard hold(store.lock());
        store.saveSessionsLocked();
        store.saveResetsLocked();
    }
    EXPECT_TRUE(logLines.empty());
    for (const char* name : {"accounts.json", "sessions.json", "resets.json"}) {
        EXPECT_TRUE(brokenCopies(teamDir(), name).empty()) << name;
    }
}

TEST_F(TeamStoreFiles, LoadsOnlyLiveSessionsAndLiveResetEntries) {
    writeTeamFile("accounts.json", R"({"users":[{"id":"u1","user":"bob","status":"active"}]})");
    const double now = clock;
    writeTeamFile("sessions.json", json{{"sessions",
                                         {{"live-token-0123456789", {{"uid", "u1"}, {"exp", now + 10}}},
                                          {"past-token-0123456789", {{"uid", "u1"}, {"exp", now - 1}}},
                                          {"edge-token-0123456789", {{"uid", "u1"}, {"exp", now}}},
                                          {"nouid-token-012345678", {{"exp", now + 10}}},
                                          {"text-token-0123456789", "u1"}}}}
                                       .dump());
    writeTeamFile("resets.json", json{{"codes",
                                       {{"u1", {{"hash", "h"}, {"exp", now + 5}, {"tries", 0}, {"sent", now}}},
                                        {"u2", {{"hash", "h"}, {"exp", now - 5}}},
                                        {"u3", "x"}}}}
                                     .dump());
    reload();
    EXPECT_TRUE(store.userForToken("live-token-0123456789"));
    EXPECT_FALSE(store.userForToken("past-token-0123456789"));
    EXPECT_FALSE(store.userForToken("edge-token-0123456789"));
    EXPECT_FALSE(store.userForToken("nouid-token-012345678")) << "an empty uid resolves to nobody";
    {
        std::lock_guard hold(store.lock());
        store.saveSessionsLocked();
        store.saveResetsLocked();
    }
    const json sessions = readJSON("sessions.json")["sessions"];
    EXPECT_EQ(sessions.size(), 2u);
    EXPECT_TRUE(sessions.contains("live-token-0123456789"));
    EXPECT_EQ(sessions["nouid-token-012345678"]["uid"], "");
    const json codes = readJSON("resets.json")["codes"];
    EXPECT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes["u1"]["hash"], "h") << "an entry is kept whole";
    EXPECT_TRUE(logLines.empty());
}

TEST_F(TeamStoreFiles, BindingTheSamePathKeepsMemoryAndAnotherPathRereads) {
    writeTeamFile("accounts.json", R"({"team":"Disk","users":[]})");
    reload();
    EXPECT_EQ(store.teamName(), "Disk");
    {
        std::lock_guard hold(store.lock());
        store.cachedTeamNameLocked() = "Memory";  // not saved
    }
    store.bind(box.path());
    store.bind(box.path().string() + "/");
    EXPECT_EQ(store.teamName(), "Memory");
    reload();
    EXPECT_EQ(store.teamName(), "Disk");
}

TEST_F(TeamStoreFiles, SavedFilesArePrivateAndAccountsAreSortedAndPretty) {
    const std::string id = setUpTeamWithAlice();
    ASSERT_TRUE(store.login("alice", "alice-pass").kind == LoginResult::Kind::ok);
    ASSERT_TRUE(store.issueReset("alice"));
    for (const char* name : {"accounts.json", "sessions.json", "resets.json"}) {
        EXPECT_EQ(fileMode(teamFile(name)), 0600u) << name;
    }
    const std::string text = readFile(teamFile("accounts.json"));
    EXPECT_NE(text.find("\n  \"team\": \"Team\""), std::string::npos) << "one member per line";
    EXPECT_LT(text.find("\"team\""), text.find("\"users\""));
    EXPECT_LT(text.find("\"approvedAt\""), text.find("\"created\""));
    const json accounts = json::parse(text);
    EXPECT_EQ(accounts["version"], 1);
    ASSERT_EQ(accounts["users"].size(), 2u);
    EXPECT_EQ(accounts["users"][1]["id"], id);
    EXPECT_EQ(accounts["users"][1].size(), 13u);
    EXPECT_EQ(readFile(teamFile("sessions.json")).find('\n'), std::string::npos) << "compact";
    EXPECT_EQ(readFile(teamFile("resets.json")).find('\n'), std::string::npos) << "compact";
    for (const auto& entry : fs::directory_iterator(teamDir())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

TEST_F(TeamStoreFiles, WhatIsSavedLoadsBackTheSame) {
    setUpTeamWithAlice();
    const LoginResult login = store.login("alice", "alice-pass");
    const auto before = store.allUsers();
    reload();
    const auto after = store.allUsers();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].toJSON(), before[i].toJSON());
    EXPECT_EQ(store.teamName(), "Team");
    EXPECT_TRUE(store.userForToken(login.token));
}

TEST_F(TeamStoreFiles, PrepareDirsMakesTheThreeTeamFolders) {
    store.prepareDirs();
    for (const char* name : {"_team", "_shared", "_users"}) EXPECT_TRUE(fs::is_directory(box / name)) << name;
    store.prepareDirs();  // existing folders are no error
}

TEST_F(TeamStoreFiles, AnAccountIdNamesAPersonalFolderOnlyWhenItIsOneCleanPiece) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"u0123456789ab", true}, {"", false},      {".", false},       {"..", false},  {"../x", false},
        {"a/b", false},          {"a\\b", false},  {".hidden", false}, {"/abs", false}, {"x/..", false},
        {"a\nb", false},         {"a:b", false},
    };
    for (const auto& [id, usable] : cases) {
        const auto folder = store.userFolder(id);
        EXPECT_EQ(folder.has_value(), usable) << "id '" << id << "'";
        if (folder) {
            EXPECT_EQ(*folder, box / "_users" / id);
        }
    }
}

}  // namespace
}  // namespace corvane::test
