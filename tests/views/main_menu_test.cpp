// The menu bar: four menus, their items in order, Ctrl for Command with Shift
// where the key is upper case, and each item calling its action.
#include <map>

#include <QMenuBar>

#include <gtest/gtest.h>

#include "views/main_menu.h"

namespace corvane {
namespace {

struct Item {
    QString title;  // empty for a separator
    QKeySequence key;
};

std::vector<Item> itemsOf(QMenu* menu) {
    std::vector<Item> items;
    for (QAction* action : menu->actions()) items.push_back({action->isSeparator() ? QString() : action->text(), action->shortcut()});
    return items;
}

TEST(MainMenu, menusItemsAndKeysFollowTheTable) {
    std::unique_ptr<QMenuBar> bar(buildMenuBar(MenuActions{}));
    const QList<QAction*> menus = bar->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), "Corvane");
    EXPECT_EQ(menus[1]->text(), "文件");
    EXPECT_EQ(menus[2]->text(), "编辑");
    EXPECT_EQ(menus[3]->text(), "窗口");

    const QKeySequence none;
    const std::vector<std::vector<Item>> expected = {
        {{"关于Corvane", none}, {"", none}, {"隐藏Corvane", QKeySequence("Ctrl+H")}, {"", none},
         {"退出Corvane", QKeySequence("Ctrl+Q")}},
        {{"选择文件…", QKeySequence("Ctrl+O")}, {"选择文件夹…", QKeySequence("Ctrl+Shift+O")}, {"", none},
         {"打开接收文件夹", QKeySequence("Ctrl+Shift+R")}, {"刷新列表", QKeySequence("Ctrl+R")}},
        {{"撤销", QKeySequence("Ctrl+Z")}, {"重做", QKeySequence("Ctrl+Shift+Z")}, {"", none},
         {"剪切", QKeySequence("Ctrl+X")}, {"拷贝", QKeySequence("Ctrl+C")}, {"粘贴", QKeySequence("Ctrl+V")},
         {"全选", QKeySequence("Ctrl+A")}},
        {{"最小化", QKeySequence("Ctrl+M")}, {"缩放", none}},
    };
    for (int m = 0; m < 4; ++m) {
        const std::vector<Item> items = itemsOf(menus[m]->menu());
        ASSERT_EQ(items.size(), expected[size_t(m)].size()) << m;
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].title, expected[size_t(m)][i].title) << m << "/" << i;
            EXPECT_EQ(items[i].key, expected[size_t(m)][i].key) << items[i].title.toStdString();
        }
    }
}

TEST(MainMenu, eachItemCallsItsAction) {
    std::map<std::string, int> calls;
    const auto count = [&calls](const char* name) { return [&calls, name] { ++calls[name]; }; };
    MenuActions actions{count("about"),   count("hide"),    count("quit"),     count("pickFiles"), count("pickFolder"),
                        count("openFolder"), count("refresh"), count("minimize"), count("zoom")};
    std::unique_ptr<QMenuBar> bar(buildMenuBar(actions));
    const std::map<QString, std::string> byTitle = {
        {"关于Corvane", "about"},  {"隐藏Corvane", "hide"},         {"退出Corvane", "quit"},   {"选择文件…", "pickFiles"},
        {"选择文件夹…", "pickFolder"}, {"打开接收文件夹", "openFolder"}, {"刷新列表", "refresh"}, {"最小化", "minimize"},
        {"缩放", "zoom"}};
    for (QAction* menu : bar->actions()) {
        for (QAction* item : menu->menu()->actions()) {
            if (byTitle.count(item->text())) item->trigger();
        }
    }
    for (const auto& [title, name] : byTitle) EXPECT_EQ(calls[name], 1) << name;
}

}  // namespace
}  // namespace corvane
