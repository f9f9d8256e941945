#pragma once
// What sets a sheet apart from the window behind it when no window manager frames it
// (bare X servers, kiosks): the sheet keeps a 1 px edge of its own inside its border,
// and the window behind draws the kit's soft shadow round it. Once a window manager
// has framed the sheet, its border and title bar do that: neither is drawn then, since
// a second line beside the frame's border would read as a double edge.

#include <QObject>
#include <QPointer>

class QWidget;

namespace corvane {

class SheetShadow;

class SheetEdge : public QObject {
    Q_OBJECT

public:
    // Made with the sheet (a top-level window with a parent) and owned by it.
    explicit SheetEdge(QWidget* sheet);
    ~SheetEdge() override;

    // Whether the edge and shadow are drawn (no window manager's frame seen).
    bool drawn() const { return drawn_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void framedOrNot();
    void placeShadow();

    QWidget* sheet_;
    QPointer<SheetShadow> shadow_;
    bool drawn_ = true;
};

}  // namespace corvane
