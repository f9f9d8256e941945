#pragma once
// Small controls every view draws the same way: the small push button, the
// borderless symbol button and the hairline rule.

#include <string>

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QWidget>

#include "views/theme.h"

class QListView;
class QPlainTextEdit;
class QScrollArea;

namespace corvane {

// A push button of the small control size (11 px text); the title is data-safe ("&" stays).
QPushButton* smallButton(const QString& title, QWidget* parent = nullptr);

// A small button in the prominent style: filled with the tint, its title in white, of the same
// size, frame and focus ring as the plain small button beside it.
QPushButton* filledSmallButton(const QString& title, const QColor& tint, QWidget* parent = nullptr);

// A list view whose rows a delegate paints: no frame, no selection, no focus,
// hover tracked, scrolling by pixel, never sideways.
void setUpRowList(QListView* list);

// A scroll area that holds controls keeps the one with the keyboard focus in view, however the
// focus got there (Tab from outside the area, Tab round from the last stop, Shift+Tab, a
// mnemonic): it scrolls the least that shows the control whole with its focus ring, or its
// top when it is taller than the area; of a list holding the keys, the row that has them.
void keepFocusInView(QScrollArea* area);

// A multi-line text box: a fill, a 1 px stroke inside its rounded edge, and the text starting
// `inset` px inside that edge. The room around the text is the document's own margin, inside the
// scrolling area, so the scroll bar lies over that room rather than over the text.
void setUpTextBox(QPlainTextEdit* box, const QColor& fill, const QColor& stroke, int radius, int inset);

// A label of a fixed text (never read as markup) in one size, weight and colour.
QLabel* textLabel(const QString& text, double px, const QColor& color, QWidget* parent, Weight weight = Weight::regular);

// One line of text given by the code (an emoji, a short note), no margins: its
// sizes are measured once per text and font in the process. Colour emoji are
// otherwise measured again by every label, each time decoding the glyph's
// bitmap, which rows repeated a few hundred times cannot afford.
class FixedTextLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    struct Sizes {
        QSize hint;
        QSize minimum;
    };
    Sizes measured() const;
};

// textLabel as a FixedTextLabel.
QLabel* fixedTextLabel(const QString& text, double px, const QColor& color, QWidget* parent,
                       Weight weight = Weight::regular);

// A borderless text button (the plain style): only its title, in one colour; never auto-default.
QPushButton* plainButton(const QString& title, double px, const QColor& color, QWidget* parent = nullptr,
                         bool medium = false);

// A borderless button showing one symbol. It has no visible text, so its
// accessible name is its help text (also its tooltip).
class SymbolButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol)

public:
    SymbolButton(const std::string& symbol, double px, const QString& help, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    void setSymbol(const std::string& symbol);
    void setHelp(const QString& help);
    void setColor(const QColor& color);

private:
    QString symbol_;
};

// A borderless button showing a symbol before its text, left-aligned, in one
// colour; its accessible name is the text. The title is data-safe ("&" stays).
class SymbolTextButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol)

public:
    SymbolTextButton(const std::string& symbol, double symbolPx, const QString& title, double textPx,
                     const QColor& color, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    void setSymbol(const std::string& symbol);
    void setTitle(const QString& title);
    // Text and symbol colour, and the fill behind them (clear by default; a capsule when rounded).
    void setColors(const QColor& color, const QColor& fill = Qt::transparent, int radius = 0);
    // Inner room around icon and text.
    void setPadding(int horizontal, int vertical);

private:
    void restyle();

    QString symbol_;
    double symbolPx_;
    QColor color_;
    QColor fill_ = Qt::transparent;
    int radius_ = 0;
    int padH_ = 0;
    int padV_ = 0;
};

// A menu that draws the items marked destructive (markDestructive) in red, as the platform
// draws an action that removes something for good; a highlighted item keeps the highlight's text.
class RoleMenu : public QMenu {
    Q_OBJECT

public:
    using QMenu::QMenu;

    static void markDestructive(QAction* action);
    static bool isDestructive(const QAction* action);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};

// Pops the menu up at the global point with its first item highlighted and focused, as a
// menu bar's menu opened by keys is, so a screen reader names that item at once.
void popupFromKeys(QMenu* menu, const QPoint& at);

// A rounded fill round a borderless field (and what stands beside it); its edge turns to the
// accent colour while the field has the focus, as a text box's stroke does.
class FieldFrame : public QWidget {
    Q_OBJECT

public:
    FieldFrame(const QColor& fill, double radius, QWidget* parent = nullptr);
    void setField(QWidget* field);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    double radius_;
    QWidget* field_ = nullptr;
};

// A 1 px line in the primary colour at opacity 0.1, across (horizontal) or down (vertical) its room;
// a stated opacity multiplies (the detail pane's dividers are at 0.6 of it).
class Rule : public QWidget {
    Q_OBJECT

public:
    explicit Rule(Qt::Orientation orientation, QWidget* parent = nullptr, double opacity = 1.0);

    QColor color() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double opacity_;
};

}  // namespace corvane
