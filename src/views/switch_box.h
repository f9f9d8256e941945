#pragma once
// A check box drawn as the small switch: a capsule track (grey off, accent on)
// with a white knob, then a symbol and the title. It stays a check box for
// assistive technology (its title is the name, Toggle flips it) and takes a
// click anywhere on it; keyboard focus rings the track.

#include <string>

#include <QCheckBox>

namespace corvane {

class SwitchBox : public QCheckBox {
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol)

public:
    // The mini switch's track.
    static constexpr int trackWidth = 26;
    static constexpr int trackHeight = 15;

    SwitchBox(const std::string& symbol, double px, const QString& title, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    // Where the track is drawn.
    QRect trackRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool hitButton(const QPoint& pos) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    double px_;
};

}  // namespace corvane
