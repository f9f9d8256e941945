#pragma once
// An alert in the program's look: a window title, the message and the smaller
// informative line under it (plain text), its buttons, and no icon (the only
// ones Qt has are another style's). It keeps the keys of every dialog: Return
// presses the focused button, else the default one (dialog_keys.h); Escape
// presses the cancel button. No button is auto-default, so moving the focus
// never moves the default.
//
// An alert that removes something for good opens with the focus and the default
// on its cancel button, so neither Space nor Return right after it opens removes
// anything; the destructive button is drawn red, as a destructive menu item is.

#include <QMessageBox>

class QPushButton;

namespace corvane {

class Alert : public QMessageBox {
    Q_OBJECT

public:
    Alert(const QString& title, const QString& message, const QString& informative, QWidget* parent);

    // A button that answers the alert.
    QPushButton* addAnswer(const QString& title);
    // The button that removes something for good, drawn red.
    QPushButton* addDestructive(const QString& title);
    // The button that leaves everything as it was: the default, focused when the alert opens,
    // and pressed by Escape.
    QPushButton* addCancel(const QString& title);
    // Whether the button is drawn as the destructive one.
    static bool isDestructive(const QPushButton* button);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* added(QPushButton* button);
};

}  // namespace corvane
