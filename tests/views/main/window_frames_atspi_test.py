"""Whole frames on the screen, title bars included: under Debian's openbox, on
1280x720, 1366x768 and 2560x1440 at scale 2, the main window at first start (where its first size is
taller than the screen, or almost), the welcome sheet over it, the settings sheet
(as tall as the screen allows) and the chat window each lie with their whole frame
on the screen; so does the window restored at the next start, and one restored from
a frame saved on a larger screen. Without a window manager the same windows lie on
the screen as before. A sheet draws its own 1 px edge only without a window manager
(openbox's border stands there otherwise). The frame is read from the X server (the window's place and
openbox's _NET_FRAME_EXTENTS), after openbox has framed the window.

Usage: window_frames_atspi_test.py BUILD/corvane
"""

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check

# (pixels of the screen, Qt's scale factor)
SCREENS = (((1280, 720), None), ((1366, 768), None), ((2560, 1440), 2))
LARGER_SCREENS_FRAME = "150 180 1300 850"
MINIMUM = (880, 600)  # the content's minimum; the menu bar adds to the window's height
WINDOW_GREY = 0xEC  # the window's background


class Place:
    """One session's screen, with or without openbox, and what lies where on it (in the
    screen's pixels, as the X server holds them)."""

    def __init__(self, session, size, scale, managed):
        self.session, self.width, self.height, self.managed = session, size[0], size[1], managed
        self.scale = scale or 1
        self.name = "%dx%d%s %s" % (size[0], size[1], " at scale %d" % scale if scale else "",
                                    "under openbox" if managed else "without a window manager")

    def outer(self, title):
        """The window's frame (x, y, width, height), once it is framed where a window manager
        runs; None before."""
        found = self.session.frame(title)
        if not found:
            return None
        (x, y, width, height), margins = found
        if self.managed and not margins:
            return None
        left, right, top, bottom = margins or (0, 0, 0, 0)
        return (x - left, y - top, width + left + right, height + top + bottom), (width, height)

    def lies_on_screen(self, title, what):
        """Waits until the window's whole frame lies on the screen; fails with where it lay."""
        def on_screen():
            found = self.outer(title)
            if not found:
                return None
            (x, y, width, height), _ = found
            return found if x >= 0 and y >= 0 and x + width <= self.width and y + height <= self.height else None

        found = ds.wait_for(on_screen, 10)
        check(found, "%s: %s's frame lies at %r, not wholly on the screen"
              % (self.name, what, self.outer(title) or self.session.frame(title)))
        return found


    def left_edge_grey(self, title):
        """The grey of the window's own first column, half-way down, as the screen shows it."""
        found = self.session.frame(title)
        if not found:
            return None
        x, y, _, height = found[0]
        return sum(self.session.screen_pixel(x, y + height // 2)) // 3

    def sheet_edge_as_expected(self, title, what):
        """A sheet's own edge shows without a window manager, and not beside openbox's border."""
        def as_expected():
            grey = self.left_edge_grey(title)
            return grey is not None and (grey >= WINDOW_GREY - 6 if self.managed else grey <= WINDOW_GREY - 24)

        check(ds.wait_for(as_expected, 10, interval=0.2), "%s: %s's first column is grey %r"
              % (self.name, what, self.left_edge_grey(title)))


def main_window_fits(place, what):
    _, (width, height) = place.lies_on_screen("Corvane", what)
    check(width >= MINIMUM[0] * place.scale and height >= MINIMUM[1] * place.scale,
          "%s: %s is %dx%d, below the minimum" % (place.name, what, width, height))


def press(node, button):
    hits = ds.wait_for(lambda: ds.find(node, "push button", name=button), 5)
    check(hits, "no button %s" % button)
    ds.press(hits[0])


def first_start_then_restore(binary, size, scale, managed):
    with ds.Session(binary, welcome_done=False, screen=size, scale=scale, window_manager=managed) as session:
        place = Place(session, size, scale, managed)
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")
        main_window_fits(place, "the window at first start")
        for title, what, opener, closer in (("欢迎使用Corvane", "the welcome sheet", None, "稍后再说"),
                                            ("设置", "the settings sheet", "设置", "完成"),
                                            ("办公室聊天", "the chat window", "办公室聊天", "完成")):
            if opener:
                press(main, opener)
            sheet = ds.window(app, title)
            check(sheet is not None, "%s did not open" % what)
            place.lies_on_screen(title, what)
            if title == "欢迎使用Corvane":
                place.sheet_edge_as_expected(title, what)
            press(sheet, closer)
            check(ds.wait_for(lambda: ds.window(app, title, timeout=0) is None, 5), "%s did not close" % what)

        # The next start restores the frame the program kept when it quit.
        session.quit()
        session.start()
        main_window_fits(place, "the window restored at the next start")


def restored_from_a_larger_screen(binary, size, scale, managed):
    defaults = {"CorvaneMainWindow": LARGER_SCREENS_FRAME}
    with ds.Session(binary, screen=size, scale=scale, window_manager=managed, defaults=defaults) as session:
        session.start()
        main_window_fits(Place(session, size, scale, managed), "the window restored from %r" % LARGER_SCREENS_FRAME)


def run(binary):
    for tool in ("openbox", "xprop", "xwininfo", "xdotool"):
        if not shutil.which(tool):
            print("window frames: skipped, missing " + tool)
            sys.exit(ds.SKIP)
    for size, scale in SCREENS:
        for managed in (True, False):
            first_start_then_restore(binary, size, scale, managed)
            restored_from_a_larger_screen(binary, size, scale, managed)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
