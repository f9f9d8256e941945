#pragma once
// The settings: this device's name, the receive folder, the storage device in
// team mode, discovery and the diagnostics, team mode on or off, the mode in
// force, software updates, feedback and "完成" (also Return). Only the name
// being typed and whether its diagnostics sheet shows are its own; everything
// else follows AppState and the Updater, and every control writes AppState
// on the user's action only.
//
// The detail pane's settings factory makes it with one line:
//     return new SettingsSheet(state, updater, parent);

#include <optional>

#include <QPointer>

#include "views/sheet.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace corvane {

class AppState;
class DiagSheet;
class ElidedComboBox;
class ElidedLabel;
class Updater;

class SettingsSheet : public Sheet {
    Q_OBJECT

public:
    // The sheet belongs to the window of parent, so sheets raised over it stack on it. Its
    // room is its screen's available height unless one is given.
    SettingsSheet(AppState& state, Updater& updater, QWidget* parent, std::optional<int> room = std::nullopt);

    // The diagnostics sheet it shows, or null.
    DiagSheet* diagSheet() const;

protected:
    void firstShown() override;

private:
    QLayout* nameSection();
    QLayout* storageSection();
    QLayout* destinationSection();
    QLayout* networkSection();
    QLayout* featuresSection();
    QLayout* modeSection();
    QLayout* feedbackRow();

    void showNameState();
    void showCenterPicker();
    void showMode();
    void showDiscovery();
    void chooseCenter(int index);
    void openDiagnostics();

    AppState& state_;
    Updater& updater_;
    QLineEdit* nameField_ = nullptr;
    QPushButton* nameSave_ = nullptr;
    ElidedLabel* rootPath_ = nullptr;
    QWidget* pickerRow_ = nullptr;
    ElidedComboBox* picker_ = nullptr;
    QLabel* destHelp_ = nullptr;
    QLabel* discovery_ = nullptr;
    QCheckBox* nasToggle_ = nullptr;
    QLabel* nasHelp_ = nullptr;
    QLabel* modeText_ = nullptr;
    QPointer<DiagSheet> diag_;
};

}  // namespace corvane
