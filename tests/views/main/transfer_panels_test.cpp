// The send-queue and receive panels: whole percents without overflow, the
// queue's header, row texts per state, cancel and clearing through the
// delegate, progress ticks that never reset the list, the list's height; the
// receive rows' texts, in-place updates keyed by id, and the 148 px cap.
#include <limits>

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "views/announcer.h"
#include "views/main/detail_view.h"
#include "views/main/file_area.h"
#include "views/main/queue_list_model.h"
#include "views/main/queue_panel.h"
#include "views/main/queue_row_delegate.h"
#include "views/main/recv_panel.h"
#include "views/main/transfer_progress.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(TransferProgress, wholePercentsAreTruncatedIntegersThatNeverOverflow) {
    struct Case {
        int64_t sent;
        int64_t total;
        bool capped;
        int64_t percent;
    };
    const Case cases[] = {
        {29, 100, true, 29},  // 0.29 × 100 in floating point gives 28
        {57, 100, false, 57},
        {0, 0, true, 0},
        {5, 0, false, 0},
        {5, -3, false, 0},
        {-5, 100, true, 0},
        {999, 1000, true, 99},
        {150, 100, true, 100},
        {150, 100, false, 150},
        {kMax / 2, kMax, true, 49},  // sent × 100 is beyond 64 bits
        {kMax, kMax, true, 100},
        {kMax, 1, false, kMax},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wholePercent(c.sent, c.total, c.capped), c.percent) << c.sent << " of " << c.total;
    }
    EXPECT_DOUBLE_EQ(progressFraction(5, 0, true), 0.0);
    EXPECT_DOUBLE_EQ(progressFraction(150, 100, true), 1.0);
    EXPECT_DOUBLE_EQ(progressFraction(150, 100, false), 1.5);
}

TEST(TransferProgress, theBarClampsWhatQProgressBarWouldIgnore) {
    ProgressLine bar;
    bar.setFraction(0.5);
    EXPECT_EQ(bar.value(), 500);
    bar.setFraction(1.5);
    EXPECT_EQ(bar.value(), 1000);
    bar.setFraction(-1);
    EXPECT_EQ(bar.value(), 0);
}

class QueuePanelTest : public test::ViewsTest {
protected:
    QueuePanelTest() : panel(*state) {
        panel.resize(700, 200);
        panel.show();
        settle();
    }

    std::shared_ptr<TransferTask> add(const std::string& name, int64_t size, TransferState st = TransferState::running(),
                                      int64_t sent = 0, double speed = 0) {
        auto task = std::make_shared<TransferTask>(name, "", size, box / name, std::nullopt);
        task->state = st;
        task->sent = sent;
        task->speed = speed;
        state->uploader().append({task});
        Q_EMIT state->uploaderChanged();
        return task;
    }
    QString rowText(int row) {
        return panel.model()->data(panel.model()->index(row), Qt::AccessibleTextRole).toString();
    }
    QString count() { return child<QLabel>(panel, "queueCount")->text(); }
    bool clearShown() { return child<QPushButton>(panel, "queueClear")->isVisible(); }
    QRect rowRect(int row) { return panel.list()->visualRect(panel.model()->index(row)); }

    QueuePanel panel;
};

TEST_F(QueuePanelTest, theHeaderCountsActiveTasksAndOffersClearingOnceOneEnded) {
    add("a.txt", 10, TransferState::waiting());
    add("b.txt", 10, TransferState::finishing());
    EXPECT_EQ(count(), QStringLiteral("2 个进行中"));
    EXPECT_FALSE(clearShown());
    for (const auto& task : state->uploader().tasks()) task->state = TransferState::done();
    Q_EMIT state->uploaderChanged();
    EXPECT_EQ(count(), QStringLiteral("全部完成"));
    EXPECT_TRUE(clearShown());
    QTest::mouseClick(child<QPushButton>(panel, "queueClear"), Qt::LeftButton);
    EXPECT_TRUE(state->uploader().tasks().empty());
    EXPECT_EQ(panel.model()->rowCount(), 0);
}

