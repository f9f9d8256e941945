#pragma once
// The shell script that swaps the installed bundle for the staged one after the
// application has ended, and starts the bundle again. Everything it works on
// arrives as arguments: APP, NEW, OLD and the application's process id.

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

#include "updater/update_error.h"

namespace corvane {

struct SwapLaunch {
    std::filesystem::path script;
    std::filesystem::path app;
    std::filesystem::path newBundle;
    std::filesystem::path oldBundle;
    pid_t pid = 0;
};

// The script's text (POSIX sh).
const std::string& swapScriptText();

// Writes the script whole to the path with mode 0755.
std::optional<UpdateError> writeSwapScript(const std::filesystem::path& path);

// Starts "/bin/sh script APP NEW OLD PID" detached in a session of its own, so
// that the application's end does not end it; its output goes nowhere.
std::optional<UpdateError> startSwapDetached(const SwapLaunch& launch);

}  // namespace corvane
