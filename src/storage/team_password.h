#pragma once
// Stored password data: making it for a new password and checking a candidate against it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

inline constexpr int64_t teamPasswordRounds = 120000;
// Passwords have at least this many characters; a new one that is shorter is refused with the text below.
inline constexpr size_t teamMinPassword = 6;
inline constexpr const char* teamNewPasswordShort = "新密码至少 6 位";

// What an account keeps of its password: Base64 salt and derived key, and the round count.
struct PasswordRecord {
    std::string salt;
    std::string hash;
    int64_t iter = 0;
};

// A fresh 16-byte random salt and the 32-byte key of 120000 rounds.
PasswordRecord makePasswordRecord(const std::string& password);

enum class PasswordCheck { match, mismatch, damaged };

// Damaged when the salt or key is not Base64, the salt is empty, the key has fewer than 16
// or more than 64 bytes, or the rounds cannot be run; a failed derivation is a mismatch.
// The keys are compared in constant time.
PasswordCheck checkPassword(const std::string& password, const PasswordRecord& stored);

}  // namespace corvane
