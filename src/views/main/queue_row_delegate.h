#pragma once
// Paints one send-queue row: state icon, file name (cut in the middle), state
// text, speed while active, percentage in a 32 px column, the thin bar under
// them, and while active the cancel button at the end. No widget exists per
// row: the button is hit-tested here and its press is queued with the task,
// so the cancel runs after the event and never uses the row's index.

#include <memory>

#include <QStyledItemDelegate>

#include "engine/sending/transfer_task.h"

namespace corvane {

class QueueRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int insetH = 16;
    static constexpr int insetV = 4;
    static constexpr int spacing = 9;
    static constexpr int iconWidth = 16;
    static constexpr int cancelSide = 16;
    static constexpr int percentWidth = 32;

    explicit QueueRowDelegate(QObject* parent = nullptr);

    // The height of every row.
    int rowHeight() const;
    // Where the cancel button of an active row sits.
    static QRect cancelRect(const QRect& row);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

Q_SIGNALS:
    // From the event loop after the click, with the row's task.
    void cancelRequested(std::shared_ptr<corvane::TransferTask> task);

private:
    QFont nameFont_;
    QFont smallFont_;
    int lineHeight_;
    int pressedRow_ = -1;
};

}  // namespace corvane
