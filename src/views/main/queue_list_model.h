#pragma once
// The send queue as rows of a list view. The model keeps a copy of what each
// row shows; sync() compares the queue with it and announces only the rows
// whose values changed, and inserts or removes rows where the list changed,
// so a progress tick never resets the view (hover and scroll stay).
//
// A row's display text is the file name; its accessible text is the name, the
// state text ("等待重连" while its receiver does not answer), the speed while active
// and the percentage, in reading order.

#include <memory>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QColor>

#include "engine/sending/transfer_task.h"

namespace corvane {

struct QueueRowLook {
    std::string symbol;
    QColor color;
    QString stateText;
};

class QueueListModel : public QAbstractListModel {
    Q_OBJECT

public:
    struct Row {
        std::shared_ptr<TransferTask> task;
        TransferState state;
        int64_t sent = 0;
        double speed = 0;
        bool outOfReach = false;  // waiting for a receiver that does not answer
        bool operator==(const Row&) const = default;
    };

    explicit QueueListModel(QObject* parent = nullptr);

    void sync(const std::vector<std::shared_ptr<TransferTask>>& tasks);
    const Row& row(int index) const { return rows_.at(size_t(index)); }

    // Icon, colour and state text of a state (of a row waiting for its receiver to answer again).
    static QueueRowLook look(const TransferState& state, bool outOfReach = false);
    // The whole percent, capped at 100, and as text: "37%".
    static int64_t percent(const Row& row);
    static QString percentText(const Row& row);
    static QString speedText(const Row& row);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    static Row snapshot(const std::shared_ptr<TransferTask>& task);
    // Whether the row shows the task's values as they are now.
    static bool shows(const Row& row, const TransferTask& task);
    // Whether the rows are of these tasks, in this order.
    bool sameTasks(const std::vector<std::shared_ptr<TransferTask>>& tasks) const;
    // Removes the rows of tasks gone and inserts those of new ones (or starts over).
    void syncRows(const std::vector<std::shared_ptr<TransferTask>>& tasks);
    void removeGone(const std::vector<std::shared_ptr<TransferTask>>& tasks);
    bool insertNew(const std::vector<std::shared_ptr<TransferTask>>& tasks);

    std::vector<Row> rows_;
};

}  // namespace corvane
