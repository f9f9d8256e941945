#pragma once
// Finds out why other devices stay invisible: runs AppState's diagnostics
// when it opens without results, lists the findings (a progress row while a
// run has none yet), and manages the devices added by address. Only the
// address being typed is its own; Return adds nothing and Escape does nothing.
// Shown by the root window (AppState's showDiag) and by the settings sheet.

#include "views/sheet.h"

class QLineEdit;
class QScrollArea;
class QVBoxLayout;

namespace corvane {

class AppState;

class DiagSheet : public Sheet {
    Q_OBJECT

public:
    DiagSheet(AppState& state, QWidget* parent);

protected:
    void firstShown() override;

private:
    void showResults();
    void showManualPeers();
    void add();

    AppState& state_;
    QVBoxLayout* results_ = nullptr;
    QLineEdit* input_ = nullptr;
    QVBoxLayout* manualRows_ = nullptr;
    QPushButton* rerun_ = nullptr;
};

}  // namespace corvane
