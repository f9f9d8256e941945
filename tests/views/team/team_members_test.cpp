// The panel's member boxes: each action moves or removes its row through the refresh.
#include <algorithm>

#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>

#include "team_panel_fixture.h"
#include "views/controls.h"
#include "views/focus_probes.h"
#include "views/main/toast_view.h"
#include "views/team/panel_parts.h"

namespace corvane::test {
namespace {

class TeamMembers : public TeamPanelTest {
protected:
    QString rowName(const char* kind, const std::string& id) const {
        return QString::fromLatin1(kind) + QLatin1Char(':') + QString::fromStdString(id);
    }
    bool rowIn(const char* boxName, const std::string& id) const {
        QWidget* boxWidget = find(boxName);
        return boxWidget && boxWidget->findChild<QWidget*>(rowName("teamRow", id)) != nullptr;
    }
    void click(const char* kind, const std::string& id) {
        auto* button = find<QPushButton>(rowName(kind, id));
        ASSERT_NE(button, nullptr) << kind << id;
        button->click();
        settle();
    }
    // The member menu of a row, opened, and its item of that text triggered.
    void choose(const std::string& id, const char* item) {
        auto* more = find<SymbolButton>(rowName("teamMenu", id));
        ASSERT_NE(more, nullptr) << id;
        ASSERT_TRUE(more->isEnabled());
        more->click();
        QMenu* menu = nullptr;
        for (QMenu* m : panel->findChildren<QMenu*>(QStringLiteral("teamMemberMenu"))) {
            if (m->isVisible()) menu = m;
        }
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            if (action->text() == q(item)) {
                menu->close();
                action->trigger();
                settle();
                return;
            }
        }
        FAIL() << "no item " << item;
    }
    QString boxTitle(const char* name) const {
        auto* box = find<PanelBox>(name);
        return box ? box->title()->text() : QString();
    }
};

TEST_F(TeamMembers, boxesFollowTheStatusAndCountActiveMembersOnly) {
    makeTeam();
    const std::string carol = addMember("carol", "carol", "pending", "设计部");
    const std::string dan = addMember("dan", "", "pending");
    const std::string erin = addMember("erin", "二林", "active");
    const std::string fay = addMember("fay", "Fay", "blocked");
    open();
    EXPECT_EQ(boxTitle("teamPendingBox"), q("等待审批 · 2"));
    EXPECT_EQ(boxTitle("teamMemberBox"), q("成员 · 2"));
    EXPECT_EQ(boxTitle("teamBlockedBox"), q("已停用 · 1"));
    EXPECT_EQ(text("teamSubtitle"), q("2 位成员 · 共用这台机器的存储"));
    EXPECT_TRUE(rowIn("teamPendingBox", carol));
    EXPECT_TRUE(rowIn("teamBlockedBox", fay));

    // Initials and second lines.
    auto* carolRow = find(rowName("teamRow", carol));
    EXPECT_EQ(carolRow->findChild<InitialAvatar*>()->letter(), q("C"));
    bool noted = false;
    for (QLabel* label : carolRow->findChildren<QLabel*>()) noted |= label->text() == q("@carol · 设计部");
    EXPECT_TRUE(noted);
    EXPECT_EQ(find(rowName("teamRow", dan))->findChild<InitialAvatar*>()->letter(), q("D")) << "named by the login";
    EXPECT_EQ(find(rowName("teamRow", erin))->findChild<InitialAvatar*>()->letter(), q("二"));
    const std::string admin = store->allUsers()[0].id;
    EXPECT_EQ(find(rowName("teamMenu", admin)), nullptr) << "the administrator has no menu";

    click("teamApprove", carol);
    EXPECT_TRUE(rowIn("teamMemberBox", carol));
    EXPECT_EQ(boxTitle("teamPendingBox"), q("等待审批 · 1"));
    EXPECT_EQ(text("teamSubtitle"), q("3 位成员 · 共用这台机器的存储"));
    click("teamReject", dan);
    EXPECT_FALSE(store->user(dan).has_value());
    EXPECT_EQ(find("teamPendingBox"), nullptr) << "no applicant left";
    choose(erin, "停用这个账号");
    EXPECT_TRUE(rowIn("teamBlockedBox", erin));
    EXPECT_EQ(boxTitle("teamBlockedBox"), q("已停用 · 2"));
    click("teamRestore", fay);
    EXPECT_TRUE(rowIn("teamMemberBox", fay));
    choose(fay, "彻底移除");
    EXPECT_FALSE(store->user(fay).has_value());
    EXPECT_EQ(find(rowName("teamRow", fay)), nullptr);
    EXPECT_EQ(text("teamSubtitle"), q("2 位成员 · 共用这台机器的存储"));
}

TEST_F(TeamMembers, approveAndRejectShareOneSizeAndTheMenuIsAnIconButton) {
    makeTeam();
    const std::string carol = addMember("carol", "carol", "pending");
    const std::string erin = addMember("erin", "二林", "active");
    open();
    auto* reject = find<QPushButton>(rowName("teamReject", carol));
    auto* approve = find<QPushButton>(rowName("teamApprove", carol));
    ASSERT_TRUE(reject && approve);
    EXPECT_EQ(approve->size(), reject->size());
    EXPECT_EQ(approve->geometry().center().y(), reject->geometry().center().y());
    // Filled with the accent colour, the title in white.
    const QImage image = rendered(approve);
    EXPECT_GE(countPixels(image, image.rect(), [](QRgb pixel) { return isAccent(pixel); }), image.width() * image.height() / 3);
    auto* more = find<SymbolButton>(rowName("teamMenu", erin));
    ASSERT_NE(more, nullptr) << "drawn as the window's other icon buttons";
    EXPECT_EQ(more->accessibleName(), q("更多操作"));
    const QImage dots = rendered(more);
    EXPECT_GE(countPixels(dots, dots.rect(), [](QRgb pixel) { return qGray(pixel) < 90; }), 6) << "dark, not faint";
}

TEST_F(TeamMembers, aPasswordFieldIsAsTallAsAPlainField) {
    makeTeam();
    open();
    const auto* plain = find<QLineEdit>("mailUser");
    ASSERT_NE(plain, nullptr);
    for (const char* name : {"mailPass", "teamOldPass", "teamNewPass"}) {
        const auto* secret = find<QLineEdit>(name);
        ASSERT_NE(secret, nullptr) << name;
        EXPECT_EQ(secret->height(), plain->height()) << name;
    }
}

TEST(TeamInitials, firstGraphemeUpperCased) {
    const std::vector<std::pair<QString, QString>> cases{
        {"", ""}, {"ann", "A"}, {"二林", "二"}, {"éva", "É"}, {"👩‍💻 dev", "👩‍💻"}, {"e\u0301x", "E\u0301"}};
    for (const auto& [name, letter] : cases) EXPECT_EQ(firstLetter(name), letter) << name.toStdString();
}

TEST_F(TeamMembers, temporaryPasswordIsShownOnceAndCopiedOnlyWhenAsked) {
    makeTeam();
    const std::string erin = addMember("erin", "Erin", "active");
    open();
    alertAnswer = 1;  // "关闭"
    choose(erin, "重置密码（生成临时密码）");
    EXPECT_FALSE(find<SymbolButton>(rowName("teamMenu", erin))->isEnabled()) << "disabled while the password is made";
    ASSERT_TRUE(qtWaitFor([&] { return alerts.size() == 1; }));
    EXPECT_EQ(alerts[0].message, "Erin 的临时密码");
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"复制并关闭", "关闭"}));
    EXPECT_TRUE(clipboard.empty());
    settle();
    EXPECT_TRUE(find<SymbolButton>(rowName("teamMenu", erin))->isEnabled());

    alertAnswer = 0;  // "复制并关闭"
    choose(erin, "重置密码（生成临时密码）");
    ASSERT_TRUE(qtWaitFor([&] { return alerts.size() == 2; }));
    ASSERT_EQ(clipboard.size(), 1u);
    const std::string password = clipboard[0];
    EXPECT_EQ(alerts[1].informative, password + "\n\n只显示这一次，请当面或电话告诉对方；建议对方登录后立刻改密。");
    EXPECT_EQ(store->login("erin", password).kind, LoginResult::Kind::ok);
}

