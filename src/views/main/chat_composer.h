#pragma once
// The chat window's message field: plain text kept as typed, one to five lines
// high (longer text scrolls inside). Return or Enter without Shift submits;
// Shift+Return breaks the line; an Enter that an input method takes to commit
// its composition never submits.

#include "views/typed_text_edit.h"

namespace corvane {

class ComposerEdit : public TypedTextEdit {
    Q_OBJECT

public:
    static constexpr int maxLines = 5;

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

}  // namespace corvane
