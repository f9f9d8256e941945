"""Every window, sheet and menu of the program as a screen reader reads it: with
openbox on a 1280x720 screen, the program is driven through each of them in turn
and each one's whole accessible tree is walked, hidden branches too: the welcome
at first start; the main window with devices (one asking for a PIN), files in the
receive folder, an upload coming in, the file picker and a file waiting in the
queue, with the menu bar's menus; the about box, the send-text sheet, a read-once
note, the network diagnostics, the settings and the feedback sheet, the PIN sheet,
a device's menu and its rename prompt, the chat window with a conversation chosen
and its clear alert; the settings in team mode, the team panel's setup form, its
management view with a request to join and then a member's menu and its e-mail
prompt; last the main window in team mode. It fails on any name or description
that reads as one of the program's symbol names ("person.2.badge.gearshape",
"envelope") and on any button, check box, menu item, combo box, text field or
progress bar without a name, naming the role, the name, the names above it and
the named nodes beside it.

Usage: accessible_names_atspi_test.py BUILD/corvane
"""

import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
SYMBOLS_SOURCE = os.path.join(HERE, "..", "..", "src", "views", "symbols.cpp")
DOTTED = re.compile(r"[a-z]+(\.[a-z0-9]+)+")
BUTTONS = ("push button", "toggle button", "check box", "radio button", "menu item", "combo box")
FIELDS = ("text", "password text")
# A field's placeholder (its description) that shows an example of what to type, not a symbol.
EXAMPLES = {"smtp.qq.com"}
NAMED_ROLES = BUTTONS + FIELDS + ("progress bar",)
HELD_PORT = ds.FIRST_HTTP_PORT + 61


def one_word_symbols():
    """The symbol names of the program's table that have no dot ("tray", "key", ...)."""
    with open(SYMBOLS_SOURCE, encoding="utf-8") as source:
        names = re.findall(r'\{"([a-z0-9.]+)",\s*0x[0-9A-Fa-f]+\}', source.read())
    check(len(names) > 40, "read only %d symbol names from %s" % (len(names), SYMBOLS_SOURCE))
    return {name for name in names if "." not in name}


class Walk:
    """The offenders found in every tree walked, each as one line."""

    def __init__(self):
        self.words = one_word_symbols()
        self.offenders = []
        self.walked = []
        self.started = time.monotonic()

    def code_name(self, text):
        return bool(text) and (DOTTED.fullmatch(text) is not None or text in self.words)

    def tree(self, where, root):
        """Walks root and everything below it, hidden branches included."""
        started = time.monotonic()
        stack = [(ds.fresh(root), [where])]
        count = 0
        while stack:
            node, path = stack.pop()
            count += 1
            try:
                self.visit(node, path, stack)
            except Exception as error:
                # A node that went away meanwhile (a row replaced, a toast's text) is passed over.
                if not ds.gone(error):
                    raise
        self.walked.append("%s (%d nodes in %.1f s, at %.1f s)"
                           % (where, count, time.monotonic() - started, started - self.started))

    def visit(self, node, path, stack):
        fault = self.fault(node)
        if fault:
            self.offenders.append("%s, under %s%s" % (fault, " > ".join(path), beside(node)))
        below = path + ["%s %r" % (ds.role(node), node.name)] if node.name else path
        for index in reversed(range(node.childCount)):
            child = node.getChildAtIndex(index)
            if child is not None:
                stack.append((child, below))

    def report(self):
        return "%d controls a screen reader reads by a code name or not at all:\n  %s" % (
            len(self.offenders), "\n  ".join(self.offenders))

    def fault(self, node):
        """What a screen reader would read wrong of this node; None when nothing."""
        role, name, description = ds.role(node), node.name or "", node.description or ""
        placeholder = description if role in FIELDS and description in EXAMPLES else None
        if self.code_name(name) or (self.code_name(description) and description != placeholder):
            return "%s named %r (description %r)" % (role, name, description)
        if role in NAMED_ROLES and not name.strip():
            return "%s without a name (description %r)" % (role, description)
        return None


def beside(node):
    """The names of the node's named siblings, which tell where it sits."""
    parent = node.parent
    names = []
    for index in range(parent.childCount if parent is not None else 0):
        sibling = parent.getChildAtIndex(index)
        if sibling is not None and sibling.name and len(names) < 3:
            names.append("%s %r" % (ds.role(sibling), sibling.name))
    return ", beside " + ", ".join(names) if names else ""


