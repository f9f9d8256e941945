#pragma once
// The command-line switches of unattended runs: "--shot PATH", "--update-now"
// and "--selftest PATH".

#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct LaunchSwitches {
    std::optional<std::string> shotPath;      // the argument after the first "--shot" that has one
    bool updateNow = false;                   // "--update-now" anywhere
    std::optional<std::string> selftestPath;  // the argument after the first "--selftest" that has one

    // The arguments after the program's own name.
    static LaunchSwitches parse(const std::vector<std::string>& args);
};

}  // namespace corvane
