#include "app/receive_folder.h"

#include <vector>

#include "app/item_move.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

}  // namespace

fs::path cleanFolderPath(const fs::path& path) {
    std::error_code ec;
    fs::path clean = fs::absolute(path, ec).lexically_normal();
    if (ec) clean = path.lexically_normal();
    if (!clean.has_filename() && clean.has_parent_path() && clean != clean.root_path()) clean = clean.parent_path();
    return clean;
}

bool isInsideFolder(const fs::path& inner, const fs::path& outer) {
    const fs::path rel = inner.lexically_relative(outer);
    if (rel.empty() || rel == ".") return false;
    return *rel.begin() != "..";
}

fs::path resolveRoot(const fs::path& home, const LogLine& log) {
    const fs::path current = home / "Corvane";
    const fs::path earlier = home / "Quillpath";
    if (present(current)) return current;
    if (present(earlier)) {
        if (const Outcome moved = moveItemNoReplace(earlier, current); !moved) {
            log("接收目录迁移失败，继续沿用旧目录：" + moved.refusal());
            return earlier;
        }
        log("接收目录已从 Quillpath 迁移到 Corvane");
        return current;
    }
    std::error_code ec;
    fs::create_directories(current, ec);
    return current;
}

fs::path normalizeStorageDir(const std::string& stored, const LogLine& log) {
    const fs::path url = cleanFolderPath(stored);
    const std::string last = url.filename().string();
    if (last != "Quillpath" && last != "quillpath") return url;
    const fs::path current = url.parent_path() / "Corvane";
    if (present(current)) {
        log("存储目录指向旧路径 " + url.string() + "，已归一化到 " + current.string());
        return current;
    }
    if (present(url)) {
        if (const Outcome moved = moveItemNoReplace(url, current); !moved) {
            log("存储目录归一化迁移失败，继续沿用旧目录：" + moved.refusal());
            return url;
        }
        log("存储目录已从 " + url.string() + " 迁移到 " + current.string());
        return current;
    }
    std::error_code ec;
    fs::create_directories(current, ec);
    return current;
}

Outcome moveFolderEntries(const fs::path& from, const fs::path& to) {
    std::vector<fs::path> names;
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename());
    }

    std::vector<fs::path> moved;
    for (const fs::path& name : names) {
        if (present(to / name)) continue;  // a taken name stays behind
        const Outcome attempt = moveItemNoReplace(from / name, to / name);
        if (attempt) {
            moved.push_back(name);
            continue;
        }
        if (present(to / name) && present(from / name)) continue;  // taken meanwhile: stays behind
        // Put back what was moved, so the folder stays whole in its old place.
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) (void)moveItemNoReplace(to / *it, from / *it);
        return Refusal{name.string() + "：" + attempt.refusal()};
    }
    return {};
}

}  // namespace corvane
