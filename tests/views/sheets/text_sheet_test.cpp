// The send-text sheet: recipients, list heights, counter, send condition,
// read-once look, what "取消" and the window's close do with AppState's text,
// and Return (a line break in the editor, a send elsewhere).
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QScrollArea>

#include "views/main/content_view.h"
#include "views/pixel_probes.h"
#include "views/sheet_host.h"
#include "views/sheets/recipient_row.h"
#include "views/sheets/sheets_fixture.h"
#include "views/sheets/text_sheet.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

class TextSheetTest : public SheetsTest {
protected:
    TextSheetTest() : view(*state) { view.show(); }

    QDialog* open() {
        state->setShowTextSheet(true);
        settle();
        return view.sheets()->sheet(QStringLiteral("textSheet"));
    }

    static std::vector<Peer> peers(int count) {
        std::vector<Peer> out;
        for (int i = 0; i < count; ++i) out.push_back(viewPeer("p" + std::to_string(i), "Mac " + std::to_string(i)));
        return out;
    }

    static RecipientRow* row(const QDialog& sheet, const std::string& key) {
        return sheet.findChild<RecipientRow*>(QString::fromStdString("textRow:" + key));
    }

    ContentView view;
};

TEST_F(TextSheetTest, theListIsAsTallAsItsRowsUpToThreeDevices) {
    const std::pair<int, int> cases[] = {{0, 42}, {1, 76}, {2, 110}, {3, 132}, {10, 132}};
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->width(), 500);
    for (const auto& [count, height] : cases) {
        state->setPeers(peers(count));
        settle();
        EXPECT_EQ(child<QScrollArea>(*sheet, "textRecipients")->height(), height) << count;
        EXPECT_EQ(TextSheet::listHeight(size_t(count)), height);
        EXPECT_EQ(sheet->findChildren<RecipientRow*>().size(), size_t(count + 1)) << count;
    }
    RecipientRow* local = row(*sheet, "local");
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->accessibleName(), q("本机"));
    EXPECT_EQ(local->accessibleDescription(), q("存进接收目录（不支持阅后即焚）"));
    EXPECT_EQ(local->symbol(), q("internaldrive"));
    RecipientRow* mac = row(*sheet, "p1");
    ASSERT_NE(mac, nullptr);
    EXPECT_EQ(mac->accessibleName(), q("Mac 1"));
    EXPECT_EQ(mac->accessibleDescription(), q("Mac · 192.168.1.20:8899"));
}

TEST_F(TextSheetTest, counterAndSendConditionFollowTheTextAsTyped) {
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    auto* send = child<QPushButton>(*sheet, "textSend");
    struct Case {
        const char* text;
        const char* counter;
        bool sendable;
    };
    const Case cases[] = {
        {"", "0 字 · 1 行", false},
        {"ab\nc", "4 字 · 2 行", true},
        {"ab\nc\n", "5 字 · 3 行", true},
        {"  \n\t ", "5 字 · 2 行", false},
        {"中文😀", "3 字 · 1 行", true},
    };
    for (const Case& c : cases) {
        state->setTextInput(c.text);
        EXPECT_EQ(labelText(*sheet, "textCounter"), q(c.counter)) << c.text;
        EXPECT_EQ(child<QPlainTextEdit>(*sheet, "textEditor")->toPlainText(), q(c.text));
        EXPECT_EQ(send->isEnabled(), c.sendable) << c.text;
    }
    state->setTextTargets({});
    EXPECT_FALSE(send->isEnabled()) << "no recipient";
    state->setTextTargets({"gone-device"});
    EXPECT_TRUE(send->isEnabled()) << "a key of a device that left still counts";

    state->setTextInput(" \n ");
    QTest::keyClick(sheet, Qt::Key_Return);
    settle();
    EXPECT_EQ(state->textInput(), " \n ") << "Return sent nothing";
    EXPECT_FALSE(state->toast());
}

