// File rows and queue rows without a mouse: the keys that run a row's actions,
// the menu of them, the focus ring, a click that gives the list the keys, a new
// listing that keeps them on the row, and what a screen reader is given: each
// row's actions, and a queue row's name and progress told together.
#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "views/pixel_probes.h"
#include "views/main/file_area.h"
#include "views/main/file_list_model.h"
#include "views/main/file_row_delegate.h"
#include "views/main/queue_list_model.h"
#include "views/main/queue_panel.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

// A row's own actions, as a screen reader lists them; "SetFocus", which every focusable
// object offers, left out.
QStringList ownActions(QAccessibleInterface* row) {
    QStringList names = row->actionInterface()->actionNames();
    names.removeAll(QAccessibleActionInterface::setFocusAction());
    return names;
}

QStringList menuTexts(const RowActionList& list) {
    QStringList texts;
    if (auto* menu = qobject_cast<QMenu*>(list.openMenu())) {
        for (const QAction* action : menu->actions()) texts << action->text();
    }
    return texts;
}

class FileRowKeysTest : public test::ViewsTest {
protected:
    FileRowKeysTest() : layout(&window), area(new FileArea(*state)), button(new QPushButton(QStringLiteral("别处"))) {
        layout.addWidget(button);
        layout.addWidget(area);
        window.resize(760, 480);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        test::writeFile(state->root() / "a.txt", "a");
        test::writeFile(state->root() / "b.txt", "b");
        test::writeFile(state->root() / "c.txt", "c");
        // A listing of the state's own under way would replace the rows set below.
        EXPECT_TRUE(test::qtWaitFor([&] { return !state->loadingFiles(); }, std::chrono::seconds(10)));
        state->setFiles({{"a.txt", "a.txt", 1, 0}, {"b.txt", "b.txt", 1, 0}, {"c.txt", "c.txt", 1, 0}});
        settle();
    }

    FileListView* list() const { return area->list(); }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(list(), key, modifiers); }
    int current() const { return list()->currentIndex().row(); }

    QWidget window;
    QVBoxLayout layout;
    FileArea* area;
    QPushButton* button;
};

TEST_F(FileRowKeysTest, tabReachesTheListAndReturnDeleteAndTheMenuActOnTheRowTheArrowsReached) {
    button->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), list());
    EXPECT_EQ(current(), 0);
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    EXPECT_TRUE(openedPaths.empty()) << "the action waits for the event loop";
    settle();
    EXPECT_EQ(openedPaths, std::vector<std::filesystem::path>{state->root() / "b.txt"});
    key(Qt::Key_Down);
    key(Qt::Key_Enter, Qt::KeypadModifier);
    settle();
    ASSERT_EQ(openedPaths.size(), 2u);
    EXPECT_EQ(openedPaths.back(), state->root() / "c.txt");

    const QStringList names{QStringLiteral("打开"), QStringLiteral("在文件管理器中显示"), QStringLiteral("删除")};
    for (const auto& [menuKey, modifiers] : {std::pair{Qt::Key_Menu, Qt::NoModifier}, {Qt::Key_F10, Qt::ShiftModifier}}) {
        key(menuKey, modifiers);
        ASSERT_EQ(menuTexts(*list()), names) << menuKey;
        list()->openMenu()->close();
        settle();
    }
    key(Qt::Key_F10);  // without Shift it is not the menu's
    EXPECT_EQ(list()->openMenu(), nullptr);
    key(Qt::Key_Menu);
    qobject_cast<QMenu*>(list()->openMenu())->actions().at(1)->trigger();
    EXPECT_TRUE(revealed.empty()) << "the action waits for the event loop";
    settle();
    EXPECT_EQ(revealed, std::vector<std::filesystem::path>{state->root() / "c.txt"});

    key(Qt::Key_Up);
    key(Qt::Key_Delete);
    ASSERT_TRUE(test::qtWaitFor([&] { return !std::filesystem::exists(state->root() / "b.txt"); },
                                std::chrono::seconds(10)));
    EXPECT_TRUE(std::filesystem::exists(state->root() / "a.txt"));
    EXPECT_TRUE(std::filesystem::exists(state->root() / "c.txt"));
}

