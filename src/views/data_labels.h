#pragma once
// Labels for text that comes from data (names, notices, messages): always
// plain text, never read as rich text (a rich-text label given an image
// source can block on reading it), and never asking for the width of their
// text, so no long name widens the window. The label's text() stays the
// whole text, which is also what accessibility reads.

#include <QLabel>

namespace corvane {

// Plain text, wrapped or cut at the edge when its room is smaller than the text.
class PlainLabel : public QLabel {
    Q_OBJECT

public:
    explicit PlainLabel(const QString& text = {}, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
};

// One line of plain text that ends in "…" (or starts or breaks in the middle,
// as the mode says) when it does not fit.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);

    // The text as drawn at the current width.
    QString shownText() const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
};

}  // namespace corvane
