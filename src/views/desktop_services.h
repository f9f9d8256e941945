#pragma once
// The desktop's services as the application state and the views ask for them:
// opening a file, folder or web address with its default application (through
// xdg-open, which every desktop provides and tests replace with a recorder),
// showing a file in the file manager, and asking for a folder without blocking
// the event loop.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/app_environment.h"

class QWidget;

namespace corvane {

// Each starts xdg-open detached; false when it could not be started.
bool openWithDesktop(const std::filesystem::path& path);
bool openURLWithDesktop(const std::string& url);

// Asks the file manager (org.freedesktop.FileManager1.ShowItems) to show the
// item selected; without one on the session bus, or when it refuses, opens the
// item's folder instead.
void revealWithDesktop(const std::filesystem::path& path);

// The window at the bottom of the stack of dialogs the widget is in (the main window).
QWidget* rootWindowOf(QWidget* widget);

// Asks over the root window of the active one, so the sheet that asked is not its parent.
void chooseFolderWithDialog(const FolderQuestion& question,
                            std::function<void(std::optional<std::filesystem::path>)> answer);

// Replaces the clipboard's content with a plain text.
void copyToClipboard(const std::string& text);

// Asks for one line of text in a dialog without blocking the event loop.
void askTextWithDialog(const TextQuestion& question, std::function<void(std::optional<std::string>)> answer);

// Asks for one image file (PNG, JPEG, GIF or WebP) over the root window, without blocking.
void chooseImageWithDialog(const ImageQuestion& question,
                           std::function<void(std::optional<std::filesystem::path>)> answer);

// Shows an alert with its buttons (the first the default) without blocking; answers the
// index of the button pressed, -1 when it closed otherwise.
void showAlertWithDialog(const AlertQuestion& question, std::function<void(int)> answer);

}  // namespace corvane
