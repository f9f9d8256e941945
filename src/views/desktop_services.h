#pragma once
// The desktop's services as the application state asks for them: opening a
// file or folder with its default application, and asking for a folder
// without blocking the event loop.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/app_environment.h"

namespace corvane {

bool openWithDesktop(const std::filesystem::path& path);

void chooseFolderWithDialog(const FolderQuestion& question,
                            std::function<void(std::optional<std::filesystem::path>)> answer);

// Replaces the clipboard's content with a plain text.
void copyToClipboard(const std::string& text);

// Asks for one line of text in a dialog without blocking the event loop.
void askTextWithDialog(const TextQuestion& question, std::function<void(std::optional<std::string>)> answer);

}  // namespace corvane
