// The main window: the content view gets exactly 1040 x 720 below the menu
// bar, at least 880 x 600, and a saved frame is restored.
#include <QMenuBar>
#include <QLabel>
#include <QPixmap>

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/defaults_store.h"
#include "support/test_support.h"
#include "views/main/content_view.h"
#include "views/main_menu.h"
#include "views/main_window.h"
#include "views/picker.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

class MainWindowTest : public test::ViewsTest {
protected:
    std::unique_ptr<MainWindow> openWindow() {
        auto window = std::make_unique<MainWindow>(*state, *state->environment().defaults);
        window->setMenuBar(buildMenuBar(MenuActions{}));
        window->placeWindow();
        window->show();
        return window;
    }
};

TEST_F(MainWindowTest, theContentIs1040By720BelowTheMenuBar) {
    const auto window = openWindow();
    EXPECT_EQ(window->windowTitle(), "Corvane");
    EXPECT_EQ(window->contentView()->size(), QSize(1040, 720));
    EXPECT_EQ(window->contentView()->grab().size(), QSize(1040, 720));
    EXPECT_GT(window->contentView()->y(), 0);  // the menu bar sits above it
}

TEST_F(MainWindowTest, theContentCannotShrinkBelow880By600) {
    const auto window = openWindow();
    window->resize(300, 200);
    EXPECT_GE(window->contentView()->width(), 880);
    EXPECT_GE(window->contentView()->height(), 600);
}

TEST_F(MainWindowTest, aSavedFrameIsRestored) {
    const int menu = buildMenuBar(MenuActions{})->sizeHint().height();
    state->environment().defaults->setString("CorvaneMainWindow", "40 50 1200 " + std::to_string(800 + menu));
    const auto window = openWindow();
    EXPECT_EQ(window->geometry(), QRect(40, 50, 1200, 800 + menu));
    window->resize(1100, 760 + menu);
    window->saveFrame();
    EXPECT_EQ(state->environment().defaults->stringValue("CorvaneMainWindow"),
              MainWindow::frameText(window->geometry()));
}

TEST(MainWindowFrame, onlyFourWholeNumbersAtLeastTheMinimumRestore) {
    const QSize minimum(880, 630);
    const std::pair<const char*, std::optional<QRect>> cases[] = {
        {"10 20 1040 760", QRect(10, 20, 1040, 760)},
        {"-5 0 880 630", QRect(-5, 0, 880, 630)},
        {"10 20 800 760", std::nullopt},  // narrower than the minimum
        {"10 20 1040", std::nullopt},
        {"10 20 1040 760 5", std::nullopt},
        {"a b c d", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, frame] : cases) EXPECT_EQ(MainWindow::parseFrame(text, minimum), frame) << text;
}

TEST_F(MainWindowTest, theContentShowsDeviceNamesAsPlainText) {
    Peer peer;
    peer.id = "p";
    peer.name = "<b>Desk</b>";
    peer.team = "T";
    state->setNearbyTeam(peer);
    ContentView view(*state);
    bool found = false;
    for (const QLabel* label : view.findChildren<QLabel*>()) {
        if (label->text().contains("<b>Desk</b>")) {
            found = true;
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(MainWindowTest, pickersNameTheTarget) {
    EXPECT_EQ(Picker::targetName(*state), "本机");
    Peer peer;
    peer.id = "p";
    peer.name = "客厅电脑";
    state->setTarget(Target::of(peer));
    EXPECT_EQ(Picker::targetName(*state), "客厅电脑");
}

}  // namespace
}  // namespace corvane
