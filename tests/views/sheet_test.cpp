// The sheet kit: a fixed width, a height that follows the content at that
// width (a fixed one at most the room), Return for the focused button, else the
// default one, and Escape only where allowed; without a window manager, an edge of
// its own and a shadow on the window behind.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "views/pixel_probes.h"
#include "views/sheet.h"
#include "views/sheet_edge.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

class TestSheet : public Sheet {
public:
    explicit TestSheet(bool escapeCloses) : Sheet(QStringLiteral("测试"), 340, 12, nullptr) {
        label = helpLine(QStringLiteral("短"), this);
        column()->addWidget(label);
        field = new QLineEdit(this);
        column()->addWidget(field);
        box = new QCheckBox(QStringLiteral("选项"), this);
        column()->addWidget(box);
        other = sheetButton(QStringLiteral("其他"), this);
        main = sheetButton(QStringLiteral("确定"), this);
        column()->addWidget(other);
        column()->addWidget(main);
        setDefaultButton(main);
        setEscapeCloses(escapeCloses);
        setInitialFocus(field);
        connect(main, &QPushButton::clicked, this, [this] { ++mainClicks; });
        connect(other, &QPushButton::clicked, this, [this] { ++otherClicks; });
    }

    QLabel* label;
    QLineEdit* field;
    QCheckBox* box;
    QPushButton* other;
    QPushButton* main;
    int mainClicks = 0;
    int otherClicks = 0;
};

TEST(SheetKit, theHeightFollowsTheContentAtTheFixedWidth) {
    TestSheet sheet(false);
    sheet.show();
    test::qtSpin(std::chrono::milliseconds(20));
    EXPECT_EQ(sheet.width(), 340);
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("测试"));
    const int shortHeight = sheet.height();
    EXPECT_EQ(shortHeight, sheet.layout()->totalHeightForWidth(340));

    sheet.label->setText(QString::fromUtf8(test::repeatedText("很长的一行帮助文字，", 30).c_str()));
    test::qtSpin(std::chrono::milliseconds(20));
    EXPECT_GT(sheet.height(), shortHeight + 40) << "the wrapped text takes its lines";
    EXPECT_EQ(sheet.width(), 340);
    EXPECT_EQ(sheet.height(), sheet.layout()->totalHeightForWidth(340));

    sheet.label->setText(QStringLiteral("短"));
    test::qtSpin(std::chrono::milliseconds(20));
    EXPECT_EQ(sheet.height(), shortHeight);
}

// A sheet of fixed height, as the team panel is, with a room given.
class FixedSheet : public Sheet {
public:
    explicit FixedSheet(int room) : Sheet(QStringLiteral("固定"), 400, 0, nullptr) {
        setRoom(room);
        column()->addWidget(sheetButton(QStringLiteral("完成"), this));
        setFixedSheetHeight(640);
    }
};

TEST(SheetKit, aSheetOfFixedHeightTakesAtMostItsRoom) {
    for (const auto& [room, height] : {std::pair{900, 640}, std::pair{450, 450}}) {
        FixedSheet sheet(room);
        sheet.show();
        test::qtSpin(std::chrono::milliseconds(20));
        EXPECT_EQ(sheet.height(), height) << "room " << room;
        EXPECT_EQ(sheet.width(), 400);
    }
}

TEST(SheetKit, returnPressesTheFocusedButtonElseTheDefaultOneAndEscapeClosesOnlyWhereAllowed) {
    for (const bool escapeCloses : {false, true}) {
        TestSheet sheet(escapeCloses);
        sheet.show();
        test::qtSpin(std::chrono::milliseconds(20));
        EXPECT_EQ(sheet.focusWidget(), sheet.field) << "the initial focus";
        EXPECT_FALSE(sheet.other->autoDefault());
        EXPECT_TRUE(sheet.main->isDefault());

        // From a field or a check box, Return and Enter go to the default button.
        QTest::keyClick(sheet.field, Qt::Key_Return);
        sheet.box->setFocus();
        QTest::keyClick(sheet.box, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(sheet.mainClicks, 2);
        EXPECT_FALSE(sheet.box->isChecked()) << "Return does not toggle a check box";
        // From another button, they press that button, and the default stays where it was.
        sheet.other->setFocus();
        QTest::keyClick(sheet.other, Qt::Key_Return);
        QTest::keyClick(sheet.other, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(sheet.otherClicks, 2);
        EXPECT_EQ(sheet.mainClicks, 2);
        EXPECT_FALSE(sheet.other->isDefault()) << "focus made no other button the default";
        EXPECT_TRUE(sheet.main->isDefault());
        QTest::keyClick(sheet.other, Qt::Key_Return, Qt::ControlModifier);
        EXPECT_EQ(sheet.otherClicks + sheet.mainClicks, 4) << "Ctrl+Return presses nothing";

        sheet.field->setFocus();
        sheet.main->setEnabled(false);
        QTest::keyClick(sheet.field, Qt::Key_Return);
        EXPECT_EQ(sheet.mainClicks, 2) << "a disabled default button is not pressed";

        QTest::keyClick(&sheet, Qt::Key_Escape);
        EXPECT_EQ(sheet.isVisible(), !escapeCloses);
    }
}

// The offscreen platform, like a bare X server, has no window manager to frame a sheet.
TEST(SheetKit, withoutAWindowManagerASheetHasItsEdgeAndTheWindowBehindItsShadow) {
    QWidget behind;
    behind.setGeometry(100, 100, 800, 600);
    behind.show();
    Sheet sheet(QStringLiteral("边缘"), 300, 0, &behind);
    sheet.column()->addWidget(sheetButton(QStringLiteral("完成"), &sheet));
    sheet.show();
    ASSERT_TRUE(test::qtWaitFor([&] { return sheet.isVisible() && sheet.findChild<SheetEdge*>()->drawn(); }));
    test::qtSpin(std::chrono::milliseconds(20));

    const QImage drawn = test::rendered(&sheet);
    const int middle = sheet.height() / 2;
    for (const QPoint edge : {QPoint(0, middle), QPoint(sheet.width() - 1, middle), QPoint(150, 0),
                              QPoint(150, sheet.height() - 1)}) {
        EXPECT_LT(qGray(drawn.pixel(edge)), qGray(drawn.pixel(5, middle)) - 30) << edge.x() << "," << edge.y();
    }

    // The shadow lies on the window behind, below the sheet darker than beside it further off.
    const QRect over(behind.mapFromGlobal(sheet.geometry().topLeft()), sheet.size());
    const QImage back = test::rendered(&behind);
    const QPoint below(over.center().x(), over.bottom() + 3);
    const QPoint farOff(over.center().x(), std::min(over.bottom() + 40, behind.height() - 1));
    EXPECT_LT(qGray(back.pixel(below)), qGray(back.pixel(farOff)) - 4);

    sheet.hide();
    test::qtSpin(std::chrono::milliseconds(20));
    EXPECT_EQ(qGray(test::rendered(&behind).pixel(below)), qGray(back.pixel(farOff))) << "the shadow goes with the sheet";
}

}  // namespace
}  // namespace corvane
