"""The send pickers as a user on a Chinese desktop meets them (LANG=zh_CN.UTF-8):
they open in the user's home folder until something was picked, then in the
folder last picked from; every text of the panel reads Chinese: labels, buttons
and their tooltips, column headers, the files-of-type line, the places list and
the types of the files listed.

Usage: picker_atspi_test.py BUILD/corvane
"""

import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check
CHINESE = re.compile("[\u4e00-\u9fff]")
FILES = ("合同扫描件.pdf", "年会视频 4K.mov", "报价单.xlsx", "说明.txt")


def open_picker(app, main, button):
    pick = ds.wait_for(lambda: ds.find(main, "push button", name=button), 10)
    check(pick, "no button " + button)
    ds.press(pick[0])
    dialog = ds.wait_for(lambda: ds.showing_window(app, "选择要发送到"), 10)
    check(dialog is not None, "%s opened no picker" % button)
    return dialog


def shown_folder(dialog):
    """The folder the panel shows: its "查找范围：" combo box, the one holding a path."""
    boxes = [box.name for box in ds.find(dialog, "combo box") if box.name.startswith("/")]
    check(boxes, "the picker shows no folder")
    return boxes[0]


def folder_becomes(dialog, folder):
    return ds.wait_for(lambda: shown_folder(dialog) == folder, 5)


def close(app, dialog):
    ds.press(ds.find(dialog, "push button", name="取消")[0])
    check(ds.wait_for(lambda: ds.showing_window(app, "选择要发送到") is None, 5), "the picker did not close")


def go_to(dialog, folder):
    field = [node for node in ds.find(dialog, "text") if node.queryEditableText()][-1]
    field.queryEditableText().setTextContents(folder)
    field.queryComponent().grabFocus()
    subprocess.run(["xdotool", "key", "Return"], check=True)


def table_cells(dialog, rows):
    """The cells of the detailed list, row by row, once it shows that many rows."""
    tree = [node for node in ds.find(dialog, "tree") if ds.is_showing(node)]
    children = [tree[0].getChildAtIndex(index) for index in range(tree[0].childCount)] if tree else []
    cells = [node for node in children if node is not None and ds.role(node) == "table cell"]
    return cells if len(cells) == 4 * rows else None


def texts_without_chinese(dialog, home_entry, rows):
    """Every text of the panel a user reads that is not a name, path or date, with no
    Chinese in it: labels, buttons with their tooltips, lists, column headers, the combo box
    that holds no path (the files-of-type line), the places and the type column of the rows."""
    texts = []
    for node in ds.descendants(dialog):
        kind = ds.role(node)
        if kind in ("label", "push button", "list", "table column header"):
            texts += [node.name, node.description]
        elif kind == "list item" and node.name != home_entry:  # the places: the only list showing
            texts.append(node.name)
    texts += [box.name or "(empty)" for box in ds.find(dialog, "combo box") if not box.name.startswith("/")]
    cells = ds.wait_for(lambda: table_cells(dialog, rows), 5)
    check(cells, "the detailed list never showed %d rows" % rows)
    texts += [cell.name for index, cell in enumerate(cells) if index % 4 == 2]
    return sorted(set(text for text in texts if text and not CHINESE.search(text)))


def run(binary):
    with ds.Session(binary) as session:
        session.use_chinese_locale()
        downloads = os.path.join(session.home, "下载")
        os.makedirs(os.path.join(downloads, "素材"))
        for name in FILES:
            with open(os.path.join(downloads, name), "wb") as out:
                out.write(b"%PDF-1.4\n" if name.endswith(".pdf") else b"x")
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")

        # The files picker goes into a folder as a person goes there: its path typed, then Return
        # (the folder picker would take the folder as picked): the folders picker is read at home.
        for button, shown, rows in (("选择文件", downloads, len(FILES) + 1), ("选择文件夹", session.home, 2)):
            dialog = open_picker(app, main, button)
            check(folder_becomes(dialog, session.home),
                  "%s opened in %r, not the home folder %r" % (button, shown_folder(dialog), session.home))
            if shown != session.home:
                go_to(dialog, shown)
            check(folder_becomes(dialog, shown), "%s never showed %r" % (button, shown))
            english = texts_without_chinese(dialog, os.path.basename(session.home), rows)
            check(not english, "%s reads English: %r" % (button, english))
            close(app, dialog)
            check(folder_becomes(open_picker(app, main, button), session.home),
                  "%s left without a pick opens elsewhere than home" % button)
            close(app, ds.showing_window(app, "选择要发送到"))

        # A file picked by its whole path from the home folder: the next panel opens where it lay.
        check(ds.send_through_picker(app, main, "选择文件", os.path.join(downloads, FILES[0])),
              "the file could not be picked")
        check(ds.wait_for(lambda: ds.showing_window(app, "选择要发送到") is None, 5), "the picker did not close")
        for button in ("选择文件", "选择文件夹"):
            dialog = open_picker(app, main, button)
            check(folder_becomes(dialog, downloads),
                  "%s opened in %r after a pick from %r" % (button, shown_folder(dialog), downloads))
            close(app, dialog)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
