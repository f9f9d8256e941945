"""The receive panel and the chat window read and driven from outside, as
assistive technology sees it: during a chunked upload the receive row's
name, sender and progress can be read; "办公室聊天" opens the chat window,
whose group row "全员频道" and pane subtitle can be read; text put into the
composer and sent with "发送" shows up as a new bubble.

Usage: panels_chat_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check
CHUNK = 4 * 1024 * 1024


def run(binary):
    with ds.Session(binary) as session:
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")
        check(ds.wait_for(lambda: ds.find(main, "label", prefix="0 个文件"), 15), "the window never settled")

        # Half of a two-chunk upload: the row stays "receiving" at 50 %.
        upload = "00000000000000a1"
        session.post("/api/upload/%s/meta" % upload, {"name": "季度报告.pdf", "size": 2 * CHUNK}, method="PUT")
        session.post("/api/upload/%s/0" % upload, b"\0" * CHUNK, method="PUT")
        check(ds.wait_for(lambda: ds.find(main, "label", name="正在接收"), 10), "no receive panel")
        check(ds.wait_for(lambda: ds.find(main, "label", name="季度报告.pdf"), 5), "no receive row for the file")
        check(ds.find(main, "label", name="来自 127.0.0.1"), "no sender text on the receive row")
        check(ds.find(main, "label", prefix="50% · "), "no progress text of 50 %%: %r"
              % [n.name for n in ds.find(main, "label") if "%" in n.name])

        chat_button = ds.find(main, "push button", name="办公室聊天")
        check(chat_button, "no chat button")
        ds.press(chat_button[0])
        chat = ds.window(app, "办公室聊天")
        check(chat is not None, "the chat window never opened")
        check(ds.wait_for(lambda: ds.find(chat, "list item", name="全员频道"), 5), "no group row 全员频道")
        check(ds.find(chat, "label", name="办公室所有人 · 0 台设备在线"),
              "pane subtitle: %r" % [n.name for n in ds.find(chat, "label") if "办公室" in n.name])

        fields = ds.find(chat, "text", name="输入消息，Enter 发送")
        check(fields, "no composer")
        fields[0].queryEditableText().insertText(0, "hello corvane", len("hello corvane"))
        send = ds.wait_for(lambda: [b for b in ds.find(chat, "push button", name="发送")
                                    if b.getState().contains(__import__("pyatspi").STATE_ENABLED)], 5)
        check(send, "the send button never became enabled")
        ds.press(send[0])
        bubble = ds.wait_for(lambda: ds.find(chat, name="hello corvane"), 5)
        check(bubble, "no bubble with the sent text")
        check(ds.wait_for(lambda: ds.find(chat, "label", name="发送失败"), 5), "no failure mark with no device online")


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
