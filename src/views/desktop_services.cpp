#include "views/desktop_services.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>

namespace corvane {

bool openWithDesktop(const std::filesystem::path& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

void chooseFolderWithDialog(const FolderQuestion& question,
                            std::function<void(std::optional<std::filesystem::path>)> answer) {
    auto* dialog = new QFileDialog(QApplication::activeWindow(), QString::fromStdString(question.message));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(question.prompt));
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

void copyToClipboard(const std::string& text) { QGuiApplication::clipboard()->setText(QString::fromStdString(text)); }

void askTextWithDialog(const TextQuestion& question, std::function<void(std::optional<std::string>)> answer) {
    auto* dialog = new QInputDialog(QApplication::activeWindow());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setLabelText(QString::fromStdString(question.message + "\n\n" + question.informative));
    dialog->setTextValue(QString::fromStdString(question.text));
    dialog->setOkButtonText(QString::fromStdString(question.confirm));
    dialog->setCancelButtonText(QString::fromStdString(question.cancel));
    if (auto* label = dialog->findChild<QLabel*>()) label->setTextFormat(Qt::PlainText);  // names are data
    if (auto* field = dialog->findChild<QLineEdit*>()) {
        field->setPlaceholderText(QString::fromStdString(question.placeholder));
        field->setFixedSize(260, 24);
    }
    QObject::connect(dialog, &QInputDialog::finished, dialog, [dialog, answer = std::move(answer)](int result) {
        if (result == QDialog::Accepted) {
            answer(dialog->textValue().toStdString());
        } else {
            answer(std::nullopt);
        }
    });
    dialog->open();  // never exec(): the event loop keeps running
}

}  // namespace corvane
