#pragma once
// The primitives all team account code rests on: password key derivation, digests,
// random tokens and codes, Base64 and mail-address checks. No state, safe on any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/secure_compare.h"

namespace corvane {

// PBKDF2 with HMAC-SHA-256 over the password's UTF-8 bytes; exactly `len` bytes,
// or empty when the derivation cannot run (rounds or length out of range).
std::string teamPBKDF2(std::string_view password, std::string_view salt, int64_t iter, int64_t len);

// SHA-256 of the UTF-8 bytes as 64 lower-case hex digits.
std::string teamSHA256(std::string_view text);

// n bytes from the system's cryptographic random source as 2n lower-case hex digits.
std::string teamRandomHex(int n);

// 5 to 120 characters matching name@domain.tld with a final label of two or more letters.
// Callers trim and lower-case first.
bool teamValidEmail(std::string_view address);

// n bytes from the cryptographic random source (the process stops if it fails, as no
// secret may come from a weaker one).
std::string teamRandomBytes(size_t n);

// `count` characters drawn independently and uniformly from the alphabet with the
// cryptographic random source.
std::string teamRandomChars(std::string_view alphabet, int count);

// A uniform index below `bound` (1..256) from a byte source, rejecting the bytes that
// would favour low indexes.
size_t uniformIndex(size_t bound, const std::function<uint8_t()>& nextByte);

// Standard Base64 with padding and no line breaks.
std::string base64Encode(std::string_view bytes);
// Strict standard Base64 (padding required, nothing but the alphabet); none when malformed.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace corvane
