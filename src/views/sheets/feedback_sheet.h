#pragma once
// The feedback sheet: a category, a text and an optional contact, sent in one
// step through the FeedbackSubmitter on a thread of its own. Success thanks the
// user and closes the sheet 1.1 s later; a failure shows the submitter's text
// in red and keeps what was typed. Either result is told to a screen reader; keys
// that were on "提交" while it was disabled come back to it. The categories read
// as one choice of radio buttons, the arrows moving the choice. It has no AppState: the host builds it with
// the submitter. Closing it never stops a request in flight; a result for a
// closed sheet is dropped.

#include <memory>
#include <optional>

#include "views/kept_keys.h"
#include "views/sheet.h"

class QButtonGroup;
class QLabel;
class QLineEdit;

namespace corvane {

class FeedbackSubmitter;
class Outcome;
class Announcer;
class TypedTextEdit;

class FeedbackSheet : public Sheet {
    Q_OBJECT

public:
    // The categories' raw values: the button titles and the "kind" sent, in picker order.
    static const QStringList kinds;
    static constexpr int closeDelayMs = 1100;

    FeedbackSheet(std::shared_ptr<const FeedbackSubmitter> submitter, QWidget* parent);

    // The submit action ("提交" or Return): refuses a text under two characters, else sends it.
    void send();
    Announcer* announcer() const { return announcer_; }

private:
    QWidget* makeForm();
    QWidget* makeThanks();
    void updateSubmit();
    void showMessage(const QString& text);
    void finish(const Outcome& outcome);

    std::shared_ptr<const FeedbackSubmitter> submitter_;
    QButtonGroup* kind_ = nullptr;
    TypedTextEdit* text_ = nullptr;
    QLineEdit* contact_ = nullptr;
    QLabel* msg_ = nullptr;
    QPushButton* submit_ = nullptr;
    QWidget* form_ = nullptr;
    QWidget* thanks_ = nullptr;
    Announcer* announcer_ = nullptr;
    // "提交" disabled while it sends keeps the keys it had.
    std::optional<KeptKeys> submitKeys_;
    bool sending_ = false;
};

}  // namespace corvane
