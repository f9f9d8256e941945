// Accounts, approval and sessions of the team store.

#include <algorithm>
#include <regex>

#include "base/unicode_text.h"
#include "storage/team_crypto.h"
#include "storage/team_password.h"
#include "storage/team_store.h"
#include "storage/team_text.h"

namespace corvane {

namespace {
const char* const msgUserName = "用户名 3-20 位，只能英文、数字、下划线";
const char* const msgPasswordShort = "密码至少 6 位";
const char* const msgEmailFormat = "邮箱格式不对";
const char* const msgNoTeam = "中心设备还没启用团队空间";
const char* const msgNameTaken = "这个用户名已被占用";
const char* const msgEmailTaken = "这个邮箱已经被别的账号绑定";
const char* const msgWrongLogin = "用户名或密码不对";
const char* const msgDamaged = "账号数据损坏";
const char* const msgBlocked = "这个账号已被停用";
const char* const msgNoAccount = "账号不存在";
const char* const msgWrongOld = "原密码不对";

constexpr size_t noteLength = 80;
constexpr int tokenBytes = 24;
constexpr size_t minTokenLength = 16;
constexpr int passwordCheckAttempts = 3;
// Easy to read aloud: no I, O, 0 or 1.
constexpr const char* tempAlphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";

bool validUserName(const std::string& name) {
    static const std::regex allowed("^[A-Za-z0-9_.-]+$");
    const size_t length = graphemeCount(name);
    return length >= 3 && length <= 20 && std::regex_match(name, allowed);
}

PasswordRecord recordOf(const TeamUser& u) { return PasswordRecord{u.salt, u.hash, u.iter}; }
}  // namespace

std::string TeamStore::newUserIdLocked() const {
    for (;;) {
        const std::string id = "u" + teamRandomHex(6);
        if (!indexOfIdLocked(id)) return id;
    }
}

void TeamStore::dropSessionsLocked(const std::string& uid) {
    std::erase_if(sessions_, [&](const auto& item) { return item.second.uid == uid; });
}

void TeamStore::boundSessionsLocked(const std::string& uid) const {
    const double current = now();
    std::vector<std::pair<double, std::string>> live;
    for (const auto& [token, s] : sessions_) {
        if (s.uid == uid && s.exp > current) live.emplace_back(s.exp, token);
    }
    if (live.size() <= maxSessionsPerUser) return;
    // Every session lives equally long, so the earliest expiry is the oldest login.
    std::sort(live.begin(), live.end());
    for (size_t i = 0; i + maxSessionsPerUser < live.size(); ++i) sessions_.erase(live[i].second);
}

TeamStore::CheckedAccount TeamStore::checkOutsideLock(const std::function<std::optional<size_t>()>& find,
                                                      const std::string& pass) {
    for (int attempt = 0; attempt < passwordCheckAttempts; ++attempt) {
        std::unique_lock hold(lock_);
        refreshLocked();
        auto index = find();
        if (!index) return CheckedAccount{std::move(hold), std::nullopt, PasswordCheck::mismatch, {}};
        const TeamUser before = users_[*index];
        hold.unlock();
        // The 120,000 rounds run without the lock so that other team requests go on.
        const PasswordCheck check = check_(pass, recordOf(before));
        hold.lock();
        index = find();
        if (!index) return CheckedAccount{std::move(hold), std::nullopt, PasswordCheck::mismatch, {}};
        if (users_[*index].samePasswordAs(before)) return CheckedAccount{std::move(hold), index, check, before};
        // The password changed meanwhile: check against the new one.
    }
    std::unique_lock hold(lock_);
    return CheckedAccount{std::move(hold), find(), PasswordCheck::mismatch, {}};
}

const PasswordRecord& TeamStore::unknownNameRecord() {
    std::call_once(unknownNameOnce_, [this] { unknownNameRecord_ = makeRecord_(teamRandomHex(16)); });
    return unknownNameRecord_;
}

std::optional<TeamUser> TeamStore::createAdmin(const std::string& name, const std::string& pass,
                                               const std::string& team) {
    const PasswordRecord record = makeRecord_(pass);
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    if (hasAdminLocked()) return std::nullopt;
    TeamUser admin;
    admin.id = newUserIdLocked();
    admin.user = "admin";
    admin.name = name.empty() ? "群主" : name;
    admin.salt = record.salt;
    admin.hash = record.hash;
    admin.iter = record.iter;
    admin.role = "admin";
    admin.status = "active";
    admin.created = nowMillis();
    admin.approvedAt = admin.created;
    users_.push_back(admin);
    if (!team.empty()) cachedTeamName_ = team;
    if (cachedTeamName_.empty()) cachedTeamName_ = name + " 的团队";
    saveUsersLocked();
    return admin;
}

TeamRegResult TeamStore::registerUser(const std::string& user, const std::string& name, const std::string& pass,
                                      const std::string& note, const std::string& email) {
    const std::string login = trimWhitespace(user);
    if (!validUserName(login)) return TeamRegResult::fail(msgUserName);
    if (graphemeCount(pass) < teamMinPassword) return TeamRegResult::fail(msgPasswordShort);
    const std::string mail = lowerText(trimWhitespace(email));
    if (!mail.empty() && !teamValidEmail(mail)) return TeamRegResult::fail(msgEmailFormat);
    // The new key depends only on the arguments; deriving it before the lock keeps a burst
    // of registrations from stalling every other team request.
    const PasswordRecord record = makeRecord_(pass);

    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    if (!hasAdminLocked()) return TeamRegResult::fail(msgNoTeam);
    if (indexOfLoginLocked(lowerText(login))) return TeamRegResult::fail(msgNameTaken);
    if (!mail.empty()) {
        for (const auto& u : users_) {
            if (lowerText(u.email) == mail) return TeamRegResult::fail(msgEmailTaken);
        }
    }
    TeamUser account;
    account.id = newUserIdLocked();
    account.user = login;
    const std::string display = trimWhitespace(name);
    account.name = display.empty() ? login : display;
    account.role = "member";
    account.status = "pending";
    account.created = nowMillis();
    account.note = graphemePrefix(note, noteLength);
    account.email = mail;
    users_.push_back(account);
    applyNewPasswordLocked(users_.size() - 1, record);
    saveUsersLocked();
    return TeamRegResult::success(account);
}

LoginResult TeamStore::login(const std::string& user, const std::string& pass) {
    const std::string wanted = lowerText(trimSpacesTabs(user));
    CheckedAccount found = checkOutsideLock([&] { return indexOfLoginLocked(wanted); }, pass);
    if (!found.index) {
        found.hold.unlock();
        // An unknown name costs the same derivation as a wrong password, so the time of
        // the answer does not tell which names exist.
        (void)check_(pass, unknownNameRecord());
        return LoginResult::bad(msgWrongLogin);
    }
    if (found.check == PasswordCheck::damaged) return LoginResult::bad(msgDamaged);
    if (found.check != PasswordCheck::match) return LoginResult::bad(msgWrongLogin);
    const TeamUser& account = users_[*found.index];
    if (account.status == "pending") return LoginResult::pending(account);
    if (account.status == "blocked") return LoginResult::bad(msgBlocked);
    const std::string token = teamRandomHex(tokenBytes);
    // Kept aside until written, so that a read of the files meanwhile does not lose it.
    pendingSignIns_.push_back(PendingSignIn{token, Session{account.id, now() + sessionTTL}, nowMillis()});
    applyPendingSignInsLocked();
    const TeamUser signedIn = account;  // the reference may not outlive the save's unlocked write
    saveSignInLocked(found.hold);
    return LoginResult::ok(token, signedIn);
}

void TeamStore::logout(const std::string& token) {
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    sessions_.erase(token);
    saveSessionsLocked();
}

std::optional<TeamUser> TeamStore::userForToken(const std::string& token) const {
    if (graphemeCount(token) < minTokenLength) return std::nullopt;
    std::lock_guard hold(lock_);
    refreshLocked();
    const auto session = sessions_.find(token);
    if (session == sessions_.end() || !(session->second.exp > now())) return std::nullopt;
    const auto index = indexOfIdLocked(session->second.uid);
    if (!index || users_[*index].status != "active") return std::nullopt;
    return users_[*index];
}

bool TeamStore::setStatus(const std::string& id, const std::string& status) {
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    const auto index = indexOfIdLocked(id);
    if (!index) return false;
    TeamUser& account = users_[*index];
    if (account.isAdmin() && status != "active") return false;
    account.status = status;
    if (status == "active" && account.approvedAt == 0) account.approvedAt = nowMillis();
    if (status != "active") dropSessionsLocked(id);
    saveUsersLocked();
    saveSessionsLocked();
    return true;
}

bool TeamStore::removeUser(const std::string& id) {
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    const auto index = indexOfIdLocked(id);
    if (!index || users_[*index].isAdmin()) return false;
    users_.erase(users_.begin() + std::ptrdiff_t(*index));
    dropSessionsLocked(id);
    saveUsersLocked();
    saveSessionsLocked();
    return true;
}

Outcome TeamStore::changePassword(const std::string& id, const std::string& oldPass, const std::string& newPass) {
    if (graphemeCount(newPass) < teamMinPassword) return Refusal{teamNewPasswordShort};
    const PasswordRecord record = makeRecord_(newPass);
    CheckedAccount found = checkOutsideLock([&] { return indexOfIdLocked(id); }, oldPass);
    if (!found.index) return Refusal{msgNoAccount};
    if (found.check == PasswordCheck::damaged) return Refusal{msgDamaged};
    if (found.check != PasswordCheck::match) return Refusal{msgWrongOld};
    const TeamFileLock held = beginChangeLocked();
    // Read again under the files' lock: the account may have gone or changed on another server.
    const auto index = indexOfIdLocked(id);
    if (!index) return Refusal{msgNoAccount};
    if (!users_[*index].samePasswordAs(found.checked)) return Refusal{msgWrongOld};
    applyNewPasswordLocked(*index, record);
    saveUsersLocked();
    return {};
}

Outcome TeamStore::setEmail(const std::string& id, const std::string& email) {
    const std::string mail = lowerText(trimWhitespace(email));
    if (!mail.empty() && !teamValidEmail(mail)) return Refusal{msgEmailFormat};
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    const auto index = indexOfIdLocked(id);
    if (!index) return Refusal{msgNoAccount};
    if (!mail.empty()) {
        for (const auto& u : users_) {
            if (u.id != id && lowerText(u.email) == mail) return Refusal{msgEmailTaken};
        }
    }
    users_[*index].email = mail;
    saveUsersLocked();
    return {};
}

Result<std::string> TeamStore::adminReset(const std::string& id) {
    std::unique_lock hold(lock_);
    refreshLocked();
    auto index = indexOfIdLocked(id);
    if (!index) return Refusal{msgNoAccount};
    const TeamUser before = users_[*index];
    hold.unlock();
    // The 120,000 rounds run without the lock so that other team requests go on.
    const std::string temporary = "qp" + teamRandomChars(tempAlphabet, 8);
    const PasswordRecord record = makeRecord_(temporary);
    hold.lock();
    const TeamFileLock held = beginChangeLocked();
    index = indexOfIdLocked(id);
    // Removed or given another password meanwhile: this reset no longer applies.
    if (!index || !users_[*index].samePasswordAs(before)) return Refusal{msgNoAccount};
    applyNewPasswordLocked(*index, record);
    resets_.erase(id);
    dropSessionsLocked(id);
    saveUsersLocked();
    saveSessionsLocked();
    saveResetsLocked();
    return temporary;
}

}  // namespace corvane
