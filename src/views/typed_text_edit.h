#pragma once
// A plain-text editor whose text is what the user typed or pasted, character
// for character. QPlainTextEdit reads a no-break space as a space and U+2028
// and U+2029 as line feeds, and it cuts inserted text into paragraphs at every
// carriage return and U+2029. Here only the editor's own paragraph breaks
// (Return, Shift+Return) read as "\n". A carriage return, CR LF or U+2029 that
// comes in with the text stays in the document as a line separator that
// remembers what it stands for: it shows as a line break and reads back as it
// came. Copying out of the editor gives the same text. Its caret stands in the
// room before the character (CaretEdit).

#include "views/caret_edit.h"

namespace corvane {

class TypedTextEdit : public CaretEdit {
    Q_OBJECT

public:
    explicit TypedTextEdit(QWidget* parent = nullptr);

    // The whole text as typed.
    QString typedText() const;
    // Replaces the text, keeping every character as given; the undo history starts afresh.
    void setTypedText(const QString& text);
    // Inserts text at the cursor (replacing the selection), keeping every character.
    void insertTyped(const QString& text);
    // One of the editor's own paragraph breaks at the cursor.
    void insertBreak();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;
};

}  // namespace corvane
