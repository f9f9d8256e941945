#pragma once
// Asks for the access PIN of a device that protects itself with one. The
// field is AppState's pinInput (visible, never masked); "连接" (also Return)
// confirms it, "取消" (also the window's close) closes the prompt. Nothing is
// checked here: AppState stores the PIN and switches to the device.

#include "engine/model.h"
#include "views/sheet.h"

class QLineEdit;

namespace corvane {

class AppState;

class PINSheet : public Sheet {
    Q_OBJECT

public:
    PINSheet(AppState& state, const Peer& peer, QWidget* parent);

private:
    void showPinInput();

    AppState& state_;
    QLineEdit* field_ = nullptr;
};

}  // namespace corvane
