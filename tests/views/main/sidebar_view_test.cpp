// The device sidebar: discovery states, subtitles, badges, selection, rows
// changed only where they changed across republished lists, the row menu, the
// keys, the footer's actions, and names shown literally.
#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "base/cfg.h"
#include "views/announcer.h"
#include "views/controls.h"
#include "views/main/device_list.h"
#include "views/main/device_row.h"
#include "views/main/sidebar_view.h"
#include "views/theme.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

using test::viewPeer;

Peer withPlat(Peer peer, const std::string& plat, bool pin = false) {
    peer.plat = plat;
    peer.pin = pin;
    return peer;
}

class SidebarTest : public test::ViewsTest {
protected:
    SidebarTest() : sidebar(*state) {
        sidebar.resize(252, 700);
        sidebar.show();
        settle();
    }

    QString text(const char* name) { return child<QLabel>(sidebar, name)->text(); }
    DeviceList* list() const { return sidebar.peerList(); }
    DeviceListModel* model() const { return sidebar.peerModel(); }
    QStringList rowTitles() const {
        QStringList titles{sidebar.localRow()->accessibleName()};
        for (int k = 0; k < model()->rowCount(); ++k) titles << model()->index(k).data(Qt::AccessibleTextRole).toString();
        return titles;
    }
    QModelIndex index(const std::string& id) const { return model()->index(model()->rowOf(id)); }
    DeviceRowLook look(const std::string& id) const { return model()->row(model()->rowOf(id)).look; }
    // A peer row as a screen reader meets it.
    QAccessibleInterface* item(const std::string& id) const { return list()->accessibleRow(model()->rowOf(id)); }
    void clickRow(const std::string& id, QPoint at = {}) {
        const QRect row = list()->visualRect(index(id));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, at.isNull() ? row.center() : row.topLeft() + at);
    }
    // Where the keys are: a control's object name, or "row:" and a peer row's title.
    QString keysAt() const {
        QWidget* focused = QApplication::focusWidget();
        if (focused != list()) return focused ? focused->objectName() : QStringLiteral("nothing");
        return QStringLiteral("row:") + list()->currentIndex().data(Qt::AccessibleTextRole).toString();
    }

    SidebarView sidebar;
};

TEST_F(SidebarTest, bothDiscoveryStatesWithNoPeers) {
    struct Case {
        bool on;
        const char* headline;
        const char* text;
        const char* status;
        Tint dot;
    };
    const Case cases[] = {
        {true, "正在搜索…", "同一 WiFi 下运行了Corvane的设备会自动出现在这里", "局域网发现已开启", Tint::green},
        {false, "发现功能不可用", "UDP 8898 端口被占用，仍可用 IP 直连", "仅 IP 直连", Tint::orange},
    };
    for (const Case& c : cases) {
        state->setDiscoveryEnabled(c.on);
        EXPECT_EQ(text("nearbyCount"), QStringLiteral("0"));
        EXPECT_EQ(text("sidebarEmptyHeadline"), QString::fromUtf8(c.headline));
        EXPECT_EQ(text("sidebarEmptyText"), QString::fromUtf8(c.text));
        EXPECT_EQ(text("discoveryStatus"), QString::fromUtf8(c.status));
        EXPECT_EQ(child<StatusDot>(sidebar, "discoveryDot")->color(), Theme::tint(c.dot));
        EXPECT_TRUE(child<QWidget>(sidebar, "diagLink")->isVisible());
    }
    state->setPeers({viewPeer("p-1", "Mac")});
    EXPECT_EQ(text("nearbyCount"), QStringLiteral("1"));
    EXPECT_FALSE(child<QLabel>(sidebar, "sidebarEmptyHeadline")->isVisible());
}

