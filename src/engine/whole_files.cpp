#include "engine/whole_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "engine/handler_utils.h"

namespace fs = std::filesystem;

namespace corvane {

TempFile createTempFile(const fs::path& folder) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const fs::path path = folder / (".tmp-" + randomHex(8));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) return TempFile{path, fd};
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

// Writes and closes the temporary file; removes it on failure.
static bool fillTemp(const TempFile& temp, std::string_view bytes) {
    const bool written = writeFully(temp.fd, bytes);
    const bool closed = ::close(temp.fd) == 0;
    if (written && closed) return true;
    ::unlink(temp.path.c_str());
    return false;
}

bool writeWholeFile(const fs::path& path, std::string_view bytes) {
    const TempFile temp = createTempFile(path.parent_path());
    if (temp.fd < 0 || !fillTemp(temp, bytes)) return false;
    if (std::rename(temp.path.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.path.c_str());
    return false;
}

std::optional<std::string> storeNewFile(const fs::path& folder, const std::string& name, std::string_view bytes) {
    const TempFile temp = createTempFile(folder);
    if (temp.fd < 0 || !fillTemp(temp, bytes)) return std::nullopt;
    auto stored = moveUnique(temp.path, folder, name);
    if (!stored) ::unlink(temp.path.c_str());
    return stored;
}

}  // namespace corvane
