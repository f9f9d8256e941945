#include "views/picker.h"

#include <filesystem>
#include <vector>

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QPointer>
#include <QTreeView>

#include "app/app_state.h"

namespace corvane {

namespace {

// The widget-based dialog sizes its detail columns for "128.88 GB", "mp3Folder" and
// "10/29/81 02:02PM" in its font, which cuts figures such as "57.22 MiB", types and
// dates: size, type and date take the width of what they show, the name the rest.
void fitDetailColumns(QFileDialog* dialog) {
    for (auto* tree : dialog->findChildren<QTreeView*>()) {
        QHeaderView* header = tree->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column) {
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
    }
}

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
    fitDetailColumns(dialog);
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
