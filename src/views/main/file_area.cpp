#include "views/main/file_area.h"

#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "app/remote_download.h"
#include "views/main/file_list_model.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

FileListView::FileListView(QWidget* parent) : RowActionList(parent) {
    setViewportMargins(0, 0, 0, 8);  // room under the last row
}

void FileListView::setModel(QAbstractItemModel* model) {
    RowActionList::setModel(model);
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { keptScroll_ = verticalScrollBar()->value(); });
    // The layout after a reset is done later; the position is restored once the range is known.
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        doItemsLayout();
        verticalScrollBar()->setValue(keptScroll_);
    });
}

FileArea::FileArea(AppState& state, QWidget* parent) : QStackedWidget(parent), state_(state) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    list_ = new FileListView(this);
    list_->setObjectName(QStringLiteral("fileList"));
    list_->setAccessibleName(QStringLiteral("文件"));
    QPalette palette = list_->palette();
    palette.setColor(QPalette::Base, Theme::window());
    list_->setPalette(palette);
    model_ = new FileListModel(list_);
    delegate_ = new FileRowDelegate(list_);
    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    connect(delegate_, &FileRowDelegate::triggered, this, &FileArea::run);
    list_->setActions([this](const QModelIndex& row) { return rowActions(model_->item(row.row())); });
    list_->setRowKey([this](const QModelIndex& row) { return QString::fromStdString(model_->item(row.row()).path); });

    empty_ = new QWidget(this);
    auto* column = new QVBoxLayout(empty_);
    column->setSpacing(9);
    column->addStretch(1);
    emptyIcon_ = new SymbolLabel("tray", 30, Theme::quaternary(), empty_);
    emptyIcon_->setObjectName(QStringLiteral("fileEmptyIcon"));
    emptyText_ = new PlainLabel({}, empty_);
    emptyText_->setObjectName(QStringLiteral("fileEmptyText"));
    emptyText_->setFont(Theme::font(12));
    Theme::setTextColor(emptyText_, Theme::tertiary());
    emptyHint_ = new PlainLabel({}, empty_);
    emptyHint_->setObjectName(QStringLiteral("fileEmptyHint"));
    emptyHint_->setFont(Theme::font(11));
    Theme::setTextColor(emptyHint_, Theme::tertiary());
    column->addWidget(emptyIcon_, 0, Qt::AlignHCenter);
    column->addWidget(emptyText_, 0, Qt::AlignHCenter);
    column->addWidget(emptyHint_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    addWidget(list_);
    addWidget(empty_);

    connect(&state_, &AppState::filesChanged, this, &FileArea::showFiles);
    connect(&state_, &AppState::searchTextChanged, this, &FileArea::showFiles);
    connect(&state_, &AppState::targetChanged, this, &FileArea::showFiles);
    connect(&state_, &AppState::loadingFilesChanged, this, &FileArea::showEmpty);
    connect(&state_, &AppState::filesProblemChanged, this, &FileArea::showEmpty);
    showFiles();
}

void FileArea::showFiles() {
    std::vector<FileItem> shown = state_.filteredFiles();
    const bool none = shown.empty();
    model_->setFiles(std::move(shown), !state_.target().isLocal());
    setCurrentWidget(none ? empty_ : static_cast<QWidget*>(list_));
    showEmpty();
}

void FileArea::showEmpty() {
    const bool loading = state_.loadingFiles();
    const bool searching = !state_.searchText().empty();
    // A storage that cannot be reached is said as such, never shown as an empty folder.
    const std::string& problem = state_.filesProblem();
    emptyIcon_->setSymbol(loading ? "arrow.triangle.2.circlepath" : (problem.empty() ? "tray" : "exclamationmark.triangle.fill"));
    if (loading) {
        emptyText_->setText(QStringLiteral("正在读取…"));
    } else if (!problem.empty()) {
        emptyText_->setText(QString::fromStdString(problem));
    } else {
        emptyText_->setText(searching ? QStringLiteral("没有匹配的文件") : QStringLiteral("还没有文件"));
    }
    emptyHint_->setText(state_.target().isLocal() ? QStringLiteral("把文件拖到上面，或点「选择文件」")
                                                  : QStringLiteral("把文件拖到上面，会直接发到这台设备"));
    emptyHint_->setVisible(!searching && !loading && problem.empty());
}

namespace {

int keyOf(FileAction action) {
    switch (action) {
        case FileAction::open: return Qt::Key_Return;
        case FileAction::remove: return Qt::Key_Delete;
        default: return 0;
    }
}

}  // namespace

std::vector<RowActionList::Action> FileArea::rowActions(const FileItem& item) {
    std::vector<RowActionList::Action> actions;
    for (const FileRowButton& button : FileRowDelegate::buttons(model_->remote())) {
        actions.push_back({button.help, keyOf(button.action), [this, action = button.action, item] { run(action, item); }});
    }
    return actions;
}

void FileArea::run(FileAction action, const FileItem& item) {
    switch (action) {
        case FileAction::open: state_.open(item); break;
        case FileAction::download: state_.download(item); break;
        case FileAction::remove: state_.deleteFiles({item}); break;
        case FileAction::reveal:
            // The rule open and delete follow: a path that leads out of the receive folder shows nothing.
            if (const auto path = localItemPath(state_.root(), item.path)) state_.environment().reveal(*path);
            break;
    }
}

}  // namespace corvane
