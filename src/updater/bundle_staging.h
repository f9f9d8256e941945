#pragma once
// Stages a verified package beside the running bundle and hands the swap to the
// swap script: unpack into a temporary folder, copy the new bundle to
// ".Corvane-new.app", write the script and start it. The running bundle is not
// touched here.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <sys/types.h>

#include "updater/swap_script.h"
#include "updater/update_error.h"

namespace corvane {

struct StagingRequest {
    std::filesystem::path package;     // the verified zip
    std::filesystem::path executable;  // the running program
    std::filesystem::path tempFolder;  // for the unpack folder and the script
    pid_t pid = 0;                     // the process the script waits for
    std::function<std::optional<UpdateError>(const SwapLaunch&)> startSwap;
};

// The bundle folder that holds the executable as bin/<name>, when the folder's
// name ends in ".app"; none when the program runs from anywhere else.
std::optional<std::filesystem::path> bundleOfExecutable(const std::filesystem::path& executable);

// Runs a tool and waits for it. None when it exits with status 0; else the
// start failure's reason or "系统命令执行失败（<tool> 返回 <status>）".
std::optional<UpdateError> runTool(const std::string& tool, const std::vector<std::string>& args);

// None once the script has been started; else why staging stopped. The unpack
// folder is removed in every case.
std::optional<UpdateError> stageAndSwap(const StagingRequest& request);

}  // namespace corvane