TEST_F(QueuePanelTest, rowTextsPerState) {
    struct Case {
        const char* name;
        int64_t size;
        TransferState state;
        int64_t sent;
        const char* text;
        const char* symbol;
    };
    const Case cases[] = {
        {"w.bin", 100, TransferState::waiting(), 0, "w.bin · 等待中 · — · 0%", "arrow.up.circle"},
        {"r.bin", 100, TransferState::running(), 29, "r.bin · 传输中 · — · 29%", "arrow.up.circle"},
        {"m.bin", 100, TransferState::finishing(), 100, "m.bin · 合并中 · — · 100%", "arrow.triangle.merge"},
        {"zero.bin", 0, TransferState::done(), 0, "zero.bin · 已完成 · 0%", "checkmark.circle.fill"},
        {"zero-run.bin", 0, TransferState::running(), 5, "zero-run.bin · 传输中 · — · 0%", "arrow.up.circle"},
        {"over.bin", 100, TransferState::done(), 250, "over.bin · 已完成 · 100%", "checkmark.circle.fill"},
        {"c.bin", 100, TransferState::cancelled(), 40, "c.bin · 已取消 · 40%", "slash.circle"},
        {"f.bin", 100, TransferState::failed("磁盘已满"), 40, "f.bin · 失败：磁盘已满 · 40%",
         "exclamationmark.triangle.fill"},
        {"<b>R&D</b>.txt", 100, TransferState::done(), 100, "<b>R&D</b>.txt · 已完成 · 100%", "checkmark.circle.fill"},
    };
    for (const Case& c : cases) add(c.name, c.size, c.state, c.sent);
    for (int row = 0; row < int(std::size(cases)); ++row) {
        EXPECT_EQ(rowText(row), QString::fromUtf8(cases[row].text));
        EXPECT_EQ(panel.model()->data(panel.model()->index(row), Qt::DisplayRole).toString(),
                  QString::fromUtf8(cases[row].name));
        EXPECT_EQ(QueueListModel::look(cases[row].state).symbol, cases[row].symbol) << cases[row].name;
    }
    EXPECT_EQ(QueueListModel::look(TransferState::failed("x")).color, Theme::tint(Tint::red));
    EXPECT_EQ(QueueListModel::look(TransferState::done()).color, Theme::tint(Tint::green));
    EXPECT_EQ(QueueListModel::look(TransferState::waiting()).color, QueueListModel::look(TransferState::running()).color);
    // A row of a hundred megabytes a second shows its speed while active.
    auto fast = add("fast.bin", 1000, TransferState::running(), 500, 100.0 * 1024 * 1024);
    EXPECT_TRUE(rowText(int(std::size(cases))).contains(QStringLiteral("/s · 50%")));
    // Once its bytes stop moving the queue sets its speed to 0: the row shows "—", not the old rate.
    fast->speed = 0;
    Q_EMIT state->uploaderChanged();
    EXPECT_EQ(rowText(int(std::size(cases))), QStringLiteral("fast.bin · 传输中 · — · 50%"));
}

// The row once read "失败：Couldn't connect to server", libcurl's English in a Chinese window.
TEST_F(QueuePanelTest, aSendToAClosedPortShowsThePlatformsChineseText) {
    test::writeFile(box / "outbox" / "a.txt", "a");
    state->setTarget(Target::of(test::viewPeer("dead", "Dead", "", "127.0.0.1", 1)));  // nothing listens there
    state->send({box / "outbox" / "a.txt"});
    const auto& tasks = state->uploader().tasks();
    ASSERT_TRUE(test::qtWaitFor([&] { return !tasks.empty() && !tasks[0]->state.active(); }));
    settle();
    EXPECT_EQ(rowText(0), QStringLiteral("a.txt · 失败：未能连接到服务器。 · 0%"));
}

