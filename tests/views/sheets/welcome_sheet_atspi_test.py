"""The first-run welcome read and driven from outside, as assistive
technology sees it: a first start (no config.json) shows the dialog
"欢迎使用Corvane"; "稍后再说" pressed over AT-SPI writes "usageMode": "lan" and
"welcomeDone": true; a second start shows no welcome dialog.

Usage: welcome_sheet_atspi_test.py BUILD/corvane
"""

import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check
TITLE = "欢迎使用Corvane"


def read_config(session):
    try:
        with open(os.path.join(session.data, "config.json"), encoding="utf-8") as source:
            return json.load(source)
    except (OSError, ValueError):
        return {}


def running_app(pid):
    """The accessible application of that process (the first start's may linger on the bus)."""
    import pyatspi
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def run(binary):
    with ds.Session(binary, welcome_done=False) as session:
        os.remove(os.path.join(session.data, "config.json"))  # a first start: nothing written yet
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        welcome = ds.window(app, TITLE)
        check(welcome is not None, "no dialog titled %s on a first start" % TITLE)
        for title in ("就用这个", "去启用 / 登录", "稍后再说"):
            check(len(ds.find(welcome, "push button", name=title)) == 1, "no button %s" % title)
        check(ds.find(welcome, "label", name="局域网模式") and ds.find(welcome, "label", name="团队模式"),
              "the two cards are not readable: %r" % [n.name for n in ds.find(welcome, "label")])

        ds.press(ds.find(welcome, "push button", name="稍后再说")[0])
        check(ds.wait_for(lambda: ds.window(app, TITLE, timeout=0.2) is None, 10), "the welcome stayed open")
        config = ds.wait_for(lambda: read_config(session).get("welcomeDone") is True and read_config(session), 10)
        check(config, "welcomeDone was not written: %r" % read_config(session))
        check(config.get("usageMode") == "lan", "usageMode is %r" % config.get("usageMode"))

        session.process.terminate()
        session.wait(10)
        session.start()
        again = ds.wait_for(lambda: running_app(session.process.pid), 30)
        check(again is not None, "the second start never showed up on the accessibility bus")
        check(ds.window(again, "Corvane", timeout=15) is not None, "the second start shows no main window")
        time.sleep(1.0)  # the sheets open on the first turns of the event loop
        check(ds.window(again, TITLE, timeout=0.5) is None, "the welcome came back on the second start")


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
