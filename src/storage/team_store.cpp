#include "storage/team_store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/stat.h>

#include "base/cfg.h"
#include "base/json_fields.h"
#include "base/storage_fault.h"
#include "base/whole_files.h"
#include "storage/team_files.h"
#include "storage/team_folders.h"
#include "storage/team_text.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace corvane {

namespace {
constexpr const char* accountsFile = "accounts.json";
constexpr const char* sessionsFile = "sessions.json";
constexpr const char* resetsFile = "resets.json";
constexpr const char* storeLockFile = ".store.lock";

// Invalid UTF-8 in a stored text is written as U+FFFD instead of failing the whole save.
std::string dumpJSON(const json& value, int indent) {
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

std::string usersFileText(const std::vector<TeamUser>& users, const std::string& team) {
    json list = json::array();
    for (const auto& u : users) list.push_back(u.toJSON());
    // nlohmann::json keeps object keys sorted, as the file wants them.
    return dumpJSON(json{{"version", 1}, {"team", team}, {"users", list}}, 2);
}

std::string sessionsFileText(const std::map<std::string, TeamStore::Session>& sessions) {
    json list = json::object();
    for (const auto& [token, s] : sessions) list[token] = json{{"uid", s.uid}, {"exp", s.exp}};
    return dumpJSON(json{{"sessions", list}}, -1);
}

std::string normalRoot(const fs::path& root) {
    std::string path = root.string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}
}  // namespace

LoginResult LoginResult::ok(std::string token, TeamUser user) {
    return LoginResult{Kind::ok, std::move(token), std::move(user), ""};
}

LoginResult LoginResult::pending(TeamUser user) { return LoginResult{Kind::pending, "", std::move(user), ""}; }

LoginResult LoginResult::bad(std::string message) { return LoginResult{Kind::bad, "", TeamUser{}, std::move(message)}; }

TeamRegResult TeamRegResult::success(TeamUser user) { return TeamRegResult{true, std::move(user), ""}; }

TeamRegResult TeamRegResult::fail(std::string message) { return TeamRegResult{false, TeamUser{}, std::move(message)}; }

TeamStore::TeamStore(Clock clock, LogSink log, RecordMaker makeRecord, PasswordChecker check)
    : clock_(std::move(clock)), log_(std::move(log)), makeRecord_(std::move(makeRecord)), check_(std::move(check)) {}

TeamStore& TeamStore::shared() {
    static TeamStore store;
    return store;
}

TeamStore::Clock TeamStore::systemClock() {
    return [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
}

TeamStore::LogSink TeamStore::defaultLog() {
    return [](const std::string& line) { bootLog(line); };
}

// ---- Root and folders ----

void TeamStore::bind(const fs::path& root) {
    std::lock_guard hold(lock_);
    const std::string path = normalRoot(root);
    if (path == rootPath_) return;
    rootPath_ = path;
    users_.clear();
    sessions_.clear();
    resets_.clear();
    cachedTeamName_.clear();
    brokenFiles_.clear();
    stamps_.clear();
    loadLocked();
}

std::string TeamStore::rootPath() const {
    std::lock_guard hold(lock_);
    return rootPath_;
}

void TeamStore::prepareDirs() const {
    const std::string root = rootPath();
    if (root.empty()) return;
    for (const char* folder : {teamFolderName, sharedFolderName, usersFolderName}) {
        std::error_code ec;
        fs::create_directories(fs::path(root) / folder, ec);
    }
}

std::optional<fs::path> TeamStore::userFolder(const std::string& id) const {
    return teamUserFolder(rootPath(), id);
}

fs::path TeamStore::teamDirLocked() const { return fs::path(rootPath_) / teamFolderName; }

// ---- Queries ----

int TeamStore::pendingCount() const {
    std::lock_guard hold(lock_);
    refreshLocked();
    int count = 0;
    for (const auto& u : users_) count += u.status == "pending" ? 1 : 0;
    return count;
}

bool TeamStore::hasAdminLocked() const {
    for (const auto& u : users_) {
        if (u.isAdmin()) return true;
    }
    return false;
}

bool TeamStore::hasAdmin() const {
    std::lock_guard hold(lock_);
    refreshLocked();
    return hasAdminLocked();
}

std::vector<TeamUser> TeamStore::allUsers() const {
    std::lock_guard hold(lock_);
    refreshLocked();
    return users_;
}

std::optional<TeamUser> TeamStore::user(const std::string& id) const {
    std::lock_guard hold(lock_);
    refreshLocked();
    const auto index = indexOfIdLocked(id);
    if (!index) return std::nullopt;
    return users_[*index];
}

std::optional<size_t> TeamStore::indexOfIdLocked(const std::string& id) const {
    for (size_t i = 0; i < users_.size(); ++i) {
        if (users_[i].id == id) return i;
    }
    return std::nullopt;
}

std::optional<size_t> TeamStore::indexOfLoginLocked(const std::string& lowered) const {
    if (lowered.empty()) return std::nullopt;  // a damaged account without a name is never matched
    for (size_t i = 0; i < users_.size(); ++i) {
        if (lowersTo(users_[i].user, lowered)) return i;
    }
    return std::nullopt;
}

std::optional<size_t> TeamStore::indexOfAccountLocked(const std::string& lowered) const {
    if (lowered.empty()) return std::nullopt;
    for (size_t i = 0; i < users_.size(); ++i) {
        const TeamUser& u = users_[i];
        if (lowersTo(u.user, lowered)) return i;
        if (!u.email.empty() && lowersTo(u.email, lowered)) return i;
    }
    return std::nullopt;
}

// ---- Loading ----

void TeamStore::loadLocked() { reloadLocked(); }

void TeamStore::reloadLocked() const {
    if (rootPath_.empty()) return;
    loadAccountsLocked();
    loadSessionsLocked();
    loadResetsLocked();
    applyPendingSignInsLocked();
}

void TeamStore::refreshLocked() const {
    if (rootPath_.empty()) return;
    bool changed = false;
    if (stampOf(accountsFile) != stamps_[accountsFile]) {
        loadAccountsLocked();
        changed = true;
    }
    if (stampOf(sessionsFile) != stamps_[sessionsFile]) {
        loadSessionsLocked();
        changed = true;
    }
    if (stampOf(resetsFile) != stamps_[resetsFile]) loadResetsLocked();
    if (changed) applyPendingSignInsLocked();
}

TeamStore::FileStamp TeamStore::stampOf(const char* name) const {
    struct stat st {};
    const fs::path file = teamDirLocked() / name;
    int result = ::stat(file.c_str(), &st);
    for (int retry = 0; retry < 3 && result != 0 && errno == ESTALE; ++retry) result = ::stat(file.c_str(), &st);
    if (result != 0) return FileStamp{};
    return FileStamp{true,
                     uint64_t(st.st_dev),
                     uint64_t(st.st_ino),
                     int64_t(st.st_size),
                     int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

std::optional<json> TeamStore::readTeamObjectLocked(const char* name, bool& keep) const {
    keep = false;
    // Stamped before the read: a write in between is read again at the next look.
    stamps_[name] = stampOf(name);
    const FileRead file = readWholeFile(teamDirLocked() / name);
    if (!file.present) return std::nullopt;
    if (!file.readable && isStorageFault(file.error)) {
        // The storage is gone for now; memory stays and the file is read once it is back.
        stamps_.erase(name);
        keep = true;
        return std::nullopt;
    }
    json doc = json::parse(file.bytes, nullptr, false);
    if (!file.readable || !doc.is_object()) {
        brokenFiles_.insert(name);
        keep = true;
        return std::nullopt;
    }
    return doc;
}

static bool isArrayOfObjects(const json& value) {
    if (!value.is_array()) return false;
    for (const auto& element : value) {
        if (!element.is_object()) return false;
    }
    return true;
}

void TeamStore::loadAccountsLocked() const {
    bool keep = false;
    const auto doc = readTeamObjectLocked(accountsFile, keep);
    if (keep) return;
    users_.clear();
    cachedTeamName_ = doc ? Fields(*doc).s("team").value_or("") : "";
    if (!doc) return;
    const auto users = doc->find("users");
    if (users == doc->end() || !isArrayOfObjects(*users)) {
        // One bad element would otherwise cost every account at the next save.
        brokenFiles_.insert(accountsFile);
        return;
    }
    for (const auto& element : *users) users_.push_back(TeamUser::fromJSON(element));
}

std::optional<json> TeamStore::readTeamSectionLocked(const char* name, const char* key, bool& keep) const {
    const auto doc = readTeamObjectLocked(name, keep);
    if (!doc) return std::nullopt;
    const auto section = doc->find(key);
    if (section == doc->end() || !section->is_object()) {
        brokenFiles_.insert(name);
        keep = true;
        return std::nullopt;
    }
    return *section;
}

void TeamStore::loadSessionsLocked() const {
    bool keep = false;
    const auto sessions = readTeamSectionLocked(sessionsFile, "sessions", keep);
    if (keep) return;
    sessions_.clear();
    if (!sessions) return;
    const double current = now();
    for (const auto& [token, value] : sessions->items()) {
        if (!value.is_object()) continue;
        const Fields f(value);
        const double exp = f.d("exp");
        if (!(current < exp)) continue;
        sessions_[token] = Session{f.s("uid").value_or(""), exp};
    }
}

void TeamStore::loadResetsLocked() const {
    bool keep = false;
    const auto codes = readTeamSectionLocked(resetsFile, "codes", keep);
    if (keep) return;
    resets_.clear();
    if (!codes) return;
    // Expired codes stay until the next save, so that their use is answered as expired.
    for (const auto& [uid, entry] : codes->items()) {
        if (entry.is_object()) resets_[uid] = entry;
    }
}

void TeamStore::applyPendingSignInsLocked() const {
    for (const PendingSignIn& signIn : pendingSignIns_) {
        const auto index = indexOfIdLocked(signIn.session.uid);
        if (!index) continue;  // removed on another server meanwhile
        sessions_[signIn.token] = signIn.session;
        users_[*index].lastLogin = std::max(users_[*index].lastLogin, signIn.lastLogin);
        boundSessionsLocked(signIn.session.uid);
    }
}

// ---- Changing ----

TeamFileLock TeamStore::lockFilesLocked() const {
    if (rootPath_.empty()) return TeamFileLock{};
    return TeamFileLock(teamDirLocked(), storeLockFile);
}

TeamFileLock TeamStore::beginChangeLocked() {
    awaitSignInWriteLocked();
    TeamFileLock held = lockFilesLocked();
    reloadLocked();
    return held;
}

// ---- Saving ----

std::optional<fs::path> TeamStore::teamFileForWriteLocked(const char* name) {
    if (rootPath_.empty()) return std::nullopt;
    std::error_code ec;
    fs::create_directories(teamDirLocked(), ec);
    const fs::path file = teamDirLocked() / name;
    if (brokenFiles_.erase(name) > 0) {
        const auto kept = keepBrokenCopy(file);
        if (kept) {
            log_(std::string("团队文件 ") + name + " 无法读取，已另存为 " + kept->filename().string());
        } else {
            log_(std::string("团队文件 ") + name + " 无法读取，另存失败");
        }
    }
    return file;
}

void TeamStore::writeTeamFileLocked(const char* name, const std::string& bytes) {
    const auto file = teamFileForWriteLocked(name);
    // A failed write leaves memory as the truth until the file is read again.
    if (file && writeFileAtomically(*file, bytes, 0600)) stamps_[name] = stampOf(name);
}

void TeamStore::awaitSignInWriteLocked() const {
    // Waiting lets the lock go, so the change is made only afterwards, to memory as it is then.
    filesWritten_.wait(lock_, [this] { return !writingOutside_; });
}

void TeamStore::saveUsersLocked() {
    if (rootPath_.empty()) return;
    writeTeamFileLocked(accountsFile, usersFileText(users_, cachedTeamName_));
}

void TeamStore::saveSessionsLocked() {
    if (rootPath_.empty()) return;
    const double current = now();
    std::erase_if(sessions_, [&](const auto& item) { return !(item.second.exp > current); });
    writeTeamFileLocked(sessionsFile, sessionsFileText(sessions_));
}

void TeamStore::saveSignInLocked(std::unique_lock<std::mutex>& hold) {
    const uint64_t mine = ++signInsMade_;
    while (signInsSaved_ < mine) {
        if (writingOutside_) {
            filesWritten_.wait(hold);
            continue;
        }
        TeamFileLock held = lockFilesLocked();
        reloadLocked();  // what other servers wrote, with every sign-in made until now
        writingOutside_ = true;
        const uint64_t upTo = signInsMade_;
        pendingSignIns_.clear();
        const double current = now();
        std::erase_if(sessions_, [&](const auto& item) { return !(item.second.exp > current); });
        // Copies are quick; turning a thousand accounts into text is not, so that is done
        // without the lock.
        const std::vector<TeamUser> users = users_;
        const std::map<std::string, Session> sessions = sessions_;
        const std::string team = cachedTeamName_;
        const auto accounts = teamFileForWriteLocked(accountsFile);
        const auto sessionFile = teamFileForWriteLocked(sessionsFile);
        hold.unlock();
        const bool accountsSaved = accounts && writeFileAtomically(*accounts, usersFileText(users, team), 0600);
        const bool sessionsSaved = sessionFile && writeFileAtomically(*sessionFile, sessionsFileText(sessions), 0600);
        const FileStamp accountsStamp = accountsSaved ? stampOf(accountsFile) : FileStamp{};
        const FileStamp sessionsStamp = sessionsSaved ? stampOf(sessionsFile) : FileStamp{};
        held.release();
        hold.lock();
        if (accountsSaved) stamps_[accountsFile] = accountsStamp;
        if (sessionsSaved) stamps_[sessionsFile] = sessionsStamp;
        signInsSaved_ = upTo;
        writingOutside_ = false;
        filesWritten_.notify_all();
    }
}

void TeamStore::dropExpired() {
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    saveSessionsLocked();
    saveResetsLocked();
}

void TeamStore::saveResetsLocked() {
    if (rootPath_.empty()) return;
    const double current = now();
    std::erase_if(resets_, [&](const auto& item) { return !(Fields(item.second).d("exp") > current); });
    json codes = json::object();
    for (const auto& [uid, entry] : resets_) codes[uid] = entry;
    writeTeamFileLocked(resetsFile, dumpJSON(json{{"codes", codes}}, -1));
}

}  // namespace corvane
