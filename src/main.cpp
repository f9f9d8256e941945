// The process start: boot-log line, the application object with its delegate,
// the event loop, and an exit that does not wait for the engine's threads.

#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/quit_signals.h"
#include "base/cfg.h"
#include "views/app_delegate.h"
#include "views/app_icon.h"
#include "views/qt_translations.h"
#include "views/theme.h"
#include "views/window_focus.h"

int main(int argc, char** argv) {
    corvane::bootLog("进程启动 pid=" + std::to_string(getpid()));

    // Without a display the program runs on Qt's offscreen platform.
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // number texts never follow the locale
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    // Desktops match the windows to the entry corvane.desktop (its name and icon in task bars).
    QGuiApplication::setDesktopFileName(QStringLiteral("corvane"));
    QApplication::setWindowIcon(corvane::appIcon());
    // Qt's own texts follow the system's language, as in every Qt program.
    corvane::installQtTranslations(app, QLocale::system());
    // The fonts (set explicitly: fontconfig would pick the Japanese variant for the
    // Chinese texts), the light palette and the style.
    corvane::Theme::apply(app);
    // The keys stay with one control, and come back to the window behind a dialog that closes.
    corvane::keepWindowFocusWhole(app);

    corvane::QuitSignals quitSignals;
    std::vector<std::string> args(argv + 1, argv + argc);
    corvane::AppDelegate delegate(std::move(args));
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &corvane::AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });

    const int status = app.exec();
    // Connection and discovery threads may still run: leave without tearing anything down under them.
    std::fflush(nullptr);
    _exit(status);
}
