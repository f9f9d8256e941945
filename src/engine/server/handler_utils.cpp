#include "engine/server/handler_utils.h"

#include <algorithm>
#include <map>

#include "base/json_fields.h"
#include "base/text_util.h"

namespace corvane {

std::string mimeType(std::string_view name) {
    static const std::map<std::string, std::string> types{
        {"txt", "text/plain; charset=utf-8"},
        {"md", "text/markdown; charset=utf-8"},
        {"json", "application/json"},
        {"html", "text/html; charset=utf-8"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"heic", "image/heic"},
        {"svg", "image/svg+xml"},
        {"pdf", "application/pdf"},
        {"mp4", "video/mp4"},
        {"mov", "video/quicktime"},
        {"webm", "video/webm"},
        {"mp3", "audio/mpeg"},
        {"m4a", "audio/mp4"},
        {"wav", "audio/wav"},
        {"zip", "application/zip"},
        {"apk", "application/vnd.android.package-archive"},
        {"exe", "application/octet-stream"},
        {"dmg", "application/x-apple-diskimage"},
    };
    const size_t slash = name.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const size_t dot = last.rfind('.');
    if (dot == std::string_view::npos) return "application/octet-stream";
    const auto it = types.find(lowerASCII(last.substr(dot + 1)));
    return it == types.end() ? "application/octet-stream" : it->second;
}

std::optional<std::pair<int64_t, int64_t>> parseRange(std::string_view header, int64_t size) {
    constexpr std::string_view prefix = "bytes=";
    // No byte lies in an empty file; "size - 1" below is then never computed.
    if (size <= 0 || header.substr(0, prefix.size()) != prefix) return std::nullopt;
    const std::string_view rest = header.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::string_view first = rest.substr(0, dash);
    const std::string_view second = rest.substr(dash + 1);
    if (first.empty()) {
        // Suffix form: the last n bytes. No digits, a sign, n = 0 or an empty file give
        // no range at all (never one whose end lies before its start).
        const auto n = parseIntText(second);
        if (!n || second[0] == '-' || second[0] == '+' || *n <= 0 || size <= 0) return std::nullopt;
        const int64_t start = *n >= size ? 0 : size - *n;
        return std::make_pair(start, size - 1);
    }
    const auto start = parseIntText(first);
    if (!start || *start < 0) return std::nullopt;
    const int64_t end = parseIntText(second).value_or(size - 1);
    if (*start >= size || end < *start) return std::nullopt;
    return std::make_pair(*start, std::min(end, size - 1));
}

}  // namespace corvane
