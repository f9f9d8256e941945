// Team name and logo of the team store.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/whole_files.h"
#include "storage/team_files.h"
#include "storage/team_store.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {
const char* const msgEmpty = "图片是空的";
const char* const msgTooLarge = "图片太大了（限 1.5MB）";
const char* const msgBadType = "只支持 PNG / JPG / GIF / WebP";
const char* const msgSaveFailed = "保存失败";

// PNG, JPEG, GIF or WebP by their leading bytes.
bool knownImage(std::string_view bytes) {
    if (bytes.starts_with("\x89PNG")) return true;
    if (bytes.starts_with("\xFF\xD8")) return true;
    if (bytes.starts_with("GIF")) return true;
    return bytes.size() >= 13 && bytes.substr(8, 4) == "WEBP";
}
}  // namespace

fs::path TeamStore::logoFileLocked() const { return teamDirLocked() / "logo.img"; }

std::string TeamStore::teamName() const {
    std::lock_guard hold(lock_);
    refreshLocked();
    return cachedTeamName_;
}

void TeamStore::setTeamName(const std::string& name) {
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    cachedTeamName_ = name;
    saveUsersLocked();
}

int64_t TeamStore::logoStamp() const {
    std::lock_guard hold(lock_);
    if (rootPath_.empty()) return 0;
    struct stat st {};
    if (::stat(logoFileLocked().c_str(), &st) != 0) return 0;
    return int64_t(st.st_mtim.tv_sec);
}

bool TeamStore::hasLogo() const {
    std::lock_guard hold(lock_);
    if (rootPath_.empty()) return false;
    std::error_code ec;
    return fs::exists(logoFileLocked(), ec);
}

std::string TeamStore::logoBytes() const {
    std::lock_guard hold(lock_);
    if (rootPath_.empty()) return "";
    const FileRead file = readWholeFile(logoFileLocked());
    return file.readable ? file.bytes : "";
}

Outcome TeamStore::saveLogo(std::string_view bytes) {
    if (bytes.empty()) return Refusal{msgEmpty};
    if (bytes.size() > logoMaxBytes) return Refusal{msgTooLarge};
    if (!knownImage(bytes)) return Refusal{msgBadType};
    std::lock_guard hold(lock_);
    if (rootPath_.empty()) return Refusal{msgSaveFailed};
    std::error_code ec;
    fs::create_directories(teamDirLocked(), ec);
    // Readable by others, unlike the account files: it is served to every browser.
    if (!writeFileAtomically(logoFileLocked(), bytes, 0644)) return Refusal{msgSaveFailed};
    return {};
}

void TeamStore::clearLogo() {
    std::lock_guard hold(lock_);
    if (rootPath_.empty()) return;
    ::unlink(logoFileLocked().c_str());
}

}  // namespace corvane
