#include "views/main/row_action_list.h"

#include <algorithm>

#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QStyleOptionViewItem>
#include <QTimer>

#include "views/controls.h"

namespace corvane {

namespace {

// A row's progress as a screen reader meets it: a bar inside the row whose description is
// the whole percent the row's name shows ("37%"). Nobody can change it, so it offers no
// value to set: the accessibility bridge offers Increase and Decrease on whatever has one.
class ProgressAccessible : public QAccessibleInterface {
public:
    ProgressAccessible(RowActionList* list, int row, QAccessibleInterface* owner)
        : list_(list), row_(row), owner_(owner) {}

    bool isValid() const override { return list_ && list_->model() && row_ < list_->model()->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return owner_->window(); }
    QAccessibleInterface* parent() const override { return owner_; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::ProgressBar; }
    QString text(QAccessible::Text kind) const override {
        if (!list_) return {};
        if (kind == QAccessible::Name) return list_->progressName();
        if (kind != QAccessible::Description || !isValid()) return {};
        const std::optional<int> progress = list_->progressOf(list_->model()->index(row_, 0));
        return QString::number(progress.value_or(0)) + QLatin1Char('%');
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override { return owner_->rect(); }
    QAccessible::State state() const override {
        QAccessible::State state = owner_->state();
        state.focusable = state.focused = false;
        return state;
    }

    void setRow(int row) { row_ = row; }

private:
    QPointer<RowActionList> list_;
    int row_;
    QAccessibleInterface* owner_;
};

// One row as a screen reader meets it: a list item named by the model's accessible
// text, whose actions are the row's and which holds its progress bar when it has one.
class RowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowAccessible(RowActionList* list, int row) : list_(list), row_(row) {}
    ~RowAccessible() override {
        if (bar_ != 0) QAccessible::deleteAccessibleInterface(bar_);
    }

    bool isValid() const override { return list_ && list_->model() && row_ < list_->model()->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(list_.data()); }
    QAccessibleInterface* child(int index) const override { return index == 0 && hasBar() ? bar() : nullptr; }
    QAccessibleInterface* childAt(int x, int y) const override {
        return hasBar() && rect().contains(x, y) ? bar() : nullptr;
    }
    int childCount() const override { return hasBar() ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return bar_ != 0 && child == QAccessible::accessibleInterface(bar_) ? 0 : -1;
    }
    QAccessible::Role role() const override { return list_ ? list_->rowRole() : QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text kind) const override {
        if (!isValid()) return {};
        switch (kind) {
            case QAccessible::Name: {
                const QString text = index().data(Qt::AccessibleTextRole).toString();
                return text.isEmpty() ? index().data(Qt::DisplayRole).toString() : text;
            }
            case QAccessible::Description: return index().data(Qt::AccessibleDescriptionRole).toString();
            default: return {};
        }
    }

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect row = list_->visualRect(index());
        return {list_->viewport()->mapToGlobal(row.topLeft()), row.size()};
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.focused = list_->hasFocus() && list_->currentIndex() == index();
        state.invisible = !list_->isVisible();
        state.offscreen = !list_->viewport()->rect().intersects(list_->visualRect(index()));
        if (const std::optional<bool> checked = list_->checkedOf(index())) {
            state.checkable = true;
            state.checked = *checked;
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (!isValid()) return names;
        for (const RowActionList::Action& action : list_->actionsOf(index())) names << action.name;
        names << setFocusAction();  // last: a row's first action stays its own
        return names;
    }

    void doAction(const QString& name) override {
        if (!isValid()) return;
        // A screen reader moving the keys to a row (AT-SPI grabFocus) asks for this action.
        if (name == setFocusAction()) {
            list_->setCurrentIndex(index());
            list_->setFocus(Qt::OtherFocusReason);
            return;
        }
        list_->runAction(index(), name);
    }

