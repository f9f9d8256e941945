"""The main window by keyboard, under openbox on a 1280x720 screen, keys typed
through the X server (xdotool) and the result read over AT-SPI:
- the device rows are push buttons; Tab goes this device's row, the peers' rows
  top to bottom, then "接收目录", and Shift+Tab back; Down and Up move to the
  row below and above and stop at the ends;
- Return (and the keypad's Enter) on a focused row chooses its device, and on
  a focused button ("设置", "办公室聊天") presses it;
- the Menu key and Shift+F10 on a focused peer row each open its menu, whose
  "重命名…" opens the "重命名" prompt;
- in the chat window Tab goes from "清空记录" to "完成", and Return on
  "清空记录" opens its alert;
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


class Steps:
    """Keys pressed in a window, each followed by the control that must have the focus then."""

    def __init__(self, desktop, window):
        self.desktop = desktop
        self.window = window
        self.pressed = []

    def __call__(self, key, then):
        self.desktop.keys(key)
        self.pressed.append(key)
        check(self.desktop.focus_reaches(self.window, then), "after %s the focus is on %s, expected %s"
              % (" ".join(self.pressed), ds.describe(ds.focused(self.window)), then))

    def start_on(self, node):
        node.queryComponent().grabFocus()
        check(self.desktop.focus_reaches(self.window, ds.describe(node)), "%s never took the focus" % ds.describe(node))


def title_reads(main, name):
    return ds.wait_for(lambda: ds.find(main, "label", name=name), 10)


def sidebar(desktop, main):
    rows = ds.wait_for(lambda: (lambda found: found if len(found) == 3 else None)(device_rows(main)), 20)
    check(rows, "expected three device rows, found %r" % [r.name for r in device_rows(main)])
    roles = [ds.role(row) for row in rows]
    check(roles == ["push button"] * 3, "the device rows are %r, not push buttons" % roles)
    own = rows[0]
    check([r.name for r in rows[1:]] == [UPPER, LOWER], "rows: %r" % [r.name for r in rows])

    step = Steps(desktop, main)
    step.start_on(own)
    for key, then in (("Tab", UPPER), ("Tab", LOWER), ("Tab", "接收目录"), ("shift+Tab", LOWER), ("shift+Tab", UPPER),
                      ("shift+Tab", own.name), ("Up", own.name), ("Down", UPPER), ("Down", LOWER), ("Down", LOWER),
                      ("Up", UPPER)):
        step(key, button(then))
    desktop.keys("Return")
    check(title_reads(main, UPPER), "Return on the row %s did not choose it" % UPPER)
    step("Up", button(own.name))
    desktop.keys("KP_Enter")
    check(title_reads(main, "本机"), "the keypad's Enter on this device's row did not choose it")

    step("Down", button(UPPER))
    for opener in ("Menu", "shift+F10"):
        menu = ds.popup_menu(lambda: desktop.keys(opener))
        check(menu is not None, "%s on the focused row %s opened no menu" % (opener, UPPER))
        items = [menu.getChildAtIndex(index).name for index in range(menu.childCount)]
        check(items[:1] == ["重命名…"], "%s opened a menu of %r" % (opener, items))
        desktop.keys("Down", "Return")
        prompt = desktop.active_window("重命名")
        check(prompt is not None, "重命名… chosen by keys opened no prompt")
        ds.check_close_only(desktop.session, "重命名")
        desktop.keys("Escape")
        check(desktop.closed("重命名"), "Escape left the rename prompt open")
        check(desktop.focus_reaches(main, button(UPPER)), "after the prompt the keys are on %s"
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
    in_chat.start_on(clear[0])
    in_chat("Tab", button("完成"))
    in_chat("shift+Tab", button("清空记录"))
    desktop.keys("Return")
    desktop.active_window("清空记录")
    ds.check_close_only(desktop.session, "清空记录")
    desktop.keys("Escape")
    check(desktop.closed("清空记录"), "Escape left the clear alert open")
    check(ds.find(chat, name="在吗"), "the history was cleared")
    desktop.active_window("办公室聊天")
    desktop.keys("Escape")
    check(desktop.closed("办公室聊天"), "Escape did not close the chat window")


def run(binary):
    with ds.Desktop(binary, (1280, 720)) as desktop:
        desktop.session.announce("dev-up", UPPER, plat="darwin", port=8951)
        desktop.session.announce("dev-low", LOWER, plat="win32", port=8952)
        main = desktop.active_window("Corvane")
        sidebar(desktop, main)
        buttons_and_chat(desktop, main)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
