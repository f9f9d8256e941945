#include "storage/trash_names.h"

#include "base/unicode_text.h"
#include "storage/nas_paths.h"

namespace corvane {

namespace {

constexpr std::string_view kDivisionSlash = "\xE2\x88\x95";  // U+2215
constexpr size_t kMaxNameBytes = 200;
constexpr size_t kMaxNameCharacters = 200;
constexpr size_t kStampCharacters = 16;  // "yyyyMMdd-HHmmss-"

std::string replaced(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(from, start);
        out += text.substr(start, at == std::string_view::npos ? at : at - start);
        if (at == std::string_view::npos) return out;
        out += to;
        start = at + from.size();
    }
}

}  // namespace

std::string trashNameFor(const std::string& rel, const std::function<std::string()>& stamp) {
    std::string name = stamp() + "-" + replaced(rel, "/", kDivisionSlash);
    if (name.size() > kMaxNameBytes) name = stamp() + "-" + lastComponent(rel);
    return name;
}

std::string sourcePathOf(std::string_view name) {
    std::string_view path = name;
    if (graphemeCount(name) > kStampCharacters - 1) path.remove_prefix(graphemePrefix(name, kStampCharacters).size());
    return replaced(path, kDivisionSlash, "/");
}

bool trashEntryAccepted(std::string_view name) {
    return !name.empty() && name[0] != '.' && name.find('/') == std::string_view::npos &&
           graphemeCount(name) <= kMaxNameCharacters;
}

}  // namespace corvane
