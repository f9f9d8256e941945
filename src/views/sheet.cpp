#include "views/sheet.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "views/data_labels.h"
#include "views/data_text.h"

namespace corvane {

Sheet::Sheet(const QString& title, int width, int spacing, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    setFixedWidth(width);
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(padding, padding, padding, padding);
    column_->setSpacing(spacing);
}

void Sheet::refit() {
    if (!layout() || fixedHeight_) return;
    QLayout* content = layout();
    const int height =
        content->hasHeightForWidth() ? content->totalHeightForWidth(width()) : content->totalSizeHint().height();
    if (height > 0 && height != this->height()) setFixedHeight(height);
}

void Sheet::setFixedSheetHeight(int height) {
    fixedHeight_ = true;
    setFixedHeight(height);
}

void Sheet::setDefaultButton(QPushButton* button) {
    defaultButton_ = button;
    button->setAutoDefault(false);
    button->setDefault(true);
}

bool Sheet::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::LayoutRequest) refit();
    return handled;
}

void Sheet::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        if (escapeCloses_) reject();
        event->accept();
        return;
    }
    const bool plain = !event->modifiers() || (event->modifiers() & Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (defaultButton_ && defaultButton_->isVisible() && defaultButton_->isEnabled()) defaultButton_->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Sheet::showEvent(QShowEvent* event) {
    // Focus must never make another button the default one.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button != defaultButton_) button->setAutoDefault(false);
    }
    if (defaultButton_) defaultButton_->setDefault(true);
    QDialog::showEvent(event);
    refit();
    if (shownOnce_) return;
    shownOnce_ = true;
    if (initialFocus_) {
        initialFocus_->setFocus(Qt::OtherFocusReason);
        QTimer::singleShot(0, initialFocus_, [focus = initialFocus_] {
            if (focus) focus->setFocus(Qt::OtherFocusReason);
        });
    }
    firstShown();
}

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item->layout();
        delete item;
    }
}

QLabel* sheetLabel(const QString& text, double px, Weight weight, const QColor& color, bool wraps, QWidget* parent) {
    auto* label = new PlainLabel(text, parent);
    label->setFont(Theme::font(px, weight));
    Theme::setTextColor(label, color);
    label->setWordWrap(wraps);
    return label;
}

QLabel* sectionTitle(const QString& text, QWidget* parent) {
    return sheetLabel(text, 11.5, Weight::medium, Theme::secondary(), false, parent);
}

QLabel* helpLine(const QString& text, QWidget* parent) {
    return sheetLabel(text, 10, Weight::regular, Theme::tertiary(), true, parent);
}

QPushButton* sheetButton(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(buttonTitle(title), parent);
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QPushButton* prominentButton(const QString& title, const QColor& tint, QWidget* parent) {
    QPushButton* button = sheetButton(title, parent);
    button->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 5px;"
                                         " padding: 3px 14px; } QPushButton:pressed { background: %2; }")
                              .arg(tint.name(), tint.darker(120).name()));
    return button;
}

QPushButton* linkButton(const QString& title, double px, QWidget* parent) {
    auto* button = new QPushButton(buttonTitle(title), parent);
    button->setAutoDefault(false);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(Theme::font(px));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const QColor accent = Theme::tint(Tint::accent);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px 2px; background: transparent; color: %1; }")
                              .arg(accent.name()));
    return button;
}

}  // namespace corvane
