#pragma once
// Hand-entered devices: the "host:port" entries kept in config.json, and the
// rule that turns what the user typed into such an entry.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct ManualEntry {
    std::string host;
    int port = 0;
};

// The pieces of the text between separators, empty pieces dropped.
std::vector<std::string> piecesBetween(std::string_view text, char separator);

// A stored entry as host and port; none unless it is exactly a host and a whole number.
std::optional<ManualEntry> parseManualEntry(std::string_view entry);

// The entry to store for a typed address: white space trimmed, every "http://" removed,
// port 8899 when none is given; the host must be letters, digits, "." and "-" in four
// dot-separated pieces and the
// port must be 1 to 65535 ("192.168.1.10:08899" gives "192.168.1.10:8899"). None when
// the text is of another form.
std::optional<std::string> manualEntryFor(std::string_view typed);

}  // namespace corvane
