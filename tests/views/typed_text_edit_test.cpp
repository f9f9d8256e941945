// The editor that keeps text as typed: a copy takes the selection out as it
// came in, a line separator typed right after one that stands for a pasted
// carriage return stays a line separator, and the caret stands before the
// first character rather than on it.
#include <QApplication>
#include <QClipboard>
#include <QTest>

#include <gtest/gtest.h>

#include "support/qt_wait.h"
#include "views/main/chat_composer.h"
#include "views/pixel_probes.h"
#include "views/sheets/feedback_sheet.h"
#include "views/typed_text_edit.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

TEST(TypedTextEdit, copyingGivesTheSelectionAsTyped) {
    TypedTextEdit edit;
    edit.setTypedText(QString::fromUtf8("前\u00a0a\r\nb\u2029c\n后"));
    QTextCursor selection = edit.textCursor();
    selection.setPosition(1);
    selection.setPosition(8, QTextCursor::KeepAnchor);  // up to "后": the separators count one each
    edit.setTextCursor(selection);
    QTest::keySequence(&edit, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "\u00a0a\r\nb\u2029c\n");
}

TEST(TypedTextEdit, aLineSeparatorTypedAfterAPastedReturnStaysItself) {
    TypedTextEdit edit;
    test::enterText(&edit, QStringLiteral("x\r"), test::Entry::pasted);
    test::enterText(&edit, QString(QChar::LineSeparator) + QStringLiteral("y"), test::Entry::typed);
    EXPECT_EQ(edit.typedText().toStdString(), "x\r\u2028y");
}

// The columns the caret takes (dark where the focused editor differs from the unfocused one)
// and the first column of the text's ink, in the editor's own coordinates.
struct CaretAndText {
    std::vector<std::pair<int, int>> caret;
    int textStart = -1;
};

CaretAndText caretBeforeText(QPlainTextEdit* editor) {
    editor->setFocus();
    const QImage focused = test::rendered(editor);
    editor->clearFocus();
    const QImage plain = test::rendered(editor);
    QImage changed(plain.size(), QImage::Format_RGB32);
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            const QRgb pixel = focused.pixel(x, y);
            const bool caret = pixel != plain.pixel(x, y) && qGray(pixel) < 128 && !test::isAccent(pixel);
            changed.setPixel(x, y, caret ? 0 : ~0u);
        }
    }
    CaretAndText found;
    found.caret = test::inkRuns(changed, changed.rect(), [](QRgb pixel) { return qGray(pixel) < 128; });
    const auto text = test::inkRuns(plain, plain.rect().adjusted(2, 2, -2, -2), [](QRgb pixel) { return qGray(pixel) < 200; });
    if (!text.empty()) found.textStart = text.front().first;
    return found;
}

TEST(TypedTextEdit, theCaretStandsInTheRoomBeforeTheFirstCharacterOrThePlaceholder) {
    FeedbackSheet sheet(nullptr, nullptr);
    sheet.show();
    QApplication::setActiveWindow(&sheet);
    ASSERT_TRUE(test::qtWaitFor([&] { return sheet.isActiveWindow(); }));
    auto* feedback = sheet.findChild<TypedTextEdit*>(QStringLiteral("feedbackText"));
    ASSERT_NE(feedback, nullptr);
    auto* composer = new ComposerEdit(&sheet);
    composer->setObjectName(QStringLiteral("composer"));
    composer->setPlaceholderText(QStringLiteral("输入消息，Enter 发送"));
    composer->setGeometry(20, 20, 300, composer->height());
    composer->show();
    for (const QString& text : {QString(), QStringLiteral("拖一个很大的文件")}) {
        for (QPlainTextEdit* editor : {static_cast<QPlainTextEdit*>(feedback), static_cast<QPlainTextEdit*>(composer)}) {
            if (text.isEmpty() && editor->placeholderText().isEmpty()) continue;
            editor->setPlainText(text);
            const CaretAndText seen = caretBeforeText(editor);
            const std::string name = editor->objectName().toStdString() + " \"" + text.toStdString() + "\"";
            ASSERT_EQ(seen.caret.size(), 1u) << name;
            ASSERT_GE(seen.textStart, 0) << name;
            EXPECT_GE(seen.caret.front().first, 1) << name << ": the caret is off the editor's edge";
            EXPECT_LE(seen.caret.front().second, seen.textStart - 2) << name << ": the caret is clear of the text";
        }
    }
}

}  // namespace
}  // namespace corvane