    QStringList keyBindingsForAction(const QString& name) const override {
        if (!isValid()) return {};
        for (const RowActionList::Action& action : list_->actionsOf(index())) {
            if (action.name == name && action.key != 0) return {QKeySequence(action.key).toString()};
        }
        return {};
    }

    // The row's bar once a reader has asked for it, else null.
    QAccessibleInterface* madeBar() const { return bar_ != 0 ? QAccessible::accessibleInterface(bar_) : nullptr; }

    // The row moved by rows coming or going above it: the item (and its bar) follows it.
    void setRow(int row) {
        row_ = row;
        if (QAccessibleInterface* made = madeBar()) static_cast<ProgressAccessible*>(made)->setRow(row);
    }

private:
    QModelIndex index() const { return list_->model()->index(row_, 0); }
    bool hasBar() const { return isValid() && list_->progressOf(index()).has_value(); }

    QAccessibleInterface* bar() const {
        if (bar_ == 0) {
            auto* self = const_cast<RowAccessible*>(this);
            self->bar_ = QAccessible::registerAccessibleInterface(new ProgressAccessible(list_, row_, self));
        }
        return QAccessible::accessibleInterface(bar_);
    }

    QPointer<RowActionList> list_;
    int row_;
    QAccessible::Id bar_ = 0;
};

// The list itself: a widget whose children are its rows, the current one holding the focus.
class RowListAccessible : public QAccessibleWidget {
public:
    explicit RowListAccessible(RowActionList* list) : QAccessibleWidget(list, QAccessible::List) {}

    int childCount() const override { return list()->accessibleRowSpan().second; }
    QAccessibleInterface* child(int index) const override {
        const auto [first, count] = list()->accessibleRowSpan();
        return index >= 0 && index < count ? list()->accessibleRow(first + index) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto [first, count] = list()->accessibleRowSpan();
        const int row = list()->accessibleRowIndex(child);
        return row >= first && row < first + count ? row - first : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex row = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
        return row.isValid() ? list()->accessibleRow(row.row()) : nullptr;
    }

    // While a row holds the keys, the row alone reports them.
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        if (focusChild() != nullptr) state.focused = false;
        return state;
    }

    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = list()->currentIndex();
        return list()->hasFocus() && current.isValid() ? list()->accessibleRow(current.row()) : nullptr;
    }

private:
    RowActionList* list() const { return static_cast<RowActionList*>(widget()); }
};

QAccessibleInterface* rowListAccessible(const QString& className, QObject* object) {
    auto* list = qobject_cast<RowActionList*>(object);
    if (list == nullptr || className != QLatin1String(RowActionList::staticMetaObject.className())) return nullptr;
    return new RowListAccessible(list);
}

bool isMenuKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Menu ||
           (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
}

// The key an action is bound to: Enter counts as Return; only a bare key counts.
int boundKey(const QKeyEvent* event) {
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return 0;
    return event->key() == Qt::Key_Enter ? int(Qt::Key_Return) : event->key();
}

bool movesTheRow(int key) {
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
           key == Qt::Key_Home || key == Qt::Key_End;
}

}  // namespace

bool showsKeyboardFocus(const QStyleOptionViewItem& option) {
    const QStyle::State keyboardFocus = QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    return (option.state & keyboardFocus) == keyboardFocus;
}

RowActionList::RowActionList(QWidget* parent) : QListView(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(rowListAccessible), true);
    (void)factoryInstalled;
    setUpRowList(this);
    setFocusPolicy(Qt::StrongFocus);
}

RowActionList::~RowActionList() { forgetAccessibleRows(); }

std::vector<RowActionList::Action> RowActionList::actionsOf(const QModelIndex& row) const {
    if (!actions_ || !row.isValid()) return {};
    return actions_(row);
}

std::optional<int> RowActionList::progressOf(const QModelIndex& row) const {
    if (!progress_ || !row.isValid()) return std::nullopt;
    return progress_(row);
}

std::optional<bool> RowActionList::checkedOf(const QModelIndex& row) const {
    if (!checked_ || !row.isValid()) return std::nullopt;
    return checked_(row);
}

