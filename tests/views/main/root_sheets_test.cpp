// The eight sheets of the main window: each flag or item opens its dialog
// (title, size, window-modal, opened without blocking), clearing closes it,
// closing writes back, another identity replaces it, and sheets raised
// together or over another one stack instead of getting lost.
#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "views/main/content_view.h"
#include "views/main/root_sheets.h"
#include "views/sheet_host.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

using test::viewPeer;

struct SheetCase {
    const char* name;
    const char* title;
    QSize size;  // height 0: as tall as its content
    std::function<void(AppState&)> raise;
    std::function<bool(const AppState&)> raised;
    const char* closeButton;  // the object name of the button that closes it ("" for a stand-in's only button)
    bool escapeCloses;
    bool windowCloses = true;  // false: the window's close is ignored (the welcome closes only through its buttons)
};

BurnNote note(const std::string& id) {
    BurnNote n;
    n.id = id;
    n.text = "秘密";
    n.from = "MacBook";
    return n;
}

const std::vector<SheetCase>& sheetCases() {
    static const std::vector<SheetCase> cases = {
        {"pinSheet", "访问口令", {340, 0}, [](AppState& s) { s.setPinPromptFor(viewPeer("p1", "Mac")); },
         [](const AppState& s) { return s.pinPromptFor().has_value(); }, "pinCancel", false},
        {"textSheet", "发送文字", {500, 0}, [](AppState& s) { s.setShowTextSheet(true); },
         [](const AppState& s) { return s.showTextSheet(); }, "textCancel", false},
        {"chatView", "办公室聊天", {930, 630}, [](AppState& s) { s.setShowChat(true); },
         [](const AppState& s) { return s.showChat(); }, "chatDone", true},
        {"teamPanel", "团队空间", {640, 640}, [](AppState& s) { s.setShowTeam(true); },
         [](const AppState& s) { return s.showTeam(); }, "teamDone", false},
        {"burnSheet", "阅后即焚", {520, 0}, [](AppState& s) { s.setBurnNote(note("n1")); },
         [](const AppState& s) { return s.burnNote().has_value(); }, "burnClose", true},
        {"diagSheet", "网络诊断", {560, 0}, [](AppState& s) { s.setShowDiag(true); },
         [](const AppState& s) { return s.showDiag(); }, "diagClose", false},
        {"feedbackSheet", "体验反馈", {460, 0}, [](AppState& s) { s.setShowFeedback(true); },
         [](const AppState& s) { return s.showFeedback(); }, "feedbackCancel", false},
        {"welcomeSheet", "欢迎使用Corvane", {620, 0}, [](AppState& s) { s.setShowWelcome(true); },
         [](const AppState& s) { return s.showWelcome(); }, "welcomeLater", false, false},
    };
    return cases;
}

class RootSheets : public test::ViewsTest {
protected:
    RootSheets() : view(*state) { view.show(); }

    SheetHost& host() { return *view.sheets(); }
    QDialog* sheet(const char* name) { return host().sheet(QString::fromLatin1(name)); }

    ContentView view;
};

TEST_F(RootSheets, eachFlagOpensItsDialogAtItsSizeAndClearingClosesIt) {
    for (const SheetCase& c : sheetCases()) {
        c.raise(*state);
        settle();
        QPointer<QDialog> dialog = sheet(c.name);
        ASSERT_NE(dialog, nullptr) << c.name;
        EXPECT_TRUE(dialog->isVisible()) << c.name;
        EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8(c.title)) << c.name;
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal) << c.name;
        EXPECT_EQ(dialog->width(), c.size.width()) << c.name;
        if (c.size.height() > 0) {
            EXPECT_EQ(dialog->height(), c.size.height()) << c.name;
        }
        EXPECT_EQ(dialog->parentWidget(), &view) << c.name;
        EXPECT_EQ(host().openSheets(), std::vector<QDialog*>{dialog}) << c.name;

        // Clearing the flag or item closes it; nothing is written back.
        for (const SheetRow& row : rootSheetRows(state->environment().feedback)) {
            if (row.objectName == c.name) row.clear(*state);
        }
        settle();
        EXPECT_TRUE(dialog.isNull() || !dialog->isVisible()) << c.name;
        EXPECT_EQ(sheet(c.name), nullptr) << c.name;
        EXPECT_FALSE(c.raised(*state)) << c.name;
    }
}

TEST_F(RootSheets, howeverASheetClosesItsFlagOrItemIsWrittenBack) {
    const std::vector<std::pair<const char*, std::function<void(QDialog*, const SheetCase&)>>> ways = {
        {"its close button",
         [](QDialog* d, const SheetCase& c) {
             auto* button = *c.closeButton ? d->findChild<QPushButton*>(QString::fromLatin1(c.closeButton))
                                           : d->findChild<QPushButton*>();
             ASSERT_NE(button, nullptr) << c.name;
             button->click();
         }},
        {"Escape", [](QDialog* d, const SheetCase&) { QTest::keyClick(d, Qt::Key_Escape); }},
        {"the window's close", [](QDialog* d, const SheetCase&) { d->close(); }},
    };
    // Where a way leaves the sheet open, its own button closes it.
    const auto closeByButton = [](QDialog* d, const SheetCase& c) {
        d->findChild<QPushButton*>(QString::fromLatin1(c.closeButton))->click();
    };
    for (const auto& [how, close] : ways) {
        for (const SheetCase& c : sheetCases()) {
            c.raise(*state);
            settle();
            QPointer<QDialog> dialog = sheet(c.name);
            ASSERT_NE(dialog, nullptr) << c.name;
            close(dialog, c);
            settle();
            const bool ignored = (std::string(how) == "Escape" && !c.escapeCloses) ||
                                 (std::string(how) == "the window's close" && !c.windowCloses);
            if (ignored) {
                // This way does nothing on this sheet.
                EXPECT_TRUE(c.raised(*state)) << c.name << " " << how;
                EXPECT_EQ(sheet(c.name), dialog.data()) << c.name << " " << how;
                if (c.windowCloses) dialog->close();
                else closeByButton(dialog, c);
                settle();
            }
            EXPECT_FALSE(c.raised(*state)) << c.name << " closed by " << how;
            EXPECT_TRUE(dialog.isNull()) << c.name << " is deleted later";
            EXPECT_TRUE(host().openSheets().empty()) << c.name;
        }
    }
}

