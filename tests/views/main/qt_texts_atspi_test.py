"""Qt's own texts follow the system's language: under LANG=zh_CN.UTF-8 the file
picker's labels and buttons and a text field's context menu read Chinese, as
they do in every Qt program on a Chinese desktop. The menu is opened with a
real right click (xdotool), as a person opens it.

Usage: qt_texts_atspi_test.py BUILD/corvane
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check
ENGLISH = {"Look in:", "File name:", "Files of type:", "Cancel", "&Cancel", "Open", "&Open", "Detail View", "List View",
           "Back", "Forward", "Parent Directory", "Create New Folder", "&Undo", "Undo", "&Redo", "Redo", "Cu&t", "Cut",
           "&Copy", "Copy", "&Paste", "Paste", "Delete", "Select All"}


def context_menu_items(field):
    """Opens the field's context menu with a real right click and reads its items once
    the menu shows."""
    x, y, width, height = ds.extents(field)
    menu = ds.popup_menu(lambda: subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2),
                                                 "click", "3"], check=True))
    if menu is None:
        return []
    items = [menu.getChildAtIndex(index).name for index in range(menu.childCount)]
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    return [item for item in items if item]


def run(binary):
    with ds.Session(binary) as session:
        session.use_chinese_locale()
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")

        pick = ds.wait_for(lambda: ds.find(main, "push button", name="选择文件"), 10)
        check(pick, "no button 选择文件")
        ds.press(pick[0])
        dialog = ds.wait_for(lambda: ds.showing_window(app, "选择要发送到"), 10)
        check(dialog is not None, "no file picker")
        texts = [node.name for node in ds.descendants(dialog) if ds.role(node) in ("push button", "label")]
        check("取消" in texts, "the picker has no 取消: %r" % texts)
        check("发送" in texts, "the picker lost its 发送: %r" % texts)
        english = sorted(set(texts) & ENGLISH)
        check(not english, "the picker reads English: %r" % english)
        ds.press(ds.find(dialog, "push button", name="取消")[0])
        check(ds.wait_for(lambda: ds.showing_window(app, "选择要发送到") is None, 5), "the picker did not close")

        search = ds.wait_for(lambda: [n for n in ds.find(main, "text") if n.description == "搜索"], 10)
        check(search, "no search field")
        search[0].queryEditableText().insertText(0, "报告", len("报告"))
        items = context_menu_items(search[0])
        check(items, "no context menu opened on the search field")
        check(any(name.startswith("复制") for name in items), "the menu has no 复制: %r" % items)
        english = sorted(set(items) & ENGLISH)
        check(not english, "the menu reads English: %r" % english)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
