#include "base/client_paths.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/text_util.h"
#include "base/unicode_text.h"

namespace corvane {

namespace {

bool forbiddenPiece(const std::string& piece) {
    if (piece[0] == '.') return true;
    for (unsigned char c : piece) {
        if (c < 0x20) return true;
        if (std::string_view("<>:\"|?*").find(char(c)) != std::string_view::npos) return true;
    }
    // A piece of at most 120 bytes has at most 120 characters: only longer ones are counted.
    return piece.size() > 120 && graphemeCount(piece) > 120;
}

bool isLink(int folder, const std::string& name) {
    const int error = errno;
    struct stat st {};
    const bool link = ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    errno = error;
    return link;
}

}  // namespace

std::optional<std::string> sanitize(std::string_view path) {
    if (path.empty()) return std::nullopt;
    std::vector<std::string> pieces;
    std::string current;
    auto flush = [&] {
        if (!current.empty() && current != "." && current != "..") pieces.push_back(current);
        current.clear();
    };
    for (char c : path) {
        if (c == '/' || c == '\\') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    if (pieces.empty()) return std::nullopt;
    std::string out;
    for (const auto& piece : pieces) {
        if (forbiddenPiece(piece)) return std::nullopt;
        if (!out.empty()) out += '/';
        out += piece;
    }
    return out;
}


bool isPrivateArea(std::string_view rel) {
    // Folded: on a case-insensitive receive folder "_TEAM" is the same folder.
    const std::string first = lowerASCII(rel.substr(0, rel.find('/')));
    return first == "_team" || first == "_users" || first == partsFolderName;
}

UniqueFd openFolderBeneath(const std::filesystem::path& root, std::string_view rel, bool create) {
    // Reached, not opened for reading (O_PATH): on FUSE an opened folder costs a round trip
    // to open it and one to close it; the descriptor serves only as the folder of calls.
    UniqueFd folder(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    size_t start = 0;
    while (folder && start < rel.size()) {
        const size_t slash = rel.find('/', start);
        const std::string piece(rel.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        start = slash == std::string_view::npos ? rel.size() : slash + 1;
        if (piece.empty()) continue;
        // Opened first, made only when missing: a folder already there costs one call.
        // O_NOFOLLOW refuses a link, also one that replaced the folder since it was made.
        const int parent = folder.get();
        const auto open = [&] { return ::openat(parent, piece.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); };
        int next = open();
        if (next < 0 && errno == ENOENT && create && (::mkdirat(parent, piece.c_str(), 0755) == 0 || errno == EEXIST)) {
            next = open();
        }
        if (next < 0 && isLink(parent, piece)) errno = ELOOP;
        folder.reset(next);
    }
    return folder;
}

std::filesystem::path pathOf(const UniqueFd& folder) { return "/proc/self/fd/" + std::to_string(folder.get()); }

std::pair<std::string, std::string> splitLast(const std::string& rel) {
    const size_t slash = rel.rfind('/');
    if (slash == std::string::npos) return {"", rel};
    return {rel.substr(0, slash), rel.substr(slash + 1)};
}

bool liesInside(const std::filesystem::path& folder, const std::filesystem::path& path) {
    std::string prefix = folder.string();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    const std::string text = path.string();
    return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace corvane