// A receiver out of reach read "等待中 · — · 0%" under "4 个进行中" for minutes, with no word
// that it could not be reached or that the queue would try again. Each step marks which
// tasks wait for their receiver (and their states), then reads the header, the first
// row and what was told since the last step ("": nothing).
TEST_F(QueuePanelTest, filesWaitingForAReceiverOutOfReachSaySoAndItsLossAndReturnAreToldOnce) {
    std::vector<std::shared_ptr<TransferTask>> tasks;
    for (int k = 0; k < 4; ++k) {
        const std::string name = k < 3 ? "Mac" : "PC";
        tasks.push_back(std::make_shared<TransferTask>("p" + std::to_string(k) + ".jpg", "", 100, box / "p.jpg",
                                                       test::viewPeer("dev-" + name, name)));
    }
    tasks[0]->state = TransferState::running();
    state->uploader().append(tasks);
    struct Step {
        std::vector<bool> outOfReach;
        TransferState first;
        TransferState last;
        const char* header;
        const char* row;
        const char* told;
    };
    const TransferState waiting = TransferState::waiting();
    const Step steps[] = {
        {{false, false, false, false}, TransferState::running(), waiting, "4 个进行中", "p0.jpg · 传输中 · — · 0%", ""},
        {{true, true, true, false}, waiting, waiting, "4 个进行中 · 对方无法连接，将自动重试", "p0.jpg · 等待重连 · — · 0%",
         "无法连接「Mac」，将自动重试"},
        {{true, true, true, false}, waiting, waiting, "4 个进行中 · 对方无法连接，将自动重试", "p0.jpg · 等待重连 · — · 0%", ""},
        {{true, true, true, true}, waiting, waiting, "4 个进行中 · 对方无法连接，将自动重试", "p0.jpg · 等待重连 · — · 0%",
         "无法连接「PC」，将自动重试"},
        {{false, false, false, true}, TransferState::running(), waiting, "4 个进行中 · 对方无法连接，将自动重试",
         "p0.jpg · 传输中 · — · 0%", "已重新连接「Mac」，继续发送"},
        // Given up on: its file fails, told as a failure, not as the receiver back.
        {{false, false, false, false}, TransferState::running(), TransferState::failed("请求超时。"), "3 个进行中",
         "p0.jpg · 传输中 · — · 0%", ""},
    };
    int told = panel.reachAnnouncer()->toldCount();
    for (const Step& step : steps) {
        for (size_t k = 0; k < tasks.size(); ++k) tasks[k]->receiverOutOfReach = step.outOfReach[k];
        tasks[0]->state = step.first;
        tasks[3]->state = step.last;
        Q_EMIT state->uploaderChanged();
        settle();
        EXPECT_EQ(count(), QString::fromUtf8(step.header)) << step.told;
        EXPECT_EQ(rowText(0), QString::fromUtf8(step.row)) << step.told;
        EXPECT_EQ(panel.reachAnnouncer()->toldCount() - told, *step.told ? 1 : 0) << step.told;
        if (*step.told) {
            EXPECT_EQ(panel.reachAnnouncer()->text(), QString::fromUtf8(step.told));
        }
        told = panel.reachAnnouncer()->toldCount();
    }
}

// A screen reader's walk of the window took 1.2-1.5 s with a folder of 3,000 files queued:
// the queue's list held an accessible object for every task. It holds the rows on screen.
TEST_F(QueuePanelTest, aReaderMeetsOnlyTheRowsOnScreenHoweverManyAreQueued) {
    std::vector<std::shared_ptr<TransferTask>> tasks;
    for (int k = 0; k < 3000; ++k) {
        tasks.push_back(std::make_shared<TransferTask>("f" + std::to_string(k) + ".bin", "", 100, box / "f.bin",
                                                       std::nullopt));
    }
    state->uploader().append(tasks);
    Q_EMIT state->uploaderChanged();
    settle();
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(panel.list());
    ASSERT_NE(rows, nullptr);
    const int onScreen = QueuePanel::maxListHeight / panel.delegate()->rowHeight() + 1;
    EXPECT_GT(rows->childCount(), 0);
    EXPECT_LE(rows->childCount(), onScreen);
    EXPECT_TRUE(rows->child(0)->text(QAccessible::Name).startsWith(QStringLiteral("f0.bin · ")));
    EXPECT_EQ(rows->indexOfChild(rows->child(1)), 1);
    panel.list()->scrollToBottom();
    settle();
    EXPECT_LE(rows->childCount(), onScreen);
    EXPECT_TRUE(rows->child(rows->childCount() - 1)->text(QAccessible::Name).startsWith(QStringLiteral("f2999.bin · ")));
    EXPECT_EQ(rows->indexOfChild(rows->child(0)), 0);
}

