#include "base/cfg.h"

#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include "base/unique_fd.h"
#include "base/whole_files.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION ""
#endif

namespace fs = std::filesystem;

namespace corvane {

const std::string& Cfg::version() {
    static const std::string v = std::string(CORVANE_VERSION).empty() ? "0.0.0" : CORVANE_VERSION;
    return v;
}

fs::path homeFolder() {
    if (const char* home = getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

static fs::path dataHome() {
    if (const char* xdg = getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/') return xdg;
    return homeFolder() / ".local" / "share";
}

fs::path Cfg::appSupportIn(const fs::path& base) {
    const fs::path current = base / "Corvane";
    const fs::path earlier = base / "Quillpath";
    std::error_code ec;
    if (!fs::exists(current, ec) && fs::exists(earlier, ec)) {
        fs::rename(earlier, current, ec);  // a failed move is ignored
    }
    return current;
}

const fs::path& Cfg::appSupport() {
    static const fs::path p = appSupportIn(dataHome());
    return p;
}

void bootLogIn(const fs::path& folder, const std::string& message) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16] = {};
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    const std::string line = std::string(stamp) + "  " + message + "\n";
    const fs::path file = folder / "boot.log";
    const UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (fd) writeFully(fd.get(), line);
}

void bootLog(const std::string& message) { bootLogIn(Cfg::appSupport(), message); }

}  // namespace corvane
