// The keyboard in every sheet, the chat window, the team panel and the alerts:
// Return presses whichever push button has the focus (and only that one), and
// Tab, Shift+Tab or a wrap round the last stop never leaves the focused control
// outside the visible part of the scroll area that holds it.
#include <functional>
#include <memory>

#include <QApplication>
#include <QAbstractItemView>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>

#include "views/alert.h"
#include "views/focus_probes.h"
#include "views/main/chat_view.h"
#include "views/main/sidebar_view.h"
#include "views/sheets/burn_sheet.h"
#include "views/sheets/diag_sheet.h"
#include "views/sheets/fake_feedback_submitter.h"
#include "views/sheets/feedback_sheet.h"
#include "views/sheets/pin_sheet.h"
#include "views/sheets/settings_sheet.h"
#include "views/sheets/sheets_fixture.h"
#include "views/sheets/text_sheet.h"
#include "views/sheets/welcome_sheet.h"
#include "views/team/team_panel.h"
#include "views/text_prompt.h"

namespace corvane::test {
namespace {

using Make = std::function<QWidget*()>;

class KeyboardTest : public SheetsTest {
protected:
    KeyboardTest() : updater(offlineUpdaterOptions()) {
        qputenv("CORVANE_NO_ANIM", "1");
        state->setDeviceName("工作站");
        state->setLocalIPs({"192.168.1.5"});
        std::vector<Peer> peers;
        for (int i = 0; i < 12; ++i) peers.push_back(viewPeer("p" + std::to_string(i), "设备 " + std::to_string(i)));
        state->setPeers(peers);
        state->sendChat("在吗", false);  // the chat window shows "清空记录"
    }
    ~KeyboardTest() override { qunsetenv("CORVANE_NO_ANIM"); }

    // The window shown and active (focus changes of an inactive window reach nobody).
    static void present(QWidget& window) {
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(qtWaitFor([&] { return window.isActiveWindow(); }));
        settle();
    }

    // Every dialog with buttons a person can reach by Tab.
    std::vector<std::pair<const char*, Make>> dialogs() {
        return {
            {"welcome", [&] { return new WelcomeSheet(*state, nullptr); }},
            {"pin", [&] { return new PINSheet(*state, viewPeer("p1", "剪辑主机"), nullptr); }},
            {"text", [&] { return new TextSheet(*state, nullptr); }},
            {"burn", [&] { return new BurnSheet(*state, {.id = "n1", .text = "秘密", .from = "小张", .at = {}}, nullptr); }},
            {"settings", [&] { return new SettingsSheet(*state, updater, nullptr, 480); }},
            {"feedback", [&] { return new FeedbackSheet(std::make_shared<FakeSubmitter>(), nullptr); }},
            {"diag", [&] { return new DiagSheet(*state, nullptr); }},
            {"team", [&] { return new TeamPanel(*state, nullptr); }},
            {"chat", [&] { return new ChatView(*state, nullptr); }},
            {"prompt", [&] { return new TextPrompt({"设置别名", "别名", "", "保存", "取消", "剪辑主机", "例如 小张"}, nullptr); }},
            {"alert",
             [&] {
                 auto* alert = new Alert(q("清空记录"), q("清空与「全员」的聊天记录？"), q("只清我这边。"), nullptr);
                 alert->addDestructive(q("清空"));
                 alert->addCancel(q("取消"));
                 return alert;
             }},
        };
    }

