// Serves one regular file of the receive folder, whole or one byte range,
// streamed from disk; the head is written here with its own header lines.

#include "engine/receiving/file_download.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include "base/client_paths.h"
#include "base/lan_socket.h"
#include "base/text_util.h"
#include "base/unique_fd.h"
#include "engine/server/handler_utils.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr int64_t kPiece = 1048576;

// Every scalar outside U+0020..U+007E, and the double quote, becomes one "_".
std::string asciiName(const std::string& name) {
    const auto* s = reinterpret_cast<const uint8_t*>(name.data());
    const int32_t length = int32_t(name.size());
    std::string out;
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        out += (c >= 0x20 && c <= 0x7E && c != '"') ? char(c) : '_';
    }
    return out;
}

// Every byte but ASCII letters and digits as "%XX".
std::string encodedName(const std::string& name) {
    return percentEncodeExcept(name, [](unsigned char c) { return std::isalnum(c) != 0; });
}

// Pieces read and written, for files or sockets that sendfile does not take.
bool copyRange(int sock, int file, int64_t offset, int64_t remaining) {
    std::string buffer(size_t(std::min(remaining, kPiece)), '\0');
    while (remaining > 0) {
        const ssize_t n = ::pread(file, buffer.data(), size_t(std::min<int64_t>(remaining, kPiece)), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (!writeAll(sock, std::string_view(buffer.data(), size_t(n)))) return false;
        offset += n;
        remaining -= n;
    }
    return true;
}

struct DownloadHead {
    int status = 200;
    int64_t start = 0;
    int64_t length = 0;
    std::string contentRange;  // 206 only
};

std::string downloadHead(const DownloadHead& head, const std::string& fileName, bool inlineView) {
    std::string text = "HTTP/1.1 " + std::to_string(head.status) + " " + statusText(head.status) + "\r\n";
    text += "Content-Type: " + mimeType(fileName) + "\r\n";
    text += "Accept-Ranges: bytes\r\n";
    text += "Content-Disposition: " + contentDisposition(fileName, inlineView) + "\r\n";
    if (!head.contentRange.empty()) text += "Content-Range: " + head.contentRange + "\r\n";
    text += "Content-Length: " + std::to_string(head.length) + "\r\n";
    // An uploaded page opened inline must not run script on this device's origin.
    text += "Content-Security-Policy: sandbox\r\n";
    text += "X-Content-Type-Options: nosniff\r\n";
    text += "Access-Control-Allow-Origin: *\r\n";
    text += "Access-Control-Expose-Headers: content-length, content-range, content-disposition, accept-ranges\r\n";
    text += "Connection: keep-alive\r\n\r\n";
    return text;
}

// The regular file at a clean relative path beneath the root, reached without following
// any link on the way; empty otherwise.
UniqueFd openRegular(const fs::path& root, const std::string& rel, int64_t& size) {
    const auto [folderPart, name] = splitLast(rel);
    const UniqueFd folder = openFolderBeneath(root, folderPart, false);
    if (!folder) return UniqueFd();
    UniqueFd file(::openat(folder.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
    size = int64_t(st.st_size);
    return file;
}

// A JSON refusal; a HEAD request gets its head only, so that no stray body is read
// as the start of the next reply on the connection.
void refuse(int fd, int status, const std::string& error, bool headOnly) {
    const std::string body = encodeJSONBody(errorJSON(error)).value_or("{}");
    respond(fd, status, {{"Content-Type", "application/json; charset=utf-8"}}, body, headOnly);
}

}  // namespace

std::string contentDisposition(const std::string& fileName, bool inlineView) {
    return std::string(inlineView ? "inline" : "attachment") + "; filename=\"" + asciiName(fileName) +
           "\"; filename*=UTF-8''" + encodedName(fileName);
}

bool sendFileRange(int sock, int file, int64_t start, int64_t length) {
    if (length > unpacedBytes) paceAsSystemChooses(sock);  // else it keeps going unpaced
    off_t offset = off_t(start);
    int64_t remaining = length;
    while (remaining > 0) {
        const ssize_t n = ::sendfile(sock, file, &offset, size_t(std::min(remaining, kPiece)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EINVAL || errno == ENOSYS)) return copyRange(sock, file, int64_t(offset), remaining);
        if (n <= 0) return false;
        remaining -= n;
    }
    return true;
}

void HTTPServer::download(int fd, const std::string& rel, const HTTPReq& req) {
    const bool headOnly = req.method == "HEAD";
    const auto safe = sanitize(rel);
    const fs::path receiveFolder = root();
    if (!safe || !liesInside(receiveFolder, receiveFolder / *safe)) {
        refuse(fd, 400, "bad path", headOnly);
        return;
    }
    int64_t size = 0;
    const UniqueFd file = isPrivateArea(*safe) ? UniqueFd() : openRegular(receiveFolder, *safe, size);
    if (!file) {
        refuse(fd, 404, "not found", headOnly);
        return;
    }

    DownloadHead head;
    head.length = size;
    const std::string range = req.header("range");
    const auto wanted = range.empty() ? std::nullopt : parseRange(range, size);
    if (!range.empty() && !wanted && size > 0) {
        respond(fd, 416, {{"Content-Range", "bytes */" + std::to_string(size)}}, "");
        return;
    }
    if (wanted) {
        head.status = 206;
        head.start = wanted->first;
        head.length = std::max<int64_t>(0, wanted->second - wanted->first + 1);
        head.contentRange = "bytes " + std::to_string(wanted->first) + "-" + std::to_string(wanted->second) + "/" +
                            std::to_string(size);
    }

    const std::string fileName = fs::path(*safe).filename().string();
    bool whole = writeAll(fd, downloadHead(head, fileName, req.param("inline") == "1"));
    if (whole && !headOnly && head.length > 0) whole = sendFileRange(fd, file.get(), head.start, head.length);
    // A reply cut short must end the connection, or the client would read the
    // rest of its body from the next reply.
    if (!whole) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace corvane
