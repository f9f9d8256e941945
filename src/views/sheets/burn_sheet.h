#pragma once
// Shows one received read-once note: its sender, a warning, the text (which
// can be selected), its size, "复制并关闭" and "关闭". Every way out ("关闭",
// Escape, the window's close, the delayed close after copying) discards the
// note on this device's server and closes it, but only while it is still the
// note AppState shows. Return does nothing.

#include "engine/model.h"
#include "views/sheet.h"

namespace corvane {

class AppState;

class BurnSheet : public Sheet {
    Q_OBJECT

public:
    BurnSheet(AppState& state, const BurnNote& note, QWidget* parent);

    void reject() override;

private:
    void copyAndClose();

    AppState& state_;
    BurnNote note_;
    QPushButton* copy_ = nullptr;
};

}  // namespace corvane
