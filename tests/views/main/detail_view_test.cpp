// The detail pane: title, tag and subtitle per target, the mode badge, the
// unread badge, the search field, the empty states, the header buttons, the
// settings sheet from the pane's own flag, and the two panel slots.
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "base/cfg.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/main/detail_header.h"
#include "views/main/detail_view.h"
#include "views/main/file_area.h"
#include "views/main/file_list_model.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

using test::viewPeer;

ChatConv unreadConv(const std::string& id, int unread) {
    ChatConv conv;
    conv.id = id;
    conv.unread = unread;
    return conv;
}

class DetailTest : public test::ViewsTest {
protected:
    DetailTest() : pane(*state) {
        pane.resize(787, 700);
        pane.show();
        state->setPort(8899);
        settle();
    }

    QString text(const char* name) { return child<QLabel>(pane, name)->text(); }
    bool shown(const char* name) { return child<QWidget>(pane, name)->isVisible(); }
    void press(const char* name) { QTest::mouseClick(child<QPushButton>(pane, name), Qt::LeftButton); }
    QLineEdit* search() { return child<QLineEdit>(pane, "searchField"); }

    DetailView pane;
};

TEST_F(DetailTest, titleTagAndSubtitlePerTarget) {
    state->setFiles({{"a.txt", "a.txt", 1024, 0}, {"b/c.bin", "c.bin", 512, 0}});
    EXPECT_EQ(text("detailTitle"), QStringLiteral("本机"));
    EXPECT_FALSE(shown("platformTag"));
    EXPECT_FALSE(shown("backToLocal"));
    EXPECT_EQ(text("detailSubtitle"), QString::fromStdString("2 个文件 · 1.50 KB · 端口 8899 · v" + Cfg::version()));

    Peer win = viewPeer("p-w", "R&D <b>PC</b>", "", "192.168.1.23", 8900);
    win.plat = "win32";
    state->setTarget(Target::of(win));
    EXPECT_EQ(text("detailTitle"), QStringLiteral("R&D <b>PC</b>"));
    EXPECT_TRUE(shown("platformTag"));
    EXPECT_EQ(text("platformTag"), QStringLiteral("Windows"));
    EXPECT_TRUE(shown("backToLocal"));
    // The previous target's files stay counted until the new listing arrives.
    EXPECT_EQ(text("detailSubtitle"), QStringLiteral("2 个文件 · 1.50 KB · 192.168.1.23:8900"));
    // A search hides files, never from the count.
    state->setSearchText("a.txt");
    EXPECT_EQ(pane.fileArea()->model()->rowCount(), 1);
    EXPECT_TRUE(text("detailSubtitle").startsWith(QStringLiteral("2 个文件 · 1.50 KB")));

    press("backToLocal");
    EXPECT_TRUE(state->target().isLocal());
    EXPECT_FALSE(shown("platformTag"));
}

TEST_F(DetailTest, aCutListingsHeaderSaysThereAreMoreAndWhoseSizeItShows) {
    // A folder of 50,000 files read "5000 个文件 · 19.3 KB", as if that were all of it.
    const Peer win = viewPeer("p-w", "Win", "", "192.168.1.23", 8900);
    const std::string version = " · 端口 8899 · v" + Cfg::version();
    const struct { bool truncated; std::optional<Peer> peer; std::string subtitle; } cases[] = {
        {true, std::nullopt, "2+ 个文件 · 已列出 1.50 KB" + version},
        {true, win, "2+ 个文件 · 已列出 1.50 KB · 192.168.1.23:8900"},
        {false, win, "2 个文件 · 1.50 KB · 192.168.1.23:8900"},
        {false, std::nullopt, "2 个文件 · 1.50 KB" + version},
    };
    for (const auto& c : cases) {
        state->setTarget(c.peer ? Target::of(*c.peer) : Target::local());
        state->setFilesTruncated(c.truncated);
        state->setFiles({{"a.txt", "a.txt", 1024, 0}, {"b/c.bin", "c.bin", 512, 0}});
        EXPECT_EQ(text("detailSubtitle"), QString::fromStdString(c.subtitle));
    }
    state->setFilesTruncated(true);  // the flag alone redraws the header
    EXPECT_TRUE(text("detailSubtitle").startsWith(QStringLiteral("2+ 个文件 · 已列出 ")));
}

