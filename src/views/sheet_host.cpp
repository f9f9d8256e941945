#include "views/sheet_host.h"

#include <QDialog>
#include <QTimer>

#include "app/app_state.h"

namespace corvane {

namespace {

// A dialog this window shows that is not on its way out.
QDialog* showingDialog(QObject* object) {
    auto* dialog = qobject_cast<QDialog*>(object);
    if (!dialog || !dialog->isWindow() || !dialog->isVisible()) return nullptr;
    return dialog;
}

}  // namespace

SheetHost::SheetHost(AppState& state, QWidget* view, std::vector<SheetRow> rows, QObject* parent)
    : QObject(parent), state_(state), view_(view), rows_(std::move(rows)), shown_(rows_.size()) {
    for (const SheetRow& row : rows_) {
        if (row.changed) connect(&state_, row.changed, this, &SheetHost::scheduleSync);
    }
    scheduleSync();
}

SheetHost::~SheetHost() {
    for (Shown& shown : shown_) {
        if (!shown.dialog) continue;
        disconnect(shown.dialog, nullptr, this, nullptr);
        shown.dialog->deleteLater();
    }
}

void SheetHost::scheduleSync() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, &SheetHost::sync);
}

void SheetHost::sync() {
    pending_ = false;
    std::vector<std::optional<std::string>> wanted;
    for (const SheetRow& row : rows_) wanted.push_back(row.identity(state_));
    // Closing first, so nothing new is stacked on a dialog about to go.
    for (size_t i = 0; i < rows_.size(); ++i) {
        Shown& shown = shown_[i];
        if (shown.dialog && (!wanted[i] || *wanted[i] != shown.identity)) close(i);
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (wanted[i] && !shown_[i].dialog) open(i, *wanted[i]);
    }
}

std::vector<QDialog*> SheetHost::openSheets() const {
    std::vector<QDialog*> out;
    for (const Shown& shown : shown_) {
        if (shown.dialog) out.push_back(shown.dialog);
    }
    return out;
}

QDialog* SheetHost::sheet(const QString& objectName) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].objectName == objectName) return shown_[i].dialog;
    }
    return nullptr;
}

QWidget* SheetHost::topMost() const {
    if (!view_) return nullptr;
    QWidget* top = view_->window();
    for (;;) {
        QDialog* next = nullptr;
        for (QObject* child : top->children()) {
            if (QDialog* dialog = showingDialog(child)) next = dialog;  // the newest wins
        }
        if (!next) return top;
        top = next;
    }
}

void SheetHost::open(size_t row, const std::string& identity) {
    const SheetRow& entry = rows_[row];
    QDialog* dialog = entry.make(entry.withState ? &state_ : nullptr, topMost());
    if (!dialog) return;
    dialog->setObjectName(entry.objectName);
    dialog->setWindowModality(Qt::WindowModal);
    shown_[row] = {dialog, identity};
    connect(dialog, &QDialog::finished, this, [this, row, dialog] { closedByUser(row, dialog); });
    dialog->open();
}

void SheetHost::closedByUser(size_t row, QDialog* dialog) {
    if (shown_[row].dialog != dialog) return;
    const std::string identity = shown_[row].identity;
    close(row);
    // Written back only while the row still shows this value: a newer one waits its turn.
    const auto current = rows_[row].identity(state_);
    if (current && *current == identity) rows_[row].clear(state_);
}

void SheetHost::close(size_t row) {
    QPointer<QDialog> dialog = shown_[row].dialog;
    shown_[row] = {};
    if (!dialog) return;
    disconnect(dialog, nullptr, this, nullptr);
    // Dialogs stacked on this one move down to its parent, so closing it takes none of them along.
    for (const Shown& other : shown_) {
        if (!other.dialog || other.dialog->parentWidget() != dialog) continue;
        other.dialog->setParent(dialog->parentWidget(), other.dialog->windowFlags());
        other.dialog->open();
    }
    dialog->hide();
    dialog->deleteLater();  // never inside its own signal
}

}  // namespace corvane
