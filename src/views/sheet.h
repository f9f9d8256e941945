#pragma once
// The base of every sheet: a dialog of fixed width with 20 px padding and a
// column layout, as tall as its content at that width (recomputed after every
// change of the content, since a window's layout ignores height-for-width),
// with one key policy per sheet:
// - Return presses the focused push button, else the default button (none:
//   Return does nothing; dialog_keys.h); every other push button has
//   autoDefault off, so focus never moves the default;
// - Escape closes only where the sheet says so, else it does nothing;
// - the window's close button (its only one: nothing to minimise or maximise) rejects,
//   which each sheet maps to its own close.
// The widget given as initial focus receives it once the sheet shows.
// A sheet taller than its screen can hold puts its content in a scrolling body
// and keeps its closing row below it in view. It opens centred over its parent's
// window and wholly on the screen, moved up as far as it must, and moves up again
// when it grows past the screen's bottom; once a window manager has framed it, its
// title bar is counted too. Without a window manager it keeps a 1 px edge of its own
// and the window behind draws its shadow (sheet_edge.h).
//
// The small builders below make the texts of the sheets: data and fixed texts
// alike are plain text (never rich text), in the theme's fonts and colours.

#include <optional>

#include <QDialog>
#include <QPointer>
#include <QPushButton>

#include "views/theme.h"

class QLabel;
class QLayout;
class QScrollArea;
class QVBoxLayout;

namespace corvane {

class Sheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int padding = 20;

    Sheet(const QString& title, int width, int spacing, QWidget* parent);

    QVBoxLayout* column() const { return column_; }
    QPushButton* defaultButton() const { return defaultButton_; }

    // Sets the height the content needs at the sheet's width (the fixed height, if any), at
    // most the sheet's room when it has a scrolling body or a fixed height; keeps a shown
    // sheet on its screen.
    void refit();
    // The height the sheet may take: the room given, else its screen's available height
    // less its window frame.
    int room() const;
    // The scroll area of the scrolling body, or null.
    QScrollArea* bodyScroll() const { return bodyScroll_; }

protected:
    // Runs once, the first time the sheet has been shown (the on-appear action).
    virtual void firstShown() {}

    void setDefaultButton(QPushButton* button);
    void setEscapeCloses(bool closes) { escapeCloses_ = closes; }
    // A sheet of fixed height (a scrolling one, at most its room) instead of one as tall as its content.
    void setFixedSheetHeight(int height);
    void setInitialFocus(QWidget* widget) { initialFocus_ = widget; }
    // A fixed room instead of the screen's (none: the screen's).
    void setRoom(std::optional<int> height) { room_ = height; }
    // Makes the column a scrolling body and a footer under it, and returns the body: it shows
    // whole while the sheet fits its room, and scrolls when the sheet would be taller. The
    // footer (footer()) stays in view either way; both keep the sheet's padding and spacing.
    QVBoxLayout* scrollingBody();
    QVBoxLayout* footer() const { return footer_; }

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QVBoxLayout* column_ = nullptr;
    QScrollArea* bodyScroll_ = nullptr;
    QVBoxLayout* footer_ = nullptr;
    std::optional<int> room_;
    QPointer<QPushButton> defaultButton_;
    QPointer<QWidget> initialFocus_;
    bool escapeCloses_ = false;
    std::optional<int> fixedHeight_;
    bool shownOnce_ = false;
};

// Empties a layout; its widgets go once the current event is over (one of them
// may be the button whose click got here).
void clearLayout(QLayout* layout);

// A plain-text label in a font size, weight and colour; wrapping labels take the
// height their text needs at the width they get.
QLabel* sheetLabel(const QString& text, double px, Weight weight, const QColor& color, bool wraps,
                   QWidget* parent = nullptr);
// A section title (11.5 px medium, secondary) and a help line (10 px tertiary, wrapping).
QLabel* sectionTitle(const QString& text, QWidget* parent = nullptr);
QLabel* helpLine(const QString& text, QWidget* parent = nullptr);
// A push button in the platform's look at the default size, autoDefault off.
QPushButton* sheetButton(const QString& title, QWidget* parent = nullptr);
// A push button filled with a tint and titled in white (the prominent style), autoDefault off.
QPushButton* prominentButton(const QString& title, const QColor& tint, QWidget* parent = nullptr);
// A borderless button drawn as a link (accent colour) at a text size.
QPushButton* linkButton(const QString& title, double px, QWidget* parent = nullptr);

}  // namespace corvane
