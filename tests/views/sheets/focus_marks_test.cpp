// Keyboard focus as a person sees it in every sheet and the chat window: Tab
// stops only at controls, and each one shows the accent ring (or the accent
// frame of a field) while it has the focus, never nothing.
#include <functional>
#include <memory>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "views/focus_probes.h"
#include "views/main/chat_view.h"
#include "views/main/content_view.h"
#include "views/sheets/diag_sheet.h"
#include "views/sheets/feedback_sheet.h"
#include "views/sheets/pin_sheet.h"
#include "views/sheets/settings_sheet.h"
#include "views/sheets/sheets_fixture.h"
#include "views/sheets/text_sheet.h"
#include "views/sheets/welcome_sheet.h"
#include "views/text_prompt.h"

namespace corvane::test {
namespace {

class FocusMarksTest : public SheetsTest {
protected:
    FocusMarksTest() : updater(offlineUpdaterOptions()) {
        state->setDeviceName("工作站");
        state->setLocalIPs({"192.168.1.5"});
        state->setPeers({viewPeer("p1", "剪辑主机"), viewPeer("p2", "小张的 Mac")});
    }

    // The sheet shown in an active window, its initial focus given.
    static void present(QDialog& sheet) {
        sheet.show();
        QApplication::setActiveWindow(&sheet);
        ASSERT_TRUE(qtWaitFor([&] { return sheet.isActiveWindow() && QApplication::focusWidget(); }));
        settle();
    }

    Updater updater;
};

TEST_F(FocusMarksTest, everyTabStopOfEverySheetShowsTheAccentMark) {
    const std::pair<const char*, std::function<QDialog*()>> sheets[] = {
        {"text", [&] { return new TextSheet(*state, nullptr); }},
        {"pin", [&] { return new PINSheet(*state, viewPeer("p1", "剪辑主机"), nullptr); }},
        {"feedback", [&] { return new FeedbackSheet(nullptr, nullptr); }},
        {"settings", [&] { return new SettingsSheet(*state, updater, nullptr); }},
        {"diag", [&] { return new DiagSheet(*state, nullptr); }},
        {"welcome", [&] { return new WelcomeSheet(*state, nullptr); }},
        {"chat", [&] { return new ChatView(*state, nullptr); }},
        {"prompt",
         [&] { return new TextPrompt({"设置别名", "别名", "", "保存", "取消", "剪辑主机", "例如 小张"}, nullptr); }},
    };
    for (const auto& [name, make] : sheets) {
        std::unique_ptr<QDialog> sheet(make());
        present(*sheet);
        const std::vector<QWidget*> stops = tabStops();
        EXPECT_GE(stops.size(), 2u) << name;
        for (QWidget* stop : stops) {
            EXPECT_GE(accentGain(stop), 12) << name << ": " << stopName(stop).toStdString();
        }
        sheet.reset();
        settle();
    }
}

TEST_F(FocusMarksTest, tabReachesEachRecipientRowAfterTheLinksAndNothingBetween) {
    TextSheet sheet(*state, nullptr);
    present(sheet);
    child<QPushButton>(sheet, "textOnlyLocal")->setFocus(Qt::TabFocusReason);
    const QStringList expected = {q("textRow:local"), q("textRow:p1"), q("textRow:p2"), q("textEditor")};
    for (const QString& next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), next.toStdString());
    }
}

TEST_F(FocusMarksTest, everyTabStopOfTheMainWindowShowsTheAccentMark) {
    ContentView view(*state);
    view.resize(1040, 720);
    view.show();
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(qtWaitFor([&] { return view.isActiveWindow(); }));
    settle();
    QWidget* first = view.nextInFocusChain();
    while (first != &view && !(first->focusPolicy() & Qt::TabFocus && first->isVisible() && first->isEnabled())) {
        first = first->nextInFocusChain();
    }
    first->setFocus(Qt::TabFocusReason);
    const std::vector<QWidget*> stops = tabStops();
    EXPECT_GE(stops.size(), 4u);
    for (QWidget* stop : stops) EXPECT_GE(accentGain(stop), 12) << stopName(stop).toStdString();
}

}  // namespace
}  // namespace corvane::test
