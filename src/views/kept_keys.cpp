#include "views/kept_keys.h"

#include <QPushButton>

namespace corvane {

void KeptKeys::setEnabled(bool enabled) {
    if (enabled == button_->isEnabled()) return;
    if (!enabled) {
        held_ = button_->hasFocus();
        if (held_) button_->clearFocus();
        button_->setEnabled(false);
        return;
    }
    button_->setEnabled(true);
    if (held_ && button_->isVisible() && button_->window()->focusWidget() == nullptr) {
        button_->setFocus(Qt::OtherFocusReason);
    }
    held_ = false;
}

}  // namespace corvane