TEST_F(TextSheetTest, theTextIsWhatWasTypedOrPastedOnlyItsBreaksReadAsLineFeeds) {
    // The editor's plain text made a no-break space a space and U+2028, U+2029 and pasted
    // carriage returns line feeds: a text was not sent as it had been written.
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    auto* editor = child<QPlainTextEdit>(*sheet, "textEditor");
    for (const auto& [how, text] : untouchableTexts()) {
        editor->clear();
        enterText(editor, text, how);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClick(editor, Qt::Key_Return, Qt::ShiftModifier);
        enterText(editor, q("!"), how);
        EXPECT_EQ(state->textInput(), (text + q("\n\n!")).toStdString());
    }
    // Shown again after the window closed, the text is kept as it was.
    const std::string kept = state->textInput();
    sheet->close();
    settle();
    sheet = open();
    ASSERT_NE(sheet, nullptr);
    child<QPlainTextEdit>(*sheet, "textEditor")->moveCursor(QTextCursor::End);
    enterText(child<QPlainTextEdit>(*sheet, "textEditor"), q("?"), Entry::typed);
    EXPECT_EQ(state->textInput(), kept + "?");
}

TEST_F(TextSheetTest, openingTakesTheDefaultRecipientsOnlyWhenNoneAreChosen) {
    const Peer shown = viewPeer("p9", "Win");
    state->setPeers({shown});
    state->setTarget(Target::of(shown));
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(state->textTargets(), std::set<std::string>{"p9"});
    EXPECT_TRUE(row(*sheet, "p9")->isChecked());
    EXPECT_FALSE(row(*sheet, "local")->isChecked());
    EXPECT_EQ(sheet->focusWidget(), child<QPlainTextEdit>(*sheet, "textEditor"));
    sheet->close();
    settle();

    state->setTextTargets({"local"});
    sheet = open();
    EXPECT_EQ(state->textTargets(), std::set<std::string>{"local"});
}

TEST_F(TextSheetTest, rowsAndTheTwoLinksChangeTheRecipients) {
    state->setPeers(peers(2));
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(state->textTargets(), std::set<std::string>{"local"});
    row(*sheet, "local")->click();
    EXPECT_TRUE(state->textTargets().empty());
    EXPECT_FALSE(row(*sheet, "local")->isChecked());
    row(*sheet, "p1")->click();
    EXPECT_EQ(state->textTargets(), std::set<std::string>{"p1"});
    EXPECT_TRUE(row(*sheet, "p1")->isChecked());

    state->setTextTargets({"p1", "old-device"});
    click(*sheet, "textSelectAll");
    EXPECT_EQ(state->textTargets(), (std::set<std::string>{"local", "p0", "p1"})) << "keys of no listed device dropped";
    state->setTextInput("x");
    state->setPeers({});  // every device leaves: their keys stay
    settle();
    EXPECT_EQ(state->textTargets(), (std::set<std::string>{"local", "p0", "p1"}));
    state->setTextTargets({"p0"});
    EXPECT_TRUE(child<QPushButton>(*sheet, "textSend")->isEnabled());
    click(*sheet, "textOnlyLocal");
    EXPECT_EQ(state->textTargets(), std::set<std::string>{"local"});
}

TEST_F(TextSheetTest, readOnceShowsTheBadgeTheOtherLineAndTheOtherTitle) {
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    auto* badge = child<QWidget>(*sheet, "textBurnBadge");
    EXPECT_FALSE(badge->isVisible());
    EXPECT_EQ(child<QPushButton>(*sheet, "textSend")->text(), q("发送"));
    EXPECT_EQ(labelText(*sheet, "textExplain"), q("对方会收到一条消息，同时在接收目录留一份 txt 存档（发代码不会丢缩进）。"));
    child<QCheckBox>(*sheet, "textBurnToggle")->click();
    EXPECT_TRUE(state->burnMode());
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(child<QPushButton>(*sheet, "textSend")->text(), q("发送并销毁"));
    EXPECT_EQ(labelText(*sheet, "textExplain"),
              q("内容只存在对方内存里，不写磁盘、不进接收目录。对方打开一次即销毁，10 分钟未读也会销毁。"));
    EXPECT_TRUE(row(*sheet, "local")->isEnabled()) << "this device stays selectable";
    state->setBurnMode(false);
    EXPECT_FALSE(child<QCheckBox>(*sheet, "textBurnToggle")->isChecked());
    EXPECT_FALSE(badge->isVisible());
}

