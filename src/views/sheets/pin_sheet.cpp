#include "views/sheets/pin_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/symbols.h"

namespace corvane {

PINSheet::PINSheet(AppState& state, const Peer& peer, QWidget* parent)
    : Sheet(QStringLiteral("访问口令"), 340, 14, parent), state_(state) {
    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    header->addWidget(new SymbolLabel("lock.shield", 13, Theme::tint(Tint::accent), this));
    QLabel* title = sheetLabel(QStringLiteral("「") + QString::fromStdString(peer.name) + QStringLiteral("」需要访问口令"),
                               13, Weight::semibold, Theme::primary(), true, this);
    title->setObjectName(QStringLiteral("pinHeader"));
    header->addWidget(title, 1);
    column()->addLayout(header);

    column()->addWidget(sheetLabel(QStringLiteral("这台设备开启了口令保护，输入正确口令后才能浏览和发送文件。"), 11.5,
                                   Weight::regular, Theme::secondary(), true, this));

    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("pinField"));
    field_->setPlaceholderText(QStringLiteral("口令"));
    field_->setAccessibleName(QStringLiteral("口令"));
    column()->addWidget(field_);
    showPinInput();

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    QPushButton* cancel = sheetButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("pinCancel"));
    QPushButton* connectButton = sheetButton(QStringLiteral("连接"), this);
    connectButton->setObjectName(QStringLiteral("pinConnect"));
    buttons->addWidget(cancel);
    buttons->addWidget(connectButton);
    column()->addLayout(buttons);
    setDefaultButton(connectButton);
    setInitialFocus(field_);

    connect(field_, &QLineEdit::textEdited, this, [this](const QString& text) { state_.setPinInput(text.toStdString()); });
    // Return in the field reaches "连接" as well; confirmPIN() acts only while the prompt is open.
    connect(field_, &QLineEdit::returnPressed, this, [this] { state_.confirmPIN(); });
    connect(connectButton, &QPushButton::clicked, this, [this] { state_.confirmPIN(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);  // the host writes pinPromptFor back
    connect(&state_, &AppState::pinInputChanged, this, &PINSheet::showPinInput);
}

void PINSheet::showPinInput() {
    const QString text = QString::fromStdString(state_.pinInput());
    if (field_->text() == text) return;
    const QSignalBlocker quiet(field_);
    field_->setText(text);
}

}  // namespace corvane
