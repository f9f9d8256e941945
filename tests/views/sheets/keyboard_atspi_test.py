"""The keyboard as a person at a desktop meets it, with openbox running on a
1280x720 and a 1366x768 screen, real keys typed through the X server (xdotool)
and the window read over AT-SPI:
- text typed as soon as the chat window is the active window lands in its
  message box, spaces and all, and the window stays open;
- the fresh clear alert takes Space, Return and Escape as "取消" (the history
  stays); Tab then Return presses "清空";
- Tab round the settings sheet (its body scrolls on these screens) keeps every
  focused control of the body inside the body's visible area, the name field too
  when Tab wraps to it from "完成";
- Return on the welcome sheet's focused "去启用 / 登录" presses it: the team
  panel opens.

Usage: keyboard_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
SCREENS = ((1280, 720), (1366, 768))
CHAT = "办公室聊天"
ALERT = "清空记录"
INPUT = "输入消息，Enter 发送"


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def chat_and_clear_alert(desktop):
    where = desktop.where()
    desktop.session.send_chat("m1", "dev-a", "小张", "在吗")
    ds.press(one(ds.find(desktop.main, "push button", name=CHAT), "chat button"))
    chat = desktop.active_window(CHAT)
    box = one(ds.find(chat, "text", name=INPUT), "message box")
    desktop.type("hello world")  # a space too: on "完成" it would close the window
    typed = ds.wait_for(lambda: ds.fresh(box).queryText().getText(0, -1) == "hello world", 10)
    check(typed, "%s: typed at once, the message box holds %r and the window is %s"
          % (where, ds.fresh(box).queryText().getText(0, -1), "open" if ds.window(desktop.app, CHAT, 0) else "closed"))
    check(ds.wait_for(lambda: ds.find(chat, name="在吗"), 10), "%s: the message from 小张 is not shown" % where)

    for keys, clears in ((("space",), False), (("Return",), False), (("Escape",), False), (("Tab", "Return"), True)):
        ds.press(one(ds.find(chat, "push button", name=ALERT), "clear button"))
        alert = desktop.active_window(ALERT)
        check(ds.wait_for(lambda: ds.describe(ds.focused(alert)) == "push button '取消'", 10),
              "%s: the clear alert opens with the focus on %s" % (where, ds.describe(ds.focused(alert))))
        desktop.keys(*keys)
        check(desktop.closed(ALERT), "%s: %s left the clear alert open" % (where, "+".join(keys)))
        if clears:
            check(ds.wait_for(lambda: not ds.find(chat, name="在吗"), 10), "%s: Tab, Return did not clear" % where)
        else:
            check(ds.find(chat, name="在吗"), "%s: %s in the fresh alert cleared the history" % (where, keys[0]))
        desktop.active_window(CHAT)

    desktop.keys("Escape")  # the message box has the keyboard; Escape is "完成"'s
    check(desktop.closed(CHAT), "%s: Escape did not close the chat window" % where)


def settings_tab_round(desktop):
    where = desktop.where()
    ds.press(one(ds.find(desktop.main, "push button", name="设置"), "settings button"))
    sheet = desktop.active_window("设置")
    # The body's content holds the sheet's title; what shows of it is the scroll area's viewport round it.
    body = one(ds.find(sheet, "label", name="设置"), "title of the settings").parent.parent
    bx, by, bw, bh = ds.extents(body)
    sx, sy, sw, sh = ds.extents(sheet)
    check(bh < sh - 40, "%s: the settings body does not scroll (%d of %d px)" % (where, bh, sh))
    seen = []
    came_round = False
    for _ in range(40):
        before = ds.focused(sheet)
        desktop.keys("Tab")
        check(ds.wait_for(lambda: ds.focused(sheet) is not None and ds.describe(ds.focused(sheet)) != ds.describe(before), 5),
              "%s: Tab did not move the focus from %s" % (where, ds.describe(before)))
        node = ds.focused(sheet)
        seen.append(ds.describe(node))
        x, y, width, height = ds.extents(node)
        if node.name == "完成":
            check(sy <= y and y + height <= sy + sh, "%s: 完成 lies outside the sheet" % where)
            continue
        check(by <= y and y + height <= by + bh and bx <= x and x + width <= bx + bw,
              "%s: after Tab the focused %s lies at y %d..%d, outside the visible body y %d..%d (Tab went %r)"
              % (where, ds.describe(node), y, y + height, by, by + bh, seen))
        if "push button '完成'" in seen[:-1] and ds.role(node) == "text" and node.name == "这台设备的名字":
            came_round = True
            break
    check(came_round, "%s: Tab never came round from 完成 to the name field: %r" % (where, seen))


def welcome_return(binary, size):
    with ds.Desktop(binary, size, welcome_done=False) as desktop:
        where = desktop.where()
        welcome = desktop.active_window("欢迎使用Corvane")
        for _ in range(6):
            if ds.describe(ds.focused(welcome)) == "push button '去启用 / 登录'":
                break
            desktop.keys("Tab")
            ds.wait_for(lambda: ds.focused(welcome) is not None, 5)
        check(ds.describe(ds.focused(welcome)) == "push button '去启用 / 登录'",
              "%s: Tab never reached 去启用 / 登录" % where)
        desktop.keys("Return")
        check(desktop.closed("欢迎使用Corvane"), "%s: Return on 去启用 / 登录 left the welcome open" % where)
        check(ds.window(desktop.app, "团队空间") is not None, "%s: the team panel did not open" % where)


def run(binary):
    for size in SCREENS:
        with ds.Desktop(binary, size) as desktop:
            chat_and_clear_alert(desktop)
            settings_tab_round(desktop)
        welcome_return(binary, size)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
