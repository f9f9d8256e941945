#pragma once
// The folders of team mode inside the team root.

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

inline constexpr const char* teamFolderName = "_team";      // account, session, reset and mail files, logo
inline constexpr const char* sharedFolderName = "_shared";  // the team's shared space
inline constexpr const char* usersFolderName = "_users";    // one personal space per account id

// "<root>/_users/<id>" when the id is one clean path piece (not empty, no "/", not "." or
// "..", no leading dot, no control characters); otherwise none, so that a stored id can
// never name a folder outside the personal spaces.
std::optional<std::filesystem::path> teamUserFolder(const std::filesystem::path& root, const std::string& id);

}  // namespace corvane
