#include "views/main/chat_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/dialog_keys.h"
#include "views/main/chat_conv_list.h"
#include "views/main/chat_pane.h"
#include "views/main/row_action_list.h"
#include "views/screen_fit.h"
#include "views/sheet_edge.h"
#include "views/theme.h"
#include "views/window_frame.h"

namespace corvane {

namespace {

// The green 6 px dot before this device's name.
class OnlineDot : public QWidget {
public:
    explicit OnlineDot(QWidget* parent) : QWidget(parent) { setFixedSize(6, 6); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::tint(Tint::green));
        painter.drawEllipse(rect());
    }
};

}  // namespace

ChatView::ChatView(AppState& state, QWidget* parent) : QDialog(parent), state_(state) {
    closeButtonOnly(this);
    setWindowTitle(QStringLiteral("办公室聊天"));
    setFixedSize(930, 630);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(makeListColumn());
    row->addWidget(new Rule(Qt::Vertical, this));
    pane_ = new ChatPane(state_, this);
    row->addWidget(pane_, 1);
    new SheetEdge(this);
    // Its title bar, known once a window manager has framed it, must lie on the screen too.
    whenExposed(this, [this] { keepOnScreen(this); });

    connect(&state_, &AppState::chatConvsChanged, this, [this] { model_->setConvs(state_.chatConvs()); });
    connect(&state_, &AppState::chatCurrentChanged, this, [this] { model_->setCurrent(state_.chatCurrent()); });
    connect(&state_, &AppState::deviceNameChanged, this,
            [this] { self_->setText(QStringLiteral("本机 · ") + QString::fromStdString(state_.deviceName())); });
}

QWidget* ChatView::makeListColumn() {
    auto* column = new QWidget(this);
    column->setFixedWidth(listWidth);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(14, 14, 14, 10);
    header->setSpacing(3);
    header->addWidget(textLabel(QStringLiteral("办公室聊天"), 15, Theme::primary(), column, Weight::semibold));
    auto* selfLine = new QHBoxLayout;
    selfLine->setSpacing(5);
    selfLine->addWidget(new OnlineDot(column), 0, Qt::AlignVCenter);
    self_ = new ElidedLabel(QStringLiteral("本机 · ") + QString::fromStdString(state_.deviceName()), Qt::ElideRight,
                            column);
    self_->setObjectName(QStringLiteral("chatSelf"));
    self_->setFont(Theme::font(10.5));
    Theme::setTextColor(self_, Theme::secondary());
    selfLine->addWidget(self_, 1);
    header->addLayout(selfLine);
    layout->addLayout(header);

    // A row list: Tab reaches it, the arrows move through it, and Return or Enter opens the row,
    // as a click does; it reports a row focused only while it holds the keys. The id is copied
    // now; the conversation opens once the event is over, as the list may change under it.
    // Rows are known by their conversation: one a new message moves keeps the keys. Its one
    // action needs no menu.
    auto* list = new RowActionList(column);
    list_ = list;
    list_->setObjectName(QStringLiteral("chatConvList"));
    list_->setAccessibleName(QStringLiteral("会话"));
    list_->setUniformItemSizes(true);
    QPalette palette = list_->palette();
    palette.setColor(QPalette::Base, Theme::window());
    list_->setPalette(palette);
    model_ = new ChatConvModel(list_);
    delegate_ = new ChatConvDelegate(list_);
    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    model_->setConvs(state_.chatConvs());
    model_->setCurrent(state_.chatCurrent());
    const auto openRow = [this](const QModelIndex& index) {
        if (!index.isValid() || index.row() >= model_->rowCount()) return;
        const std::string id = model_->conv(index.row()).id;
        QTimer::singleShot(0, this, [this, id] { state_.openChat(id); });
    };
    list->setActions([this](const QModelIndex& index) {
        const std::string id = model_->conv(index.row()).id;
        const auto open = [this, id] { state_.openChat(id); };
        return std::vector<RowActionList::Action>{{QStringLiteral("打开"), Qt::Key_Return, open}};
    });
    list->setRowKey([this](const QModelIndex& index) { return QString::fromStdString(model_->conv(index.row()).id); });
    list->setMenuOffered(false);
    connect(list_, &QListView::clicked, this, openRow);
    layout->addSpacing(4);
    layout->addWidget(list_, 1);
    layout->addSpacing(4);

    layout->addWidget(new Rule(Qt::Horizontal, column));
    auto* footer = new PlainLabel(QStringLiteral("局域网内直连，不经过任何服务器"), column);
    footer->setFont(Theme::font(9.5));
    Theme::setTextColor(footer, Theme::tertiary());
    footer->setContentsMargins(12, 8, 12, 8);
    layout->addWidget(footer);
    return column;
}

void ChatView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred over the main window as the sheets are, and wholly on the screen.
    if (!event->spontaneous()) placeOverParent(this);
    pane_->focusInput();
    if (opened_) return;
    opened_ = true;
    state_.openChat(state_.chatCurrent());
}

void ChatView::keyPressEvent(QKeyEvent* event) {
    if (pressForReturn(this, event, nullptr)) return;
    QDialog::keyPressEvent(event);  // Escape: the close of "完成"
}

}  // namespace corvane
