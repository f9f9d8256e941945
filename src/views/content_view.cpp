#include "views/content_view.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/app_state.h"

namespace corvane {

namespace {

// Text that comes from data is never read as rich text.
QLabel* plainLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QString joinedAddresses(const std::vector<std::string>& ips) {
    QStringList list;
    for (const std::string& ip : ips) list << QString::fromStdString(ip);
    return list.join(QStringLiteral(", "));
}

}  // namespace

ContentView::ContentView(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setMinimumSize(880, 600);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);

    auto* title = plainLabel(this);
    title->setText(QStringLiteral("Corvane"));
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);

    deviceLabel_ = plainLabel(this);
    addressLabel_ = plainLabel(this);
    layout->addWidget(deviceLabel_);
    layout->addWidget(addressLabel_);
    layout->addStretch(1);

    toastLabel_ = plainLabel(this);
    toastLabel_->setStyleSheet(QStringLiteral("QLabel { background: rgba(0,0,0,170); color: white; "
                                              "border-radius: 8px; padding: 6px 14px; }"));
    layout->addWidget(toastLabel_, 0, Qt::AlignHCenter | Qt::AlignBottom);

    connect(&state_, &AppState::deviceNameChanged, this, &ContentView::showDevice);
    connect(&state_, &AppState::portChanged, this, &ContentView::showDevice);
    connect(&state_, &AppState::localIPsChanged, this, &ContentView::showDevice);
    connect(&state_, &AppState::toastChanged, this, &ContentView::showToast);
    showDevice();
    showToast();
}

QSize ContentView::sizeHint() const { return {1040, 720}; }

QSize ContentView::minimumSizeHint() const { return {880, 600}; }

void ContentView::showDevice() {
    deviceLabel_->setText(QString::fromStdString(state_.deviceName()));
    if (state_.port() == 0) {
        addressLabel_->setText(QStringLiteral("未在监听"));
        return;
    }
    const QString ips = joinedAddresses(state_.localIPs());
    addressLabel_->setText(QStringLiteral("端口 %1%2").arg(state_.port()).arg(ips.isEmpty() ? QString() : QStringLiteral(" · ") + ips));
}

void ContentView::showToast() {
    const auto& toast = state_.toast();
    toastLabel_->setVisible(toast.has_value());
    toastLabel_->setText(toast ? QString::fromStdString(*toast) : QString());
}

}  // namespace corvane
