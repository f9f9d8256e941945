#include "program_run.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/boot_log_lines.h"

namespace fs = std::filesystem;

namespace corvane::test {

bool enterFreshNetwork() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

std::vector<pid_t> processesRunningFrom(const fs::path& folder) {
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(folder, ec);
    std::vector<pid_t> pids;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        const fs::path exe = fs::read_symlink(it->path() / "exe", linkError);
        if (!linkError && exe.string().rfind(root.string() + "/", 0) == 0) pids.push_back(pid_t(std::stol(name)));
    }
    return pids;
}

bool processEnded(pid_t pid) {
    // The third field of /proc/PID/stat (after the name in parentheses) is the state; Z is a zombie.
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z');
}

void killProcessesRunningFrom(const fs::path& folder) {
    for (const pid_t pid : processesRunningFrom(folder)) {
        ::kill(pid, SIGKILL);
        waitFor([pid] { return processEnded(pid); });
    }
}

ProgramRun::ProgramRun(std::string manifestURL) : manifestURL_(std::move(manifestURL)) {
    for (const char* folder : {"home", "data", "config", "runtime", "cache", "tmp"}) fs::create_directories(box_ / folder);
    fs::permissions(box_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
}

ProgramRun::~ProgramRun() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool ProgramRun::start(const std::vector<std::string>& args) {
    std::vector<std::string> argv{executable_.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<std::string> env{
        "HOME=" + home().string(),
        "XDG_DATA_HOME=" + (box_ / "data").string(),
        "XDG_CONFIG_HOME=" + (box_ / "config").string(),
        "XDG_RUNTIME_DIR=" + (box_ / "runtime").string(),
        "XDG_CACHE_HOME=" + cacheFolder().string(),
        "TMPDIR=" + tempFolder().string(),
        "QT_QPA_PLATFORM=offscreen",
        "TZ=UTC",
        "PATH=/usr/bin:/bin",
        "CORVANE_MANIFEST=" + manifestURL_,
    };
    std::vector<char*> argp;
    for (const std::string& a : argv) argp.push_back(const_cast<char*>(a.c_str()));
    argp.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = (box_ / "output.txt").string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    exited_ = false;
    return rc == 0;
}

bool ProgramRun::running() {
    if (pid_ <= 0 || exited_) return false;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done != pid_) return true;
    exited_ = true;
    status_ = status;
    return false;
}

std::optional<int> ProgramRun::waitForExit(std::chrono::milliseconds timeout) {
    if (!waitFor([this] { return !running(); }, timeout)) return std::nullopt;
    if (!WIFEXITED(status_)) return std::nullopt;
    return WEXITSTATUS(status_);
}

void ProgramRun::terminate() {
    if (pid_ > 0 && !exited_) ::kill(pid_, SIGTERM);
}

std::vector<std::string> ProgramRun::bootLog() const { return bootLogLines(dataFolder()); }

bool ProgramRun::waitForLine(const std::string& prefix, std::chrono::milliseconds timeout) const {
    return waitFor([&] { return hasLineStarting(bootLog(), prefix); }, timeout);
}

std::string ProgramRun::output() const { return readFile(box_ / "output.txt"); }

}  // namespace corvane::test
