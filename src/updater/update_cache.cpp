#include "updater/update_cache.h"

#include <cstdlib>

#include <QUuid>

#include "base/cfg.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// An environment folder that is set and absolute (relative ones are ignored, as the XDG rules say).
std::optional<fs::path> folderFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::nullopt;
    return fs::path(value);
}

bool safeNameChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '_' ||
           c == '-';
}

}  // namespace

fs::path defaultUpdateCacheFolder() {
    const fs::path cache = folderFromEnvironment("XDG_CACHE_HOME").value_or(homeFolder() / ".cache");
    return cache / "CorvaneUpdate";
}

fs::path defaultTempFolder() { return folderFromEnvironment("TMPDIR").value_or("/tmp"); }

std::optional<std::string> packageFileName(const std::string& latest) {
    if (latest.empty() || latest == "." || latest == "..") return std::nullopt;
    for (const char c : latest) {
        if (!safeNameChar(c)) return std::nullopt;
    }
    return "Corvane-" + latest + ".zip";
}

std::optional<std::string> moveFileOnto(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return std::nullopt;
    if (ec != std::errc::cross_device_link) return ec.message();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        const std::string reason = ec.message();
        fs::remove(to, ec);
        return reason;
    }
    fs::remove(from, ec);
    return std::nullopt;
}

std::string newUUIDText() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(); }

}  // namespace corvane
