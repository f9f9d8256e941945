#pragma once
// The keyboard of every dialog (sheets, the chat window, alerts): Return or
// Enter presses the push button that has the keyboard focus, as Space does; with
// no button focused it presses the dialog's default button, if it has one. Check
// boxes and switches are not pressed by Return: they take Space, and Return goes
// on to the default button. A widget that takes Return itself (a text editor, a
// field that saves on Return) never lets the key get this far. The widget that
// holds the keyboard when a dialog opens is given it here too.

class QAbstractButton;
class QKeyEvent;
class QPushButton;
class QWidget;

namespace corvane {

// Return or Enter with no modifier (Enter of the keypad carries the keypad's).
bool isPlainReturn(const QKeyEvent* event);

// The button Return presses in the dialog: the focused push button (or tool button) if
// one of the dialog has the focus, else the default button when it is shown and enabled;
// null when neither.
QAbstractButton* buttonForReturn(const QWidget* dialog, QPushButton* defaultButton);

// Gives the widget the keyboard focus, now and once more after this turn of the event loop:
// a window just shown may still give its first Tab stop the focus as it becomes active.
void focusNowAndAfterShow(QWidget* widget);

// Handles a key that reached the dialog: a plain Return presses buttonForReturn (or nothing)
// and is accepted; whether it was Return.
bool pressForReturn(QWidget* dialog, QKeyEvent* event, QPushButton* defaultButton);

}  // namespace corvane
