// The diagnostics sheet: a run when it opens without results, the progress row
// until the lines arrive, rows with and without hints, and the devices added
// by address (kept text on refusal, cleared on success, removal).
#include <QLineEdit>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>

#include "views/main/content_view.h"
#include "views/sheet_host.h"
#include "views/sheets/diag_row.h"
#include "views/sheets/sheets_fixture.h"

namespace corvane::test {
namespace {

class DiagSheetTest : public SheetsTest {
protected:
    DiagSheetTest() : view(*state) { view.show(); }

    QDialog* open() {
        state->setShowDiag(true);
        settle();
        return view.sheets()->sheet(QStringLiteral("diagSheet"));
    }

    static std::vector<DiagRow*> rows(const QDialog& sheet) {
        std::vector<DiagRow*> out;
        for (DiagRow* row : sheet.findChildren<DiagRow*>()) {
            if (row->isVisible()) out.push_back(row);
        }
        return out;
    }

    static bool progressShown(const QDialog& sheet) {
        auto* progress = sheet.findChild<QWidget*>(QStringLiteral("diagProgress"));
        return progress && progress->isVisible();
    }

    ContentView view;
};

TEST_F(DiagSheetTest, whileCheckingASmallCircularSpinnerShows) {
    // A still of a full-width busy bar read as "finished".
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(progressShown(*sheet));
    auto* spinner = child<QWidget>(*sheet, "diagProgress")->findChild<QProgressBar*>();
    ASSERT_NE(spinner, nullptr);
    EXPECT_EQ(spinner->maximum(), 0) << "busy, no amount";
    EXPECT_EQ(spinner->width(), spinner->height()) << "round, not a bar";
    EXPECT_LE(spinner->width(), 20) << "the small control size";
    ASSERT_TRUE(qtWaitFor([&] { return !state->diagRunning(); }, std::chrono::seconds(10)));
}

TEST_F(DiagSheetTest, theFirstOpeningRunsWithAProgressRowUntilTheLinesArrive) {
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), q("网络诊断"));
    EXPECT_EQ(sheet->width(), 560);
    EXPECT_TRUE(state->diagRunning());
    EXPECT_TRUE(progressShown(*sheet));
    EXPECT_FALSE(child<QPushButton>(*sheet, "diagRerun")->isEnabled());
    ASSERT_TRUE(qtWaitFor([&] { return !state->diagRunning(); }, std::chrono::seconds(10)));
    settle();
    EXPECT_FALSE(progressShown(*sheet));
    EXPECT_EQ(rows(*sheet).size(), state->diagLines().size());
    EXPECT_FALSE(rows(*sheet).empty());
    EXPECT_TRUE(child<QPushButton>(*sheet, "diagRerun")->isEnabled());

    // Reopened: the earlier lines show at once and no run starts.
    click(*sheet, "diagClose");
    settle();
    EXPECT_FALSE(state->showDiag());
    sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(state->diagRunning());
    EXPECT_EQ(rows(*sheet).size(), state->diagLines().size());

    // Run again: the old lines vanish at once.
    click(*sheet, "diagRerun");
    settle();
    EXPECT_TRUE(rows(*sheet).empty());
    EXPECT_TRUE(progressShown(*sheet));
    ASSERT_TRUE(qtWaitFor([&] { return !state->diagRunning(); }, std::chrono::seconds(10)));
}

