#include "views/text_prompt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "views/data_labels.h"

namespace corvane {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TextPrompt::TextPrompt(const TextQuestion& question, QWidget* parent)
    : Sheet(qs(question.title), width, 8, parent) {
    setObjectName(QStringLiteral("textPrompt"));
    // Names and addresses in the texts are data: plain labels.
    auto* message = new PlainLabel(qs(question.message), this);
    message->setObjectName(QStringLiteral("textPromptMessage"));
    auto* informative = new PlainLabel(qs(question.informative), this);
    informative->setObjectName(QStringLiteral("textPromptInformative"));
    styleAlertTexts(message, informative);
    column()->addWidget(message);
    column()->addWidget(informative);
    informative->setVisible(!question.informative.empty());

    field_ = new QLineEdit(qs(question.text), this);
    field_->setObjectName(QStringLiteral("textPromptField"));
    field_->setPlaceholderText(qs(question.placeholder));
    field_->setAccessibleName(qs(question.message));
    field_->setFixedSize(260, 24);
    column()->addSpacing(4);
    column()->addWidget(field_);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    QPushButton* cancel = sheetButton(qs(question.cancel), this);
    cancel->setObjectName(QStringLiteral("textPromptCancel"));
    QPushButton* confirm = sheetButton(qs(question.confirm), this);
    confirm->setObjectName(QStringLiteral("textPromptConfirm"));
    buttons->addWidget(cancel);
    buttons->addWidget(confirm);
    column()->addSpacing(8);
    column()->addLayout(buttons);

    setDefaultButton(confirm);
    setEscapeCloses(true);
    setInitialFocus(field_);
    connect(confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void styleAlertTexts(QLabel* message, QLabel* informative) {
    if (message) {
        message->setFont(Theme::font(13, Weight::semibold));
        Theme::setTextColor(message, Theme::primary());
        message->setWordWrap(true);
    }
    if (informative) {
        informative->setFont(Theme::font(11));
        Theme::setTextColor(informative, Theme::secondary());
        informative->setWordWrap(true);
    }
}

}  // namespace corvane
