#pragma once
// The question answered with one line of text (the alias and e-mail prompts),
// laid out as the alerts are: a window title naming the action, the message,
// a smaller informative line under it, a 260 × 24 field that holds the focus,
// then "cancel" and the confirm button, which Return presses. Escape cancels.

#include "app/app_environment.h"
#include "views/sheet.h"

class QLineEdit;

namespace corvane {

class TextPrompt : public Sheet {
    Q_OBJECT

public:
    static constexpr int width = 400;

    TextPrompt(const TextQuestion& question, QWidget* parent);

    QLineEdit* field() const { return field_; }

private:
    QLineEdit* field_ = nullptr;
};

// The two texts of an alert or prompt: the message, and the smaller informative line under it
// (either may be null).
void styleAlertTexts(QLabel* message, QLabel* informative);

}  // namespace corvane
