#pragma once
// The file list of the detail pane, or its empty state: the filtered files of
// the shown target in one list view (a model and a painting delegate, no
// widget per row), or the loading / empty / no-match text with its hint.
// While the listing is cut at its limit, a search covers only the files listed:
// the no-match hint, or a note above the matches, says so. A search's result is
// told to a screen reader once the typing pauses.
// A row's buttons are its actions for the keys and for screen readers too:
// Return opens, Delete deletes, the menu offers all three.

#include <QStackedWidget>

#include "views/main/file_row_delegate.h"
#include "views/main/row_action_list.h"

class QLabel;
class QTimer;

namespace corvane {

class Announcer;
class AppState;
class FileListModel;
class SymbolLabel;

// A list view that keeps its scroll position when the model is replaced.
class FileListView : public RowActionList {
    Q_OBJECT

public:
    explicit FileListView(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;

private:
    int keptScroll_ = 0;
};

class FileArea : public QStackedWidget {
    Q_OBJECT

public:
    explicit FileArea(AppState& state, QWidget* parent = nullptr);

    FileListView* list() const { return list_; }
    // The page that holds the list and the note above it.
    QWidget* listPage() const { return listPage_; }
    Announcer* announcer() const { return announcer_; }
    // "只搜索了已列出的 N 个文件" while a search runs over a cut listing, else empty.
    QString searchNote() const;
    // What a search tells a reader: how many files matched, and the note.
    QString searchResult() const;
    FileListModel* model() const { return model_; }
    FileRowDelegate* delegate() const { return delegate_; }

    // Runs a row's action: open, download, reveal (only inside the receive folder) or delete.
    void run(FileAction action, const FileItem& item);

private:
    // The row's buttons as actions: their tooltips, Return on open, Delete on delete.
    std::vector<RowActionList::Action> rowActions(const FileItem& item);
    void showFiles();
    // The empty state's texts and the note above the list.
    void showEmpty();
    bool searching() const;

    AppState& state_;
    QWidget* listPage_ = nullptr;
    QLabel* note_ = nullptr;
    FileListView* list_ = nullptr;
    FileListModel* model_ = nullptr;
    FileRowDelegate* delegate_ = nullptr;
    QWidget* empty_ = nullptr;
    SymbolLabel* emptyIcon_ = nullptr;
    QLabel* emptyText_ = nullptr;
    QLabel* emptyHint_ = nullptr;
    Announcer* announcer_ = nullptr;
    QTimer* tellResult_ = nullptr;
};

}  // namespace corvane
