#include "engine/part_owner.h"

#include <cerrno>
#include <sys/xattr.h>
#include <unistd.h>

#include "base/file_names.h"
#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

const char* const kOwnerAttribute = "user.corvane.owner";
const char* const kOwnerFile = "owner";

// The file is written aside and moved in without replacing, so it appears whole.
Ownership claimOwnerFile(const fs::path& folder, const std::string& peerIP) {
    TempFile temp = createTempFile(folder);
    if (!temp.fd) return {};
    const bool written = writeFully(temp.fd.get(), peerIP) && temp.fd.close();
    if (written && renameNoReplace(temp.path, folder / kOwnerFile)) return {peerIP, true};
    ::unlink(temp.path.c_str());
    return {ownerOf(folder), false};
}

bool setOwnerAttribute(const fs::path& folder, const std::string& peerIP, int flags) {
    return ::setxattr(folder.c_str(), kOwnerAttribute, peerIP.data(), peerIP.size(), flags) == 0;
}

}  // namespace

std::optional<std::string> ownerOf(const fs::path& folder) {
    char value[64];
    const ssize_t n = ::getxattr(folder.c_str(), kOwnerAttribute, value, sizeof value);
    if (n >= 0) return std::string(value, size_t(n));
    const FileRead file = readWholeFile(folder / kOwnerFile);
    if (!file.readable) return std::nullopt;
    return file.bytes;
}

Ownership claimOwner(const fs::path& folder, const std::string& peerIP) {
    if (auto owner = ownerOf(folder)) return {std::move(owner), false};
    if (setOwnerAttribute(folder, peerIP, XATTR_CREATE)) return {peerIP, true};
    if (errno == ENOTSUP) return claimOwnerFile(folder, peerIP);
    return {ownerOf(folder), false};
}

void replaceOwner(const fs::path& folder, const std::string& peerIP) {
    // The attribute is read before the file, so a file from before no longer counts.
    if (setOwnerAttribute(folder, peerIP, 0)) return;
    writeWholeFile(folder / kOwnerFile, peerIP);
}

void releaseOwner(const fs::path& folder, const std::string& peerIP) {
    if (ownerOf(folder) != peerIP) return;
    if (::removexattr(folder.c_str(), kOwnerAttribute) != 0) ::unlink((folder / kOwnerFile).c_str());
}

bool mayChange(const fs::path& folder, const std::string& peerIP) {
    const auto owner = ownerOf(folder);
    return !owner || *owner == peerIP;
}

void clearOwner(const fs::path& folder) { ::removexattr(folder.c_str(), kOwnerAttribute); }

}  // namespace corvane