    Updater updater;
};

// The push and tool buttons of a window that Return may press now, in creation order.
std::vector<QAbstractButton*> pressableButtons(QWidget& window) {
    std::vector<QAbstractButton*> found;
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        const bool push = qobject_cast<QPushButton*>(button) || qobject_cast<QToolButton*>(button);
        if (push && button->isVisibleTo(&window) && button->isEnabled() && button->focusPolicy() & Qt::TabFocus) {
            found.push_back(button);
        }
    }
    return found;
}

TEST_F(KeyboardTest, returnAndEnterPressTheFocusedButtonAndNoOtherInEveryDialog) {
    for (const auto& [name, make] : dialogs()) {
        std::unique_ptr<QWidget> first(make());
        present(*first);
        const size_t count = pressableButtons(*first).size();
        EXPECT_GE(count, 1u) << name;
        first.reset();
        settle();
        // A fresh dialog for each button and key: a press may close it or change what it shows.
        for (size_t k = 0; k < count; ++k) {
            for (const auto& [key, modifier] : {std::pair{Qt::Key_Return, Qt::NoModifier},
                                                std::pair{Qt::Key_Enter, Qt::KeypadModifier}}) {
                std::unique_ptr<QWidget> dialog(make());
                present(*dialog);
                // The same buttons as the first time (the diagnostics' run offers one only once done).
                ASSERT_TRUE(qtWaitFor([&] { return pressableButtons(*dialog).size() == count; })) << name;
                const std::vector<QAbstractButton*> buttons = pressableButtons(*dialog);
                std::vector<std::unique_ptr<QSignalSpy>> spies;
                for (QAbstractButton* button : buttons) {
                    spies.push_back(std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked));
                }
                QAbstractButton* focused = buttons[k];
                const std::string title = stopName(focused).toStdString();
                focused->setFocus(Qt::TabFocusReason);
                ASSERT_EQ(QApplication::focusWidget(), focused) << name << ": " << title;
                QTest::keyClick(focused, key, modifier);
                for (size_t other = 0; other < count; ++other) {
                    EXPECT_EQ(spies[other]->count(), other == k ? 1 : 0)
                        << name << ": Return on " << title << ", pressed " << stopName(buttons[other]).toStdString();
                }
                spies.clear();
                dialog.reset();
                settle();
            }
        }
    }
}

// The scroll area nearest round the widget, or null.
QScrollArea* holdingArea(QWidget* widget) {
    for (QWidget* up = widget->parentWidget(); up; up = up->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(up)) return area;
    }
    return nullptr;
}

// Whether the widget lies wholly in the visible part of the scroll area holding it; for a
// list that holds the keys, its row that has them.
::testing::AssertionResult inView(QWidget* widget) {
    QScrollArea* area = holdingArea(widget);
    if (!area) return ::testing::AssertionSuccess();
    QRect shown(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
    const auto* list = qobject_cast<QAbstractItemView*>(widget);
    if (list && list->currentIndex().isValid()) {
        const QRect row = list->visualRect(list->currentIndex());
        shown = QRect(list->viewport()->mapTo(area->viewport(), row.topLeft()), row.size());
    }
    if (area->viewport()->rect().contains(shown)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << stopName(widget).toStdString() << " lies at y " << shown.top() << " to "
                                         << shown.bottom() << " of a view " << area->viewport()->height()
                                         << " px high, scrolled to " << area->verticalScrollBar()->value();
}

TEST_F(KeyboardTest, tabAndShiftTabScrollEveryFocusedControlIntoView) {
    const std::pair<const char*, Make> windows[] = {
        {"settings at 360 px", [&] { return new SettingsSheet(*state, updater, nullptr, 360); }},
        {"text sheet with 13 recipients", [&] { return new TextSheet(*state, nullptr); }},
        {"sidebar 260 px high",
         [&] {
             auto* sidebar = new SidebarView(*state, nullptr);
             sidebar->resize(252, 260);
             return sidebar;
         }},
    };
    for (const auto& [name, make] : windows) {
        std::unique_ptr<QWidget> window(make());
        present(*window);
        int scrolledStops = 0;
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            // Twice round, so the wrap from the last stop to the first (and back) comes in too.
            for (int press = 0; press < 80; ++press) {
                QWidget* from = QApplication::focusWidget();
                ASSERT_NE(from, nullptr) << name;
                QTest::keyClick(from, key);
                QWidget* to = QApplication::focusWidget();
                ASSERT_NE(to, nullptr) << name;
                EXPECT_TRUE(inView(to)) << name << (key == Qt::Key_Tab ? " after Tab" : " after Shift+Tab");
                scrolledStops += holdingArea(to) ? 1 : 0;
            }
        }
        EXPECT_GT(scrolledStops, 10) << name << ": the focus went into the scroll area";
        window.reset();
        settle();
    }
}

}  // namespace
}  // namespace corvane::test
