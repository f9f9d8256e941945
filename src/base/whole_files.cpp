#include "base/whole_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/file_names.h"
#include "base/random_hex.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

struct WriteMode {
    mode_t mode = 0644;
    bool durable = false;  // exact mode (umask ignored), file and folder synced to disk
};

void syncFolder(const fs::path& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

// Writes and closes the temporary file; removes it on failure.
bool fillTemp(TempFile& temp, std::string_view bytes, const WriteMode& how) {
    bool ok = writeFully(temp.fd.get(), bytes);
    if (how.durable) ok = ok && ::fchmod(temp.fd.get(), how.mode) == 0 && ::fsync(temp.fd.get()) == 0;
    ok = temp.fd.close() && ok;
    if (!ok) ::unlink(temp.path.c_str());
    return ok;
}

bool replaceWhole(const fs::path& path, std::string_view bytes, const WriteMode& how) {
    const fs::path folder = path.parent_path();
    TempFile temp = createTempFile(folder, how.durable ? 0600 : how.mode);
    if (!temp.fd || !fillTemp(temp, bytes, how)) return false;
    if (std::rename(temp.path.c_str(), path.c_str()) != 0) {
        ::unlink(temp.path.c_str());
        return false;
    }
    if (how.durable) syncFolder(folder);
    return true;
}

}  // namespace

namespace {

FileRead readOnce(const fs::path& file) {
    FileRead result;
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        result.error = errno;
        result.present = errno != ENOENT && errno != ENOTDIR;
        return result;
    }
    result.present = true;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = errno;
            result.bytes.clear();
            return result;
        }
        if (n == 0) break;
        result.bytes.append(buf, size_t(n));
    }
    result.readable = true;
    return result;
}

}  // namespace

FileRead readWholeFile(const fs::path& file) {
    constexpr int staleRetries = 3;
    FileRead result = readOnce(file);
    for (int retry = 0; retry < staleRetries && result.error == ESTALE; ++retry) result = readOnce(file);
    return result;
}

TempFile createTempFile(const fs::path& folder, mode_t mode) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        fs::path path = folder / (".tmp-" + randomHex(8));
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd) return TempFile{std::move(path), std::move(fd)};
        if (errno != EEXIST) break;
    }
    return TempFile{};
}

bool writeFully(int fd, std::string_view bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += size_t(n);
    }
    return true;
}

bool writeWholeFile(const fs::path& path, std::string_view bytes) { return replaceWhole(path, bytes, WriteMode{}); }

bool writeFileAtomically(const fs::path& file, std::string_view bytes, mode_t mode) {
    return replaceWhole(file, bytes, WriteMode{mode, true});
}

std::optional<std::string> storeNewFile(const fs::path& folder, const std::string& name, std::string_view bytes) {
    TempFile temp = createTempFile(folder);
    if (!temp.fd || !fillTemp(temp, bytes, WriteMode{})) return std::nullopt;
    auto stored = moveUnique(temp.path, folder, name);
    if (!stored) ::unlink(temp.path.c_str());
    return stored;
}

}  // namespace corvane