TEST_F(DetailTest, theModeBadge) {
    struct Case {
        const char* mode;
        const char* team;
        int pending;
        const char* label;
        const char* symbol;
    };
    const Case cases[] = {
        {"lan", "研发部", 5, "局域网模式", "wifi"},
        {"", "", 0, "局域网模式", "wifi"},
        {"Team", "", 0, "局域网模式", "wifi"},
        {"team", "研发部", 0, "研发部", "person.2.fill"},
        {"team", "研发部", 3, "研发部 3", "person.2.fill"},
        {"team", "研发部", 250, "研发部 99", "person.2.fill"},
        {"team", "", 0, "团队模式", "person.2.fill"},
        {"team", "", 3, "团队模式 3", "person.2.fill"},
        {"team", "R&D", 0, "R&D", "person.2.fill"},
    };
    auto* badge = child<SymbolTextButton>(pane, "modeBadge");
    for (const Case& c : cases) {
        state->setTeamName(c.team);
        state->setTeamPending(c.pending);
        state->setUsageMode(c.mode);
        EXPECT_EQ(pane.header()->modeLabel(), QString::fromUtf8(c.label)) << c.mode << c.pending;
        EXPECT_EQ(badge->text().replace(QStringLiteral("&&"), QStringLiteral("&")), QString::fromUtf8(c.label));
        EXPECT_EQ(badge->symbol(), QString::fromUtf8(c.symbol));
        const bool team = std::string(c.mode) == "team";
        EXPECT_EQ(badge->toolTip(), team ? QStringLiteral("团队模式：点这里管理团队空间 / 成员审批")
                                         : QStringLiteral("局域网模式：免注册，同事之间直接互传。点这里切换"));
        state->setShowTeam(false);
        QTest::mouseClick(badge, Qt::LeftButton);
        EXPECT_TRUE(state->showTeam()) << "both modes open the team panel";
    }
}

TEST_F(DetailTest, theUnreadBadgeCountsUpTo99) {
    const std::pair<std::vector<int>, const char*> cases[] = {{{0}, nullptr}, {{3, 4}, "7"}, {{150}, "99"}};
    for (const auto& [unread, label] : cases) {
        std::vector<ChatConv> convs;
        for (size_t k = 0; k < unread.size(); ++k) convs.push_back(unreadConv("c" + std::to_string(k), unread[k]));
        state->setChatConvs(convs);
        EXPECT_EQ(shown("chatBadge"), label != nullptr);
        if (label) {
            EXPECT_EQ(text("chatBadge"), QString::fromUtf8(label));
        }
    }
    auto* chat = child<SymbolButton>(pane, "chatButton");
    EXPECT_EQ(chat->accessibleName(), QStringLiteral("办公室聊天"));
}

TEST_F(DetailTest, headerButtonsRaiseTheirFlagsAndRefresh) {
    press("chatButton");
    EXPECT_TRUE(state->showChat());
    press("sendTextButton");
    EXPECT_TRUE(state->showTextSheet());
    press("refreshButton");
    EXPECT_TRUE(state->loadingFiles());
    for (const char* name : {"sendTextButton", "refreshButton", "settingsButton"}) {
        EXPECT_FALSE(child<QPushButton>(pane, name)->accessibleName().isEmpty()) << name;
    }
}

TEST_F(DetailTest, theGearOpensTheSettingsSheetFromThePanesFlag) {
    press("settingsButton");
    EXPECT_TRUE(pane.showSettings());
    QDialog* sheet = pane.settingsSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->objectName(), QStringLiteral("settingsSheet"));
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("设置"));
    EXPECT_EQ(sheet->width(), 480);
    EXPECT_TRUE(sheet->isVisible());
    press("settingsButton");  // already shown: no second sheet
    EXPECT_EQ(pane.settingsSheet(), sheet);
    sheet->reject();
    settle();
    EXPECT_FALSE(pane.showSettings());
    EXPECT_EQ(pane.settingsSheet(), nullptr);
    press("settingsButton");
    EXPECT_TRUE(pane.showSettings());
    pane.setShowSettings(false);
    settle();
    EXPECT_EQ(pane.settingsSheet(), nullptr);
}

