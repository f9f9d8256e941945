#include "storage/nas_paths.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>

#include "base/client_paths.h"
#include "base/unicode_text.h"
#include "base/unique_fd.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// The real paths of the root and of the location (links resolved as far as it exists).
bool realPaths(const fs::path& root, const fs::path& location, fs::path& realRoot, fs::path& real) {
    std::error_code ec;
    realRoot = fs::canonical(root, ec);
    if (ec) return false;
    real = fs::weakly_canonical(location, ec);
    return !ec;
}

// A link is looked at a second time, followed; anything else is a folder or not by itself.
bool folderFollowed(int folder, const char* name, const struct stat& own) {
    if (!S_ISLNK(own.st_mode)) return S_ISDIR(own.st_mode);
    struct stat followed {};
    return ::fstatat(folder, name, &followed, 0) == 0 && S_ISDIR(followed.st_mode);
}

}  // namespace

bool realPathInside(const fs::path& root, const fs::path& location) {
    fs::path realRoot, real;
    return realPaths(root, location, realRoot, real) && (real == realRoot || liesInside(realRoot, real));
}

bool realPathBelow(const fs::path& root, const fs::path& location) {
    fs::path realRoot, real;
    return realPaths(root, location, realRoot, real) && liesInside(realRoot, real);
}

std::optional<fs::path> fsTarget(const fs::path& root, std::string_view clientPath) {
    if (clientPath.empty()) return root;
    const auto rel = sanitize(clientPath);
    if (!rel || isPrivateArea(*rel)) return std::nullopt;
    const fs::path location = root / *rel;
    if (!liesInside(root, location) || !realPathBelow(root, location)) return std::nullopt;
    return location;
}

std::vector<std::string> entryNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (isValidUTF8(name)) names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::string> sortedEntryNames(const fs::path& folder) {
    std::vector<std::string> names = entryNames(folder);
    const std::vector<std::string_view> views(names.begin(), names.end());
    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (const size_t k : localizedStandardOrder(views)) sorted.push_back(std::move(names[k]));
    return sorted;
}

std::vector<VisibleEntry> visibleEntries(const fs::path& root, const fs::path& folder, bool atRoot) {
    std::vector<VisibleEntry> entries;
    UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opened ? ::fdopendir(opened.get()) : nullptr, ::closedir);
    if (!dir) return entries;
    opened.release();  // the stream owns it now
    const int fd = ::dirfd(dir.get());
    while (const dirent* found = ::readdir(dir.get())) {
        const std::string_view name = found->d_name;
        if (name == "." || name == ".." || !isValidUTF8(name) || (atRoot && isPrivateArea(name))) continue;
        VisibleEntry entry{std::string(name)};
        if (::fstatat(fd, found->d_name, &entry.own, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISLNK(entry.own.st_mode) && !realPathBelow(root, folder / entry.name)) continue;
        entry.folder = folderFollowed(fd, found->d_name, entry.own);
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool leadsOutside(const fs::path& root, const fs::path& entry, const struct stat& own) {
    return S_ISLNK(own.st_mode) && !realPathBelow(root, entry);
}

std::optional<std::string> bodyPath(const HTTPReq& req, const fs::path& root) {
    const auto body = jsonObjectBody(req);
    const auto wanted = body ? stringMember(*body, "path") : std::nullopt;
    auto rel = wanted ? sanitize(*wanted) : std::nullopt;
    if (!rel || !fsTarget(root, *rel)) return std::nullopt;
    return rel;
}

std::optional<nlohmann::json> jsonObjectBody(const HTTPReq& req) {
    nlohmann::json parsed = nlohmann::json::parse(req.body, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    return parsed;
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

double mtimeMillis(const struct stat& st) {
    return double(st.st_mtim.tv_sec) * 1000.0 + double(st.st_mtim.tv_nsec / 1000000);
}

std::string parentOf(const std::string& rel) {
    const size_t slash = rel.rfind('/');
    return slash == std::string::npos ? "" : rel.substr(0, slash);
}

std::string lastComponent(const std::string& rel) {
    const size_t slash = rel.rfind('/');
    return slash == std::string::npos ? rel : rel.substr(slash + 1);
}

}  // namespace corvane
