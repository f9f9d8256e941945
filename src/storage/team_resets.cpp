// Password reset codes of the team store: one six-digit code per account, kept only as a
// hash for 15 minutes, at most six guesses.

#include <algorithm>

#include "base/json_fields.h"
#include "base/unicode_text.h"
#include "storage/team_crypto.h"
#include "storage/team_password.h"
#include "storage/team_store.h"
#include "storage/team_text.h"

using nlohmann::json;

namespace corvane {

namespace {
const char* const msgCodeFormat = "验证码是 6 位数字";
const char* const msgNoMatch = "账号或验证码不对";
const char* const msgNoCode = "验证码已失效，请重新获取";
const char* const msgExpired = "验证码已过期，请重新获取";
const char* const msgTooMany = "错误次数太多，请重新获取验证码";

constexpr size_t codeLength = 6;

std::string codeHash(const std::string& uid, const std::string& code) { return teamSHA256(uid + ":" + code); }

// The same issued code: a later issue replaces "hash" and "sent"; wrong guesses only count "tries".
bool sameIssue(const json& a, const json& b) {
    return a.value("hash", json()) == b.value("hash", json()) && a.value("sent", json()) == b.value("sent", json());
}
}  // namespace

void TeamStore::applyNewPasswordLocked(size_t index, const PasswordRecord& record) {
    if (index >= users_.size()) return;
    users_[index].salt = record.salt;
    users_[index].hash = record.hash;
    users_[index].iter = record.iter;
}

TeamStore::ResetOutcome TeamStore::ResetOutcome::wrongCode(std::string text) {
    ResetOutcome outcome{Refusal{std::move(text)}};
    outcome.wrongCode_ = true;
    return outcome;
}

std::optional<std::string> TeamStore::resetAccountId(const std::string& account) const {
    std::lock_guard hold(lock_);
    refreshLocked();
    const auto index = indexOfAccountLocked(lowerText(trimWhitespace(account)));
    if (!index) return std::nullopt;
    return users_[*index].id;
}

std::optional<TeamStore::ResetTicket> TeamStore::issueReset(const std::string& account) {
    const std::string wanted = lowerText(trimWhitespace(account));
    if (wanted.empty()) return std::nullopt;
    std::lock_guard hold(lock_);
    const TeamFileLock held = beginChangeLocked();
    const auto index = indexOfAccountLocked(wanted);
    if (!index) return std::nullopt;
    const TeamUser& u = users_[*index];
    if (u.status == "blocked" || u.email.empty()) return std::nullopt;
    const double current = now();
    if (const auto old = resets_.find(u.id); old != resets_.end()) {
        const auto sent = old->second.find("sent");
        // Asked again too soon: the earlier code stays valid.
        if (sent != old->second.end() && sent->is_number() && current < sent->get<double>() + resetResendGuard) {
            return std::nullopt;
        }
    }
    const std::string code = teamRandomChars("0123456789", int(codeLength));
    resets_[u.id] = json{{"hash", codeHash(u.id, code)}, {"exp", current + resetLifetime}, {"tries", 0}, {"sent", current}};
    saveResetsLocked();
    return ResetTicket{u.id, u.name, u.user, u.email, code};
}

TeamStore::ResetOutcome TeamStore::resetWithCode(const std::string& account, const std::string& code, const std::string& newPass) {
    const std::string pass = trimWhitespace(newPass);
    if (graphemeCount(pass) < teamMinPassword) return Refusal{teamNewPasswordShort};
    const std::string typed = trimWhitespace(code);
    if (graphemeCount(typed) != codeLength) return Refusal{msgCodeFormat};

    std::unique_lock hold(lock_);
    TeamFileLock held = beginChangeLocked();
    const auto index = indexOfAccountLocked(lowerText(trimWhitespace(account)));
    if (!index) return Refusal{msgNoMatch};
    const std::string uid = users_[*index].id;
    const auto found = resets_.find(uid);
    if (found == resets_.end()) return Refusal{msgNoCode};
    json& entry = found->second;
    const auto exp = entry.find("exp");
    if (exp == entry.end() || !exp->is_number() || !(exp->get<double>() > now())) {
        resets_.erase(found);
        saveResetsLocked();
        return Refusal{msgExpired};
    }
    const int64_t attempt = std::max<int64_t>(Fields(entry).i("tries"), 0) + 1;
    if (attempt > resetMaxCompares) {
        resets_.erase(found);
        saveResetsLocked();
        return Refusal{msgTooMany};
    }
    const std::string stored = Fields(entry).s("hash").value_or("");
    if (!constantTimeEqual(codeHash(uid, typed), stored)) {
        // Counted on disk before the reply, so a restart does not give fresh tries.
        entry["tries"] = attempt;
        saveResetsLocked();
        return ResetOutcome::wrongCode("验证码不对，还可试 " + std::to_string(resetMaxCompares - attempt) + " 次");
    }
    const TeamUser before = users_[*index];
    const json issued = entry;
    held.release();
    hold.unlock();
    // The 120,000 rounds run without the lock so that other team requests go on; then the
    // account and its code must still be the ones checked.
    const PasswordRecord record = makeRecord_(pass);
    hold.lock();
    held = beginChangeLocked();
    const auto current = indexOfIdLocked(uid);
    if (!current || !users_[*current].samePasswordAs(before)) return Refusal{msgNoMatch};
    const auto still = resets_.find(uid);
    if (still == resets_.end() || !sameIssue(still->second, issued)) return Refusal{msgNoCode};
    applyNewPasswordLocked(*current, record);
    resets_.erase(still);
    dropSessionsLocked(uid);
    saveUsersLocked();
    saveSessionsLocked();
    saveResetsLocked();
    return {};
}

}  // namespace corvane
