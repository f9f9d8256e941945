#pragma once
// The update manifest: {"latest", "notes", "page", "files": {platform: entry}}.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// One downloadable package.
struct UpdateEntry {
    std::string url;
    std::optional<std::string> md5;
    std::optional<int64_t> size;
    bool operator==(const UpdateEntry&) const = default;
};

struct UpdateManifest {
    std::string latest;
    std::optional<std::vector<std::string>> notes;
    std::optional<std::string> page;
    std::optional<std::map<std::string, UpdateEntry>> files;

    // The manifest in a reply body, or none when any key has the wrong type,
    // "latest" is missing, or the body is not a JSON object.
    static std::optional<UpdateManifest> decode(const std::string& body);
};

// Why a body that did not decode was refused: "响应无法解析：" and its first
// 100 bytes as text, or "非文本" when those bytes are not valid UTF-8.
std::string undecodableReason(const std::string& body);

}  // namespace corvane
