// The root view: the nearby-team strip (when it shows, its texts, join, create
// and dismiss), the split with its fixed sidebar, and the toast at the bottom.
#include <QDialog>
#include <QLayout>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "views/controls.h"
#include "views/data_labels.h"
#include "views/main/content_view.h"
#include "views/main/team_banner.h"
#include "views/main/toast_view.h"
#include "views/sheet_host.h"
#include "views/theme.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

using test::viewPeer;

class ContentViewTest : public test::ViewsTest {
protected:
    ContentViewTest() : view(*state) {
        qputenv("CORVANE_NO_ANIM", "1");
        view.resize(1040, 720);
        view.show();
        settle();
    }
    ~ContentViewTest() override { qunsetenv("CORVANE_NO_ANIM"); }

    bool stripShown() const { return view.banner()->isVisible(); }
    QString stripTitle() const { return view.findChild<ElidedLabel*>("teamBannerTitle")->text(); }
    QPushButton* button(const char* name) const { return view.findChild<QPushButton*>(name); }
    void dismissed(std::set<std::string> ids) { state->setDismissedTeamBanners(std::move(ids)); }

    ContentView view;
};

TEST_F(ContentViewTest, theStripShowsForTheNearbyTeamUnlessItsDeviceWasDismissed) {
    struct Step {
        const char* what;
        std::optional<Peer> nearby;
        std::set<std::string> dismissed;
        bool shown;
        const char* title;
    };
    const Peer mac = viewPeer("p-mac", "MacBook", "研发部", "192.168.1.20");
    const Peer win = viewPeer("p-win", "Win", "市场部", "192.168.1.30");
    const std::vector<Step> steps = {
        {"no team nearby", std::nullopt, {}, false, ""},
        {"a team nearby", mac, {}, true, "发现团队「研发部」（MacBook · 192.168.1.20）"},
        {"that device dismissed", mac, {"p-mac"}, false, ""},
        {"another team-announcing device", win, {"p-mac"}, true, "发现团队「市场部」（Win · 192.168.1.30）"},
        {"the team goes away while shown", std::nullopt, {"p-mac"}, false, ""},
        {"the dismissed device again", mac, {"p-mac"}, false, ""},
    };
    for (const Step& step : steps) {
        state->setNearbyTeam(step.nearby);
        dismissed(step.dismissed);
        settle();
        EXPECT_EQ(stripShown(), step.shown) << step.what;
        EXPECT_EQ(view.findChild<Rule*>("teamBannerRule")->isVisible(), step.shown) << step.what;
        if (step.shown) {
            EXPECT_EQ(stripTitle(), QString::fromUtf8(step.title)) << step.what;
        }
        // Without the strip the split starts at the top edge.
        EXPECT_EQ(view.sidebar()->y(), step.shown ? view.banner()->height() + 1 : 0) << step.what;
    }
}

TEST_F(ContentViewTest, joiningOpensTheDevicesRootPageAndKeepsTheStrip) {
    state->setNearbyTeam(viewPeer("p-mac", "MacBook", "研发部", "192.168.1.20", 8899));
    settle();
    QTest::mouseClick(button("teamBannerJoin"), Qt::LeftButton);
    EXPECT_EQ(openedURLs, std::vector<std::string>{"http://192.168.1.20:8899/"});
    EXPECT_TRUE(stripShown());
    EXPECT_TRUE(state->dismissedTeamBanners().empty());
    settle();
    EXPECT_TRUE(view.sheets()->openSheets().empty());
}

TEST_F(ContentViewTest, anAddressThatIsNoUrlOpensNothing) {
    for (const char* ip : {"bad host", "", "[::1", "a%zz"}) {
        state->setNearbyTeam(viewPeer("p-x", "X", "T", ip));
        view.banner()->join();
        EXPECT_TRUE(openedURLs.empty()) << ip << " opened " << (openedURLs.empty() ? "" : openedURLs.back());
        openedURLs.clear();
    }
}

TEST_F(ContentViewTest, creatingHidesTheStripAndOpensTheTeamPanelForGood) {
    state->setNearbyTeam(viewPeer("p-mac", "MacBook", "研发部"));
    settle();
    QTest::mouseClick(button("teamBannerCreate"), Qt::LeftButton);
    EXPECT_FALSE(stripShown());
    EXPECT_TRUE(state->dismissedTeamBanners().count("p-mac"));
    EXPECT_TRUE(state->showTeam());
    settle();
    QDialog* panel = view.sheets()->sheet("teamPanel");
    ASSERT_NE(panel, nullptr);
    panel->reject();
    settle();
    EXPECT_FALSE(state->showTeam());
    EXPECT_FALSE(stripShown());
    EXPECT_TRUE(openedURLs.empty());
}

