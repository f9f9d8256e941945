#pragma once
// A pop-up list whose entries come from data (device names, addresses): as
// wide as its longest entry needs, and narrower where its row has less room,
// never wider. The current entry then shows shortened in the middle, and its
// whole text is the tooltip.

#include <QComboBox>

namespace corvane {

class ElidedComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit ElidedComboBox(QWidget* parent = nullptr);

    // The current entry as drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showWholeText();
};

}  // namespace corvane
