#pragma once
// A short text on a capsule of its own colour (the platform tag, the unread
// badge). It is a label, so its text is what accessibility reads; a text too
// long for its room is cut at the end.

#include "views/data_labels.h"
#include "views/theme.h"

namespace corvane {

class CapsuleLabel : public ElidedLabel {
    Q_OBJECT

public:
    CapsuleLabel(double px, Weight weight, double padH, double padV, QWidget* parent = nullptr);

    void setColors(const QColor& text, const QColor& fill);
    QColor fill() const { return fill_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

}  // namespace corvane
