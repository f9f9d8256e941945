#pragma once
// config.json: the settings kept between launches, and the rules by which each
// key is read (a key of the wrong JSON type counts as missing).

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct AppConfig {
    std::string usageMode = "lan";  // "team" only when stored as exactly "team"
    bool welcomeDone = false;       // only a JSON true counts
    std::string centerID;
    std::string storageDir;         // empty when absent
    std::string deviceName;         // trimmed of spaces and tabs; empty when absent
    std::map<std::string, std::string> peerAliases;
    std::vector<std::string> manualPeers;

    // Reads the file's bytes; anything that is not a JSON object gives the defaults.
    static AppConfig parse(std::string_view bytes);
    // The compact JSON written back; "mode" follows team mode, empty aliases and
    // manual peers are left out.
    std::string serialize(bool nasEnabled) const;
};

// The text without leading and trailing spaces and tabs (line ends stay).
std::string trimBlanks(std::string_view text);

}  // namespace corvane