TEST_F(ContentViewTest, dismissingHidesTheStripOnlyAndSaysSoOnHover) {
    state->setNearbyTeam(viewPeer("p-mac", "MacBook", "研发部"));
    settle();
    auto* close = view.findChild<SymbolButton*>("teamBannerClose");
    EXPECT_EQ(close->toolTip(), QStringLiteral("本次会话不再提示"));
    EXPECT_EQ(close->accessibleName(), QStringLiteral("本次会话不再提示"));
    EXPECT_EQ(close->symbol(), QStringLiteral("xmark"));
    int changes = 0;
    QObject::connect(state.get(), &AppState::dismissedTeamBannersChanged, [&changes] { ++changes; });
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(stripShown());
    EXPECT_EQ(state->dismissedTeamBanners(), std::set<std::string>{"p-mac"});
    EXPECT_FALSE(state->showTeam());
    view.banner()->dismiss();  // already in the set: nothing changes
    EXPECT_EQ(changes, 1);
    settle();
    EXPECT_TRUE(view.sheets()->openSheets().empty());
}

TEST_F(ContentViewTest, theStripAndTheToastShowDataLiterally) {
    for (const char* text : {"<img src=\"/dev/zero\">", "<i>x</i>", "R&D"}) {
        state->setNearbyTeam(viewPeer("p-1", text, text, "10.0.0.1"));
        EXPECT_EQ(stripTitle(), QStringLiteral("发现团队「%1」（%1 · 10.0.0.1）").arg(QString::fromUtf8(text)));
        state->setToast(std::string(text));
        EXPECT_EQ(view.toast()->text(), QString::fromUtf8(text));
        view.grab();  // paints without reading anything
        for (const QLabel* label : view.findChildren<QLabel*>()) EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
}

TEST_F(ContentViewTest, theSidebarKeepsItsWidthAndTheDetailPaneTakesTheRest) {
    for (const int width : {880, 1040, 1600}) {
        view.resize(width, 720);
        settle();
        EXPECT_EQ(view.sidebar()->width(), 252) << width;
        EXPECT_EQ(view.detailPane()->x(), 253) << width;  // after the 1 px rule
        EXPECT_EQ(view.detailPane()->width(), width - 253) << width;
    }
    state->setNearbyTeam(viewPeer("p-1", QString(300, QChar(0x540D)).toStdString(), "研发部"));
    EXPECT_LT(view.minimumSizeHint().width(), 1000);  // a long name never widens the window
    EXPECT_LT(view.layout()->minimumSize().width(), 1000);
}

TEST_F(ContentViewTest, theToastSitsAtTheBottomCentreAndWrapsBeyondTheWidth) {
    EXPECT_FALSE(view.toast()->isVisible());
    state->setToast(std::string("已添加 192.168.1.10:8899，可以点它试试"));
    ASSERT_TRUE(view.toast()->isVisible());
    const QRect capsule = view.toast()->capsuleGeometry();
    EXPECT_EQ(capsule.bottom() + 1, 720 - 22);
    EXPECT_NEAR(capsule.center().x(), 520, 1);
    EXPECT_LT(capsule.width(), 600);
    EXPECT_EQ(view.toast()->geometry().topLeft() + QPoint(11, 11), capsule.topLeft());

    state->setToast(std::string("另一条"));  // replaced: still there, new text
    EXPECT_TRUE(view.toast()->isVisible());
    EXPECT_EQ(view.toast()->text(), QStringLiteral("另一条"));

    state->setToast(test::repeatedText("文件 report.pdf 已存入 ", 40));
    const QRect wide = view.toast()->capsuleGeometry();
    EXPECT_LE(wide.width(), 1040 - 32);
    EXPECT_GT(wide.height(), 2 * QFontMetrics(Theme::font(12.5)).height());  // wrapped
    EXPECT_EQ(wide.bottom() + 1, 720 - 22);

    view.resize(900, 700);
    settle();
    EXPECT_LE(view.toast()->capsuleGeometry().width(), 900 - 32);
    EXPECT_EQ(view.toast()->capsuleGeometry().bottom() + 1, 700 - 22);

    state->setToast(std::nullopt);
    EXPECT_FALSE(view.toast()->isVisible());
}

TEST_F(ContentViewTest, theToastSlidesUpAndFadesInThenDownAndOut) {
    qunsetenv("CORVANE_NO_ANIM");
    state->setToast(std::string("你好"));
    const int settledY = view.toast()->capsuleGeometry().y() - 11;
    EXPECT_GT(view.toast()->y(), settledY);  // starts below
    ASSERT_TRUE(test::qtWaitFor([&] { return view.toast()->y() == settledY; }, std::chrono::seconds(2)));
    state->setToast(std::nullopt);
    EXPECT_TRUE(view.toast()->isVisible());  // still leaving
    ASSERT_TRUE(test::qtWaitFor([&] { return !view.toast()->isVisible(); }, std::chrono::seconds(2)));
    EXPECT_GE(view.toast()->y(), 720);
    // A new notice while the old one leaves comes back up.
    state->setToast(std::string("一"));
    test::qtSpin(std::chrono::milliseconds(300));
    state->setToast(std::nullopt);
    state->setToast(std::string("二"));
    ASSERT_TRUE(test::qtWaitFor([&] { return view.toast()->y() == view.toast()->capsuleGeometry().y() - 11; },
                                std::chrono::seconds(2)));
    test::qtSpin(std::chrono::milliseconds(250));
    EXPECT_TRUE(view.toast()->isVisible());
    EXPECT_EQ(view.toast()->text(), QStringLiteral("二"));
}

}  // namespace
}  // namespace corvane
