"""The root window read and driven from outside, as assistive technology sees
it: a fake device announces a team; the strip's title and buttons can be
read, "申请加入" opens the device's team page through xdg-open and keeps the
strip, "自己建团队" hides the strip and opens the team panel's window.

Usage: root_window_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

TITLE = "发现团队「研发部」（MacBook · 127.0.0.1）"
LINE = "可以申请加入，共享它的中央存储；也可以自己建一个，让本机成为独立中心。"
TEAM_PORT = 8960


check = ds.check


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def run(binary):
    with ds.Session(binary) as session:
        session.announce("team-dev-1", "MacBook", team="研发部", port=TEAM_PORT)
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")

        title = ds.wait_for(lambda: ds.find(main, "label", prefix="发现团队"), 15)
        check(title, "no team strip after the device's beacons")
        check(one(title, "strip title").name == TITLE, "strip title: %r" % title[0].name)
        one(ds.find(main, "label", name=LINE), "strip's second line")
        join = one(ds.find(main, "push button", name="申请加入"), "join button")
        create = one(ds.find(main, "push button", name="自己建团队"), "create button")
        close = one(ds.find(main, "push button", name="本次会话不再提示"), "close button")
        check(close.description == "本次会话不再提示", "close button's help: %r" % close.description)

        ds.press(join)
        address = "http://127.0.0.1:%d/" % TEAM_PORT
        check(ds.wait_for(lambda: address in session.opened(), 10), "xdg-open got %r" % session.opened())
        check(ds.find(main, "label", name=TITLE), "joining hid the strip")

        ds.press(create)
        panel = ds.window(app, "团队空间")
        check(panel is not None, "the team panel's window did not open")
        gone = ds.wait_for(lambda: not ds.find(main, "label", prefix="发现团队"), 10)
        check(gone, "the strip is still shown after creating a team")
        check(ds.find(panel, "push button", name="完成"), "the team panel has no 完成 button")
        check(session.opened() == [address], "xdg-open was asked for more: %r" % session.opened())


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
