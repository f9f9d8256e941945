#include "storage/team_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/handler_utils.h"
#include "engine/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

FileRead readWholeFile(const fs::path& file) {
    FileRead result;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.present = errno != ENOENT && errno != ENOTDIR;
        return result;
    }
    result.present = true;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            result.bytes.clear();
            return result;
        }
        if (n == 0) break;
        result.bytes.append(buf, size_t(n));
    }
    ::close(fd);
    result.readable = true;
    return result;
}

static void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool writeFileAtomically(const fs::path& file, std::string_view bytes, mode_t mode) {
    const fs::path folder = file.parent_path();
    // Hidden name in the same folder, so the rename stays on one file system.
    const fs::path temp = folder / ("." + file.filename().string() + ".tmp-" + randomHex(6));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = writeFully(fd, bytes);
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}

std::optional<fs::path> keepBrokenCopy(const fs::path& file) {
    const fs::path folder = file.parent_path();
    const std::string name = file.filename().string() + ".broken-" + timestampString();
    const FileRead old = readWholeFile(file);
    if (!old.present) return std::nullopt;
    if (!old.readable) {
        const fs::path target = folder / uniqueName(folder, name);
        if (!renameNoReplace(file, target)) return std::nullopt;
        return target;
    }
    const UniqueFile copy = openUnique(folder, name, 0600);
    if (copy.fd < 0) return std::nullopt;
    bool ok = ::fchmod(copy.fd, 0600) == 0;
    ok = writeFully(copy.fd, old.bytes) && ok;
    ok = ::fsync(copy.fd) == 0 && ok;
    ok = ::close(copy.fd) == 0 && ok;
    const fs::path kept = folder / copy.name;
    if (!ok) {
        ::unlink(kept.c_str());
        return std::nullopt;
    }
    return kept;
}

}  // namespace corvane
