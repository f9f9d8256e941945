// The pictures of the team panel in docs/screens/, made by scripts/screens.sh
// (CORVANE_SCREENS names the folder; without it the test is skipped).
#include <cstdlib>

#include <QBuffer>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>

#include "team_panel_fixture.h"
#include "views/controls.h"
#include "views/main/row_action_list.h"
#include "views/team/team_member_model.h"

namespace corvane::test {
namespace {

class TeamPanelScreens : public TeamPanelTest {
protected:
    void SetUp() override {
        const char* folder = std::getenv("CORVANE_SCREENS");
        if (!folder || !*folder) GTEST_SKIP() << "CORVANE_SCREENS names no folder";
        out = QString::fromLocal8Bit(folder);
        QDir().mkpath(out);
        qputenv("CORVANE_NO_ANIM", "1");  // a notice shows settled, not in the middle of sliding in
        state->setDeviceName("工作站");
        state->setLocalIPs({"192.168.1.5"});
    }

    void TearDown() override { qunsetenv("CORVANE_NO_ANIM"); }

    void save(QWidget& widget, const char* name) {
        settle();
        qtSpin(std::chrono::milliseconds(30));
        write(widget.grab(), name);
    }

    // Widgets of the panel and its pop-ups drawn where they are on screen, over the window colour.
    void saveTogether(std::initializer_list<QWidget*> widgets, const char* name) {
        settle();
        qtSpin(std::chrono::milliseconds(30));
        QRect area;
        for (QWidget* widget : widgets) area |= QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
        area.adjust(-12, -12, 12, 12);
        QPixmap canvas(area.size());
        canvas.fill(Theme::window());
        QPainter painter(&canvas);
        for (QWidget* widget : widgets) painter.drawPixmap(widget->mapToGlobal(QPoint(0, 0)) - area.topLeft(), widget->grab());
        painter.end();
        write(canvas, name);
    }

    void write(const QPixmap& picture, const char* name) {
        const QString path = out + QStringLiteral("/") + QString::fromLatin1(name) + QStringLiteral(".png");
        EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
        std::printf("screens: %s\n", path.toStdString().c_str());
    }

    // The panel, and its whole scrolling column beside it.
    void savePanel(const char* name) {
        save(*panel, name);
        QWidget* content = panel->findChild<QScrollArea*>()->widget();
        save(*content, (std::string(name) + "-full").c_str());
    }

    std::string logoPNG() {
        QImage image(160, 160, QImage::Format_ARGB32);
        image.fill(QColor(32, 120, 140));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(250, 210, 90));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(80, 80), 46, 46);
        painter.end();
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes.toStdString();
    }

    QString out;
};

TEST_F(TeamPanelScreens, setUpAndManagement) {
    writeFile(box / "logo.png", logoPNG());
    nextImage = box / "logo.png";
    open();
    press("teamPickLogo");
    type("teamPassField", "123456");
    type("teamPass2Field", "654321");
    press("teamEnable");
    state->flash("读不出这张图片");
    savePanel("team-setup");
    panel.reset();
    settle();

    makeTeam();
    store->bind(state->root());
    (void)store->saveLogo(logoPNG());
    addMember("carol", "Carol", "pending", "设计部新同事");
    addMember("dan", "小丹", "pending");
    const std::string erin = addMember("erin", "二林", "active");
    (void)store->setEmail(erin, "erin@example.com");
    addMember("fay", "Fay", "active");
    addMember("gus", "阿古", "blocked");
    open();
    type("mailHost", q("smtp.qq.com"));
    type("mailUser", q("studio@qq.com"));
    press("mailSave");
    state->flash("已通过 Carol 的加入申请");
    savePanel("team-manage");

    type("teamOldPass", q("123456"));
    type("teamNewPass", q("corvane-2024"));
    saveTogether({find("teamOldPass")->parentWidget()->parentWidget()}, "team-manage-password");  // its box, title and all

    auto* members = find<RowActionList>("teamMemberList");
    panel->findChild<QScrollArea*>()->ensureWidgetVisible(members);
    settle();
    const auto* rows = static_cast<TeamMemberModel*>(members->model());
    ASSERT_TRUE(members->runAction(rows->index(rows->rowOf(erin)), q("更多操作")));
    settle();
    QMenu* menu = panel->findChild<QMenu*>(QStringLiteral("teamMemberMenu"));
    ASSERT_TRUE(qtWaitFor([&] { return menu && menu->isVisible(); }));
    saveTogether({find("teamMemberBox"), menu}, "team-member-menu");
    menu->close();
}

}  // namespace
}  // namespace corvane::test
