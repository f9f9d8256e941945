"""The sheets' checkable controls toggled from outside, as a screen reader or
switch access does it (the Action interface's "Toggle", which emits no click):
in "发送文字" unchecking "本机" leaves no recipient and disables "发送",
checking a device's row enables it again, and "阅后即焚" makes the button
"发送并销毁" and sends a read-once note (its one-time link is offered), of
which nothing lands in the receiving device's folder; in "设置" the "中央存储 / NAS" switch turns team
mode on and off. The receiving device is a server of engine and storage on
loopback that a fake device's beacon announces.

Usage: toggles_atspi_test.py BUILD/corvane BUILD/tests/storage_test_server
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check
TEAM_MODE = "团队模式 · 需要账号；团队聊天 + 中央存储，文件统一存到上面选的设备。"
LAN_MODE = "点对点模式 · 免注册，选中谁就发给谁。"


class Receiver:
    """Another device's server, serving a folder of its own until closed."""

    def __init__(self, program):
        self.folder = tempfile.mkdtemp(prefix="corvane-receiver-")
        self.process = subprocess.Popen([program, self.folder], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)
        line = self.process.stdout.readline().split()
        check(len(line) == 2 and line[0] == "port", "the receiver did not start: %r" % line)
        self.port = int(line[1])

    def stored_texts(self):
        return [name for _, _, names in os.walk(self.folder) for name in names if name.endswith(".txt")]

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)
        shutil.rmtree(self.folder, ignore_errors=True)


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def recipient(sheet, name):
    return one([node for node in ds.find(sheet, name=name) if ds.role(node) != "label"], "recipient row " + name)


def send_button(sheet):
    """The footer's send button: "发送", or "发送并销毁" while read-once is on."""
    buttons = ds.wait_for(lambda: [b for b in ds.find(sheet, "push button") if b.name.startswith("发送")], 5)
    return one(buttons or [], "send button")


def text_sheet_sends_a_note(app, main, receiver):
    ds.press(one(ds.find(main, "push button", name="发送文字"), "text button"))
    sheet = ds.window(app, "发送文字")
    check(sheet is not None, "the text sheet did not open")
    editor = one(ds.find(sheet, "text", name="发送文字"), "text editor")
    editor.queryEditableText().insertText(0, "秘密", len("秘密"))
    check(ds.wait_for(lambda: ds.is_enabled(send_button(sheet)), 5), "发送 never became enabled")

    ds.toggle(recipient(sheet, "本机"))
    check(ds.wait_for(lambda: not ds.is_enabled(send_button(sheet)), 5), "发送 stayed enabled with no recipient")
    ds.toggle(recipient(sheet, "接收机"))
    check(ds.wait_for(lambda: ds.is_enabled(send_button(sheet)), 5), "checking the device's row did not enable 发送")

    ds.toggle(one(ds.find(sheet, "check box", name="阅后即焚"), "read-once switch"))
    check(ds.wait_for(lambda: send_button(sheet).name == "发送并销毁", 5),
          "the button still reads %r after the read-once switch" % send_button(sheet).name)
    toasts = ds.Toasts(main)
    ds.press(send_button(sheet))
    # A read-once note to one device gives a one-time link to it, an ordinary text does not.
    check(toasts.wait_for("已发送，一次性链接已复制到剪贴板"), "no read-once toast: %r" % sorted(set(toasts.seen)))
    check(receiver.stored_texts() == [], "the note was stored on the receiver's disk: %r" % receiver.stored_texts())


def settings_switch_turns_team_mode_on_and_off(app, main):
    ds.press(one(ds.find(main, "push button", name="设置"), "settings button"))
    sheet = ds.window(app, "设置")
    check(sheet is not None, "the settings sheet did not open")
    check(ds.find(sheet, "label", name=LAN_MODE), "not in point-to-point mode at first")
    switch = one(ds.find(sheet, "check box", name="中央存储 / NAS（默认关闭）"), "NAS switch")
    ds.toggle(switch)
    check(ds.wait_for(lambda: ds.find(sheet, "label", name=TEAM_MODE), 5), "the switch did not turn team mode on")
    ds.toggle(switch)
    check(ds.wait_for(lambda: ds.find(sheet, "label", name=LAN_MODE), 5), "the switch did not turn team mode off")


def run(binary):
    receiver = Receiver(os.path.abspath(sys.argv[2]))
    try:
        with ds.Session(binary) as session:
            session.announce("dev-r", "接收机", plat="linux", port=receiver.port)
            session.start()
            app = ds.application()
            check(app is not None, "the program never showed up on the accessibility bus")
            main = ds.window(app, "Corvane")
            check(main is not None, "no window titled Corvane")
            check(ds.wait_for(lambda: [n for n in ds.find(main, name="接收机") if ds.role(n) != "label"], 20),
                  "the receiving device never showed up")
            text_sheet_sends_a_note(app, main, receiver)
            settings_switch_turns_team_mode_on_and_off(app, main)
    finally:
        receiver.close()


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
