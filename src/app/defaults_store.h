#pragma once
// The application's user defaults: a small JSON object in defaults.json, kept
// in memory and written through atomically on every change. Safe to use from
// any thread (the route gate reads "nasExt" on connection threads).

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane {

class DefaultsStore {
public:
    // Loads the file (a missing or unreadable one counts as empty).
    explicit DefaultsStore(std::filesystem::path file);
    // $XDG_CONFIG_HOME/Corvane/defaults.json, default ~/.config/Corvane/defaults.json.
    static std::filesystem::path standardPath();

    // true for a stored true or a non-zero number; false when absent.
    bool boolValue(const std::string& key) const;
    void setBool(const std::string& key, bool value);
    std::optional<std::string> stringValue(const std::string& key) const;
    void setString(const std::string& key, const std::string& value);

    const std::filesystem::path& file() const { return file_; }

private:
    void save();  // with lock_ held

    const std::filesystem::path file_;
    mutable std::mutex lock_;
    nlohmann::json values_ = nlohmann::json::object();
};

}  // namespace corvane
