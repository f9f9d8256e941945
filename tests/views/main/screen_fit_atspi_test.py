"""The window wholly on screens smaller than it wants, read from outside over
AT-SPI with no window manager to move it: on 1280x720, on 1400x900 and on
2560x1440 at scale 2, the main window lies on the screen at first start (where it
would be taller than a 720 px screen) and with a frame saved on a larger screen.

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
        _, main = started(session)
        screen.holds(main, "the window at first start")


def restored_frame(binary, screen, pixels, scale):
    with ds.Session(binary, screen=pixels, scale=scale, defaults={"CorvaneMainWindow": SAVED_FRAME}) as session:
        _, main = started(session)
        screen.holds(main, "the window restored from %r" % SAVED_FRAME)


def run(binary):
    for pixels, scale in SCREENS:
        screen = Screen(pixels, scale)
        first_start(binary, screen, pixels, scale)
        restored_frame(binary, screen, pixels, scale)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