TEST_F(SidebarTest, theDiagnosticsLinkAndTheFooterButtons) {
    state->setPort(8901);
    auto* diag = child<QPushButton>(sidebar, "diagLink");
    EXPECT_EQ(diag->accessibleName().isEmpty() ? diag->text() : diag->accessibleName(),
              QStringLiteral("看不到设备？诊断一下"));
    QTest::mouseClick(diag, Qt::LeftButton);
    EXPECT_TRUE(state->showDiag());

    auto* folder = child<QPushButton>(sidebar, "openFolderButton");
    EXPECT_EQ(folder->text(), QStringLiteral("接收目录"));
    EXPECT_EQ(folder->toolTip(), QStringLiteral("打开接收文件夹"));
    QTest::mouseClick(folder, Qt::LeftButton, {}, QPoint(folder->width() - 4, folder->height() / 2));  // beside the text
    EXPECT_EQ(openedPaths, std::vector<std::filesystem::path>{state->root()});

    auto* web = child<QPushButton>(sidebar, "webPageButton");
    EXPECT_EQ(web->text(), QStringLiteral("NAS 网页管理"));
    EXPECT_EQ(web->toolTip(),
              QStringLiteral("在浏览器中打开本机文件管理（局域网内其他设备可访问 http://本机IP:8901/web）"));
    QTest::mouseClick(web, Qt::LeftButton);
    EXPECT_EQ(openedURLs, std::vector<std::string>{"http://127.0.0.1:8901/web"});
}

TEST_F(SidebarTest, thisDevicesRow) {
    state->setDeviceName("测试机");
    state->setPort(8899);
    DeviceRow* local = sidebar.localRow();
    EXPECT_EQ(local->accessibleName(), QStringLiteral("测试机"));
    EXPECT_EQ(local->look().subtitle, QString::fromStdString("本机 · 127.0.0.1:8899 · v" + Cfg::version()));
    EXPECT_EQ(local->accessibleDescription(), local->look().subtitle + QStringLiteral(" · 在线"));
    EXPECT_EQ(local->look().badgeColor, Theme::tint(Tint::green));
    EXPECT_EQ(local->look().icon, "laptopcomputer");
    state->setLocalIPs({"192.168.1.5", "10.0.0.2"});
    EXPECT_TRUE(local->look().subtitle.startsWith(QStringLiteral("本机 · 192.168.1.5:8899 · v")));

    // The subtitle runs under the badge, which sits beside the short title: an office address
    // shows whole with the version (it was cut as "10.231.0.…"); a longer one is cut, the
    // version staying whole at the end, and the tooltip holds it all.
    const QString version = QString::fromStdString(" · v" + Cfg::version());
    const struct {
        const char* ip;
        int port;
        bool whole;
    } addresses[] = {{"10.231.0.123", 8899, true}, {"127.0.0.1", 8899, true}, {"192.168.100.200", 8918, false}};
    for (const auto& address : addresses) {
        state->setLocalIPs({address.ip});
        state->setPort(address.port);
        settle();
        const QString whole = QStringLiteral("本机 · %1:%2").arg(QString::fromUtf8(address.ip)).arg(address.port) + version;
        const QString shown = local->shownSubtitle(local->subtitleRect().width());
        EXPECT_EQ(shown == whole, address.whole) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(version)) << shown.toStdString();
        EXPECT_LE(QFontMetrics(Theme::font(10.5)).horizontalAdvance(shown), local->subtitleRect().width());
        EXPECT_LE(local->subtitleRect().right(), local->rect().right()) << address.ip;
        EXPECT_FALSE(local->badgeRect().intersects(local->subtitleRect())) << address.ip;
        EXPECT_FALSE(local->badgeRect().intersects(local->textRect())) << "the badge covers the title";
        EXPECT_TRUE(local->toolTip().contains(whole)) << address.ip;
    }
    state->setPeers({viewPeer("p-1", "Mac")});  // only this device's row has its subtitle as tooltip
    EXPECT_TRUE(index("p-1").data(Qt::ToolTipRole).toString().isEmpty());
}