TEST_F(RootSheets, anItemOfAnotherIdentityReplacesTheSheetAndTheSameOneDoesNot) {
    state->setPinPromptFor(viewPeer("p1", "Mac"));
    settle();
    QPointer<QDialog> first = sheet("pinSheet");
    state->setPinPromptFor(viewPeer("p1", "Mac renamed"));  // same id
    settle();
    EXPECT_EQ(sheet("pinSheet"), first.data());
    state->setPinPromptFor(viewPeer("p2", "Win"));
    settle();
    EXPECT_TRUE(first.isNull() || !first->isVisible());
    ASSERT_NE(sheet("pinSheet"), nullptr);
    EXPECT_NE(sheet("pinSheet"), first.data());
    EXPECT_EQ(state->pinPromptFor()->id, "p2");  // the replaced sheet wrote nothing back

    state->setBurnNote(note("n1"));
    settle();
    QPointer<QDialog> firstNote = sheet("burnSheet");
    state->setBurnNote(note("n1"));
    settle();
    EXPECT_EQ(sheet("burnSheet"), firstNote.data());
    state->setBurnNote(note("n2"));
    settle();
    EXPECT_NE(sheet("burnSheet"), firstNote.data());
    EXPECT_EQ(state->burnNote()->id, "n2");
}

TEST_F(RootSheets, aSheetRaisedOverAnotherStacksOnItAndOutlivesIt) {
    state->setShowChat(true);
    settle();
    QDialog* chat = sheet("chatView");
    ASSERT_NE(chat, nullptr);
    state->setBurnNote(note("n1"));  // a read-once note arrives while the chat window shows
    settle();
    QDialog* burn = sheet("burnSheet");
    ASSERT_NE(burn, nullptr);
    EXPECT_EQ(burn->parentWidget(), chat);
    EXPECT_TRUE(burn->isVisible());

    chat->findChild<QPushButton*>(QStringLiteral("chatDone"))->click();  // the chat window closes under the note
    settle();
    EXPECT_FALSE(state->showChat());
    ASSERT_EQ(sheet("burnSheet"), burn);
    EXPECT_TRUE(burn->isVisible());
    EXPECT_EQ(burn->parentWidget(), &view);
    EXPECT_EQ(state->burnNote()->id, "n1");
}

TEST_F(RootSheets, flagsRaisedTogetherOpenInTableOrder) {
    state->setShowWelcome(true);
    state->setShowDiag(true);
    state->setPinPromptFor(viewPeer("p1", "Mac"));
    settle();
    QDialog* pin = sheet("pinSheet");
    QDialog* diag = sheet("diagSheet");
    QDialog* welcome = sheet("welcomeSheet");
    ASSERT_TRUE(pin && diag && welcome);
    EXPECT_EQ(pin->parentWidget(), &view);
    EXPECT_EQ(diag->parentWidget(), pin);
    EXPECT_EQ(welcome->parentWidget(), diag);
    EXPECT_EQ(host().openSheets(), (std::vector<QDialog*>{pin, diag, welcome}));
}

TEST_F(RootSheets, finishingTheWelcomeWithTeamClosesItAndOpensTheTeamPanel) {
    state->setShowWelcome(true);
    settle();
    QPointer<QDialog> welcome = sheet("welcomeSheet");
    ASSERT_NE(welcome, nullptr);
    state->finishWelcome("team");
    settle();
    EXPECT_TRUE(welcome.isNull() || !welcome->isVisible());
    ASSERT_NE(sheet("teamPanel"), nullptr);
    EXPECT_EQ(sheet("teamPanel")->parentWidget(), &view);  // not on the closing welcome sheet
}

TEST_F(RootSheets, onlyTheFeedbackSheetIsMadeWithoutTheState) {
    std::vector<SheetRow> rows = rootSheetRows(state->environment().feedback);
    std::map<QString, AppState*> given;
    for (SheetRow& row : rows) {
        row.make = [&given, name = row.objectName, make = row.make](AppState* s, QWidget* parent) {
            given[name] = s;
            return make(s, parent);
        };
    }
    QWidget window;
    SheetHost host(*state, &window, rows);
    for (const SheetCase& c : sheetCases()) c.raise(*state);
    settle();
    ASSERT_EQ(given.size(), 8u);
    for (const auto& [name, s] : given) EXPECT_EQ(s, name == "feedbackSheet" ? nullptr : state.get()) << name.toStdString();
}

}  // namespace
}  // namespace corvane
