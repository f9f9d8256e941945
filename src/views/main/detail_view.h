#pragma once
// The right-hand pane of the main window: header, divider, drop zone, the
// file area, and at the bottom the two panel slots.
//
// Panel slots: receivePanelSlot() and queuePanelSlot() are empty widgets with
// a vertical layout and no margins, each below a divider of its own. The pane
// shows a slot and its divider only while AppState has receive tasks
// (recvTasks) or the send queue has tasks (uploader().tasks()); the receive
// panel and the queue panel fill them and need no visibility logic of their own.
//
// The settings sheet is presented from the pane's own flag (the gear sets it;
// however the sheet closes, the flag goes back to false).

#include <QDialog>
#include <QPointer>
#include <QWidget>

namespace corvane {

class AppState;
class DetailHeader;
class DropZone;
class FileArea;
class Rule;
class Updater;

class DetailView : public QWidget {
    Q_OBJECT

public:
    explicit DetailView(AppState& state, QWidget* parent = nullptr);

    DetailHeader* header() const { return header_; }
    DropZone* dropZone() const { return dropZone_; }
    FileArea* fileArea() const { return fileArea_; }
    QWidget* receivePanelSlot() const { return receiveSlot_; }
    QWidget* queuePanelSlot() const { return queueSlot_; }

    bool showSettings() const { return showSettings_; }
    void setShowSettings(bool on);
    QDialog* settingsSheet() const { return settings_; }

    // The settings sheet, built with the updater it observes.
    static QDialog* makeSettingsSheet(AppState& state, Updater& updater, QWidget* parent);

private:
    void showPanels();

    AppState& state_;
    DetailHeader* header_ = nullptr;
    DropZone* dropZone_ = nullptr;
    FileArea* fileArea_ = nullptr;
    Rule* receiveRule_ = nullptr;
    QWidget* receiveSlot_ = nullptr;
    Rule* queueRule_ = nullptr;
    QWidget* queueSlot_ = nullptr;
    bool showSettings_ = false;
    QPointer<QDialog> settings_;
};

}  // namespace corvane
