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
    tellReach();
}

namespace {

QString receiverName(const TransferTask& task) {
    return task.target ? QString::fromStdString(task.target->name) : QStringLiteral("本机");
}

}  // namespace

void QueuePanel::tellReach() {
    std::set<QString> waiting;  // receivers some file waits for
    std::set<QString> going;    // receivers some file goes to, not waiting for them
    for (const auto& task : state_.uploader().tasks()) {
        if (task->receiverOutOfReach) {
            waiting.insert(receiverName(*task));
        } else if (task->state.active()) {
            going.insert(receiverName(*task));
        }
    }
    QStringList heard;
    for (const QString& name : waiting) {
        if (!outOfReach_.count(name)) heard << QStringLiteral("无法连接「%1」，将自动重试").arg(name);
    }
    // A receiver given up on leaves its files failed, told as failures; one back has files going.
    for (const QString& name : outOfReach_) {
        if (!waiting.count(name) && going.count(name)) heard << QStringLiteral("已重新连接「%1」，继续发送").arg(name);
    }
    outOfReach_ = std::move(waiting);
    if (!heard.isEmpty()) reachAnnouncer_->announce(heard.join(QStringLiteral("；")));
}

void QueuePanel::tellNewFailures() {
    std::set<std::string> listed;
    QStringList heard;
    int lastFailed = -1;
    for (int k = 0; k < model_->rowCount(); ++k) {
        const QueueListModel::Row& row = model_->row(k);
        listed.insert(row.task->id);
        if (row.state.kind != TransferState::Kind::failed || !told_.insert(row.task->id).second) continue;
        heard << QString::fromStdString(row.task->fileName) + QStringLiteral(" · ") +
                     QueueListModel::look(row.state).stateText;
        lastFailed = k;
    }
    std::erase_if(told_, [&listed](const std::string& id) { return !listed.count(id); });
    if (lastFailed < 0) return;
    list_->scrollTo(model_->index(lastFailed));
    announcer_->announce(heard.join(QStringLiteral("；")));
}

}  // namespace corvane