TEST_F(SidebarTest, subtitlesBadgesAndIcons) {
    struct Case {
        Peer peer;
        const char* subtitle;
        std::optional<const char*> badge;
        Tint badgeColor;
        const char* icon;
    };
    Peer aliased = withPlat(viewPeer("p-a", "前台电脑", "", "192.168.1.23"), "win32");
    aliased.realName = "DESKTOP-7";
    const Case cases[] = {
        {withPlat(viewPeer("p-w", "DESKTOP-7", "", "192.168.1.23"), "win32"), "Windows · 192.168.1.23:8899", {}, Tint::orange, "pc"},
        {aliased, "DESKTOP-7 · 192.168.1.23:8899", {}, Tint::orange, "pc"},
        {withPlat(viewPeer("p-e", "E"), ""), "设备 · 192.168.1.20:8899", {}, Tint::orange, "desktopcomputer"},
        {withPlat(viewPeer("p-f", "F"), "freebsd"), "freebsd · 192.168.1.20:8899", {}, Tint::orange, "desktopcomputer"},
        {withPlat(viewPeer("p-p", "P"), "darwin", true), "Mac · 192.168.1.20:8899", "口令", Tint::orange, "laptopcomputer"},
        {withPlat(viewPeer("manual:192.168.1.20:8899", "M"), "manual"), "手动添加 · 192.168.1.20:8899", "手动", Tint::blue, "network"},
        {withPlat(viewPeer("manual:192.168.1.21:8899", "N"), "manual", true), "手动添加 · 192.168.1.20:8899", "口令", Tint::blue, "network"},
    };
    for (const Case& c : cases) {
        const DeviceRowLook look = SidebarView::peerLook(c.peer, Target::local());
        EXPECT_EQ(look.subtitle, QString::fromUtf8(c.subtitle)) << c.peer.id;
        EXPECT_EQ(look.badge.has_value(), c.badge.has_value()) << c.peer.id;
        if (c.badge) {
            EXPECT_EQ(*look.badge, QString::fromUtf8(*c.badge)) << c.peer.id;
        }
        EXPECT_EQ(look.badgeColor, Theme::tint(c.badgeColor)) << c.peer.id;
        EXPECT_EQ(look.icon, c.icon) << c.peer.id;
        EXPECT_FALSE(look.selected);
    }
}

TEST_F(SidebarTest, onlyTheExactTargetIsHighlighted) {
    Peer mac = viewPeer("p-1", "Mac");
    mac.lastSeen = 1000;
    const Peer win = viewPeer("p-2", "Win");
    state->setPeers({mac, win});
    EXPECT_TRUE(sidebar.localRow()->look().selected);
    EXPECT_FALSE(look("p-1").selected);

    state->setTarget(Target::of(mac));
    EXPECT_FALSE(sidebar.localRow()->look().selected);
    EXPECT_TRUE(look("p-1").selected);
    EXPECT_TRUE(item("p-1")->state().checked);
    EXPECT_FALSE(look("p-2").selected);
    EXPECT_FALSE(item("p-2")->state().checked);

    Peer fresher = mac;
    fresher.lastSeen = 2000;  // the list is published again with a fresh lastSeen
    state->setPeers({fresher, win});
    EXPECT_FALSE(look("p-1").selected);
    EXPECT_FALSE(sidebar.localRow()->look().selected);
    EXPECT_EQ(DeviceRow::fill(true, true), Theme::tint(Tint::accent, 0.16));  // selection wins over hover
    EXPECT_EQ(DeviceRow::fill(false, true), Theme::primary(0.05));
    EXPECT_EQ(DeviceRow::fill(false, false), QColor(Qt::transparent));
}

