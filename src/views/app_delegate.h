#pragma once
// Brings the application up in a fixed order (state, start, menu, window),
// carries the menu actions, runs the unattended switches ("--shot",
// "--update-now", "--selftest") and takes the application down in order. Every step is
// written to the boot log.

#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "app/launch_switches.h"
#include "views/main_window.h"

class QMenuBar;

namespace corvane {


class AppDelegate : public QObject {
    Q_OBJECT

public:
    // args: the command line after the program's own name.
    explicit AppDelegate(std::vector<std::string> args, QObject* parent = nullptr);

    // Once the event loop runs.
    void applicationDidFinishLaunching();
    // When the event loop is about to end (quit item, last window closed, SIGTERM).
    void applicationWillTerminate();

    void menuPickFiles();
    void menuPickFolder();
    void menuOpenFolder();
    void menuRefresh();

    MainWindow* window() const { return window_; }

private:
    void buildMenu();
    void showWindow();
    void runSwitches();
    void takeShot(const std::string& path);
    void finishUpdateNow();

    LaunchSwitches switches_;
    QPointer<MainWindow> window_;
    QPointer<QMenuBar> menuBar_;
    bool launched_ = false;
};

}  // namespace corvane
