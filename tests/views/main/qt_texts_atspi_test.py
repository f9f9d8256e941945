"""Qt's own texts follow the system's language: under LANG=zh_CN.UTF-8 the file
picker's labels and buttons and a text field's context menu read Chinese, as
they do in every Qt program on a Chinese desktop. The menu is opened with a
real right click (xdotool), as a person opens it.

Usage: qt_texts_atspi_test.py BUILD/corvane
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check
ENGLISH = {"Look in:", "File name:", "Files of type:", "Cancel", "&Cancel", "Open", "&Open", "Detail View", "List View",
           "Back", "Forward", "Parent Directory", "Create New Folder", "&Undo", "Undo", "&Redo", "Redo", "Cu&t", "Cut",
           "&Copy", "Copy", "&Paste", "Paste", "Delete", "Select All"}


def context_menu_items(field):
    """Opens the field's context menu with a real right click and reads its items. A
    pop-up menu is no child of the application over AT-SPI: its items are found from
    the one that takes the focus when the Down key moves into the menu."""
    import pyatspi
    from gi.repository import GLib
    box = field.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    items = []

    def focused(event):
        if items or ds.role(event.source) != "menu item":
            return
        menu = event.source.parent
        items.extend(menu.getChildAtIndex(index).name for index in range(menu.childCount))
        pyatspi.Registry.stop()

    def open_menu():
        subprocess.run(["xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2),
                        "click", "3"], check=True)
        time.sleep(0.3)
        subprocess.run(["xdotool", "key", "Down"], check=True)
        return False

    pyatspi.Registry.registerEventListener(focused, "object:state-changed:focused")
    GLib.timeout_add(100, open_menu)
    GLib.timeout_add_seconds(10 * ds.LOAD_ALLOWANCE, lambda: pyatspi.Registry.stop() and False)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(focused, "object:state-changed:focused")
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
