#include "app/launch_switches.h"

namespace corvane {

namespace {

// The argument after the first occurrence of the switch that has one after it.
std::optional<std::string> valueAfter(const std::vector<std::string>& args, const std::string& name) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == name) return args[i + 1];
    }
    return std::nullopt;
}

}  // namespace

LaunchSwitches LaunchSwitches::parse(const std::vector<std::string>& args) {
    LaunchSwitches switches;
    switches.shotPath = valueAfter(args, "--shot");
    switches.selftestPath = valueAfter(args, "--selftest");
    for (const std::string& arg : args) {
        if (arg == "--update-now") switches.updateNow = true;
    }
    return switches;
}

}  // namespace corvane
