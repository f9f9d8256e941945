#pragma once
// Progress of a transfer as the queue and receive panels show it: the bar's
// fraction and the whole percent, computed in integers so that 29 of 100
// reads 29 % (the floating product gives 28) and no byte count overflows.

#include <cstdint>
#include <string>

#include <QColor>
#include <QProgressBar>

class QHBoxLayout;
class QPainter;
class QRectF;

namespace corvane {

// sent × 100 / total truncated; 0 when total is below 1 or nothing was sent;
// capped at 100 when asked (the queue), else as large as it comes (the receive panel).
int64_t wholePercent(int64_t sent, int64_t total, bool capped);

// sent / total for the bar; 0 when total is below 1; capped at 1 when asked.
double progressFraction(int64_t sent, int64_t total, bool capped);

// The header row of a transfer panel: its symbol and bold title, inset 16 × 7, spacing 7.
QHBoxLayout* transferPanelHeader(const std::string& symbol, const QString& title, QWidget* parent);

// The thin bar of a transfer row: a grey track, the done part in the tint, round ends.
void paintProgressLine(QPainter& painter, const QRectF& track, double fraction, const QColor& tint);

// The same bar as a widget, so its value is a real state for accessibility.
// Values are kept in 0..1000; a fraction beyond the ends is clamped.
class ProgressLine : public QProgressBar {
    Q_OBJECT

public:
    static constexpr int thickness = 4;

    explicit ProgressLine(QWidget* parent = nullptr);

    void setFraction(double fraction);
    void setTint(const QColor& tint);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor tint_;
};

}  // namespace corvane
