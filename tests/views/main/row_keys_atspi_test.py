"""The file list and the send queue without a mouse, with openbox running on a
1280x720 screen, real keys typed through the X server (xdotool) and the window
read over AT-SPI as a screen reader reads it:
- a queue row's name and its progress bar's percent are told together, the same
  percent, at each chunk that goes out;
- Tab reaches the queue; its active row offers "取消" as its one action and holds
  a progress bar described by the percent its name shows, offering no action
  (no Increase or Decrease on a bar nobody can change); Shift+F10 opens a
  menu of that one action, focused as it opens, and Return cancels the transfer;
- Tab reaches the file list; the arrows move the focus between rows; a local row
  offers "打开", "在文件管理器中显示" and "删除" as its actions, and the Menu key
  opens a menu of the same three names whose first, "打开", a screen reader hears
  focused as it opens; Return opens a file just received (the recording xdg-open
  gets its path), Delete deletes another;
- a click on a row after a click on a button gives the keys to that row: the next
  Space does not press the button again.

Usage: row_keys_atspi_test.py BUILD/corvane
"""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
HELD_PORT = ds.FIRST_HTTP_PORT + 62
FILE_ACTIONS = ["打开", "在文件管理器中显示", "删除"]
SENT = "大文件.bin"
CHUNKS = 5  # of 4 MiB
PERCENT = re.compile(r" · (\d+)%$")


describe = ds.describe


def actions(node):
    """The row's own actions; "SetFocus", which every focusable object offers, left out."""
    action = node.queryAction()
    return [action.getName(index) for index in range(action.nActions) if action.getName(index) != "SetFocus"]


