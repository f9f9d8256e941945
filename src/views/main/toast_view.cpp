#include "views/main/toast_view.h"

#include <algorithm>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

#include "views/animations.h"
#include "views/data_labels.h"
#include "views/soft_shadow.h"
#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kPadX = 14;
constexpr int kPadY = 8;
constexpr int kGapBelow = 22;   // capsule bottom to window bottom
constexpr int kSideRoom = 32;   // the capsule is at most the window width less this
constexpr int kMargin = SoftShadow::margin;  // room for the shadow around the capsule
constexpr int kDurationMs = 180;

QPainterPath capsulePath(const QRectF& rect) {
    QPainterPath path;
    const double radius = std::min(rect.height() / 2.0, 18.0);
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// A screen reader meets the toast as a notification named by its text, so the notice is
// told as it appears rather than found by walking the window.
class ToastAccessible : public QAccessibleWidget {
public:
    explicit ToastAccessible(QWidget* toast) : QAccessibleWidget(toast, QAccessible::Notification) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return static_cast<const ToastView*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* toastAccessible(const QString& className, QObject* object) {
    auto* toast = qobject_cast<ToastView*>(object);
    if (toast == nullptr || className != QLatin1String(ToastView::staticMetaObject.className())) return nullptr;
    return new ToastAccessible(toast);
}

}  // namespace

ToastView::ToastView(QWidget* parent, const QString& textName) : QWidget(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(toastAccessible), true);
    (void)factoryInstalled;
    setObjectName(QStringLiteral("toast"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    label_ = new PlainLabel({}, this);
    label_->setObjectName(textName);
    label_->setFont(Theme::font(12.5, Weight::medium));
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignCenter);
    Theme::setTextColor(label_, Theme::primary());
    fade_ = new QGraphicsOpacityEffect(this);
    fade_->setOpacity(1.0);
    setGraphicsEffect(fade_);
    hide();
}

QString ToastView::text() const { return label_->text(); }

void ToastView::showNotice(const std::optional<std::string>& text) {
    if (!text) {
        if (!isVisible() || leaving_) return;
        leaving_ = true;
        animate(belowEdge(), 0.0, true);
        return;
    }
    label_->setText(QString::fromStdString(*text));
    fitToText();
    if (isVisible() && !leaving_) {
        setGeometry(settledGeometry());  // replaced: the capsule stays and shows the new text
        return;
    }
    const bool wasLeaving = leaving_;
    leaving_ = false;
    if (!wasLeaving) {
        setGeometry(QRect(belowEdge(), settledGeometry().size()));
        fade_->setOpacity(0.0);
    }
    show();
    raise();
    animate(settledGeometry().topLeft(), 1.0, false);
}

void ToastView::fitToText() {
    const int maxCapsule = std::max(40, parentWidget()->width() - kSideRoom);
    const int maxText = maxCapsule - 2 * kPadX;
    const QFontMetrics metrics(label_->font());
    const int oneLine = metrics.horizontalAdvance(label_->text());
    const int textWidth = std::min(oneLine + 1, maxText);
    const int textHeight = label_->heightForWidth(textWidth) > 0 ? label_->heightForWidth(textWidth) : metrics.height();
    label_->setGeometry(kMargin + kPadX, kMargin + kPadY, textWidth, textHeight);
    resize(textWidth + 2 * kPadX + 2 * kMargin, textHeight + 2 * kPadY + 2 * kMargin);
}

QRect ToastView::settledGeometry() const {
    const QWidget* parent = parentWidget();
    const int x = (parent->width() - width()) / 2;
    const int y = parent->height() - kGapBelow - (height() - kMargin);
    return {x, y, width(), height()};
}

QRect ToastView::capsuleGeometry() const { return settledGeometry().adjusted(kMargin, kMargin, -kMargin, -kMargin); }

int ToastView::roomAbove() const { return parentWidget()->height() - capsuleGeometry().top(); }

QPoint ToastView::belowEdge() const { return {settledGeometry().x(), parentWidget()->height()}; }

void ToastView::place() {
    if (!isVisible()) return;
    if (animation_) animation_->setCurrentTime(animation_->totalDuration());
    if (!isVisible()) return;
    fitToText();
    setGeometry(settledGeometry());
}

void ToastView::animate(const QPoint& to, double opacity, bool hideAtEnd) {
    if (animation_) animation_->stop();
    delete animation_;
    auto* group = new QParallelAnimationGroup(this);
    auto* move = new QPropertyAnimation(this, "pos", group);
    move->setEndValue(to);
    auto* fade = new QPropertyAnimation(fade_, "opacity", group);
    fade->setEndValue(opacity);
    for (QPropertyAnimation* part : {move, fade}) {
        part->setDuration(kDurationMs);
        part->setEasingCurve(QEasingCurve::InOutQuad);
    }
    if (hideAtEnd) {
        connect(group, &QAbstractAnimation::finished, this, [this] {
            leaving_ = false;
            hide();
        });
    }
    animation_ = group;
    startAnimation(group);
}

void ToastView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    paintSoftShadow(painter, capsule, capsulePath);
    // The light material, then the hairline border inside the shape.
    const QPainterPath shape = capsulePath(capsule);
    painter.fillPath(shape, QColor(0xF6, 0xF6, 0xF6, 0xF0));
    painter.setPen(QPen(Theme::primary(0.08), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsulePath(capsule.adjusted(0.5, 0.5, -0.5, -0.5)));
}

}  // namespace corvane
