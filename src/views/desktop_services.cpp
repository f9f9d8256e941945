#include "views/desktop_services.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QProcess>
#include <QUrl>

#include "views/alert.h"
#include "views/text_prompt.h"

namespace corvane {

namespace {

const QString kFileManager = QStringLiteral("org.freedesktop.FileManager1");

bool startXdgOpen(const QString& argument) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {argument});
}

QString pathText(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// Whether a file manager answers on the session bus, or would be started for a call.
bool fileManagerAvailable(QDBusConnection& bus) {
    QDBusConnectionInterface* names = bus.interface();
    if (!names) return false;
    if (names->isServiceRegistered(kFileManager).value()) return true;
    return names->activatableServiceNames().value().contains(kFileManager);
}

// Opens the dialog without blocking; answers its first chosen path, none when cancelled.
void openForOnePath(QFileDialog* dialog, std::function<void(std::optional<std::filesystem::path>)> answer) {
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, answer = std::move(answer)](int result) {
        const QStringList chosen = dialog->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty()) {
            answer(std::nullopt);
            return;
        }
        answer(std::filesystem::path(chosen.first().toStdString()));
    });
    dialog->open();  // never exec(): the event loop keeps running
}

}  // namespace

bool openWithDesktop(const std::filesystem::path& path) { return startXdgOpen(pathText(path)); }

bool openURLWithDesktop(const std::string& url) { return startXdgOpen(QString::fromStdString(url)); }

void revealWithDesktop(const std::filesystem::path& path) {
    const QString folder = pathText(path.parent_path());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !fileManagerAvailable(bus)) {
        startXdgOpen(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kFileManager, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       kFileManager, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(pathText(path)).toString()} << QString();
    // Asynchronous: a file manager that starts slowly never holds the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, folder] {
        if (watcher->isError()) startXdgOpen(folder);
        watcher->deleteLater();
    });
}

QWidget* rootWindowOf(QWidget* widget) {
    QWidget* window = widget ? widget->window() : nullptr;
    while (window && window->parentWidget()) window = window->parentWidget()->window();
    return window;
}

void chooseFolderWithDialog(const FolderQuestion& question,
                            std::function<void(std::optional<std::filesystem::path>)> answer) {
    // Over the main window, not over the sheet that asked: that sheet may close before the answer.
    auto* dialog = new QFileDialog(rootWindowOf(QApplication::activeWindow()), QString::fromStdString(question.message));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(question.prompt));
    openForOnePath(dialog, std::move(answer));
}

void copyToClipboard(const std::string& text) { QGuiApplication::clipboard()->setText(QString::fromStdString(text)); }

void askTextWithDialog(const TextQuestion& question, std::function<void(std::optional<std::string>)> answer) {
    auto* prompt = new TextPrompt(question, QApplication::activeWindow());
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(prompt, &QDialog::finished, prompt, [prompt, answer = std::move(answer)](int result) {
        if (result == QDialog::Accepted) {
            answer(prompt->field()->text().toStdString());
        } else {
            answer(std::nullopt);
        }
    });
    prompt->open();  // never exec(): the event loop keeps running
}

void chooseImageWithDialog(const ImageQuestion& question,
                           std::function<void(std::optional<std::filesystem::path>)> answer) {
    auto* dialog = new QFileDialog(rootWindowOf(QApplication::activeWindow()), QString::fromStdString(question.message));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setMimeTypeFilters({QStringLiteral("image/png"), QStringLiteral("image/jpeg"), QStringLiteral("image/gif"),
                                QStringLiteral("image/webp")});
    dialog->setNameFilter(QStringLiteral("Images (*.png *.jpg *.jpeg *.gif *.webp)"));
    openForOnePath(dialog, std::move(answer));
}

void showAlertWithDialog(const AlertQuestion& question, std::function<void(int)> answer) {
    const QString message = QString::fromStdString(question.message);
    auto* box = new Alert(message, message, QString::fromStdString(question.informative), QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    std::vector<QPushButton*> buttons;
    for (const std::string& title : question.buttons) buttons.push_back(box->addAnswer(QString::fromStdString(title)));
    if (!buttons.empty()) box->setDefaultButton(buttons.front());
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, answer = std::move(answer)](int) {
        const auto pressed = std::find(buttons.begin(), buttons.end(), box->clickedButton());
        answer(pressed == buttons.end() ? -1 : static_cast<int>(pressed - buttons.begin()));
    });
    box->open();  // never exec(): the event loop keeps running
}

}  // namespace corvane