class Desktop:
    def __init__(self, session):
        self.session = session
        self.app = ds.application()
        check(self.app is not None, "the program never showed up on the accessibility bus")
        self.main = ds.window(self.app, "Corvane")
        check(self.main is not None, "no window titled Corvane")

    def keys(self, *names):
        subprocess.run(["xdotool", "key", "--delay", "40"] + list(names), env=self.session.env, check=True)

    def click(self, node):
        x, y, width, height = ds.extents(node)
        subprocess.run(["xdotool", "mousemove", str(x + width // 4), str(y + height // 2), "click", "1"],
                       env=self.session.env, check=True)

    def focused(self):
        return ds.focused_node(self.main)

    def move_focus(self, key, wanted, what):
        """Presses key until the focused node is what wanted accepts; the node reached."""
        return ds.move_focus(self.main, lambda: self.keys(key), wanted, "%s by %s" % (what, key))

    def arrows_to(self, prefix):
        """Up or Down, whichever way the row whose name begins with prefix lies from the
        focused row, until the focus is on it."""
        target = ds.wait_for(lambda: ds.find(self.main, "list item", prefix=prefix), 10)
        check(target, "no row %s" % prefix)
        now = self.focused()
        check(now is not None, "no row holds the keys")
        key = "Down" if ds.extents(target[0])[1] > ds.extents(now)[1] else "Up"
        return self.move_focus(key, lambda node: node.name.startswith(prefix), prefix)

    def popup_menu(self, *keys):
        """The item focused as the menu the keys open shows, and the names in the menu."""
        first, menu = ds.focused_menu(lambda: self.keys(*keys))
        return first, [menu.getChildAtIndex(k).name for k in range(menu.childCount)]


class Told:
    """What the program tells a screen reader of the sent file's row as it changes: its
    new names and its bar's percents, in the order told."""

    EVENTS = ("object:property-change:accessible-name", "object:property-change:accessible-description")

    def __init__(self):
        import pyatspi
        self.told = []
        for kind in self.EVENTS:
            pyatspi.Registry.registerEventListener(self.hear, kind)

    def hear(self, event):
        try:
            if event.type.endswith("accessible-name") and event.source.name.startswith(SENT):
                self.told.append(("name", event.source.name))
            elif event.type.endswith("accessible-description") and event.source.parent.name.startswith(SENT):
                self.told.append(("value", bar_percent(event.source)))
        except Exception as error:
            if not ds.gone(error):
                raise

    def until(self, done):
        from gi.repository import GLib
        deadline = time.monotonic() + 15 * ds.LOAD_ALLOWANCE
        while not done(self.told) and time.monotonic() < deadline:
            GLib.MainContext.default().iteration(False)
            time.sleep(0.02)
        return self.told

    def close(self):
        import pyatspi
        for kind in self.EVENTS:
            pyatspi.Registry.deregisterEventListener(self.hear, kind)


def offered(node):
    """Every action a reader finds on the node (none where it has no Action interface)."""
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(index) for index in range(action.nActions)]


def bar_percent(bar):
    """The whole percent a row's progress bar is described by ("37%")."""
    check(re.fullmatch(r"\d+%", bar.description or ""), "the bar is described as %r" % bar.description)
    return int(bar.description[:-1])


def told_together(desk, held, told):
    """The sent file's row and its bar, read while its first chunk is held; then the chunks
    go out one at a time: at each, the row's new name is told with its bar's new value,
    and both read the percent of the chunks gone."""
    row = ds.wait_for(lambda: ds.find(desk.main, "list item", prefix=SENT), 15)
    check(row, "the queue shows no row for %s" % SENT)
    row = row[0]
    check(row.childCount == 1, "the queue row holds %d children" % row.childCount)
    bar = row.getChildAtIndex(0)
    check(ds.role(bar) == "progress bar" and bar.name == "发送进度", "the row holds %s" % describe(bar))
    for chunks in range(1, CHUNKS):
        percent = 100 * chunks // CHUNKS
        start = len(told.told)
        held.allow(chunks)

        def heard(told_now):
            kinds = [kind for kind, _ in told_now[start:]]
            named = any(kind == "name" and text.endswith(" · %d%%" % percent) for kind, text in told_now[start:])
            return named and kinds[-1] == "value"

        told.until(heard)
        check(heard(told.told), "after %d chunks the row was told %r" % (chunks, told.told[start:]))
        name, value = ds.fresh(row).name, bar_percent(ds.fresh(bar))
        check(PERCENT.search(name).group(1) == str(percent) and value == percent,
              "after %d chunks the row reads %r and its bar %d" % (chunks, name, value))
    kinds = [kind for kind, _ in told.told]
    check(kinds == ["name", "value"] * (len(kinds) // 2), "name and value told apart: %r" % told.told)


def queue_row(desk):
    """Tab to the queue's active row; its actions, its bar's value against its name; the
    Menu key's menu; Down, Return cancel the transfer."""
    row = desk.move_focus("Tab", lambda node: ds.role(node) == "list item" and node.name.startswith(SENT),
                          "the queue row")
    check(actions(row) == ["取消"], "the active queue row offers %r" % actions(row))
    check(row.childCount == 1, "the queue row holds %d children" % row.childCount)
    bar = row.getChildAtIndex(0)
    check(ds.role(bar) == "progress bar" and bar.name == "发送进度", "the row holds %s" % describe(bar))
    check(offered(bar) == [], "the bar offers %r" % offered(bar))
    percent = bar_percent(bar)
    check(row.name.endswith(" · %d%%" % percent), "the row reads %r while its bar reads %d" % (row.name, percent))

    menu = desk.popup_menu("shift+F10")
    check(menu == ("取消", ["取消"]), "Shift+F10 opened %r (focused item, items), not 取消 alone" % (menu,))
    desk.keys("Return")
    cancelled = ds.wait_for(lambda: ds.find(desk.main, "list item", prefix=SENT + " · 已取消"), 10)
    check(cancelled, "Shift+F10, Return did not cancel; the row reads %r" % ds.fresh(row).name)
    check(ds.fresh(cancelled[0]).childCount == 1, "the cancelled row lost its bar")
    check(actions(cancelled[0]) == [], "the cancelled row still offers %r" % actions(cancelled[0]))


def file_rows(desk, received):
    """Tab to the file list, the arrows to the received file, Return; then Delete on another."""
    desk.move_focus("Tab", lambda node: ds.role(node) == "list item" and node.parent.name == "文件",
                    "the file list")
    row = desk.arrows_to("收到的.txt")
    check(actions(row) == FILE_ACTIONS, "a local file row offers %r" % actions(row))
    menu = desk.popup_menu("Menu")
    check(menu == ("打开", FILE_ACTIONS), "the Menu key opened %r (focused item, items)" % (menu,))
    desk.keys("Escape")
    check(ds.wait_for(lambda: desk.focused() is not None and desk.focused().name.startswith("收到的.txt"), 10),
          "after the menu the focus is on %s" % describe(desk.focused()))
    desk.keys("Return")
    check(ds.wait_for(lambda: received in desk.session.opened(), 10),
          "Return opened %r, not %s" % (desk.session.opened(), received))

    desk.arrows_to("旧草稿.txt")
    path = os.path.join(desk.session.home, "Corvane", "旧草稿.txt")
    desk.keys("Delete")
    check(ds.wait_for(lambda: not os.path.exists(path), 10), "Delete left %s on the disk" % path)
    check(ds.wait_for(lambda: not ds.find(desk.main, "list item", prefix="旧草稿.txt"), 10),
          "the deleted file stays listed")
    check(os.path.exists(received), "Delete took the received file too")


def click_then_space(desk):
    """A click on "局域网模式" opens the team panel ("完成" closes it); a click on a row, then
    Space: the row holds the keys and the panel stays shut."""
    badge = ds.wait_for(lambda: ds.find(desk.main, "push button", name="局域网模式"), 10)
    check(badge, "no 局域网模式 button")
    desk.click(badge[0])
    panel = ds.window(desk.app, "团队空间")
    check(panel, "a click on 局域网模式 did not open the team panel")
    done = ds.wait_for(lambda: ds.find(panel, "push button", name="完成"), 10)
    check(done, "the team panel has no 完成")
    ds.press(done[0])
    check(ds.wait_for(lambda: ds.window(desk.app, "团队空间", timeout=0) is None, 10), "完成 left the panel open")
    row = ds.wait_for(lambda: ds.find(desk.main, "list item", prefix="报告.pdf"), 10)
    check(row, "no row for 报告.pdf")
    desk.click(row[0])
    check(ds.wait_for(lambda: desk.focused() is not None and desk.focused().name.startswith("报告.pdf"), 10),
          "after the click the keys are on %s" % describe(desk.focused()))
    desk.keys("space")
    # An arrow after Space: once it moves the keys to the next row, Space has been taken, by the row.
    desk.arrows_to("收到的.txt")
    check(ds.window(desk.app, "团队空间", timeout=0) is None, "Space after the click pressed 局域网模式 again")


def run(binary):
    session = ds.Session(binary, screen=(1280, 720), window_manager=True)
    held = ds.HeldDevice(HELD_PORT)
    try:
        session.place_file("报告.pdf", size=2048, age_seconds=300)
        session.place_file("旧草稿.txt", content=b"draft", age_seconds=7200)
        outbox = os.path.join(session.box, "outbox")
        os.makedirs(outbox)
        with open(os.path.join(outbox, SENT), "wb") as out:
            out.truncate(CHUNKS * 4 << 20)
        session.announce("dev-held", "会议室 iMac", plat="darwin", port=HELD_PORT)
        session.start()
        desk = Desktop(session)
        told = Told()  # early: the program tells only what a reader has asked to hear
        check(ds.wait_for(lambda: ds.find(desk.main, "list item", prefix="报告.pdf"), 20), "the files never showed")

        device = ds.wait_for(lambda: [n for n in ds.find(desk.main, name="会议室 iMac") if ds.role(n) != "label"], 20)
        check(device, "the holding device never showed up")
        ds.press(device[0])
        check(ds.wait_for(lambda: ds.find(desk.main, "label", name="会议室 iMac"), 10), "the device was not chosen")
        check(ds.send_through_picker(desk.app, desk.main, "选择文件", os.path.join(outbox, SENT)),
              "the file could not be picked")
        told_together(desk, held, told)
        told.close()
        queue_row(desk)

        back = ds.wait_for(lambda: ds.find(desk.main, "push button", name="返回本机"), 10)
        check(back, "no way back to this device")
        ds.press(back[0])
        session.upload("00000000000000c1", "收到的.txt", b"hello")
        received = os.path.join(session.home, "Corvane", "收到的.txt")
        check(ds.wait_for(lambda: ds.find(desk.main, "list item", prefix="收到的.txt"), 15),
              "the received file is not listed")
        file_rows(desk, received)
        click_then_space(desk)
    finally:
        held.close()
        session.close()


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
