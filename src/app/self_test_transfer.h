#pragma once
// The loop-back self-test's round trip with one device: list its files, upload
// a generated file in one chunk, download it back, compare, delete it again.
// Blocking (network and disk): runs off the main thread.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/sending/api_client.h"

namespace corvane {

struct SelfTestFile {
    static constexpr int64_t size = 3000000;
    static constexpr const char* name = "selftest.bin";
    // Byte i holds i mod 251.
    static std::string bytes();
    // The upload id of the file (name, size, mtime 0 and relative path "selftest.bin").
    static std::string uploadID();
};

// The report lines after the device line: the file count, then the upload,
// download, comparison and clean-up (or the line of the step that failed).
std::vector<std::string> selfTestRoundTrip(const APIClient& client);

// The report as the file holds it: the lines joined by line feeds, none after the last.
std::string selfTestReport(const std::vector<std::string>& lines);
// The report as one boot-log entry: "SELFTEST:" and each line on its own, indented by two spaces.
std::string selfTestLogEntry(const std::vector<std::string>& lines);

}  // namespace corvane
