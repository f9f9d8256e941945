// A dialog that hides closes its own popups only: a menu of the main window stays open.
#include <QAbstractItemView>
#include <QCompleter>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "views/window_focus.h"

namespace corvane {
namespace {

TEST(WindowFocus, aDialogOwnsTheMenusOfItsWidgetsAndItsCompleterListsOnly) {
    QWidget main;
    auto* mainButton = new QPushButton(QStringLiteral("更多"), &main);
    QDialog dialog(&main);
    auto* field = new QLineEdit(&dialog);
    auto* completer = new QCompleter(new QStringListModel({QStringLiteral("/tmp/a")}, &dialog), &dialog);
    field->setCompleter(completer);
    auto* dialogButton = new QPushButton(QStringLiteral("发送"), &dialog);
    QDialog other(&main);

    QMenu mainMenu(mainButton);
    QMenu dialogMenu(dialogButton);
    QMenu loose;
    const struct {
        const char* what;
        const QWidget* popup;
        const QWidget* dialog;
        bool owned;
    } cases[] = {
        {"a menu of a button in the dialog", &dialogMenu, &dialog, true},
        {"the completer list of a field in the dialog", completer->popup(), &dialog, true},
        {"a menu of the main window", &mainMenu, &dialog, false},
        {"a menu of nothing", &loose, &dialog, false},
        {"the completer list, for another dialog", completer->popup(), &other, false},
        {"a menu of the dialog, for the main window's own dialog", &dialogMenu, &other, false},
    };
    for (const auto& c : cases) EXPECT_EQ(popupOf(c.popup, c.dialog), c.owned) << c.what;
}

}  // namespace
}  // namespace corvane
