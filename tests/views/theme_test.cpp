// The look every view shares: dimmed disabled buttons, thin scroll bars over
// the content that show only when it does not fit and a password bullet of the
// text's size.
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionSlider>

#include <gtest/gtest.h>

#include "support/qt_wait.h"
#include "views/sheet.h"
#include "views/theme.h"

namespace corvane {
namespace {

int darkestGray(const QImage& image) {
    int darkest = 255;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) darkest = std::min(darkest, qGray(image.pixel(x, y)));
    }
    return darkest;
}

TEST(Theme, aDisabledButtonDrawsItsTextAndFrameDimmed) {
    QPushButton* enabled = sheetButton(QStringLiteral("发送"));
    QPushButton* disabled = sheetButton(QStringLiteral("发送"));
    disabled->setEnabled(false);
    enabled->resize(80, 28);
    disabled->resize(80, 28);
    const QImage on = enabled->grab().toImage();
    const QImage off = disabled->grab().toImage();
    EXPECT_GT(darkestGray(off), darkestGray(on) + 60) << "text: the darkest pixel";
    const QPoint frame(0, on.height() / 2);
    EXPECT_GT(qGray(off.pixel(frame)), qGray(on.pixel(frame))) << "frame";
    delete enabled;
    delete disabled;
}

TEST(Theme, scrollBarsAreThinKnobsOverTheContentShownOnlyWhileItDoesNotFit) {
    QScrollArea area;
    area.setFrameShape(QFrame::NoFrame);
    area.setWidgetResizable(true);
    auto* content = new QWidget;
    content->setMinimumHeight(300);
    area.setWidget(content);
    area.resize(200, 100);
    area.show();
    QScrollBar* bar = area.verticalScrollBar();
    ASSERT_TRUE(test::qtWaitFor([&] { return bar->isVisible(); }));
    EXPECT_LE(bar->width(), 10);
    EXPECT_EQ(area.viewport()->width(), 200) << "the bar takes no room from the content";
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.maximum = bar->maximum();
    option.pageStep = bar->pageStep();
    for (const auto arrow : {QStyle::SC_ScrollBarAddLine, QStyle::SC_ScrollBarSubLine}) {
        EXPECT_TRUE(bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, arrow, bar).isEmpty());
    }

    content->setMinimumHeight(50);
    EXPECT_TRUE(test::qtWaitFor([&] { return !bar->isVisible(); }));
}

TEST(Theme, aPasswordFieldShowsABulletOfTheTextsSize) {
    QLineEdit field;
    field.setFont(Theme::font(12));
    field.setEchoMode(QLineEdit::Password);
    field.setText(QStringLiteral("secret"));
    EXPECT_EQ(field.displayText(), QString(6, QChar(0x2022)));
}

}  // namespace
}  // namespace corvane
