#include "views/picker.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QListView>
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

// Qt's own translation has no Chinese word for a folder's type; files keep the type the
// MIME database gives in the system's language.
class FolderTypeProvider : public QFileIconProvider {
public:
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) return QStringLiteral("文件夹");
        return QFileIconProvider::type(info);
    }
};

// The places list is as wide as its longest entry (the home folder's name among them).
void fitSidebar(QFileDialog* dialog) {
    auto* sidebar = dialog->findChild<QListView*>(QStringLiteral("sidebar"));
    if (!sidebar || !sidebar->model()) return;
    const int needed = sidebar->sizeHintForColumn(0) + 2 * sidebar->frameWidth() + 8;
    sidebar->setMinimumWidth(std::max(sidebar->minimumWidth(), needed));
}

// Where the panel opens: the folder last picked from in this run, else the home folder.
QString& lastFolder() {
    static QString folder;
    return folder;
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
    static FolderTypeProvider folderTypes;
    dialog->setIconProvider(&folderTypes);
    fitDetailColumns(dialog);
    fitSidebar(dialog);
    const QPointer<AppState> target(&state);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, target](int result) {
        if (result != QDialog::Accepted || !target) return;
        const QStringList files = dialog->selectedFiles();
        if (files.isEmpty()) return;
        // A path typed whole names its own folder, which the panel's current one need not be.
        lastFolder() = QFileInfo(files.first()).absolutePath();
        std::vector<std::filesystem::path> chosen;
        for (const QString& file : files) chosen.emplace_back(file.toStdString());
        target->send(chosen);
    });
    dialog->open();
    // After open(): showing the panel may take it back to the folder Qt remembers.
    dialog->setDirectory(lastFolder().isEmpty() ? QDir::homePath() : lastFolder());
}

}  // namespace

std::string Picker::targetName(const AppState& state) {
    return state.target().peer ? state.target().peer->name : "本机";
}

void Picker::pickFiles(AppState& state) { pick(state, false, "选择要发送到「" + targetName(state) + "」的文件"); }

void Picker::pickFolder(AppState& state) { pick(state, true, "选择要发送到「" + targetName(state) + "」的文件夹"); }

}  // namespace corvane
