#include "storage/team_folders.h"

#include "base/client_paths.h"

namespace corvane {

std::optional<std::filesystem::path> teamUserFolder(const std::filesystem::path& root, const std::string& id) {
    if (root.empty()) return std::nullopt;
    // sanitize() drops ".", ".." and empty pieces and refuses unsafe ones; a clean single
    // piece comes back unchanged.
    const auto clean = sanitize(id);
    if (!clean || *clean != id || id.find('/') != std::string::npos) return std::nullopt;
    return root / usersFolderName / id;
}

}  // namespace corvane
