#pragma once
// Rules for client paths inside the receive folder: where a path may lead, and
// the top-level folders that hold the team's private data ("_team": accounts,
// sessions, mail password; "_users": members' own spaces), which nothing
// reaches over the network.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// A client-supplied path as a clean relative path ("a/b"), or none when unusable:
// empty, "." and ".." pieces are dropped; a piece that begins with ".", is longer than
// 120 characters or holds <>:"|?* or a control character refuses the whole path.
std::optional<std::string> sanitize(std::string_view path);

// Whether a clean relative path (as sanitize gives it) lies in a private folder.
bool isPrivateArea(std::string_view rel);

// Whether the path's text begins with the folder's path followed by "/".
bool liesInside(const std::filesystem::path& folder, const std::filesystem::path& path);

}  // namespace corvane