bool RowActionList::runAction(const QModelIndex& row, const QString& name) {
    for (Action& action : actionsOf(row)) {
        if (action.name != name) continue;
        QTimer::singleShot(0, this, std::move(action.run));
        return true;
    }
    return false;
}

QAccessibleInterface* RowActionList::accessibleRow(int row) {
    const auto kept = accessibleRows_.find(row);
    if (kept != accessibleRows_.end()) return QAccessible::accessibleInterface(kept->second);
    auto* item = new RowAccessible(this, row);
    accessibleRows_[row] = QAccessible::registerAccessibleInterface(item);
    return item;
}

std::pair<int, int> RowActionList::accessibleRowSpan() const {
    const int rows = model() ? model()->rowCount() : 0;
    if (!shownOnly_ || rows == 0) return {0, rows};
    // Rows lie from the viewport's top: none there means none on screen (a list of no height).
    const QModelIndex top = indexAt(QPoint(0, 0));
    if (!top.isValid()) return {0, 0};
    const QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
    const int last = bottom.isValid() ? bottom.row() : rows - 1;
    return {top.row(), std::max(0, last - top.row() + 1)};
}

int RowActionList::accessibleRowIndex(const QAccessibleInterface* item) const {
    for (const auto& [row, id] : accessibleRows_) {
        if (QAccessible::accessibleInterface(id) == item) return row;
    }
    return -1;
}

QWidget* RowActionList::openMenu() const {
    auto* menu = findChild<QMenu*>(QStringLiteral("rowMenu"));
    return menu && menu->isVisible() ? menu : nullptr;
}

void RowActionList::setModel(QAbstractItemModel* model) {
    forgetAccessibleRows();
    QListView::setModel(model);
    // A row's item follows its row while rows come and go around it, so a screen reader keeps
    // the rows it holds (the focused one too); when rows change places, the items go.
    const auto forget = [this] { forgetAccessibleRows(); };
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { shiftAccessibleRows(first, last - first + 1); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, &RowActionList::dropAccessibleRows);
    connect(model, &QAbstractItemModel::rowsMoved, this, forget);
    connect(model, &QAbstractItemModel::modelReset, this, forget);
    connect(model, &QAbstractItemModel::layoutChanged, this, forget);
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, &RowActionList::keepCurrent);
    connect(model, &QAbstractItemModel::modelReset, this, &RowActionList::restoreCurrent);
    connect(model, &QAbstractItemModel::rowsInserted, this, &RowActionList::restoreCurrent);
}

void RowActionList::keepCurrent() {
    const QModelIndex current = currentIndex();
    keptRow_ = current.isValid() ? current.row() : -1;
    keptKey_ = current.isValid() && rowKey_ ? rowKey_(current) : QString();
}

void RowActionList::restoreCurrent() {
    const int rows = model()->rowCount();
    if (rows == 0 || currentIndex().isValid()) return;
    // Rows that come while the list holds the keys and has no row for them: the first takes them.
    if (keptRow_ < 0 && hasFocus()) {
        keptRow_ = 0;
        keptKey_.clear();
    }
    if (keptRow_ < 0) return;
    int row = std::min(keptRow_, rows - 1);
    for (int k = 0; rowKey_ && k < rows; ++k) {
        if (rowKey_(model()->index(k, 0)) == keptKey_) row = k;
    }
    keptRow_ = -1;
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
}

// The items of the rows from first on move by that many places.
void RowActionList::shiftAccessibleRows(int first, int by) {
    std::map<int, QAccessible::Id> moved;
    for (const auto& [row, id] : accessibleRows_) {
        const int now = row >= first ? row + by : row;
        if (now != row) static_cast<RowAccessible*>(QAccessible::accessibleInterface(id))->setRow(now);
        moved[now] = id;
    }
    accessibleRows_ = std::move(moved);
}

