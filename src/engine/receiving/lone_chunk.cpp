#include "engine/receiving/lone_chunk.h"

#include <cerrno>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <mutex>
#include <set>
#include <unistd.h>

#include "base/random_hex.h"
#include "base/upload_body.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr std::string_view kLonePrefix = ".lone-";
const char* const kLoneAttribute = "user.corvane.lone";

std::string textField(const nlohmann::json& json, const char* key) {
    const auto found = json.find(key);
    return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

bool isLoneFile(const fs::path& entry) {
    const std::string name = entry.filename().string();
    return name.starts_with(kLonePrefix) && name.size() > kLonePrefix.size();
}

bool loneFilesWork(const fs::path& parts) {
    const fs::path probe = parts / (".probe-" + randomHex(6));
    const fs::path second = parts / (probe.filename().string() + "-link");
    UniqueFd fd(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd) return false;
    const bool attribute = ::fsetxattr(fd.get(), kLoneAttribute, "{}", 2, 0) == 0;
    fd.close();
    const bool linked = attribute && ::link(probe.c_str(), second.c_str()) == 0;
    ::unlink(second.c_str());
    ::unlink(probe.c_str());
    return linked;
}

namespace {

// Folders whose file system refused a file without a name: not asked again (on FUSE each
// refusal is a round trip).
std::mutex unnamedRefusedLock;
std::set<fs::path> unnamedRefused;

UniqueFd openUnnamed(const fs::path& parts) {
    {
        std::lock_guard guard(unnamedRefusedLock);
        if (unnamedRefused.count(parts)) return UniqueFd();
    }
    UniqueFd fd(::open(parts.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
    if (!fd && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        std::lock_guard guard(unnamedRefusedLock);
        unnamedRefused.insert(parts);
    }
    return fd;
}

}  // namespace

ChunkWrite writeLoneChunk(const fs::path& parts, const ChunkBody& body, PendingChunk& pending) {
    UniqueFd fd = openUnnamed(parts);
    fs::path file;
    for (int attempt = 0; attempt < 8 && !fd; ++attempt) {
        file = parts / (std::string(kLonePrefix) + scratchHex(8));
        fd = UniqueFd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd && errno != EEXIST) break;
    }
    if (!fd) return ChunkWrite::failed;
    const BodyCopy copy = copyBodyToFile(body.sock, body.start, body.length, fd.get(), body.pace, body.heard);
    pending.index = 0;
    if (copy.end == BodyCopy::End::complete && file.empty()) {
        pending.unnamed = std::move(fd);
        return ChunkWrite::written;
    }
    const bool closed = fd.close();
    if (copy.end == BodyCopy::End::complete && closed) {
        pending.tempName = file.string();
        return ChunkWrite::written;
    }
    const int error = copy.error != 0 ? copy.error : errno;
    if (!file.empty()) ::unlink(file.c_str());
    errno = error;  // told as the storage's fault where it is one
    if (copy.end == BodyCopy::End::cutShort) return ChunkWrite::cutShort;
    return ChunkWrite::failed;
}

namespace {

std::string recordText(const LoneRecord& record) {
    nlohmann::json json{{"id", record.id}, {"owner", record.owner}, {"meta", record.meta}};
    if (!record.reply.empty()) {
        json["reply"] = record.reply;
        json["at"] = record.at;
    }
    return json.dump();
}

// Links the file without a name to `to`, through the descriptor's own path (a link by an
// empty path needs a privilege the server does not have).
bool nameUnnamed(const UniqueFd& fd, const fs::path& to) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

bool recordUnnamed(PendingChunk& pending, const LoneRecord& record) {
    std::string text = recordText(record);
    if (text == pending.recorded) return true;
    pending.recorded.clear();
    if (::fsetxattr(pending.unnamed.get(), kLoneAttribute, text.data(), text.size(), 0) != 0) return false;
    pending.recorded = std::move(text);
    return true;
}

bool keepLoneChunk(const fs::path& parts, PendingChunk& pending, const LoneRecord& record) {
    if (!pending.unnamed) return recordLone(pending.tempName, record);
    if (!recordUnnamed(pending, record)) return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const fs::path file = parts / (std::string(kLonePrefix) + scratchHex(8));
        if (nameUnnamed(pending.unnamed, file)) {
            pending.tempName = file.string();
            pending.unnamed.close();
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool moveLoneChunk(PendingChunk& pending, const fs::path& to) {
    if (!pending.unnamed) return ::rename(pending.tempName.c_str(), to.c_str()) == 0;
    // Replaces a chunk file of the index there, as a rename would.
    const fs::path aside = to.parent_path() / (".tmp-" + scratchHex(8));
    if (!nameUnnamed(pending.unnamed, aside)) return false;
    pending.unnamed.close();
    if (::rename(aside.c_str(), to.c_str()) == 0) return true;
    ::unlink(aside.c_str());
    return false;
}

void discardLoneChunk(PendingChunk& pending) {
    pending.unnamed.close();
    if (!pending.tempName.empty()) ::unlink(pending.tempName.c_str());
    pending.tempName.clear();
}

bool recordLone(const fs::path& file, const LoneRecord& record) {
    const std::string text = recordText(record);
    return ::setxattr(file.c_str(), kLoneAttribute, text.data(), text.size(), 0) == 0;
}

std::optional<LoneRecord> readLone(const fs::path& file) {
    char value[8192];
    const ssize_t n = ::getxattr(file.c_str(), kLoneAttribute, value, sizeof value);
    if (n < 0) return std::nullopt;
    const nlohmann::json json = nlohmann::json::parse(std::string_view(value, size_t(n)), nullptr, false);
    if (!json.is_object()) return std::nullopt;
    LoneRecord record{textField(json, "id"), textField(json, "owner"), textField(json, "meta"), textField(json, "reply"), 0};
    const auto at = json.find("at");
    if (at != json.end() && at->is_number()) record.at = at->get<double>();
    if (record.id.empty() || record.owner.empty()) return std::nullopt;
    return record;
}

bool linkedElsewhere(const fs::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1;
}

void forgetLoneRecord(const fs::path& file) { ::removexattr(file.c_str(), kLoneAttribute); }

void removeLone(const fs::path& file) {
    ::removexattr(file.c_str(), kLoneAttribute);
    ::unlink(file.c_str());
}

}  // namespace corvane
