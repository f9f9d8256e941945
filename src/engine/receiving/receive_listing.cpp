// The receive folder's files as FileItems (GET /api/files and the local file
// pane), and the switch to another receive folder.

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

#include "base/client_paths.h"
#include "base/unicode_text.h"
#include "base/unique_fd.h"
#include "engine/server/http_response.h"
#include "engine/server/http_server.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr size_t kMaxFiles = 5000;
constexpr int kMaxDepth = 6;  // path components of a listed file

// Entries the walk neither lists nor enters: hidden names, names that cannot be
// written as JSON, and the team's private folders at the top.
bool skipped(const std::string& name, const std::string& rel) {
    if (name.empty() || name[0] == '.' || !isValidUTF8(name)) return true;
    return rel == name && isPrivateArea(rel);
}

double mtimeMillis(const struct stat& st) {
    return double(st.st_mtim.tv_sec) * 1000.0 + double(st.st_mtim.tv_nsec) / 1e6;
}

// Depth-first, in the order the folder gives its entries, like a directory enumerator.
// Each entry is looked at relative to its folder's descriptor: no path is resolved
// again from the root, and a link is never followed.
class ListingWalk {
public:
    explicit ListingWalk(fs::path root) : root_(std::move(root)) {}

    std::vector<FileItem> run() {
        UniqueFd folder(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder) visit(std::move(folder), "", 0);
        return std::move(items_);
    }

private:
    // False once the file limit ends the walk.
    bool visit(UniqueFd folder, const std::string& relFolder, int depth) {
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(folder.get()), ::closedir);
        if (!dir) return true;
        folder.release();  // the stream owns it now
        while (const dirent* entry = ::readdir(dir.get())) {
            if (items_.size() >= kMaxFiles) return false;
            if (!visitEntry(::dirfd(dir.get()), entry->d_name, relFolder, depth + 1)) return false;
        }
        return items_.size() < kMaxFiles;
    }

    bool visitEntry(int folder, const std::string& name, const std::string& relFolder, int depth) {
        const std::string rel = relFolder.empty() ? name : relFolder + "/" + name;
        if (skipped(name, rel) || depth > kMaxDepth) return true;
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
        if (S_ISDIR(st.st_mode)) {
            // A package (an application bundle) is one document: neither listed nor entered.
            if (name.ends_with(".app")) return true;
            UniqueFd inner(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            return !inner || visit(std::move(inner), rel, depth);
        }
        if (S_ISREG(st.st_mode)) items_.push_back(FileItem{rel, name, int64_t(st.st_size), mtimeMillis(st)});
        return true;
    }

    fs::path root_;
    std::vector<FileItem> items_;
};

// Stable, in the localized standard order of the paths; each path's key is computed once.
std::vector<FileItem> sortedByPath(std::vector<FileItem> items) {
    std::vector<std::string_view> paths;
    paths.reserve(items.size());
    for (const FileItem& item : items) paths.push_back(item.path);
    std::vector<FileItem> sorted;
    sorted.reserve(items.size());
    for (const size_t k : localizedStandardOrder(paths)) sorted.push_back(std::move(items[k]));
    return sorted;
}

// {"files":[{"n","p","s","t"}...],"truncated":bool}, written directly: the same bytes as
// the reply built as a JSON tree, without building one for thousands of files.
std::string listingJSON(const std::vector<FileItem>& items, bool truncated) {
    std::string out;
    out.reserve(items.size() * 112 + 32);
    out += "{\"files\":[";
    for (size_t k = 0; k < items.size(); ++k) {
        const FileItem& item = items[k];
        out += k == 0 ? "{\"n\":" : ",{\"n\":";
        appendJSONString(out, item.name);
        out += ",\"p\":";
        appendJSONString(out, item.path);
        out += ",\"s\":";
        out += std::to_string(item.size);
        out += ",\"t\":";
        appendJSONNumber(out, item.mtime);
        out += '}';
    }
    out += truncated ? "],\"truncated\":true}" : "],\"truncated\":false}";
    return out;
}

}  // namespace

std::vector<FileItem> HTTPServer::listFiles() const {
    return sortedByPath(ListingWalk(root()).run());
}

void HTTPServer::switchRoot(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    fs::create_directories(folder / partsFolderName, ec);
    setRoot(folder);
}

void HTTPServer::routeFiles(Connection& c) {
    const int fd = c.fd;
    const std::vector<FileItem> items = listFiles();
    sendJSONText(fd, 200, listingJSON(items, items.size() >= kMaxFiles));
}

}  // namespace corvane