TEST_F(DetailTest, theSearchFieldWritesUserEditsAndTakesOnlyDifferingState) {
    state->setFiles({{"a.txt", "a.txt", 1, 0}, {"b.txt", "b.txt", 1, 0}});
    EXPECT_FALSE(shown("searchClear"));
    EXPECT_EQ(child<QPushButton>(pane, "searchClear")->accessibleName(), QStringLiteral("清除搜索"));
    search()->setFocus();
    QTest::keyClicks(search(), "b.t");
    EXPECT_EQ(state->searchText(), "b.t");
    EXPECT_TRUE(shown("searchClear"));
    search()->setCursorPosition(1);
    state->setSearchText("b.t");  // the same text published again: the cursor stays
    EXPECT_EQ(search()->cursorPosition(), 1);
    state->setSearchText("a");
    EXPECT_EQ(search()->text(), QStringLiteral("a"));
    press("searchClear");
    EXPECT_EQ(state->searchText(), "");
    EXPECT_EQ(search()->text(), QString());
    EXPECT_FALSE(shown("searchClear"));
}

TEST_F(DetailTest, emptyStatesLoadingBlankSearchAndPeers) {
    struct Step {
        const char* what;
        std::vector<FileItem> files;
        std::string search;
        bool loading;
        bool peer;
        const char* text;  // null: the list shows
        const char* hint;  // null: no hint
        const char* icon;
        std::string problem = "";
    };
    const std::vector<FileItem> two = {{"a.txt", "a.txt", 1, 0}, {"b.txt", "b.txt", 1, 0}};
    const Step steps[] = {
        {"nothing yet", {}, "", false, false, "还没有文件", "把文件拖到上面，或点「选择文件」", "tray"},
        {"a peer without files", {}, "", false, true, "还没有文件", "把文件拖到上面，会直接发到这台设备", "tray"},
        {"loading with a list", two, "", true, false, nullptr, nullptr, ""},
        {"loading an empty list", {}, "", true, false, "正在读取…", nullptr, "arrow.triangle.2.circlepath"},
        {"a blank search lists all", two, "   ", false, false, nullptr, nullptr, ""},
        {"a blank search over nothing", {}, "   ", false, false, "没有匹配的文件", nullptr, "tray"},
        {"no match", two, "zzz", false, false, "没有匹配的文件", nullptr, "tray"},
        {"a storage that cannot be reached", {}, "", false, false, "存储无法访问，请检查存储设备或网络", nullptr,
         "exclamationmark.triangle.fill", "存储无法访问，请检查存储设备或网络"},
        {"a peer whose disk is full", {}, "", false, true, "存储空间已满", nullptr, "exclamationmark.triangle.fill",
         "存储空间已满"},
        {"loading while the storage is away", {}, "", true, false, "正在读取…", nullptr, "arrow.triangle.2.circlepath",
         "存储空间已满"},
    };
    for (const Step& step : steps) {
        state->setTarget(step.peer ? Target::of(viewPeer("p-1", "Mac")) : Target::local());
        state->setFiles(step.files);
        state->setSearchText(step.search);
        state->setLoadingFiles(step.loading);
        state->setFilesProblem(step.problem);
        FileArea* area = pane.fileArea();
        if (!step.text) {
            EXPECT_EQ(area->currentWidget(), area->listPage()) << step.what;
            EXPECT_EQ(area->model()->rowCount(), 2) << step.what;
            continue;
        }
        EXPECT_NE(area->currentWidget(), area->listPage()) << step.what;
        EXPECT_EQ(text("fileEmptyText"), QString::fromUtf8(step.text)) << step.what;
        EXPECT_EQ(shown("fileEmptyHint"), step.hint != nullptr) << step.what;
        if (step.hint) {
            EXPECT_EQ(text("fileEmptyHint"), QString::fromUtf8(step.hint)) << step.what;
        }
        EXPECT_EQ(child<SymbolLabel>(pane, "fileEmptyIcon")->symbol(), QString::fromUtf8(step.icon)) << step.what;
        EXPECT_EQ(shown("searchClear"), !step.search.empty()) << step.what;
    }
}

