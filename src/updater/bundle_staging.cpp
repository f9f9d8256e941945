#include "updater/bundle_staging.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "updater/package_unpack.h"
#include "updater/update_cache.h"

extern char** environ;

namespace fs = std::filesystem;

namespace corvane {

namespace {

const char* const kNotABundle = "当前不是以 App 方式运行，请到下载页手动更新";
const char* const kNotWritable =
    "App 所在目录没有写权限。把「Corvane」拖到桌面或「应用程序」后再更新，或到下载页手动下载";
const char* const kNoBundleInside = "安装包内容异常（没找到 .app）";

bool endsWithApp(const std::string& name) { return name.size() >= 4 && name.compare(name.size() - 4, 4, ".app") == 0; }

// Removes a folder when the staging ends, whichever way it ends.
class RemovedAtEnd {
public:
    explicit RemovedAtEnd(fs::path folder) : folder_(std::move(folder)) {}
    ~RemovedAtEnd() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    RemovedAtEnd(const RemovedAtEnd&) = delete;
    RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;

private:
    fs::path folder_;
};

// The first top-level folder (by name) whose name ends in ".app".
std::optional<fs::path> firstBundleIn(const fs::path& folder) {
    std::vector<fs::path> bundles;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (endsWithApp(it->path().filename().string()) && it->symlink_status().type() == fs::file_type::directory) {
            bundles.push_back(it->path());
        }
    }
    if (bundles.empty()) return std::nullopt;
    return *std::min_element(bundles.begin(), bundles.end());
}

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

}  // namespace

std::optional<fs::path> bundleOfExecutable(const fs::path& executable) {
    const fs::path bin = executable.parent_path();
    if (bin.filename() != "bin") return std::nullopt;
    const fs::path bundle = bin.parent_path();
    if (!endsWithApp(bundle.filename().string())) return std::nullopt;
    return bundle;
}

std::optional<UpdateError> runTool(const std::string& tool, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) return UpdateError{tool + ": " + std::strerror(rc)};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return UpdateError{tool + ": " + std::strerror(errno)};
    }
    // A tool ended by a signal reports 128 plus the signal, as a shell does.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code == 0) return std::nullopt;
    return UpdateError{"系统命令执行失败（" + tool + " 返回 " + std::to_string(code) + "）"};
}

std::optional<UpdateError> stageAndSwap(const StagingRequest& request) {
    const std::optional<fs::path> app = bundleOfExecutable(request.executable);
    if (!app) return UpdateError{kNotABundle};
    const fs::path parent = app->parent_path();
    if (::access(parent.c_str(), W_OK) != 0) return UpdateError{kNotWritable};

    const fs::path unpack = request.tempFolder / ("corvane-unzip-" + newUUIDText());
    std::error_code ec;
    fs::create_directories(unpack, ec);
    if (ec) return UpdateError{unpack.string() + ": " + ec.message()};
    const RemovedAtEnd unpackGoes(unpack);

    if (auto failed = unpackPackage(request.package, unpack)) return failed;
    const std::optional<fs::path> bundle = firstBundleIn(unpack);
    if (!bundle) return UpdateError{kNoBundleInside};

    const fs::path staged = parent / ".Corvane-new.app";
    const fs::path old = parent / ".Corvane-old.app";
    removeQuietly(staged);
    removeQuietly(old);
    // cp -a keeps modes, times and symlinks, and copies across file systems.
    if (auto failed = runTool("/bin/cp", {"-a", "--", bundle->string(), staged.string()})) return failed;
    // Gone before the swap starts: the script ends this process soon after, and a
    // removal still running on this thread would leave the folder behind.
    removeQuietly(unpack);

    const fs::path script = request.tempFolder / ("corvane-swap-" + newUUIDText() + ".sh");
    if (auto failed = writeSwapScript(script)) return failed;
    auto failed = request.startSwap(SwapLaunch{script, *app, staged, old, request.pid});
    if (failed) {
        removeQuietly(script);
        removeQuietly(staged);
    }
    return failed;
}

}  // namespace corvane
