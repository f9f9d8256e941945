#pragma once
// Where the keys go between windows, as a screen reader hears it.
//
// A dialog closed while a popup of it still shows (the file picker's completer list,
// which Return on the list leaves open until the picker is deleted) leaves Qt in popup
// mode; the window the window manager activates meanwhile is then never made active, and
// the keys are lost until it is minimised and restored. Whether the window manager's
// activation comes before the popup goes depends on how fast the program answers, and a
// screen reader asking about every event slows it enough. So a dialog that hides closes
// the popups still open, before the window behind it can be activated.
//
// A scroll area's viewport (a text editor's, a list's) takes its scroll area as focus proxy,
// so it would report "focused" beside the control that holds the keys: over accessibility it
// reports only what is true of the viewport itself. And each move of the keys is told as one
// focus event, for what took them (a list's row, not the row and then the list).

class QApplication;

namespace corvane {

// Installs all three on the application: the popups closed with their dialog, the viewports'
// accessibility and the one focus event. Once per process, before the first window.
void keepWindowFocusWhole(QApplication& app);

}  // namespace corvane
