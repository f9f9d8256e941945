#include "views/controls.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionMenuItem>
#include <QTextDocument>

#include "views/app_style.h"
#include "views/data_text.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

QString rgba(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alphaF());
}

}  // namespace

QPushButton* smallButton(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(buttonTitle(title), parent);
    button->setFont(Theme::font(11));
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

namespace {

// Sized and framed by the style as a plain push button; only the fill and the title's colour
// are its own.
class FilledButton : public QPushButton {
public:
    FilledButton(const QString& title, const QColor& tint, QWidget* parent) : QPushButton(title, parent), tint_(tint) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) painter.setOpacity(0.5);
        // The frame's place inside the room the style keeps round it for the ring.
        constexpr int ring = AppStyle::focusRing;
        const QRectF frame = QRectF(rect()).adjusted(ring, ring - 1, -(ring - 1), -ring);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isDown() ? tint_.darker(120) : tint_);
        painter.drawRoundedRect(frame, 4, 4);
        painter.setPen(Qt::white);
        painter.setFont(font());
        painter.drawText(frame, Qt::AlignCenter | Qt::TextShowMnemonic, text());
        painter.setOpacity(1);
        if (AppStyle::showsFocus(this)) AppStyle::drawFocusRing(&painter, rect(), 5);
    }

private:
    QColor tint_;
};

}  // namespace

QPushButton* filledSmallButton(const QString& title, const QColor& tint, QWidget* parent) {
    QPushButton* button = new FilledButton(buttonTitle(title), tint, parent);
    button->setFont(Theme::font(11));
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

void setUpRowList(QListView* list) {
    list->setFrameShape(QFrame::NoFrame);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFocusPolicy(Qt::NoFocus);
    list->setMouseTracking(true);
    list->viewport()->setAttribute(Qt::WA_Hover);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

namespace {

// Room kept round a focused control: its ring and a little air.
constexpr int kFocusViewMargin = 6;

void showFocused(QScrollArea* area, QWidget* focused) {
    QWidget* content = area->widget();
    if (!content || !focused || !content->isAncestorOf(focused)) return;
    QRect inContent(focused->mapTo(content, QPoint(0, 0)), focused->size());
    // A list that holds the keys shows the row that has them.
    const auto* list = qobject_cast<QAbstractItemView*>(focused);
    if (list && list->currentIndex().isValid()) {
        const QRect row = list->visualRect(list->currentIndex());
        inContent = QRect(list->viewport()->mapTo(content, row.topLeft()), row.size());
    }
    const QRect wanted = inContent.adjusted(-kFocusViewMargin, -kFocusViewMargin, kFocusViewMargin, kFocusViewMargin);
    const QRect viewport = area->viewport()->rect();
    QScrollBar* bar = area->verticalScrollBar();
    const int top = bar->value();
    int value = top;
    if (wanted.height() > viewport.height() || wanted.top() < top) {
        value = wanted.top();
    } else if (wanted.bottom() > top + viewport.height() - 1) {
        value = wanted.bottom() - viewport.height() + 1;
    }
    bar->setValue(value);
}

}  // namespace

void keepFocusInView(QScrollArea* area) {
    QObject::connect(qApp, &QApplication::focusChanged, area,
                     [area](QWidget*, QWidget* now) { showFocused(area, now); });
}

void setUpTextBox(QPlainTextEdit* box, const QColor& fill, const QColor& stroke, int radius, int inset) {
    constexpr int kStroke = 1;
    // Focus turns the stroke to the accent colour, as a focused one-line field's frame.
    box->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; border: %2px solid %3; border-radius: %4px; "
                                      "padding: 0; } QPlainTextEdit:focus { border-color: %5; }")
                           .arg(rgba(fill))
                           .arg(kStroke)
                           .arg(rgba(stroke))
                           .arg(radius)
                           .arg(Theme::tint(Tint::accent).name()));
    box->document()->setDocumentMargin(inset - kStroke);
}

namespace {

QLabel* styledLabel(QLabel* label, double px, const QColor& color, Weight weight) {
    label->setTextFormat(Qt::PlainText);
    label->setFont(Theme::font(px, weight));
    Theme::setTextColor(label, color);
    return label;
}

}  // namespace

QLabel* textLabel(const QString& text, double px, const QColor& color, QWidget* parent, Weight weight) {
    return styledLabel(new QLabel(text, parent), px, color, weight);
}

QLabel* fixedTextLabel(const QString& text, double px, const QColor& color, QWidget* parent, Weight weight) {
    return styledLabel(new FixedTextLabel(text, parent), px, color, weight);
}

FixedTextLabel::Sizes FixedTextLabel::measured() const {
    static QHash<QString, Sizes> known;
    const QString key = font().key() + QLatin1Char('\n') + text();
    const auto found = known.constFind(key);
    if (found != known.cend()) return *found;
    const Sizes sizes{QLabel::sizeHint(), QLabel::minimumSizeHint()};
    known.insert(key, sizes);
    return sizes;
}

