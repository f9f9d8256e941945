#include "storage/team_store.h"

#include <chrono>

#include "base/cfg.h"
#include "base/json_fields.h"
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
    return hasAdminLocked();
}

std::vector<TeamUser> TeamStore::allUsers() const {
    std::lock_guard hold(lock_);
    return users_;
}

std::optional<TeamUser> TeamStore::user(const std::string& id) const {
    std::lock_guard hold(lock_);
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

void TeamStore::loadLocked() {
    if (rootPath_.empty()) return;
    loadAccountsLocked();
    loadSessionsLocked();
    loadResetsLocked();
}

std::optional<json> TeamStore::readTeamObjectLocked(const char* name) {
    const FileRead file = readWholeFile(teamDirLocked() / name);
    if (!file.present) return std::nullopt;
    json doc = json::parse(file.bytes, nullptr, false);
    if (!file.readable || !doc.is_object()) {
        brokenFiles_.insert(name);
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

void TeamStore::loadAccountsLocked() {
    const auto doc = readTeamObjectLocked(accountsFile);
    if (!doc) return;
    cachedTeamName_ = Fields(*doc).s("team").value_or("");
    const auto users = doc->find("users");
    if (users == doc->end() || !isArrayOfObjects(*users)) {
        // One bad element would otherwise cost every account at the next save.
        brokenFiles_.insert(accountsFile);
        return;
    }
    for (const auto& element : *users) users_.push_back(TeamUser::fromJSON(element));
}

std::optional<json> TeamStore::readTeamSectionLocked(const char* name, const char* key) {
    const auto doc = readTeamObjectLocked(name);
    if (!doc) return std::nullopt;
    const auto section = doc->find(key);
    if (section == doc->end() || !section->is_object()) {
        brokenFiles_.insert(name);
        return std::nullopt;
    }
    return *section;
}

void TeamStore::loadSessionsLocked() {
    const auto sessions = readTeamSectionLocked(sessionsFile, "sessions");
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

void TeamStore::loadResetsLocked() {
    const auto codes = readTeamSectionLocked(resetsFile, "codes");
    if (!codes) return;
    const double current = now();
    for (const auto& [uid, entry] : codes->items()) {
        if (entry.is_object() && Fields(entry).d("exp") > current) resets_[uid] = entry;
    }
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
    if (file) writeFileAtomically(*file, bytes, 0600);  // a failed write leaves memory as the truth
}

void TeamStore::awaitSignInWriteLocked() {
    // Waiting lets the lock go, so the text is made only afterwards, from memory as it is then.
    filesWritten_.wait(lock_, [this] { return !writingOutside_; });
}

void TeamStore::saveUsersLocked() {
    awaitSignInWriteLocked();
    if (rootPath_.empty()) return;
    writeTeamFileLocked(accountsFile, usersFileText(users_, cachedTeamName_));
}

void TeamStore::saveSessionsLocked() {
    awaitSignInWriteLocked();
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
        writingOutside_ = true;
        const uint64_t upTo = signInsMade_;
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
        if (accounts) writeFileAtomically(*accounts, usersFileText(users, team), 0600);
        if (sessionFile) writeFileAtomically(*sessionFile, sessionsFileText(sessions), 0600);
        hold.lock();
        signInsSaved_ = upTo;
        writingOutside_ = false;
        filesWritten_.notify_all();
    }
}

void TeamStore::dropExpired() {
    std::lock_guard hold(lock_);
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
