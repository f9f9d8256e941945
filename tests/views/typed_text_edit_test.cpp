// The editor that keeps text as typed: a copy takes the selection out as it
// came in, and a line separator typed right after one that stands for a pasted
// carriage return stays a line separator.
#include <QClipboard>
#include <QTest>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace corvane
