#pragma once
// Presents dialogs bound to AppState flags and items, one table row each.
//
// Per row: while the row's identity is present a window-modal dialog made by
// the row's factory shows (a new one each time, opened with open(), never
// exec()); when the identity goes away the dialog closes; when it changes to
// another value (another peer, another note) the dialog is replaced, while the
// same value changes nothing. However a dialog closes (its own button, Escape,
// the window's close button), the row's flag or item is written back.
//
// A dialog is stacked on the top-most dialog of the window that is still
// showing, so one raised while another shows is never lost (a read-once note
// over the chat window). Changes are gathered and applied once the event loop
// runs again, in table order, so flags raised together open in table order.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>

class QDialog;
class QWidget;

namespace corvane {

class AppState;

struct SheetRow {
    QString objectName;
    // The value shown: none while the sheet is closed, "" for a raised flag, the item's id for an item.
    std::function<std::optional<std::string>(const AppState&)> identity;
    // Writes the closing back (flag false, item none).
    std::function<void(AppState&)> clear;
    // Makes the dialog; state is null for a row that gets no AppState.
    std::function<QDialog*(AppState* state, QWidget* parent)> make;
    bool withState = true;
    // The AppState signal that announces a change of the flag or item.
    void (AppState::*changed)() = nullptr;
};

class SheetHost : public QObject {
    Q_OBJECT

public:
    // view: a widget of the window that every stack of dialogs starts from.
    SheetHost(AppState& state, QWidget* view, std::vector<SheetRow> rows, QObject* parent = nullptr);
    ~SheetHost() override;

    // The dialogs showing now, in table order.
    std::vector<QDialog*> openSheets() const;
    // The dialog of the row with that object name, or null.
    QDialog* sheet(const QString& objectName) const;
    // Applies what is pending at once (tests; otherwise it runs from the event loop).
    void sync();

private:
    struct Shown {
        QPointer<QDialog> dialog;
        std::string identity;
    };

    void scheduleSync();
    void open(size_t row, const std::string& identity);
    void close(size_t row);
    void closedByUser(size_t row, QDialog* dialog);
    QWidget* topMost() const;

    AppState& state_;
    QPointer<QWidget> view_;
    std::vector<SheetRow> rows_;
    std::vector<Shown> shown_;
    bool pending_ = false;
};

}  // namespace corvane
