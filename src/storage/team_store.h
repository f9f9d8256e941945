#pragma once
// The team's accounts, login sessions, password-reset codes and name, kept in the JSON files
// of "<root>/_team" ("accounts.json", "sessions.json", "resets.json"), plus the team logo
// "logo.img" beside them. Several servers may share the folder: memory is a copy of the
// files, read again when they changed, and every change is read, changed and written under
// the lock file "_team/.store.lock", so each server writes what the others wrote plus its own.

#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/refusal.h"
#include "storage/team_file_lock.h"
#include "storage/team_password.h"
#include "storage/team_user.h"

namespace corvane {

struct LoginResult {
    enum class Kind { ok, pending, bad };
    Kind kind = Kind::bad;
    std::string token;    // ok: the new session token
    TeamUser user;        // ok, pending
    std::string message;  // bad

    static LoginResult ok(std::string token, TeamUser user);
    static LoginResult pending(TeamUser user);
    static LoginResult bad(std::string message);
};

struct TeamRegResult {
    bool ok = false;
    TeamUser user;        // ok: the new pending account
    std::string message;  // not ok

    static TeamRegResult success(TeamUser user);
    static TeamRegResult fail(std::string message);
};

class TeamStore {
public:
    using Clock = std::function<double()>;                    // seconds since 1970
    using LogSink = std::function<void(const std::string&)>;  // one boot-log line
    // Derives the stored data of a new password; slow, so never called with the lock held.
    using RecordMaker = std::function<PasswordRecord(const std::string&)>;
    // Checks a candidate password against stored data; as slow, and as free of the lock.
    using PasswordChecker = std::function<PasswordCheck(const std::string&, const PasswordRecord&)>;

    struct Session {
        std::string uid;
        double exp = 0;  // seconds since 1970
    };

    // One issued reset code, handed to the mailer only.
    struct ResetTicket {
        std::string uid, name, user, email, code;
    };

    // What a reset with a code came to. A refusal says whether a wrong code was compared:
    // the one kind of refusal the routes count per account.
    class [[nodiscard]] ResetOutcome : public Outcome {
    public:
        using Outcome::Outcome;
        static ResetOutcome wrongCode(std::string text);
        bool isWrongCode() const { return wrongCode_; }

    private:
        bool wrongCode_ = false;
    };

    static constexpr double sessionTTL = 604800;           // 7 days, never extended
    static constexpr size_t maxSessionsPerUser = 100;      // the oldest go first
    static constexpr double resetLifetime = 900;
    static constexpr double resetResendGuard = 60;
    static constexpr int64_t resetMaxCompares = 6;
    static constexpr size_t logoMaxBytes = 1500000;

    // The clock, the log line writer and the password derivation and check are passed in;
    // the shared store uses the system clock, the boot log, `makePasswordRecord` and
    // `checkPassword`.
    explicit TeamStore(Clock clock = systemClock(), LogSink log = defaultLog(),
                       RecordMaker makeRecord = makePasswordRecord, PasswordChecker check = checkPassword);
    TeamStore(const TeamStore&) = delete;
    TeamStore& operator=(const TeamStore&) = delete;

    static TeamStore& shared();
    static Clock systemClock();
    static LogSink defaultLog();

    // ---- Root, files and queries ----

    // Loads the team files of a new root; the same root again keeps memory as it is.
    void bind(const std::filesystem::path& root);
    // The bound root ("" when unbound), read under the lock.
    std::string rootPath() const;
    // Creates "_team", "_shared" and "_users" under the root; failures are ignored.
    void prepareDirs() const;
    // The personal space of an account id, when the id is a clean folder name.
    std::optional<std::filesystem::path> userFolder(const std::string& id) const;

    int pendingCount() const;
    bool hasAdmin() const;
    std::vector<TeamUser> allUsers() const;
    std::optional<TeamUser> user(const std::string& id) const;

    // Drops the expired sessions and reset codes and writes "sessions.json" and "resets.json" again.
    void dropExpired();

    // ---- Accounts, approval and sessions ----

    std::optional<TeamUser> createAdmin(const std::string& name, const std::string& pass, const std::string& team);
    TeamRegResult registerUser(const std::string& user, const std::string& name, const std::string& pass,
                               const std::string& note, const std::string& email);
    LoginResult login(const std::string& user, const std::string& pass);
    void logout(const std::string& token);
    std::optional<TeamUser> userForToken(const std::string& token) const;
    bool setStatus(const std::string& id, const std::string& status);
    bool removeUser(const std::string& id);
    Outcome changePassword(const std::string& id, const std::string& oldPass, const std::string& newPass);
    Outcome setEmail(const std::string& id, const std::string& email);
    // The new temporary password; refused when no account has that id.
    Result<std::string> adminReset(const std::string& id);

    // ---- Password reset codes ----

    // The id of the account a reset names (login name or bound address, in any case), the
    // one that issueReset and resetWithCode find.
    std::optional<std::string> resetAccountId(const std::string& account) const;
    std::optional<ResetTicket> issueReset(const std::string& account);
    ResetOutcome resetWithCode(const std::string& account, const std::string& code, const std::string& newPass);

