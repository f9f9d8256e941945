"""Long lists and things that happen at once, as a screen reader hears them, with real
keys typed through the X server (xdotool, no window activated first) and a reader
listening in a process of its own, under openbox on a 1280x720 screen and on a bare X
server with no window manager:
- a receive folder past the listing's limit (5,010 files, 5,000 listed): a search that
  finds nothing says it searched only the files listed, one that finds some says so in
  a note above them, and each result is heard once as an alert;
- two sends refused in the same moment are each heard once, in their own row's words;
- the chat history of 1,000 stored messages (300 kept) is one Tab stop: Shift+Tab from
  the message box reaches the newest message, heard as a list item with its sender and
  time; Up, Home, Page Down and End move the keys from message to message, each heard;
- the feedback sheet's categories are a group named "反馈类型": Shift+Tab from the text
  lands on the chosen category, Left and Right choose round the group, never leaving it.

Usage: long_lists_atspi_test.py BUILD/corvane
"""

import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
describe = ds.describe
BUSY = "忙碌的 Mac"
BUSY_PORT = ds.FIRST_HTTP_PORT + 81
LISTED = 5000
NOTE = "只搜索了已列出的 %d 个文件" % LISTED
STORED = 1000
KEPT = 300
SENDER = "设计部的 MacBook"


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def alerts(reader, since):
    return [e.get("name") for e in reader.heard[since:]
            if e["type"] == "object:state-changed:showing" and e["detail1"] == 1 and e.get("role") == "alert"]


def focus_heard(reader, since):
    """Each focus event since the mark as (role, name, description)."""
    return [(e.get("role"), e.get("name"), e.get("description")) for e in reader.heard[since:] if e["type"] == "focus:"]


def start_on(desktop, where, node):
    node.queryComponent().grabFocus()
    check(desktop.focus_reaches(where, describe(node)), "%s never took the keys" % describe(node))


def write_chat_history(session):
    """STORED messages of the group, every third one this device's own, a minute apart."""
    start = (time.time() - 3 * 86400) * 1000
    msgs = [{"id": "m%04d" % k, "from": "self" if k % 3 == 0 else "dev-mac", "to": "all",
             "fromName": "测试机" if k % 3 == 0 else SENDER, "ts": start + k * 60000,
             "text": "第 %d 条消息" % k, "mine": k % 3 == 0} for k in range(STORED)]
    with open(os.path.join(session.data, "chat.json"), "w", encoding="utf-8") as out:
        json.dump({"msgs": msgs}, out, ensure_ascii=False)


def search_past_the_cut(desktop, main):
    check(ds.wait_for(lambda: ds.find(main, "label", prefix="%d+ 个文件" % LISTED), 30),
          "the header never read %d+ 个文件" % LISTED)
    field = one([node for node in ds.find(main, "text") if node.name == "搜索"], "search field")
    for typed, told, shown in (("zzz", "没有匹配的文件，" + NOTE, "没有匹配的文件"),
                               ("file-", "找到 %d 个文件，" % LISTED + NOTE, None)):
        start_on(desktop, main, field)
        desktop.keys("ctrl+a", "BackSpace")
        heard = desktop.reader.mark()
        desktop.type(typed)
        check(desktop.reader.hears(lambda _: told in alerts(desktop.reader, heard), 10),
              "searching %r was heard as %r" % (typed, alerts(desktop.reader, heard)))
        check(ds.wait_for(lambda: ds.find(main, "label", name=NOTE), 5), "searching %r shows no %s" % (typed, NOTE))
        if shown:
            check(ds.find(main, "label", name=shown), "searching %r does not show %s" % (typed, shown))
        check(alerts(desktop.reader, heard).count(told) == 1, "searching %r told %r" % (typed, alerts(desktop.reader, heard)))
        check(describe(ds.focused(main)) == describe(field), "while searching the keys went to %s"
              % describe(ds.focused(main)))
    start_on(desktop, main, field)
    desktop.keys("ctrl+a", "BackSpace")


def refused_together(desktop, main):
    row = one([r for r in ds.find(main, "list item", name=BUSY) if " · " in (r.description or "")], BUSY)
    ds.press(row)
    check(ds.wait_for(lambda: ds.find(main, "label", name=BUSY), 10), "the device %s was not chosen" % BUSY)
    folder = os.path.join(desktop.session.box, "outbox", "两个")
    os.makedirs(folder)
    for name in ("part-1.bin", "part-5.bin"):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(b"x" * 1000)
    heard = desktop.reader.mark()
    check(ds.send_through_picker(desktop.app, main, "选择文件夹", folder), "the folder could not be picked")
    wanted = sorted("%s · 失败：对方正忙，请稍后再发" % name for name in ("part-1.bin", "part-5.bin"))
    check(desktop.reader.hears(lambda _: sorted(set(alerts(desktop.reader, heard))) == wanted, 15),
          "two refusals were heard as %r" % alerts(desktop.reader, heard))
    check(ds.wait_for(lambda: ds.find(main, "label", name="2 个失败"), 10), "the header does not read 2 个失败")
    told = alerts(desktop.reader, heard)
    check(sorted(told) == wanted, "two refusals were heard as %r" % told)


def sender(number):
    return "我" if number % 3 == 0 else SENDER


