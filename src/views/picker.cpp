#include "views/picker.h"

#include <filesystem>
#include <vector>

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QPointer>

#include "app/app_state.h"

namespace corvane {

namespace {

// Opens the panel without blocking; the chosen items go to the send queue in panel order.
void pick(AppState& state, bool folders, const std::string& message) {
    auto* dialog = new QFileDialog(QApplication::activeWindow(), QString::fromStdString(message));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("发送"));
    if (folders) {
        // Several folders at once need the widget-based dialog with its lists in multi-selection.
        dialog->setOption(QFileDialog::DontUseNativeDialog, true);
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
        for (auto* view : dialog->findChildren<QAbstractItemView*>()) {
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    } else {
        dialog->setFileMode(QFileDialog::ExistingFiles);
    }
    const QPointer<AppState> target(&state);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, target](int result) {
        if (result != QDialog::Accepted || !target) return;
        std::vector<std::filesystem::path> chosen;
        for (const QString& file : dialog->selectedFiles()) chosen.emplace_back(file.toStdString());
        if (!chosen.empty()) target->send(chosen);
    });
    dialog->open();
}

}  // namespace

std::string Picker::targetName(const AppState& state) {
    return state.target().peer ? state.target().peer->name : "本机";
}

void Picker::pickFiles(AppState& state) { pick(state, false, "选择要发送到「" + targetName(state) + "」的文件"); }

void Picker::pickFolder(AppState& state) { pick(state, true, "选择要发送到「" + targetName(state) + "」的文件夹"); }

}  // namespace corvane
