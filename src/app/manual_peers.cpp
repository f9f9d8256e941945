#include "app/manual_peers.h"

#include <climits>

#include "base/json_fields.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

constexpr int kDefaultPort = 8899;

// A host of letters, digits, "." and "-" only: anything else ("x@1.2.3.4", "a.com/b.c.d")
// could never be reached as typed.
bool hostCharactersAllowed(const std::string& host) {
    for (const char c : host) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '-';
        if (!allowed) return false;
    }
    return true;
}

std::string withoutAll(std::string text, const std::string& part) {
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) text.erase(at, part.size());
    return text;
}

}  // namespace

std::vector<std::string> piecesBetween(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t at = text.find(separator, start);
        const std::string_view piece = text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
        if (!piece.empty()) pieces.emplace_back(piece);
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return pieces;
}

std::optional<ManualEntry> parseManualEntry(std::string_view entry) {
    const std::vector<std::string> pieces = piecesBetween(entry, ':');
    if (pieces.size() != 2) return std::nullopt;
    const auto port = parseIntText(pieces[1]);
    if (!port || *port < INT_MIN || *port > INT_MAX) return std::nullopt;
    return ManualEntry{pieces[0], int(*port)};
}

std::optional<std::string> manualEntryFor(std::string_view typed) {
    std::string text = withoutAll(trimWhitespace(typed), "http://");
    if (text.find(':') == std::string::npos) text += ":" + std::to_string(kDefaultPort);
    const std::vector<std::string> pieces = piecesBetween(text, ':');
    if (pieces.size() != 2) return std::nullopt;
    if (!hostCharactersAllowed(pieces[0]) || piecesBetween(pieces[0], '.').size() != 4) return std::nullopt;
    const auto port = parseIntText(pieces[1]);
    if (!port || *port < 1 || *port > 65535) return std::nullopt;
    return pieces[0] + ":" + std::to_string(*port);
}

}  // namespace corvane
