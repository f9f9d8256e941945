#include "views/main/file_area.h"

#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "app/remote_download.h"
#include "views/announcer.h"
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

namespace {

// How long the typing pauses before a search's result is told.
constexpr int tellResultAfterMs = 400;

}  // namespace

FileArea::FileArea(AppState& state, QWidget* parent) : QStackedWidget(parent), state_(state) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    listPage_ = new QWidget(this);
    auto* listColumn = new QVBoxLayout(listPage_);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(0);
    note_ = new PlainLabel({}, listPage_);
    note_->setObjectName(QStringLiteral("fileSearchNote"));
    note_->setFont(Theme::font(11));
    note_->setContentsMargins(20, 6, 20, 6);
    Theme::setTextColor(note_, Theme::secondary());
    note_->hide();
    list_ = new FileListView(listPage_);
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
    listColumn->addWidget(note_);
    listColumn->addWidget(list_, 1);
    addWidget(listPage_);
    addWidget(empty_);
    announcer_ = new Announcer(this);
    tellResult_ = new QTimer(this);
    tellResult_->setSingleShot(true);
    tellResult_->setInterval(tellResultAfterMs);
    connect(tellResult_, &QTimer::timeout, this, [this] {
        if (searching() && !state_.loadingFiles()) announcer_->announce(searchResult());
    });
    connect(&state_, &AppState::searchTextChanged, tellResult_, qOverload<>(&QTimer::start));

    connect(&state_, &AppState::filesChanged, this, &FileArea::showFiles);
    connect(&state_, &AppState::searchTextChanged, this, &FileArea::showFiles);
    connect(&state_, &AppState::targetChanged, this, &FileArea::showFiles);
    connect(&state_, &AppState::loadingFilesChanged, this, &FileArea::showEmpty);
    connect(&state_, &AppState::filesTruncatedChanged, this, &FileArea::showEmpty);
    connect(&state_, &AppState::filesProblemChanged, this, &FileArea::showEmpty);
    showFiles();
}

void FileArea::showFiles() {
    std::vector<FileItem> shown = state_.filteredFiles();
    const bool none = shown.empty();
    model_->setFiles(std::move(shown), !state_.target().isLocal());
    setCurrentWidget(none ? empty_ : listPage_);
    showEmpty();
}

bool FileArea::searching() const { return !state_.searchText().empty(); }

QString FileArea::searchNote() const {
    if (!searching() || !state_.filesTruncated()) return {};
    return QStringLiteral("只搜索了已列出的 %1 个文件").arg(state_.files().size());
}

QString FileArea::searchResult() const {
    const size_t found = state_.filteredFiles().size();
    const QString result =
        found == 0 ? QStringLiteral("没有匹配的文件") : QStringLiteral("找到 %1 个文件").arg(found);
    const QString note = searchNote();
    return note.isEmpty() ? result : result + QStringLiteral("，") + note;
}

void FileArea::showEmpty() {
    note_->setText(searchNote());
    note_->setVisible(!note_->text().isEmpty());
    const bool loading = state_.loadingFiles();
    // A storage that cannot be reached is said as such, never shown as an empty folder.
    const std::string& problem = state_.filesProblem();
    emptyIcon_->setSymbol(loading ? "arrow.triangle.2.circlepath" : (problem.empty() ? "tray" : "exclamationmark.triangle.fill"));
    if (loading) {
        emptyText_->setText(QStringLiteral("正在读取…"));
    } else if (!problem.empty()) {
        emptyText_->setText(QString::fromStdString(problem));
    } else {
        emptyText_->setText(searching() ? QStringLiteral("没有匹配的文件") : QStringLiteral("还没有文件"));
    }
    if (searching()) {
        emptyHint_->setText(searchNote());
    } else {
        emptyHint_->setText(state_.target().isLocal() ? QStringLiteral("把文件拖到上面，或点「选择文件」")
                                                      : QStringLiteral("把文件拖到上面，会直接发到这台设备"));
    }
    emptyHint_->setVisible(!loading && problem.empty() && !emptyHint_->text().isEmpty());
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
