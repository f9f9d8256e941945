#include "views/main/queue_panel.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/announcer.h"
#include "views/controls.h"
#include "views/main/queue_list_model.h"
#include "views/main/queue_row_delegate.h"
#include "views/main/transfer_progress.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

QueuePanel::QueuePanel(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("queuePanel"));
    Theme::setBackground(this, Theme::primary(0.022));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    QHBoxLayout* header = transferPanelHeader("arrow.up.arrow.down", QStringLiteral("传输队列"), this);
    count_ = textLabel({}, 10.5, Theme::secondary(), this);
    count_->setObjectName(QStringLiteral("queueCount"));
    header->addWidget(count_);
    header->addStretch(1);
    clear_ = plainButton(QStringLiteral("清除已结束"), 10.5, Theme::tint(Tint::accent), this);
    clear_->setObjectName(QStringLiteral("queueClear"));
    header->addWidget(clear_);
    column->addLayout(header);

    list_ = new RowActionList(this);
    list_->setObjectName(QStringLiteral("queueList"));
    list_->setAccessibleName(QStringLiteral("传输队列"));
    list_->setUniformItemSizes(true);
    list_->setAccessibleRowsShownOnly(true);  // a folder queues thousands of rows
    list_->viewport()->setAutoFillBackground(false);
    list_->setAutoFillBackground(false);
    model_ = new QueueListModel(list_);
    delegate_ = new QueueRowDelegate(list_);
    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    column->addWidget(list_);
    announcer_ = new Announcer(this);
    reachAnnouncer_ = new Announcer(this);

    connect(clear_, &QPushButton::clicked, this, [this] { state_.uploader().clearFinished(); });
    connect(delegate_, &QueueRowDelegate::cancelRequested, this,
            [this](const std::shared_ptr<TransferTask>& task) { state_.uploader().cancel(task); });
    list_->setActions([this](const QModelIndex& index) {
        const QueueListModel::Row& row = model_->row(index.row());
        std::vector<RowActionList::Action> actions;
        if (row.state.active()) {
            actions.push_back({QStringLiteral("取消"), Qt::Key_Delete,
                               [this, task = row.task] { state_.uploader().cancel(task); }});
        }
        return actions;
    });
    list_->setProgress(QStringLiteral("发送进度"), [this](const QModelIndex& index) -> std::optional<int> {
        return int(QueueListModel::percent(model_->row(index.row())));
    });
    const auto rowsWent = [this] { rowsWent_ = true; };
    connect(model_, &QAbstractItemModel::rowsRemoved, this, rowsWent);
    connect(model_, &QAbstractItemModel::modelReset, this, rowsWent);
    connect(&state_, &AppState::uploaderChanged, this, &QueuePanel::refresh);
    refresh();
}

QString QueuePanel::countText(size_t active, size_t failed, bool outOfReach) {
    if (active > 0 && outOfReach) return QString::number(active) + QStringLiteral(" 个进行中 · 对方无法连接，将自动重试");
    if (active > 0) return QString::number(active) + QStringLiteral(" 个进行中");
    // Failures are never summed up as success.
    if (failed > 0) return QString::number(failed) + QStringLiteral(" 个失败");
    return QStringLiteral("全部完成");
}

void QueuePanel::refresh() {
    const auto& tasks = state_.uploader().tasks();
    model_->sync(tasks);
    const auto active = size_t(std::count_if(tasks.begin(), tasks.end(), [](const auto& t) { return t->state.active(); }));
    const auto failed = size_t(std::count_if(tasks.begin(), tasks.end(), [](const auto& t) {
        return t->state.kind == TransferState::Kind::failed;
    }));
    const bool outOfReach = std::any_of(tasks.begin(), tasks.end(), [](const auto& t) { return t->receiverOutOfReach; });
    count_->setText(countText(active, failed, outOfReach));
    clear_->setVisible(active < tasks.size());
    list_->setFixedHeight(std::min(int(tasks.size()) * delegate_->rowHeight(), maxListHeight));
    tellNewFailures();
    tellReach(outOfReach);
}

namespace {

std::string receiverName(const TransferTask& task) { return task.target ? task.target->name : "本机"; }

}  // namespace

// Most refreshes (every progress step of a folder of thousands) find no receiver out of reach
// now or before: they cost nothing here.
void QueuePanel::tellReach(bool anyOutOfReach) {
    if (!anyOutOfReach && outOfReach_.empty()) return;
    const auto& tasks = state_.uploader().tasks();
    std::set<std::string> waiting;  // receivers some file waits for
    for (const auto& task : tasks) {
        if (task->receiverOutOfReach) waiting.insert(receiverName(*task));
    }
    // A receiver given up on leaves its files failed, told as failures; one back has files going.
    const auto goingTo = [&tasks](const std::string& name) {
        return std::any_of(tasks.begin(), tasks.end(), [&name](const auto& task) {
            return !task->receiverOutOfReach && task->state.active() && receiverName(*task) == name;
        });
    };
    QStringList heard;
    for (const std::string& name : waiting) {
        if (!outOfReach_.count(name)) heard << QStringLiteral("无法连接「%1」，将自动重试").arg(QString::fromStdString(name));
    }
    for (const std::string& name : outOfReach_) {
        if (!waiting.count(name) && goingTo(name)) {
            heard << QStringLiteral("已重新连接「%1」，继续发送").arg(QString::fromStdString(name));
        }
    }
    outOfReach_ = std::move(waiting);
    if (!heard.isEmpty()) reachAnnouncer_->announce(heard.join(QStringLiteral("；")));
}

void QueuePanel::tellNewFailures() {
    QStringList heard;
    int lastFailed = -1;
    for (int k = 0; k < model_->rowCount(); ++k) {
        const QueueListModel::Row& row = model_->row(k);
        if (row.state.kind != TransferState::Kind::failed || !told_.insert(row.task->id).second) continue;
        heard << QString::fromStdString(row.task->fileName) + QStringLiteral(" · ") +
                     QueueListModel::look(row.state).stateText;
        lastFailed = k;
    }
    forgetGoneFailures();
    if (lastFailed < 0) return;
    list_->scrollTo(model_->index(lastFailed));
    // Each failure told on its own: a reader hears every row in its own words.
    for (const QString& failure : heard) announcer_->announce(failure);
}

// Only after rows went: a refresh that removed none has nothing to forget.
void QueuePanel::forgetGoneFailures() {
    if (!rowsWent_) return;
    rowsWent_ = false;
    std::set<std::string> listed;
    for (int k = 0; k < model_->rowCount(); ++k) listed.insert(model_->row(k).task->id);
    std::erase_if(told_, [&listed](const std::string& id) { return !listed.count(id); });
}

}  // namespace corvane
