#pragma once
// Process-wide settings and the start-up log.

#include <filesystem>
#include <string>

namespace corvane {

struct Cfg {
    // The compiled-in version, "0.0.0" when none was given.
    static const std::string& version();
    // $XDG_DATA_HOME/Corvane (default ~/.local/share/Corvane); computed once.
    static const std::filesystem::path& appSupport();
    // The folder for a given data home, with the earlier product's folder moved over.
    static std::filesystem::path appSupportIn(const std::filesystem::path& dataHome);
};

// The user's home folder ($HOME, else the password database).
std::filesystem::path homeFolder();

// Appends "<time>  <message>\n" to boot.log in Cfg::appSupport(); never fails.
void bootLog(const std::string& message);
// The same, into a given folder (tests, and callers with their own folder).
void bootLogIn(const std::filesystem::path& folder, const std::string& message);

}  // namespace corvane
