#pragma once
// Paints one row of a team member list: the initial, the name (with "管理员" for the
// administrator) over the second line, and the row's buttons at its end: "拒绝" and
// "通过" for an applicant, "更多操作" (an ellipsis) for a member other than the
// administrator, "恢复" for a disabled member; a line parts the rows. No widget
// exists per row: a click on a button is hit-tested here and asks, from the event
// loop, for the row's action of the button's name.

#include <QFont>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace corvane {

class TeamMemberDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int rowHeight = 40;

    explicit TeamMemberDelegate(QObject* parent = nullptr);

    // The buttons a row shows, by name, and where they lie in the row.
    std::vector<std::pair<QString, QRect>> buttons(const QRect& row, const QModelIndex& index) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

Q_SIGNALS:
    // From the event loop after the click.
    void buttonPressed(const QPersistentModelIndex& row, const QString& name);

private:
    QString buttonAt(const QRect& row, const QModelIndex& index, const QPoint& at) const;
    void paintButton(QPainter* painter, const QString& name, const QRect& area, bool busy) const;

    QFont nameFont_;
    QFont detailFont_;
    QFont badgeFont_;
    QFont buttonFont_;
    QString pressed_;
    int pressedRow_ = -1;
};

}  // namespace corvane
