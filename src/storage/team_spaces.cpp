#include "storage/team_spaces.h"

#include <map>

#include "base/client_paths.h"
#include "base/text_util.h"
#include "storage/nas_paths.h"
#include "storage/team_folders.h"

namespace fs = std::filesystem;

namespace corvane {

std::optional<fs::path> tfBaseDir(const fs::path& root, const std::string& scope, const std::string& userId) {
    if (scope == "shared") return root / sharedFolderName;
    if (scope == "me") return teamUserFolder(root, userId);
    return std::nullopt;
}

std::optional<SpaceTarget> resolveSpacePath(const fs::path& root, const std::string& scope, const std::string& userId,
                                            const std::string& clientPath) {
    const auto space = tfBaseDir(root, scope, userId);
    if (!space) return std::nullopt;
    if (clientPath.empty()) return SpaceTarget{*space, *space};
    const auto rel = sanitize(clientPath);
    if (!rel) return std::nullopt;
    const fs::path candidate = *space / *rel;
    if (!liesInside(*space, candidate) || !realPathBelow(root, candidate)) return std::nullopt;
    return SpaceTarget{*space, candidate};
}

SpaceQuery spaceQuery(const HTTPReq& req) {
    const auto value = [&](const char* key, const char* fallback) {
        return req.query.count(key) ? req.param(key) : std::string(fallback);
    };
    return SpaceQuery{value("scope", "shared"), value("path", "")};
}

std::string tfMime(const std::string& name) {
    static const std::map<std::string, std::string> types{
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"heic", "image/heic"},
        {"bmp", "image/bmp"},
        {"svg", "image/svg+xml"},
        {"avif", "image/avif"},
        {"mp4", "video/mp4"},
        {"mov", "video/quicktime"},
        {"webm", "video/webm"},
        {"mkv", "video/x-matroska"},
        {"m4v", "video/x-m4v"},
        {"mp3", "audio/mpeg"},
        {"wav", "audio/wav"},
        {"m4a", "audio/mp4"},
        {"flac", "audio/flac"},
        {"aac", "audio/aac"},
        {"pdf", "application/pdf"},
        {"zip", "application/zip"},
        {"txt", "text/plain; charset=utf-8"},
        {"md", "text/markdown; charset=utf-8"},
        {"json", "application/json; charset=utf-8"},
        {"csv", "text/csv; charset=utf-8"},
        {"html", "text/html; charset=utf-8"},
    };
    const std::string ext = fs::path(name).extension().string();
    if (ext.size() < 2) return "application/octet-stream";
    const auto it = types.find(lowerASCII(ext.substr(1)));
    return it == types.end() ? "application/octet-stream" : it->second;
}

}  // namespace corvane