TEST_F(FileRowKeysTest, aNewListingKeepsTheKeysOnTheirFileOrWhereItWas) {
    list()->setFocus(Qt::TabFocusReason);
    key(Qt::Key_Down);
    ASSERT_EQ(current(), 1);
    state->setFiles({{"new.txt", "new.txt", 1, 0}, {"a.txt", "a.txt", 1, 0}, {"b.txt", "b.txt", 1, 0}});
    settle();
    EXPECT_EQ(area->model()->item(current()).path, "b.txt");
    state->setFiles({{"a.txt", "a.txt", 1, 0}, {"c.txt", "c.txt", 1, 0}, {"d.txt", "d.txt", 1, 0}});
    settle();
    EXPECT_EQ(current(), 2) << "b.txt went: the keys stay at its place";
}

TEST_F(FileRowKeysTest, aClickOnARowGivesTheListTheKeysOnThatRowSoSpaceNeverPressesTheButton) {
    int presses = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++presses; });
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(presses, 1);
    ASSERT_EQ(QApplication::focusWidget(), button);
    for (const int row : {2, 1}) {
        const QRect rect = list()->visualRect(area->model()->index(row));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, FileRowDelegate::nameRect(rect).center());
        EXPECT_EQ(QApplication::focusWidget(), list());
        EXPECT_EQ(current(), row);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(presses, 1);
    }
    // A click on a row's button gives the keys to that row too.
    const QRect first = list()->visualRect(area->model()->index(0));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, FileRowDelegate::buttonRect(first, 1).center());
    EXPECT_EQ(current(), 0);
    settle();
    EXPECT_EQ(revealed, std::vector<std::filesystem::path>{state->root() / "a.txt"});
}

TEST_F(FileRowKeysTest, theRowTheKeysReachedHasTheFocusRingAndItsButtons) {
    const auto accentIn = [&](int row) {
        const QRect rect = list()->visualRect(area->model()->index(row)).translated(list()->viewport()->pos());
        return test::countPixels(test::rendered(list()), rect, test::isAccent);
    };
    const auto inkOfButtons = [&](int row) {
        const QRect rect = list()->visualRect(area->model()->index(row)).translated(list()->viewport()->pos());
        const QRect column = FileRowDelegate::buttonColumn(rect);
        return test::countPixels(test::rendered(list()), column, [](QRgb pixel) { return qGray(pixel) < 200; });
    };
    const int plain = accentIn(0);
    EXPECT_EQ(inkOfButtons(0), 0);
    button->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), list());
    EXPECT_GT(accentIn(0), plain + 40);
    EXPECT_GT(inkOfButtons(0), 20);
    key(Qt::Key_Down);
    EXPECT_GT(accentIn(1), plain + 40);
    EXPECT_LE(accentIn(0), plain) << "the ring left the row above";
    EXPECT_EQ(inkOfButtons(0), 0);
}

TEST_F(FileRowKeysTest, aScreenReaderFindsEachRowsActionsNamedAsItsButtons) {
    QAccessibleInterface* listItem = QAccessible::queryAccessibleInterface(list());
    ASSERT_NE(listItem, nullptr);
    EXPECT_EQ(listItem->role(), QAccessible::List);
    ASSERT_EQ(listItem->childCount(), 3);
    QAccessibleInterface* row = listItem->child(1);
    EXPECT_EQ(row->role(), QAccessible::ListItem);
    EXPECT_EQ(row->text(QAccessible::Name), area->model()->data(area->model()->index(1), Qt::AccessibleTextRole));
    EXPECT_EQ(listItem->indexOfChild(row), 1);
    EXPECT_EQ(listItem->child(1), row) << "one item per row, kept";
    ASSERT_NE(row->actionInterface(), nullptr);
    EXPECT_EQ(ownActions(row),
              (QStringList{QStringLiteral("打开"), QStringLiteral("在文件管理器中显示"), QStringLiteral("删除")}));
    EXPECT_EQ(row->actionInterface()->keyBindingsForAction(QStringLiteral("删除")), QStringList{QStringLiteral("Del")});

    list()->setFocus(Qt::TabFocusReason);
    list()->setCurrentIndex(area->model()->index(1));
    EXPECT_TRUE(row->state().focused);
    EXPECT_EQ(listItem->focusChild(), row);
    listItem->child(1)->actionInterface()->doAction(QStringLiteral("打开"));
    EXPECT_TRUE(openedPaths.empty()) << "the action waits for the event loop";
    settle();
    EXPECT_EQ(openedPaths, std::vector<std::filesystem::path>{state->root() / "b.txt"});

    area->model()->setFiles({{"x/report.pdf", "report.pdf", 10, 0}}, true);
    ASSERT_EQ(listItem->childCount(), 1);
    ASSERT_NE(listItem->child(0)->actionInterface(), nullptr);
    EXPECT_EQ(ownActions(listItem->child(0)),
              (QStringList{QStringLiteral("下载到本机"), QStringLiteral("下载并用默认程序打开"), QStringLiteral("删除")}));
}

