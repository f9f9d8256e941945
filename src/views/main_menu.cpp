#include "views/main_menu.h"

#include <QApplication>
#include <QMenuBar>

namespace corvane {

namespace {

void addItem(QMenu* menu, const QString& title, const QKeySequence& key, std::function<void()> action) {
    QAction* item = menu->addAction(title);
    if (!key.isEmpty()) item->setShortcut(key);
    QObject::connect(item, &QAction::triggered, menu, [action = std::move(action)] {
        if (action) action();
    });
}

// Undo, cut, paste and the like go to whatever text field has the focus.
std::function<void()> toFocus(const char* slot) {
    return [slot] {
        if (QWidget* focus = QApplication::focusWidget()) QMetaObject::invokeMethod(focus, slot);
    };
}

}  // namespace

QMenuBar* buildMenuBar(const MenuActions& actions, QWidget* parent) {
    auto* bar = new QMenuBar(parent);

    QMenu* app = bar->addMenu(QStringLiteral("Corvane"));
    addItem(app, QStringLiteral("关于Corvane"), {}, actions.about);
    app->addSeparator();
    addItem(app, QStringLiteral("隐藏Corvane"), QKeySequence(Qt::CTRL | Qt::Key_H), actions.hide);
    app->addSeparator();
    addItem(app, QStringLiteral("退出Corvane"), QKeySequence(Qt::CTRL | Qt::Key_Q), actions.quit);

    QMenu* file = bar->addMenu(QStringLiteral("文件"));
    addItem(file, QStringLiteral("选择文件…"), QKeySequence(Qt::CTRL | Qt::Key_O), actions.pickFiles);
    addItem(file, QStringLiteral("选择文件夹…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), actions.pickFolder);
    file->addSeparator();
    addItem(file, QStringLiteral("打开接收文件夹"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), actions.openFolder);
    addItem(file, QStringLiteral("刷新列表"), QKeySequence(Qt::CTRL | Qt::Key_R), actions.refresh);

    QMenu* edit = bar->addMenu(QStringLiteral("编辑"));
    addItem(edit, QStringLiteral("撤销"), QKeySequence(Qt::CTRL | Qt::Key_Z), toFocus("undo"));
    addItem(edit, QStringLiteral("重做"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), toFocus("redo"));
    edit->addSeparator();
    addItem(edit, QStringLiteral("剪切"), QKeySequence(Qt::CTRL | Qt::Key_X), toFocus("cut"));
    addItem(edit, QStringLiteral("拷贝"), QKeySequence(Qt::CTRL | Qt::Key_C), toFocus("copy"));
    addItem(edit, QStringLiteral("粘贴"), QKeySequence(Qt::CTRL | Qt::Key_V), toFocus("paste"));
    addItem(edit, QStringLiteral("全选"), QKeySequence(Qt::CTRL | Qt::Key_A), toFocus("selectAll"));

    QMenu* window = bar->addMenu(QStringLiteral("窗口"));
    addItem(window, QStringLiteral("最小化"), QKeySequence(Qt::CTRL | Qt::Key_M), actions.minimize);
    addItem(window, QStringLiteral("缩放"), {}, actions.zoom);
    return bar;
}

}  // namespace corvane
