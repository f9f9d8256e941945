#include "storage/mail_settings.h"

#include <filesystem>

#include "base/unicode_text.h"
#include "base/whole_files.h"
#include "storage/team_store.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

fs::path mailFile(const std::string& root) { return fs::path(root) / "_team" / "mail.json"; }

void readString(const nlohmann::json& obj, const char* key, std::string& field) {
    const auto it = obj.find(key);
    if (it != obj.end() && it->is_string()) field = it->get<std::string>();
}

}  // namespace

MailConfig MailStore::load() const {
    MailConfig config;
    const std::string root = store_.rootPath();
    if (root.empty()) return config;
    const FileRead file = readWholeFile(mailFile(root));
    if (!file.readable) return config;
    const nlohmann::json obj = nlohmann::json::parse(file.bytes, nullptr, false);
    if (!obj.is_object()) return config;
    readString(obj, "host", config.host);
    readString(obj, "user", config.user);
    readString(obj, "pass", config.pass);
    readString(obj, "from", config.from);
    readString(obj, "senderName", config.senderName);
    if (const auto port = obj.find("port"); port != obj.end() && port->is_number_integer()) {
        config.port = port->get<int64_t>();
    }
    if (const auto tls = obj.find("tls"); tls != obj.end() && tls->is_boolean()) config.tls = tls->get<bool>();
    return config;
}

void MailStore::save(const MailConfig& config) const {
    const std::string root = store_.rootPath();
    if (root.empty()) return;
    const nlohmann::json obj{{"host", config.host}, {"port", config.port},   {"user", config.user},
                             {"pass", config.pass}, {"from", config.from},   {"tls", config.tls},
                             {"senderName", config.senderName}};
    std::string bytes;
    try {
        bytes = obj.dump(2);
    } catch (const nlohmann::json::exception&) {
        return;  // text that is not UTF-8
    }
    std::error_code ec;
    fs::create_directories(fs::path(root) / "_team", ec);
    (void)writeFileAtomically(mailFile(root), bytes, 0600);
}

TeamFileLock MailStore::lockFile() const {
    const std::string root = store_.rootPath();
    if (root.empty()) return TeamFileLock{};
    return TeamFileLock(fs::path(root) / "_team", ".mail.lock");
}

nlohmann::json MailStore::publicView(const MailConfig& config) {
    return nlohmann::json{{"host", config.host},
                          {"port", config.port},
                          {"user", config.user},
                          {"from", config.from},
                          {"tls", config.tls},
                          {"senderName", config.senderName},
                          {"hasPass", !config.pass.empty()},
                          {"enabled", config.enabled()},
                          {"configured", !config.host.empty()}};
}

std::string maskMail(const std::string& address) {
    const size_t at = address.find('@');
    if (at == std::string::npos) return address;
    const std::string local = address.substr(0, at);
    const size_t count = graphemeCount(local);
    const size_t kept = count > 2 ? 2 : (count == 2 ? 1 : count);
    return graphemePrefix(local, kept) + "***" + address.substr(at);
}

}  // namespace corvane
