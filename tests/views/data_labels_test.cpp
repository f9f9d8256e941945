// Data shown by the shared kit: labels never read markup, never ask for the
// width of their text, and elide; tooltips and button titles show data as it
// stands; CORVANE_NO_ANIM makes animations jump to their end.
#include <QHBoxLayout>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include "views/animations.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/data_text.h"
#include "views/theme.h"

namespace corvane {
namespace {

// Texts a rich-text label would interpret (the first one hangs it reading /dev/zero).
const QString kMarkup[] = {QStringLiteral("<img src=\"/dev/zero\">"), QStringLiteral("<i>x</i>"),
                           QStringLiteral("R&D"), QStringLiteral("a\nb")};

TEST(DataLabels, showDataLiterallyAndAskForNoWidth) {
    for (const QString& text : kMarkup) {
        PlainLabel plain(text);
        ElidedLabel elided(text);
        EXPECT_EQ(plain.textFormat(), Qt::PlainText);
        EXPECT_EQ(elided.textFormat(), Qt::PlainText);
        EXPECT_EQ(plain.text(), text);
        EXPECT_EQ(elided.text(), text);
        EXPECT_EQ(plain.minimumSizeHint().width(), 0) << text.toStdString();
        EXPECT_EQ(elided.minimumSizeHint().width(), 0) << text.toStdString();
        plain.grab();  // paints without reading anything
        elided.grab();
    }
}

TEST(DataLabels, aLongNameDoesNotWidenItsWindow) {
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    row->addWidget(new ElidedLabel(QString(400, QChar(0x540D))));  // 400 × 名
    row->addWidget(new PlainLabel(QString(400, QLatin1Char('w'))));
    EXPECT_LT(window.minimumSizeHint().width(), 100);
}

TEST(DataLabels, anElidedLabelCutsAtItsWidthButKeepsTheWholeText) {
    const QString name = QStringLiteral("一个非常非常长的设备名字，长到放不下");
    ElidedLabel label(name);
    label.setFont(Theme::font(12));
    label.resize(label.sizeHint());
    EXPECT_EQ(label.shownText(), name);
    label.resize(60, label.height());
    EXPECT_TRUE(label.shownText().endsWith(QChar(0x2026))) << label.shownText().toStdString();
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.shownText()), 60);
    EXPECT_EQ(label.text(), name);  // what accessibility reads
    // Texts whose width is not a whole pixel show whole at their size hint.
    for (const QString& text : {QStringLiteral("产品发布会 录像.mp4"), QStringLiteral("会议纪要.docx")}) {
        ElidedLabel fitted(text);
        fitted.setFont(Theme::font(11.5));
        fitted.resize(fitted.sizeHint());
        EXPECT_EQ(fitted.shownText(), text) << text.toStdString();
    }
    ElidedLabel twoLines(QStringLiteral("a\nb"));
    twoLines.resize(200, 20);
    EXPECT_EQ(twoLines.shownText(), QStringLiteral("a b"));
}

TEST(DataText, buttonTitlesAndTooltipsShowDataAsItStands) {
    QPushButton button(buttonTitle(QStringLiteral("R&D && more")));
    EXPECT_EQ(button.text(), QStringLiteral("R&&D &&&& more"));
    EXPECT_TRUE(button.shortcut().isEmpty());
    std::unique_ptr<QPushButton> made(smallButton(QStringLiteral("R&D")));
    EXPECT_EQ(made->text(), QStringLiteral("R&&D"));

    QWidget widget;
    setDataToolTip(&widget, QStringLiteral("<img src=\"/dev/zero\">\n<i>x</i> & y"));
    EXPECT_FALSE(widget.toolTip().contains(QStringLiteral("<img"))) << widget.toolTip().toStdString();
    EXPECT_TRUE(widget.toolTip().contains(QStringLiteral("&lt;img src=&quot;/dev/zero&quot;&gt;\n&lt;i&gt;x&lt;/i&gt; &amp; y")))
        << widget.toolTip().toStdString();
    EXPECT_TRUE(widget.toolTip().contains(QStringLiteral("pre-wrap")));  // the line break stays one
    EXPECT_EQ(widget.accessibleDescription(), QStringLiteral("<img src=\"/dev/zero\">\n<i>x</i> & y"));
    setDataToolTip(&widget, {});
    EXPECT_TRUE(widget.toolTip().isEmpty());
}

TEST(Animations, switchedOffTheyJumpToTheirEnd) {
    QWidget widget;
    widget.move(0, 0);
    for (const bool off : {true, false}) {
        qputenv("CORVANE_NO_ANIM", off ? "1" : "0");
        EXPECT_EQ(animationsEnabled(), !off);
        auto* move = new QPropertyAnimation(&widget, "pos", &widget);
        move->setDuration(10000);
        move->setEndValue(QPoint(50, 60));
        bool finished = false;
        QObject::connect(move, &QAbstractAnimation::finished, [&finished] { finished = true; });
        startAnimation(move);
        EXPECT_EQ(finished, off);
        EXPECT_EQ(widget.pos() == QPoint(50, 60), off);
        move->stop();
        widget.move(0, 0);
    }
    qunsetenv("CORVANE_NO_ANIM");
}

}  // namespace
}  // namespace corvane
