#include "base/client_paths.h"

#include <string>
#include <vector>

#include "base/text_util.h"
#include "base/unicode_text.h"

namespace corvane {

namespace {

bool forbiddenPiece(const std::string& piece) {
    if (piece[0] == '.') return true;
    for (unsigned char c : piece) {
        if (c < 0x20) return true;
        if (std::string_view("<>:\"|?*").find(char(c)) != std::string_view::npos) return true;
    }
    return graphemeCount(piece) > 120;
}

}  // namespace

std::optional<std::string> sanitize(std::string_view path) {
    if (path.empty()) return std::nullopt;
    std::vector<std::string> pieces;
    std::string current;
    auto flush = [&] {
        if (!current.empty() && current != "." && current != "..") pieces.push_back(current);
        current.clear();
    };
    for (char c : path) {
        if (c == '/' || c == '\\') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    if (pieces.empty()) return std::nullopt;
    std::string out;
    for (const auto& piece : pieces) {
        if (forbiddenPiece(piece)) return std::nullopt;
        if (!out.empty()) out += '/';
        out += piece;
    }
    return out;
}


bool isPrivateArea(std::string_view rel) {
    // Folded: on a case-insensitive receive folder "_TEAM" is the same folder.
    const std::string first = lowerASCII(rel.substr(0, rel.find('/')));
    return first == "_team" || first == "_users";
}

bool liesInside(const std::filesystem::path& folder, const std::filesystem::path& path) {
    std::string prefix = folder.string();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    const std::string text = path.string();
    return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace corvane