TEST_F(SidebarTest, rowsFollowTheListOrderAndTheKeysAndAnOpenMenuStay) {
    state->setPeers({viewPeer("p-b", "B"), viewPeer("p-a", "A"), viewPeer("p-c", "C")});
    EXPECT_EQ(rowTitles().mid(1), QStringList({"B", "A", "C"}));
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    list()->setFocus(Qt::OtherFocusReason);
    list()->setCurrentIndex(index("p-a"));
    QTest::keyClick(list(), Qt::Key_Menu);
    QWidget* menu = list()->openMenu();
    ASSERT_NE(menu, nullptr);

    Peer fresh = viewPeer("p-a", "A2");
    fresh.lastSeen = 5;
    state->setPeers({fresh, viewPeer("p-c", "C"), viewPeer("p-b", "B")});
    settle();
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(rowTitles().mid(1), QStringList({"A2", "C", "B"}));
    EXPECT_LT(list()->visualRect(index("p-a")).y(), list()->visualRect(index("p-c")).y());
    menu->close();
    settle();
    EXPECT_EQ(keysAt(), QStringLiteral("row:A2"));

    state->setPeers({viewPeer("p-c", "C")});
    settle();
    EXPECT_EQ(rowTitles().mid(1), QStringList({"C"}));
    EXPECT_EQ(keysAt(), QStringLiteral("row:C"));
}

TEST_F(SidebarTest, aRepublishedListChangesOnlyTheRowsThatChanged) {
    // With 1,000 devices every reload laid out and chained every row again.
    std::vector<Peer> peers;
    for (int k = 0; k < 1000; ++k) peers.push_back(viewPeer("p-" + std::to_string(k), "设备 " + std::to_string(1000 + k)));
    const qsizetype widgets = sidebar.findChildren<QWidget*>().size();
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(model(), &QAbstractItemModel::modelReset);
    const auto counts = [&] {
        return std::vector<qsizetype>{inserted.size(), removed.size(), changed.size(), reset.size()};
    };
    const auto clear = [&] {
        for (QSignalSpy* spy : {&inserted, &removed, &changed, &reset}) spy->clear();
    };
    state->setPeers(peers);
    EXPECT_EQ(counts(), (std::vector<qsizetype>{1, 0, 0, 0})) << "the thousand came in one insertion";
    EXPECT_EQ(model()->rowCount(), 1000);
    EXPECT_EQ(sidebar.findChildren<QWidget*>().size(), widgets) << "a widget per device";

    struct Step {
        const char* what;
        std::function<void(std::vector<Peer>&)> change;
        std::vector<qsizetype> signals;  // inserted, removed, changed, reset
    };
    const Step steps[] = {
        {"published again as it was", [](std::vector<Peer>&) {}, {0, 0, 0, 0}},
        {"a fresher lastSeen everywhere", [](std::vector<Peer>& p) { for (Peer& one : p) one.lastSeen += 1; }, {0, 0, 0, 0}},
        {"one renamed in place", [](std::vector<Peer>& p) { p[500].name = "设备 1500 改"; }, {0, 0, 1, 0}},
        {"one left", [](std::vector<Peer>& p) { p.erase(p.begin() + 10); }, {0, 1, 0, 0}},
        {"one came", [](std::vector<Peer>& p) { p.insert(p.begin() + 20, viewPeer("p-new", "设备 1020 新")); }, {1, 0, 0, 0}},
    };
    for (const Step& step : steps) {
        step.change(peers);
        clear();
        state->setPeers(peers);
        EXPECT_EQ(counts(), step.signals) << step.what;
        ASSERT_EQ(model()->rowCount(), int(peers.size())) << step.what;
    }
    ASSERT_EQ(changed.size(), 0);
    EXPECT_EQ(index("p-500").data().toString(), QStringLiteral("设备 1500 改"));
    EXPECT_EQ(index("p-new").row(), 20);
    EXPECT_EQ(model()->rowOf("p-10"), -1);

    // A screen reader counts the rows through the list, and meets only the rows it asks for.
    QAccessibleInterface* listItem = QAccessible::queryAccessibleInterface(list());
    ASSERT_NE(listItem, nullptr);
    EXPECT_EQ(listItem->childCount(), 1000);
    EXPECT_EQ(listItem->child(999)->text(QAccessible::Name), QStringLiteral("设备 1999"));
    EXPECT_EQ(listItem->indexOfChild(listItem->child(999)), 999);
    EXPECT_EQ(sidebar.findChildren<QWidget*>().size(), widgets);
}

