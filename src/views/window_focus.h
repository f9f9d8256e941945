#pragma once
// Where the keys go between windows, as a screen reader hears it.
//
// A dialog closed while a popup of it still shows (the file picker's completer list,
// which Return on the list leaves open until the picker is deleted) leaves Qt in popup
// mode; the window the window manager activates meanwhile is then never made active, and
// the keys are lost until it is minimised and restored. Whether the window manager's
// activation comes before the popup goes depends on how fast the program answers, and a
// screen reader asking about every event slows it enough. So a dialog that hides closes
// its own popups still open (a menu of another window stays), before the window behind it
// can be activated. Without a window manager nothing activates that window: it takes the
// input focus itself once the dialog is gone.
//
// A scroll area's viewport (a text editor's, a list's) takes its scroll area as focus proxy,
// and a dialog's button box its first button, so either would report "focused" beside the
// control that holds the keys: over accessibility they report no focus of their own. And
// each move of the keys is told as one focus event, for what took them (a list's row, not the
// row and then the list); a row the keys come back to from outside the program is told again,
// and a control that gives them up to nothing, or one in a window not shown yet, is not. Only
// a real change of the active window is told: not the window behind a menu or a dialog as it
// opens.

class QApplication;
class QWidget;

namespace corvane {

// Whether the popup belongs to the dialog: made by it or by one of its widgets (a completer's
// list, whose keys go to the field it completes, counts as the field's).
bool popupOf(const QWidget* popup, const QWidget* dialog);

// Installs all of it on the application: the popups closed and the focus given back with their
// dialog, the viewports' accessibility and the one focus event. Once per process, before the
// first window.
void keepWindowFocusWhole(QApplication& app);

}  // namespace corvane
