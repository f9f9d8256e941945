#pragma once
// The outgoing mail server's settings ("<root>/_team/mail.json"), their public view
// without the password, and the masked form of an address shown to a member.

#include <string>

#include <nlohmann/json.hpp>

#include "storage/team_file_lock.h"

namespace corvane {

class TeamStore;

struct MailConfig {
    std::string host;
    int64_t port = 465;
    std::string user;
    std::string pass;  // often a provider's app password; kept in plain text in mail.json
    std::string from;  // the sender address; `user` when empty
    bool tls = true;   // TLS from the first byte; false: STARTTLS on a plain connection
    std::string senderName = "Corvane";

    bool enabled() const { return !host.empty() && !user.empty() && !pass.empty(); }
    // The envelope and header sender.
    const std::string& sender() const { return from.empty() ? user : from; }
};

// mail.json in the team folder of the store's root, read afresh on every use.
class MailStore {
public:
    explicit MailStore(const TeamStore& store) : store_(store) {}

    // The saved settings; every missing, mistyped or unreadable field reads as its default
    // (all defaults when the store is unbound).
    MailConfig load() const;
    // Writes mail.json atomically with mode 0600; failures are ignored, and nothing is
    // written while the store is unbound.
    void save(const MailConfig& config) const;
    // The lock of mail.json across the servers sharing the folder, held from a load to the
    // save of what was changed in it.
    TeamFileLock lockFile() const;

    // The settings without the password, with "hasPass", "enabled" and "configured".
    static nlohmann::json publicView(const MailConfig& config);

private:
    const TeamStore& store_;
};

// "ab***@example.com": the first 2 characters of a longer local part, 1 of a two-character
// one, a shorter one whole; text without "@" unchanged.
std::string maskMail(const std::string& address);

}  // namespace corvane
