"""The first-run welcome by keyboard, on a 1280x720 screen with openbox and with
no window manager, keys typed through the X server (xdotool), read over AT-SPI:
- it opens with no button holding the keys: Return, Space and Escape pressed
  at once choose nothing (the welcome stays, nothing is written);
- Tab goes to "就用这个", "去启用 / 登录" and "稍后再说" in that order and round
  again; Space presses the focused one under openbox, Return without a window
  manager: the welcome closes with point-to-point mode chosen.

Usage: welcome_keys_atspi_test.py BUILD/corvane
"""

import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
TITLE = "欢迎使用Corvane"
ORDER = ["push button '就用这个'", "push button '去启用 / 登录'", "push button '稍后再说'"]


def config(session):
    try:
        with open(os.path.join(session.data, "config.json"), encoding="utf-8") as source:
            return json.load(source)
    except (OSError, ValueError):
        return {}


def welcome_by_keys(binary, window_manager, press):
    with ds.Desktop(binary, (1280, 720), window_manager=window_manager, welcome_done=False) as desktop:
        where = desktop.where()
        welcome = desktop.active_window(TITLE)
        check(ds.focused(welcome) is None, "%s: the welcome opens with the keys on %s"
              % (where, ds.describe(ds.focused(welcome))))
        desktop.keys("Return", "space", "Escape", "KP_Enter")
        # The keys reached the window: the next one moves the focus to the first button.
        desktop.keys("Tab")
        check(desktop.focus_reaches(welcome, ORDER[0]), "%s: Tab went to %s, not the first card's button"
              % (where, ds.describe(ds.focused(welcome))))
        check(ds.window(desktop.app, TITLE, timeout=0) is not None, "%s: a key pressed at once closed the welcome" % where)
        check(config(desktop.session).get("welcomeDone") is not True, "%s: a key pressed at once ended the first run"
              % where)
        for name in ORDER[1:] + ORDER[:1]:
            desktop.keys("Tab")
            check(desktop.focus_reaches(welcome, name), "%s: Tab went to %s, expected %s"
                  % (where, ds.describe(ds.focused(welcome)), name))
        desktop.keys("shift+Tab")
        check(desktop.focus_reaches(welcome, ORDER[2]), "%s: Shift+Tab went to %s" % (where, ds.describe(ds.focused(welcome))))
        desktop.keys(press)
        check(desktop.closed(TITLE), "%s: %s on 稍后再说 left the welcome open" % (where, press))
        chosen = ds.wait_for(lambda: config(desktop.session).get("welcomeDone") is True and config(desktop.session), 10)
        check(chosen and chosen.get("usageMode") == "lan", "%s: %s on 稍后再说 wrote %r" % (where, press, chosen))


def run(binary):
    welcome_by_keys(binary, True, "space")
    welcome_by_keys(binary, False, "Return")


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