TEST_F(DiagSheetTest, rowsShowTheirLevelTextAndHintVerbatim) {
    state->setDiagLines({DiagLine::make(DiagLine::Level::ok, "<b>本机</b> 正常"),
                         DiagLine::make(DiagLine::Level::warn, "广播少", std::string("换个网络")),
                         DiagLine::make(DiagLine::Level::bad, "没有地址", std::string("检查网线"))});
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(state->diagRunning()) << "results exist: no run";
    const std::vector<DiagRow*> shown = rows(*sheet);
    ASSERT_EQ(shown.size(), 3u);
    const std::tuple<const char*, const char*, const char*, const char*, int> expected[] = {
        {"ok", "正常", "<b>本机</b> 正常", "", 1},
        {"warn", "注意", "广播少", "换个网络", 2},
        {"bad", "有问题", "没有地址", "检查网线", 2}};
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto& [level, spoken, text, hint, labels] = expected[i];
        EXPECT_EQ(shown[i]->property("level").toString(), q(level));
        EXPECT_EQ(shown[i]->property("text").toString(), q(text));
        EXPECT_EQ(shown[i]->property("hint").toString(), q(hint));
        std::vector<QString> texts;
        QString iconName;
        for (QLabel* label : shown[i]->findChildren<QLabel*>()) {
            if (label->property("symbol").isValid()) {
                iconName = label->accessibleName();
                continue;
            }
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            texts.push_back(label->text());
        }
        EXPECT_EQ(iconName, q(spoken)) << "the icon is named by its level, in words";
        EXPECT_EQ(int(texts.size()), labels) << text;
        EXPECT_EQ(texts.front(), q(text));
    }
}

TEST_F(DiagSheetTest, theResultsShowAScrollBarOnlyWhenTheirLinesDoNotFit) {
    state->setDiagLines({DiagLine::make(DiagLine::Level::ok, "本机正常")});
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    QScrollBar* bar = child<QScrollArea>(*sheet, "diagResults")->verticalScrollBar();
    settle();
    EXPECT_FALSE(bar->isVisible());
    state->setDiagLines(std::vector<DiagLine>(30, DiagLine::make(DiagLine::Level::ok, "本机正常")));
    EXPECT_TRUE(qtWaitFor([&] { return bar->isVisible(); }));
}

TEST_F(DiagSheetTest, addressesAreAddedAsTypedKeptOnRefusalAndRemoved) {
    state->setDiagLines({DiagLine::make(DiagLine::Level::ok, "x")});
    QDialog* sheet = open();
    ASSERT_NE(sheet, nullptr);
    auto* input = child<QLineEdit>(*sheet, "diagManualInput");
    EXPECT_EQ(input->accessibleName(), q("192.168.1.20 或 192.168.1.20:8899"));

    input->setFocus();  // typed where the keyboard is: Return would press a focused button
    QTest::keyClicks(input, "192.168.1.20");
    QTest::keyClick(input, Qt::Key_Return);
    EXPECT_TRUE(state->manualPeers().empty()) << "Return adds nothing";
    click(*sheet, "diagAdd");
    settle();
    EXPECT_EQ(state->manualPeers(), std::vector<std::string>{"192.168.1.20:8899"});
    EXPECT_TRUE(input->text().isEmpty());
    EXPECT_NE(sheet->findChild<QWidget*>(q("diagManualRow:192.168.1.20:8899")), nullptr);

    const std::pair<const char*, const char*> refused[] = {
        {"192.168.1.20", "这台设备已经添加过了"},
        {"x@127.0.0.1", "格式应为 192.168.1.10 或 192.168.1.10:8899"},
        {"evil.com/a.b.c", "格式应为 192.168.1.10 或 192.168.1.10:8899"},
        {"", "格式应为 192.168.1.10 或 192.168.1.10:8899"},
    };
    for (const auto& [typed, toast] : refused) {
        input->setText(q(typed));
        click(*sheet, "diagAdd");
        EXPECT_EQ(input->text(), q(typed)) << "the text stays";
        ASSERT_TRUE(state->toast());
        EXPECT_EQ(*state->toast(), toast) << typed;
    }
    EXPECT_EQ(state->manualPeers().size(), 1u);

    auto* remove = child<QPushButton>(*sheet, "diagRemove:192.168.1.20:8899");
    EXPECT_EQ(remove->accessibleDescription(), q("192.168.1.20:8899"));
    remove->click();
    settle();
    EXPECT_TRUE(state->manualPeers().empty());
    EXPECT_EQ(*state->toast(), "已移除");
    EXPECT_EQ(sheet->findChild<QWidget*>(q("diagManualRow:192.168.1.20:8899")), nullptr);

    QTest::keyClick(sheet, Qt::Key_Escape);
    settle();
    EXPECT_TRUE(state->showDiag()) << "Escape does nothing";
}

}  // namespace
}  // namespace corvane::test
