"""The window and every sheet wholly on screens smaller than the window wants,
read from outside over AT-SPI with no window manager to move them: on
1280x720, on 1400x900 and on 2560x1440 at scale 2, the main window lies on the
screen at first start (where it would be taller than a 720 px screen) and with a
frame saved on a larger screen; each sheet opened over it (the welcome sheet,
settings in team mode with its diagnostics and feedback sheets, the text sheet,
the chat window, the team panel, a read-once note, the PIN prompt) lies on the
screen, its default button too, and so does the settings sheet that grows when
team mode is turned on in it.

Usage: screen_fit_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check

# (pixels of the screen, Qt's scale factor)
SCREENS = (((1280, 720), None), ((1400, 900), None), ((2560, 1440), 2))
# A frame saved on a larger screen: below and right of the edges of each of them.
SAVED_FRAME = "150 180 1300 850"


class Screen:
    def __init__(self, pixels, scale):
        self.width, self.height = (pixels[0] // (scale or 1), pixels[1] // (scale or 1))
        self.name = "%dx%d%s" % (pixels + (" at scale %d" % scale if scale else "",))

    def holds(self, node, what):
        x, y, width, height = ds.extents(node)
        check(x >= 0 and y >= 0 and x + width <= self.width and y + height <= self.height,
              "%s: %s lies at %d,%d %dx%d, off the %dx%d screen"
              % (self.name, what, x, y, width, height, self.width, self.height))


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def sheet_on_screen(app, screen, title, has_default=True):
    """The sheet of that title, once it lies on the screen with its default button."""
    sheet = ds.window(app, title)
    check(sheet is not None, "%s: the sheet %s did not open" % (screen.name, title))
    # The sheet fits itself to its content once shown: the last place is the one that counts.
    ds.wait_for(lambda: ds.extents(sheet)[1] + ds.extents(sheet)[3] <= screen.height, 2)
    screen.holds(sheet, "the sheet " + title)
    if has_default:
        default = one([b for b in ds.find(sheet, "push button") if ds.is_default(b)], "default button of " + title)
        screen.holds(default, "the default button of " + title)
    return sheet


def close_with(app, sheet, button, title):
    ds.press(one(ds.find(sheet, "push button", name=button), button + " of " + title))
    check(ds.wait_for(lambda: ds.window(app, title, timeout=0) is None, 5), "%s did not close" % title)


def started(session):
    """The program started: its accessible application and main window."""
    session.start()
    app = ds.application()
    check(app is not None, "the program never showed up on the accessibility bus")
    main = ds.window(app, "Corvane")
    check(main is not None, "no window titled Corvane")
    return app, main


def first_start(binary, screen, pixels, scale):
    with ds.Session(binary, welcome_done=False, screen=pixels, scale=scale) as session:
        app, main = started(session)
        screen.holds(main, "the window at first start")
        close_with(app, sheet_on_screen(app, screen, "欢迎使用Corvane", has_default=False), "稍后再说",
                   "欢迎使用Corvane")
        # Team mode turned on in the open settings sheet makes it taller: it moves up to stay on the screen.
        ds.press(one(ds.find(main, "push button", name="设置"), "settings button"))
        settings = sheet_on_screen(app, screen, "设置")
        ds.toggle(one(ds.find(settings, "check box", name="中央存储 / NAS（默认关闭）"), "NAS switch"))
        check(ds.wait_for(lambda: ds.find(settings, "label", prefix="团队模式 · "), 5), "team mode did not come on")
        sheet_on_screen(app, screen, "设置")


def sheets_over_a_restored_frame(binary, screen, pixels, scale):
    defaults = {"CorvaneMainWindow": SAVED_FRAME, "nasExt": True}
    with ds.Session(binary, screen=pixels, scale=scale, defaults=defaults) as session:
        session.announce("dev-pin", "带口令的机器", plat="linux", pin=True)
        app, main = started(session)
        screen.holds(main, "the window restored from %r" % SAVED_FRAME)

        def open_from(parent, button, title, has_default=True):
            ds.press(one(ds.find(parent, "push button", name=button), button))
            return sheet_on_screen(app, screen, title, has_default)

        settings = open_from(main, "设置", "设置")
        close_with(app, open_from(settings, "网络诊断…", "网络诊断", has_default=False), "关闭", "网络诊断")
        close_with(app, open_from(settings, "意见反馈…", "体验反馈"), "取消", "体验反馈")
        close_with(app, settings, "完成", "设置")
        close_with(app, open_from(main, "发送文字", "发送文字"), "取消", "发送文字")
        close_with(app, open_from(main, "办公室聊天", "办公室聊天", has_default=False), "完成", "办公室聊天")
        close_with(app, open_from(main, "局域网模式", "团队空间"), "完成", "团队空间")

        session.send_text("秘密", burn=True)
        close_with(app, sheet_on_screen(app, screen, "阅后即焚", has_default=False), "关闭", "阅后即焚")

        row = ds.wait_for(lambda: [n for n in ds.find(main, name="带口令的机器") if ds.role(n) != "label"], 20)
        check(row, "the device asking for a PIN never showed up")
        ds.press(row[0])
        close_with(app, sheet_on_screen(app, screen, "访问口令"), "取消", "访问口令")


def run(binary):
    for pixels, scale in SCREENS:
        screen = Screen(pixels, scale)
        first_start(binary, screen, pixels, scale)
        sheets_over_a_restored_frame(binary, screen, pixels, scale)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
