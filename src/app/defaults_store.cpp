#include "app/defaults_store.h"

#include <cstdlib>

#include "base/cfg.h"
#include "base/whole_files.h"
#include "storage/team_files.h"

namespace fs = std::filesystem;

namespace corvane {

DefaultsStore::DefaultsStore(fs::path file) : file_(std::move(file)) {
    const FileRead stored = readWholeFile(file_);
    if (!stored.readable) return;
    nlohmann::json doc = nlohmann::json::parse(stored.bytes, nullptr, false);
    if (!doc.is_discarded() && doc.is_object()) values_ = std::move(doc);
}

fs::path DefaultsStore::standardPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const fs::path base = (xdg && xdg[0] == '/') ? fs::path(xdg) : homeFolder() / ".config";
    return base / "Corvane" / "defaults.json";
}

bool DefaultsStore::boolValue(const std::string& key) const {
    std::lock_guard guard(lock_);
    const auto it = values_.find(key);
    if (it == values_.end()) return false;
    if (it->is_boolean()) return it->get<bool>();
    if (it->is_number()) return it->get<double>() != 0;
    return false;
}

void DefaultsStore::setBool(const std::string& key, bool value) {
    std::lock_guard guard(lock_);
    values_[key] = value;
    save();
}

std::optional<std::string> DefaultsStore::stringValue(const std::string& key) const {
    std::lock_guard guard(lock_);
    const auto it = values_.find(key);
    if (it == values_.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

void DefaultsStore::setString(const std::string& key, const std::string& value) {
    std::lock_guard guard(lock_);
    values_[key] = value;
    save();
}

void DefaultsStore::save() {
    std::error_code ec;
    fs::create_directories(file_.parent_path(), ec);
    writeWholeFile(file_, values_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));  // a failed write keeps the value for this run
}

}  // namespace corvane
