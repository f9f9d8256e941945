#pragma once
// Writes a text and sends it to any mix of recipients: this device ("local")
// and the listed devices. Text, read-once switch and recipients are AppState's
// textInput, burnMode and textTargets, so they outlast the sheet: only "取消"
// clears them, while the window's close keeps them. "发送" (also Return outside
// the editor, which keeps Return as a line break) calls sendText(), which
// closes the sheet when it has ended.

#include "views/sheet.h"

class QCheckBox;
class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace corvane {

class AppState;
class TypedTextEdit;

class TextSheet : public Sheet {
    Q_OBJECT

public:
    TextSheet(AppState& state, QWidget* parent);

    // min((n + 1) × 34 + 8, 132) for n listed devices.
    static int listHeight(size_t peerCount);

protected:
    void firstShown() override;

private:
    void buildRows();
    void showTargets();
    void showText();
    void showBurnMode();
    void showSendState();
    void choose(const std::string& key, bool chosen);
    void cancel();

    AppState& state_;
    QWidget* badge_ = nullptr;
    QScrollArea* list_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    QLabel* explain_ = nullptr;
    TypedTextEdit* editor_ = nullptr;
    QCheckBox* burnToggle_ = nullptr;
    QPushButton* onlyLocal_ = nullptr;
    QLabel* counter_ = nullptr;
    QPushButton* send_ = nullptr;
};

}  // namespace corvane
