#pragma once
// The small circular busy indicator: twelve spokes around a centre, the
// brightest one turning once a second. Underneath it is a progress bar
// without a range, so assistive technology reads it as busy, and it turns
// only while it is shown.

#include <QBasicTimer>
#include <QProgressBar>

namespace corvane {

class Spinner : public QProgressBar {
    Q_OBJECT

public:
    static constexpr int smallSide = 16;  // the small control size
    static constexpr int spokes = 12;

    explicit Spinner(QWidget* parent = nullptr, int side = smallSide);

    // Which spoke is the brightest now (0 at the top, counting clockwise).
    int step() const { return step_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer timer_;
    int step_ = 0;
};

}  // namespace corvane