TEST_F(SidebarTest, clickingARowSwitchesOrAsksForThePin) {
    Peer locked = viewPeer("p-lock", "Locked");
    locked.pin = true;
    const Peer open = viewPeer("p-open", "Open");
    state->setPeers({locked, open});
    clickRow("p-open", QPoint(list()->viewport()->width() - 10, 10));
    EXPECT_EQ(state->target(), Target::of(open));
    EXPECT_TRUE(look("p-open").selected);
    clickRow("p-lock");
    EXPECT_EQ(state->target(), Target::of(open));
    ASSERT_TRUE(state->pinPromptFor());
    EXPECT_EQ(state->pinPromptFor()->id, "p-lock");
    QTest::mouseClick(sidebar.localRow(), Qt::LeftButton);
    EXPECT_TRUE(state->target().isLocal());
}

TEST_F(SidebarTest, aRowIsAListItemWhosePressChoosesItsDevice) {
    // An item of the list, checked while chosen: a screen reader's press (and Space or Return)
    // chooses the device.
    const Peer mac = viewPeer("p-1", "Mac");
    state->setPeers({mac});
    EXPECT_EQ(item("p-1")->role(), QAccessible::ListItem);
    EXPECT_TRUE(item("p-1")->state().checkable);
    EXPECT_FALSE(item("p-1")->state().checked);
    EXPECT_EQ(item("p-1")->text(QAccessible::Description), QStringLiteral("Mac · 192.168.1.20:8899"));
    QAccessibleActionInterface* actions = item("p-1")->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_EQ(actions->actionNames().value(0), QAccessibleActionInterface::pressAction());
    actions->doAction(QAccessibleActionInterface::pressAction());
    settle();
    EXPECT_EQ(state->target(), Target::of(mac));
    EXPECT_TRUE(look("p-1").selected);
    EXPECT_TRUE(item("p-1")->state().checked);
    EXPECT_FALSE(sidebar.localRow()->look().selected);
    item("p-1")->actionInterface()->doAction(QAccessibleActionInterface::pressAction());  // again: nothing changes
    settle();
    EXPECT_EQ(state->target(), Target::of(mac));
    EXPECT_TRUE(look("p-1").selected);
    sidebar.localRow()->click();
    EXPECT_TRUE(state->target().isLocal());
    EXPECT_FALSE(look("p-1").selected);

    list()->setCurrentIndex(index("p-1"));
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        state->setTarget(Target::local());
        QTest::keyClick(list(), key);
        settle();
        EXPECT_EQ(state->target(), Target::of(mac)) << key;
    }
}

TEST_F(SidebarTest, theKeysFollowTheRowsAsTheyShow) {
    // The list is one Tab stop between the own row and the footer, keeping its row; the arrows
    // go through its rows and on to the stops around it, and stop at the chain's ends.
    state->setPeers({viewPeer("p-b", "B")});
    state->setPeers({viewPeer("p-b", "B"), viewPeer("p-a", "A")});
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    sidebar.localRow()->setFocus(Qt::TabFocusReason);
    const std::pair<int, QString> steps[] = {
        {Qt::Key_Tab, "row:B"},        {Qt::Key_Tab, "openFolderButton"}, {Qt::Key_Tab, "webPageButton"},
        {Qt::Key_Backtab, "openFolderButton"}, {Qt::Key_Backtab, "row:B"}, {Qt::Key_Down, "row:A"},
        {Qt::Key_Tab, "openFolderButton"}, {Qt::Key_Backtab, "row:A"},  {Qt::Key_Backtab, "deviceRow:local"},
        {Qt::Key_Up, "deviceRow:local"}, {Qt::Key_Down, "row:B"},      {Qt::Key_Down, "row:A"},
        {Qt::Key_Down, "openFolderButton"}, {Qt::Key_Down, "webPageButton"}, {Qt::Key_Down, "webPageButton"},
        {Qt::Key_Up, "openFolderButton"}, {Qt::Key_Up, "row:A"},       {Qt::Key_Up, "row:B"},
        {Qt::Key_Up, "deviceRow:local"},
    };
    QStringList went;
    for (const auto& [key, then] : steps) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        went << keysAt();
        EXPECT_EQ(keysAt(), then) << "after " << went.join(QStringLiteral(", ")).toStdString();
    }
    // Coming in by Tab with no row of its own yet, the list takes the chosen device's row.
    const Peer chosen = viewPeer("p-c", "C");
    state->setPeers({viewPeer("p-b", "B"), viewPeer("p-a", "A"), chosen});
    state->setTarget(Target::of(chosen));
    list()->setCurrentIndex({});
    sidebar.localRow()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sidebar.localRow(), Qt::Key_Tab);
    EXPECT_EQ(keysAt(), QStringLiteral("row:C"));
}

