#include "views/app_delegate.h"

#include <filesystem>

#include <QApplication>
#include <QDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include "app/app_state.h"
#include "app/defaults_store.h"
#include "app/install_failure_watch.h"
#include "base/cfg.h"
#include "updater/updater.h"
#include "views/main/content_view.h"
#include "views/desktop_services.h"
#include "views/main_menu.h"
#include "views/main_window.h"
#include "views/picker.h"
#include "views/sheet_host.h"

namespace corvane {

namespace {

constexpr int kShotDelayMs = 6500;
constexpr int kUpdateCheckDelayMs = 1200;
constexpr int kUpdateVerdictDelayMs = 5000;
constexpr int kSelfTestDelayMs = 1500;

// The shipped environment: the standard one with the desktop's opener, dialogs and clipboard.
AppEnvironment desktopEnvironment() {
    AppEnvironment env = AppEnvironment::standard();
    env.openPath = openWithDesktop;
    env.openURL = openURLWithDesktop;
    env.reveal = revealWithDesktop;
    env.chooseFolder = chooseFolderWithDialog;
    env.copyText = copyToClipboard;
    env.askText = askTextWithDialog;
    env.chooseImage = chooseImageWithDialog;
    env.showAlert = showAlertWithDialog;
    return env;
}

// Beside the window's picture: PATH's stem, "-", the sheet's object name, ".png".
std::string sheetShotPath(const std::string& path, const std::string& sheetName) {
    const std::filesystem::path shot(path);
    return (shot.parent_path() / (shot.stem().string() + "-" + sheetName + ".png")).string();
}

// Brings a window to the front; the offscreen platform has no stacking order to change.
void bringToFront(QWidget* window) {
    if (QGuiApplication::platformName() != QStringLiteral("offscreen")) window->raise();
    window->activateWindow();
}

void showAbout() {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("关于Corvane"),
                                QStringLiteral("Corvane %1").arg(QString::fromStdString(Cfg::version())),
                                QMessageBox::Ok, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace

AppDelegate::AppDelegate(std::vector<std::string> args, QObject* parent)
    : QObject(parent), switches_(LaunchSwitches::parse(args)) {}

void AppDelegate::applicationDidFinishLaunching() {
    bootLog("didFinishLaunching → 创建 AppState");
    AppState& state = AppState::createShared(desktopEnvironment());
    launched_ = true;
    bootLog("AppState 已创建 → start()");
    state.start();
    bootLog("start() 返回 → 建菜单");
    buildMenu();
    bootLog("菜单完成 → 建窗口");
    showWindow();
    bootLog("窗口完成");
    bringToFront(window_);
    runSwitches();
}

void AppDelegate::applicationWillTerminate() {
    bootLog("退出");
    if (!launched_) return;
    if (window_) window_->saveFrame();
    AppState::shared().shutdown();
}

void AppDelegate::buildMenu() {
    MenuActions actions;
    actions.about = showAbout;
    actions.hide = [this] {
        if (window_) window_->showMinimized();
    };
    actions.quit = [] { QCoreApplication::quit(); };
    actions.pickFiles = [this] { menuPickFiles(); };
    actions.pickFolder = [this] { menuPickFolder(); };
    actions.openFolder = [this] { menuOpenFolder(); };
    actions.refresh = [this] { menuRefresh(); };
    actions.minimize = [this] {
        if (window_) window_->showMinimized();
    };
    actions.zoom = [this] {
        if (!window_) return;
        window_->isMaximized() ? window_->showNormal() : window_->showMaximized();
    };
    menuBar_ = buildMenuBar(actions);
    if (window_) window_->setMenuBar(menuBar_);
}

void AppDelegate::showWindow() {
    if (window_) {
        if (window_->isMinimized()) window_->showNormal();
        window_->show();
        bringToFront(window_);
        return;
    }
    AppState& state = AppState::shared();
    auto* window = new MainWindow(state, *state.environment().defaults);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (menuBar_) window->setMenuBar(menuBar_);
    window->placeWindow();
    window->show();
    bringToFront(window);
    window_ = window;
    bootLog("窗口已显示");
}

void AppDelegate::menuPickFiles() { Picker::pickFiles(AppState::shared()); }

void AppDelegate::menuPickFolder() { Picker::pickFolder(AppState::shared()); }

void AppDelegate::menuOpenFolder() { AppState::shared().environment().openPath(AppState::shared().root()); }

void AppDelegate::menuRefresh() { AppState::shared().refreshFiles(); }

// Precise timers: Qt's default coarse ones may fire up to 5 % before their time.
void AppDelegate::runSwitches() {
    if (switches_.shotPath) {
        const std::string path = *switches_.shotPath;
        QTimer::singleShot(kShotDelayMs, Qt::PreciseTimer, this, [this, path] { takeShot(path); });
    }
    if (switches_.updateNow) {
        bootLog("--update-now：进入更新分支");
        QTimer::singleShot(kUpdateCheckDelayMs, Qt::PreciseTimer, this, [] { Updater::shared().check(false); });
        QTimer::singleShot(kUpdateVerdictDelayMs, Qt::PreciseTimer, this, [this] { finishUpdateNow(); });
    }
    if (switches_.selftestPath) {
        const std::string path = *switches_.selftestPath;
        // The report tells the outcome; the exit status does not.
        QTimer::singleShot(kSelfTestDelayMs, Qt::PreciseTimer, this, [path] {
            AppState::shared().runSelfTest(path, [] { QCoreApplication::quit(); });
        });
    }
}

void AppDelegate::takeShot(const std::string& path) {
    if (window_ && window_->contentView()) {
        const QPixmap image = window_->contentView()->grab();
        image.save(QString::fromStdString(path), "PNG");  // a write error is ignored
        for (QDialog* sheet : window_->contentView()->sheets()->openSheets()) {
            sheet->grab().save(QString::fromStdString(sheetShotPath(path, sheet->objectName().toStdString())), "PNG");
        }
    }
    bootLog("已截图 " + path);
    QCoreApplication::quit();
}

void AppDelegate::finishUpdateNow() {
    Updater& updater = Updater::shared();
    if (updater.phase().kind == UpdatePhase::Kind::available) {
        bootLog("--update-now：发现 v" + updater.latest() + "，开始安装");
        // A failed install would leave this unattended run open for good: it ends it instead.
        watchInstallFailure(updater, this, [](const std::string& phase) {
            bootLog("--update-now：安装失败（" + phase + "）");
            QCoreApplication::quit();
        });
        updater.install();  // a successful install ends and relaunches the process itself
        return;
    }
    bootLog("--update-now：无可安装更新（" + updater.phase().text() + "）");
    QCoreApplication::quit();
}

}  // namespace corvane
