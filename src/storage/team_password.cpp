#include "storage/team_password.h"

#include <climits>

#include "storage/team_crypto.h"

namespace corvane {

namespace {
constexpr int saltBytes = 16;
constexpr int keyBytes = 32;
// A stored key shorter than this cannot be a real password check; a longer one than the
// upper bound would make every check derive a huge key.
constexpr size_t minStoredKey = 16;
constexpr size_t maxStoredKey = 64;
}  // namespace

PasswordRecord makePasswordRecord(const std::string& password) {
    const std::string salt = teamRandomBytes(saltBytes);
    PasswordRecord record;
    record.salt = base64Encode(salt);
    record.hash = base64Encode(teamPBKDF2(password, salt, teamPasswordRounds, keyBytes));
    record.iter = teamPasswordRounds;
    return record;
}

PasswordCheck checkPassword(const std::string& password, const PasswordRecord& stored) {
    const auto salt = base64Decode(stored.salt);
    const auto key = base64Decode(stored.hash);
    if (!salt || !key || salt->empty()) return PasswordCheck::damaged;
    if (key->size() < minStoredKey || key->size() > maxStoredKey) return PasswordCheck::damaged;
    if (stored.iter < 1 || stored.iter > INT_MAX) return PasswordCheck::damaged;
    const std::string derived = teamPBKDF2(password, *salt, stored.iter, int64_t(key->size()));
    if (derived.size() != key->size()) return PasswordCheck::mismatch;
    return constantTimeEqual(derived, *key) ? PasswordCheck::match : PasswordCheck::mismatch;
}

}  // namespace corvane
