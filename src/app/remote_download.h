#pragma once
// Saving another device's file into the receive folder: the name it is saved
// under, and the download itself (blocking; run it off the main thread).

#include <filesystem>
#include <optional>
#include <string>

#include "engine/model.h"

namespace corvane {

// The name a remote file is saved under: the last piece of its name cleaned like
// a client path, else the last piece of its cleaned path, else "download". So a
// listing that names "../../.bashrc" cannot write outside the receive folder.
std::string savedFileName(const FileItem& item);

// The local file an item of this device's own list names: its cleaned path inside
// the receive folder; none when the path is unusable or names the folder itself.
std::optional<std::filesystem::path> localItemPath(const std::filesystem::path& root, const std::string& itemPath);

struct DownloadOutcome {
    std::optional<std::string> savedName;  // the name used in the folder, on success
    std::string error;                     // otherwise: what failed, as shown to the user
};

// Fetches the URL into a hidden temporary file of the folder, then moves it to the
// first free variant of name there ("a.jpg", "a (1).jpg", ...), never replacing a
// file. A reply of 400 or more keeps nothing ("下载失败 HTTP <status>"). A download
// that receives nothing for a minute is abandoned.
DownloadOutcome downloadInto(const std::string& url, const std::filesystem::path& folder, const std::string& name);

}  // namespace corvane
