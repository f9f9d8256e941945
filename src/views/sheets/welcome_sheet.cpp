#include "views/sheets/welcome_sheet.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/controls.h"
#include "views/symbols.h"

namespace corvane {

namespace {

constexpr int sheetWidth = 620;
constexpr int sideMargin = 26;
constexpr int cardSpacing = 14;

const std::vector<WelcomeCard>& cards() {
    static const std::vector<WelcomeCard> list = {
        {"wifi", Tint::blue, QStringLiteral("局域网模式"), QStringLiteral("免注册"),
         {QStringLiteral("自动发现同一 WiFi 下的所有设备"), QStringLiteral("点谁发给谁，文件不经过服务器"),
          QStringLiteral("手机 / 电脑互传、办公室聊天都能用")},
         QStringLiteral("就用这个"), "welcomeLan", "lan"},
        {"person.2.badge.gearshape", Tint::orange, QStringLiteral("团队模式"), QStringLiteral("需要账号"),
         {QStringLiteral("一台电脑当中心存储，其他人注册后使用"), QStringLiteral("共享区 + 每人私有备份，浏览器也能访问"),
          QStringLiteral("可以给团队起名、上传自己的 Logo")},
         QStringLiteral("去启用 / 登录"), "welcomeTeam", "team"},
    };
    return list;
}

QLabel* tagPill(const QString& tag, const QColor& color, QWidget* parent) {
    QLabel* pill = sheetLabel(tag, 9.5, Weight::semibold, color, false, parent);
    QColor fill = color;
    fill.setAlphaF(0.15);
    pill->setStyleSheet(QStringLiteral("QLabel { background: rgba(%1,%2,%3,%4); border-radius: 7px; padding: 2px 6px; }")
                            .arg(fill.red())
                            .arg(fill.green())
                            .arg(fill.blue())
                            .arg(fill.alphaF()));
    return pill;
}

}  // namespace

WelcomeSheet::WelcomeSheet(AppState& state, QWidget* parent)
    : Sheet(QStringLiteral("欢迎使用Corvane"), sheetWidth, 0, parent), state_(state) {
    column()->setContentsMargins(0, 0, 0, 0);
    Theme::setBackground(this, Theme::window());

    auto* header = new QVBoxLayout();
    header->setSpacing(6);
    header->setContentsMargins(0, 26, 0, 20);
    header->addWidget(sheetLabel(QStringLiteral("欢迎使用Corvane"), 19, Weight::bold, Theme::primary(), false, this), 0,
                      Qt::AlignHCenter);
    header->addWidget(sheetLabel(QStringLiteral("先选一个用法，之后随时能改。"), 12, Weight::regular, Theme::secondary(),
                                 false, this),
                      0, Qt::AlignHCenter);
    column()->addLayout(header);

    // Both cards share the row equally; a taller one grows and the other stays centred beside it.
    auto* row = new QHBoxLayout();
    row->setSpacing(cardSpacing);
    row->setContentsMargins(sideMargin, 0, sideMargin, 0);
    for (const WelcomeCard& choice : cards()) row->addWidget(card(choice), 0, Qt::AlignVCenter);
    column()->addLayout(row);

    QLabel* note = sheetLabel(QStringLiteral("局域网模式不需要任何账号，装完就能用；团队模式只是多一个「中央仓库」。"), 10.5,
                              Weight::regular, Theme::tertiary(), false, this);
    note->setContentsMargins(0, 16, 0, 0);
    column()->addWidget(note, 0, Qt::AlignHCenter);

    auto* footer = new QHBoxLayout();
    footer->setContentsMargins(sideMargin, 18, sideMargin, 18);
    footer->addStretch(1);
    QPushButton* later = smallButton(QStringLiteral("稍后再说"), this);
    later->setObjectName(QStringLiteral("welcomeLater"));
    connect(later, &QPushButton::clicked, this, [this] { state_.finishWelcome("lan"); });
    footer->addWidget(later);
    column()->addLayout(footer);

    setInitialFocus(this);  // no button: a key pressed at once presses nothing
    QCoreApplication::instance()->installEventFilter(this);
}

bool WelcomeSheet::eventFilter(QObject* watched, QEvent* event) {
    // The quit closes every window first; only while it does is a close let through.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
        quitting_ = true;
        QTimer::singleShot(0, this, [this] { quitting_ = false; });
    }
    return Sheet::eventFilter(watched, event);
}

void WelcomeSheet::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        event->accept();
    } else {
        event->ignore();
    }
}

QWidget* WelcomeSheet::card(const WelcomeCard& choice) {
    const QColor color = Theme::tint(choice.color);
    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("welcomeCard"));
    card->setFixedWidth((sheetWidth - 2 * sideMargin - cardSpacing) / 2);
    card->setMinimumHeight(cardMinHeight);
    card->setStyleSheet(QStringLiteral("QFrame#welcomeCard { background: rgba(0,0,0,0.034); border: 1px solid "
                                       "rgba(0,0,0,0.068); border-radius: 12px; }"));
    auto* stack = new QVBoxLayout(card);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(10);

    auto* head = new QHBoxLayout();
    head->setSpacing(8);
    head->addWidget(new SymbolLabel(choice.icon, 17, color, card));
    head->addWidget(sheetLabel(choice.title, 13.5, Weight::semibold, Theme::primary(), false, card));
    head->addWidget(tagPill(choice.tag, color, card));
    head->addStretch(1);
    stack->addLayout(head);

    auto* bullets = new QVBoxLayout();
    bullets->setSpacing(6);
    QColor bulletColor = color;
    bulletColor.setAlphaF(0.8);
    for (const QString& line : choice.lines) {
        auto* bulletRow = new QHBoxLayout();
        bulletRow->setSpacing(6);
        bulletRow->addWidget(sheetLabel(QStringLiteral("·"), 11, Weight::bold, bulletColor, false, card), 0, Qt::AlignTop);
        bulletRow->addWidget(sheetLabel(line, 11, Weight::regular, Theme::secondary(), true, card), 1, Qt::AlignTop);
        bullets->addLayout(bulletRow);
    }
    stack->addLayout(bullets);
    stack->addStretch(1);
    stack->addSpacing(4);

    QPushButton* button = prominentButton(choice.action, color, card);
    button->setObjectName(QString::fromLatin1(choice.objectName));
    connect(button, &QPushButton::clicked, this, [this, mode = std::string(choice.mode)] { state_.finishWelcome(mode); });
    stack->addWidget(button, 0, Qt::AlignHCenter);
    return card;
}

}  // namespace corvane