// A listing cut at its limit is cut anywhere in the sorted order: a search that found
// nothing read "没有匹配的文件" for a file that exists, and a reader heard nothing of it.
// Each step lists three files, cut or whole, types a search and reads the no-match hint
// or the note above the matches, and what a reader hears once the typing pauses.
TEST_F(DetailTest, aSearchOverACutListingSaysItSearchedOnlyTheFilesListedAndIsHeard) {
    struct Step {
        bool cut;
        std::string search;
        const char* emptyText;  // null: the matches are listed
        const char* note;       // the hint under no match, or the note above the matches ("": none)
        const char* heard;      // "": nothing
    };
    const Step steps[] = {
        {true, "zzz", "没有匹配的文件", "只搜索了已列出的 3 个文件", "没有匹配的文件，只搜索了已列出的 3 个文件"},
        {true, ".txt", nullptr, "只搜索了已列出的 3 个文件", "找到 2 个文件，只搜索了已列出的 3 个文件"},
        {true, "", nullptr, "", ""},
        {false, "zzz", "没有匹配的文件", "", "没有匹配的文件"},
        {false, "a", nullptr, "", "找到 1 个文件"},
    };
    const std::vector<FileItem> three = {{"a.txt", "a.txt", 1, 0}, {"b.txt", "b.txt", 1, 0}, {"c.log", "c.log", 1, 0}};
    FileArea* area = pane.fileArea();
    for (const Step& step : steps) {
        const std::string what = (step.cut ? "cut, " : "whole, ") + step.search;
        state->setSearchText("");
        state->setFiles(three);
        state->setFilesTruncated(step.cut);
        settle();
        const test::TellsHeard heard(pane);
        state->setSearchText(step.search);
        settle();
        if (step.emptyText) {
            EXPECT_NE(area->currentWidget(), area->listPage()) << what;
            EXPECT_EQ(text("fileEmptyText"), QString::fromUtf8(step.emptyText)) << what;
            EXPECT_EQ(shown("fileEmptyHint") ? text("fileEmptyHint") : QString(), QString::fromUtf8(step.note)) << what;
        } else {
            EXPECT_EQ(area->currentWidget(), area->listPage()) << what;
            EXPECT_EQ(shown("fileSearchNote") ? text("fileSearchNote") : QString(), QString::fromUtf8(step.note)) << what;
        }
        if (*step.heard) {
            ASSERT_TRUE(test::qtWaitFor([&] { return !heard.alerts().empty(); }, std::chrono::seconds(5))) << what;
            EXPECT_EQ(heard.alerts(), QStringList{QString::fromUtf8(step.heard)}) << what;
        } else {
            test::qtSpin(std::chrono::milliseconds(600));
            EXPECT_EQ(heard.alerts(), QStringList{}) << what;
        }
    }
}

TEST_F(DetailTest, thePanesDividersAreDrawnAtSixtyPercentOfTheRule) {
    // The window's own rules (the sidebar's, the banner's) keep the full colour.
    const auto drawn = [](QWidget* rule) { return rule->grab().toImage().pixelColor(rule->width() / 2, 0); };
    const auto blended = [](double alpha) {
        return qRound(Theme::window().red() * (1 - Theme::primary(alpha).alphaF()));
    };
    Rule windowRule(Qt::Horizontal);
    windowRule.resize(100, 1);
    EXPECT_NEAR(drawn(&windowRule).red(), blended(0.1), 1);
    int dividers = 0;
    for (Rule* rule : pane.findChildren<Rule*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (rule->width() < 2) rule->resize(100, 1);  // the panels' dividers are laid out only with their panels
        EXPECT_NEAR(drawn(rule).red(), blended(0.06), 1) << rule->objectName().toStdString();
        ++dividers;
    }
    EXPECT_EQ(dividers, 3) << "below the header, above each panel";
}

TEST_F(DetailTest, thePanelSlotsShowWhileTheyHaveRows) {
    EXPECT_FALSE(pane.receivePanelSlot()->isVisible());
    EXPECT_FALSE(pane.queuePanelSlot()->isVisible());
    state->setRecvTasks({{"r1", "a.bin", 10, 5, 1.0, "Mac", "接收中"}});
    EXPECT_TRUE(pane.receivePanelSlot()->isVisible());
    EXPECT_FALSE(pane.queuePanelSlot()->isVisible());
    test::writeFile(box / "out" / "x.txt", "x");
    state->send({box / "out" / "x.txt"});
    EXPECT_TRUE(pane.queuePanelSlot()->isVisible());
    state->setRecvTasks({});
    EXPECT_FALSE(pane.receivePanelSlot()->isVisible());
    // The pane's layout hands the slots to the panels: no margins of their own.
    EXPECT_EQ(pane.queuePanelSlot()->layout()->contentsMargins(), QMargins());
}

}  // namespace
}  // namespace corvane
