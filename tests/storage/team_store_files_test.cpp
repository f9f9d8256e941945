// Loading and saving the team files, keeping damaged ones aside, and the team folders.

#include <regex>

#include <gtest/gtest.h>

#include "team_test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace corvane::test {
namespace {

// The copies of `name` kept aside in the folder.
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

TEST_F(TeamStoreFiles, AnUnusableTeamFileLoadsNothingAndIsKeptAsideOnceBeforeItsFirstSave) {
    struct Case {
        std::string file, bytes;
    };
    const std::vector<Case> cases = {
        {"accounts.json", R"({"team":"Crew","users":[{"id":"u1","user":"bob"},"junk"]})"},  // one non-object user
        {"accounts.json", "{not json"},
        {"accounts.json", "[1,2]"},
        {"accounts.json", R"({"team":"x"})"},
        {"accounts.json", R"({"users":{"id":"u1"}})"},
        {"sessions.json", "garbage"},
        {"sessions.json", R"({"sessions":[]})"},
        {"resets.json", "\"text\""},
        {"resets.json", R"({"codes":5})"},
        {"", ""},  // no file at all is no damage
    };
    const std::vector<std::string> names = {"accounts.json", "sessions.json", "resets.json"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + ": " + c.bytes);
        Sandbox root;
        std::vector<std::string> lines;
        TeamStore fresh([] { return 1700000000.0; }, [&](const std::string& line) { lines.push_back(line); });
        if (!c.file.empty()) writeFile(root / "_team" / c.file, c.bytes);
        fresh.bind(root.path());
        EXPECT_TRUE(fresh.allUsers().empty());
        EXPECT_TRUE(brokenCopies(root / "_team", c.file).empty()) << "nothing is written by loading";
        for (int save = 0; save < 2; ++save) {
            fresh.setTeamName("Saved " + std::to_string(save));
            fresh.dropExpired();
        }
        for (const std::string& name : names) {
            const auto copies = brokenCopies(root / "_team", name);
            if (name != c.file) {
                EXPECT_TRUE(copies.empty()) << name;
                continue;
            }
            ASSERT_EQ(copies.size(), 1u) << "copied aside once";
            EXPECT_TRUE(std::regex_match(copies[0].substr(name.size()), std::regex(R"(\.broken-\d{8}-\d{6})")))
                << copies[0];
            EXPECT_EQ(readFile(root / "_team" / copies[0]), c.bytes);
            EXPECT_EQ(fileMode(root / "_team" / copies[0]), 0600u);
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(copies[0]), std::string::npos) << lines[0];
        }
        if (c.file.empty()) {
            EXPECT_TRUE(lines.empty());
        }
    }
}

TEST_F(TeamStoreFiles, LoadsOnlyLiveSessionsOfLongTokensAndLiveResetEntries) {
    const double now = clock;
    const auto session = [](const char* uid, double exp) { return json{{"uid", uid}, {"exp", exp}}; };
    const json sessions{{"live-token-0123456789", session("u1", now + 10)},
                        {"abcdefghijklmnop", session("u1", now + 10)},
                        {"abcdefghijklmno", session("u1", now + 10)},
                        {"pending-token-012345", session("u2", now + 10)},
                        {"past-token-0123456789", session("u1", now - 1)},
                        {"edge-token-0123456789", session("u1", now)},
                        {"nouid-token-012345678", {{"exp", now + 10}}},
                        {"text-token-0123456789", "u1"}};
    const json liveCode{{"hash", "h"}, {"exp", now + 5}, {"tries", 0}, {"sent", now}};
    writeTeamFile("sessions.json", json{{"sessions", sessions}}.dump());
    writeTeamFile("resets.json",
                  json{{"codes", {{"u1", liveCode}, {"u2", {{"hash", "h"}, {"exp", now - 5}}}, {"u3", "x"}}}}.dump());
    loadAccounts({{{"id", "u1"}, {"user", "bob"}, {"status", "active"}},
                  {{"id", "u2"}, {"user", "carl"}, {"status", "pending"}}});
    EXPECT_EQ(store.userForToken("live-token-0123456789").value_or(TeamUser{}).id, "u1");
    EXPECT_EQ(store.userForToken("abcdefghijklmnop").value_or(TeamUser{}).id, "u1") << "16 characters";
    EXPECT_FALSE(store.userForToken("abcdefghijklmno")) << "a token of 15 characters is never looked up";
    EXPECT_FALSE(store.userForToken(""));
    EXPECT_FALSE(store.userForToken("pending-token-012345")) << "a pending account has no access";
    EXPECT_FALSE(store.userForToken("past-token-0123456789"));
    EXPECT_FALSE(store.userForToken("edge-token-0123456789"));
    EXPECT_FALSE(store.userForToken("nouid-token-012345678")) << "an empty uid resolves to nobody";
    store.dropExpired();
    const json saved = readJSON("sessions.json")["sessions"];
    EXPECT_EQ(saved.size(), 5u) << "expired and malformed entries are dropped";
    EXPECT_EQ(saved["nouid-token-012345678"]["uid"], "");
    EXPECT_EQ(readJSON("resets.json")["codes"], (json{{"u1", liveCode}})) << "live entries are kept whole";
    EXPECT_TRUE(logLines.empty());
}

TEST_F(TeamStoreFiles, SavedFilesArePrivateAndLoadBackTheSame) {
    const std::string id = setUpTeamWithAlice();
    const LoginResult login = store.login("alice", "alice-pass");
    ASSERT_EQ(login.kind, LoginResult::Kind::ok);
    ASSERT_TRUE(store.issueReset("alice"));
    for (const char* name : {"accounts.json", "sessions.json", "resets.json"}) {
        EXPECT_EQ(fileMode(teamFile(name)), 0600u) << name;
    }
    const std::string text = readFile(teamFile("accounts.json"));
    EXPECT_NE(text.find("\n  \"team\": \"Team\""), std::string::npos) << "pretty-printed";
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

    const auto before = store.allUsers();
    reload();
    const auto after = store.allUsers();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].toJSON(), before[i].toJSON());
    EXPECT_EQ(store.teamName(), "Team");
    EXPECT_TRUE(store.userForToken(login.token));
}

TEST_F(TeamStoreFiles, PreparesTheThreeFoldersAndGivesAPersonalFolderOnlyToACleanSingleName) {
    store.prepareDirs();
    store.prepareDirs();  // existing folders are no error
    for (const char* name : {"_team", "_shared", "_users"}) EXPECT_TRUE(fs::is_directory(box / name)) << name;
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
