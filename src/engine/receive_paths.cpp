#include "engine/receive_paths.h"

#include <string>

namespace corvane {

bool isPrivateArea(std::string_view rel) {
    const std::string_view first = rel.substr(0, rel.find('/'));
    return first == "_team" || first == "_users";
}

bool liesInside(const std::filesystem::path& folder, const std::filesystem::path& path) {
    std::string prefix = folder.string();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    const std::string text = path.string();
    return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace corvane
