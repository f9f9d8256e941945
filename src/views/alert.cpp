#include "views/alert.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "views/data_text.h"
#include "views/dialog_keys.h"
#include "views/text_prompt.h"
#include "views/theme.h"
#include "views/window_frame.h"

namespace corvane {

namespace {

const char* const kDestructive = "destructive";

}  // namespace

Alert::Alert(const QString& title, const QString& message, const QString& informative, QWidget* parent)
    : QMessageBox(parent) {
    closeButtonOnly(this);
    setWindowTitle(title);
    setIcon(QMessageBox::NoIcon);
    setTextFormat(Qt::PlainText);  // names and stored texts are data
    setText(message);
    setInformativeText(informative);
    auto* informativeLabel = findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (informativeLabel) informativeLabel->setTextFormat(Qt::PlainText);
    styleAlertTexts(findChild<QLabel*>(QStringLiteral("qt_msgbox_label")), informativeLabel);
}

QPushButton* Alert::added(QPushButton* button) {
    button->setAutoDefault(false);
    return button;
}

QPushButton* Alert::addAnswer(const QString& title) { return added(addButton(buttonTitle(title), AcceptRole)); }

QPushButton* Alert::addDestructive(const QString& title) {
    QPushButton* button = added(addButton(buttonTitle(title), DestructiveRole));
    button->setProperty(kDestructive, true);
    Theme::setTextColor(button, Theme::tint(Tint::red));
    return button;
}

QPushButton* Alert::addCancel(const QString& title) {
    QPushButton* button = added(addButton(buttonTitle(title), RejectRole));
    setEscapeButton(button);
    setDefaultButton(button);  // also gives it the focus
    return button;
}

bool Alert::isDestructive(const QPushButton* button) { return button->property(kDestructive).toBool(); }

void Alert::keyPressEvent(QKeyEvent* event) {
    if (pressForReturn(this, event, defaultButton())) return;
    QMessageBox::keyPressEvent(event);
}

}  // namespace corvane
