#pragma once
// A plain-text editor that draws its caret in the pixel before the character it
// stands at, and at a line's start one pixel further into the inset. Qt draws it
// over that character's first pixel column, and a CJK glyph starts right there,
// so at the start of a line the caret stood on the first character (or the
// placeholder) instead of in the room before it.
// It blinks at the platform's rate while the editor has the focus.

#include <QPlainTextEdit>
#include <QTimer>

namespace corvane {

class CaretEdit : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int caretWidth = 1;

    explicit CaretEdit(QWidget* parent = nullptr);

    // Where the caret is drawn now in viewport coordinates (empty while it is not drawn).
    QRect caretRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QRect caretAt() const;
    void showCaret();
    void blink();

    QTimer blink_;
    bool caretOn_ = false;
    QRect drawnAt_;
};

}  // namespace corvane