// 500 devices, from "A-000" to "Y-499", twenty to a first letter.
std::vector<Peer> office(int count = 500) {
    std::vector<Peer> peers;
    for (int k = 0; k < count; ++k) {
        const std::string number = std::to_string(1000 + k).substr(1);
        peers.push_back(viewPeer("p-" + number, std::string(1, char('A' + k / 20)) + "-" + number));
    }
    return peers;
}

TEST_F(SidebarTest, fiveHundredDevicesAreOneTabStopWalkedByWhatIsOnScreen) {
    state->setPeers(office());
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    sidebar.localRow()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sidebar.localRow(), Qt::Key_Tab);
    EXPECT_EQ(keysAt(), QStringLiteral("row:A-000"));
    QTest::keyClick(list(), Qt::Key_Tab);
    EXPECT_EQ(keysAt(), QStringLiteral("openFolderButton")) << "one Tab passes the list";

    list()->setFocus(Qt::BacktabFocusReason);
    const int onScreen = list()->viewport()->height() / DeviceRow::rowHeight();
    ASSERT_GT(onScreen, 4);
    ASSERT_LT(onScreen, 40) << "the list is as tall as its rows";
    const auto shown = [this] { return list()->viewport()->rect().contains(list()->visualRect(list()->currentIndex())); };
    QTest::keyClick(list(), Qt::Key_PageDown);
    const int paged = list()->currentIndex().row();
    EXPECT_GE(paged, onScreen - 1);
    EXPECT_LE(paged, onScreen + 1);
    EXPECT_TRUE(shown());
    QTest::keyClick(list(), Qt::Key_PageDown);
    EXPECT_GE(list()->currentIndex().row(), paged + onScreen - 1);
    EXPECT_LE(list()->currentIndex().row(), paged + onScreen + 1);
    QTest::keyClick(list(), Qt::Key_End);
    EXPECT_EQ(keysAt(), QStringLiteral("row:Y-499"));
    EXPECT_TRUE(shown());
    QTest::keyClick(list(), Qt::Key_PageUp);
    EXPECT_GE(list()->currentIndex().row(), 499 - onScreen - 1);
    QTest::keyClick(list(), Qt::Key_Home);
    EXPECT_EQ(keysAt(), QStringLiteral("row:A-000"));
    QTest::keyClicks(list(), QStringLiteral("k"));
    EXPECT_EQ(keysAt(), QStringLiteral("row:K-200")) << "a typed first letter";
    EXPECT_TRUE(shown());
    EXPECT_EQ(text("nearbyCount"), QStringLiteral("500"));
    EXPECT_TRUE(child<QLabel>(sidebar, "nearbyCount")->isVisible());

    // Each row tells its place and the count: "3 of 500".
    QAccessibleInterface* third = item("p-002");
    ASSERT_NE(third->parent(), nullptr);
    EXPECT_EQ(third->parent()->indexOfChild(third), 2);
    EXPECT_EQ(third->parent()->childCount(), 500);
    EXPECT_EQ(third->role(), QAccessible::ListItem);
}

