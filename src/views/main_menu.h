#pragma once
// The menu bar: the application menu "Corvane", "文件", "编辑" and "窗口".
// Ctrl stands for the Command key, with Shift where the key is upper case.

#include <functional>

class QMenuBar;
class QWidget;

namespace corvane {

struct MenuActions {
    std::function<void()> about;
    std::function<void()> hide;
    std::function<void()> quit;
    std::function<void()> pickFiles;
    std::function<void()> pickFolder;
    std::function<void()> openFolder;
    std::function<void()> refresh;
    std::function<void()> minimize;
    std::function<void()> zoom;
};

// A new menu bar whose items call the actions; the edit items go to the focused widget.
QMenuBar* buildMenuBar(const MenuActions& actions, QWidget* parent = nullptr);

}  // namespace corvane
