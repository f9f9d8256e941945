"""The device sidebar and the file list read and driven from outside, as
assistive technology sees it: two fake devices announce themselves and three
files lie in the receive folder; the own row, the "附近的设备" count, both
device rows in order, the detail title and subtitle and the file rows' texts
can be read, this device's row a push button and the peers' rows items of the list "附近的设备",
whose row count is the number of devices; pressing a device row shows that device's name as the title.

Usage: devices_files_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check


def device_rows(main):
    """The device rows top to bottom: this device's push button and the list items whose
    description carries an address."""
    import pyatspi
    rows = [node for node in ds.descendants(main) if " · " in (node.description or "")
            and ":" in node.description and ds.role(node) in ("push button", "list item")]
    return sorted(rows, key=lambda node: node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).y)


def run(binary):
    with ds.Session(binary) as session:
        session.place_file("报告.pdf", size=2048, age_seconds=300)
        session.place_file("照片/夏天.jpg", size=1536, age_seconds=7200)
        session.place_file("notes.txt", content=b"hello")
        session.announce("dev-b", "B-设备", plat="win32", port=8951)
        session.announce("dev-a", "A-设备", plat="linux", port=8952)
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")

        count = ds.wait_for(lambda: ds.find(main, "label", name="2"), 20)
        check(count, "the nearby count never read 2")
        rows = ds.wait_for(lambda: (lambda found: found if len(found) == 3 else None)(device_rows(main)), 10)
        check(rows, "expected three device rows, found %r" % [r.name for r in device_rows(main)])
        own, first, second = rows
        check([ds.role(row) for row in rows] == ["push button", "list item", "list item"],
              "device rows: %r" % [ds.role(row) for row in rows])
        check(own.name == "测试机", "own row: %r" % own.name)
        check(own.description.startswith("本机 · "), "own row's description: %r" % own.description)
        check(own.description.endswith(" · 在线"), "own row's badge: %r" % own.description)
        # The list comes sorted from the application state (by name).
        names = [first.name, second.name]
        check(names == ["A-设备", "B-设备"], "device rows: %r" % names)
        devices = ds.find(main, "list", name="附近的设备")
        check(len(devices) == 1 and devices[0].childCount == 2, "the device list counts %r rows"
              % [node.childCount for node in devices])
        subtitles = {row.name: row.description for row in (first, second)}
        check(subtitles["A-设备"] == "Linux · 127.0.0.1:8952", "A's subtitle: %r" % subtitles["A-设备"])
        check(subtitles["B-设备"] == "Windows · 127.0.0.1:8951", "B's subtitle: %r" % subtitles["B-设备"])

        check(ds.find(main, "label", name="本机"), "no detail title 本机")
        subtitle = ds.wait_for(lambda: ds.find(main, "label", prefix="3 个文件 · "), 10)
        check(subtitle, "no subtitle counting three files")
        check(" · 端口 8899 · v" in subtitle[0].name, "subtitle: %r" % subtitle[0].name)

        lists = ds.find(main, "list", name="文件")
        check(lists, "no file list")
        texts = sorted(child.name for child in ds.descendants(lists[0]) if ds.role(child) == "list item")
        expected = sorted(["报告.pdf · 2.00 KB · 5 分钟前", "夏天.jpg · 照片 · 1.50 KB · 2 小时前",
                           "notes.txt · 5 B · 刚刚"])
        check(texts == expected, "file rows: %r" % texts)

        target = first
        ds.press(target)  # a row's first action, Press, chooses the device
        title = ds.wait_for(lambda: ds.find(main, "label", name=target.name), 10)
        check(title, "the title never became %r" % target.name)
        check(ds.find(main, "push button", name="返回本机"), "no way back to this device")


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
