#include "engine/handler_utils.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <regex>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <openssl/rand.h>

#include "engine/json_fields.h"
#include "engine/unicode_text.h"
#include "engine/text_util.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

bool forbiddenPiece(const std::string& piece) {
    if (piece[0] == '.') return true;
    for (unsigned char c : piece) {
        if (c < 0x20) return true;
        if (std::string_view("<>:\"|?*").find(char(c)) != std::string_view::npos) return true;
    }
    return graphemeCount(piece) > 120;
}

bool pathExists(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
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

std::string mimeType(std::string_view name) {
    static const std::map<std::string, std::string> types{
        {"txt", "text/plain; charset=utf-8"},
        {"md", "text/markdown; charset=utf-8"},
        {"json", "application/json"},
        {"html", "text/html; charset=utf-8"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"heic", "image/heic"},
        {"svg", "image/svg+xml"},
        {"pdf", "application/pdf"},
        {"mp4", "video/mp4"},
        {"mov", "video/quicktime"},
        {"webm", "video/webm"},
        {"mp3", "audio/mpeg"},
        {"m4a", "audio/mp4"},
        {"wav", "audio/wav"},
        {"zip", "application/zip"},
        {"apk", "application/vnd.android.package-archive"},
        {"exe", "application/octet-stream"},
        {"dmg", "application/x-apple-diskimage"},
    };
    const size_t slash = name.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const size_t dot = last.rfind('.');
    if (dot == std::string_view::npos) return "application/octet-stream";
    const auto it = types.find(lowerASCII(last.substr(dot + 1)));
    return it == types.end() ? "application/octet-stream" : it->second;
}

std::optional<std::pair<int64_t, int64_t>> parseRange(std::string_view header, int64_t size) {
    constexpr std::string_view prefix = "bytes=";
    if (header.substr(0, prefix.size()) != prefix) return std::nullopt;
    const std::string_view rest = header.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::string_view first = rest.substr(0, dash);
    const std::string_view second = rest.substr(dash + 1);
    if (first.empty()) {
        const auto n = parseIntText(second);
        if (!n) return std::nullopt;
        // Suffix form; n = 0 or a negative n gives an empty range (start above end).
        const int64_t start = std::max<int64_t>(0, size - *n);
        return std::make_pair(start, size - 1);
    }
    const auto start = parseIntText(first);
    if (!start) return std::nullopt;
    const int64_t end = parseIntText(second).value_or(size - 1);
    if (*start >= size || end < *start) return std::nullopt;
    return std::make_pair(*start, std::min(end, size - 1));
}

std::string randomHex(int n) {
    if (n <= 0) return "";
    std::vector<unsigned char> bytes(size_t(n), 0);
    if (RAND_bytes(bytes.data(), n) != 1) {
        // The cryptographic source failing is fatal for ids and tokens alike.
        abort();
    }
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(size_t(n) * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string numberedName(const std::string& name, int n) {
    if (n == 0) return name;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return name + " (" + std::to_string(n) + ")";
    return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

std::string uniqueName(const fs::path& folder, const std::string& name) {
    for (int n = 0; n < 9999; ++n) {
        const std::string candidate = numberedName(name, n);
        if (!pathExists(folder / candidate)) return candidate;
    }
    return numberedName(name, 9999);
}

UniqueFile openUnique(const fs::path& folder, const std::string& name, int mode) {
    for (int n = 0; n <= 9999; ++n) {
        const std::string candidate = numberedName(name, n);
        const int fd = ::open((folder / candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return UniqueFile{candidate, fd};
        if (errno != EEXIST) return UniqueFile{candidate, -1};
    }
    return UniqueFile{numberedName(name, 9999), -1};
}

static bool copyThenRemove(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    std::vector<char> buf(1 << 20);
    bool ok = true;
    while (ok) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        ssize_t off = 0;
        while (off < n) {
            const ssize_t w = ::write(out, buf.data() + off, size_t(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            off += w;
        }
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    if (!ok) {
        ::unlink(to.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

bool renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EXDEV) return copyThenRemove(from, to);
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without RENAME_NOREPLACE: a hard link never replaces either.
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
    }
    return false;
}

std::optional<std::string> moveUnique(const fs::path& source, const fs::path& folder, const std::string& name) {
    for (int n = 0; n <= 9999; ++n) {
        const std::string candidate = numberedName(name, n);
        const fs::path target = folder / candidate;
        if (pathExists(target)) continue;
        if (renameNoReplace(source, target)) return candidate;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::string timestampString() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32] = {};
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &local);
    return buf;
}

static std::optional<std::smatch> firstMatch(const std::string& text, const std::string& pattern, size_t groups) {
    try {
        const std::regex re(pattern);
        if (re.mark_count() != groups) return std::nullopt;
        std::smatch m;
        if (!std::regex_search(text, m, re)) return std::nullopt;
        return m;
    } catch (const std::regex_error&) {
        return std::nullopt;
    }
}

std::optional<std::string> match(const std::string& text, const std::string& pattern) {
    const auto m = firstMatch(text, pattern, 1);
    if (!m) return std::nullopt;
    return (*m)[1].str();
}

std::optional<std::pair<std::string, std::string>> match2(const std::string& text, const std::string& pattern) {
    const auto m = firstMatch(text, pattern, 2);
    if (!m) return std::nullopt;
    return std::make_pair((*m)[1].str(), (*m)[2].str());
}

}  // namespace corvane
