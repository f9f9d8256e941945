"""The read-once note sheet read and driven from outside, as assistive
technology sees it: a device posts a read-once text to the running program,
the sheet "阅后即焚" opens with the note's size line, "关闭" pressed over
AT-SPI closes it, and the note is gone from the program's server.

Usage: burn_sheet_atspi_test.py BUILD/corvane
"""

import os
import sys
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check


def status_of(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as reply:
            return reply.status
    except urllib.error.HTTPError as error:
        return error.code


def run(binary):
    with ds.Session(binary) as session:
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        check(ds.window(app, "Corvane") is not None, "no window titled Corvane")
        check(ds.wait_for(lambda: status_of("http://127.0.0.1:%d/api/info" % ds.FIRST_HTTP_PORT) == 200, 15),
              "the program's server does not answer")

        reply = session.send_text("秘密\n第二行", burn=True)
        note_id = reply.get("id", "")
        check(note_id, "no note id in %r" % reply)
        sheet = ds.window(app, "阅后即焚")
        check(sheet is not None, "the note sheet did not open")
        check(ds.wait_for(lambda: ds.find(sheet, "label", name="2 行 · 16 字节"), 10),
              "no size line: %r" % [n.name for n in ds.find(sheet, "label")])
        check(ds.find(sheet, "label", prefix="阅后即焚 · 来自 "),
              "no sender line: %r" % [n.name for n in ds.find(sheet, "label")])
        close = ds.find(sheet, "push button", name="关闭")
        check(len(close) == 1, "expected one 关闭 button, found %d" % len(close))

        ds.press(close[0])
        check(ds.wait_for(lambda: ds.window(app, "阅后即焚", timeout=0.2) is None, 10), "the note sheet stayed open")
        url = "http://127.0.0.1:%d/api/burn/%s" % (ds.FIRST_HTTP_PORT, note_id)
        check(ds.wait_for(lambda: status_of(url) == 404, 10), "the note is still on the server: %d" % status_of(url))


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
