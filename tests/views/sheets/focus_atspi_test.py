"""Keyboard focus in the send-text sheet as a person at the keyboard meets it:
real Tab presses (xdotool through the X server) from "只发本机" go to "本机",
then to the device's row, then to the editor; each press lands on a control
that the accessibility tree shows focused, never on the list around the rows.

Usage: focus_atspi_test.py BUILD/corvane
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check


def one(nodes, what):
    check(len(nodes) == 1, "expected one %s, found %d" % (what, len(nodes)))
    return nodes[0]


def focused(sheet):
    """The control of the sheet that has the keyboard focus, or None (an editor's
    viewport, a filler, shows focused with it)."""
    import pyatspi
    hits = [node for node in ds.descendants(sheet)
            if ds.role(node) != "filler" and ds.fresh(node).getState().contains(pyatspi.STATE_FOCUSED)]
    return hits[0] if len(hits) == 1 else None


def describe(node):
    return "nothing" if node is None else "%s %r" % (ds.role(node), node.name)


def tab():
    subprocess.run(["xdotool", "key", "Tab"], check=True)


def click(node):
    """A real click in the middle of the node (there is no window manager to give a window the focus)."""
    import pyatspi
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2), "click", "1"],
                   check=True)


def tab_until(sheet, role, name, presses=12):
    """Presses Tab until the named control has the focus; the names passed on the way."""
    seen = []
    for _ in range(presses):
        tab()
        if ds.wait_for(lambda: focused(sheet) is not None, 3):
            node = focused(sheet)
            seen.append(describe(node))
            if ds.role(node) == role and node.name == name:
                return seen
        else:
            seen.append(describe(None))
    raise ds.Failure("%s %r never took the focus; Tab went to %r" % (role, name, seen))


def run(binary):
    with ds.Session(binary) as session:
        session.announce("dev-r", "接收机", plat="linux")
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")
        check(ds.wait_for(lambda: [n for n in ds.find(main, name="接收机") if ds.role(n) != "label"], 20),
              "the device never showed up")
        ds.press(one(ds.find(main, "push button", name="发送文字"), "text button"))
        sheet = ds.window(app, "发送文字")
        check(sheet is not None, "the text sheet did not open")
        click(one(ds.find(sheet, "label", name="对方会收到一条消息，同时在接收目录留一份 txt 存档（发代码不会丢缩进）。"),
                  "explanation"))
        check(ds.wait_for(lambda: describe(focused(sheet)) == "text '发送文字'", 10),
              "the editor does not have the focus: %s" % describe(focused(sheet)))

        tab_until(sheet, "push button", "只发本机")
        for role, name in (("check box", "本机"), ("check box", "接收机"), ("text", "发送文字")):
            tab()
            check(ds.wait_for(lambda: describe(focused(sheet)) == "%s %r" % (role, name), 3),
                  "after a Tab the focus is on %s, not on %s %r" % (describe(focused(sheet)), role, name))


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
