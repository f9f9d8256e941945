// The panel's member boxes: each action moves or removes its row through the refresh.
#include <algorithm>

#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QAccessible>
#include <QScrollArea>
#include <QSignalSpy>

#include "team_panel_fixture.h"
#include "views/controls.h"
#include "views/focus_probes.h"
#include "views/main/toast_view.h"
#include "views/main/row_action_list.h"
#include "views/team/panel_parts.h"
#include "views/team/team_member_delegate.h"
#include "views/team/team_member_model.h"

namespace corvane::test {
namespace {

class TeamMembers : public TeamPanelTest {
protected:
    RowActionList* list(const char* name) const { return find<RowActionList>(name); }
    TeamMemberModel* model(const char* name) const { return static_cast<TeamMemberModel*>(list(name)->model()); }
    QModelIndex rowOf(const char* listName, const std::string& id) const {
        TeamMemberModel* rows = model(listName);
        const int row = rows->rowOf(id);
        return row < 0 ? QModelIndex() : rows->index(row);
    }
    bool rowIn(const char* listName, const std::string& id) const { return rowOf(listName, id).isValid(); }
    // What a row shows: its name, and the second line.
    QString cell(const char* listName, const std::string& id, int role = Qt::DisplayRole) const {
        return rowOf(listName, id).data(role).toString();
    }
    QStringList actions(const char* listName, const std::string& id) const {
        QStringList names;
        for (const auto& action : list(listName)->actionsOf(rowOf(listName, id))) names << action.name;
        return names;
    }
    // The row's action of that name, as a key or a screen reader runs it.
    void act(const char* listName, const std::string& id, const char* action) {
        const QModelIndex row = rowOf(listName, id);
        ASSERT_TRUE(row.isValid()) << listName << " " << id;
        ASSERT_TRUE(list(listName)->runAction(row, q(action))) << action;
        settle();
    }
    QMenu* memberMenu() const {
        for (QMenu* m : panel->findChildren<QMenu*>(QStringLiteral("teamMemberMenu"))) {
            if (m->isVisible()) return m;
        }
        return nullptr;
    }
    // The member menu of a row, opened, and its item of that text triggered.
    void choose(const std::string& id, const char* item) {
        act("teamMemberList", id, "更多操作");
        QMenu* menu = memberMenu();
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
    // Where a painted button of a row lies in the list's viewport.
    QRect buttonRect(const char* listName, const std::string& id, const char* button) const {
        auto* delegate = static_cast<TeamMemberDelegate*>(list(listName)->itemDelegate());
        const QModelIndex row = rowOf(listName, id);
        for (const auto& [name, area] : delegate->buttons(list(listName)->visualRect(row), row)) {
            if (name == q(button)) return area;
        }
        return {};
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
    EXPECT_TRUE(rowIn("teamPendingList", carol));
    EXPECT_TRUE(rowIn("teamBlockedList", fay));

    // Names (whose initials the rows paint) and second lines, read as a screen reader reads them.
    EXPECT_EQ(cell("teamPendingList", carol, TeamMemberModel::detailRole), q("@carol · 设计部"));
    EXPECT_EQ(cell("teamPendingList", carol, Qt::AccessibleTextRole), q("carol · @carol · 设计部"));
    EXPECT_EQ(cell("teamPendingList", dan), q("dan")) << "named by the login";
    EXPECT_EQ(firstLetter(cell("teamMemberList", erin)), q("二"));
    EXPECT_EQ(cell("teamMemberList", erin, Qt::AccessibleTextRole), q("二林 · @erin · 未绑邮箱"));
    const std::string admin = store->allUsers()[0].id;
    EXPECT_EQ(cell("teamMemberList", admin, Qt::AccessibleTextRole), q("Ann · 管理员 · @admin · 未绑邮箱"));
    EXPECT_TRUE(actions("teamMemberList", admin).isEmpty()) << "the administrator has no menu";
    EXPECT_EQ(actions("teamPendingList", carol), (QStringList{q("通过"), q("拒绝")}));
    EXPECT_EQ(actions("teamMemberList", erin),
              (QStringList{q("更多操作"), q("重置密码（生成临时密码）"), q("设置邮箱…"), q("停用这个账号"), q("彻底移除")}));
    EXPECT_EQ(actions("teamBlockedList", fay), QStringList{q("恢复")});

    act("teamPendingList", carol, "通过");
    EXPECT_TRUE(rowIn("teamMemberList", carol));
    EXPECT_EQ(boxTitle("teamPendingBox"), q("等待审批 · 1"));
    EXPECT_EQ(text("teamSubtitle"), q("3 位成员 · 共用这台机器的存储"));
    act("teamPendingList", dan, "拒绝");
    EXPECT_FALSE(store->user(dan).has_value());
    EXPECT_FALSE(shown("teamPendingBox")) << "no applicant left";
    choose(erin, "停用这个账号");
    EXPECT_TRUE(rowIn("teamBlockedList", erin));
    EXPECT_EQ(boxTitle("teamBlockedBox"), q("已停用 · 2"));
    act("teamBlockedList", fay, "恢复");
    EXPECT_TRUE(rowIn("teamMemberList", fay));
    act("teamMemberList", fay, "彻底移除");
    EXPECT_FALSE(store->user(fay).has_value());
    EXPECT_FALSE(rowIn("teamMemberList", fay));
    EXPECT_EQ(text("teamSubtitle"), q("2 位成员 · 共用这台机器的存储"));
}

TEST_F(TeamMembers, approveAndRejectShareOneSizeAndAClickOnAPaintedButtonRunsItsAction) {
    makeTeam();
    const std::string carol = addMember("carol", "carol", "pending");
    const std::string erin = addMember("erin", "二林", "active");
    open();
    const QRect reject = buttonRect("teamPendingList", carol, "拒绝");
    const QRect approve = buttonRect("teamPendingList", carol, "通过");
    ASSERT_TRUE(reject.isValid() && approve.isValid());
    EXPECT_EQ(approve.size(), reject.size());
    EXPECT_EQ(approve.center().y(), reject.center().y());
    // Filled with the accent colour, the title in white.
    const QImage rows = rendered(list("teamPendingList")->viewport());
    EXPECT_GE(countPixels(rows, approve, [](QRgb pixel) { return isAccent(pixel); }), approve.width() * approve.height() / 3);
    const QRect more = buttonRect("teamMemberList", erin, "更多操作");
    ASSERT_TRUE(more.isValid());
    const QImage members = rendered(list("teamMemberList")->viewport());
    EXPECT_GE(countPixels(members, more, [](QRgb pixel) { return qGray(pixel) < 90; }), 6) << "dark, not faint";

    // A click on the painted "更多操作" opens the menu; one on "通过" approves.
    QTest::mouseClick(list("teamMemberList")->viewport(), Qt::LeftButton, {}, more.center());
    settle();
    ASSERT_NE(memberMenu(), nullptr);
    memberMenu()->close();
    QTest::mouseClick(list("teamPendingList")->viewport(), Qt::LeftButton, {}, approve.center());
    settle();
    EXPECT_TRUE(rowIn("teamMemberList", carol));
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
    EXPECT_TRUE(actions("teamMemberList", erin).isEmpty()) << "nothing offered while the password is made";
    ASSERT_TRUE(qtWaitFor([&] { return alerts.size() == 1; }));
    EXPECT_EQ(alerts[0].message, "Erin 的临时密码");
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"复制并关闭", "关闭"}));
    EXPECT_TRUE(clipboard.empty());
    settle();
    EXPECT_FALSE(actions("teamMemberList", erin).isEmpty());

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
    EXPECT_EQ(cell("teamMemberList", erin, TeamMemberModel::detailRole), q("@erin · er***@example.com"));
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
    act("teamMemberList", erin, "更多操作");
    QMenu* menu = memberMenu();
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

TEST_F(TeamMembers, eachListIsOneTabStopAndTheKeysGoToTheNextRowAfterAnApproveOrAReject) {
    makeTeam();
    const std::string erin = addMember("erin", "二林", "active");
    open();
    QApplication::setActiveWindow(panel.get());
    ASSERT_TRUE(qtWaitFor([&] { return panel->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), panel.get()) << "the panel opens with no control holding the keys";
    // Two applicants ask while the panel is open.
    const std::string carol = addMember("carol", "卡罗", "pending");
    const std::string dan = addMember("dan", "", "pending");
    state->refreshTeamState();
    settle();

    // From the control above them, the lists come in the boxes' order, once each, before what lies below.
    std::vector<QString> order;
    find("teamRename")->setFocus(Qt::TabFocusReason);
    for (QWidget* stop : tabStops()) order.push_back(stop->objectName());
    const auto at = [&](const QString& name) {
        EXPECT_EQ(std::count(order.begin(), order.end(), name), 1) << name.toStdString();
        return std::find(order.begin(), order.end(), name) - order.begin();
    };
    const std::vector<QString> stops = {q("teamPendingList"), q("teamMemberList"), q("mailHost"), q("teamRename")};
    for (size_t k = 1; k < stops.size(); ++k) {
        EXPECT_LT(at(stops[k - 1]), at(stops[k])) << stops[k - 1].toStdString() << " before " << stops[k].toStdString();
    }

    // Return approves the row the keys are on and leaves them on the next applicant.
    RowActionList* pending = list("teamPendingList");
    pending->setFocus(Qt::TabFocusReason);
    pending->setCurrentIndex(rowOf("teamPendingList", carol));
    QTest::keyClick(pending, Qt::Key_Return);
    settle();
    EXPECT_TRUE(rowIn("teamMemberList", carol));
    EXPECT_EQ(QApplication::focusWidget(), pending);
    EXPECT_EQ(pending->currentIndex(), rowOf("teamPendingList", dan));
    // Delete rejects the last one: the keys go on to the members.
    QTest::keyClick(pending, Qt::Key_Delete);
    settle();
    EXPECT_FALSE(store->user(dan).has_value());
    EXPECT_EQ(QApplication::focusWidget(), list("teamMemberList"));

    // A refresh that changed nothing keeps the rows: the keys stay on the same row, which a
    // screen reader would otherwise hear as a new one.
    RowActionList* members = list("teamMemberList");
    members->setCurrentIndex(rowOf("teamMemberList", erin));
    QSignalSpy resets(members->model(), &QAbstractItemModel::modelReset);
    state->refreshTeamState();
    settle();
    EXPECT_EQ(resets.count(), 0) << "the rows were made again";
    EXPECT_EQ(QApplication::focusWidget(), members);
    EXPECT_EQ(members->currentIndex(), rowOf("teamMemberList", erin));
}

// The panel took 41-58 s to open on 5,000 accounts: a widget per member, chained into the Tab
// order one by one. A list of any length is one Tab stop, holds as many widgets, and shows a
// screen reader only the rows on screen, each made when asked for.
TEST_F(TeamMembers, aTeamOfThousandsIsThreeListsOfOneTabStopEachWithTheRowsOnScreenReadable) {
    const auto opened = [this](int members) {
        TeamFacts facts;
        facts.hasAdmin = true;
        for (int k = 0; k < members; ++k) {
            facts.users.push_back({{"id", "u" + std::to_string(k)}, {"user", "user" + std::to_string(k)},
                                   {"name", "成员 " + std::to_string(k)},
                                   {"status", k % 10 == 0 ? "pending" : k % 50 == 1 ? "blocked" : "active"}});
        }
        AppEnvironment env = state->environment();
        env.readTeam = [facts](const std::filesystem::path&) { return facts; };
        panel.reset();
        state = std::make_unique<AppState>(env);
        state->setShowWelcome(false);
        state->refreshTeamState();
        open();
        QApplication::setActiveWindow(panel.get());
        EXPECT_TRUE(qtWaitFor([&] { return panel->isActiveWindow(); }));
        find("teamRename")->setFocus(Qt::TabFocusReason);
        return std::pair{panel->findChildren<QWidget*>().size(), tabStops().size()};
    };
    const auto few = opened(10);
    const auto many = opened(5000);
    EXPECT_EQ(many.first, few.first) << "widgets";
    EXPECT_EQ(many.second, few.second) << "Tab stops";
    EXPECT_EQ(model("teamMemberList")->rowCount(), 4400);
    EXPECT_EQ(boxTitle("teamMemberBox"), q("成员 · 4400"));
    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list("teamMemberList"));
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->childCount(), 8) << "the rows on screen";
    EXPECT_EQ(rows->child(7)->text(QAccessible::Name), q("成员 9 · @user9 · 未绑邮箱"));
    // End moves the keys to the last member, which is then the one on screen at the bottom.
    list("teamMemberList")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list("teamMemberList"), Qt::Key_End);
    settle();
    EXPECT_EQ(rows->child(rows->childCount() - 1)->text(QAccessible::Name), q("成员 4999 · @user4999 · 未绑邮箱"));
    EXPECT_TRUE(rows->focusChild() && rows->focusChild()->state().focused);
}

}  // namespace
}  // namespace corvane::test
