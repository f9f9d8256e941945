#include "views/sheets/feedback_sheet.h"

#include <thread>

#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include "app/feedback_submitter.h"
#include "base/cfg.h"
#include "updater/main_thread_post.h"
#include "views/announcer.h"
#include "views/controls.h"
#include "views/symbols.h"
#include "views/text_metrics.h"
#include "views/typed_text_edit.h"

namespace corvane {

namespace {

// The text as sent: without whitespace and line breaks at either end.
QString trimmedText(const TypedTextEdit* editor) { return editor->typedText().trimmed(); }

bool longEnough(const QString& text) { return characterCount(text.toStdString()) >= 2; }

QString thanksLine() { return QStringLiteral("已经收到了，谢谢！"); }

// A segment as what it is: one choice of several, checked or not, chosen by its press.
class SegmentAccessible : public QAccessibleWidget {
public:
    explicit SegmentAccessible(QPushButton* button)
        : QAccessibleWidget(button, QAccessible::RadioButton, button->text()) {
        addControllingSignal(QStringLiteral("toggled(bool)"));
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        return state;
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            button()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QPushButton* button() const { return static_cast<QPushButton*>(widget()); }
};

QAccessibleInterface* segmentAccessible(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) return nullptr;
    // The picker is a named group of radio buttons.
    if (widget->objectName() == QStringLiteral("feedbackKinds")) return new QAccessibleWidget(widget, QAccessible::Grouping);
    auto* button = qobject_cast<QPushButton*>(object);
    if (button == nullptr || !button->objectName().startsWith(QStringLiteral("feedbackKind:"))) return nullptr;
    return new SegmentAccessible(button);
}

// The segments keyed as a group of radio buttons: Tab and Shift+Tab stop only on the
// chosen one, and the arrows choose the one before or after it, round the group, the
// keys going with the choice and never leaving the group.
class RadioKeys : public QObject {
public:
    explicit RadioKeys(QButtonGroup* group) : QObject(group), group_(group) {
        for (QAbstractButton* button : group_->buttons()) button->installEventFilter(this);
        connect(group_, &QButtonGroup::buttonToggled, this, [this] { stopOnChosen(); });
        stopOnChosen();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const int step = stepOf(static_cast<QKeyEvent*>(event)->key());
        if (step == 0) return false;
        const QList<QAbstractButton*> buttons = group_->buttons();
        const int at = int(buttons.indexOf(static_cast<QAbstractButton*>(watched)));
        QAbstractButton* next = buttons.at((at + step + int(buttons.size())) % int(buttons.size()));
        next->setChecked(true);
        next->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return true;
    }

private:
    static int stepOf(int key) {
        if (key == Qt::Key_Left || key == Qt::Key_Up) return -1;
        if (key == Qt::Key_Right || key == Qt::Key_Down) return 1;
        return 0;
    }
    void stopOnChosen() {
        for (QAbstractButton* button : group_->buttons()) {
            button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        }
    }

    QButtonGroup* group_;
};

// One segment of the category picker; the first and last get the rounded ends.
QPushButton* segment(const QString& title, int index, int count, QWidget* parent) {
    QPushButton* button = sheetButton(title, parent);
    button->setObjectName(QStringLiteral("feedbackKind:") + title);
    // The accessible object made for it as a plain button goes: the segment's is made instead.
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(button)));
    button->setCheckable(true);
    button->setFont(Theme::font(11.5));
    const QString left = index == 0 ? QStringLiteral("5px") : QStringLiteral("0px");
    const QString right = index == count - 1 ? QStringLiteral("5px") : QStringLiteral("0px");
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: white; color: rgba(0,0,0,0.85); border: 1px solid rgba(0,0,0,0.15);"
                       " padding: 3px 14px; border-top-left-radius: %1; border-bottom-left-radius: %1;"
                       " border-top-right-radius: %2; border-bottom-right-radius: %2; }"
                       " QPushButton:checked { background: %3; color: white; border-color: %3; }")
            .arg(left, right, Theme::tint(Tint::accent).name()));
    return button;
}

}  // namespace

