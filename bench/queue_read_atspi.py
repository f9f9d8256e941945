#!/usr/bin/env python3
"""What a screen reader pays to read the main window while a folder goes out: for each
folder size N, build/corvane (under Xvfb with openbox, accessibility on) sends a folder of N
small files to a fake device on loopback that answers every upload request after a short
pause, while the whole window (every showing node's name and role) is read again and again
as a screen reader reads it (every 200 ms for 15 s from when the folder is queued). Prints,
for each N: the reads made, their median and longest time, and the nodes one read met.
Prints numbers; asserts nothing.

  /usr/bin/python3 bench/queue_read_atspi.py BUILD/corvane [N ...]   (N defaults to 3 3000)
"""

import json
import os
import statistics
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop_session as ds  # noqa: E402

DEVICE, PORT = "收件台", ds.FIRST_HTTP_PORT + 74
PAUSE = 0.002  # seconds each request of the fake device takes


class _QuickHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def _reply(self, body):
        time.sleep(PAUSE)
        data = json.dumps(body).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        self._reply({"received": [], "files": []})

    def do_PUT(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        self._reply({"ok": True})

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        self._reply({"p": "x", "n": "x", "s": 1, "t": 0})

    def log_message(self, *args):
        pass


def read_window(main):
    """Every showing node's name and role, as a screen reader's read of the window; the count."""
    nodes = ds.descendants(main)
    for node in nodes:
        try:
            node.name, ds.role(node)
        except Exception as error:
            if not ds.gone(error):
                raise
    return len(nodes)


def measure(binary, files):
    device = ThreadingHTTPServer(("127.0.0.1", PORT), _QuickHandler)
    device.daemon_threads = True
    threading.Thread(target=device.serve_forever, daemon=True).start()
    try:
        with ds.Desktop(binary, (1280, 720)) as desktop:
            desktop.session.announce("dev-quick", DEVICE, plat="darwin", port=PORT)
            main = desktop.main
            rows = ds.wait_for(lambda: [n for n in ds.find(main, "push button", name=DEVICE)
                                        if " · " in (n.description or "")], 20)
            ds.check(rows, "the device never showed up")
            ds.press(rows[0])
            ds.check(ds.wait_for(lambda: ds.find(main, "label", name=DEVICE), 10), "the device was not chosen")
            folder = os.path.join(desktop.session.box, "folder")
            os.makedirs(folder)
            for k in range(files):
                with open(os.path.join(folder, "f%04d.txt" % k), "w") as out:
                    out.write("x")
            ds.check(ds.send_through_picker(desktop.app, main, "选择文件夹", folder), "the folder was not sent")
            ds.check(ds.wait_for(lambda: [n for n in ds.find(main, "label") if n.name.endswith("个进行中")
                                          or n.name == "全部完成"], 30), "the folder never queued")
            times, counts = [], []
            started = time.monotonic()
            while time.monotonic() - started < 15:
                before = time.monotonic()
                counts.append(read_window(main))
                times.append(time.monotonic() - before)
                time.sleep(0.2)
            print("%5d files: %3d reads, median %.3f s, longest %.3f s, %d nodes a read"
                  % (files, len(times), statistics.median(times), max(times), max(counts)), flush=True)
    finally:
        device.shutdown()


def run(binary):
    for files in [int(n) for n in sys.argv[2:]] or [3, 3000]:
        measure(binary, files)


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