TEST_F(TeamMembers, emailIsAskedEmptyAndAStoreRefusalComesInASecondAlert) {
    makeTeam();
    const std::string erin = addMember("erin", "", "active");
    open();
    nextText = "not-an-address";
    choose(erin, "设置邮箱…");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].message, "设置 erin 的邮箱") << "the login name when the name is empty";
    EXPECT_EQ(asked[0].text, "");
    EXPECT_EQ(asked[0].placeholder, "name@example.com");
    EXPECT_EQ(asked[0].confirm, "保存");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "邮箱格式不对");
    EXPECT_EQ(alerts[0].buttons, std::vector<std::string>{"好"});

    nextText = "erin@example.com";
    choose(erin, "设置邮箱…");
    EXPECT_EQ(alerts.size(), 1u);
    bool masked = false;
    for (QLabel* label : find(rowName("teamRow", erin))->findChildren<QLabel*>()) {
        masked |= label->text() == q("@erin · er***@example.com");
    }
    EXPECT_TRUE(masked);
    nextText = "";
    choose(erin, "设置邮箱…");
    EXPECT_TRUE(store->user(erin)->email.empty()) << "an empty field unbinds";
    nextText.reset();
    choose(erin, "设置邮箱…");  // cancelled
    EXPECT_EQ(asked.size(), 4u);
    EXPECT_EQ(alerts.size(), 1u);
}

