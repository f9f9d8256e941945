#include "views/typed_text_edit.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace corvane {

namespace {

// The character format property of a line separator that stands for another
// separator: its value is the text it came as.
constexpr int kStandsFor = QTextFormat::UserProperty + 1;

// Text the editor's own typing would change: it breaks the paragraph at a carriage
// return and U+2029, and it would give a typed U+2028 the format of a line separator
// just before it.
bool needsOwnInsert(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
    });
}

QTextCharFormat plainFormat(QTextCharFormat format) {
    format.clearProperty(kStandsFor);
    return format;
}

// The separator the text has at that index as it came ("\r\n", "\r" or U+2029); empty when none.
QString separatorAt(const QString& text, qsizetype at) {
    if (text[at] == QChar::ParagraphSeparator) return QString(QChar::ParagraphSeparator);
    if (text[at] != u'\r') return {};
    return text.mid(at, 2) == QLatin1String("\r\n") ? QStringLiteral("\r\n") : QStringLiteral("\r");
}

// Replaces the cursor's selection with the text: a line feed becomes a paragraph
// break, every other character is kept as it is or as a line separator standing for it.
void insertKept(QTextCursor& cursor, const QString& text) {
    const QTextCharFormat plain = plainFormat(cursor.charFormat());
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size();) {
        const QString separator = separatorAt(text, i);
        if (separator.isEmpty()) {
            ++i;
            continue;
        }
        cursor.insertText(text.mid(start, i - start), plain);
        QTextCharFormat standing = plain;
        standing.setProperty(kStandsFor, separator);
        cursor.insertText(QString(QChar::LineSeparator), standing);
        i += separator.size();
        start = i;
    }
    cursor.insertText(text.mid(start), plain);
    cursor.endEditBlock();
}

QString asTyped(QString piece, const QTextCharFormat& format) {
    const QVariant standsFor = format.property(kStandsFor);
    if (standsFor.isValid()) piece.replace(QChar::LineSeparator, standsFor.toString());
    return piece;
}

// The text between two positions of the document as typed; paragraph breaks read as "\n".
QString typedBetween(const QTextDocument& document, int from, int to) {
    QString out;
    for (QTextBlock block = document.findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from) out += u'\n';
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = std::max(from, fragment.position());
            const int end = std::min(to, fragment.position() + fragment.length());
            if (start >= end) continue;
            out += asTyped(fragment.text().mid(start - fragment.position(), end - start), fragment.charFormat());
        }
    }
    return out;
}

}  // namespace

TypedTextEdit::TypedTextEdit(QWidget* parent) : CaretEdit(parent) {}

QString TypedTextEdit::typedText() const { return typedBetween(*document(), 0, document()->characterCount() - 1); }

void TypedTextEdit::setTypedText(const QString& text) {
    document()->setUndoRedoEnabled(false);  // drops the history, as a new text does
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    insertKept(cursor, text);
    document()->setUndoRedoEnabled(true);
    moveCursor(QTextCursor::Start);
}

void TypedTextEdit::insertTyped(const QString& text) {
    QTextCursor cursor = textCursor();
    insertKept(cursor, text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TypedTextEdit::insertBreak() {
    QTextCursor cursor = textCursor();
    cursor.insertBlock(cursor.blockFormat(), plainFormat(cursor.charFormat()));
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TypedTextEdit::keyPressEvent(QKeyEvent* event) {
    if (isReadOnly()) return CaretEdit::keyPressEvent(event);
    // Return and Shift+Return: the editor's own break (Shift+Return would be U+2028).
    if (event->matches(QKeySequence::InsertParagraphSeparator) || event->matches(QKeySequence::InsertLineSeparator)) {
        insertBreak();
        return;
    }
    const QString text = event->text();
    if (needsOwnInsert(text) && text.front().isPrint()) {
        insertTyped(text);
        return;
    }
    CaretEdit::keyPressEvent(event);
}

void TypedTextEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (isReadOnly() || !needsOwnInsert(commit) || !event->preeditString().isEmpty()) {
        return CaretEdit::inputMethodEvent(event);
    }
    // The editor applies the replacement; the committed text goes in as it came.
    QInputMethodEvent rest(QString(), event->attributes());
    rest.setCommitString(QString(), event->replacementStart(), event->replacementLength());
    CaretEdit::inputMethodEvent(&rest);
    insertTyped(commit);
}

void TypedTextEdit::insertFromMimeData(const QMimeData* source) {
    if (isReadOnly() || !source || !source->hasText()) return;
    insertTyped(source->text());
}

QMimeData* TypedTextEdit::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    auto* data = new QMimeData;
    data->setText(typedBetween(*document(), cursor.selectionStart(), cursor.selectionEnd()));
    return data;
}

}  // namespace corvane
