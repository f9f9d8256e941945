#pragma once
// Paths of the NAS file API and its recycle bin: client paths resolved inside the
// receive folder, folder listings in file-manager order, request bodies and times.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/server/http_request.h"

namespace corvane {

// Whether the location's real path (links resolved as far as it exists) stays in the
// receive folder or is the folder itself.
bool realPathInside(const std::filesystem::path& root, const std::filesystem::path& location);
// The same, but the receive folder itself does not count: a link back to it is refused.
bool realPathBelow(const std::filesystem::path& root, const std::filesystem::path& location);

// The location of a client path under the root: the root itself for the empty path;
// otherwise the cleaned path, refused (none) when the cleaner refuses it, it names a
// private team folder, or its real path is not below the root.
std::optional<std::filesystem::path> fsTarget(const std::filesystem::path& root, std::string_view clientPath);

// The folder's entry names in directory order (dot-entries included, names that are not
// UTF-8 left out); empty when the folder cannot be read.
std::vector<std::string> entryNames(const std::filesystem::path& folder);
// The same, sorted stably as a file manager sorts them.
std::vector<std::string> sortedEntryNames(const std::filesystem::path& folder);

// One entry of a folder: its name, its own attributes (a link's, not its target's), and
// whether it is a folder, a link followed.
struct VisibleEntry {
    std::string name;
    struct stat own {};
    bool folder = false;
};
// The folder's entries in directory order, each looked at once relative to the opened
// folder (links a second time): names that are not UTF-8, the private team folders when
// `atRoot`, and links that lead out of the root are left out; empty when unreadable.
std::vector<VisibleEntry> visibleEntries(const std::filesystem::path& root, const std::filesystem::path& folder,
                                         bool atRoot);

// Whether the entry is a link whose real path leaves the root or is the root itself.
bool leadsOutside(const std::filesystem::path& root, const std::filesystem::path& entry, const struct stat& own);

// The cleaned "path" of a JSON body when fsTarget accepts it, or none.
std::optional<std::string> bodyPath(const HTTPReq& req, const std::filesystem::path& root);

// The request body as a JSON object, or none.
std::optional<nlohmann::json> jsonObjectBody(const HTTPReq& req);

// A string member of a JSON object, or none when missing or not a string.
std::optional<std::string> stringMember(const nlohmann::json& object, const char* key);

// Modification time in milliseconds since 1970.
double mtimeMillis(const struct stat& st);

// The parent of a cleaned path ("" at the top) and its last component.
std::string parentOf(const std::string& rel);
std::string lastComponent(const std::string& rel);

}  // namespace corvane
