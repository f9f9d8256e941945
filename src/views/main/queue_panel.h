#pragma once
// The send-queue panel at the bottom of the detail pane: a header with the
// number of active transfers and "清除已结束", and the list of every task
// (at most 148 px high, scrolling beyond). It reads uploader().tasks() on
// every uploaderChanged and calls only cancel(task) and clearFinished().
// An active row's cancel button is its action "取消" for the keys (Delete, the
// menu) and for screen readers; a row's progress is read as a bar in the row.
// When nothing is active the header says how many failed ("2 个失败"), else "全部完成".
// A row that fails is told to a screen reader once, in the row's own words, and
// scrolled into view; the keys stay where they are. While files wait for a receiver
// that does not answer, their rows read "等待重连" and the header says the queue will try
// again; a screen reader hears it once when it begins and once when the receiver is back.

#include <set>
#include <string>

#include <QString>
#include <QWidget>

#include "views/main/row_action_list.h"

class QLabel;
class QPushButton;

namespace corvane {

class Announcer;
class AppState;
class QueueListModel;
class QueueRowDelegate;

class QueuePanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int maxListHeight = 148;

    explicit QueuePanel(AppState& state, QWidget* parent = nullptr);

    RowActionList* list() const { return list_; }
    QueueListModel* model() const { return model_; }
    QueueRowDelegate* delegate() const { return delegate_; }
    Announcer* announcer() const { return announcer_; }
    Announcer* reachAnnouncer() const { return reachAnnouncer_; }

    // The header's count: the active tasks (and whether some wait for a receiver that does not
    // answer), else how many failed, else "全部完成".
    static QString countText(size_t active, size_t failed, bool outOfReach = false);

private:
    void refresh();
    void tellNewFailures();
    void forgetGoneFailures();
    // Tells the receivers that stopped answering, and those back, once each.
    void tellReach(bool anyOutOfReach);

    AppState& state_;
    QLabel* count_ = nullptr;
    QPushButton* clear_ = nullptr;
    RowActionList* list_ = nullptr;
    QueueListModel* model_ = nullptr;
    QueueRowDelegate* delegate_ = nullptr;
    Announcer* announcer_ = nullptr;
    Announcer* reachAnnouncer_ = nullptr;
    // The receivers (by name) whose files wait for them to answer, as last told.
    std::set<std::string> outOfReach_;
    // The ids of the failed tasks already told, pruned to the tasks listed once rows went.
    std::set<std::string> told_;
    bool rowsWent_ = false;
};

}  // namespace corvane
