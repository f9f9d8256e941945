#include "views/main/recv_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "engine/format.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/main/transfer_progress.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

RecvRow::RecvRow(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 4, 16, 4);
    row->setSpacing(9);
    icon_ = new SymbolLabel("arrow.down.circle.fill", 11, Theme::tint(Tint::accent), this);
    icon_->setFixedWidth(16);
    icon_->setAlignment(Qt::AlignCenter);
    row->addWidget(icon_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    name_ = new ElidedLabel({}, Qt::ElideMiddle, this);
    name_->setFont(Theme::font(11.5));
    name_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    sender_ = new PlainLabel({}, this);
    sender_->setFont(Theme::font(9.5));
    Theme::setTextColor(sender_, Theme::tertiary());
    status_ = textLabel({}, 9.5, Theme::secondary(), this);
    line->addWidget(name_, 0);
    line->addWidget(sender_, 0);
    line->addStretch(1);
    line->addSpacing(4);
    line->addWidget(status_);
    texts->addLayout(line);
    bar_ = new ProgressLine(this);
    bar_->setAccessibleName(QStringLiteral("接收进度"));
    texts->addWidget(bar_);
    row->addLayout(texts, 1);
}

QString RecvRow::senderText(const AppState::RecvItem& item) {
    return QStringLiteral("来自 ") + (item.from.empty() ? QStringLiteral("局域网设备") : QString::fromStdString(item.from));
}

QString RecvRow::statusText(const AppState::RecvItem& item) {
    if (finished(item)) return QStringLiteral("✓ ") + QString::fromStdString(humanSize(item.size));
    return QString::number(wholePercent(item.received, item.size, false)) + QStringLiteral("% · ") +
           QString::fromStdString(humanSpeed(item.speed));
}

void RecvRow::setItem(const AppState::RecvItem& item) {
    setObjectName(QStringLiteral("recvRow:") + QString::fromStdString(item.id));
    const bool done = finished(item);
    icon_->setColor(done ? Theme::tint(Tint::green) : Theme::tint(Tint::accent));
    name_->setText(QString::fromStdString(item.name));
    sender_->setText(senderText(item));
    status_->setText(statusText(item));
    bar_->setVisible(!done);
    bar_->setFraction(progressFraction(item.received, item.size, false));
}

QSize RecvRow::sizeHint() const {
    // Unfinished and finished rows keep one height, so rows never jump.
    const int line = QFontMetrics(Theme::font(11.5)).height();
    return {QWidget::sizeHint().width(), 4 + line + 3 + ProgressLine::thickness + 4};
}

RecvRows::RecvRows(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void RecvRows::setRows(const std::vector<RecvRow*>& rows) {
    rows_ = rows;
    place();
    updateGeometry();
}

QSize RecvRows::sizeHint() const {
    int height = 0;
    for (const RecvRow* row : rows_) height += row->sizeHint().height();
    return {0, height};
}

QSize RecvRows::minimumSizeHint() const { return {0, 0}; }

void RecvRows::resizeEvent(QResizeEvent*) { place(); }

void RecvRows::place() {
    int top = 0;
    for (RecvRow* row : rows_) {
        const int height = row->sizeHint().height();
        row->setGeometry(0, top, width(), height);
        row->setVisible(true);
        top += height;
    }
}

RecvPanel::RecvPanel(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("recvPanel"));
    Theme::setBackground(this, Theme::primary(0.022));
    setMaximumHeight(maxHeight);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    QHBoxLayout* header = transferPanelHeader("arrow.down.circle", QStringLiteral("正在接收"), this);
    header->addStretch(1);
    column->addLayout(header);
    area_ = new RecvRows(this);
    column->addWidget(area_, 1);
    connect(&state_, &AppState::recvTasksChanged, this, &RecvPanel::refresh);
    refresh();
}

RecvRow* RecvPanel::row(const std::string& id) const {
    const auto found = rows_.find(id);
    return found == rows_.end() ? nullptr : found->second;
}

void RecvPanel::refresh() {
    const std::vector<AppState::RecvItem>& items = state_.recvTasks();
    if (items == shown_) return;
    std::map<std::string, RecvRow*> kept;
    std::vector<RecvRow*> ordered;
    for (const AppState::RecvItem& item : items) {
        if (kept.count(item.id)) continue;  // one row per id
        RecvRow* row = this->row(item.id);
        if (!row) row = new RecvRow(area_);
        row->setItem(item);
        kept[item.id] = row;
        ordered.push_back(row);
    }
    for (const auto& [id, row] : rows_) {
        if (kept.count(id)) continue;
        row->hide();
        row->deleteLater();
    }
    rows_ = std::move(kept);
    shown_ = items;
    area_->setRows(ordered);
}

}  // namespace corvane