// The items of the rows removed go; those below move up.
void RowActionList::dropAccessibleRows(const QModelIndex&, int first, int last) {
    for (auto kept = accessibleRows_.lower_bound(first); kept != accessibleRows_.end() && kept->first <= last;) {
        QAccessible::deleteAccessibleInterface(kept->second);
        kept = accessibleRows_.erase(kept);
    }
    shiftAccessibleRows(last + 1, first - last - 1);
}

void RowActionList::forgetAccessibleRows() {
    const std::map<int, QAccessible::Id> gone = std::move(accessibleRows_);
    accessibleRows_.clear();
    for (const auto& [row, id] : gone) QAccessible::deleteAccessibleInterface(id);
}

void RowActionList::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
    QListView::dataChanged(topLeft, bottomRight, roles);
    // What a screen reader holds of a row changes with what the row paints (only rows a
    // reader has asked for have an item).
    for (auto kept = accessibleRows_.lower_bound(topLeft.row());
         kept != accessibleRows_.end() && kept->first <= bottomRight.row(); ++kept) {
        QAccessibleInterface* item = QAccessible::accessibleInterface(kept->second);
        QAccessibleEvent named(item, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&named);
        QAccessibleInterface* bar = static_cast<RowAccessible*>(item)->madeBar();
        const std::optional<int> progress = progressOf(model()->index(kept->first, 0));
        if (bar && progress) {
            QAccessibleEvent percent(bar, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&percent);
        }
    }
}

void RowActionList::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    // QListView tells every new current row as focused, also while the keys are elsewhere
    // (a listing replaced behind a sheet or after a button): only a list holding them tells it.
    if (hasFocus()) {
        QListView::currentChanged(current, previous);
        return;
    }
    QAbstractItemView::currentChanged(current, previous);
}

void RowActionList::keyPressEvent(QKeyEvent* event) {
    const QModelIndex row = currentIndex();
    if (isMenuKey(event) && menuOffered_) {
        if (row.isValid() && !openMenu()) showMenu(row, visualRect(row).bottomLeft(), true);
        event->accept();
        return;
    }
    const int key = boundKey(event);
    for (Action& action : actionsOf(row)) {
        if (key == 0 || action.key != key) continue;
        QTimer::singleShot(0, this, std::move(action.run));
        event->accept();
        return;
    }
    // The arrows move the ring from row to row as Tab moves it between controls.
    if (movesTheRow(event->key())) window()->setAttribute(Qt::WA_KeyboardFocusChange);
    QListView::keyPressEvent(event);
}

void RowActionList::mousePressEvent(QMouseEvent* event) {
    // The keys go where the pointer went: this list, on the row pressed.
    const QModelIndex row = indexAt(event->position().toPoint());
    if (row.isValid()) setCurrentIndex(row);
    setFocus(Qt::MouseFocusReason);
    QListView::mousePressEvent(event);
}

void RowActionList::contextMenuEvent(QContextMenuEvent* event) {
    if (!menuOffered_) {
        event->ignore();
        return;
    }
    event->accept();
    if (openMenu()) return;
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QModelIndex row = currentIndex();
        if (row.isValid()) showMenu(row, visualRect(row).bottomLeft(), true);
        return;
    }
    const QModelIndex row = indexAt(event->pos());
    if (!row.isValid()) return;
    setCurrentIndex(row);
    showMenu(row, event->pos(), false);
}

void RowActionList::showMenu(const QModelIndex& row, const QPoint& at, bool byKeys) {
    std::vector<Action> actions = actionsOf(row);
    std::erase_if(actions, [](const Action& action) { return !action.inMenu; });
    if (actions.empty()) return;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (Action& action : actions) {
        connect(menu->addAction(action.name), &QAction::triggered, this,
                [this, run = std::move(action.run)] { QTimer::singleShot(0, this, run); });
    }
    if (byKeys) {
        popupFromKeys(menu, viewport()->mapToGlobal(at));
    } else {
        menu->popup(viewport()->mapToGlobal(at));
    }
}

}  // namespace corvane