TEST_F(QueuePanelTest, progressTicksChangeOnlyTheirRowAndNeverResetTheList) {
    auto a = add("a.bin", 100);
    auto b = add("b.bin", 100);
    QSignalSpy resets(panel.model(), &QAbstractItemModel::modelReset);
    QSignalSpy changes(panel.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy inserts(panel.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removes(panel.model(), &QAbstractItemModel::rowsRemoved);
    b->sent = 40;
    Q_EMIT state->uploaderChanged();
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).value<QModelIndex>().row(), 1);
    Q_EMIT state->uploaderChanged();  // nothing changed: nothing announced
    EXPECT_EQ(changes.count(), 1);
    add("c.bin", 100);
    EXPECT_EQ(inserts.count(), 1);
    a->state = TransferState::done();
    Q_EMIT state->uploaderChanged();
    state->uploader().clearFinished();
    EXPECT_EQ(removes.count(), 1);
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(panel.model()->rowCount(), 2);
    EXPECT_EQ(panel.model()->row(0).task, b);
}

TEST_F(QueuePanelTest, cancelRunsFromTheEventLoopAndKeepsTheRow) {
    auto running = add("run.bin", 100, TransferState::running(), 10, 2048);
    add("other.bin", 100);
    const QRect button = QueueRowDelegate::cancelRect(rowRect(0));
    QTest::mouseClick(panel.list()->viewport(), Qt::LeftButton, {}, button.center());
    EXPECT_TRUE(running->state.active()) << "the cancel waits for the event loop";
    settle();
    EXPECT_EQ(running->state.kind, TransferState::Kind::cancelled);
    EXPECT_EQ(panel.model()->rowCount(), 2);
    EXPECT_EQ(rowText(0), QStringLiteral("run.bin · 已取消 · 10%"));
    // An ended row has no button: a second click there does nothing.
    QTest::mouseClick(panel.list()->viewport(), Qt::LeftButton, {}, button.center());
    settle();
    EXPECT_EQ(running->state.kind, TransferState::Kind::cancelled);
    EXPECT_TRUE(state->uploader().tasks()[1]->state.active());
    // A press outside the button cancels nothing.
    QTest::mouseClick(panel.list()->viewport(), Qt::LeftButton, {}, rowRect(1).center());
    settle();
    EXPECT_TRUE(state->uploader().tasks()[1]->state.active());
}

TEST_F(QueuePanelTest, theListGrowsWithItsRowsUpTo148) {
    add("one.bin", 1);
    const int row = panel.delegate()->rowHeight();
    EXPECT_EQ(panel.list()->height(), row);
    for (int k = 0; k < 30; ++k) add("f" + std::to_string(k), 1);
    EXPECT_EQ(panel.list()->height(), QueuePanel::maxListHeight);
}

TEST_F(QueuePanelTest, rowsSpanTheWholeListWhileItScrolls) {
    for (int k = 0; k < 30; ++k) add("f" + std::to_string(k), 1);
    ASSERT_TRUE(test::qtWaitFor([&] { return panel.list()->verticalScrollBar()->isVisible(); }));
    EXPECT_EQ(rowRect(0).width(), panel.list()->width());
}