QSize FixedTextLabel::sizeHint() const { return measured().hint; }

QSize FixedTextLabel::minimumSizeHint() const { return measured().minimum; }

QPushButton* plainButton(const QString& title, double px, const QColor& color, QWidget* parent, bool medium) {
    auto* button = new QPushButton(buttonTitle(title), parent);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(Theme::font(px, medium ? Weight::medium : Weight::regular));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 0; background: transparent; color: rgba(%1, %2, %3, %4); }")
            .arg(color.red())
            .arg(color.green())
            .arg(color.blue())
            .arg(color.alphaF()));
    return button;
}

SymbolButton::SymbolButton(const std::string& symbol, double px, const QString& help, QWidget* parent)
    : QPushButton(parent) {
    setFlat(true);
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
    setFont(Symbols::font(px));
    setColor(Theme::primary());
    setSymbol(symbol);
    setHelp(help);
}

void SymbolButton::setSymbol(const std::string& symbol) {
    symbol_ = QString::fromStdString(symbol);
    setText(Symbols::glyph(symbol));
}

void SymbolButton::setHelp(const QString& help) {
    setToolTip(help);
    setAccessibleName(help);
}

void SymbolButton::setColor(const QColor& color) {
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 2px; background: transparent; color: rgba(%1, %2, %3, %4); }")
                      .arg(color.red())
                      .arg(color.green())
                      .arg(color.blue())
                      .arg(color.alphaF()));
}

SymbolTextButton::SymbolTextButton(const std::string& symbol, double symbolPx, const QString& title, double textPx,
                                   const QColor& color, QWidget* parent)
    : QPushButton(parent), symbolPx_(symbolPx), color_(color) {
    setFlat(true);
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
    setFont(Theme::font(textPx));
    const int side = Symbols::iconSide(symbolPx);
    setIconSize(QSize(side, side));
    setTitle(title);
    setSymbol(symbol);
    restyle();
}

void SymbolTextButton::setSymbol(const std::string& symbol) {
    symbol_ = QString::fromStdString(symbol);
    setIcon(Symbols::icon(symbol, symbolPx_, color_));
}

void SymbolTextButton::setTitle(const QString& title) { setText(buttonTitle(title)); }

void SymbolTextButton::setColors(const QColor& color, const QColor& fill, int radius) {
    color_ = color;
    fill_ = fill;
    radius_ = radius;
    setIcon(Symbols::icon(symbol_.toStdString(), symbolPx_, color_));
    restyle();
}

void SymbolTextButton::setPadding(int horizontal, int vertical) {
    padH_ = horizontal;
    padV_ = vertical;
    restyle();
}

void SymbolTextButton::restyle() {
    setStyleSheet(QStringLiteral("QPushButton { border: none; text-align: left; padding: %1px %2px; "
                                 "background: %3; border-radius: %4px; color: %5; }")
                      .arg(padV_)
                      .arg(padH_)
                      .arg(rgba(fill_))
                      .arg(radius_)
                      .arg(rgba(color_)));
}

namespace {

const char* const kDestructive = "destructive";

}  // namespace

void popupFromKeys(QMenu* menu, const QPoint& at) {
    menu->popup(at);
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || !action->isVisible() || !action->isEnabled()) continue;
        menu->setActiveAction(action);
        // As a key does: the menu holds the keys, and they go back with a focus event on close.
        menu->setFocus(Qt::PopupFocusReason);
        return;
    }
}

void RoleMenu::markDestructive(QAction* action) { action->setProperty(kDestructive, true); }

bool RoleMenu::isDestructive(const QAction* action) { return action->property(kDestructive).toBool(); }

void RoleMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
    if (!isDestructive(action) || !action->isEnabled()) return;
    const QColor red = Theme::tint(Tint::red);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText}) {
            option->palette.setColor(group, role, red);
        }
    }
}

FieldFrame::FieldFrame(const QColor& fill, double radius, QWidget* parent)
    : QWidget(parent), fill_(fill), radius_(radius) {}

void FieldFrame::setField(QWidget* field) {
    field_ = field;
    field->installEventFilter(this);
}

bool FieldFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) update();
    return QWidget::eventFilter(watched, event);
}

void FieldFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(field_ && field_->hasFocus() ? QPen(Theme::tint(Tint::accent), 1) : QPen(Qt::NoPen));
    painter.setBrush(fill_);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
}

Rule::Rule(Qt::Orientation orientation, QWidget* parent, double opacity) : QWidget(parent), opacity_(opacity) {
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
}

QColor Rule::color() const { return Theme::primary(0.1 * opacity_); }

void Rule::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), color());
}

}  // namespace corvane
