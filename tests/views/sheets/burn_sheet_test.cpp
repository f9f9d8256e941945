// The read-once note sheet against this device's real server: what it shows,
// copying (exactly the text, then a close 0.3 s later that spares a newer
// note), and every other way out discarding the note on the server.
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>

#include "views/main/content_view.h"
#include "views/sheet_host.h"
#include "views/sheets/sheets_fixture.h"

namespace corvane::test {
namespace {

class BurnSheetTest : public SheetsTest {
protected:
    BurnSheetTest() : view(*state) {
        view.show();
        state->start();
    }

    // A note stored on this device's server and shown, as one that arrived.
    std::string arrive(const std::string& text, const std::string& from = "局域网设备") {
        const auto id = state->server()->storeBurn(text, "127.0.0.1");
        EXPECT_TRUE(id);
        state->showBurnNote({.id = *id, .text = text, .from = from, .at = {}});
        settle();
        return *id;
    }

    QDialog* sheet() { return view.sheets()->sheet(QStringLiteral("burnSheet")); }

    bool gone(const std::string& id) const {
        return qtWaitFor([&] { return httpRequest(state->port(), "GET", "/api/burn/" + id)->status == 404; });
    }

    ContentView view;
};

TEST_F(BurnSheetTest, showsSenderWarningTheTextAsItIsAndItsSize) {
    const std::string text = "<b>秘密</b> &amp;\n第二行";
    arrive(text);
    QDialog* s = sheet();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->windowTitle(), q("阅后即焚"));
    EXPECT_EQ(s->width(), 520);
    EXPECT_EQ(labelText(*s, "burnHeader"), q("阅后即焚 · 来自 局域网设备"));
    EXPECT_EQ(child<QLabel>(*s, "burnHeader")->textFormat(), Qt::PlainText);
    EXPECT_EQ(labelText(*s, "burnWarning"),
              q("这条消息没有写入磁盘，服务器上的副本已删除。关闭窗口后这里也不再保留——要留下就现在复制。"));
    auto* box = child<QPlainTextEdit>(*s, "burnText");
    EXPECT_EQ(box->toPlainText().toStdString(), text);
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_TRUE(box->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(box->height(), 210);
    EXPECT_EQ(labelText(*s, "burnSize"), q("2 行 · 29 字节"));

    // A long note scrolls inside its box: the sheet keeps its height.
    const int height = s->height();
    s->close();
    settle();
    arrive(repeatedText("很长的一行\n", 200));
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheet()->height(), height);
}

TEST_F(BurnSheetTest, theNoteBoxShowsNoCaretAndStartsItsText10Inside) {
    arrive("秘密\n第二行");
    ASSERT_NE(sheet(), nullptr);
    auto* box = child<QPlainTextEdit>(*sheet(), "burnText");
    EXPECT_EQ(box->textInteractionFlags(), Qt::TextSelectableByMouse) << "no caret, no editing";
    const QRect first = box->cursorRect(QTextCursor(box->document()));
    EXPECT_EQ(box->viewport()->mapTo(box, first.topLeft()), QPoint(10, 10));

    // The keys still select the whole note.
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(box->textCursor().selectedText(), q("秘密\u2029第二行"));
}

TEST_F(BurnSheetTest, copyingPutsExactlyTheTextOnTheClipboardAndClosesSoonAfter) {
    const std::string id = arrive("秘密\n第二行");
    QPointer<QDialog> s = sheet();
    ASSERT_NE(s, nullptr);
    click(*s, "burnCopy");
    EXPECT_EQ(clipboard, std::vector<std::string>{"秘密\n第二行"});
    EXPECT_EQ(child<QPushButton>(*s, "burnCopy")->text(), q("已复制"));
    EXPECT_TRUE(state->burnNote()) << "the close comes 0.3 s later";
    ASSERT_TRUE(qtWaitFor([&] { return !state->burnNote(); }));
    settle();
    EXPECT_TRUE(s.isNull());
    EXPECT_TRUE(gone(id));
}

TEST_F(BurnSheetTest, aNewerNoteSurvivesTheDelayedCloseOfTheOlderOne) {
    const std::string first = arrive("一");
    QDialog* s = sheet();
    ASSERT_NE(s, nullptr);
    click(*s, "burnCopy");
    click(*s, "burnCopy");  // twice: two copies, two delayed closes
    const std::string second = arrive("二");
    EXPECT_EQ(clipboard, (std::vector<std::string>{"一", "一"}));
    ASSERT_TRUE(qtWaitFor([&] { return state->burnNote() && state->burnNote()->id == second; }));
    qtSpin(std::chrono::milliseconds(100));
    settle();
    ASSERT_TRUE(state->burnNote());
    EXPECT_EQ(state->burnNote()->id, second);
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(child<QPlainTextEdit>(*sheet(), "burnText")->toPlainText(), q("二"));
    EXPECT_TRUE(gone(first));
    EXPECT_EQ(httpRequest(state->port(), "GET", "/api/burn/" + second)->status, 200) << "the newer note is still unread";
}

TEST_F(BurnSheetTest, closeEscapeAndTheWindowsCloseDiscardTheNoteAndReturnDoesNothing) {
    const std::vector<std::pair<const char*, std::function<void(QDialog*)>>> ways = {
        {"关闭", [](QDialog* d) { click(*d, "burnClose"); }},
        {"Escape", [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }},
        {"window close", [](QDialog* d) { d->close(); }},
    };
    for (const auto& [how, close] : ways) {
        const std::string id = arrive("note");
        QPointer<QDialog> s = sheet();
        ASSERT_NE(s, nullptr) << how;
        QTest::keyClick(s, Qt::Key_Return);
        settle();
        EXPECT_TRUE(state->burnNote()) << how << ": Return does nothing";
        close(s);
        settle();
        EXPECT_FALSE(state->burnNote()) << how;
        EXPECT_TRUE(s.isNull()) << how;
        EXPECT_TRUE(gone(id)) << how;
        EXPECT_TRUE(clipboard.empty()) << how;
    }
}

}  // namespace
}  // namespace corvane::test
