#pragma once
// The sidebar's reachable devices as one list: a model of the rows, painted as
// DeviceRows by a delegate, with no widget per device, so a thousand devices cost
// a screen reader no more objects than the rows it asks for.
//
// The model takes each new list of rows and changes only what changed: rows that
// left are removed, rows that came are inserted, a row whose look changed is told
// as changed; only rows that changed places reset it.
//
// The view is a RowActionList whose rows read as push buttons, checked while their
// device is the chosen one. Tab and Shift+Tab go row by row, and leave the list past
// its ends, as they would over one button per row; coming in by Tab the keys land on
// the first row, by Shift+Tab on the last. Space presses the row as Return does.

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
    // As tall as all its rows: the sidebar's scroll area scrolls them with the rest.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool focusNextPrevChild(bool next) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace corvane
