#include "views/main/queue_list_model.h"

#include <unordered_set>

#include "engine/format.h"
#include "views/main/transfer_progress.h"
#include "views/theme.h"

namespace corvane {

QueueListModel::QueueListModel(QObject* parent) : QAbstractListModel(parent) {}

QueueListModel::Row QueueListModel::snapshot(const std::shared_ptr<TransferTask>& task) {
    return {task, task->state, task->sent, task->speed, task->receiverOutOfReach};
}

bool QueueListModel::sameTasks(const std::vector<std::shared_ptr<TransferTask>>& tasks) const {
    if (tasks.size() != rows_.size()) return false;
    for (size_t k = 0; k < tasks.size(); ++k) {
        if (rows_[k].task != tasks[k]) return false;
    }
    return true;
}

bool QueueListModel::shows(const Row& row, const TransferTask& task) {
    return row.state == task.state && row.sent == task.sent && row.speed == task.speed &&
           row.outOfReach == task.receiverOutOfReach;
}

void QueueListModel::sync(const std::vector<std::shared_ptr<TransferTask>>& tasks) {
    // A progress step of one task among thousands: no task came or went, so only values are compared.
    if (!sameTasks(tasks)) syncRows(tasks);
    for (size_t k = 0; k < rows_.size(); ++k) {
        if (shows(rows_[k], *tasks[k])) continue;
        rows_[k] = snapshot(tasks[k]);
        const QModelIndex changed = index(int(k));
        Q_EMIT dataChanged(changed, changed);
    }
}

void QueueListModel::syncRows(const std::vector<std::shared_ptr<TransferTask>>& tasks) {
    removeGone(tasks);
    if (!insertNew(tasks)) {
        // The survivors changed their order (the queue never does that): start over.
        beginResetModel();
        rows_.clear();
        for (const auto& task : tasks) rows_.push_back(snapshot(task));
        endResetModel();
    }
}

void QueueListModel::removeGone(const std::vector<std::shared_ptr<TransferTask>>& tasks) {
    std::unordered_set<const TransferTask*> kept;
    for (const auto& task : tasks) kept.insert(task.get());
    // From the end, one run of neighbouring rows at a time.
    int last = int(rows_.size()) - 1;
    while (last >= 0) {
        if (kept.count(rows_[size_t(last)].task.get())) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !kept.count(rows_[size_t(first - 1)].task.get())) --first;
        beginRemoveRows({}, first, last);
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        endRemoveRows();
        last = first - 1;
    }
}

bool QueueListModel::insertNew(const std::vector<std::shared_ptr<TransferTask>>& tasks) {
    std::unordered_set<const TransferTask*> listed;
    for (const Row& row : rows_) listed.insert(row.task.get());
    size_t k = 0;
    while (k < tasks.size()) {
        if (k < rows_.size() && rows_[k].task == tasks[k]) {
            ++k;
            continue;
        }
        if (listed.count(tasks[k].get())) return false;
        // A run of new tasks goes in as one block.
        size_t end = k;
        while (end < tasks.size() && !listed.count(tasks[end].get())) ++end;
        beginInsertRows({}, int(k), int(end) - 1);
        std::vector<Row> block;
        for (size_t n = k; n < end; ++n) block.push_back(snapshot(tasks[n]));
        rows_.insert(rows_.begin() + std::ptrdiff_t(k), block.begin(), block.end());
        endInsertRows();
        k = end;
    }
    return rows_.size() == tasks.size();
}

QueueRowLook QueueListModel::look(const TransferState& state, bool outOfReach) {
    const QColor accent = Theme::tint(Tint::accent);
    switch (state.kind) {
        case TransferState::Kind::waiting:
            if (outOfReach) return {"arrow.clockwise", Theme::tint(Tint::orange), QStringLiteral("等待重连")};
            return {"arrow.up.circle", accent, QStringLiteral("等待中")};
        case TransferState::Kind::running: return {"arrow.up.circle", accent, QStringLiteral("传输中")};
        case TransferState::Kind::finishing: return {"arrow.triangle.merge", accent, QStringLiteral("合并中")};
        case TransferState::Kind::done:
            return {"checkmark.circle.fill", Theme::tint(Tint::green), QStringLiteral("已完成")};
        case TransferState::Kind::cancelled: return {"slash.circle", Theme::secondary(), QStringLiteral("已取消")};
        case TransferState::Kind::failed:
            return {"exclamationmark.triangle.fill", Theme::tint(Tint::red),
                    QStringLiteral("失败：") + QString::fromStdString(state.message)};
    }
    return {};
}

int64_t QueueListModel::percent(const Row& row) { return wholePercent(row.sent, row.task->totalSize, true); }

QString QueueListModel::percentText(const Row& row) { return QString::number(percent(row)) + QLatin1Char('%'); }

QString QueueListModel::speedText(const Row& row) { return QString::fromStdString(humanSpeed(row.speed)); }

int QueueListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant QueueListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& r = rows_[size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(r.task->fileName);
        case Qt::AccessibleTextRole: {
            QStringList texts{QString::fromStdString(r.task->fileName), look(r.state, r.outOfReach).stateText};
            if (r.state.active()) texts << speedText(r);
            texts << percentText(r);
            return texts.join(QStringLiteral(" · "));
        }
        default: return {};
    }
}

}  // namespace corvane
