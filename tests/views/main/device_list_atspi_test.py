"""The device list of a large office, read and driven from outside with a screen reader
listening, keys typed through the X server (xdotool) without activating the window,
under openbox on a 1280x720 screen; 500 devices beacon, each from an address of its own:
- the list is one Tab stop between this device's row and "接收目录"; each row the keys
  reach is heard as a list item that tells its place and the count ("1 of 500");
- Page Down moves by the rows on screen, End and Home go to the ends, a typed first
  letter to the first device of that letter; the row holding the keys shows;
- devices arriving above the keys' row (more than a screen of them) leave that row on
  screen, and one leaving
  elsewhere is told nothing: no focus event, no row checked off or on;
- the chosen device that leaves is heard once, as an alert "<name> 已离开"; no focus event
  comes from an object already gone, no row is told checked, and the keys are on a row
  of the list that shows.

Usage: device_list_atspi_test.py BUILD/corvane
"""

import json
import os
import socket
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
DEVICES = 500
ARRIVING = 30  # above the keys' row: more than the screen shows


def office_name(k):
    """ "A-000" to "Y-499": twenty devices to a first letter."""
    return "%s-%03d" % (chr(ord("A") + k // 20), k)


class Office:
    """Devices that beacon every half second, each from a loopback address of its own (a real
    device announces one id from its address), until they leave or the session ends."""

    def __init__(self, session):
        self._stop = session._stop
        self._live = {}
        self._lock = threading.Lock()
        threading.Thread(target=self._beacon, daemon=True).start()

    def come(self, device_id, name, k):
        beacon = json.dumps({"v": 1, "t": "here", "id": device_id, "name": name, "port": 9000 + k, "pin": False,
                             "token": "tok-" + device_id, "plat": "linux", "team": ""}).encode()
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp.bind(("127.0.%d.%d" % (1 + k // 250, 1 + k % 250), 0))
        with self._lock:
            self._live[device_id] = (udp, beacon)
        udp.sendto(beacon, ("127.0.0.1", ds.DISCOVERY_PORT))

    def leave(self, device_id):
        with self._lock:
            udp, _ = self._live.pop(device_id)
        udp.close()

    def _beacon(self):
        while not self._stop.wait(0.5):
            with self._lock:
                for udp, beacon in self._live.values():
                    udp.sendto(beacon, ("127.0.0.1", ds.DISCOVERY_PORT))


def told(reader, since, kind):
    return [e for e in reader.heard[since:] if e["type"] == kind]


def focus_said(reader, since):
    return ["%s %r" % (e.get("role"), e.get("name")) for e in told(reader, since, "focus:")]


class Keys:
    """Keys pressed with the list's count label and the list at hand (walking a window of 500
    rows costs seconds); each press must be heard as one focus event for what it names."""

    def __init__(self, desktop, devices):
        self.desktop = desktop
        self.reader = desktop.reader
        self.devices = devices

    def __call__(self, key, then):
        """Presses the key; the one focus event heard names then ("list item 'A-000'"); that event."""
        heard = self.reader.mark()
        self.desktop.keys(key)
        check(self.reader.hears(lambda _: then in focus_said(self.reader, heard)),
              "after %s a screen reader heard the keys go to %r, not %s" % (key, focus_said(self.reader, heard), then))
        said = focus_said(self.reader, heard)
        check(said == [then], "after %s a screen reader heard the keys go to %r" % (key, said))
        return told(self.reader, heard, "focus:")[0]

    def row_shows(self, event):
        """The row a focus event told, as the list holds it: it holds the keys and lies on screen
        inside the list."""
        row = self.devices.getChildAtIndex(event["index"])
        check(row is not None and row.name == event["name"], "the list's row %d is %r, the keys' row %r" % (
            event["index"], row and row.name, event["name"]))
        check(ds.fresh(row).getState().contains(ds._atspi().STATE_FOCUSED), "%r does not say it is focused" % row.name)
        x, y, width, height = ds.extents(row)
        lx, ly, lwidth, lheight = ds.extents(self.devices)
        check(ly <= y and y + height <= ly + lheight and height > 0,
              "the keys' row %r lies at y %d-%d, the list shows %d-%d" % (row.name, y, y + height, ly, ly + lheight))
        return row


def count_reads(count, text, timeout=30):
    return ds.wait_for(lambda: ds.fresh(count).name == text, timeout)


def run(binary):
    with ds.Desktop(binary, (1280, 720), screen_reader=True) as desktop:
        main = desktop.main
        reader = desktop.reader
        office = Office(desktop.session)
        header = ds.wait_for(lambda: ds.find(main, "label", name="附近的设备"), 10)
        check(header, "no header 附近的设备")
        count = header[0].parent.getChildAtIndex(1)
        for k in range(3):
            office.come("dev-%03d" % k, office_name(k), k)
        check(count_reads(count, "3"), "the nearby count reads %r, not 3" % ds.fresh(count).name)
        devices = ds.find(main, "list", name="附近的设备")
        check(len(devices) == 1, "expected one list 附近的设备, found %d" % len(devices))
        devices = devices[0]
        own = [node for node in ds.descendants(main) if ds.role(node) == "push button"
               and (node.description or "").startswith("本机 · ")]
        check(len(own) == 1, "expected this device's row, found %r" % [node.name for node in own])
        for k in range(3, DEVICES):
            office.come("dev-%03d" % k, office_name(k), k)
        check(count_reads(count, str(DEVICES)), "the nearby count reads %r" % ds.fresh(count).name)
        check(ds.wait_for(lambda: ds.fresh(devices).childCount == DEVICES, 10), "the list counts %d rows"
              % devices.childCount)

        keys = Keys(desktop, devices)
        own[0].queryComponent().grabFocus()
        check(desktop.focus_reaches(main, ds.describe(own[0])), "this device's row never took the keys")
        first = keys("Tab", "list item 'A-000'")
        check((first["index"], first["count"]) == (0, DEVICES), "the first row tells %d of %d" % (
            first["index"] + 1, first["count"]))
        keys("Tab", "push button '接收目录'")
        keys("shift+Tab", "list item 'A-000'")

        # Page Down: the row reached depends on how many rows the screen shows.
        heard = reader.mark()
        desktop.keys("Next")
        check(reader.hears(lambda _: told(reader, heard, "focus:")), "Page Down moved no keys")
        paged = told(reader, heard, "focus:")
        check(len(paged) == 1 and paged[0]["role"] == "list item", "Page Down was heard as %r"
              % focus_said(reader, heard))
        shown = keys.row_shows(paged[0])
        rows_shown = ds.extents(devices)[3] // ds.extents(shown)[3]
        check(rows_shown - 2 <= paged[0]["index"] <= rows_shown + 1,
              "Page Down went to row %d with %d rows on screen" % (paged[0]["index"] + 1, rows_shown))
        last = keys("End", "list item %r" % office_name(DEVICES - 1))
        check((last["index"], last["count"]) == (DEVICES - 1, DEVICES), "the last row tells %d of %d"
              % (last["index"] + 1, last["count"]))
        keys.row_shows(last)
        keys("Home", "list item 'A-000'")
        lettered = keys("k", "list item 'K-200'")
        check(lettered["index"] == 200, "K-200 tells place %d" % (lettered["index"] + 1))
        keys.row_shows(lettered)

        # K-200 is chosen, with the keys on its row.
        heard = reader.mark()
        desktop.keys("Return")
        check(ds.wait_for(lambda: ds.find(main, "label", name="K-200"), 10), "Return on K-200 did not choose it")
        check(reader.hears(lambda _: [e for e in told(reader, heard, "object:state-changed:checked")
                                      if e.get("name") == "K-200" and e["detail1"]]),
              "a screen reader never heard K-200 become checked")

        # Devices arrive above the keys' row, and one leaves elsewhere: nothing is told, the
        # chosen row is not told checked off and on.
        heard = reader.mark()
        for k in range(ARRIVING):
            office.come("dev-new-%d" % k, "0-新设备-%d" % k, DEVICES + k)
        check(count_reads(count, str(DEVICES + ARRIVING)), "the nearby count reads %r" % ds.fresh(count).name)
        check(ds.wait_for(lambda: ds.fresh(devices).childCount == DEVICES + ARRIVING, 10),
              "the list counts %d rows" % devices.childCount)
        keys.row_shows(dict(lettered, index=200 + ARRIVING))
        office.leave("dev-480")
        check(count_reads(count, str(DEVICES + ARRIVING - 1), 20), "the nearby count reads %r" % ds.fresh(count).name)
        check(ds.wait_for(lambda: ds.fresh(devices).childCount == DEVICES + ARRIVING - 1, 10),
              "the list counts %d rows" % devices.childCount)
        keys.row_shows(dict(lettered, index=200 + ARRIVING))
        check(not told(reader, heard, "focus:"), "rows coming and going were heard as %r" % focus_said(reader, heard))
        checked = [e.get("name") for e in told(reader, heard, "object:state-changed:checked")]
        check(not checked, "rows coming and going told %r checked or not" % checked)

        # The chosen device leaves.
        heard = reader.mark()
        office.leave("dev-200")
        check(reader.hears(lambda _: [e for e in told(reader, heard, "object:state-changed:showing")
                                      if e.get("role") == "alert" and e["detail1"]], timeout=20),
              "the chosen device's leaving was never heard")
        check(count_reads(count, str(DEVICES + ARRIVING - 2)), "the nearby count reads %r" % ds.fresh(count).name)
        check(ds.wait_for(lambda: ds.find(main, "label", name="本机"), 10), "the window did not fall back to 本机")
        alerts = [e.get("name") for e in told(reader, heard, "object:state-changed:showing")
                  if e.get("role") == "alert" and e["detail1"]]
        check(alerts == ["K-200 已离开"], "a screen reader heard the alerts %r" % alerts)
        focus = told(reader, heard, "focus:")
        check(all("gone" not in e for e in focus), "focus events came from objects gone: %r" % focus)
        check([e.get("name") for e in focus] == ["J-199"], "the keys were heard going to %r" % focus_said(reader, heard))
        checked = [e.get("name") for e in told(reader, heard, "object:state-changed:checked")]
        check(not checked, "the fallback told %r checked or not" % checked)
        keys.row_shows(focus[-1])
        check(ds.is_checked(own[0]), "this device's row is not the chosen one")


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
