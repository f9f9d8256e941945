// The receive folder's files as FileItems (GET /api/files and the local file
// pane), and the switch to another receive folder.

#include <algorithm>
#include <sys/stat.h>

#include "base/client_paths.h"
#include "base/unicode_text.h"
#include "engine/http_response.h"
#include "engine/http_server.h"

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
class ListingWalk {
public:
    explicit ListingWalk(fs::path root) : root_(std::move(root)) {}

    std::vector<FileItem> run() {
        visit(root_, "", 0);
        return std::move(items_);
    }

private:
    // False once the file limit ends the walk.
    bool visit(const fs::path& folder, const std::string& relFolder, int depth) {
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) return true;
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (items_.size() >= kMaxFiles) return false;
            if (!visitEntry(it->path(), relFolder, depth + 1)) return false;
        }
        return items_.size() < kMaxFiles;
    }

    bool visitEntry(const fs::path& path, const std::string& relFolder, int depth) {
        const std::string name = path.filename().string();
        const std::string rel = relFolder.empty() ? name : relFolder + "/" + name;
        if (skipped(name, rel) || depth > kMaxDepth) return true;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return true;
        if (S_ISDIR(st.st_mode)) {
            // A package (an application bundle) is one document: neither listed nor entered.
            if (name.ends_with(".app")) return true;
            return visit(path, rel, depth);
        }
        if (S_ISREG(st.st_mode)) items_.push_back(FileItem{rel, name, int64_t(st.st_size), mtimeMillis(st)});
        return true;
    }

    fs::path root_;
    std::vector<FileItem> items_;
};

}  // namespace

std::vector<FileItem> HTTPServer::listFiles() const {
    std::vector<FileItem> items = ListingWalk(root()).run();
    std::stable_sort(items.begin(), items.end(),
                     [](const FileItem& a, const FileItem& b) { return localizedStandardLess(a.path, b.path); });
    return items;
}

void HTTPServer::switchRoot(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    fs::create_directories(folder / ".parts", ec);
    setRoot(folder);
}

void HTTPServer::routeFiles(Connection& c) {
    const int fd = c.fd;
    const std::vector<FileItem> items = listFiles();
    nlohmann::json files = nlohmann::json::array();
    for (const auto& item : items) files.push_back(item.toJSON());
    sendJSON(fd, 200, {{"files", files}, {"truncated", items.size() >= kMaxFiles}});
}

}  // namespace corvane
