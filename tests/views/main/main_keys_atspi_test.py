"""The main window by keyboard, under openbox on a 1280x720 screen, keys typed
through the X server (xdotool) with a screen reader listening, read over AT-SPI;
each move of the keys is heard as one focus event, for the one control of the
window then reporting focused:
- this device's row is a push button, the peers' rows items of one list: Tab goes this
  device's row, the list (one stop, keeping its row), "接收目录", "NAS 网页管理"; the arrows
  go through every row on to the buttons (and stop at the ends);
- Return (and the keypad's Enter) on a row chooses its device: it alone reads
  checked, heard as it changes; on a button ("设置", "办公室聊天") Return presses it;
- the Menu key and Shift+F10 on a peer row open its menu, "重命名…" focused, and
  Return opens the "重命名" prompt;
- three sends by keys ("选择文件" by Return, then Ctrl+O), each path taken by Return
  while the picker's completer list shows: the window is active again at once,
  the keys on "选择文件", and Tab moves them;
- Tab goes round the chat window, its conversation row too; while the
  "清空记录" alert is open the chat window reports nothing focused;
- "重命名", "清空记录" and the chat window ask the window manager for a close
  button and nothing to minimise or maximise.

Usage: main_keys_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
UPPER, LOWER = "会议室 iMac", "前台 PC"


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def device_rows(main):
    """The device rows top to bottom: the controls whose description carries an address."""
    rows = [node for node in ds.descendants(main) if ds.role(node) != "label"
            and " · " in (node.description or "") and ":" in node.description]
    return sorted(rows, key=lambda node: ds.extents(node)[1])


def button(name):
    return "push button %r" % name


def row(name):
    return "list item %r" % name


class Steps:
    """Keys pressed in a window, each followed by the control that must have the focus then."""

    def __init__(self, desktop, window):
        self.desktop = desktop
        self.window = window
        self.pressed = []

    def __call__(self, key, then=None):
        """Presses the key; the keys must go to then (anywhere else, when None), heard there
        as one focus event (none when they stay); where they went."""
        before = ds.describe(ds.focused(self.window))
        heard = self.desktop.reader.mark()
        self.desktop.keys(key)
        self.pressed.append(key)
        now = ds.wait_for(lambda: (lambda said: said if said == then or (then is None and said not in (before, "nothing"))
                                   else None)(ds.describe(ds.focused(self.window))), 5)
        check(now, "after %s the focus is on %r, expected %s" % (" ".join(self.pressed), [
            ds.describe(node) for node in ds.focused_hits(self.window)], then or "a move"))
        moves = self.desktop.reader.focus_moves(heard, now) if now != before else [now]
        check(moves == [now], "after %s a screen reader heard the keys go to %r" % (" ".join(self.pressed), moves))
        return now

    def start_on(self, node):
        node.queryComponent().grabFocus()
        check(self.desktop.focus_reaches(self.window, ds.describe(node)), "%s never took the focus" % ds.describe(node))


def title_reads(main, name):
    return ds.wait_for(lambda: ds.find(main, "label", name=name), 10)


def sidebar(desktop, main):
    rows = ds.wait_for(lambda: (lambda found: found if len(found) == 3 else None)(device_rows(main)), 20)
    check(rows, "expected three device rows, found %r" % [r.name for r in device_rows(main)])
    roles = [ds.role(row) for row in rows]
    check(roles == ["push button", "list item", "list item"], "the device rows are %r" % roles)
    own = rows[0]
    check([r.name for r in rows[1:]] == [UPPER, LOWER], "rows: %r" % [r.name for r in rows])

    step = Steps(desktop, main)
    step.start_on(own)
    own_row, upper, lower = button(own.name), row(UPPER), row(LOWER)
    for key, then in (("Tab", upper), ("Tab", button("接收目录")), ("Tab", button("NAS 网页管理")),
                      ("shift+Tab", button("接收目录")), ("shift+Tab", upper), ("Down", lower),
                      ("Tab", button("接收目录")), ("shift+Tab", lower), ("shift+Tab", own_row),
                      ("Up", own_row), ("Down", upper), ("Down", lower), ("Down", button("接收目录")),
                      ("Down", button("NAS 网页管理")), ("Down", button("NAS 网页管理")), ("Up", button("接收目录")),
                      ("Up", lower), ("Up", upper)):
        step(key, then)
    for key, chosen, title in (("Return", UPPER, UPPER), ("KP_Enter", own.name, "本机")):
        heard = desktop.reader.mark()
        desktop.keys(key)
        check(title_reads(main, title), "%s on the row %s did not choose it" % (key, chosen))
        check(desktop.reader.hears(lambda events: [e for e in events[heard:] if e.get("name") == chosen and
                                                   e["type"] == "object:state-changed:checked" and e["detail1"]]),
              "a screen reader never heard the row %s become checked" % chosen)
        checked = [row.name for row in rows if ds.is_checked(row)]
        check(checked == [chosen], "with %s chosen the rows checked are %r" % (chosen, checked))
        step("Up", own_row)
    step("Down", upper)
    for opener in ("Menu", "shift+F10"):
        first, menu = ds.focused_menu(lambda: desktop.keys(opener))
        items = [menu.getChildAtIndex(index).name for index in range(menu.childCount)]
        check(first == "重命名…" and items[:1] == [first], "%s opened a menu of %r, %r focused" % (opener, items, first))
        desktop.keys("Return")
        prompt = desktop.active_window("重命名")
        check(prompt is not None, "重命名… chosen by keys opened no prompt")
        ds.check_close_only(desktop.session, "重命名")
        desktop.keys("Escape")
        check(desktop.closed("重命名"), "Escape left the rename prompt open")
        check(desktop.focus_reaches(main, upper), "after the prompt the keys are on %s"
              % ds.describe(ds.focused(main)))


def buttons_and_chat(desktop, main):
    step = Steps(desktop, main)
    step.start_on(one(ds.find(main, "push button", name="设置"), "settings button"))
    desktop.keys("Return")
    settings = desktop.active_window("设置")
    ds.press(one(ds.find(settings, "push button", name="完成"), "完成 of the settings"))
    check(desktop.closed("设置"), "the settings stayed open")

    desktop.session.send_chat("m1", "dev-a", "小张", "在吗")
    step.start_on(one(ds.find(main, "push button", name="办公室聊天"), "chat button"))
    desktop.keys("Return")
    chat = desktop.active_window("办公室聊天")
    ds.check_close_only(desktop.session, "办公室聊天")
    clear = ds.wait_for(lambda: ds.find(chat, "push button", name="清空记录"), 10)
    check(clear, "the chat shows no 清空记录")
    in_chat = Steps(desktop, chat)
    box = ds.wait_for(lambda: ds.describe(ds.focused(chat)), 5)  # the message box
    round_trip = [in_chat("Tab")]
    while round_trip[-1] != box and len(round_trip) < 12:
        round_trip.append(in_chat("Tab"))
    check({"list item '全员频道'", button("清空记录"), box} <= set(round_trip), "Tab went round by %r" % round_trip)
    in_chat.start_on(clear[0])
    in_chat("Tab", button("完成"))
    in_chat("shift+Tab", button("清空记录"))
    desktop.keys("Return")
    desktop.active_window("清空记录")
    ds.check_close_only(desktop.session, "清空记录")
    check(ds.focused_hits(chat) == [], "with the alert open the chat reports %r focused" % ds.focused_hits(chat))
    desktop.keys("Escape")
    check(desktop.closed("清空记录"), "Escape left the clear alert open")
    check(ds.find(chat, name="在吗"), "the history was cleared")
    desktop.active_window("办公室聊天")
    desktop.keys("Escape")
    check(desktop.closed("办公室聊天"), "Escape did not close the chat window")


def sends_by_keys(desktop, main):
    step = Steps(desktop, main)
    desktop.keys("Return")
    check(title_reads(main, UPPER), "Return on the row %s did not choose it" % UPPER)
    step.start_on(one(ds.find(main, "push button", name="选择文件"), "选择文件"))
    for index, opener in enumerate(("Return", "ctrl+o", "ctrl+o")):
        path = os.path.join(desktop.session.box, "send-%d.txt" % index)
        open(path, "w").close()
        heard = desktop.reader.mark()
        desktop.keys(opener)
        picker = desktop.active_window("选择要发送到「%s」的文件" % UPPER)
        field = [node for node in ds.find(picker, "text") if node.queryEditableText()][-1]
        desktop.type(path)
        check(ds.wait_for(lambda: field.queryText().getText(0, -1) == path, 5), "the picker's field never read " + path)
        check(desktop.reader.hears(lambda events: [e["detail1"] for e in events[heard:] if e.get("role") == "list" and
                                                   not e.get("name") and e["type"].endswith("showing")][-1:] == [1]),
              "the completer list never showed")
        desktop.keys("Return")
        check(ds.wait_for(lambda: ds.is_active(main), 1), "after send %d the window is not active" % (index + 1))
        step("Tab")
        step("shift+Tab", button("选择文件"))
    check(ds.wait_for(lambda: len(ds.find(main, "list item", prefix="send-")) == 3, 10), "the queue lacks a send")


def run(binary):
    with ds.Desktop(binary, (1280, 720), screen_reader=True) as desktop:
        desktop.session.announce("dev-up", UPPER, plat="darwin", port=8951)
        desktop.session.announce("dev-low", LOWER, plat="win32", port=8952)
        main = desktop.active_window("Corvane")
        sidebar(desktop, main)
        sends_by_keys(desktop, main)
        buttons_and_chat(desktop, main)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
