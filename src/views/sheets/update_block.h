#pragma once
// The software-update section of the settings sheet: the running version, the
// updater's phase (status text, progress, the new version with its notes, or
// the failure in red) and its buttons: install, cancel, check and the download
// page. It redraws on every change of the phase, the newest version or the notes.
// A check's result (the newest version, none newer, or the failure) is told to a
// screen reader, and keys on "检查更新" stay there through the check.

#include <optional>

#include <QWidget>

#include "updater/update_phase.h"
#include "views/kept_keys.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

class Announcer;
class AppState;
class Updater;

class UpdateBlock : public QWidget {
    Q_OBJECT

public:
    UpdateBlock(AppState& state, Updater& updater, QWidget* parent = nullptr);

private:
    void showPhase();
    void tellResult(const UpdatePhase& phase);

    AppState& state_;
    Updater& updater_;
    QPushButton* install_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* check_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QWidget* newVersion_ = nullptr;
    QLabel* newVersionTitle_ = nullptr;
    QLabel* notes_ = nullptr;
    Announcer* announcer_ = nullptr;
    std::optional<KeptKeys> checkKeys_;
    // The phase last drawn: a result is told as the phase comes to it.
    std::optional<UpdatePhase::Kind> shownKind_;
};

}  // namespace corvane