const QStringList FeedbackSheet::kinds = {QStringLiteral("问题反馈"), QStringLiteral("功能建议"), QStringLiteral("其他")};

FeedbackSheet::FeedbackSheet(std::shared_ptr<const FeedbackSubmitter> submitter, QWidget* parent)
    : Sheet(QStringLiteral("体验反馈"), 460, 14, parent), submitter_(std::move(submitter)) {
    static const bool factoryInstalled = (QAccessible::installFactory(segmentAccessible), true);
    (void)factoryInstalled;
    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    header->addWidget(new SymbolLabel("bubble.left.and.text.bubble.right", 13, Theme::tint(Tint::accent), this));
    auto* titles = new QVBoxLayout();
    titles->setSpacing(1);
    titles->addWidget(sheetLabel(QStringLiteral("体验反馈"), 14, Weight::semibold, Theme::primary(), false, this));
    titles->addWidget(sheetLabel(QStringLiteral("用着不顺、想要什么功能，都可以写这里"), 11, Weight::regular,
                                 Theme::secondary(), false, this));
    header->addLayout(titles);
    header->addStretch(1);
    column()->addLayout(header);

    thanks_ = makeThanks();
    thanks_->hide();
    column()->addWidget(thanks_);
    form_ = makeForm();
    column()->addWidget(form_);

    announcer_ = new Announcer(this);
    submitKeys_.emplace(submit_);
    setDefaultButton(submit_);
    setInitialFocus(text_);
    updateSubmit();
}

QWidget* FeedbackSheet::makeForm() {
    auto* form = new QWidget(this);
    auto* rows = new QVBoxLayout(form);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(14);

    auto* pickerBox = new QWidget(form);
    pickerBox->setObjectName(QStringLiteral("feedbackKinds"));
    pickerBox->setAccessibleName(QStringLiteral("反馈类型"));
    auto* picker = new QHBoxLayout(pickerBox);
    picker->setContentsMargins(0, 0, 0, 0);
    picker->setSpacing(0);
    kind_ = new QButtonGroup(form);
    kind_->setExclusive(true);
    for (int i = 0; i < kinds.size(); ++i) {
        QPushButton* button = segment(kinds[i], i, int(kinds.size()), pickerBox);
        button->setChecked(i == 0);
        kind_->addButton(button, i);
        picker->addWidget(button);
    }
    picker->addStretch(1);
    new RadioKeys(kind_);
    rows->addWidget(pickerBox);

    auto* textBlock = new QVBoxLayout();
    textBlock->setSpacing(5);
    QLabel* textLabel = sheetLabel(QStringLiteral("具体说说"), 11, Weight::regular, Theme::secondary(), false, form);
    text_ = new TypedTextEdit(form);
    text_->setObjectName(QStringLiteral("feedbackText"));
    text_->setAccessibleName(QStringLiteral("具体说说"));
    text_->setFont(Theme::font(12.5));
    text_->setFixedHeight(140);
    text_->setTabChangesFocus(true);
    // 6 px of padding plus the 5 px a text editor keeps around its lines.
    setUpTextBox(text_, Theme::primary(0.04), Theme::primary(0.1), 7, 11);
    textLabel->setBuddy(text_);
    textBlock->addWidget(textLabel);
    textBlock->addWidget(text_);
    textBlock->addWidget(helpLine(QStringLiteral("比如：点了哪一步、出现什么现象、你希望变成什么样"), form));
    rows->addLayout(textBlock);

    auto* contactBlock = new QVBoxLayout();
    contactBlock->setSpacing(5);
    QLabel* contactLabel = sheetLabel(QStringLiteral("联系方式（可选）"), 11, Weight::regular, Theme::secondary(), false, form);
    contact_ = new QLineEdit(form);
    contact_->setObjectName(QStringLiteral("feedbackContact"));
    contact_->setAccessibleName(QStringLiteral("联系方式（可选）"));
    contact_->setPlaceholderText(QStringLiteral("微信 / 邮箱，方便我们追问细节"));
    contact_->setFont(Theme::font(11.5));
    contactLabel->setBuddy(contact_);
    contactBlock->addWidget(contactLabel);
    contactBlock->addWidget(contact_);
    rows->addLayout(contactBlock);

    msg_ = sheetLabel({}, 11, Weight::regular, Theme::tint(Tint::red), true, form);
    msg_->setObjectName(QStringLiteral("feedbackMsg"));
    msg_->hide();
    rows->addWidget(msg_);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(8);
    QLabel* footer = sheetLabel(QStringLiteral("会自动带上版本 v") + QString::fromStdString(Cfg::version()) +
                                    QStringLiteral(" 与系统信息"),
                                10, Weight::regular, Theme::tertiary(), false, form);
    footer->setObjectName(QStringLiteral("feedbackFooter"));
    buttons->addWidget(footer);
    buttons->addStretch(1);
    QPushButton* cancel = sheetButton(QStringLiteral("取消"), form);
    cancel->setObjectName(QStringLiteral("feedbackCancel"));
    submit_ = sheetButton(QStringLiteral("提交"), form);
    submit_->setObjectName(QStringLiteral("feedbackSubmit"));
    buttons->addWidget(cancel);
    buttons->addWidget(submit_);
    rows->addLayout(buttons);

    connect(text_, &QPlainTextEdit::textChanged, this, &FeedbackSheet::updateSubmit);
    // Cancelling leaves a request in flight running; its result finds no sheet.
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(submit_, &QPushButton::clicked, this, &FeedbackSheet::send);
    return form;
}