class QueueRowKeysTest : public test::ViewsTest {
protected:
    QueueRowKeysTest() : panel(*state) {
        panel.resize(700, 200);
        panel.show();
        panel.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&panel));
        settle();
    }

    std::shared_ptr<TransferTask> add(const std::string& name, TransferState st, int64_t sent = 0) {
        auto task = std::make_shared<TransferTask>(name, "", 100, box / name, std::nullopt);
        task->state = st;
        task->sent = sent;
        state->uploader().append({task});
        Q_EMIT state->uploaderChanged();
        return task;
    }
    void key(Qt::Key key) { QTest::keyClick(panel.list(), key); }

    QueuePanel panel;
};

TEST_F(QueueRowKeysTest, anActiveRowCancelsByDeleteOrItsMenuAndAnEndedRowOffersNothing) {
    auto first = add("a.bin", TransferState::running(), 10);
    auto second = add("b.bin", TransferState::waiting());
    add("c.bin", TransferState::done(), 100);
    panel.list()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(panel.list()->currentIndex().row(), 0) << "rows that came while the list held the keys";
    key(Qt::Key_Delete);
    EXPECT_TRUE(first->state.active()) << "the cancel waits for the event loop";
    settle();
    EXPECT_EQ(first->state.kind, TransferState::Kind::cancelled);
    EXPECT_EQ(panel.list()->openMenu(), nullptr);

    key(Qt::Key_Down);
    key(Qt::Key_Menu);
    ASSERT_EQ(menuTexts(*panel.list()), QStringList{QStringLiteral("取消")});
    qobject_cast<QMenu*>(panel.list()->openMenu())->actions().at(0)->trigger();
    panel.list()->openMenu()->close();
    settle();
    EXPECT_EQ(second->state.kind, TransferState::Kind::cancelled);

    key(Qt::Key_Down);
    key(Qt::Key_Menu);
    EXPECT_EQ(panel.list()->openMenu(), nullptr) << "a done row has nothing to offer";
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(panel.list());
    EXPECT_TRUE(ownActions(rows->child(2)).isEmpty());
    EXPECT_EQ(ownActions(rows->child(1)), QStringList{}) << "cancelled: nothing left";
    EXPECT_EQ(ownActions(rows->child(0)), QStringList{});
}

// The bar offered Increase and Decrease to a reader: the bridge offers them on any value.
TEST_F(QueueRowKeysTest, aRowsNameAndItsBarShowThePaintedPercentAfterEveryTickAndTheBarOffersNothing) {
    auto task = add("a.bin", TransferState::running(), 44);
    auto waiting = add("b.bin", TransferState::waiting());
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(panel.list());
    EXPECT_EQ(ownActions(rows->child(1)), QStringList{QStringLiteral("取消")});
    QAccessibleInterface* row = rows->child(0);
    ASSERT_EQ(row->childCount(), 1);
    QAccessibleInterface* bar = row->child(0);
    EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
    EXPECT_EQ(bar->text(QAccessible::Name), QStringLiteral("发送进度"));
    EXPECT_EQ(bar->parent(), row);
    EXPECT_EQ(bar->valueInterface(), nullptr) << "a value to set offers Increase and Decrease";
    EXPECT_EQ(bar->actionInterface(), nullptr);
    for (const auto& [sent, shown] : {std::pair<int64_t, int>{44, 44}, {51, 51}, {100, 100}, {250, 100}}) {
        task->sent = sent;
        Q_EMIT state->uploaderChanged();
        EXPECT_EQ(QueueListModel::percentText(panel.model()->row(0)), QString::number(shown) + QLatin1Char('%'));
        EXPECT_EQ(row->text(QAccessible::Name), QStringLiteral("a.bin · 传输中 · — · %1%").arg(shown));
        EXPECT_EQ(bar->text(QAccessible::Description), QString::number(shown) + QLatin1Char('%')) << sent;
    }
    EXPECT_EQ(rows->child(0), row) << "a tick keeps the row's item, so what a reader holds is told";
}

}  // namespace
}  // namespace corvane