TEST_F(SidebarTest, rowsComingAndGoingKeepTheKeysRowInPlaceAndTheItemsOfRowsThatStay) {
    std::vector<Peer> peers = office(100);
    peers.erase(peers.begin(), peers.begin() + 20);  // room above for the A's to come
    state->setPeers(peers);
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    list()->setFocus(Qt::OtherFocusReason);
    list()->setCurrentIndex(index("p-050"));
    list()->scrollTo(index("p-050"), QAbstractItemView::PositionAtCenter);
    settle();
    const int top = list()->visualRect(index("p-050")).top();
    QAccessibleInterface* keys = item("p-050");
    QAccessibleInterface* below = item("p-080");
    QAccessibleInterface* above = item("p-030");
    const auto keysRow = [this] { return keysAt() + " at " + QString::number(list()->visualRect(list()->currentIndex()).top()); };
    const QString expected = QStringLiteral("row:C-050 at ") + QString::number(top);

    const std::vector<Peer> all = office(100);
    struct Step {
        const char* what;
        std::vector<Peer> peers;
        int keysRow;
    };
    std::vector<Peer> fewer = all;
    fewer.erase(fewer.begin() + 25, fewer.begin() + 28);
    fewer.erase(fewer.begin() + 80);
    const Step steps[] = {
        {"twenty came above", all, 50},
        {"three left above and one below", fewer, 47},
    };
    for (const Step& step : steps) {
        state->setPeers(step.peers);
        settle();
        EXPECT_EQ(keysRow(), expected) << step.what;
        EXPECT_EQ(list()->currentIndex().row(), step.keysRow) << step.what;
        EXPECT_EQ(item("p-050"), keys) << step.what << ": the focused row's item was made again";
        EXPECT_EQ(item("p-030"), above) << step.what;
        EXPECT_EQ(keys->parent()->indexOfChild(keys), step.keysRow) << step.what;
        EXPECT_EQ(keys->text(QAccessible::Name), QStringLiteral("C-050")) << step.what;
        EXPECT_TRUE(keys->state().focused) << step.what;
    }
    EXPECT_EQ(item("p-080"), below);
}

TEST_F(SidebarTest, theChosenDeviceThatLeavesIsToldByNameAndTheKeysStayOnAShownRow) {
    std::vector<Peer> peers = office(60);
    state->setPeers(peers);
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    list()->setFocus(Qt::OtherFocusReason);
    list()->setCurrentIndex(index("p-040"));
    QTest::keyClick(list(), Qt::Key_Return);
    settle();
    ASSERT_EQ(state->target(), Target::of(peers[40]));
    auto* announcer = sidebar.findChild<Announcer*>();
    ASSERT_NE(announcer, nullptr);
    EXPECT_EQ(announcer->toldCount(), 0) << "choosing is told by the row, not by the announcer";

    // Another device leaves and the chosen one is seen again (a fresher copy): nothing to tell.
    Peer fresher = peers[40];
    fresher.lastSeen += 1;
    peers[40] = fresher;
    peers.erase(peers.begin() + 3);
    state->setPeers(peers);
    state->setTarget(Target::of(fresher));
    settle();
    EXPECT_EQ(announcer->toldCount(), 0);

    // The chosen device leaves: its name is told, and the keys are on a row that shows.
    peers.erase(peers.begin() + 39);
    state->setPeers(peers);
    state->switchTarget(Target::local());
    settle();
    EXPECT_EQ(announcer->toldCount(), 1);
    EXPECT_EQ(announcer->text(), QStringLiteral("C-040 已离开"));
    EXPECT_EQ(keysAt(), QStringLiteral("row:B-039"));
    EXPECT_TRUE(list()->viewport()->rect().contains(list()->visualRect(list()->currentIndex())));
    EXPECT_TRUE(sidebar.localRow()->look().selected);

    // Told once: the list published again changes nothing.
    state->setPeers(peers);
    settle();
    EXPECT_EQ(announcer->toldCount(), 1);

    // The last device leaves, chosen and with the keys: the keys go to a control that shows.
    state->setPeers({peers[0]});
    QTest::keyClick(list(), Qt::Key_Return);
    settle();
    ASSERT_EQ(state->target(), Target::of(peers[0]));
    ASSERT_EQ(keysAt(), QStringLiteral("row:A-000"));
    state->setPeers({});
    state->switchTarget(Target::local());
    settle();
    EXPECT_EQ(announcer->text(), QStringLiteral("A-000 已离开"));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_TRUE(QApplication::focusWidget()->isVisible()) << keysAt().toStdString();
}

