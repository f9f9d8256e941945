#include "views/team/panel_parts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

#include "views/sheet.h"
#include "views/symbols.h"

namespace corvane {

namespace {

QLinearGradient badgeGradient(const QRectF& area) {
    QLinearGradient gradient(area.topLeft(), area.bottomRight());
    gradient.setColorAt(0, QColor::fromRgbF(0.85f, 0.35f, 0.19f));
    gradient.setColorAt(1, QColor::fromRgbF(0.64f, 0.25f, 0.12f));
    return gradient;
}

// The frame of a box: a faint fill and hairline inside rounded corners.
class BoxFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        painter.fillPath(shape, QColor(0, 0, 0, 10));
        painter.setPen(QPen(QColor(0, 0, 0, 22), 1));
        painter.drawPath(shape);
    }
};

}  // namespace

QString firstLetter(const QString& text) {
    if (text.isEmpty()) return {};
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = graphemes.toNextBoundary();
    return text.left(end > 0 ? end : 1).toUpper();
}

PanelBox::PanelBox(const std::string& symbol, const QString& title, const QColor& color, QWidget* parent)
    : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    auto* heading = new QHBoxLayout();
    heading->setSpacing(5);
    heading->addWidget(new SymbolLabel(symbol, 12, color, this));
    title_ = sheetLabel(title, 12, Weight::medium, color, false, this);
    heading->addWidget(title_);
    heading->addStretch(1);
    stack->addLayout(heading);
    auto* frame = new BoxFrame(this);
    content_ = new QVBoxLayout(frame);
    content_->setContentsMargins(10, 8, 10, 8);
    content_->setSpacing(0);
    stack->addWidget(frame);
}

QLineEdit* addCaptionedField(QBoxLayout* into, QWidget* parent, const QString& caption, const QString& placeholder,
                             const char* objectName, bool secret, QLabel** captionOut) {
    auto* stack = new QVBoxLayout();
    stack->setSpacing(4);
    QLabel* label = sheetLabel(caption, 11, Weight::regular, Theme::secondary(), false, parent);
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(objectName));
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(caption);
    field->setFont(Theme::font(12));
    if (secret) {
        // The bullets' Latin font is shorter than the text's: the field keeps a plain field's height.
        const int plainHeight = field->sizeHint().height();
        field->setFont(Theme::passwordFont(12));
        field->setEchoMode(QLineEdit::Password);
        field->setMinimumHeight(plainHeight);
    }
    label->setBuddy(field);
    if (captionOut) *captionOut = label;
    stack->addWidget(label);
    stack->addWidget(field);
    into->addLayout(stack);
    return field;
}

LogoBadge::LogoBadge(int side, QWidget* parent) : QWidget(parent), side_(side) { setFixedSize(side, side); }

void LogoBadge::display(const QImage& logo, const QString& text) {
    logo_ = logo;
    letter_ = firstLetter(text.isEmpty() ? QStringLiteral("团") : text);
    setAccessibleName(showsLogo() ? QStringLiteral("团队 Logo") : letter_);
    update();
}

void LogoBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF area(0, 0, side_, side_);
    QPainterPath shape;
    shape.addRoundedRect(area, side_ * 0.26, side_ * 0.26);
    painter.setClipPath(shape);
    if (showsLogo()) {
        // Scaled to fill: the shorter side fits, the longer one is cut in the middle.
        const QSize filled = logo_.size().scaled(side_, side_, Qt::KeepAspectRatioByExpanding);
        const QRectF target((side_ - filled.width()) / 2.0, (side_ - filled.height()) / 2.0, filled.width(),
                            filled.height());
        painter.drawImage(target, logo_);
    } else {
        painter.fillPath(shape, badgeGradient(area));
        painter.setPen(Qt::white);
        painter.setFont(Theme::font(side_ * 0.4, Weight::bold));
        painter.drawText(area, Qt::AlignCenter, letter_);
    }
    painter.setClipping(false);
    QPainterPath outline;
    outline.addRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), 15.08, 15.08);
    painter.setPen(QPen(Theme::primary(0.08), 1));
    painter.drawPath(outline);
}

void paintInitial(QPainter& painter, const QPointF& at, const QString& letter, double opacity) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity);
    const QRectF area(at, QSizeF(26, 26));
    painter.setPen(Qt::NoPen);
    painter.setBrush(badgeGradient(area));
    painter.drawEllipse(area);
    painter.setPen(Qt::white);
    painter.setFont(Theme::font(11, Weight::bold));
    painter.drawText(area, Qt::AlignCenter, letter);
    painter.restore();
}

}  // namespace corvane
