#pragma once
// One team account as stored in "accounts.json" and shown through the API.

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane {

struct TeamUser {
    std::string id;      // "u" + 12 lower-case hex digits; never changes
    std::string user;    // login name as entered; unique without regard to case
    std::string name;    // display name
    std::string salt;    // Base64 of the random salt
    std::string hash;    // Base64 of the derived key
    int64_t iter = 0;    // PBKDF2 rounds of `hash`
    std::string role;    // "admin" or "member"
    std::string status;  // "pending", "active" or "blocked"
    double created = 0;     // milliseconds since 1970
    double approvedAt = 0;  // first activation, 0 = never
    double lastLogin = 0;   // 0 = never
    std::string note;
    std::string email;   // trimmed and lower-cased; empty = none

    bool isAdmin() const { return role == "admin"; }
    // The same account with the same stored password: nothing replaced it since `other` was copied.
    bool samePasswordAs(const TeamUser& other) const {
        return id == other.id && salt == other.salt && hash == other.hash && iter == other.iter;
    }
    // "ab***@example.com": two leading characters of a longer local part, else one.
    std::string maskedEmail() const;
    // The eleven keys shown to clients; never salt, hash or rounds.
    nlohmann::json publicDict() const;

    // The thirteen stored keys.
    nlohmann::json toJSON() const;
    // Lenient: wrong types read as empty or 0, a missing role as "member", a missing status
    // as "pending", rounds below 1 as 120000.
    static TeamUser fromJSON(const nlohmann::json& obj);
};

}  // namespace corvane
