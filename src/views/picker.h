#pragma once
// The two open panels through which the user picks files or folders to send to
// the current target (File menu and the views' send buttons).

#include <string>

namespace corvane {

class AppState;

struct Picker {
    static void pickFiles(AppState& state);
    static void pickFolder(AppState& state);

    // "本机" for this device, else the target peer's name.
    static std::string targetName(const AppState& state);
};

}  // namespace corvane
