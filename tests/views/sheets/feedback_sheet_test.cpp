// The feedback sheet: the two-character rule, what is sent (text trimmed,
// contact as typed), the sending, failed and thanking states, the keys,
// cancelling in flight (the request still runs, nothing comes back), results
// and timers that act only on their own sheet, once with the real submitter
// against a loopback server, and raised from the settings sheet.
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <nlohmann/json.hpp>

#include "app/feedback_submitter.h"
#include "base/cfg.h"
#include "support/scripted_http_server.h"
#include "updater/updater.h"
#include "views/announcer.h"
#include "views/main/content_view.h"
#include "views/sheet_host.h"
#include "views/sheets/fake_feedback_submitter.h"
#include "views/sheets/feedback_sheet.h"
#include "views/sheets/settings_sheet.h"
#include "views/sheets/sheets_fixture.h"

namespace corvane::test {
namespace {

class FeedbackSheetTest : public SheetsTest {
protected:
    FeedbackSheetTest() {
        AppEnvironment env = state->environment();
        env.feedback = fake;
        state = std::make_unique<AppState>(env);
        state->setShowWelcome(false);
        view = std::make_unique<ContentView>(*state);
        view->show();
    }

    ~FeedbackSheetTest() override {
        // Requests still running finish before the next test.
        qtWaitFor([this] { return fake->finished() == int(fake->calls().size()); }, std::chrono::seconds(5));
        settle();
    }

    QDialog* raise() {
        state->setShowFeedback(true);
        settle();
        return view->sheets()->sheet(QStringLiteral("feedbackSheet"));
    }

    static QPlainTextEdit* editor(const QDialog& sheet) { return child<QPlainTextEdit>(sheet, "feedbackText"); }
    static QLineEdit* contact(const QDialog& sheet) { return child<QLineEdit>(sheet, "feedbackContact"); }
    static QPushButton* submit(const QDialog& sheet) { return child<QPushButton>(sheet, "feedbackSubmit"); }
    static QPushButton* kind(const QDialog& sheet, const char* raw) {
        return sheet.findChild<QPushButton*>(QStringLiteral("feedbackKind:") + QString::fromUtf8(raw));
    }
    static QLabel* msg(const QDialog& sheet) { return child<QLabel>(sheet, "feedbackMsg"); }

    void waitForCalls(size_t count) {
        ASSERT_TRUE(qtWaitFor([&] { return fake->finished() >= int(count); })) << count;
        settle();
    }