    // ---- Team name and logo ----

    std::string teamName() const;
    void setTeamName(const std::string& name);
    int64_t logoStamp() const;
    bool hasLogo() const;
    // The stored logo's bytes, read whole under the lock; "" when there is none.
    std::string logoBytes() const;
    Outcome saveLogo(std::string_view bytes);
    void clearLogo();

private:
    // A team file as last read or written: a change of any field means another writer.
    struct FileStamp {
        bool present = false;
        uint64_t dev = 0, ino = 0;
        int64_t size = 0, mtimeNs = 0, ctimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    struct PendingSignIn {
        std::string token;
        Session session;
        double lastLogin = 0;
    };

    // Reads the team files again that changed since they were last read or written.
    void refreshLocked() const;
    // Reads every team file again.
    void reloadLocked() const;
    // Starts a change: waits for a sign-in's write, takes the team files' lock and reads the
    // files again, so the change is made to what is on disk now. The change is saved and
    // the lock let go before the returned lock goes.
    TeamFileLock beginChangeLocked();
    TeamFileLock lockFilesLocked() const;
    // Puts the sign-ins not yet written into memory again after a read of the files.
    void applyPendingSignInsLocked() const;
    void loadLocked();
    void saveUsersLocked();
    void saveSessionsLocked();
    void saveResetsLocked();
    // Saves "accounts.json" and "sessions.json" after a sign-in. Sign-ins at the same time
    // save together: one writes the files without the lock for every sign-in made until
    // then, the others wait for that write; each returns once its own sign-in is on disk.
    void saveSignInLocked(std::unique_lock<std::mutex>& hold);
    // Waits until no sign-in's write is under way, so that no older copy of "accounts.json"
    // or "sessions.json" lands after the one about to be written.
    void awaitSignInWriteLocked() const;
    // Gives users_[index] the derived data of its new password; saves nothing itself.
    void applyNewPasswordLocked(size_t index, const PasswordRecord& record);

    // An account found and its password checked without the lock held during the
    // derivation; `hold` owns the lock again when this is returned.
    struct CheckedAccount {
        std::unique_lock<std::mutex> hold;
        std::optional<size_t> index;
        PasswordCheck check = PasswordCheck::mismatch;
        TeamUser checked;  // the account as its password was checked
    };
    CheckedAccount checkOutsideLock(const std::function<std::optional<size_t>()>& find, const std::string& pass);
    // The record a sign-in with an unknown name is checked against; made once, lazily, by
    // the store's own maker, so its rounds and key length are those of a real account.
    const PasswordRecord& unknownNameRecord();

    double now() const { return clock_(); }
    double nowMillis() const { return clock_() * 1000; }
    std::filesystem::path teamDirLocked() const;
    std::filesystem::path logoFileLocked() const;

    // A team file's object; none when the file is missing. `keep` is set when memory should
    // stay as it is: the file is damaged (and kept aside before its next save) or the
    // storage could not be read.
    std::optional<nlohmann::json> readTeamObjectLocked(const char* name, bool& keep) const;
    std::optional<nlohmann::json> readTeamSectionLocked(const char* name, const char* key, bool& keep) const;
    void loadAccountsLocked() const;
    void loadSessionsLocked() const;
    void loadResetsLocked() const;
    FileStamp stampOf(const char* name) const;
    void writeTeamFileLocked(const char* name, const std::string& bytes);
    // Where a team file is written, its folder made and a damaged copy kept aside first;
    // none while unbound.
    std::optional<std::filesystem::path> teamFileForWriteLocked(const char* name);

    bool hasAdminLocked() const;
    std::optional<size_t> indexOfIdLocked(const std::string& id) const;
    std::optional<size_t> indexOfLoginLocked(const std::string& lowered) const;
    std::optional<size_t> indexOfAccountLocked(const std::string& lowered) const;
    std::string newUserIdLocked() const;
    void dropSessionsLocked(const std::string& uid);
    void boundSessionsLocked(const std::string& uid) const;

    Clock clock_;
    LogSink log_;
    RecordMaker makeRecord_;
    PasswordChecker check_;
    std::once_flag unknownNameOnce_;
    PasswordRecord unknownNameRecord_;
    mutable std::mutex lock_;
    std::string rootPath_;
    // The copy of the files; a query reads a changed file again first, hence mutable.
    mutable std::vector<TeamUser> users_;
    mutable std::map<std::string, Session> sessions_;
    mutable std::map<std::string, nlohmann::json> resets_;
    mutable std::string cachedTeamName_;
    mutable std::set<std::string> brokenFiles_;  // loaded files that failed; kept aside before their first save
    mutable std::map<std::string, FileStamp> stamps_;  // per team file
    std::vector<PendingSignIn> pendingSignIns_;  // made, not yet written
    mutable std::condition_variable_any filesWritten_;  // with lock_: a write outside the lock ended
    bool writingOutside_ = false;  // a sign-in's write is under way; other changes wait for it
    uint64_t signInsMade_ = 0;
    uint64_t signInsSaved_ = 0;
};

}  // namespace corvane
