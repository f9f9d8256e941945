#pragma once
// The team's two file spaces: "shared" ("_shared") and "me" (the caller's own
// "_users/<id>"), and client paths resolved inside one of them. "_team" is never
// reachable; a location whose real path leaves the receive folder is refused.

#include <filesystem>
#include <optional>
#include <string>

#include "engine/server/http_request.h"

namespace corvane {

// The space root of a scope for a member, or none for any other scope (or an id that
// is not one clean path piece). Builds the location only; creates nothing.
std::optional<std::filesystem::path> tfBaseDir(const std::filesystem::path& root, const std::string& scope,
                                               const std::string& userId);

struct SpaceTarget {
    std::filesystem::path space;   // the space root
    std::filesystem::path target;  // the space root itself for the empty client path
    bool isSpaceRoot() const { return target == space; }
};

// The location of a client path in a space: the empty path is the space root; any
// other path is cleaned (".." dropped, unsafe pieces refused; "/" and "." clean to
// nothing and fail) and must stay below the space, also through links.
std::optional<SpaceTarget> resolveSpacePath(const std::filesystem::path& root, const std::string& scope,
                                            const std::string& userId, const std::string& clientPath);

// The query's "scope" (default "shared") and "path" (default "").
struct SpaceQuery {
    std::string scope, path;
};
SpaceQuery spaceQuery(const HTTPReq& req);

// Content type of a team file by its extension.
std::string tfMime(const std::string& name);

}  // namespace corvane