    std::shared_ptr<FakeSubmitter> fake = std::make_shared<FakeSubmitter>();
    std::unique_ptr<ContentView> view;
};

TEST_F(FeedbackSheetTest, submitNeedsTwoCharactersAfterTrimming) {
    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    const std::vector<std::pair<const char*, bool>> cases = {
        {"", false},        {"a", false},       {"🇨🇳", false},  {"e\u0301", false}, {"  \n ", false},
        {" a \n", false},   {"ab", true},       {"你好", true}, {" \n你好\t", true}, {"🇨🇳🇯🇵", true},
    };
    for (const auto& [text, enabled] : cases) {
        editor(*sheet)->setPlainText(QString::fromUtf8(text));
        EXPECT_EQ(submit(*sheet)->isEnabled(), enabled) << text;
    }

    editor(*sheet)->setPlainText(QStringLiteral("a"));
    static_cast<FeedbackSheet*>(sheet.data())->send();
    settle();
    EXPECT_TRUE(msg(*sheet)->isVisible());
    EXPECT_EQ(msg(*sheet)->text(), q("多写几个字吧"));
    EXPECT_EQ(submit(*sheet)->text(), q("提交")) << "nothing is sending";
    qtSpin(std::chrono::milliseconds(50));
    EXPECT_TRUE(fake->calls().empty());
}

TEST_F(FeedbackSheetTest, aFailureKeepsTheFormAndShowsTheTextInRedLiterally) {
    fake->answer(Refusal{"<b>坏</b> & 不行"}, std::chrono::milliseconds(300));
    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(kind(*sheet, "问题反馈")->isChecked()) << "first category by default";
    kind(*sheet, "功能建议")->click();
    editor(*sheet)->setPlainText(q("  你好呀 \n"));
    contact(*sheet)->setText(q(" wx: me "));
    submit(*sheet)->click();

    EXPECT_EQ(submit(*sheet)->text(), q("提交中…"));
    EXPECT_FALSE(submit(*sheet)->isEnabled());
    EXPECT_TRUE(editor(*sheet)->isEnabled() && contact(*sheet)->isEnabled()) << "editable while sending";
    contact(*sheet)->setFocus();
    QTest::keyClick(contact(*sheet), Qt::Key_Return);  // Return does nothing in flight
    EXPECT_TRUE(child<QPushButton>(*sheet, "feedbackCancel")->isEnabled());

    waitForCalls(1);
    ASSERT_EQ(fake->calls().size(), 1u);
    EXPECT_EQ(fake->calls()[0].kind, "功能建议");
    EXPECT_EQ(fake->calls()[0].text, "你好呀");
    EXPECT_EQ(fake->calls()[0].contact, " wx: me ");

    EXPECT_TRUE(msg(*sheet)->isVisible());
    EXPECT_EQ(msg(*sheet)->text(), q("<b>坏</b> & 不行"));
    EXPECT_EQ(msg(*sheet)->textFormat(), Qt::PlainText);
    EXPECT_EQ(msg(*sheet)->palette().color(QPalette::WindowText), Theme::tint(Tint::red));
    EXPECT_EQ(submit(*sheet)->text(), q("提交"));
    EXPECT_TRUE(submit(*sheet)->isEnabled());
    EXPECT_TRUE(kind(*sheet, "功能建议")->isChecked());
    EXPECT_EQ(editor(*sheet)->toPlainText(), q("  你好呀 \n"));
    EXPECT_EQ(contact(*sheet)->text(), q(" wx: me "));
    EXPECT_TRUE(state->showFeedback());

    // An empty error text is a failure with no message line; the next send clears the last one.
    fake->answer(Refusal{""}, std::chrono::milliseconds(50));
    QTest::keyClick(contact(*sheet), Qt::Key_Return);  // Return presses 提交 from the contact field
    EXPECT_FALSE(msg(*sheet)->isVisible());
    waitForCalls(2);
    EXPECT_FALSE(msg(*sheet)->isVisible());
    EXPECT_TRUE(submit(*sheet)->isEnabled());
    EXPECT_TRUE(sheet->isVisible());

    // Reopening starts fresh.
    child<QPushButton>(*sheet, "feedbackCancel")->click();
    settle();
    EXPECT_FALSE(state->showFeedback());
    QPointer<QDialog> again = raise();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(kind(*again, "问题反馈")->isChecked());
    EXPECT_TRUE(editor(*again)->toPlainText().isEmpty());
    EXPECT_TRUE(contact(*again)->text().isEmpty());
    EXPECT_FALSE(msg(*again)->isVisible());
}

TEST_F(FeedbackSheetTest, theTextIsSentAsTypedOrPasted) {
    // The editor's plain text made a no-break space a space and U+2028, U+2029 and pasted
    // carriage returns line feeds.
    fake->answer(Refusal{"不行"}, std::chrono::milliseconds(0));
    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    size_t sent = 0;
    for (const auto& [how, text] : untouchableTexts()) {
        editor(*sheet)->clear();
        enterText(editor(*sheet), text, how);
        QTest::keyClick(editor(*sheet), Qt::Key_Return);
        enterText(editor(*sheet), q("!"), how);
        submit(*sheet)->click();
        waitForCalls(++sent);
        EXPECT_EQ(fake->calls().back().text, (text + q("\n!")).toStdString());
    }
}

TEST_F(FeedbackSheetTest, successThanksAtOnceAndClosesAboutASecondLater) {
    fake->answer(Outcome(), std::chrono::milliseconds(50));
    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(child<QLabel>(*sheet, "feedbackFooter")->text(),
              q("会自动带上版本 v") + QString::fromStdString(Cfg::version()) + q(" 与系统信息"));
    editor(*sheet)->setPlainText(q("好用"));
    // Taken before the thanks can show: a slow test loop then never shortens the wait seen.
    const auto submitted = std::chrono::steady_clock::now();
    submit(*sheet)->click();
    waitForCalls(1);
    EXPECT_TRUE(child<QWidget>(*sheet, "feedbackThanks")->isVisible());
    EXPECT_FALSE(editor(*sheet)->isVisible());
    EXPECT_FALSE(submit(*sheet)->isVisible());
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_EQ(fake->calls().size(), 1u) << "no input while thanking";

    ASSERT_TRUE(qtWaitFor([&] { return sheet.isNull(); }, std::chrono::seconds(3)));
    EXPECT_GE(std::chrono::steady_clock::now() - submitted, std::chrono::milliseconds(1100)) << "closed before its second";
    EXPECT_FALSE(state->showFeedback());
}

TEST_F(FeedbackSheetTest, cancellingInFlightClosesAndTheRequestStillRuns) {
    fake->answer(Outcome(), std::chrono::milliseconds(300));
    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    editor(*sheet)->setPlainText(q("你好"));
    submit(*sheet)->click();
    child<QPushButton>(*sheet, "feedbackCancel")->click();
    settle();
    EXPECT_TRUE(sheet.isNull());
    EXPECT_FALSE(state->showFeedback());

    // A sheet opened meanwhile sees nothing of the old one's result.
    QPointer<QDialog> fresh = raise();
    ASSERT_NE(fresh, nullptr);
    waitForCalls(1);
    qtSpin(std::chrono::milliseconds(50));
    EXPECT_EQ(fake->calls().size(), 1u);
    EXPECT_FALSE(child<QWidget>(*fresh, "feedbackThanks")->isVisible());
    EXPECT_EQ(submit(*fresh)->text(), q("提交"));
    EXPECT_TRUE(state->showFeedback());
}

TEST_F(FeedbackSheetTest, anOlderSheetsCloseTimerNeverClosesANewerOne) {
    fake->answer(Outcome(), std::chrono::milliseconds(20));
    QPointer<QDialog> first = raise();
    ASSERT_NE(first, nullptr);
    editor(*first)->setPlainText(q("你好"));
    submit(*first)->click();
    waitForCalls(1);
    ASSERT_TRUE(child<QWidget>(*first, "feedbackThanks")->isVisible());
    first->close();  // closed by the window while thanking
    settle();
    EXPECT_FALSE(state->showFeedback());

    QPointer<QDialog> second = raise();
    ASSERT_NE(second, nullptr);
    qtSpin(std::chrono::milliseconds(FeedbackSheet::closeDelayMs + 300));
    EXPECT_FALSE(second.isNull());
    EXPECT_TRUE(second->isVisible());
    EXPECT_TRUE(state->showFeedback());
}

TEST_F(FeedbackSheetTest, theKeysAndTheFocus) {
    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    settle();
    EXPECT_EQ(sheet->focusWidget(), editor(*sheet)) << "the editor has the focus once shown";
    EXPECT_EQ(static_cast<Sheet*>(sheet.data())->defaultButton(), submit(*sheet));
    QTest::keyClicks(editor(*sheet), q("a"));
    QTest::keyClick(editor(*sheet), Qt::Key_Return);  // a line break in the editor, no send
    QTest::keyClicks(editor(*sheet), q("b"));
    EXPECT_EQ(editor(*sheet)->toPlainText(), q("a\nb"));
    EXPECT_TRUE(fake->calls().empty());

    QTest::keyClick(sheet, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(sheet.isNull()) << "Escape does nothing";
    EXPECT_TRUE(state->showFeedback());

    sheet->close();  // the window's close is neutral: closed, nothing sent
    settle();
    EXPECT_TRUE(sheet.isNull());
    EXPECT_FALSE(state->showFeedback());
    EXPECT_TRUE(fake->calls().empty());
}

// Return on 提交 once moved the keys onto the category "其他", and a failure showed in a label
// nothing announced. The keys stay where they were or come back to 提交; the result is told.
TEST_F(FeedbackSheetTest, theKeysStayOrComeBackToSubmitAndTheResultIsTold) {
    struct Case {
        const char* from;  // the control Return is pressed on
        std::optional<std::string> refusal;
        const char* keysAfter;  // "" once the form is gone
        const char* told;
    };
    const Case cases[] = {
        {"feedbackSubmit", "连不上服务器，请稍后再试", "feedbackSubmit", "连不上服务器，请稍后再试"},
        {"feedbackContact", "连不上服务器，请稍后再试", "feedbackContact", "连不上服务器，请稍后再试"},
        {"feedbackSubmit", std::nullopt, "", "已经收到了，谢谢！"},
    };
    size_t calls = 0;
    for (const Case& c : cases) {
        fake->answer(c.refusal ? Outcome(Refusal{*c.refusal}) : Outcome(), std::chrono::milliseconds(200));
        QPointer<QDialog> sheet = raise();
        ASSERT_NE(sheet, nullptr);
        editor(*sheet)->setPlainText(q("好用"));
        auto* from = sheet->findChild<QWidget*>(QString::fromUtf8(c.from));
        from->setFocus();
        QTest::keyClick(from, Qt::Key_Return);
        const QWidget* inFlight = sheet->focusWidget();
        EXPECT_TRUE(inFlight == nullptr || !inFlight->objectName().startsWith(q("feedbackKind:")))
            << c.from << ": while sending the keys went to " << inFlight->objectName().toStdString();
        waitForCalls(++calls);
        auto* announcer = sheet->findChild<Announcer*>();
        EXPECT_EQ(announcer->text(), QString::fromUtf8(c.told)) << c.from;
        ASSERT_NE(announcer->lastAlert(), nullptr) << c.from;
        EXPECT_TRUE(announcer->lastAlert()->isVisible()) << c.from;
        const QWidget* keys = sheet->focusWidget();
        EXPECT_EQ(keys ? keys->objectName() : QString(), QString::fromUtf8(c.keysAfter)) << c.from;
        if (c.refusal) sheet->close();
        ASSERT_TRUE(qtWaitFor([&] { return sheet.isNull(); }, std::chrono::seconds(3)));
    }
}

// The categories are one choice: radio buttons to a screen reader in a named group, the
// arrows moving the choice round the group. Shift+Tab into the group landed on "其他"
// rather than the chosen one, Left from there moved without choosing, and Right from the
// last one left the group.
TEST_F(FeedbackSheetTest, theCategoriesAreRadioButtonsMovedByTheArrows) {
    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    for (const char* raw : {"问题反馈", "功能建议", "其他"}) {
        QAccessibleInterface* segment = QAccessible::queryAccessibleInterface(kind(*sheet, raw));
        ASSERT_NE(segment, nullptr);
        EXPECT_EQ(segment->role(), QAccessible::RadioButton) << raw;
        EXPECT_EQ(segment->text(QAccessible::Name), QString::fromUtf8(raw));
        EXPECT_TRUE(segment->state().checkable) << raw;
    }
    const struct {
        Qt::Key key;
        const char* chosen;
    } moves[] = {{Qt::Key_Right, "功能建议"}, {Qt::Key_Right, "其他"}, {Qt::Key_Left, "功能建议"}, {Qt::Key_Left, "问题反馈"},
                 {Qt::Key_Left, "其他"},      {Qt::Key_Right, "问题反馈"}, {Qt::Key_Down, "功能建议"}, {Qt::Key_Up, "问题反馈"},
                 {Qt::Key_Right, "功能建议"}};
    QAccessibleInterface* group = QAccessible::queryAccessibleInterface(sheet->findChild<QWidget*>(q("feedbackKinds")));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    EXPECT_EQ(group->text(QAccessible::Name), q("反馈类型"));
    kind(*sheet, "问题反馈")->setFocus();
    for (const auto& move : moves) {
        QTest::keyClick(QApplication::focusWidget(), move.key);
        EXPECT_TRUE(kind(*sheet, move.chosen)->isChecked()) << move.chosen;
        EXPECT_EQ(QApplication::focusWidget(), kind(*sheet, move.chosen)) << move.chosen;
        EXPECT_TRUE(QAccessible::queryAccessibleInterface(kind(*sheet, move.chosen))->state().checked) << move.chosen;
        EXPECT_GE(group->indexOfChild(QAccessible::queryAccessibleInterface(kind(*sheet, move.chosen))), 0) << "out of the group";
    }
    // Tab and Shift+Tab stop on the chosen category alone: from the text back to it, and on
    // past the group; from before the group forward to it.
    QApplication::setActiveWindow(sheet);
    editor(*sheet)->setFocus();
    QTest::keyClick(editor(*sheet), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), kind(*sheet, "功能建议"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QWidget* before = QApplication::focusWidget();
    ASSERT_NE(before, nullptr);
    EXPECT_FALSE(before->objectName().startsWith(q("feedbackKind:"))) << before->objectName().toStdString();
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), kind(*sheet, "功能建议"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), editor(*sheet));
    sheet->close();
}

TEST_F(FeedbackSheetTest, theRealSubmitterAgainstALoopbackServer) {
    ScriptedHTTPServer server({400, "application/json", R"({"error":"今天不收"})"});
    AppEnvironment env = state->environment();
    env.feedback = std::make_shared<FeedbackSubmitter>(server.base() + "corvane/api/feedback", 2000, "Linux Test");
    view.reset();
    state = std::make_unique<AppState>(env);
    state->setShowWelcome(false);
    view = std::make_unique<ContentView>(*state);
    view->show();

    QPointer<QDialog> sheet = raise();
    ASSERT_NE(sheet, nullptr);
    editor(*sheet)->setPlainText(q(" 很好用 "));
    submit(*sheet)->click();
    ASSERT_TRUE(qtWaitFor([&] { return submit(*sheet)->isEnabled(); }));
    EXPECT_EQ(msg(*sheet)->text(), q("今天不收"));

    server.setReply({200, "application/json", "{}"});
    submit(*sheet)->click();
    ASSERT_TRUE(qtWaitFor([&] { return child<QWidget>(*sheet, "feedbackThanks")->isVisible(); }));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(requests[1].body).at("text"), "很好用");
}

TEST_F(FeedbackSheetTest, raisedFromTheSettingsSheetItTakesTypingAndTheSettingsStayUsable) {
    Updater::Options options;
    options.version = "1.0.0";
    options.logFolder = box / "logs";
    options.builtInManifestURL = "http://127.0.0.1:1/update.json";
    Updater updater(options);
    QPointer<SettingsSheet> settings = new SettingsSheet(*state, updater, view.get());
    settings->setAttribute(Qt::WA_DeleteOnClose);
    settings->setWindowModality(Qt::WindowModal);
    settings->open();
    settle();

    click(*settings, "settingsFeedbackButton");
    settle();
    QPointer<QDialog> sheet = view->sheets()->sheet(QStringLiteral("feedbackSheet"));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->parentWidget(), settings.data()) << "stacked on the settings sheet";
    EXPECT_TRUE(settings->isVisible());
    settle();
    ASSERT_EQ(sheet->focusWidget(), editor(*sheet));
    QTest::keyClicks(sheet->focusWidget(), q("hello"));
    EXPECT_EQ(editor(*sheet)->toPlainText(), q("hello"));

    click(*sheet, "feedbackCancel");
    settle();
    EXPECT_TRUE(sheet.isNull());
    ASSERT_FALSE(settings.isNull());
    EXPECT_TRUE(settings->isVisible());
    click(*settings, "settingsFeedbackButton");  // usable again
    settle();
    EXPECT_NE(view->sheets()->sheet(QStringLiteral("feedbackSheet")), nullptr);
    state->setShowFeedback(false);
    settle();
    settings->close();
    settle();
}

}  // namespace
}  // namespace corvane::test
