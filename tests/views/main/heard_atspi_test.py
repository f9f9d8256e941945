"""What a screen reader hears of what happened, with real keys typed through the X
server (xdotool) and a reader listening in a process of its own, under openbox on a
1280x720 screen and on a bare X server with no window manager:
- a peer row's menu opened by keys tells no window active; 设置 opening tells
  itself active and not the main window, and closing tells the main window;
- the window minimised and restored gives the keys back to the file row, heard there;
- the file list drawn again behind the keys (刷新列表 after a new file, Return on a
  peer row, Return on 返回本机) raises no focus event for a row: the only focus events
  are for the control holding the keys;
- a send the receiver refuses ("对方正忙，请稍后再发") and one that fails (the file
  shortened while it goes out) are each heard once, as an alert in the row's own
  words, while the keys stay on "选择文件"; then the queue's header reads "2 个失败";
- the feedback sheet's categories are radio buttons, the arrows moving the choice and
  heard checked; Return on "提交" with no server leaves the keys on "提交" (no focus
  event for a category) and the failure is heard as an alert; Return on "检查更新" keeps
  the keys there and the result shown is heard;
- with no window manager, a sheet or the picker closed by keys ("取消" on 发送文字,
  "完成" on 设置, Escape on the picker) leaves the window active, and Tab moves the keys.

Usage: heard_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
describe = ds.describe
BUSY, HELD = "忙碌的 Mac", "会议室 iMac"
BUSY_PORT, HELD_PORT = ds.FIRST_HTTP_PORT + 71, ds.FIRST_HTTP_PORT + 72
CHUNKS = 3  # of 4 MiB


def button(name):
    return "push button %r" % name


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def focus_events(reader, since):
    return ["%s %r" % (e.get("role"), e.get("name")) for e in reader.heard[since:] if e["type"] == "focus:"]


def alerts(reader, since):
    return [e.get("name") for e in reader.heard[since:]
            if e["type"] == "object:state-changed:showing" and e["detail1"] == 1 and e.get("role") == "alert"]


def activated(reader, since):
    """The windows told active since the mark (window:activate), by name."""
    return [e.get("name") for e in reader.heard[since:] if e["type"] == "window:activate"]


def start_on(desktop, where, node):
    node.queryComponent().grabFocus()
    check(desktop.focus_reaches(where, describe(node)), "%s never took the keys" % describe(node))


def no_row_focus(desktop, since, what):
    rows = [said for said in focus_events(desktop.reader, since) if said.startswith("list item")]
    check(not rows, "%s: a screen reader heard the keys go to %r" % (what, rows))


def file_rows(main):
    return [node.name for node in ds.find(main, "list item") if node.parent.name == "文件"]


def file_list_redrawn(desktop, main):
    """The file list drawn again while the keys are on a button or a device row."""
    check(ds.wait_for(lambda: len(file_rows(main)) == 2, 20), "the files never showed: %r" % [
        (node.name, node.parent.name) for node in ds.find(main, "list item")])
    row = ds.move_focus(main, lambda: desktop.keys("Tab"),
                        lambda node: ds.role(node) == "list item" and node.parent.name == "文件", "the file list")
    # Minimised and restored, the window gives the keys back to the row, told as they come.
    said = "list item %r" % row.name
    window = desktop.session._x("xdotool", "search", "--onlyvisible", "--name", "^Corvane$").split()
    check(len(window) == 1, "xdotool found the windows %r named Corvane" % window)
    desktop.session._x("xdotool", "windowminimize", window[0])
    check(ds.wait_for(lambda: not ds.is_active(main), 10), "the minimised window stays active")
    heard = desktop.reader.mark()
    desktop.session._x("xdotool", "windowactivate", window[0])
    check(ds.wait_for(lambda: ds.is_active(main), 10), "the restored window is not active")
    check(desktop.reader.hears(lambda _: said in focus_events(desktop.reader, heard)),
          "back in the window, a screen reader heard the keys go to %r, not %s" % (focus_events(desktop.reader, heard), said))
    refresh = one(ds.find(main, "push button", name="刷新列表"), "刷新列表")
    start_on(desktop, main, refresh)
    heard = desktop.reader.mark()
    desktop.session.place_file("新来的.txt", b"new")
    desktop.keys("Return")
    check(ds.wait_for(lambda: any(name.startswith("新来的.txt") for name in file_rows(main)), 10),
          "刷新列表 did not list the new file: %r" % file_rows(main))
    check(describe(ds.focused(main)) == button("刷新列表"), "after 刷新列表 the keys are on %s" % describe(ds.focused(main)))
    no_row_focus(desktop, heard, "刷新列表 after a new file")

    held = one([row for row in ds.find(main, "list item", name=HELD) if " · " in (row.description or "")], HELD)
    start_on(desktop, main, held)
    heard = desktop.reader.mark()
    desktop.keys("Return")
    check(ds.wait_for(lambda: ds.find(main, "label", name=HELD), 10), "Return on the row %s did not choose it" % HELD)
    check(ds.wait_for(lambda: not file_rows(main), 10), "the peer's list still shows %r" % file_rows(main))
    no_row_focus(desktop, heard, "Return on a peer row")

    back = ds.wait_for(lambda: ds.find(main, "push button", name="返回本机"), 10)
    check(back, "no 返回本机")
    start_on(desktop, main, back[0])
    heard = desktop.reader.mark()
    desktop.keys("Return")
    check(ds.wait_for(lambda: len(file_rows(main)) == 3, 10), "返回本机 did not list the files: %r" % file_rows(main))
    no_row_focus(desktop, heard, "Return on 返回本机")


def menu_tells_no_window(desktop, main):
    """A peer row's menu opened by the Menu key and closed by Escape: the window behind it stays
    the active one, so no window is told active meanwhile."""
    row = one([row for row in ds.find(main, "list item", name=HELD) if " · " in (row.description or "")], HELD)
    start_on(desktop, main, row)
    heard = desktop.reader.mark()
    first, _ = ds.focused_menu(lambda: desktop.keys("Menu"))
    check(first == "重命名…", "the Menu key opened a menu on %r" % first)
    # The reader hears events after this process does: its mark follows the menu's focus.
    desktop.reader.focus_moves(heard, "menu item %r" % first)
    closing = desktop.reader.mark()
    desktop.keys("Escape")
    check(desktop.reader.hears(lambda _: focus_events(desktop.reader, closing) == [describe(row)]),
          "after the menu the keys were heard going to %r" % focus_events(desktop.reader, closing))
    # Tab, once heard, comes after everything the menu's closing raised.
    tab = desktop.reader.mark()
    desktop.keys("Tab")
    check(desktop.reader.hears(lambda _: focus_events(desktop.reader, tab)), "Tab was not heard")
    told = activated(desktop.reader, heard)
    check(not told, "a menu opened and closed told the windows %r active" % told)


def choose(desktop, main, name):
    row = one([row for row in ds.find(main, "list item", name=name) if " · " in (row.description or "")], name)
    ds.press(row)
    check(ds.wait_for(lambda: ds.find(main, "label", name=name), 10), "the device %s was not chosen" % name)


def send_by_keys(desktop, main, device, path):
    """选择文件 by Return, the path typed into the picker, Return: the keys are heard going to
    the picker's field and back to 选择文件, nowhere else.
    Paths are typed in ASCII: xdotool may drop the first character of a remapped key."""
    start_on(desktop, main, one(ds.find(main, "push button", name="选择文件"), "选择文件"))
    heard = desktop.reader.mark()
    desktop.keys("Return")
    picker = desktop.active_window("选择要发送到「%s」的文件" % device)
    field = [node for node in ds.find(picker, "text") if node.queryEditableText()][-1]
    desktop.type(path)
    check(ds.wait_for(lambda: field.queryText().getText(0, -1) == path, 5), "the picker's field read %r, not %s"
          % (field.queryText().getText(0, -1), path))
    desktop.keys("Return")
    check(desktop.closed("选择要发送到「%s」的文件" % device), "the picker stayed open")
    check(desktop.focus_reaches(main, button("选择文件")), "after the send the keys are on %s" % describe(ds.focused(main)))
    # Heard: the picker's field, then 选择文件 again; nothing of the picker before it shows.
    moves = desktop.reader.focus_moves(heard, button("选择文件"))
    check(len(moves) == 2 and moves[0].startswith("text ") and moves[1] == button("选择文件"),
          "a send by keys was heard as the keys going to %r" % moves)


def failed_sends(desktop, main, held_device):
    outbox = os.path.join(desktop.session.box, "outbox")
    os.makedirs(outbox)
    small, big = os.path.join(outbox, "small.txt"), os.path.join(outbox, "big.bin")
    with open(small, "w") as out:
        out.write("hello")
    with open(big, "wb") as out:
        out.truncate(CHUNKS * 4 << 20)

    choose(desktop, main, BUSY)
    heard = desktop.reader.mark()
    send_by_keys(desktop, main, BUSY, small)
    refused = "small.txt · 失败：对方正忙，请稍后再发"
    check(desktop.reader.hears(lambda _: refused in alerts(desktop.reader, heard), 10),
          "the refusal was never heard; alerts: %r" % alerts(desktop.reader, heard))

    choose(desktop, main, HELD)
    send_by_keys(desktop, main, HELD, big)
    check(ds.wait_for(lambda: ds.find(main, "list item", prefix="big.bin · 传输中"), 15), "the big file never went out")
    # Its first chunk is held; the file loses everything after it, so the next one fails.
    os.truncate(big, 4 << 20)
    held_device.allow(CHUNKS)
    failed = "big.bin · 失败：文件在发送过程中被修改"
    check(desktop.reader.hears(lambda _: failed in alerts(desktop.reader, heard), 15),
          "the failure was never heard; alerts: %r" % [(i, e) for i, e in enumerate(desktop.reader.heard) if i >= heard and (e.get("role") == "alert" or e["type"].startswith("window") or e["type"] == "focus:")])
    check(ds.wait_for(lambda: ds.find(main, "label", name="2 个失败"), 10),
          "the queue's header does not read 2 个失败: %r" % [n.name for n in ds.find(main, "label", prefix="全部")])
    told = alerts(desktop.reader, heard)
    check(told == [refused, failed], "a screen reader heard the failures as %r" % told)
    check(describe(ds.focused(main)) == button("选择文件"), "after the failures the keys are on %s"
          % describe(ds.focused(main)))
    no_row_focus(desktop, heard, "two sends that failed")


def feedback(desktop, main):
    start_on(desktop, main, one(ds.find(main, "push button", name="设置"), "设置"))
    heard = desktop.reader.mark()
    desktop.keys("Return")
    settings = desktop.active_window("设置")
    check(desktop.reader.hears(lambda _: focus_events(desktop.reader, heard)), "no focus heard in 设置")
    told = activated(desktop.reader, heard)
    check(told == ["设置"], "设置 opening told the windows %r active" % told)
    start_on(desktop, settings, one(ds.find(settings, "push button", name="意见反馈…"), "意见反馈…"))
    desktop.keys("Return")
    sheet = desktop.active_window("体验反馈")
    kinds = sorted(ds.find(sheet, "radio button"), key=lambda node: ds.extents(node)[0])
    check([k.name for k in kinds] == ["问题反馈", "功能建议", "其他"], "the categories read as %r"
          % [describe(node) for node in ds.descendants(sheet) if node.name in ("问题反馈", "功能建议", "其他")])
    start_on(desktop, sheet, kinds[0])
    heard = desktop.reader.mark()
    desktop.keys("Right")
    check(desktop.focus_reaches(sheet, "radio button '功能建议'"), "Right left the keys on %s" % describe(ds.focused(sheet)))
    check(desktop.reader.hears(lambda events: [e for e in events[heard:] if e.get("name") == "功能建议"
                                               and e["type"] == "object:state-changed:checked" and e["detail1"]]),
          "a screen reader never heard 功能建议 become checked")
    check(not ds.is_checked(kinds[0]), "问题反馈 stays checked beside 功能建议")

    start_on(desktop, sheet, one(ds.find(sheet, "text", name="具体说说"), "the feedback text"))
    desktop.type("works well")
    submit = one(ds.find(sheet, "push button", name="提交"), "提交")
    check(ds.wait_for(lambda: ds.is_enabled(submit), 5), "提交 stays disabled")
    start_on(desktop, sheet, submit)
    heard = desktop.reader.mark()
    desktop.keys("Return")
    check(desktop.reader.hears(lambda _: alerts(desktop.reader, heard), 30), "the failure was never heard")
    told = alerts(desktop.reader, heard)
    shown = [label.name for label in ds.find(sheet, "label") if label.name in told]
    check(len(told) == 1 and shown == told, "a screen reader heard %r; the sheet shows %r" % (told, shown))
    check(desktop.focus_reaches(sheet, button("提交")), "after the failure the keys are on %s" % describe(ds.focused(sheet)))
    moves = focus_events(desktop.reader, heard)
    check(all(not said.startswith("radio button") for said in moves), "the keys went to %r" % moves)
    desktop.keys("shift+Tab", "Return")
    check(desktop.closed("体验反馈"), "取消 left the feedback sheet open")
    desktop.active_window("设置")
    check_now = one(ds.find(settings, "push button", name="检查更新"), "检查更新")
    start_on(desktop, settings, check_now)
    heard = desktop.reader.mark()
    desktop.keys("Return")
    # The session's manifest is no real one: the result told is the one shown, whatever it is.
    check(desktop.reader.hears(lambda _: alerts(desktop.reader, heard), 30), "检查更新's result was never heard")
    told = alerts(desktop.reader, heard)
    check(len(told) == 1 and ds.find(settings, "label", name=told[0]), "检查更新 was heard as %r; the sheet shows %r"
          % (told, [label.name for label in ds.find(settings, "label", prefix="检查")]))
    check(desktop.focus_reaches(settings, button("检查更新")), "after the check the keys are on %s"
          % describe(ds.focused(settings)))
    moves = focus_events(desktop.reader, heard)
    check(all(said == button("检查更新") for said in moves), "during the check the keys went to %r" % moves)
    start_on(desktop, settings, one(ds.find(settings, "push button", name="完成"), "完成"))
    heard = desktop.reader.mark()
    desktop.keys("Return")
    check(desktop.closed("设置"), "完成 left the settings open")
    check(desktop.reader.hears(lambda _: button("设置") in focus_events(desktop.reader, heard)),
          "after 设置 closed the keys were heard going to %r" % focus_events(desktop.reader, heard))
    told = activated(desktop.reader, heard)
    check(told == ["Corvane"], "设置 closing told the windows %r active" % told)


def with_window_manager(binary):
    busy, held = ds.BusyDevice(BUSY_PORT), ds.HeldDevice(HELD_PORT)
    try:
        desktop = ds.Desktop(binary, (1280, 720), screen_reader=True)
        desktop.session.place_file("报告.pdf", size=2048, age_seconds=300)
        desktop.session.place_file("旧草稿.txt", content=b"draft", age_seconds=7200)
        with desktop:
            desktop.session.announce("dev-busy", BUSY, plat="darwin", port=BUSY_PORT)
            desktop.session.announce("dev-held", HELD, plat="darwin", port=HELD_PORT)
            main = desktop.active_window("Corvane")
            check(ds.wait_for(lambda: len([n for n in ds.find(main, name=HELD) if ds.role(n) != "label"]) == 1, 20),
                  "the devices never showed up")
            menu_tells_no_window(desktop, main)
            file_list_redrawn(desktop, main)
            failed_sends(desktop, main, held)
            feedback(desktop, main)
    finally:
        held.close()
        busy.close()


def tab_moves(desktop, main, after):
    check(ds.wait_for(lambda: ds.is_active(main), 10), "%s: after %s the window is not active" % (desktop.where(), after))
    before = describe(ds.focused(main))
    desktop.keys("Tab")
    moved = ds.wait_for(lambda: (lambda now: now if now not in (before, "nothing") else None)(describe(ds.focused(main))), 5)
    check(moved, "%s: after %s, Tab left the keys on %s" % (desktop.where(), after, before))


def without_window_manager(binary):
    with ds.Desktop(binary, (1280, 720), window_manager=False) as desktop:
        desktop.session.announce("dev-held", HELD, plat="darwin", port=HELD_PORT)
        main = desktop.active_window("Corvane")
        check(ds.wait_for(lambda: [n for n in ds.find(main, name=HELD) if ds.role(n) != "label"], 20),
              "the device never showed up")
        choose(desktop, main, HELD)
        for opener, title, closer in (("发送文字", "发送文字", "取消"), ("设置", "设置", "完成"),
                                      ("选择文件", "选择要发送到「%s」的文件" % HELD, None)):
            start_on(desktop, main, one(ds.find(main, "push button", name=opener), opener))
            desktop.keys("Return")
            sheet = desktop.active_window(title)
            if closer:
                start_on(desktop, sheet, one(ds.find(sheet, "push button", name=closer), closer))
                desktop.keys("Return")
            else:
                desktop.keys("Escape")
            check(desktop.closed(title), "%s stayed open" % title)
            tab_moves(desktop, main, "%s closed by %s" % (title, closer or "Escape"))


def run(binary):
    with_window_manager(binary)
    without_window_manager(binary)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
