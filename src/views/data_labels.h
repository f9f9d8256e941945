#pragma once
// Labels for text that comes from data (names, notices, messages): always
// plain text, never read as rich text (a rich-text label given an image
// source can block on reading it), and never asking for the width of their
// text, so no long name widens the window. The label's text() stays the
// whole text, which is also what accessibility reads.

#include <QLabel>

class QTextLayout;

namespace corvane {

// Lays plain text out in a width: at word boundaries, and anywhere inside a word too
// long for the width; "\n" breaks the line; lines `gap` px apart. Returns the text's
// height. Text measured with it and drawn with it never crosses the width.
int layOutWrapped(QTextLayout& layout, const QString& text, const QFont& font, int width, int gap,
                  Qt::Alignment alignment = Qt::AlignLeft);

// Plain text, wrapped or cut at the edge when its room is smaller than the text. A
// wrapping label measures and draws its lines with one layout of its own font at
// its own width, so no glyph crosses its edge.
class PlainLabel : public QLabel {
    Q_OBJECT

public:
    explicit PlainLabel(const QString& text = {}, QWidget* parent = nullptr);

    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the text out for the label's width (its contents, less the margin); returns the height.
    int layOut(QTextLayout& layout, int width) const;
    int lineGap() const;
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