class Desktop:
    def __init__(self, session):
        self.session = session
        self.app = ds.application(timeout=30)
        check(self.app is not None, "the program never showed up on the accessibility bus")

    def window(self, title, timeout=10):
        found = ds.window(self.app, title, timeout=timeout)
        check(found is not None, "no window titled %s" % title)
        return found

    def button(self, window, name, role="push button"):
        hits = ds.wait_for(lambda: ds.find(window, role, name=name), 10)
        check(hits, "no %s %s in %s" % (role, name, window.name))
        return hits[0]

    def press(self, window, name, role="push button"):
        ds.press(self.button(window, name, role))

    def visit(self, walk, title, closer, timeout=10):
        """Walks the window of that title, now open or opening, and closes it with its button."""
        window = self.window(title, timeout)
        walk.tree(title, window)
        self.press(window, closer)
        self.closed(title)

    def closed(self, title):
        check(ds.wait_for(lambda: ds.window(self.app, title, timeout=0) is None, 10), "%s stayed open" % title)

    def keys(self, *names):
        subprocess.run(["xdotool", "key", "--delay", "40"] + list(names), env=self.session.env, check=True)

    def click(self, node, button=1):
        x, y, width, height = ds.extents(node)
        subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", str(button)],
                       env=self.session.env, check=True)

    def popup_menu(self, opener):
        """The menu that opener (a function that opens it) pops up, once it shows."""
        menu = ds.popup_menu(opener)
        check(menu is not None, "the menu never showed")
        return menu


def device_row(main, name):
    rows = ds.wait_for(lambda: [n for n in ds.find(main, name=name) if ds.role(n) != "label"
                                and ":" in (n.description or "")], 20)
    check(rows, "the device %s never showed up" % name)
    return rows[0]


def prepare(session):
    for relative, size, age in (("季度报告.pdf", 1_300_000, 120), ("截图 2024-05-11.png", 420_000, 3 * 3600),
                                ("演示/产品发布会 录像.mp4", 52_000_000, 2 * 86400)):
        session.place_file(relative, age_seconds=age, size=size)
    session.outbox = os.path.join(session.box, "outbox")
    os.makedirs(session.outbox)
    with open(os.path.join(session.outbox, "合同扫描件.pdf"), "wb") as out:
        out.truncate(900_000)


def announce(session):
    session.announce("dev-mac-1", "设计部的 MacBook", plat="darwin", port=ds.FIRST_HTTP_PORT + 50)
    session.announce("dev-win-1", "DESKTOP-7", plat="win32", pin=True, port=ds.FIRST_HTTP_PORT + 51)
    session.announce("dev-held-1", "会议室 iMac", plat="darwin", port=HELD_PORT)
    session.announce("nas-1", "机房 NAS", plat="linux", team="研发部", port=ds.FIRST_HTTP_PORT + 52)


def welcome(desk, walk):
    desk.visit(walk, "欢迎使用Corvane", "稍后再说", timeout=30)


def diagnostics(desk, walk, main):
    """The diagnostics, which the sidebar offers while no device shows."""
    desk.press(main, "看不到设备？诊断一下")
    desk.visit(walk, "网络诊断", "关闭")


def main_window(desk, walk, main):
    device_row(main, "设计部的 MacBook")
    check(ds.wait_for(lambda: ds.find(main, "list item", prefix="季度报告.pdf"), 10), "the files never showed")
    desk.session.post("/api/upload/00000000000000b1/meta", {"name": "产品发布会 录像.mp4", "size": 8 << 20},
                      method="PUT")
    desk.session.post("/api/upload/00000000000000b1/0", b"\0" * (4 << 20), method="PUT")
    ds.press(device_row(main, "会议室 iMac"))
    check(ds.wait_for(lambda: ds.find(main, "label", name="会议室 iMac"), 10), "the holding device was not chosen")
    picked = os.path.join(desk.session.outbox, "合同扫描件.pdf")
    check(ds.send_through_picker(desk.app, main, "选择文件", picked, lambda picker: walk.tree("file picker", picker)),
          "the file could not be picked")
    check(ds.wait_for(lambda: ds.find(main, "list item", prefix="合同扫描件.pdf"), 15), "the queue shows no row")
    check(ds.find(main, "menu item", name="退出Corvane", showing_only=False),
          "the menu bar's menus are not in the tree")
    walk.tree("main window", main)  # with the menu bar's menus, shown or not
    ds.press(ds.find(main, "menu item", name="关于Corvane", showing_only=False)[0])
    about = desk.window("关于Corvane")
    walk.tree("关于Corvane", about)
    buttons = ds.find(about, "push button")
    check(len(buttons) == 1, "the about box has %d buttons" % len(buttons))
    ds.press(buttons[0])
    desk.closed("关于Corvane")
    ds.press(device_row(main, "测试机"))


def sheets_of_main(desk, walk, main):
    desk.press(main, "发送文字")
    desk.visit(walk, "发送文字", "取消")
    desk.session.send_text("秘密\n第二行", burn=True)
    desk.visit(walk, "阅后即焚", "关闭")

    desk.press(main, "设置")
    settings = desk.window("设置")
    walk.tree("设置", settings)
    desk.press(settings, "意见反馈…")
    desk.visit(walk, "体验反馈", "取消")
    desk.press(settings, "完成")
    desk.closed("设置")

    ds.press(device_row(main, "DESKTOP-7"))
    desk.visit(walk, "访问口令", "取消")


