#pragma once
// The software-update section of the settings sheet: the running version, the
// updater's phase (status text, progress, the new version with its notes, or
// the failure in red) and its buttons: install, cancel, check and the download
// page. It keeps nothing of its own and redraws on every change of the phase,
// the newest version or the notes.

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

class AppState;
class Updater;

class UpdateBlock : public QWidget {
    Q_OBJECT

public:
    UpdateBlock(AppState& state, Updater& updater, QWidget* parent = nullptr);

private:
    void showPhase();

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
};

}  // namespace corvane
