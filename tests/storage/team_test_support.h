#pragma once
// Fixtures of the team store tests: a store on a sandbox folder with a clock the test
// moves and a log that the test reads, and helpers to write team files by hand.

#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "storage/team_store.h"
#include "support/test_support.h"

namespace corvane::test {

class TeamStoreTest : public ::testing::Test {
protected:
    TeamStoreTest()
        : store([this] { return clock; }, [this](const std::string& line) { logLines.push_back(line); },
                [this](const std::string& pass) { return derive(pass); },
                [this](const std::string& pass, const PasswordRecord& stored) {
                    checked.push_back(stored);
                    return checkPassword(pass, stored);
                }) {
        store.bind(box.path());
    }

    std::filesystem::path teamDir() const { return box.path() / "_team"; }
    std::filesystem::path teamFile(const std::string& name) const { return teamDir() / name; }
    nlohmann::json readJSON(const std::string& name) const {
        return nlohmann::json::parse(readFile(teamFile(name)), nullptr, false);
    }
    void writeTeamFile(const std::string& name, const std::string& bytes) const { writeFile(teamFile(name), bytes); }

    // A store freshly bound to the same folder, reading the files as they are on disk.
    void reload() {
        store.bind(box.path() / "elsewhere");
        store.bind(box.path());
    }

    // Writes "accounts.json" with these account records and reads the files afresh.
    void loadAccounts(const nlohmann::json& users) {
        writeTeamFile("accounts.json", nlohmann::json{{"users", users}}.dump());
        reload();
    }

    // Administrator "admin" with password "admin-pass" and one active member "alice"
    // ("alice-pass", alice@example.com); returns alice's id.
    std::string setUpTeamWithAlice() {
        EXPECT_TRUE(store.createAdmin("Boss", "admin-pass", "Team"));
        const TeamRegResult reg = store.registerUser("alice", "Alice", "alice-pass", "", "alice@example.com");
        EXPECT_TRUE(reg.ok) << reg.message;
        EXPECT_TRUE(store.setStatus(reg.user.id, "active"));
        return reg.user.id;
    }

    // The store's password derivation; runs `duringDerivation` once inside it.
    PasswordRecord derive(const std::string& pass) {
        const PasswordRecord record = makePasswordRecord(pass);
        if (const auto meanwhile = std::exchange(duringDerivation, nullptr)) meanwhile();
        return record;
    }

    Sandbox box;
    std::function<void()> duringDerivation;
    double clock = 1700000000.0;
    std::vector<std::string> logLines;
    std::vector<PasswordRecord> checked;  // every record a candidate password was checked against
    TeamStore store;
};

inline unsigned fileMode(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return unsigned(st.st_mode & 07777);
}

}  // namespace corvane::test