def device_menu(desk, walk, main):
    row = device_row(main, "设计部的 MacBook")
    menu = desk.popup_menu(lambda: desk.click(row, 3))
    walk.tree("device menu", menu)
    item = ds.find(menu, "menu item", name="重命名…", showing_only=False)
    check(item, "the device menu has no 重命名…")
    ds.press(item[0])
    desk.visit(walk, "重命名", "取消")


def chat(desk, walk, main):
    desk.session.send_chat("m1", "dev-mac-1", "设计部的 MacBook", "新版设计稿放到共享盘了")
    desk.session.send_chat("m2", "dev-win-1", "DESKTOP-7", "这条只给你看", to="self", burn=True)
    desk.press(main, "办公室聊天")
    window = desk.window("办公室聊天")
    conv = ds.wait_for(lambda: ds.find(window, "list item", name="DESKTOP-7"), 10)
    check(conv, "the chat shows no conversation with DESKTOP-7")
    desk.click(conv[0])  # the list takes no selection over AT-SPI: a conversation opens on a click
    check(ds.wait_for(lambda: ds.find(window, "label", name="DESKTOP-7"), 10), "the conversation was not chosen")
    walk.tree("办公室聊天", window)
    desk.press(window, "清空记录")
    desk.visit(walk, "清空记录", "取消")
    desk.press(window, "完成")
    desk.closed("办公室聊天")


def settled(look):
    """A look at a tree that may change under it: a node deleted while it is read counts as not found."""
    def attempt():
        try:
            return look()
        except Exception:  # GLib's error for a node gone meanwhile
            return None
    return attempt


def team(desk, walk, main):
    """The team: central storage switched on in the settings (they show the central device's
    picker then), the panel's setup form, its management view, a request to join approved
    there and the new member's menu."""
    desk.press(main, "设置")
    settings = desk.window("设置")
    ds.toggle(desk.button(settings, "中央存储 / NAS（默认关闭）", "check box"))
    check(ds.wait_for(lambda: ds.find(settings, "combo box"), 10), "team mode shows no central device picker")
    walk.tree("设置 team mode", settings)
    desk.press(settings, "完成")
    desk.closed("设置")
    badge = [n for n in ds.find(main, "push button") if "点这里" in (n.description or "")]
    check(len(badge) == 1, "no single mode badge that opens the team panel")
    ds.press(badge[0])
    panel = desk.window("团队空间", timeout=30)
    walk.tree("团队空间 setup", panel)
    for name in ("管理员密码（至少 6 位）", "再输一次"):
        fields = [n for n in ds.find(panel, name=name) if ds.role(n) in ("password text", "text")]
        check(len(fields) == 1, "no single field %s" % name)
        fields[0].queryEditableText().setTextContents("abcdef")
    desk.press(panel, "启用团队空间")
    address = "http://127.0.0.1:%d/" % ds.FIRST_HTTP_PORT

    check(ds.wait_for(settled(lambda: ds.find(panel, "label", name=address)), 20),
          "the team panel never showed its management view")
    walk.tree("团队空间 manage", panel)
    desk.session.post("/api/auth/register", {"user": "xiaozhang", "name": "小张", "pass": "abcdef12"})
    # A row's first action is its own press: "通过" for an applicant, "更多操作" for a member.
    approve = ds.wait_for(settled(lambda: ds.find(panel, "list item", prefix="小张")), 10)
    check(approve, "the management view shows no request waiting for approval")
    walk.tree("团队空间 pending", panel)
    ds.press(approve[0])
    more = ds.wait_for(settled(lambda: [n for n in ds.find(panel, "list item", prefix="小张")
                                        if n.parent.name == "成员"]), 10)
    check(more, "the management view shows no member 小张")
    menu = desk.popup_menu(lambda: ds.press(more[0]))
    walk.tree("member menu", menu)
    item = ds.find(menu, "menu item", name="设置邮箱…", showing_only=False)
    check(item, "the member's menu has no 设置邮箱…")
    ds.press(item[0])
    desk.visit(walk, "设置邮箱", "取消")
    desk.press(panel, "完成")
    desk.closed("团队空间")
    walk.tree("main window team mode", main)


def run(binary):
    session = ds.Session(binary, welcome_done=False, screen=(1280, 720), window_manager=True)
    held = ds.HeldDevice(HELD_PORT)
    walk = Walk()
    try:
        prepare(session)
        session.start()
        desk = Desktop(session)
        welcome(desk, walk)
        main = desk.window("Corvane")
        diagnostics(desk, walk, main)
        announce(session)
        main_window(desk, walk, main)
        sheets_of_main(desk, walk, main)
        device_menu(desk, walk, main)
        chat(desk, walk, main)
        team(desk, walk, main)
    except ds.Failure as failure:
        # A code name on a control the walk goes by stops it early: tell what it found so far too.
        if walk.offenders:
            raise ds.Failure("%s; before that, %s" % (failure, walk.report()))
        raise
    finally:
        print("walked: " + ", ".join(walk.walked))
        held.close()
        session.close()
    check(not walk.offenders, walk.report())


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