QWidget* FeedbackSheet::makeThanks() {
    auto* thanks = new QWidget(this);
    thanks->setObjectName(QStringLiteral("feedbackThanks"));
    auto* stack = new QVBoxLayout(thanks);
    stack->setContentsMargins(0, 26, 0, 26);
    stack->setSpacing(10);
    stack->addWidget(new SymbolLabel("checkmark.circle.fill", 34, Theme::tint(Tint::green), thanks), 0, Qt::AlignHCenter);
    stack->addWidget(sheetLabel(thanksLine(), 13, Weight::medium, Theme::primary(), false, thanks),
                     0, Qt::AlignHCenter);
    stack->addWidget(sheetLabel(QStringLiteral("你的建议会直接影响下一个版本。"), 11, Weight::regular,
                                Theme::secondary(), false, thanks),
                     0, Qt::AlignHCenter);
    return thanks;
}

void FeedbackSheet::updateSubmit() {
    submit_->setText(sending_ ? QStringLiteral("提交中…") : QStringLiteral("提交"));
    submitKeys_->setEnabled(!sending_ && longEnough(trimmedText(text_)));
}

void FeedbackSheet::showMessage(const QString& text) {
    msg_->setText(text);
    msg_->setVisible(!text.isEmpty());
}

void FeedbackSheet::send() {
    const QString text = trimmedText(text_);
    if (!longEnough(text)) {
        showMessage(QStringLiteral("多写几个字吧"));
        return;
    }
    sending_ = true;
    showMessage({});
    updateSubmit();

    // The exchange waits for up to the time-out, so it runs on a thread of its own
    // that never holds the process; the result comes back only to this very sheet.
    const QPointer<FeedbackSheet> self(this);
    std::thread([submitter = submitter_, self, kind = kinds.value(kind_->checkedId()).toStdString(),
                 text = text.toStdString(), contact = contact_->text().toStdString()] {
        const Outcome outcome = submitter->submit(kind, text, contact);
        postToMainThread([self, outcome] {
            if (self) self->finish(outcome);
        });
    }).detach();
}

void FeedbackSheet::finish(const Outcome& outcome) {
    sending_ = false;
    if (outcome.ok()) {
        form_->hide();
        thanks_->show();
    }
    updateSubmit();
    if (!outcome.ok()) {
        const QString refusal = QString::fromStdString(outcome.refusal());
        showMessage(refusal);
        announcer_->announce(refusal);
        return;
    }
    announcer_->announce(thanksLine());
    // The timer belongs to this sheet: it never closes a feedback sheet opened later.
    QTimer::singleShot(closeDelayMs, Qt::PreciseTimer, this, &QDialog::accept);
}

}  // namespace corvane
