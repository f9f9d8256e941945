// The look every view shares: dimmed disabled buttons, thin scroll bars over
// the content that show only when it does not fit, password bullets of the
// text's size, the focus ring apart from the default button's look, the inset
// of one-line fields, colour emoji as tall as the Chinese text beside them, and
// digits of one width.
#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "support/qt_wait.h"
#include "views/emoji_font.h"
#include "views/pixel_probes.h"
#include "views/sheet.h"
#include "views/team/panel_parts.h"
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

// The rows with any pixel other than white.
int inkHeight(const QImage& image) {
    int top = image.height();
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == 0xFFFFFFFF) continue;
            top = std::min(top, y);
            bottom = y;
        }
    }
    return bottom - top + 1;
}

int inkHeight(const QString& text, const QFont& font) {
    QImage image(200, 200, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(20, 140, text);
    painter.end();
    return inkHeight(image);
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
    const QPoint frame(2, on.height() / 2);  // inside the room kept for the focus ring
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

TEST(Theme, aPasswordFieldDrawsBulletsOfTheTextsSizeAtTheSpacingOfText) {
    // The team panel's password fields, at 12 px.
    QWidget holder;
    auto* column = new QVBoxLayout(&holder);
    QLineEdit* field = addCaptionedField(column, &holder, QStringLiteral("管理员密码"), {}, "pass", true);
    field->setText(QStringLiteral("secret"));
    field->setFixedSize(200, 26);
    const QImage image = test::rendered(field);
    const QRect middle(4, 6, 190, 14);
    const auto bullets = test::inkRuns(image, middle, [](QRgb pixel) { return qGray(pixel) < 128; });
    ASSERT_EQ(bullets.size(), 6u);
    for (size_t i = 0; i < bullets.size(); ++i) {
        EXPECT_GE(bullets[i].second - bullets[i].first + 1, 5) << "bullet " << i << " as wide as a letter";
        if (i == 0) continue;
        const int pitch = bullets[i].first - bullets[i - 1].first;
        EXPECT_LE(pitch, 11) << "bullet " << i << " one letter after the last, not one em";
        EXPECT_GT(bullets[i].first, bullets[i - 1].second + 1) << "bullet " << i << " apart from the last";
    }
}

TEST(Theme, aFocusedButtonIsRingedWhereTheDefaultButtonIsNot) {
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    QPushButton* cancel = sheetButton(QStringLiteral("取消"), &window);
    QPushButton* done = sheetButton(QStringLiteral("完成"), &window);
    done->setDefault(true);
    row->addWidget(cancel);
    row->addWidget(done);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(test::qtWaitFor([&] { return window.isActiveWindow(); }));
    done->setFocus();
    QTest::keyClick(done, Qt::Key_Tab);  // the keyboard moves the focus to "取消"
    ASSERT_TRUE(cancel->hasFocus());

    // The outermost pixels all round a button.
    auto ring = [](QPushButton* button) {
        const QImage image = test::rendered(button);
        const QRect all = image.rect();
        return test::countPixels(image, all, test::isAccent) -
               test::countPixels(image, all.adjusted(1, 1, -1, -1), test::isAccent);
    };
    const int perimeter = 2 * (cancel->width() + cancel->height());
    EXPECT_GE(ring(cancel), perimeter / 2) << "the focused button is ringed";
    EXPECT_LE(ring(done), 4) << "the default button is not";
}

TEST(Theme, aSingleLineFieldStartsItsTextTenPixelsInsideItsEdge) {
    for (const double px : {11.5, 12.0, 13.0}) {
        QLineEdit field(QStringLiteral("2468"));
        field.setFont(Theme::font(px));
        field.setFixedSize(200, 26);
        field.selectAll();
        const QImage image = test::rendered(&field);
        const QRect inside(3, 3, 190, 20);
        const auto ink = test::inkRuns(image, inside, [](QRgb pixel) { return qGray(pixel) < 140; });
        ASSERT_FALSE(ink.empty()) << px;
        EXPECT_GE(ink.front().first, 10) << px << " px text";
        EXPECT_LE(ink.front().first, 12) << px << " px text";
    }
}

TEST(Theme, anEmojiIsDrawnAsTallAsAChineseCharacterBesideIt) {
    const QFont font = Theme::font(40);
    EXPECT_GE(inkHeight(QStringLiteral("😀"), font), inkHeight(QStringLiteral("中"), font));
}

TEST(Theme, theDigitsOfNumbersThatChangeAllTakeOneWidth) {
    // The size column (11 px); the queue's speed and percent and the receive status (9.5 px).
    for (const double px : {9.5, 11.0}) {
        const QFontMetricsF metrics(Theme::font(px));
        for (char digit = '1'; digit <= '9'; ++digit) {
            EXPECT_DOUBLE_EQ(metrics.horizontalAdvance(QLatin1Char(digit)), metrics.horizontalAdvance(QLatin1Char('0')))
                << px << " px, digit " << digit;
        }
    }
}

// A font file holding only a CBLC table with one strike: ascender, descender, em.
QByteArray strikeFont(int ascender, int descender, int em, const char* tag = "CBLC") {
    QByteArray font(12 + 16 + 8 + 48, '\0');
    font[5] = 1;  // one table
    font.replace(12, 4, tag);
    font[12 + 11] = 28;      // its offset
    font[12 + 15] = 8 + 48;  // its length
    font[28 + 7] = 1;        // one strike
    font[36 + 16] = char(ascender);
    font[36 + 17] = char(descender);
    font[36 + 45] = char(em);
    return font;
}

TEST(EmojiFont, strikeLinesBecomeOneEmKeepingTheirShare) {
    const std::optional<QByteArray> noto = emojiStrikesAtEmHeight(strikeFont(101, -27, 109));
    ASSERT_TRUE(noto);
    EXPECT_EQ(qint8((*noto)[36 + 16]), 86);
    EXPECT_EQ(qint8((*noto)[36 + 17]), -23);

    EXPECT_FALSE(emojiStrikesAtEmHeight(strikeFont(80, -20, 100))) << "already one em";
    EXPECT_FALSE(emojiStrikesAtEmHeight(strikeFont(101, -27, 109, "EBLC"))) << "no colour strikes";
    EXPECT_FALSE(emojiStrikesAtEmHeight(strikeFont(101, -27, 109).left(60))) << "cut short";
    EXPECT_FALSE(emojiStrikesAtEmHeight(QByteArray("not a font")));
}

}  // namespace
}  // namespace corvane
