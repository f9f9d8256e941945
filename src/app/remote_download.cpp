#include "app/remote_download.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

#include "base/client_paths.h"
#include "base/file_names.h"
#include "base/whole_files.h"
#include "engine/sending/curl_http.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr auto kStallLimit = std::chrono::seconds(60);

std::string lastPiece(const std::string& cleanPath) {
    const size_t slash = cleanPath.rfind('/');
    return slash == std::string::npos ? cleanPath : cleanPath.substr(slash + 1);
}

// Aborts a transfer that has received no byte for the stall limit; a large file
// may take as long as it needs while bytes keep coming.
std::function<bool(int64_t, int64_t)> stallGuard() {
    struct Progress {
        int64_t bytes = -1;
        std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now();
    };
    auto progress = std::make_shared<Progress>();
    return [progress](int64_t received, int64_t) {
        const auto now = std::chrono::steady_clock::now();
        if (received != progress->bytes) {
            progress->bytes = received;
            progress->at = now;
        }
        return now - progress->at < kStallLimit;
    };
}

}  // namespace

std::string savedFileName(const FileItem& item) {
    if (const auto name = sanitize(item.name)) return lastPiece(*name);
    if (const auto path = sanitize(item.path)) return lastPiece(*path);
    return "download";
}

std::optional<fs::path> localItemPath(const fs::path& root, const std::string& itemPath) {
    const auto rel = sanitize(itemPath);
    if (!rel) return std::nullopt;
    const fs::path path = root / *rel;
    if (!liesInside(root, path)) return std::nullopt;
    return path;
}

DownloadOutcome downloadInto(const std::string& url, const fs::path& folder, const std::string& name) {
    TempFile temp = createTempFile(folder);
    if (!temp.fd) return {std::nullopt, "无法写入 " + folder.string() + "：" + std::strerror(errno)};
    temp.fd.close();

    CurlRequest request;
    request.url = url;
    request.timeoutSeconds = 0;  // the stall guard ends a dead transfer instead
    request.outputFile = temp.path.string();
    request.onProgress = stallGuard();
    const CurlResult reply = curlPerform(request);

    DownloadOutcome outcome;
    if (!reply.ok) {
        outcome.error = transportErrorText(reply);
    } else if (reply.status < 100 || reply.status >= 400) {
        outcome.error = "下载失败 HTTP " + std::to_string(reply.status < 100 ? 0 : reply.status);
    } else {
        outcome.savedName = moveUnique(temp.path, folder, name);
        if (!outcome.savedName) outcome.error = "无法保存「" + name + "」：" + std::strerror(errno);
    }
    if (!outcome.savedName) ::unlink(temp.path.c_str());
    return outcome;
}

}  // namespace corvane
