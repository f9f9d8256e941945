#include "views/sheets/burn_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/symbols.h"
#include "views/text_metrics.h"

namespace corvane {

BurnSheet::BurnSheet(AppState& state, const BurnNote& note, QWidget* parent)
    : Sheet(QStringLiteral("阅后即焚"), 520, 11, parent), state_(state), note_(note) {
    auto* header = new QHBoxLayout();
    header->setSpacing(7);
    header->addWidget(new SymbolLabel("flame.fill", 13, Theme::tint(Tint::orange), this));
    QLabel* from = sheetLabel(QStringLiteral("阅后即焚 · 来自 ") + QString::fromStdString(note.from), 13, Weight::semibold,
                              Theme::primary(), true, this);
    from->setObjectName(QStringLiteral("burnHeader"));
    header->addWidget(from, 1);
    column()->addLayout(header);

    QLabel* warning = sheetLabel(
        QStringLiteral("这条消息没有写入磁盘，服务器上的副本已删除。关闭窗口后这里也不再保留——要留下就现在复制。"), 11,
        Weight::regular, Theme::secondary(), true, this);
    warning->setObjectName(QStringLiteral("burnWarning"));
    column()->addWidget(warning);

    // The note in a read-only box 210 high that wraps anywhere and scrolls; its text stays selectable
    // by mouse (with the keys to select all and copy) and shows no caret, as selectable text does;
    // it is what accessibility reads of it. The text starts 10 px inside the box's edge.
    auto* text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("burnText"));
    text->setAccessibleName(QStringLiteral("消息内容"));  // a multi-line box has no buddy label to name it
    text->setReadOnly(true);
    text->setPlainText(QString::fromStdString(note.text));
    text->setFont(Theme::monoFont(12));
    text->setFixedHeight(210);
    text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setUpTextBox(text, Theme::primary(0.04), Theme::primary(0.09), 8, 10);
    column()->addWidget(text);

    auto* footer = new QHBoxLayout();
    QLabel* size = sheetLabel(sizeLineText(note.text), 10.5, Weight::regular, Theme::tertiary(), false, this);
    size->setObjectName(QStringLiteral("burnSize"));
    copy_ = sheetButton(QStringLiteral("复制并关闭"), this);
    copy_->setObjectName(QStringLiteral("burnCopy"));
    QPushButton* close = sheetButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("burnClose"));
    footer->addWidget(size);
    footer->addStretch(1);
    footer->addWidget(copy_);
    footer->addWidget(close);
    column()->addLayout(footer);
    setEscapeCloses(true);

    connect(copy_, &QPushButton::clicked, this, &BurnSheet::copyAndClose);
    connect(close, &QPushButton::clicked, this, &BurnSheet::reject);
}

void BurnSheet::reject() {
    state_.closeBurnNote(note_.id);
    Sheet::reject();
}

void BurnSheet::copyAndClose() {
    if (state_.environment().copyText) state_.environment().copyText(note_.text);
    copy_->setText(QStringLiteral("已复制"));
    // AppState owns the delayed close: it outlives this sheet and spares a newer note.
    state_.closeBurnNoteSoon(note_.id);
}

}  // namespace corvane
