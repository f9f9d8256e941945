#include "views/desktop_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
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

}  // namespace corvane