def chat_history(desktop, main):
    start_on(desktop, main, one(ds.find(main, "push button", name="办公室聊天"), "办公室聊天"))
    desktop.keys("Return")
    chat = desktop.active_window("办公室聊天")
    check(desktop.focus_reaches(chat, "text '输入消息，Enter 发送'"), "the chat opened with the keys on %s"
          % describe(ds.focused(chat)))
    newest = "第 %d 条消息" % (STORED - 1)
    check(ds.wait_for(lambda: ds.find(chat, "list item", name=newest), 15), "the newest message is not listed")
    heard = desktop.reader.mark()
    desktop.keys("shift+Tab", "shift+Tab")
    wanted = ("list item", newest)
    check(desktop.reader.hears(lambda _: [h[:2] for h in focus_heard(desktop.reader, heard)][-1:] == [wanted], 10),
          "Shift+Tab twice from the box was heard as %r" % focus_heard(desktop.reader, heard))
    last = focus_heard(desktop.reader, heard)[-1]
    check(last[2].startswith(sender(STORED - 1) + " · ") and len(last[2]) == len(sender(STORED - 1)) + 8,
          "the newest message was described as %r" % last[2])
    first_kept = STORED - KEPT
    for key, number in (("Up", STORED - 2), ("Up", STORED - 3), ("Home", first_kept), ("Down", first_kept + 1),
                        ("End", STORED - 1)):
        heard = desktop.reader.mark()
        desktop.keys(key)
        name = "第 %d 条消息" % number
        check(desktop.reader.hears(lambda _: [h[:2] for h in focus_heard(desktop.reader, heard)] == [("list item", name)],
                                   10),
              "%s was heard as %r, not %s" % (key, focus_heard(desktop.reader, heard), name))
        said = focus_heard(desktop.reader, heard)[0][2]
        check(said.startswith(sender(number) + " · "), "%s: %s was described as %r" % (key, name, said))
        row = one(ds.find(chat, "list item", name=name), name)
        x, y, width, height = ds.extents(row)
        pane = one(ds.find(chat, name="消息"), "the message pane")
        px, py, pwidth, pheight = ds.extents(pane)
        check(y < py + pheight and y + height > py, "%s: %s lies off the pane (%d..%d of %d..%d)"
              % (key, name, y, y + height, py, py + pheight))
    heard = desktop.reader.mark()
    desktop.keys("Page_Up")
    check(desktop.reader.hears(lambda _: focus_heard(desktop.reader, heard), 10), "Page Up was not heard")
    reached = focus_heard(desktop.reader, heard)[-1]
    number = int(reached[1].split()[1]) if reached[0] == "list item" else -1
    check(first_kept <= number < STORED - 3, "Page Up from the newest reached %r" % (reached,))
    desktop.keys("Escape")
    check(desktop.closed("办公室聊天"), "Escape left the chat open")


def feedback_categories(desktop, main):
    start_on(desktop, main, one(ds.find(main, "push button", name="设置"), "设置"))
    desktop.keys("Return")
    settings = desktop.active_window("设置")
    start_on(desktop, settings, one(ds.find(settings, "push button", name="意见反馈…"), "意见反馈…"))
    desktop.keys("Return")
    sheet = desktop.active_window("体验反馈")
    group = one([node for node in ds.find(sheet, "panel") if node.name == "反馈类型"], "反馈类型 group")
    kinds = [group.getChildAtIndex(k).name for k in range(group.childCount)]
    check(kinds == ["问题反馈", "功能建议", "其他"], "the group holds %r" % kinds)
    start_on(desktop, sheet, one(ds.find(sheet, "text", name="具体说说"), "the feedback text"))
    for keys, chosen in ((("shift+Tab",), "问题反馈"), (("Left",), "其他"), (("Right",), "问题反馈"),
                         (("Right",), "功能建议"), (("Tab", "shift+Tab"), "功能建议")):
        heard = desktop.reader.mark()
        desktop.keys(*keys)
        said = "radio button %r" % chosen
        check(desktop.focus_reaches(sheet, said), "%s left the keys on %s, not %s"
              % ("+".join(keys), describe(ds.focused(sheet)), said))
        node = one(ds.find(sheet, "radio button", name=chosen), chosen)
        check(ds.is_checked(node), "%s reached %s without choosing it" % ("+".join(keys), chosen))
        others = [n.name for n in ds.find(sheet, "radio button") if n.name != chosen and ds.is_checked(n)]
        check(not others, "%s left %r checked beside %s" % ("+".join(keys), others, chosen))
        check(desktop.reader.hears(lambda _: ("radio button", chosen) in
                                   [h[:2] for h in focus_heard(desktop.reader, heard)], 5),
              "%s was heard as %r" % ("+".join(keys), focus_heard(desktop.reader, heard)))
    start_on(desktop, sheet, one(ds.find(sheet, "push button", name="取消"), "取消"))
    desktop.keys("Return")
    check(desktop.closed("体验反馈"), "取消 left the feedback sheet open")
    desktop.active_window("设置")
    start_on(desktop, settings, one(ds.find(settings, "push button", name="完成"), "完成"))
    desktop.keys("Return")
    check(desktop.closed("设置"), "完成 left the settings open")


def session(binary, window_manager):
    busy = ds.BusyDevice(BUSY_PORT)
    try:
        desktop = ds.Desktop(binary, (1280, 720), window_manager=window_manager, screen_reader=True)
        for k in range(LISTED + 10):
            desktop.session.place_file("file-%04d.txt" % k)
        write_chat_history(desktop.session)
        with desktop:
            desktop.session.announce("dev-busy", BUSY, plat="darwin", port=BUSY_PORT)
            main = desktop.active_window("Corvane")
            search_past_the_cut(desktop, main)
            check(ds.wait_for(lambda: [n for n in ds.find(main, name=BUSY) if ds.role(n) != "label"], 20),
                  "%s: the device never showed up" % desktop.where())
            refused_together(desktop, main)
            chat_history(desktop, main)
            feedback_categories(desktop, main)
    finally:
        busy.close()


def run(binary):
    session(binary, True)
    session(binary, False)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