// A send that failed was never heard, and the header read "全部完成" with 2 of 20 files failed;
// two failures in the same moment were heard as the second one twice.
// Each step changes task states and then reads the header, the alerts shown since the last
// step as a reader reads them afterwards, whether the last failed row is in view and where
// the keys are.
TEST_F(QueuePanelTest, aFailureIsToldOnceInTheRowsWordsAndNeverCountedAsDone) {
    for (int k = 0; k < 20; ++k) add("f" + std::to_string(k) + ".bin", 100);
    QPushButton* keysHere = child<QPushButton>(panel, "queueClear");
    keysHere->setVisible(true);
    keysHere->setFocus();
    const auto& tasks = state->uploader().tasks();
    struct Step {
        std::vector<std::pair<int, TransferState>> changes;
        const char* header;
        std::vector<const char*> told;
    };
    const TransferState busy = TransferState::failed("对方正忙，请稍后再发");
    const TransferState changed = TransferState::failed("文件在发送过程中被修改");
    const Step steps[] = {
        {{{19, busy}}, "19 个进行中", {"f19.bin · 失败：对方正忙，请稍后再发"}},
        {{}, "19 个进行中", {}},  // drawn again: told once
        {{{3, changed}, {4, TransferState::cancelled()}}, "17 个进行中", {"f3.bin · 失败：文件在发送过程中被修改"}},
        {{{5, changed}, {6, busy}}, "15 个进行中",
         {"f5.bin · 失败：文件在发送过程中被修改", "f6.bin · 失败：对方正忙，请稍后再发"}},
        {{{0, TransferState::done()}}, "14 个进行中", {}},
    };
    for (const Step& step : steps) {
        const test::TellsHeard heard(panel);
        // Each change its own notice, all in the same moment, as two files failing together come.
        for (const auto& [index, st] : step.changes) {
            tasks[size_t(index)]->state = st;
            Q_EMIT state->uploaderChanged();
        }
        if (step.changes.empty()) Q_EMIT state->uploaderChanged();
        settle();
        EXPECT_EQ(count(), QString::fromUtf8(step.header));
        QStringList wanted;
        for (const char* told : step.told) wanted << QString::fromUtf8(told);
        EXPECT_EQ(heard.alerts(), wanted) << count().toStdString();
        EXPECT_EQ(QApplication::focusWidget(), keysHere) << count().toStdString();
    }
    const QRect lastFailed = rowRect(6);
    EXPECT_TRUE(panel.list()->viewport()->rect().contains(lastFailed)) << "the last failed row is out of view";
    // Once nothing is active the header counts the failures; without any it reads 全部完成.
    for (const auto& task : tasks) {
        if (task->state.active()) task->state = TransferState::done();
    }
    const int told = panel.announcer()->toldCount();
    Q_EMIT state->uploaderChanged();
    EXPECT_EQ(count(), QStringLiteral("4 个失败"));
    EXPECT_EQ(panel.announcer()->toldCount(), told) << "nothing new failed";
    state->uploader().clearFinished();
    Q_EMIT state->uploaderChanged();
    add("again.bin", 10, TransferState::done());
    EXPECT_EQ(count(), QStringLiteral("全部完成"));
}

class RecvPanelTest : public test::ViewsTest {
protected:
    RecvPanelTest() : pane(*state) {
        pane.resize(787, 700);
        pane.show();
        settle();
    }
    RecvPanel* panel() { return pane.receivePanelSlot()->findChild<RecvPanel*>(); }
    QStringList labels(RecvRow* row) {
        QStringList out;
        for (QLabel* label : row->findChildren<QLabel*>()) {
            if (!qobject_cast<SymbolLabel*>(label)) out << label->text();
        }
        return out;
    }

    DetailView pane;
};

TEST_F(RecvPanelTest, rowTextsFollowTheItem) {
    struct Case {
        AppState::RecvItem item;
        const char* sender;
        const char* status;
        bool bar;
    };
    const Case cases[] = {
        {{"r1", "a.bin", 200, 58, 0, "Mac", "接收中"}, "来自 Mac", "29% · —", true},
        {{"r2", "b.bin", 100, 10, 0, "", "接收中"}, "来自 局域网设备", "10% · —", true},
        {{"r3", "c.bin", 0, 0, 0, "Mac", "接收中"}, "来自 Mac", "0% · —", true},
        {{"r4", "d.bin", 1536, 1536, 0, "Mac", "已完成"}, "来自 Mac", "✓ 1.50 KB", false},
        {{"r5", "e.bin", 100, 100, 0, "Mac", "完成"}, "来自 Mac", "100% · —", true},
        {{"r6", "f.bin", 100, 250, 0, "Mac", "接收中"}, "来自 Mac", "250% · —", true},
        {{"r7", "<i>x&y</i>", 1, 0, 0, "<b>A&B</b>", "接收中"}, "来自 <b>A&B</b>", "0% · —", true},
    };
    for (const Case& c : cases) {
        state->setRecvTasks({c.item});
        RecvRow* row = panel()->row(c.item.id);
        ASSERT_NE(row, nullptr) << c.item.id;
        EXPECT_EQ(row->objectName(), QString::fromStdString("recvRow:" + c.item.id));
        const QStringList texts = labels(row);
        EXPECT_TRUE(texts.contains(QString::fromStdString(c.item.name))) << texts.join(u'|').toStdString();
        EXPECT_TRUE(texts.contains(QString::fromUtf8(c.sender))) << texts.join(u'|').toStdString();
        EXPECT_TRUE(texts.contains(QString::fromUtf8(c.status))) << texts.join(u'|').toStdString();
        auto* bar = row->findChild<ProgressLine*>();
        EXPECT_EQ(bar->isVisibleTo(row), c.bar) << c.item.id;
        const QString icon = row->findChild<SymbolLabel*>()->palette().color(QPalette::WindowText).name();
        EXPECT_EQ(icon, (c.bar ? Theme::tint(Tint::accent) : Theme::tint(Tint::green)).name()) << c.item.id;
    }
}

