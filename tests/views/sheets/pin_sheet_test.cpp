// The PIN sheet as the root window shows it: the field is AppState's pinInput,
// one Return confirms once, "连接" stores even an empty PIN, "取消" and the
// window's close leave the target and store nothing.
#include <QLineEdit>

#include "views/main/content_view.h"
#include "views/sheet_host.h"
#include "views/sheets/sheets_fixture.h"

namespace corvane::test {
namespace {

class PinSheetTest : public SheetsTest {
protected:
    PinSheetTest() : view(*state) {
        view.show();
        peer = viewPeer("p1", "剪辑主机", "", "127.0.0.1", 1);
        peer.pin = true;
        QObject::connect(state.get(), &AppState::targetChanged, [this] { ++targetChanges; });
        QObject::connect(state.get(), &AppState::loadingFilesChanged, [this] {
            if (state->loadingFiles()) ++reloads;
        });
    }

    QDialog* prompt() {
        state->switchTarget(Target::of(peer));
        settle();
        return view.sheets()->sheet(QStringLiteral("pinSheet"));
    }

    ContentView view;
    Peer peer;
    int targetChanges = 0;
    int reloads = 0;
};

TEST_F(PinSheetTest, opensEmptyAndFocusedAndOneReturnInTheFieldConfirmsOnce) {
    state->setPinInput("old");
    QDialog* sheet = prompt();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), q("访问口令"));
    EXPECT_EQ(sheet->width(), 340);
    EXPECT_EQ(labelText(*sheet, "pinHeader"), q("「剪辑主机」需要访问口令"));
    auto* field = child<QLineEdit>(*sheet, "pinField");
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(field->echoMode(), QLineEdit::Normal) << "the PIN is visible";
    EXPECT_EQ(field->accessibleName(), q("口令"));
    EXPECT_EQ(sheet->focusWidget(), field);

    QTest::keyClicks(field, q(" 12 "));
    EXPECT_EQ(state->pinInput(), " 12 ");
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    EXPECT_EQ(targetChanges, 1);
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(state->peerPINs().at("p1"), " 12 ") << "stored with its blanks";
    ASSERT_TRUE(state->target().peer);
    EXPECT_EQ(state->target().peer->id, "p1");
    EXPECT_FALSE(state->pinPromptFor());
    EXPECT_EQ(view.sheets()->sheet(QStringLiteral("pinSheet")), nullptr);
}

TEST_F(PinSheetTest, connectWithAnEmptyFieldStoresAnEmptyPin) {
    QDialog* sheet = prompt();
    ASSERT_NE(sheet, nullptr);
    click(*sheet, "pinConnect");
    settle();
    EXPECT_EQ(state->peerPINs().at("p1"), "");
    EXPECT_EQ(targetChanges, 1);
    EXPECT_EQ(view.sheets()->sheet(QStringLiteral("pinSheet")), nullptr);
}

TEST_F(PinSheetTest, cancelAndTheWindowsCloseKeepTheTargetAndAskAgainWithAnEmptyField) {
    const std::vector<std::pair<const char*, std::function<void(QDialog*)>>> ways = {
        {"取消", [](QDialog* d) { click(*d, "pinCancel"); }},
        {"window close", [](QDialog* d) { d->close(); }},
        {"Escape does nothing, then 取消",
         [](QDialog* d) {
             QTest::keyClick(d, Qt::Key_Escape);
             settle();
             EXPECT_TRUE(d->isVisible());
             click(*d, "pinCancel");
         }},
    };
    for (const auto& [how, close] : ways) {
        QDialog* sheet = prompt();
        ASSERT_NE(sheet, nullptr) << how;
        QTest::keyClicks(child<QLineEdit>(*sheet, "pinField"), q("9"));
        close(sheet);
        settle();
        EXPECT_FALSE(state->pinPromptFor()) << how;
        EXPECT_TRUE(state->target().isLocal()) << how;
        EXPECT_TRUE(state->peerPINs().empty()) << how;
        EXPECT_EQ(state->pinInput(), "9") << how << ": the typed PIN stays in AppState";
        EXPECT_EQ(targetChanges, 0) << how;
    }
    QDialog* again = prompt();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(child<QLineEdit>(*again, "pinField")->text().isEmpty());
}

TEST_F(PinSheetTest, theFieldFollowsAppStateWithoutWritingBack) {
    QDialog* sheet = prompt();
    ASSERT_NE(sheet, nullptr);
    int writes = 0;
    QObject::connect(state.get(), &AppState::pinInputChanged, [&] { ++writes; });
    state->setPinInput("abc");
    EXPECT_EQ(child<QLineEdit>(*sheet, "pinField")->text(), q("abc"));
    EXPECT_EQ(writes, 1) << "refilling the field wrote nothing back";
}

}  // namespace
}  // namespace corvane::test
