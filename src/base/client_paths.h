#pragma once
// Rules for client paths inside the receive folder: where a path may lead, and
// the private top-level folders, which no client path reaches: the team's data
// ("_team": accounts, sessions, mail password; "_users": members' own spaces) and the
// engine's staging of unfinished uploads (".parts", only its upload routes touch it).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace corvane {

// The engine's staging folder at the top of the receive folder: one folder per upload id.
inline constexpr const char* partsFolderName = ".parts";

// A client-supplied path as a clean relative path ("a/b"), or none when unusable:
// empty, "." and ".." pieces are dropped; a piece that begins with ".", is longer than
// 120 characters or holds <>:"|?* or a control character refuses the whole path.
std::optional<std::string> sanitize(std::string_view path);

// Whether a relative path lies in a private folder; its first piece is compared in
// any ASCII case.
bool isPrivateArea(std::string_view rel);

// The folder at a clean relative path ("" is the root itself) beneath the root, reached
// piece by piece without following any link, so that a link inside the receive folder
// never leads out of it. The descriptor (O_PATH) serves as the folder of *at calls and of
// pathOf, not for listing. With create, missing folders are made on the way. Empty when a
// piece is a link (errno ELOOP), not a folder or missing (errno as the open set it).
UniqueFd openFolderBeneath(const std::filesystem::path& root, std::string_view rel, bool create);

// The path through which the kernel reaches an open folder itself, for calls that take
// paths: nothing in it is looked up again by name.
std::filesystem::path pathOf(const UniqueFd& folder);

// The folder part and the last piece of a clean relative path ("a/b/c" gives "a/b", "c").
std::pair<std::string, std::string> splitLast(const std::string& rel);

// Whether the path's text begins with the folder's path followed by "/".
bool liesInside(const std::filesystem::path& folder, const std::filesystem::path& path);

}  // namespace corvane
