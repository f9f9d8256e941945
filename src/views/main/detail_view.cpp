#include "views/main/detail_view.h"

#include <QDialog>
#include <QVBoxLayout>

#include "app/app_state.h"
#include "updater/updater.h"
#include "views/controls.h"
#include "views/main/detail_header.h"
#include "views/main/drop_zone.h"
#include "views/main/file_area.h"
#include "views/main/queue_panel.h"
#include "views/main/recv_panel.h"
#include "views/sheets/settings_sheet.h"

namespace corvane {

namespace {

QWidget* panelSlot(const char* name, QWidget* parent) {
    auto* slot = new QWidget(parent);
    slot->setObjectName(QString::fromLatin1(name));
    auto* column = new QVBoxLayout(slot);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return slot;
}

}  // namespace

DetailView::DetailView(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("detailView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    header_ = new DetailHeader(state_, this);
    dropZone_ = new DropZone(state_, this);
    fileArea_ = new FileArea(state_, this);
    // The pane's dividers are lighter than the window's rules.
    constexpr double dividerOpacity = 0.6;
    receiveRule_ = new Rule(Qt::Horizontal, this, dividerOpacity);
    receiveSlot_ = panelSlot("receivePanelSlot", this);
    queueRule_ = new Rule(Qt::Horizontal, this, dividerOpacity);
    queueSlot_ = panelSlot("queuePanelSlot", this);
    receiveSlot_->layout()->addWidget(new RecvPanel(state_, receiveSlot_));
    queueSlot_->layout()->addWidget(new QueuePanel(state_, queueSlot_));
    column->addWidget(header_);
    auto* headerRule = new Rule(Qt::Horizontal, this, dividerOpacity);
    headerRule->setObjectName(QStringLiteral("detailHeaderRule"));
    column->addWidget(headerRule);
    column->addWidget(dropZone_);
    column->addWidget(fileArea_, 1);
    column->addWidget(receiveRule_);
    column->addWidget(receiveSlot_);
    column->addWidget(queueRule_);
    column->addWidget(queueSlot_);

    connect(header_, &DetailHeader::settingsRequested, this, [this] { setShowSettings(true); });
    connect(&state_, &AppState::recvTasksChanged, this, &DetailView::showPanels);
    connect(&state_, &AppState::uploaderChanged, this, &DetailView::showPanels);
    showPanels();
}

void DetailView::showPanels() {
    const bool receiving = !state_.recvTasks().empty();
    const bool sending = !state_.uploader().tasks().empty();
    receiveRule_->setVisible(receiving);
    receiveSlot_->setVisible(receiving);
    queueRule_->setVisible(sending);
    queueSlot_->setVisible(sending);
}

QDialog* DetailView::makeSettingsSheet(AppState& state, Updater& updater, QWidget* parent) {
    return new SettingsSheet(state, updater, parent);
}

void DetailView::setShowSettings(bool on) {
    if (on == showSettings_) return;
    showSettings_ = on;
    if (!on) {
        if (settings_) settings_->close();
        return;
    }
    QDialog* sheet = makeSettingsSheet(state_, Updater::shared(), window());
    sheet->setObjectName(QStringLiteral("settingsSheet"));
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    settings_ = sheet;
    // However the sheet closes, the flag follows.
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        if (settings_ == sheet) {
            showSettings_ = false;
            settings_ = nullptr;
        }
    });
    sheet->open();
}

}  // namespace corvane
