#include "base/file_names.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>
#include <string>
#include <unordered_map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/unicode_text.h"
#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

bool pathExists(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

bool copyThenRemove(const fs::path& from, const fs::path& to) {
    const UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!out) return false;
    std::vector<char> buf(1 << 20);
    bool ok = true;
    while (ok) {
        const ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        ok = writeFully(out.get(), std::string_view(buf.data(), size_t(n)));
    }
    if (!out.close()) ok = false;
    if (!ok) {
        ::unlink(to.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

// How a folder takes moves that never replace: renameat2(RENAME_NOREPLACE) where the file
// system has it; else (FUSE, GlusterFS, some NFS servers answer EINVAL) a hard link and
// the unlink of the source; else a name reserved first. Found at the first move into a
// folder and kept, so each move after it costs only its own calls. A way kept wrongly
// (another file system mounted there since) is slower, never less safe.
enum class MoveWay { noReplace, link, reservation };

class MoveWays {
public:
    MoveWay of(const fs::path& folder) {
        std::lock_guard guard(lock_);
        const auto found = byFolder_.find(folder.native());
        return found == byFolder_.end() ? MoveWay::noReplace : found->second;
    }

    MoveWay learn(const fs::path& folder, MoveWay way) {
        std::lock_guard guard(lock_);
        if (byFolder_.size() >= kFoldersKept) byFolder_.clear();  // found again at the next move
        byFolder_[folder.native()] = way;
        return way;
    }

private:
    static constexpr size_t kFoldersKept = 4096;
    std::mutex lock_;  // guards byFolder_
    std::unordered_map<std::string, MoveWay> byFolder_;
};

MoveWays& moveWays() {
    static MoveWays ways;
    return ways;
}

// The answers of a file system without RENAME_NOREPLACE.
bool noReplaceRefused(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

}  // namespace

std::string numberedName(const std::string& name, int n) {
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string number = n == 0 ? "" : " (" + std::to_string(n) + ")";
    if (base.size() + number.size() + ext.size() <= kMaxNameBytes) return base + number + ext;
    // Too long for the file system: the base is shortened on a character boundary,
    // the number and the extension are kept (an extension that alone is too long goes).
    if (number.size() + ext.size() >= kMaxNameBytes) return graphemePrefixBytes(base, kMaxNameBytes - number.size()) + number;
    return graphemePrefixBytes(base, kMaxNameBytes - number.size() - ext.size()) + number + ext;
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
        UniqueFd fd(::open((folder / candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd) return UniqueFile{candidate, std::move(fd)};
        if (errno != EEXIST) return UniqueFile{candidate, UniqueFd()};
    }
    return UniqueFile{numberedName(name, 9999), UniqueFd()};
}

bool renameOverReservation(const fs::path& from, const fs::path& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return false;
    const bool folder = S_ISDIR(st.st_mode);
    if (folder) {
        if (::mkdir(to.c_str(), 0700) != 0) return false;
    } else {
        UniqueFd reserved(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!reserved) return false;
    }
    // The name is ours and the entry still empty: replacing it loses nothing.
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    const int error = errno;
    if (folder) {
        ::rmdir(to.c_str());
    } else {
        ::unlink(to.c_str());
    }
    errno = error;
    return false;
}

bool renameNoReplace(const fs::path& from, const fs::path& to) {
    const fs::path folder = to.parent_path();
    MoveWay way = moveWays().of(folder);
    if (way == MoveWay::noReplace) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno == EXDEV) return copyThenRemove(from, to);
        if (!noReplaceRefused(errno)) return false;
        way = moveWays().learn(folder, MoveWay::link);
    }
    if (way == MoveWay::reservation) return renameOverReservation(from, to);
    // A hard link never replaces either.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST || errno == ENOENT) return false;
    // A folder has no hard link (EPERM), nor has a file on some file systems (exFAT through
    // FUSE, say): the name is taken first, then moved onto; only the file's refusal is kept.
    const bool refused = errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return false;
    if (refused && !S_ISDIR(st.st_mode)) moveWays().learn(folder, MoveWay::reservation);
    return renameOverReservation(from, to);
}

bool renameToFreeName(const fs::path& from, const fs::path& to) {
    const fs::path folder = to.parent_path();
    if (moveWays().of(folder) == MoveWay::noReplace) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (!noReplaceRefused(errno)) return false;
        moveWays().learn(folder, MoveWay::link);
    }
    // Looked at, then renamed: of what could appear in between, a file or a folder that
    // holds anything makes the rename fail; only an empty folder would be replaced.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::string> moveUnique(const fs::path& source, const fs::path& folder, const std::string& name,
                                      const std::function<bool(const std::string& candidate)>& beforeMove) {
    for (int n = 0; n <= 9999; ++n) {
        const std::string candidate = numberedName(name, n);
        // Tried without a look first: every way of renameNoReplace refuses a taken name.
        const fs::path target = folder / candidate;
        if (beforeMove && !beforeMove(candidate)) return std::nullopt;
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

}  // namespace corvane
