// The first-run welcome: each of its three buttons stores its mode for good
// (config.json and "nasExt") and only the team card opens the team panel;
// Escape and the window's close leave it open with nothing written; it shows
// whenever "welcomeDone" is not the boolean true; its two cards share the row.
#include <fstream>

#include <QFrame>

#include <nlohmann/json.hpp>

#include "app/defaults_store.h"
#include "base/whole_files.h"
#include "views/main/content_view.h"
#include "views/sheet_host.h"
#include "views/sheets/sheets_fixture.h"
#include "views/sheets/welcome_sheet.h"

namespace corvane::test {
namespace {

class WelcomeSheetTest : public SheetsTest {
protected:
    // A first start in a folder of its own: no config.json, an empty defaults store.
    void start(const std::string& name, const std::optional<std::string>& config = std::nullopt) {
        view.reset();
        folder = box / name;
        std::filesystem::create_directories(folder / "support");
        if (config) {
            ASSERT_TRUE(writeWholeFile(folder / "support" / "config.json", *config));
        }
        AppEnvironment env = state->environment();
        env.appSupport = folder / "support";
        env.defaults = std::make_shared<DefaultsStore>(folder / "defaults.json");
        state = std::make_unique<AppState>(env);
        view = std::make_unique<ContentView>(*state);
        view->show();
        settle();
    }

    QDialog* welcome() const { return view->sheets()->sheet(QStringLiteral("welcomeSheet")); }
    std::filesystem::path configFile() const { return folder / "support" / "config.json"; }
    nlohmann::json config() const { return nlohmann::json::parse(readWholeFile(configFile()).bytes); }
    bool nasExt() const { return DefaultsStore(folder / "defaults.json").boolValue("nasExt"); }

    std::filesystem::path folder;
    std::unique_ptr<ContentView> view;
};

TEST_F(WelcomeSheetTest, eachButtonStoresItsModeAndOnlyTheTeamCardOpensTheTeamPanel) {
    struct Case {
        const char* button;
        const char* mode;
        bool team;
    };
    const std::vector<Case> cases = {
        {"welcomeLan", "lan", false},
        {"welcomeTeam", "team", true},
        {"welcomeLater", "lan", false},
    };
    for (const Case& c : cases) {
        start(c.button);
        QPointer<QDialog> sheet = welcome();
        ASSERT_NE(sheet, nullptr) << c.button;
        child<QPushButton>(*sheet, c.button)->click();
        settle();
        EXPECT_TRUE(sheet.isNull() || !sheet->isVisible()) << c.button;
        EXPECT_FALSE(state->showWelcome()) << c.button;
        EXPECT_EQ(config().at("usageMode"), c.mode) << c.button;
        EXPECT_EQ(config().at("welcomeDone"), true) << c.button;
        EXPECT_EQ(nasExt(), c.team) << c.button;
        EXPECT_EQ(state->nasEnabled(), c.team) << c.button;
        EXPECT_EQ(state->showTeam(), c.team) << c.button;
        EXPECT_EQ(view->sheets()->sheet(QStringLiteral("teamPanel")) != nullptr, c.team) << c.button;
        if (!c.team) {
            EXPECT_TRUE(view->sheets()->openSheets().empty()) << c.button;
        }
    }
}

TEST_F(WelcomeSheetTest, escapeReturnOnNoButtonAndTheWindowsCloseLeaveItOpenAndWriteNothing) {
    start("keys");
    QPointer<QDialog> sheet = welcome();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), q("欢迎使用Corvane"));
    QTest::keyClick(sheet, Qt::Key_Escape);
    // No default action: Return presses a focused button only, and none has the focus here.
    if (QWidget* focused = sheet->focusWidget()) focused->clearFocus();
    QTest::keyClick(sheet, Qt::Key_Return);
    sheet->close();
    settle();
    EXPECT_EQ(welcome(), sheet.data());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(state->showWelcome());
    EXPECT_FALSE(std::filesystem::exists(configFile()));
    EXPECT_FALSE(nasExt());
}

TEST_F(WelcomeSheetTest, theApplicationsQuitStillClosesIt) {
    start("quit");
    QPointer<QDialog> sheet = welcome();
    ASSERT_NE(sheet, nullptr);
    QEvent quit(QEvent::Quit);  // what QCoreApplication::quit() sends; a refused close would cancel it
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(std::filesystem::exists(configFile())) << "quitting chooses nothing";
    settle();
    view->show();
    sheet->show();
    sheet->close();  // afterwards the window's close is ignored again
    EXPECT_TRUE(sheet->isVisible());
}

TEST_F(WelcomeSheetTest, itShowsUnlessWelcomeDoneIsTheBooleanTrue) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {R"({"welcomeDone": true})", false}, {R"({"welcomeDone": false})", true},
        {R"({"welcomeDone": "true"})", true}, {R"({"welcomeDone": 1})", true},
        {R"({"usageMode": "lan"})", true},   {"not json", true},
    };
    int n = 0;
    for (const auto& [text, shown] : cases) {
        start("config" + std::to_string(n++), text);
        EXPECT_EQ(welcome() != nullptr, shown) << text;
    }
}

TEST_F(WelcomeSheetTest, twoCardsOfEqualWidthAtLeast196HighOnOneCentre) {
    start("look");
    QDialog* sheet = welcome();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->width(), 620);
    const auto cards = sheet->findChildren<QFrame*>(QStringLiteral("welcomeCard"));
    ASSERT_EQ(cards.size(), 2);
    EXPECT_EQ(cards[0]->width(), cards[1]->width());
    EXPECT_GE(cards[0]->width(), 270);
    for (QFrame* card : cards) EXPECT_GE(card->height(), WelcomeSheet::cardMinHeight);
    EXPECT_EQ(cards[0]->geometry().center().y(), cards[1]->geometry().center().y());
    EXPECT_LT(cards[0]->x(), cards[1]->x());
    EXPECT_NE(cards[0]->findChild<QPushButton*>(QStringLiteral("welcomeLan")), nullptr) << "point-to-point on the left";
    EXPECT_EQ(child<QPushButton>(*sheet, "welcomeLater")->text(), q("稍后再说"));
}

}  // namespace
}  // namespace corvane::test
