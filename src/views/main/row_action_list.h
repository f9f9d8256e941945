#pragma once
// A list of painted rows that a person can act on without a mouse. It is in the
// Tab order; the arrows move between rows, and the row they reach (while the
// keys move it) is painted with the focus ring by the row's delegate. Each row
// has actions named as its buttons' tooltips: a key runs the one bound to it
// (Return or Enter, Delete), the Menu key or Shift+F10 (or a right click) opens
// a menu of them (by keys, with its first item highlighted), and a screen reader
// finds them as the row's accessible actions. A click on a row gives the list the
// keyboard focus on that row; while a row holds the keys, only it reports focused.
// A new current row is told as a focus event only while the list holds the keys: a
// list drawn again behind the keys' back is silent.
//
// When the model is reset (a new listing), the keys stay on the row of the
// same key, or on the row at the same place when that one went.
//
// Actions run from the event loop after the key or the menu, with what they
// copied when they were asked for, so one may replace the list under the row.
//
// Over accessibility each row is an item of its own (a list item, or the role the
// owner gives, checkable where the owner says), named by the model's
// Qt::AccessibleTextRole; when the owner gives rows a progress, the item holds a
// named progress bar described by that percent, with nothing to set or act on. A
// row whose data changes tells its new name and percent at once. The items of rows
// that stay are kept while other rows come and go; only rows that change places (a
// new order, a reset) make new ones. A list that may grow to thousands of rows can
// hold only the rows on screen as its accessible children, so that a screen reader's
// walk of the window costs the same however many rows there are.

#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <QAccessible>
#include <QListView>

class QStyleOptionViewItem;

namespace corvane {

// Whether a delegate paints the focus ring on this row: the row the keys reached while
// its list holds the keyboard, as for a button.
bool showsKeyboardFocus(const QStyleOptionViewItem& option);

class RowActionList : public QListView {
    Q_OBJECT

public:
    struct Action {
        QString name;
        // The key that runs it on the focused row: Qt::Key_Return (Enter too), Qt::Key_Delete, or 0.
        int key = 0;
        std::function<void()> run;
        // Whether the row's menu offers it (a row's own press is offered by its key and to a
        // screen reader only).
        bool inMenu = true;
    };
    using Actions = std::function<std::vector<Action>(const QModelIndex& row)>;
    // A row's progress in whole percent, or nothing for a row without one.
    using Progress = std::function<std::optional<int>(const QModelIndex& row)>;
    // What names a row across listings (a file's path).
    using RowKey = std::function<QString(const QModelIndex& row)>;

    explicit RowActionList(QWidget* parent = nullptr);
    ~RowActionList() override;

    void setActions(Actions actions) { actions_ = std::move(actions); }
    void setProgress(const QString& name, Progress progress) {
        progressName_ = name;
        progress_ = std::move(progress);
    }
    const QString& progressName() const { return progressName_; }
    void setRowKey(RowKey key) { rowKey_ = std::move(key); }
    // Whether the Menu key, Shift+F10 and a right click open the menu of a row's actions
    // (they do unless told otherwise; a list whose one action is Return's needs none).
    void setMenuOffered(bool offered) { menuOffered_ = offered; }
    // What a row is over accessibility (a list item unless told), and, for rows that can be
    // checked, whether one is.
    using Checked = std::function<bool(const QModelIndex& row)>;
    void setRowRole(QAccessible::Role role) { rowRole_ = role; }
    QAccessible::Role rowRole() const { return rowRole_; }
    void setRowChecked(Checked checked) { checked_ = std::move(checked); }
    std::optional<bool> checkedOf(const QModelIndex& row) const;

    std::vector<Action> actionsOf(const QModelIndex& row) const;
    std::optional<int> progressOf(const QModelIndex& row) const;
    // Runs the row's action of that name from the event loop; false when the row has none.
    bool runAction(const QModelIndex& row, const QString& name);

    // Whether the list's accessible children are only the rows on screen (else every row).
    void setAccessibleRowsShownOnly(bool shownOnly) { shownOnly_ = shownOnly; }
    // The rows a screen reader meets as the list's children: the first and how many.
    std::pair<int, int> accessibleRowSpan() const;
    // The accessible item of a row, made once and kept while the rows stay where they are.
    QAccessibleInterface* accessibleRow(int row);
    int accessibleRowIndex(const QAccessibleInterface* item) const;

    // The menu of the row's actions, open now (null when none is).
    QWidget* openMenu() const;

    void setModel(QAbstractItemModel* model) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;

private:
    // Opened by keys, the menu has its first item highlighted.
    void showMenu(const QModelIndex& row, const QPoint& at, bool byKeys);
    void forgetAccessibleRows();
    void shiftAccessibleRows(int first, int by);
    void dropAccessibleRows(const QModelIndex& parent, int first, int last);
    void keepCurrent();
    void restoreCurrent();

    Actions actions_;
    Progress progress_;
    QString progressName_;
    RowKey rowKey_;
    bool menuOffered_ = true;
    bool shownOnly_ = false;
    QAccessible::Role rowRole_ = QAccessible::ListItem;
    Checked checked_;
    int keptRow_ = -1;
    QString keptKey_;
    std::map<int, QAccessible::Id> accessibleRows_;
};

}  // namespace corvane
