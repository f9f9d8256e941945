#include "views/sheet_edge.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

#include "views/soft_shadow.h"
#include "views/theme.h"
#include "views/window_frame.h"

namespace corvane {

// The shadow round a sheet, drawn over the window behind it, where the sheet lies; it
// takes no input and is no stop for the keyboard.
class SheetShadow : public QWidget {
public:
    explicit SheetShadow(QWidget* behind) : QWidget(behind) {
        setObjectName(QStringLiteral("sheetShadow"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

    // The sheet's rectangle in this window's coordinates.
    void setShape(const QRect& shape) {
        if (shape == shape_ && geometry() == parentWidget()->rect()) return;
        shape_ = shape;
        setGeometry(parentWidget()->rect());
        raise();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        // The sheet covers its own rectangle; only the rings round it show.
        painter.setClipRegion(QRegion(rect()).subtracted(QRegion(shape_)));
        paintSoftShadow(painter, QRectF(shape_), [](const QRectF& ring) {
            QPainterPath path;
            path.addRect(ring);
            return path;
        });
    }

private:
    QRect shape_;
};

SheetEdge::SheetEdge(QWidget* sheet) : QObject(sheet), sheet_(sheet) {
    // The edge takes the outer pixel: the content lies inside it.
    sheet->setContentsMargins(1, 1, 1, 1);
    sheet->installEventFilter(this);
    whenExposed(sheet, [this] { framedOrNot(); });
}

SheetEdge::~SheetEdge() { delete shadow_; }

bool SheetEdge::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Paint:
            // Runs as the sheet paints, after its background: the edge along its border.
            if (drawn_) {
                QPainter painter(sheet_);
                painter.setPen(Theme::primary(0.22));
                painter.drawRect(sheet_->rect().adjusted(0, 0, -1, -1));
            }
            break;
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            placeShadow();
            break;
        case QEvent::Hide:
            if (shadow_) shadow_->hide();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void SheetEdge::framedOrNot() {
    const bool framed = !frameMargins(sheet_).isNull();
    if (framed == !drawn_) return;
    drawn_ = !framed;
    sheet_->setContentsMargins(drawn_ ? QMargins(1, 1, 1, 1) : QMargins());
    sheet_->update();
    placeShadow();
}

void SheetEdge::placeShadow() {
    QWidget* behind = sheet_->parentWidget() ? sheet_->parentWidget()->window() : nullptr;
    if (!drawn_ || !behind || !sheet_->isVisible()) {
        if (shadow_) shadow_->hide();
        return;
    }
    if (shadow_ && shadow_->parentWidget() != behind) delete shadow_;
    if (!shadow_) shadow_ = new SheetShadow(behind);
    shadow_->setShape(QRect(behind->mapFromGlobal(sheet_->geometry().topLeft()), sheet_->size()));
    shadow_->show();
}

}  // namespace corvane
