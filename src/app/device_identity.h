#pragma once
// This device's stable id (the "device-id" file) and its per-launch token.

#include <filesystem>
#include <string>

namespace corvane {

// The stored id when the file holds at least 8 characters after trimming;
// otherwise a new id of 32 lower-case hex digits, written atomically with no
// line end (a failed write leaves it for this launch only).
std::string loadDeviceID(const std::filesystem::path& appSupport);

// A new device id: a random UUID without hyphens, lower case.
std::string newDeviceID();

// 16 random bytes as 32 lower-case hex digits; never stored.
std::string randomToken();

}  // namespace corvane
