#pragma once
// The built program started as a user would start it: its own home, data,
// config, cache and temporary folders in a sandbox, Qt's offscreen platform,
// UTC, and the update manifest address the test chose. Tests that use it first move the calling
// thread into a fresh network namespace, so the shipped ports are free and
// nothing leaves loopback.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "support/test_support.h"

namespace corvane::test {

// A new network namespace for the calling thread (and the threads and
// processes it starts), with loopback up; false when that is not allowed.
bool enterFreshNetwork();

// The processes whose executable lies inside the folder (also ones this test did not start itself).
std::vector<pid_t> processesRunningFrom(const std::filesystem::path& folder);
// Kills them all and waits (up to a few seconds) until they are gone.
void killProcessesRunningFrom(const std::filesystem::path& folder);
// Whether the process has ended (gone, or a zombie awaiting its parent).
bool processEnded(pid_t pid);

class ProgramRun {
public:
    explicit ProgramRun(std::string manifestURL);
    ~ProgramRun();  // a program still running is killed
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Starts this copy of the program instead of the built one.
    void useExecutable(std::filesystem::path executable) { executable_ = std::move(executable); }
    bool start(const std::vector<std::string>& args = {});
    // The exit status once the program ended within the time-out; none while it runs
    // (or when a signal ended it).
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    bool running();
    void terminate();  // SIGTERM

    // boot.log without the times of day.
    std::vector<std::string> bootLog() const;
    // Waits until a boot-log line begins with the prefix.
    bool waitForLine(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;

    std::filesystem::path dataFolder() const { return box_ / "data" / "Corvane"; }
    std::filesystem::path home() const { return box_ / "home"; }
    std::filesystem::path cacheFolder() const { return box_ / "cache"; }
    std::filesystem::path tempFolder() const { return box_ / "tmp"; }
    std::filesystem::path sandbox() const { return box_.path(); }
    std::string output() const;  // what the program wrote to stdout and stderr

private:
    Sandbox box_;
    std::string manifestURL_;
    std::filesystem::path executable_ = CORVANE_BINARY;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

}  // namespace corvane::test