TEST_F(TeamMembers, aNoticeFloatsBelowTheRowsAndLeavesThemItsRoomWhenItGoes) {
    // It lay over the last rows, flush against them.
    makeTeam();
    for (const char* login : {"amy", "bob", "cat", "dan", "eve", "fay"}) addMember(login, login, "active");
    open();
    auto* rows = panel->findChild<QScrollArea*>();
    const int fullHeight = rows->height();
    state->flash("已重置：临时密码只显示这一次，请当面或电话告诉对方");
    settle();
    auto* notice = find<ToastView>("teamToastView");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text(), q("已重置：临时密码只显示这一次，请当面或电话告诉对方"));
    const QRect capsule = notice->capsuleGeometry();
    EXPECT_EQ(capsule.bottom() + 1, panel->height() - 22) << "22 px above the edge, as in the main window";
    EXPECT_GT(capsule.top(), rows->geometry().bottom()) << "no row lies under it";
    EXPECT_LT(rows->height(), fullHeight);

    state->setToast(std::nullopt);
    settle();
    EXPECT_EQ(rows->height(), fullHeight) << "its room is given back";
}

TEST_F(TeamMembers, removingForGoodIsTheOneMenuItemDrawnInRed) {
    makeTeam();
    const std::string erin = addMember("erin", "二林", "active");
    open();
    auto* more = find<SymbolButton>(rowName("teamMenu", erin));
    ASSERT_NE(more, nullptr);
    more->click();
    QMenu* menu = nullptr;
    for (QMenu* m : panel->findChildren<QMenu*>(QStringLiteral("teamMemberMenu"))) {
        if (m->isVisible()) menu = m;
    }
    ASSERT_NE(menu, nullptr);
    const QImage image = rendered(menu);
    auto red = [](QRgb pixel) { return qRed(pixel) >= 180 && qGreen(pixel) <= 120 && qBlue(pixel) <= 120; };
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        const int redPixels = countPixels(image, menu->actionGeometry(action), red);
        if (action->text() == q("彻底移除")) {
            EXPECT_GE(redPixels, 15) << "the destructive item";
        } else {
            EXPECT_EQ(redPixels, 0) << action->text().toStdString();
        }
    }
    menu->close();
}

