#include "views/main/drop_zone.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVariantAnimation>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "views/animations.h"
#include "views/controls.h"
#include "views/data_labels.h"
#include "views/picker.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kMarginH = 16;
constexpr int kMarginTop = 12;
constexpr int kMarginBottom = 10;

QColor mix(const QColor& from, const QColor& to, double t) {
    const auto lerp = [t](float a, float b) { return a + float(t) * (b - a); };
    return QColor::fromRgbF(lerp(from.redF(), to.redF()), lerp(from.greenF(), to.greenF()),
                            lerp(from.blueF(), to.blueF()), lerp(from.alphaF(), to.alphaF()));
}

}  // namespace

DropZone::DropZone(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("dropZone"));
    setAcceptDrops(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kMarginH, kMarginTop + 15, kMarginH, kMarginBottom + 15);
    column->setSpacing(7);

    icon_ = new SymbolLabel("arrow.down.to.line.compact", 19, Theme::secondary(), this);
    QFont light = icon_->font();
    light.setWeight(QFont::Light);
    icon_->setFont(light);
    caption_ = new PlainLabel({}, this);
    caption_->setObjectName(QStringLiteral("dropCaption"));
    caption_->setFont(Theme::font(12.5, Weight::medium));
    caption_->setAlignment(Qt::AlignCenter);
    auto* line = new PlainLabel(QStringLiteral("支持多选、文件夹（保留目录结构）、大文件断点续传"), this);
    line->setFont(Theme::font(10.5));
    Theme::setTextColor(line, Theme::tertiary());
    line->setAlignment(Qt::AlignCenter);
    column->addWidget(icon_, 0, Qt::AlignHCenter);
    column->addWidget(caption_);
    column->addWidget(line, 0, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(7);
    buttons->setContentsMargins(0, 2, 0, 0);
    auto* files = smallButton(QStringLiteral("选择文件"), this);
    files->setObjectName(QStringLiteral("pickFilesButton"));
    auto* folders = smallButton(QStringLiteral("选择文件夹"), this);
    folders->setObjectName(QStringLiteral("pickFolderButton"));
    buttons->addStretch(1);
    buttons->addWidget(files);
    buttons->addWidget(folders);
    buttons->addStretch(1);
    column->addLayout(buttons);
    connect(files, &QPushButton::clicked, this, [this] { Picker::pickFiles(state_); });
    connect(folders, &QPushButton::clicked, this, [this] { Picker::pickFolder(state_); });

    animation_ = new QVariantAnimation(this);
    animation_->setDuration(120);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        look_ = value.toDouble();
        update();
    });

    connect(&state_, &AppState::targetChanged, this, &DropZone::showTarget);
    showTarget();
}

QString DropZone::caption() const {
    const QString name = QString::fromStdString(state_.target().peer ? state_.target().peer->name : "本机");
    if (targeted_) return QStringLiteral("松手即发送到「") + name + QStringLiteral("」");
    if (state_.target().isLocal()) return QStringLiteral("把文件拖到这里，存到本机");
    return QStringLiteral("把文件拖到这里，发到「") + name + QStringLiteral("」");
}

void DropZone::showTarget() {
    caption_->setText(caption());
    const QColor accent = Theme::tint(Tint::accent);
    Theme::setTextColor(caption_, targeted_ ? accent : Theme::primary());
    icon_->setColor(targeted_ ? accent : Theme::secondary());
}

std::vector<std::filesystem::path> DropZone::localItems(const QMimeData* data) {
    std::vector<std::filesystem::path> items;
    if (!data) return items;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) items.emplace_back(url.toLocalFile().toStdString());
    }
    return items;
}

void DropZone::setTargeted(bool on) {
    if (on == targeted_) return;
    targeted_ = on;
    showTarget();
    animation_->stop();
    animation_->setStartValue(look_);
    animation_->setEndValue(on ? 1.0 : 0.0);
    startAnimation(animation_);
}

void DropZone::dragEnterEvent(QDragEnterEvent* event) {
    if (localItems(event->mimeData()).empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setTargeted(true);
}

void DropZone::dragLeaveEvent(QDragLeaveEvent* event) {
    setTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void DropZone::dropEvent(QDropEvent* event) {
    // Read at once: the drag's data lives only as long as the event.
    const std::vector<std::filesystem::path> items = localItems(event->mimeData());
    event->acceptProposedAction();
    setTargeted(false);
    if (!items.empty()) state_.send(items);
}

QRect DropZone::frameRect() const {
    return rect().adjusted(kMarginH, kMarginTop, -kMarginH, -kMarginBottom);
}

QColor DropZone::fillColor() const { return mix(Theme::primary(0.018), Theme::tint(Tint::accent, 0.10), look_); }

QColor DropZone::borderColor() const { return mix(Theme::secondary(0.32), Theme::tint(Tint::accent), look_); }

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(frameRect()).adjusted(0.7, 0.7, -0.7, -0.7);  // the border inside the edge
    painter.setBrush(fillColor());
    QPen pen(borderColor(), 1.4);
    pen.setDashPattern({6 / 1.4, 4 / 1.4});  // 6 px drawn, 4 px gap
    pen.setDashOffset(0);
    painter.setPen(pen);
    painter.drawRoundedRect(frame, 11, 11);
}

}  // namespace corvane
