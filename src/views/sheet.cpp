#include "views/sheet.h"

#include <algorithm>

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "views/controls.h"
#include "views/data_labels.h"
#include "views/data_text.h"
#include "views/dialog_keys.h"
#include "views/screen_fit.h"
#include "views/sheet_edge.h"
#include "views/window_frame.h"

namespace corvane {

namespace {

// The scroll area of a scrolling body: it asks for the whole height of its content at its
// width, and takes less when the sheet has less room.
class BodyScroll : public QScrollArea {
public:
    explicit BodyScroll(QWidget* parent) : QScrollArea(parent) {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFocusPolicy(Qt::NoFocus);  // Tab goes to the controls inside
        keepFocusInView(this);
    }

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override {
        const QWidget* content = widget();
        if (!content) return 0;
        return content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
    }

    QSize sizeHint() const override {
        const QWidget* content = widget();
        const int width = content ? content->sizeHint().width() : 0;
        return {width, heightForWidth(width)};
    }

    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The content's new height reaches the sheet, which fits itself to it.
        if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }
};

}  // namespace

Sheet::Sheet(const QString& title, int width, int spacing, QWidget* parent) : QDialog(parent) {
    closeButtonOnly(this);
    setWindowTitle(title);
    setFixedWidth(width);
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(padding, padding, padding, padding);
    column_->setSpacing(spacing);
    new SheetEdge(this);
    // Framed by a window manager, the sheet has less room and its title bar must lie on the screen too.
    whenExposed(this, [this] { refit(); });
}

void Sheet::refit() {
    if (!layout()) return;
    if (fixedHeight_) {
        setFixedHeight(std::min(*fixedHeight_, room()));
    } else {
        QLayout* content = layout();
        int height =
            content->hasHeightForWidth() ? content->totalHeightForWidth(width()) : content->totalSizeHint().height();
        if (bodyScroll_) height = std::min(height, room());
        if (height > 0 && height != this->height()) setFixedHeight(height);
    }
    // A sheet that grew past the screen's bottom moves up.
    if (isVisible()) keepOnScreen(this);
}

int Sheet::room() const {
    if (room_) return *room_;
    const QScreen* shownOn = screen();
    if (!shownOn) return QWIDGETSIZE_MAX;
    // The window manager's title bar and border, known once the sheet is framed.
    const int frame = std::max(0, frameGeometry().height() - geometry().height());
    return shownOn->availableGeometry().height() - frame;
}

QVBoxLayout* Sheet::scrollingBody() {
    // The body reaches the sheet's edges, so its scroll bar stands at the edge, not in the content.
    column_->setContentsMargins(0, 0, 0, padding);
    bodyScroll_ = new BodyScroll(this);
    bodyScroll_->setObjectName(QStringLiteral("sheetBody"));
    auto* content = new QWidget(bodyScroll_);
    auto* body = new QVBoxLayout(content);
    body->setContentsMargins(padding, padding, padding, 0);
    body->setSpacing(column_->spacing());
    bodyScroll_->setWidget(content);
    column_->addWidget(bodyScroll_, 1);
    footer_ = new QVBoxLayout();
    footer_->setContentsMargins(padding, 0, padding, 0);
    footer_->setSpacing(column_->spacing());
    column_->addLayout(footer_);
    return body;
}

void Sheet::setFixedSheetHeight(int height) {
    fixedHeight_ = height;
    refit();
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
    if (pressForReturn(this, event, defaultButton_)) return;
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
    // Qt placed the sheet before its height was known: centred again, and wholly on the screen.
    if (!event->spontaneous()) placeOverParent(this);
    if (shownOnce_) return;
    shownOnce_ = true;
    if (initialFocus_) focusNowAndAfterShow(initialFocus_);
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