TEST_F(TeamMembers, everyTabStopOfThePanelShowsTheAccentMark) {
    makeTeam();
    addMember("carol", "carol", "pending");
    addMember("erin", "二林", "active");
    addMember("fay", "Fay", "blocked");
    open();
    QApplication::setActiveWindow(panel.get());
    ASSERT_TRUE(qtWaitFor([&] { return panel->isActiveWindow(); }));
    auto* first = find<QPushButton>("teamRename");
    ASSERT_NE(first, nullptr);
    first->setFocus(Qt::TabFocusReason);
    const std::vector<QWidget*> stops = tabStops();
    EXPECT_GE(stops.size(), 10u);
    for (QWidget* stop : stops) EXPECT_GE(accentGain(stop), 12) << stopName(stop).toStdString();
}

TEST_F(TeamMembers, tabFollowsTheRowsAndTheKeysGoToTheNextRowAfterAnApproveOrAReject) {
    makeTeam();
    const std::string erin = addMember("erin", "二林", "active");
    open();
    QApplication::setActiveWindow(panel.get());
    ASSERT_TRUE(qtWaitFor([&] { return panel->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), panel.get()) << "the panel opens with no control holding the keys";
    // Two applicants ask while the panel is open: every row is built again.
    const std::string carol = addMember("carol", "卡罗", "pending");
    const std::string dan = addMember("dan", "", "pending");
    state->refreshTeamState();
    settle();

    // The buttons say whose they are.
    EXPECT_EQ(find(rowName("teamApprove", carol))->accessibleDescription(), q("卡罗"));
    EXPECT_EQ(find(rowName("teamReject", dan))->accessibleDescription(), q("dan")) << "no name: the login";
    EXPECT_EQ(find(rowName("teamMenu", erin))->accessibleDescription(), q("二林"));

    // The rows' buttons, rebuilt after the panel was made, come in the rows' order and
    // before everything below them.
    std::vector<QString> order;
    find("teamRename")->setFocus(Qt::TabFocusReason);
    for (QWidget* stop : tabStops()) order.push_back(stop->objectName());
    const auto at = [&](const QString& name) {
        const auto found = std::find(order.begin(), order.end(), name);
        EXPECT_NE(found, order.end()) << "Tab never reached " << name.toStdString();
        return found - order.begin();
    };
    const std::vector<QString> rows = {rowName("teamReject", carol), rowName("teamApprove", carol),
                                       rowName("teamReject", dan), rowName("teamApprove", dan),
                                       rowName("teamMenu", erin), q("mailHost")};
    for (size_t k = 1; k < rows.size(); ++k) {
        EXPECT_LT(at(rows[k - 1]), at(rows[k])) << rows[k - 1].toStdString() << " before " << rows[k].toStdString();
    }

    // An approve hands the keys to the next applicant's "通过"; the last reject to the members.
    find(rowName("teamApprove", carol))->setFocus(Qt::TabFocusReason);
    click("teamApprove", carol);
    EXPECT_EQ(QApplication::focusWidget(), find(rowName("teamApprove", dan)));
    find(rowName("teamReject", dan))->setFocus(Qt::TabFocusReason);
    click("teamReject", dan);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName().section(QLatin1Char(':'), 0, 0), q("teamMenu"))
        << QApplication::focusWidget()->objectName().toStdString();
    EXPECT_TRUE(find("teamMemberBox")->isAncestorOf(QApplication::focusWidget()));

    // A refresh that changed nothing keeps the rows: the keys stay on the same control, which a
    // screen reader would otherwise hear as a new one.
    const QPointer<QWidget> holder = QApplication::focusWidget();
    state->refreshTeamState();
    settle();
    ASSERT_FALSE(holder.isNull()) << "the rows were built again";
    EXPECT_EQ(QApplication::focusWidget(), holder.data());
}

}  // namespace
}  // namespace corvane::test
