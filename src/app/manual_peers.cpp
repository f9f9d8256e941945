#include "app/manual_peers.h"

#include <climits>

#include "base/json_fields.h"
#include "storage/team_text.h"

namespace corvane {

namespace {

constexpr int kDefaultPort = 8899;

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
    if (piecesBetween(pieces[0], '.').size() != 4) return std::nullopt;
    const auto port = parseIntText(pieces[1]);
    if (!port || *port < 1 || *port > 65535) return std::nullopt;
    return pieces[0] + ":" + std::to_string(*port);
}

}  // namespace corvane
