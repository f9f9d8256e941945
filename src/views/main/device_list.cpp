#include "views/main/device_list.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace corvane {

namespace {

std::unordered_set<std::string> idsOf(const std::vector<DeviceListModel::Row>& rows) {
    std::unordered_set<std::string> ids;
    for (const DeviceListModel::Row& row : rows) ids.insert(row.peer.id);
    return ids;
}

}  // namespace

DeviceListModel::DeviceListModel(QObject* parent) : QAbstractListModel(parent) {}

int DeviceListModel::rowOf(const std::string& id) const {
    for (size_t k = 0; k < rows_.size(); ++k) {
        if (rows_[k].peer.id == id) return int(k);
    }
    return -1;
}

int DeviceListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const DeviceRowLook& look = rows_[size_t(index.row())].look;
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole: return look.title;
        case Qt::AccessibleDescriptionRole: return look.badge ? look.subtitle + QStringLiteral(" · ") + *look.badge : look.subtitle;
        default: return {};
    }
}

void DeviceListModel::setRows(std::vector<Row> rows) {
    removeLeft(rows);
    if (!keptInOrder(rows)) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
        return;
    }
    insertCameAndUpdate(std::move(rows));
}

// Removes the rows whose peer is not in the new list, each run of them at once.
void DeviceListModel::removeLeft(const std::vector<Row>& rows) {
    const std::unordered_set<std::string> staying = idsOf(rows);
    for (int end = int(rows_.size()) - 1; end >= 0; --end) {
        if (staying.count(rows_[size_t(end)].peer.id)) continue;
        int first = end;
        while (first > 0 && !staying.count(rows_[size_t(first - 1)].peer.id)) --first;
        beginRemoveRows({}, first, end);
        rows_.erase(rows_.begin() + first, rows_.begin() + end + 1);
        endRemoveRows();
        end = first;
    }
}

// Whether the rows kept come in the new list in the order they are shown.
bool DeviceListModel::keptInOrder(const std::vector<Row>& rows) const {
    const std::unordered_set<std::string> shown = idsOf(rows_);
    size_t k = 0;
    for (const Row& row : rows) {
        if (!shown.count(row.peer.id)) continue;
        if (k >= rows_.size() || rows_[k].peer.id != row.peer.id) return false;
        ++k;
    }
    return k == rows_.size();
}

// Inserts each run of new rows at once and tells each run of changed rows once.
void DeviceListModel::insertCameAndUpdate(std::vector<Row> rows) {
    const std::unordered_set<std::string> shown = idsOf(rows_);
    int changedFrom = -1;
    const auto tellChanged = [this, &changedFrom](int end) {
        if (changedFrom >= 0) Q_EMIT dataChanged(index(changedFrom), index(end));
        changedFrom = -1;
    };
    for (size_t at = 0; at < rows.size();) {
        if (!shown.count(rows[at].peer.id)) {
            tellChanged(int(at) - 1);
            size_t end = at;
            while (end + 1 < rows.size() && !shown.count(rows[end + 1].peer.id)) ++end;
            beginInsertRows({}, int(at), int(end));
            rows_.insert(rows_.begin() + std::ptrdiff_t(at), std::make_move_iterator(rows.begin() + std::ptrdiff_t(at)),
                         std::make_move_iterator(rows.begin() + std::ptrdiff_t(end) + 1));
            endInsertRows();
            at = end + 1;
            continue;
        }
        Row& kept = rows_[at];
        const bool changed = !(kept.look == rows[at].look);
        kept = std::move(rows[at]);  // a fresher lastSeen changes nothing shown
        if (changed && changedFrom < 0) changedFrom = int(at);
        if (!changed) tellChanged(int(at) - 1);
        ++at;
    }
    tellChanged(int(rows_.size()) - 1);
}

void DeviceRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto* model = qobject_cast<const DeviceListModel*>(index.model());
    if (!model) return;
    DeviceRow::paint(*painter, option.rect, model->row(index.row()).look, option.state & QStyle::State_MouseOver,
                     showsKeyboardFocus(option));
}

QSize DeviceRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return {200, DeviceRow::rowHeight()};
}

DeviceList::DeviceList(QWidget* parent) : RowActionList(parent) {
    setUniformItemSizes(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    viewport()->setCursor(Qt::PointingHandCursor);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setItemDelegate(new DeviceRowDelegate(this));
}

void DeviceList::setModel(QAbstractItemModel* model) {
    RowActionList::setModel(model);
    for (auto rowsMoved : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(model, rowsMoved, this, &QWidget::updateGeometry);
        connect(model, rowsMoved, this, &DeviceList::restoreKeysRowPlace);
    }
    for (auto rowsMoving : {&QAbstractItemModel::rowsAboutToBeInserted, &QAbstractItemModel::rowsAboutToBeRemoved}) {
        connect(model, rowsMoving, this, &DeviceList::keepKeysRowPlace);
    }
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, &DeviceList::keepKeysRowPlace);
    connect(model, &QAbstractItemModel::modelReset, this, &DeviceList::restoreKeysRowPlace);
    connect(model, &QAbstractItemModel::modelReset, this, &QWidget::updateGeometry);
}

QSize DeviceList::sizeHint() const { return {200, 3 * DeviceRow::rowHeight()}; }

QSize DeviceList::minimumSizeHint() const {
    const int rows = model() ? std::min(model()->rowCount(), 3) : 0;
    return {0, std::max(rows, 1) * DeviceRow::rowHeight()};
}

// Where a row shows, from its place alone (the rows are all as tall, and while rows go the
// view's own layout is already dropped).
int DeviceList::rowTop(int row) const { return row * DeviceRow::rowHeight() - verticalScrollBar()->value(); }

void DeviceList::keepKeysRowPlace() {
    keysRowTop_.reset();
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    const int top = rowTop(current.row());
    if (top > -DeviceRow::rowHeight() && top < viewport()->height()) keysRowTop_ = top;
}

// Scrolls by as much as the rows above the keys' row grew or shrank, so that row keeps its
// place (a row that had no place on screen is shown while the list holds the keys).
void DeviceList::restoreKeysRowPlace() {
    const QModelIndex current = currentIndex();
    const std::optional<int> top = std::exchange(keysRowTop_, std::nullopt);
    if (!current.isValid()) return;
    executeDelayedItemsLayout();
    if (!top) {
        if (hasFocus()) scrollTo(current);
        return;
    }
    verticalScrollBar()->setValue(current.row() * DeviceRow::rowHeight() - *top);
}

void DeviceList::focusInEvent(QFocusEvent* event) {
    // Before the list tells a screen reader it has the keys, so that it tells one row: the row
    // it had, else the chosen device's, else the first.
    const int rows = model() ? model()->rowCount() : 0;
    if (rows > 0 && !currentIndex().isValid()) {
        QModelIndex start = model()->index(0, 0);
        for (int k = 0; k < rows; ++k) {
            if (checkedOf(model()->index(k, 0)).value_or(false)) start = model()->index(k, 0);
        }
        selectionModel()->setCurrentIndex(start, QItemSelectionModel::NoUpdate);
    }
    RowActionList::focusInEvent(event);
}

void DeviceList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        QKeyEvent asReturn(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        RowActionList::keyPressEvent(&asReturn);
        event->setAccepted(asReturn.isAccepted());
        return;
    }
    RowActionList::keyPressEvent(event);
}

}  // namespace corvane