TEST_F(RecvPanelTest, rowsAreKeptByIdAndAnEqualListChangesNothing) {
    state->setRecvTasks({{"r1", "a.bin", 100, 10, 0, "Mac", "接收中"}, {"r2", "b.bin", 100, 10, 0, "Mac", "接收中"}});
    RecvRow* first = panel()->row("r1");
    RecvRow* second = panel()->row("r2");
    QSignalSpy renamed(first, &QObject::objectNameChanged);
    state->setRecvTasks(state->recvTasks());  // the poll republishes an equal list
    EXPECT_EQ(renamed.count(), 0);
    state->setRecvTasks({{"r2", "b.bin", 100, 90, 0, "Mac", "接收中"}});
    EXPECT_EQ(panel()->row("r2"), second);
    EXPECT_TRUE(labels(second).contains(QStringLiteral("90% · —")));
    EXPECT_EQ(panel()->row("r1"), nullptr);
    EXPECT_FALSE(first->isVisible());
}

TEST_F(RecvPanelTest, manyRowsAreClippedAt148AndTheFileAreaKeepsItsRoom) {
    state->setRecvTasks({{"r0", "a.bin", 100, 10, 0, "Mac", "接收中"}});
    settle();
    const int fileArea = pane.fileArea()->height();
    std::vector<AppState::RecvItem> many;
    for (int k = 0; k < 20; ++k) many.push_back({"r" + std::to_string(k), "a.bin", 100, 10, 0, "Mac", "接收中"});
    state->setRecvTasks(many);
    settle();
    EXPECT_EQ(panel()->height(), RecvPanel::maxHeight);
    EXPECT_EQ(pane.receivePanelSlot()->height(), RecvPanel::maxHeight);
    EXPECT_GT(pane.fileArea()->height(), fileArea - RecvPanel::maxHeight);
    EXPECT_GE(pane.fileArea()->height(), 200);
    EXPECT_GT(panel()->row("r19")->geometry().top(), RecvPanel::maxHeight) << "the rows past the edge are clipped";
}

TEST_F(RecvPanelTest, panelsAndTheirDividersFollowTheirLists) {
    EXPECT_FALSE(pane.receivePanelSlot()->isVisible());
    EXPECT_FALSE(pane.queuePanelSlot()->isVisible());
    state->setRecvTasks({{"r1", "a.bin", 100, 10, 0, "Mac", "接收中"}});
    EXPECT_TRUE(panel()->isVisible());
    auto task = std::make_shared<TransferTask>("x.bin", "", 1, box / "x.bin", std::nullopt);
    state->uploader().append({task});
    Q_EMIT state->uploaderChanged();
    auto* queue = pane.queuePanelSlot()->findChild<QueuePanel*>();
    ASSERT_NE(queue, nullptr);
    EXPECT_TRUE(queue->isVisible());
    EXPECT_EQ(queue->model()->rowCount(), 1);
    state->setRecvTasks({});
    EXPECT_FALSE(pane.receivePanelSlot()->isVisible());
}

}  // namespace
}  // namespace corvane
