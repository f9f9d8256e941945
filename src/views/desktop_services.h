#pragma once
// The desktop's services as the application state asks for them: opening a
// file or folder with its default application, and asking for a folder
// without blocking the event loop.

#include <filesystem>
#include <functional>
#include <optional>

#include "app/app_environment.h"

namespace corvane {

bool openWithDesktop(const std::filesystem::path& path);

void chooseFolderWithDialog(const FolderQuestion& question,
                            std::function<void(std::optional<std::filesystem::path>)> answer);

}  // namespace corvane
