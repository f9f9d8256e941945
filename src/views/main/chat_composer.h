#pragma once
// The chat window's message field: plain text kept as typed, one to five lines
// high (longer text scrolls inside). Return or Enter without Shift submits;
// Shift+Return breaks the line; an Enter that an input method takes to commit
// its composition never submits. Beside it, the read-once switch.

#include <QPixmap>
#include <QPushButton>

#include "views/typed_text_edit.h"

namespace corvane {

class ComposerEdit : public TypedTextEdit {
    Q_OBJECT

public:
    static constexpr int maxLines = 5;
    // Room around the text inside the editor: the caret stands in it before the first character.
    static constexpr int textMargin = 3;

    explicit ComposerEdit(QWidget* parent = nullptr);

    // The lines shown now (1 to 5).
    int shownLines() const { return lines_; }

Q_SIGNALS:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void fitHeight();

    bool composing_ = false;
    int lines_ = 1;
};

// The read-once switch: a checkable button whose 🔥 is drawn 11 px tall and its
// title at 11.5 px, 4 px after it. Its text stays "🔥 " + the title, which is
// what assistive technology reads.
class BurnToggle : public QPushButton {
    Q_OBJECT

public:
    static constexpr double iconPx = 11;
    static constexpr double titlePx = 11.5;
    static constexpr int gap = 4;

    explicit BurnToggle(QWidget* parent = nullptr);

    // The text after the icon, and the icon as drawn.
    QString title() const;
    QPixmap icon() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize contentSize() const;

    mutable QPixmap icon_;
    mutable qreal iconRatio_ = 0;
};

}  // namespace corvane