TEST_F(SidebarTest, theMenuKeyAndShiftF10OpenAPeerRowsMenu) {
    state->setPeers({viewPeer("p-1", "Mac")});
    list()->setCurrentIndex(index("p-1"));
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } keys[] = {{Qt::Key_Menu, Qt::NoModifier}, {Qt::Key_F10, Qt::ShiftModifier}};
    for (const auto& key : keys) {
        QTest::keyClick(list(), key.key, key.modifiers);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << key.key;
        EXPECT_EQ(menu->activeAction(), menu->actions().value(0));  // highlighted, as opened by keys
        EXPECT_EQ(menu->actions().value(0)->text(), QStringLiteral("重命名…"));
        menu->close();
        settle();
    }
    QTest::keyClick(sidebar.localRow(), Qt::Key_Menu);  // this device's row has no menu
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(SidebarTest, aClickThatEmptiesTheListLeavesNoRowBehind) {
    const Peer mac = viewPeer("p-1", "Mac");
    state->setPeers({mac});
    QObject::connect(state.get(), &AppState::targetChanged, state.get(), [this] { state->setPeers({}); });
    clickRow("p-1");
    EXPECT_EQ(state->target(), Target::of(mac));
    settle();
    EXPECT_EQ(model()->rowCount(), 0);
    EXPECT_FALSE(list()->isVisible());
}

TEST_F(SidebarTest, theRowMenuRenamesAndRemovesOnlyManualDevices) {
    Peer manual = withPlat(viewPeer("manual:192.168.1.20:8899", "192.168.1.20"), "manual");
    manual.realName = "手动 192.168.1.20";
    const Peer mac = viewPeer("p-mac", "Mac");
    state->setManualPeers({"192.168.1.20:8899", "192.168.1.30:8899"});
    const auto names = [](const std::vector<RowActionList::Action>& actions) {
        QStringList out;
        for (const RowActionList::Action& action : actions) out << (action.inMenu ? action.name : "(" + action.name + ")");
        return out;
    };

    const std::vector<RowActionList::Action> plain = sidebar.peerActions(mac);
    EXPECT_EQ(names(plain), QStringList({"(Press)", "重命名…"}));
    plain[1].run();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].message, "给这台设备起个名字");

    const std::vector<RowActionList::Action> actions = sidebar.peerActions(manual);
    EXPECT_EQ(names(actions), QStringList({"(Press)", "重命名…", "移除这台设备"}));
    actions[2].run();
    EXPECT_EQ(state->manualPeers(), std::vector<std::string>{"192.168.1.30:8899"});
    EXPECT_EQ(state->toast(), std::optional<std::string>("已移除"));
}

TEST_F(SidebarTest, namesAreShownLiterally) {
    const std::vector<std::string> names = {"<img src=\"/dev/zero\">", "R&D", "<i>a</i>", std::string(300, 'W')};
    std::vector<Peer> peers;
    for (size_t k = 0; k < names.size(); ++k) peers.push_back(viewPeer("p-" + std::to_string(k), names[k]));
    state->setPeers(peers);
    state->setDeviceName("R&D");
    sidebar.grab();  // paints without reading anything
    for (size_t k = 0; k < names.size(); ++k) {
        EXPECT_EQ(item("p-" + std::to_string(k))->text(QAccessible::Name), QString::fromStdString(names[k]));
    }
    EXPECT_EQ(sidebar.localRow()->accessibleName(), QStringLiteral("R&D"));
    EXPECT_LE(sidebar.minimumSizeHint().width(), 252);
    for (const QLabel* label : sidebar.findChildren<QLabel*>()) EXPECT_NE(label->textFormat(), Qt::RichText);
}

}  // namespace
}  // namespace corvane
