#pragma once
// The sidebar's reachable devices as one list: a model of the rows, painted as
// DeviceRows by a delegate, with no widget per device, so a thousand devices cost
// a screen reader no more objects than the rows it asks for.
//
// The model takes each new list of rows and changes only what changed: rows that
// left are removed, rows that came are inserted, a row whose look changed is told
// as changed; only rows that changed places reset it.
//
// The view is a RowActionList, one Tab stop: the arrows, Home and End, Page Up and
// Page Down (by the rows on screen) and a typed first letter move inside it, and it
// scrolls its own rows. Each row reads as a list item that tells its place among the
// rows, checked while its device is the chosen one. Coming in by the keys, the list
// keeps the row it had, else takes the chosen device's row, else the first. Space
// presses the row as Return does. While rows come and go above the row holding the
// keys, that row stays where it is on screen.

#include <optional>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include "engine/model.h"
#include "views/main/device_row.h"
#include "views/main/row_action_list.h"

namespace corvane {

class DeviceListModel : public QAbstractListModel {
    Q_OBJECT

public:
    struct Row {
        Peer peer;
        DeviceRowLook look;
    };

    explicit DeviceListModel(QObject* parent = nullptr);

    // One row per peer id, in this order.
    void setRows(std::vector<Row> rows);
    const Row& row(int index) const { return rows_[size_t(index)]; }
    // The row of the peer id, or -1.
    int rowOf(const std::string& id) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void removeLeft(const std::vector<Row>& rows);
    bool keptInOrder(const std::vector<Row>& rows) const;
    void insertCameAndUpdate(std::vector<Row> rows);

    std::vector<Row> rows_;
};

class DeviceRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class DeviceList : public RowActionList {
    Q_OBJECT

public:
    explicit DeviceList(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    // A few rows at least; the list takes the height the sidebar has left.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int rowTop(int row) const;
    void keepKeysRowPlace();
    void restoreKeysRowPlace();

    // Where the row holding the keys showed before rows came or went, or nothing.
    std::optional<int> keysRowTop_;
};

}  // namespace corvane
