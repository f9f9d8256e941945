#include "views/sheets/diag_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/sheets/diag_row.h"
#include "views/spinner.h"
#include "views/symbols.h"

namespace corvane {

namespace {

QWidget* progressRow(QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("diagProgress"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(8);
    auto* spinner = new Spinner(row);
    spinner->setAccessibleName(QStringLiteral("正在检测"));
    layout->addWidget(spinner);
    layout->addWidget(sheetLabel(QStringLiteral("正在检测…"), 11.5, Weight::regular, Theme::secondary(), false, row), 1);
    return row;
}

QWidget* manualRow(const QString& entry, QWidget* parent, QPushButton** remove) {
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("diagManualRow:") + entry);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(new SymbolLabel("network", 9.5, Theme::tertiary(), row));
    QLabel* text = sheetLabel(entry, 10.5, Weight::regular, Theme::secondary(), false, row);
    text->setFont(Theme::monoFont(10.5));
    layout->addWidget(text);
    layout->addStretch(1);
    auto* button = new QPushButton(QStringLiteral("移除"), row);
    button->setObjectName(QStringLiteral("diagRemove:") + entry);
    button->setAutoDefault(false);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(Theme::font(10));
    button->setAccessibleDescription(entry);  // which of the "移除" buttons
    const QColor red = Theme::tint(Tint::red, 0.85);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px 2px; background: transparent; "
                                         "color: rgba(%1, %2, %3, %4); }")
                              .arg(red.red())
                              .arg(red.green())
                              .arg(red.blue())
                              .arg(red.alphaF()));
    layout->addWidget(button);
    *remove = button;
    return row;
}

}  // namespace

DiagSheet::DiagSheet(AppState& state, QWidget* parent)
    : Sheet(QStringLiteral("网络诊断"), 560, 12, parent), state_(state) {
    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    header->addWidget(new SymbolLabel("wave.3.right.circle", 14, Theme::tint(Tint::accent), this));
    header->addWidget(sheetLabel(QStringLiteral("网络诊断"), 14, Weight::semibold, Theme::primary(), false, this));
    header->addStretch(1);
    // Drawn as the prominent button, but with no key: this sheet has no default action.
    QPushButton* close = prominentButton(QStringLiteral("关闭"), Theme::tint(Tint::accent), this);
    close->setObjectName(QStringLiteral("diagClose"));
    header->addWidget(close);
    column()->addLayout(header);

    column()->addWidget(
        sheetLabel(QStringLiteral("检查为什么看不到、连不上其他设备。"), 11, Weight::regular, Theme::secondary(), true, this));

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("diagResults"));
    scroll->setFixedHeight(220);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus);  // results to read, nothing to press: no Tab stop
    auto* content = new QWidget(scroll);
    results_ = new QVBoxLayout(content);
    results_->setContentsMargins(0, 0, 0, 0);
    results_->setSpacing(9);
    scroll->setWidget(content);
    column()->addWidget(scroll);

    column()->addWidget(new Rule(Qt::Horizontal, this));

    auto* manual = new QVBoxLayout();
    manual->setSpacing(6);
    manual->addWidget(sectionTitle(QStringLiteral("手动添加设备（跨网段或广播被拦时用）"), this));
    auto* inputRow = new QHBoxLayout();
    input_ = new QLineEdit(this);
    input_->setObjectName(QStringLiteral("diagManualInput"));
    input_->setPlaceholderText(QStringLiteral("192.168.1.20 或 192.168.1.20:8899"));
    input_->setAccessibleName(input_->placeholderText());
    input_->setFont(Theme::font(11.5));
    QPushButton* addButton = smallButton(QStringLiteral("添加"), this);
    addButton->setObjectName(QStringLiteral("diagAdd"));
    inputRow->addWidget(input_, 1);
    inputRow->addWidget(addButton);
    manual->addLayout(inputRow);
    manualRows_ = new QVBoxLayout();
    manualRows_->setSpacing(6);
    manual->addLayout(manualRows_);
    column()->addLayout(manual);

    auto* bottom = new QHBoxLayout();
    bottom->addStretch(1);
    rerun_ = sheetButton(QStringLiteral("重新检测"), this);
    rerun_->setObjectName(QStringLiteral("diagRerun"));
    bottom->addWidget(rerun_);
    column()->addLayout(bottom);

    showResults();
    showManualPeers();

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(addButton, &QPushButton::clicked, this, &DiagSheet::add);
    connect(rerun_, &QPushButton::clicked, this, [this] { state_.diagnose(); });
    connect(&state_, &AppState::diagLinesChanged, this, &DiagSheet::showResults);
    connect(&state_, &AppState::diagRunningChanged, this, &DiagSheet::showResults);
    connect(&state_, &AppState::manualPeersChanged, this, &DiagSheet::showManualPeers);
}

void DiagSheet::firstShown() {
    // Earlier results stay on screen; a run starts only when there are none.
    if (state_.diagLines().empty()) state_.diagnose();
}

void DiagSheet::showResults() {
    clearLayout(results_);
    QWidget* content = results_->parentWidget();
    if (state_.diagRunning() && state_.diagLines().empty()) results_->addWidget(progressRow(content));
    for (const DiagLine& line : state_.diagLines()) results_->addWidget(new DiagRow(line, content));
    results_->addStretch(1);
    rerun_->setEnabled(!state_.diagRunning());
}

void DiagSheet::showManualPeers() {
    clearLayout(manualRows_);
    for (const std::string& entry : state_.manualPeers()) {
        QPushButton* remove = nullptr;
        manualRows_->addWidget(manualRow(QString::fromStdString(entry), this, &remove));
        connect(remove, &QPushButton::clicked, this, [this, entry] { state_.removeManualPeer(entry); });
    }
}

void DiagSheet::add() {
    if (state_.addManualPeer(input_->text().toStdString())) input_->clear();
}

}  // namespace corvane