TEST_F(TextSheetTest, theWindowsCloseKeepsTextSwitchAndRecipientsAndCancelClearsThem) {
    state->setPeers(peers(1));
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    child<QPlainTextEdit>(*sheet, "textEditor")->insertPlainText(q("草稿"));  // as typed
    child<QCheckBox>(*sheet, "textBurnToggle")->click();
    row(*sheet, "p0")->click();
    sheet->close();
    settle();
    EXPECT_FALSE(state->showTextSheet());
    EXPECT_EQ(state->textInput(), "草稿");
    EXPECT_TRUE(state->burnMode());
    EXPECT_EQ(state->textTargets(), (std::set<std::string>{"local", "p0"}));

    sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(child<QPlainTextEdit>(*sheet, "textEditor")->toPlainText(), q("草稿"));
    EXPECT_TRUE(child<QCheckBox>(*sheet, "textBurnToggle")->isChecked());
    EXPECT_TRUE(row(*sheet, "p0")->isChecked());
    QTest::keyClick(sheet, Qt::Key_Escape);
    settle();
    EXPECT_TRUE(state->showTextSheet()) << "Escape does nothing";

    click(*sheet, "textCancel");
    settle();
    EXPECT_FALSE(state->showTextSheet());
    EXPECT_EQ(state->textInput(), "");
    EXPECT_FALSE(state->burnMode());
    EXPECT_TRUE(state->textTargets().empty());
    EXPECT_EQ(view.sheets()->sheet(QStringLiteral("textSheet")), nullptr);
    sheet = open();
    EXPECT_EQ(state->textTargets(), std::set<std::string>{"local"}) << "from the defaults again";
}

TEST_F(TextSheetTest, returnInTheEditorIsALineBreakAndOutsideItSends) {
    state->start();
    ASSERT_TRUE(qtWaitFor([&] { return !state->loadingFiles(); }));
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    auto* editor = child<QPlainTextEdit>(*sheet, "textEditor");
    editor->insertPlainText(q("第一行"));
    QTest::keyClick(editor, Qt::Key_Return);
    editor->insertPlainText(q("第二行"));
    EXPECT_EQ(state->textInput(), "第一行\n第二行");
    EXPECT_TRUE(state->showTextSheet());

    child<QCheckBox>(*sheet, "textBurnToggle")->setFocus();
    QTest::keyClick(child<QCheckBox>(*sheet, "textBurnToggle"), Qt::Key_Return);
    ASSERT_TRUE(qtWaitFor([&] { return !state->showTextSheet(); }));
    EXPECT_EQ(state->textInput(), "");
    std::vector<std::string> stored;
    for (const auto& entry : fs::directory_iterator(state->root())) {
        if (entry.path().extension() == ".txt") stored.push_back(readFile(entry.path()));
    }
    EXPECT_EQ(stored, std::vector<std::string>{"第一行\n第二行"});
}

TEST_F(TextSheetTest, theReadOnceControlIsASmallSwitchThatTakesAClickAnywhere) {
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    auto* toggle = child<QCheckBox>(*sheet, "textBurnToggle");
    ASSERT_NE(toggle, nullptr);
    EXPECT_LE(toggle->height(), 24) << "the mini size";

    // Off: a grey track and no accent. On: the accent fills the track, its knob at the far end.
    const QImage off = rendered(toggle);
    EXPECT_EQ(countPixels(off, off.rect(), isAccent), 0);
    QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(toggle->width() - 4, toggle->height() / 2));
    EXPECT_TRUE(state->burnMode()) << "a click on the title";
    const QImage on = rendered(toggle);
    const auto accentColumns = inkRuns(on, on.rect(), isAccent);
    ASSERT_FALSE(accentColumns.empty());
    const int trackLeft = accentColumns.front().first;
    const int trackRight = accentColumns.front().second;
    EXPECT_GE(trackRight - trackLeft + 1, 20) << "a track, not a check mark";
    EXPECT_GE(countPixels(on, QRect(trackLeft, 0, trackRight - trackLeft + 1, on.height()), isAccent), 80);
    const int middle = (trackLeft + trackRight) / 2;
    auto white = [](QRgb pixel) { return qGray(pixel) > 245; };
    EXPECT_GT(countPixels(on, QRect(middle, 0, trackRight - middle, on.height()), white),
              countPixels(on, QRect(trackLeft, 0, middle - trackLeft, on.height()), white))
        << "the knob stands at the end";
    QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(trackLeft + 2, toggle->height() / 2));
    EXPECT_FALSE(state->burnMode()) << "a click on the track";
}

}  // namespace
}  // namespace corvane::test
