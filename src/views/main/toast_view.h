#pragma once
// The toast: AppState's notice in a light capsule at the bottom centre of the
// window, 22 px above the edge, over whatever lies below it. A new notice
// slides up and fades in, a cleared one slides down and fades out (0.18 s,
// ease in and out); a notice replaced by another keeps its place. The text
// wraps once the capsule would be wider than the window less 32 px.

#include <optional>
#include <string>

#include <QPointer>
#include <QWidget>

class QGraphicsOpacityEffect;
class QParallelAnimationGroup;

namespace corvane {

class PlainLabel;

class ToastView : public QWidget {
    Q_OBJECT

public:
    // A child of the view it floats over; hidden until a notice is shown. Its text label
    // carries the object name given.
    explicit ToastView(QWidget* parent, const QString& textName = QStringLiteral("toastText"));

    // The notice on show (none clears it).
    void showNotice(const std::optional<std::string>& text);
    // The capsule's rectangle in the parent's coordinates once it has settled.
    QRect capsuleGeometry() const;
    // The room it takes above the parent's bottom edge once settled: the capsule and the gap below it.
    int roomAbove() const;
    QString text() const;
    // Follows the parent's size; a running animation jumps to its end.
    void place();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect settledGeometry() const;
    QPoint belowEdge() const;
    void animate(const QPoint& to, double opacity, bool hideAtEnd);
    void fitToText();

    PlainLabel* label_ = nullptr;
    QGraphicsOpacityEffect* fade_ = nullptr;
    QPointer<QParallelAnimationGroup> animation_;
    bool leaving_ = false;
};

}  // namespace corvane
