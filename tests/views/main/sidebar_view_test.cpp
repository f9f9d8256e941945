// The device sidebar: discovery states, subtitles, badges, selection, rows
// kept in place across republished lists, the context menu, the keys, the
// footer's actions, and names shown literally.
#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "base/cfg.h"
#include "views/controls.h"
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
    QStringList rowTitles() const {
        QStringList titles;
        for (DeviceRow* row : sidebar.rows()) titles << row->accessibleName();
        return titles;
    }
    DeviceRow* row(const std::string& id) {
        return sidebar.findChild<DeviceRow*>(QString::fromStdString("deviceRow:" + id));
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
    DeviceRow* local = row("local");
    EXPECT_EQ(local->accessibleName(), QStringLiteral("测试机"));
    EXPECT_EQ(local->look().subtitle, QString::fromStdString("本机 · 127.0.0.1:8899 · v" + Cfg::version()));
    EXPECT_EQ(local->accessibleDescription(), local->look().subtitle + QStringLiteral(" · 在线"));
    EXPECT_EQ(local->look().badgeColor, Theme::tint(Tint::green));
    EXPECT_EQ(local->look().icon, "laptopcomputer");
    state->setLocalIPs({"192.168.1.5", "10.0.0.2"});
    EXPECT_TRUE(local->look().subtitle.startsWith(QStringLiteral("本机 · 192.168.1.5:8899 · v")));

    // A long address is cut; the version stays whole at the end, and the tooltip holds it all.
    state->setLocalIPs({"192.168.100.200"});
    state->setPort(8918);
    settle();
    const QString version = QString::fromStdString(" · v" + Cfg::version());
    const QString shown = local->shownSubtitle(local->textRect().width());
    EXPECT_TRUE(shown.endsWith(version)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_LE(QFontMetrics(Theme::font(10.5)).horizontalAdvance(shown), local->textRect().width());
    EXPECT_TRUE(local->toolTip().contains(QStringLiteral("本机 · 192.168.100.200:8918") + version));
    state->setPeers({viewPeer("p-1", "Mac")});  // only this device's row has its subtitle as tooltip
    EXPECT_TRUE(row("p-1")->toolTip().isEmpty()) << row("p-1")->toolTip().toStdString();
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
    EXPECT_TRUE(row("local")->look().selected);
    EXPECT_FALSE(row("p-1")->look().selected);

    state->setTarget(Target::of(mac));
    EXPECT_FALSE(row("local")->look().selected);
    EXPECT_TRUE(row("p-1")->look().selected);
    EXPECT_FALSE(row("p-2")->look().selected);

    Peer fresher = mac;
    fresher.lastSeen = 2000;  // the list is published again with a fresh lastSeen
    state->setPeers({fresher, win});
    EXPECT_FALSE(row("p-1")->look().selected);
    EXPECT_FALSE(row("local")->look().selected);
    EXPECT_EQ(DeviceRow::fill(true, true), Theme::tint(Tint::accent, 0.16));  // selection wins over hover
    EXPECT_EQ(DeviceRow::fill(false, true), Theme::primary(0.05));
    EXPECT_EQ(DeviceRow::fill(false, false), QColor(Qt::transparent));
}

TEST_F(SidebarTest, rowsFollowTheListOrderAndAreKeptInPlace) {
    state->setPeers({viewPeer("p-b", "B"), viewPeer("p-a", "A"), viewPeer("p-c", "C")});
    EXPECT_EQ(rowTitles().mid(1), QStringList({"B", "A", "C"}));
    DeviceRow* a = row("p-a");
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(a, &enter);
    ASSERT_TRUE(a->hovering());
    QMenu* menu = sidebar.contextMenu(state->peers()[1], a);
    menu->popup(a->mapToGlobal(QPoint(10, 10)));

    Peer fresh = viewPeer("p-a", "A2");
    fresh.lastSeen = 5;
    state->setPeers({fresh, viewPeer("p-c", "C"), viewPeer("p-b", "B")});
    settle();
    EXPECT_EQ(row("p-a"), a);
    EXPECT_TRUE(a->hovering());
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(a->accessibleName(), QStringLiteral("A2"));
    EXPECT_EQ(rowTitles().mid(1), QStringList({"A2", "C", "B"}));
    EXPECT_LT(a->y(), row("p-c")->y());

    state->setPeers({viewPeer("p-c", "C")});
    EXPECT_FALSE(a->isVisible());
    EXPECT_EQ(rowTitles().mid(1), QStringList({"C"}));
    settle();
    EXPECT_EQ(row("p-a"), nullptr);
}

TEST_F(SidebarTest, clickingARowSwitchesOrAsksForThePin) {
    Peer locked = viewPeer("p-lock", "Locked");
    locked.pin = true;
    const Peer open = viewPeer("p-open", "Open");
    state->setPeers({locked, open});
    QTest::mouseClick(row("p-open"), Qt::LeftButton, {}, QPoint(row("p-open")->width() - 10, 10));
    EXPECT_EQ(state->target(), Target::of(open));
    EXPECT_TRUE(row("p-open")->look().selected);
    QTest::mouseClick(row("p-lock"), Qt::LeftButton);
    EXPECT_EQ(state->target(), Target::of(open));
    ASSERT_TRUE(state->pinPromptFor());
    EXPECT_EQ(state->pinPromptFor()->id, "p-lock");
    QTest::mouseClick(row("local"), Qt::LeftButton);
    EXPECT_TRUE(state->target().isLocal());
}

TEST_F(SidebarTest, aRowIsAButtonWhosePressChoosesItsDevice) {
    // A button, not a check box: a screen reader's press (and Space or Return) chooses the device.
    const Peer mac = viewPeer("p-1", "Mac");
    state->setPeers({mac});
    EXPECT_FALSE(row("p-1")->isCheckable());
    row("p-1")->click();
    EXPECT_EQ(state->target(), Target::of(mac));
    EXPECT_TRUE(row("p-1")->look().selected);
    EXPECT_FALSE(row("local")->look().selected);
    row("p-1")->click();  // pressing the chosen row again changes nothing
    EXPECT_EQ(state->target(), Target::of(mac));
    EXPECT_TRUE(row("p-1")->look().selected);
    row("local")->click();
    EXPECT_TRUE(state->target().isLocal());
    EXPECT_FALSE(row("p-1")->look().selected);
}

TEST_F(SidebarTest, theKeysFollowTheRowsAsTheyShow) {
    // A peer that comes later joins the Tab chain after the own row and before the footer;
    // Up and Down follow that chain and stop at its ends.
    state->setPeers({viewPeer("p-b", "B")});
    state->setPeers({viewPeer("p-b", "B"), viewPeer("p-a", "A")});
    sidebar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    row("local")->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> chain;
    for (QWidget* at = row("local")->nextInFocusChain(); at != row("local") && chain.size() < 4;
         at = at->nextInFocusChain()) {
        if (at->isVisible() && (at->focusPolicy() & Qt::TabFocus)) chain.push_back(at);
    }
    const std::vector<QWidget*> shown = {row("p-b"), row("p-a"), child<QPushButton>(sidebar, "openFolderButton"),
                                         child<QPushButton>(sidebar, "webPageButton")};
    EXPECT_EQ(chain, shown);

    const std::pair<Qt::Key, QWidget*> steps[] = {
        {Qt::Key_Up, row("local")}, {Qt::Key_Down, shown[0]}, {Qt::Key_Down, shown[1]}, {Qt::Key_Down, shown[2]},
        {Qt::Key_Down, shown[3]},   {Qt::Key_Down, shown[3]}, {Qt::Key_Up, shown[2]},   {Qt::Key_Up, shown[1]}};
    for (const auto& [key, then] : steps) {
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(QApplication::focusWidget(), then) << then->objectName().toStdString();
    }
}

TEST_F(SidebarTest, theMenuKeyAndShiftF10OpenAPeerRowsMenu) {
    state->setPeers({viewPeer("p-1", "Mac")});
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } keys[] = {{Qt::Key_Menu, Qt::NoModifier}, {Qt::Key_F10, Qt::ShiftModifier}};
    for (const auto& key : keys) {
        QTest::keyClick(row("p-1"), key.key, key.modifiers);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << key.key;
        EXPECT_EQ(menu->activeAction(), menu->actions().value(0));  // highlighted, as opened by keys
        EXPECT_EQ(menu->actions().value(0)->text(), QStringLiteral("重命名…"));
        menu->close();
        settle();
    }
    QTest::keyClick(row("local"), Qt::Key_Menu);  // this device's row has no menu
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(SidebarTest, aClickThatEmptiesTheListDeletesNoRowInsideItsSignal) {
    const Peer mac = viewPeer("p-1", "Mac");
    state->setPeers({mac});
    QObject::connect(state.get(), &AppState::targetChanged, state.get(), [this] { state->setPeers({}); });
    QTest::mouseClick(row("p-1"), Qt::LeftButton);
    EXPECT_EQ(state->target(), Target::of(mac));
    settle();
    EXPECT_EQ(row("p-1"), nullptr);
}

TEST_F(SidebarTest, theContextMenuRenamesAndRemovesOnlyManualDevices) {
    Peer manual = withPlat(viewPeer("manual:192.168.1.20:8899", "192.168.1.20"), "manual");
    manual.realName = "手动 192.168.1.20";
    const Peer mac = viewPeer("p-mac", "Mac");
    state->setManualPeers({"192.168.1.20:8899", "192.168.1.30:8899"});

    std::unique_ptr<QMenu> plain(sidebar.contextMenu(mac, nullptr));
    ASSERT_EQ(plain->actions().size(), 1);
    EXPECT_EQ(plain->actions()[0]->text(), QStringLiteral("重命名…"));
    plain->actions()[0]->trigger();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].message, "给这台设备起个名字");

    std::unique_ptr<QMenu> menu(sidebar.contextMenu(manual, nullptr));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("移除这台设备"));
    menu->actions()[1]->trigger();
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
        EXPECT_EQ(row("p-" + std::to_string(k))->accessibleName(), QString::fromStdString(names[k]));
    }
    EXPECT_EQ(row("local")->accessibleName(), QStringLiteral("R&D"));
    EXPECT_LE(sidebar.minimumSizeHint().width(), 252);
    for (const QLabel* label : sidebar.findChildren<QLabel*>()) EXPECT_NE(label->textFormat(), Qt::RichText);
}

}  // namespace
}  // namespace corvane
