#pragma once
// One device of the sidebar: a button that selects it, drawn as a platform icon on a
// rounded tile, the title and one subtitle line (both cut at their end), and an
// optional badge. Where the look asks, the whole subtitle is also the row's tooltip.
// The row paints its texts itself (a button title would read "&" as a
// shortcut), so it keeps its accessible name (the title) and description (the
// subtitle and the badge) current. It knows nothing of the application state:
// the sidebar hands in every value, and a click (or Space, or Return) emits clicked().
// Over accessibility it is a push button, checked while its device is the chosen one
// (a change told only while it holds the keys).

#include <optional>
#include <string>

#include <QPushButton>
#include <QColor>

class QPainter;

namespace corvane {

struct DeviceRowLook {
    QString title;
    QString subtitle;
    // The end of the subtitle that is never cut (this device's version): what comes before it
    // is cut instead where the line has no room.
    QString subtitleEnd;
    std::string icon;
    std::optional<QString> badge;
    QColor badgeColor;
    bool selected = false;
    // The whole subtitle as the tooltip (this device's row, whose address may be cut).
    bool subtitleToolTip = false;
    // The badge beside the title rather than centred on the row, so the subtitle runs under
    // it to the row's end (this device's row: its short title leaves room for a whole address).
    bool badgeBesideTitle = false;
    bool operator==(const DeviceRowLook&) const = default;
};

class DeviceRow : public QPushButton {
    Q_OBJECT

public:
    explicit DeviceRow(QWidget* parent = nullptr);

    // Repaints only when something shown changed.
    void setLook(const DeviceRowLook& look);
    const DeviceRowLook& look() const { return look_; }
    bool hovering() const { return hovering_; }

    // The row's fill for a selection and hover state: accent at 16 % when selected,
    // primary at 5 % under the pointer, else clear.
    static QColor fill(bool selected, bool hovering);
    // Where the parts sit in a row of that size.
    static QRect tileRect(const QRect& row);
    static QRect textRect(const QRect& row, const DeviceRowLook& look);
    static QRect badgeRect(const QRect& row, const DeviceRowLook& look);
    // Where the subtitle line is drawn.
    static QRect subtitleRect(const QRect& row, const DeviceRowLook& look);
    QRect textRect() const { return textRect(rect(), look_); }
    QRect badgeRect() const { return badgeRect(rect(), look_); }
    QRect subtitleRect() const { return subtitleRect(rect(), look_); }
    // The subtitle as it is drawn in a line of that width.
    static QString shownSubtitle(const DeviceRowLook& look, int width);
    QString shownSubtitle(int width) const { return shownSubtitle(look_, width); }
    // A row of that look in that rectangle, as this widget paints itself (the peers' list
    // paints its rows with it too).
    static void paint(QPainter& painter, const QRect& row, const DeviceRowLook& look, bool hovering, bool focusRing);
    static int rowHeight();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    DeviceRowLook look_;
    bool hovering_ = false;
};

}  // namespace corvane
