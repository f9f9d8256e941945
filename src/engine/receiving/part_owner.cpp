#include "engine/receiving/part_owner.h"

#include <cerrno>
#include <sys/xattr.h>
#include <unistd.h>

#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

const char* const kOwnerAttribute = "user.corvane.owner";
const char* const kOwnerFile = "owner";

}  // namespace

std::string recordedOwner(const fs::path& folder) {
    char value[64];
    const ssize_t n = ::getxattr(folder.c_str(), kOwnerAttribute, value, sizeof value);
    if (n >= 0) return std::string(value, size_t(n));
    const FileRead file = readWholeFile(folder / kOwnerFile);
    return file.readable ? file.bytes : std::string();
}

bool recordOwner(const fs::path& folder, const std::string& peerIP) {
    if (::setxattr(folder.c_str(), kOwnerAttribute, peerIP.data(), peerIP.size(), 0) == 0) return true;
    // Any other failure (no space for the attribute, say) leaves the upload unowned:
    // the caller refuses it rather than keep a folder every address could claim.
    if (errno != ENOTSUP) return false;
    return writeWholeFile(folder / kOwnerFile, peerIP);
}

void clearOwner(const fs::path& folder) {
    ::removexattr(folder.c_str(), kOwnerAttribute);
    ::unlink((folder / kOwnerFile).c_str());
}

}  // namespace corvane
