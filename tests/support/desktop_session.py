"""The built program as a person at the desktop sees it, for tests and scripts
that read and drive the window from outside over AT-SPI.

A run goes through three stages of one script:
  1. enter(): the script starts itself again inside a fresh network namespace
     with only loopback up (nothing can leave the machine, and the shipped
     ports are free);
  2. there it starts Xvfb on a free display (-displayfd) and runs itself once
     more inside a private session bus (dbus-run-session), with the display
     and Qt's accessibility bridge switched on;
  3. that last run is the test: Session starts build/corvane with a sandbox
     HOME and XDG folders, a config.json, TZ=UTC, CORVANE_MANIFEST on a
     loopback server and a recording xdg-open first on PATH.
Fake devices announce themselves by beacon (UDP 8898) and reach the program
over HTTP (texts, chat, uploads). Needs /usr/bin/python3 with python3-pyatspi.
"""

import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.request
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SKIP = 77  # the exit status CTest reads as "skipped"
STAGE = "CORVANE_DESKTOP_STAGE"
DISCOVERY_PORT = 8898
FIRST_HTTP_PORT = 8899


def missing_tools():
    """Programs and modules a run needs that this machine lacks (a window manager's tools
    are checked by the tests that use them)."""
    missing = [tool for tool in ("Xvfb", "dbus-run-session", "unshare", "ip") if not shutil.which(tool)]
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        missing.append("python3-pyatspi")
    return missing


def enter(script_args):
    """Runs the calling script in its own network namespace, display and session
    bus; returns only in the last stage, where the test itself runs."""
    stage = os.environ.get(STAGE, "")
    if stage == "":
        lacking = missing_tools()
        if lacking:
            print("desktop session: skipped, missing " + ", ".join(lacking))
            sys.exit(SKIP)
        _restart_in_fresh_network(script_args)
    if stage == "network":
        sys.exit(_run_with_display(script_args))


def _restart_in_fresh_network(script_args):
    env = dict(os.environ, **{STAGE: "network"})
    unshare = ["unshare", "--net"] if os.geteuid() == 0 else ["unshare", "--net", "--map-root-user"]
    command = unshare + ["--", "sh", "-c", 'ip link set lo up && exec "$@"', "netns",
                         sys.executable] + script_args
    os.execvpe(command[0], command, env)


def _start_xvfb(size, picture_folder=None):
    """An Xvfb screen of size (width, height) on a free display: the process and ":N"
    (N empty when it gave none). With a picture folder, the screen's pixels are kept
    there as an XWD file (Xvfb_screen0), with no pointer drawn in them. Servers started
    side by side in other namespaces may take the same display number and then race for
    the keymap file named after it, and the loser ends at once: it is started again."""
    command = ["Xvfb", "-screen", "0", "%dx%dx24" % size, "-nolisten", "tcp", "-nolisten", "unix", "-noreset"]
    if picture_folder:
        command += ["-fbdir", picture_folder, "-nocursor"]
    for _ in range(5):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(command + ["-displayfd", str(write_end)], pass_fds=(write_end,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as answer:
            display = answer.readline().strip()
        if display:
            return xvfb, ":" + display
        xvfb.wait(timeout=10)
    return xvfb, ""


def _stop_xvfb(xvfb):
    xvfb.terminate()
    xvfb.wait(timeout=10)


def _run_with_display(script_args):
    xvfb, display = _start_xvfb((1280, 900))
    # The accessibility bus's socket is named after the display in the runtime folder (else
    # ~/.cache): a folder of this run's own keeps a run beside it, on a display of the same
    # number in another namespace, from taking it over.
    runtime = tempfile.mkdtemp(prefix="corvane-desktop-run-")
    try:
        if not display:
            print("desktop session: Xvfb gave no display")
            return 1
        env = dict(os.environ, **{STAGE: "session", "DISPLAY": display, "XDG_RUNTIME_DIR": runtime,
                                  "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "NO_AT_BRIDGE": "0"})
        env.pop("AT_SPI_BUS_ADDRESS", None)  # Qt must find the bus through the session bus
        return subprocess.call(["dbus-run-session", "--", sys.executable] + script_args, env=env)
    finally:
        _stop_xvfb(xvfb)
        shutil.rmtree(runtime, ignore_errors=True)


def _stop_process(process):
    """Ends a child with SIGTERM, and with SIGKILL when it has not ended 10 s later."""
    if not process or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Failure(Exception):
    """A check of a desktop test that did not hold."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_test(script, run):
    """The main of a desktop test script: enters its session, calls run with the
    program's path (the script's first argument) and returns the exit status."""
    enter([os.path.abspath(script)] + sys.argv[1:])
    try:
        run(os.path.abspath(sys.argv[1]))
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    except Exception:
        traceback.print_exc()
        return 1
    print("passed")
    return 0


class _ManifestHandler(BaseHTTPRequestHandler):
    def do_GET(self):
        body = json.dumps({"version": "0.0.0", "notes": []}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Session:
    """build/corvane in a sandbox of its own, its window on the test's display, or with
    screen=(width, height) on a screen of that size of its own (no window manager there
    unless window_manager: then Debian's openbox runs on it), at Qt's scale factor scale
    when given. defaults: the user defaults it starts with; home: a home folder to use
    instead of one in the sandbox."""

    def __init__(self, binary, welcome_done=True, extra_config=None, no_anim=True, screen=None, scale=None,
                 defaults=None, home=None, window_manager=False):
        self.binary = binary
        self.box = tempfile.mkdtemp(prefix="corvane-desktop-")
        self.home = home or os.path.join(self.box, "home")
        self.data = os.path.join(self.box, "data", "Corvane")
        self.opened_log = os.path.join(self.box, "xdg-open.log")
        for folder in (self.home, self.data, os.path.join(self.box, "config"), os.path.join(self.box, "cache"),
                       os.path.join(self.box, "bin")):
            os.makedirs(folder, exist_ok=True)
        runtime = os.path.join(self.box, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        config = {"welcomeDone": welcome_done, "deviceName": "测试机"}
        config.update(extra_config or {})
        with open(os.path.join(self.data, "config.json"), "w", encoding="utf-8") as out:
            json.dump(config, out, ensure_ascii=False)
        if defaults:
            os.makedirs(os.path.join(self.box, "config", "Corvane"))
            with open(os.path.join(self.box, "config", "Corvane", "defaults.json"), "w", encoding="utf-8") as out:
                json.dump(defaults, out, ensure_ascii=False)
        recorder = os.path.join(self.box, "bin", "xdg-open")
        with open(recorder, "w") as out:
            out.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n' % self.opened_log)
        os.chmod(recorder, 0o755)
        self.manifest = ThreadingHTTPServer(("127.0.0.1", 0), _ManifestHandler)
        threading.Thread(target=self.manifest.serve_forever, daemon=True).start()
        self.env = dict(os.environ, HOME=self.home, TZ="UTC", XDG_CONFIG_HOME=os.path.join(self.box, "config"),
                        XDG_DATA_HOME=os.path.join(self.box, "data"), XDG_CACHE_HOME=os.path.join(self.box, "cache"),
                        XDG_RUNTIME_DIR=runtime, PATH=os.path.join(self.box, "bin") + ":" + os.environ["PATH"],
                        CORVANE_MANIFEST="http://127.0.0.1:%d/manifest.json" % self.manifest.server_port,
                        QT_QPA_PLATFORM="xcb")
        if no_anim:
            self.env["CORVANE_NO_ANIM"] = "1"
        self.xvfb = None
        if screen:
            self.screen_size = screen
            self.pixels = os.path.join(self.box, "screen")
            os.makedirs(self.pixels)
            self.xvfb, self.env["DISPLAY"] = _start_xvfb(screen, self.pixels)
            if not self.env["DISPLAY"]:
                raise Failure("Xvfb gave no display of %dx%d" % screen)
        self.window_manager = None
        if window_manager:
            if not screen:
                raise Failure("a window manager runs only on a screen of the session's own")
            try:
                self._start_window_manager()
            except Failure:
                _stop_xvfb(self.xvfb)
                self.manifest.shutdown()
                shutil.rmtree(self.box, ignore_errors=True)
                raise
        if scale:
            self.env["QT_SCALE_FACTOR"] = str(scale)
        self.process = None
        self._beacons = []
        self._stop = threading.Event()

    def _start_window_manager(self):
        """openbox on the session's screen, once it manages the screen (it names itself on
        the root window)."""
        self.window_manager = subprocess.Popen(["openbox", "--sm-disable"], env=self.env, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL)

        def managing():
            answer = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                    capture_output=True, text=True)
            return "window id #" in answer.stdout or self.window_manager.poll() is not None

        if not wait_for(managing, 15) or self.window_manager.poll() is not None:
            self._stop_window_manager()
            raise Failure("openbox did not come up on %s" % self.env["DISPLAY"])

    def _stop_window_manager(self):
        _stop_process(self.window_manager)

    def use_chinese_locale(self):
        """Runs the program as users on a Chinese desktop do (LANG=zh_CN.UTF-8, nothing
        overriding it), whatever locale the test itself runs under."""
        for name in ("LANGUAGE", "LC_ALL", "LC_MESSAGES"):
            self.env.pop(name, None)
        self.env["LANG"] = "zh_CN.UTF-8"

    def start(self, args=()):
        self.process = subprocess.Popen([self.binary] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        return self

    def wait(self, timeout):
        return self.process.wait(timeout=timeout)

    def quit(self):
        """Ends the program as a person's logout does (SIGTERM: it quits through its event
        loop and keeps its window's frame), keeping the sandbox for a start after it."""
        self.process.terminate()
        self.process.wait(timeout=20 * LOAD_ALLOWANCE)

    def close(self):
        self._stop.set()
        _stop_process(self.process)
        self.manifest.shutdown()
        self._stop_window_manager()
        if self.xvfb:
            _stop_xvfb(self.xvfb)
        shutil.rmtree(self.box, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def save_screen(self, path):
        """Writes the whole screen of the session's own display as a PNG (the windows where
        they lie, and the empty screen around them)."""
        with open(os.path.join(self.pixels, "Xvfb_screen0"), "rb") as screen:
            write_screen_png(path, screen.read())

    def screen_pixel(self, x, y):
        """The (red, green, blue) of one pixel of the session's own screen as it shows now."""
        with open(os.path.join(self.pixels, "Xvfb_screen0"), "rb") as screen:
            _, _, rows = _xwd_pixels(screen.read())
        return tuple(rows[y][3 * x:3 * x + 3])

    # ---- Windows as the X server holds them ----

    def _x(self, *command):
        return subprocess.run(list(command), env=self.env, capture_output=True, text=True).stdout

    def frame(self, title):
        """The program's window of that title as it lies on the screen: (x, y, width, height)
        of the window and the margins (left, right, top, bottom) of the window manager's frame
        round it (None while nothing frames it); None when no such window is mapped."""
        ids = self._x("xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title)).split()
        if len(ids) != 1:
            return None
        info = self._x("xwininfo", "-id", ids[0])
        fields = dict(re.findall(r"^\s*(Absolute upper-left [XY]|Width|Height):\s+(-?\d+)", info, re.M))
        if len(fields) != 4:
            return None
        window = tuple(int(fields[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
        extents = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", self._x("xprop", "-id", ids[0], "_NET_FRAME_EXTENTS"))
        return window, tuple(int(n) for n in extents.groups()) if extents else None

    def _window_property(self, title, name):
        """The value xprop gives for a property of the window of that title (the text after
        "="), or None when no such window is mapped or it has no such property."""
        ids = self._x("xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title)).split()
        if len(ids) != 1:
            return None
        said = self._x("xprop", "-id", ids[0], name)
        return said.split("=", 1)[1] if "=" in said else None

    def allowed_actions(self, title):
        """What the window manager lets a person do with the window of that title, as it says
        in _NET_WM_ALLOWED_ACTIONS ("close", "minimize", "maximize_horz", ...); None when no
        such window is mapped or the window manager said nothing."""
        said = self._window_property(title, "_NET_WM_ALLOWED_ACTIONS")
        if said is None:
            return None
        return {name.strip().lower()[len("_net_wm_action_"):] for name in said.split(",")}

    def motif_hints(self, title):
        """The frame the program asks for in _MOTIF_WM_HINTS as (flags, functions,
        decorations), or None."""
        said = self._window_property(title, "_MOTIF_WM_HINTS")
        if said is None:
            return None
        return tuple(int(field, 16) for field in said.split(",")[:3])

    # ---- The receive folder ----

    def place_file(self, relative, content=b"", age_seconds=0, size=None):
        """A file in the receive folder (~/Corvane) before start, modified that long ago;
        with a size, a sparse file of that size."""
        path = os.path.join(self.home, "Corvane", *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)
            if size is not None:
                out.truncate(size)
        when = time.time() - age_seconds
        os.utime(path, (when, when))
        return path

    # ---- What the program did outside itself ----

    def opened(self):
        """Every argument list the program gave xdg-open, in order."""
        try:
            with open(self.opened_log, encoding="utf-8") as log:
                return [line.rstrip("\n") for line in log]
        except FileNotFoundError:
            return []

    # ---- Fake devices ----

    def announce(self, device_id, name, team="", plat="darwin", port=FIRST_HTTP_PORT + 50, every=1.0, pin=False):
        """A fake device that sends its "here" beacon to the program until the session ends."""
        beacon = json.dumps({"v": 1, "t": "here", "id": device_id, "name": name, "port": port, "pin": pin,
                             "token": "tok-" + device_id, "plat": plat, "team": team}).encode()

        def send_beacons():
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
                while not self._stop.is_set():
                    udp.sendto(beacon, ("127.0.0.1", DISCOVERY_PORT))
                    self._stop.wait(every)

        thread = threading.Thread(target=send_beacons, daemon=True)
        thread.start()
        self._beacons.append(thread)

    def post(self, path, body, method="POST", port=FIRST_HTTP_PORT):
        data = body if isinstance(body, bytes) else json.dumps(body).encode()
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (port, path), data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.loads(reply.read() or b"{}")

    def send_text(self, text, burn=False):
        return self.post("/api/text", {"text": text, "burn": burn})

    def send_chat(self, msg_id, sender_id, sender_name, text, to="all", burn=False):
        return self.post("/api/chat", {"id": msg_id, "from": sender_id, "fromName": sender_name, "to": to,
                                       "text": text, "burn": burn, "ts": time.time() * 1000})

    def upload(self, upload_id, name, content):
        """One whole file in one chunk, as a sending device does it."""
        self.post("/api/upload/%s/meta" % upload_id, {"name": name, "size": len(content)}, method="PUT")
        self.post("/api/upload/%s/0" % upload_id, content, method="PUT")
        return self.post("/api/upload/%s/finish" % upload_id, {})


class _JsonHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def _reply(self, body, status=200):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


class _BusyDeviceHandler(_JsonHandler):
    def do_GET(self):
        self._reply({"received": [], "files": []})

    def do_PUT(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        self._reply({"error": "busy"}, 503)

    do_POST = do_PUT


class BusyDevice(ThreadingHTTPServer):
    """A device on a loopback port that refuses every upload as too busy to take it now."""
    daemon_threads = True

    def __init__(self, port):
        super().__init__(("127.0.0.1", port), _BusyDeviceHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.shutdown()


class _HeldDeviceHandler(_JsonHandler):

    def do_GET(self):
        self._reply({"received": [], "files": []})

    def do_PUT(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        if not self.path.endswith("/meta"):
            index = self.path.rsplit("/", 1)[-1]
            with self.server.changed:
                self.server.changed.wait_for(lambda: self.server.closing or (index.isdigit()
                                                                            and int(index) < self.server.allowed), 60)
        self._reply({"ok": True})

    do_POST = do_PUT


class HeldDevice(ThreadingHTTPServer):
    """A device on a loopback port that takes a file's meta and then holds its chunks (and
    its finish) until it is closed, so a file sent to it stays in the queue, active; the
    chunks below an index allowed are answered."""
    daemon_threads = True

    def __init__(self, port):
        super().__init__(("127.0.0.1", port), _HeldDeviceHandler)
        self.changed = threading.Condition()
        self.allowed = 0
        self.closing = False
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def allow(self, chunks):
        """From now on the chunks of index below chunks are answered."""
        with self.changed:
            self.allowed = chunks
            self.changed.notify_all()

    def handle_error(self, request, client_address):
        pass

    def close(self):
        with self.changed:
            self.closing = True
            self.changed.notify_all()
        self.shutdown()


# _MOTIF_WM_HINTS: which fields count, and the bits of the functions and decorations.
MWM_FUNCTIONS, MWM_DECORATIONS = 0x1, 0x2
MWM_ALL, MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE, MWM_FUNC_CLOSE = 0x1, 0x8, 0x10, 0x20
MWM_DECOR_MINIMIZE, MWM_DECOR_MAXIMIZE = 0x20, 0x40


def check_close_only(session, title):
    """The window asks for a title bar with a close button and nothing to minimise or maximise
    (any window manager reads this), and openbox offers no maximise. Openbox offers minimise
    to every dialog whatever it asks, so that is not read from it."""
    hints = wait_for(lambda: session.motif_hints(title), 10)
    check(hints, "%s asks the window manager for no frame of its own" % title)
    flags, functions, decorations = hints
    check(flags & MWM_FUNCTIONS and flags & MWM_DECORATIONS, "%s leaves its frame to the window manager: %r"
          % (title, hints))
    check(not functions & (MWM_ALL | MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE) and functions & MWM_FUNC_CLOSE,
          "%s asks to be minimised or maximised, or not closed: functions %#x" % (title, functions))
    check(not decorations & (MWM_ALL | MWM_DECOR_MINIMIZE | MWM_DECOR_MAXIMIZE),
          "%s asks for minimise or maximise buttons: decorations %#x" % (title, decorations))
    actions = wait_for(lambda: session.allowed_actions(title), 10)
    check(actions, "openbox says nothing of what %s allows" % title)
    offered = sorted(actions & {"maximize_horz", "maximize_vert"})
    check(not offered and "close" in actions, "openbox lets %s be %r (allowed: %r)" % (title, offered, sorted(actions)))


def write_screen_png(path, screen, box=None):
    """A screen image as Xvfb keeps it (XWD bytes) written as a PNG; with box (x, y, width,
    height), only that part of it."""
    width, height, rows = _xwd_pixels(screen)
    if box:
        x, y, width, height = box
        rows = [row[3 * x:3 * (x + width)] for row in rows[y:y + height]]
    _write_png(path, width, height, rows)


def darkest_in(screen, box):
    """The darkest colour channel of the XWD screen image within box (x, y, width, height)."""
    x, y, width, height = box
    _, _, rows = _xwd_pixels(screen, range(max(y, 0), y + height))
    return min((min(row[3 * max(x, 0):3 * (x + width)] or b"\xff") for row in rows), default=255)


def _xwd_pixels(data, only=None):
    """Width, height and RGB rows of an XWD image of 32 bits per pixel (Xvfb's own screen
    file), with its masks and byte order; only the rows in only when given."""
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height, byte_order = fields[0], fields[4], fields[5], fields[7]
    bits, line, masks, colours = fields[11], fields[12], fields[14:17], fields[19]
    if bits != 32:
        raise Failure("the screen file has %d bits per pixel" % bits)
    start = header_size + 12 * colours
    order = "<" if byte_order == 0 else ">"
    shifts = [(mask & -mask).bit_length() - 1 for mask in masks]
    rows = []
    for y in (range(height) if only is None else [y for y in only if y < height]):
        words = struct.unpack_from("%s%dI" % (order, width), data, start + y * line)
        row = bytearray(3 * width)
        for channel in range(3):
            mask, shift = masks[channel], shifts[channel]
            row[channel::3] = bytes((word & mask) >> shift for word in words)
        rows.append(bytes(row))
    return width, height, rows


def _write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


# ---- Reading the window over AT-SPI ----

def _atspi():
    import pyatspi
    return pyatspi


# Every wait is for something to appear, so a loaded machine (a parallel test run, the
# sanitizer build beside it) may take this many times the nominal time.
LOAD_ALLOWANCE = 4


def wait_for(predicate, timeout=15.0, interval=0.05):
    """Polls until the predicate gives a true value; that value, or None after the time-out."""
    deadline = time.monotonic() + timeout * LOAD_ALLOWANCE
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            return None
        time.sleep(interval)


# The events the helpers below wait on. The program sends a kind of event only once it has
# heard that someone listens, and it hears that a moment after a listener is registered:
# one registered just before a key is pressed could miss what the key does. These stay
# registered from the first look for the program on.
LASTING_KINDS = ("object:state-changed:showing", "object:state-changed:focused",
                 "object:property-change:accessible-name", "object:property-change:accessible-value")
_lasting = []


def _keep_listening():
    if _lasting:
        return
    pyatspi = _atspi()

    def ignore(event):
        pass

    for kind in LASTING_KINDS:
        pyatspi.Registry.registerEventListener(ignore, kind)
    _lasting.append(ignore)


def application(name="Corvane", timeout=15.0):
    """The program's accessible application object."""
    pyatspi = _atspi()
    _keep_listening()

    def look():
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name.lower() == name.lower():
                return app
        return None

    return wait_for(look, timeout)


def fresh(node):
    """Drops what the AT-SPI client cached about the node, so states and children are current."""
    try:
        node.clear_cache()
    except Exception:
        pass
    return node


def role(node):
    return node.getRoleName()


def is_showing(node):
    pyatspi = _atspi()
    return node.getState().contains(pyatspi.STATE_SHOWING)


def gone(error):
    """Whether an AT-SPI call failed because its object went away meanwhile (a sheet
    closing, a row replaced): the walks of a changing window pass over such nodes."""
    return "No such object path" in str(error) or "does not exist" in str(error)


def descendants(node, showing_only=True):
    """Every node below this one, depth first; hidden branches left out unless asked.
    A node that goes away during the walk is left out with what lay below it."""
    out = []
    stack = [fresh(node)]
    while stack:
        current = stack.pop()
        try:
            count = current.childCount
        except Exception as error:
            if gone(error):
                continue
            raise
        for index in reversed(range(count)):
            try:
                child = current.getChildAtIndex(index)
                if child is None or (showing_only and not is_showing(child)):
                    continue
            except Exception as error:
                if gone(error):
                    continue
                raise
            out.append(child)
            stack.append(child)
    return out


def find(node, role_name=None, name=None, prefix=None, showing_only=True):
    """The nodes below node with the role and exact name (or name prefix) asked for."""
    hits = []
    for child in descendants(node, showing_only):
        try:
            if role_name is not None and role(child) != role_name:
                continue
            if name is not None and child.name != name:
                continue
            if prefix is not None and not child.name.startswith(prefix):
                continue
        except Exception as error:
            if gone(error):
                continue
            raise
        hits.append(child)
    return hits


class Toasts:
    """The window's toasts, found once: while the program is busy (thousands of rows
    arriving) it answers each request slowly, and a walk of the whole window could
    outlast a toast that shows for a few seconds. Reading one node is quick."""

    def __init__(self, window):
        self.nodes = find(window, "notification", showing_only=False)
        self.seen = []

    def showing(self):
        """The text of the toast showing now, or None; every text read is kept in seen."""
        for toast in self.nodes:
            try:
                if is_showing(fresh(toast)) and toast.name:
                    self.seen.append(toast.name)
                    return toast.name
            except Exception as error:
                if not gone(error):
                    raise
        return None

    def wait_for(self, text, timeout=10.0):
        """Whether the toast showed the text within the time-out."""
        return bool(wait_for(lambda: self.showing() == text, timeout))


def is_active(node):
    return fresh(node).getState().contains(_atspi().STATE_ACTIVE)


def focused_hits(window):
    """The nodes of the window that say they hold the keyboard focus (one at most, as a screen
    reader asking for the focused object expects); a node that goes away meanwhile (a row
    replaced) is passed over."""
    pyatspi = _atspi()

    def holds_focus(node):
        try:
            return fresh(node).getState().contains(pyatspi.STATE_FOCUSED)
        except Exception as error:
            if gone(error):
                return False
            raise

    return [node for node in descendants(window) if holds_focus(node)]


def focused(window):
    """The control of the window that has the keyboard focus, or None."""
    hits = focused_hits(window)
    return hits[0] if len(hits) == 1 else None


def describe(node):
    return "nothing" if node is None else "%s %r" % (role(node), node.name)


def when_event(kind, matches, act, timeout=10.0):
    """Does act() and listens meanwhile for AT-SPI events of that kind ("object:state-changed:showing"
    ...); the source of the first one for which matches(event) holds, or None after the time-out."""
    pyatspi = _atspi()
    from gi.repository import GLib
    heard = []

    def listen(event):
        try:
            if not heard and matches(event):
                heard.append(event.source)
                pyatspi.Registry.stop()
        except Exception as error:
            if not gone(error):
                raise

    def start():
        act()
        return False

    timed_out = []

    # Events that came before this wait are not its answer.
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)

    def give_up():
        timed_out.append(True)
        pyatspi.Registry.stop()
        return False

    pyatspi.Registry.registerEventListener(listen, kind)
    GLib.idle_add(start)
    timer = GLib.timeout_add(int(timeout * LOAD_ALLOWANCE * 1000), give_up)
    try:
        pyatspi.Registry.start()
    finally:
        pyatspi.Registry.deregisterEventListener(listen, kind)
        if not timed_out:
            GLib.source_remove(timer)
    return heard[0] if heard else None


def popup_menu(opener, timeout=10.0):
    """The menu that opener (a function that opens it) pops up, once it shows; None when none
    showed. A popup is no child of the application over AT-SPI: it is heard as it shows."""
    return when_event("object:state-changed:showing",
                      lambda event: event.detail1 == 1 and role(event.source) in ("popup menu", "menu"),
                      opener, timeout)


def window(app, title, timeout=10.0):
    """The program's top-level window or dialog with that title."""
    def look():
        fresh(app)
        for index in range(app.childCount):
            child = app.getChildAtIndex(index)
            if child is not None and child.name == title and is_showing(child):
                return child
        return None

    return wait_for(look, timeout)


def showing_window(app, prefix):
    """The program's top-level window or dialog showing now whose title begins with
    prefix; None when there is none."""
    fresh(app)
    for index in range(app.childCount):
        child = app.getChildAtIndex(index)
        if child is not None and child.name.startswith(prefix) and is_showing(child):
            return child
    return None


def send_through_picker(app, main_window, button, typed, on_open=None):
    """Sends as a person does: the window's picker button ("选择文件" or "选择文件夹"),
    the path (or quoted paths) typed into the picker's name field, "发送". Whether
    every step found its control. on_open, when given, is called with the picker's
    window once it shows."""
    pick = wait_for(lambda: find(main_window, "push button", name=button), 10)
    if not pick:
        return False
    press(pick[0])
    dialog = wait_for(lambda: showing_window(app, "选择要发送到"), 5)
    if dialog and on_open:
        on_open(dialog)
    fields = wait_for(lambda: [n for n in find(dialog, "text") if n.queryEditableText()], 5) if dialog else None
    if not fields:
        return False
    fields[-1].queryEditableText().setTextContents(typed)
    send = wait_for(lambda: find(dialog, "push button", name="发送"), 5)
    if not send:
        return False
    press(send[0])
    return True


def focused_node(window):
    """The list row of the window holding the keyboard focus, else the one control holding
    it, or None."""
    hits = focused_hits(window)
    rows = [node for node in hits if role(node) == "list item"]
    if len(rows) == 1:
        return rows[0]
    return hits[0] if len(hits) == 1 else None


def move_focus(window, press, wanted, what, most=40):
    """Calls press (a key sent) until the focused node of the window is one that wanted
    accepts, waiting after each press for the focus to move; the node reached."""
    now = focused_node(window)
    for _ in range(most):
        if now is not None and wanted(now):
            return now
        before = describe(now)
        press()
        moved = wait_for(lambda: (lambda node: node if describe(node) != before else None)(focused_node(window)), 5)
        check(moved, "the key left the focus on %s" % before)
        now = moved
    raise Failure("the key never reached %s; the focus is on %s" % (what, describe(now)))


def focused_menu(opener):
    """The menu that opener (a function that opens it by keys) pops up, found through the focus
    its first item takes as it opens (a popup is not a child of the application): the name of
    that item and the menu."""
    item = when_event("object:state-changed:focused",
                      lambda event: event.detail1 == 1 and role(event.source) == "menu item", opener)
    check(item is not None, "the menu opened with no item focused")
    return item.name, item.parent


def press(node):
    """The node's first action (a button's press)."""
    node.queryAction().doAction(0)


def toggle(node):
    """The node's "Toggle" action: what a screen reader or switch access does to a check box."""
    action = node.queryAction()
    names = [action.getName(index) for index in range(action.nActions)]
    if "Toggle" not in names:
        raise Failure("%r offers no Toggle action, only %r" % (node.name, names))
    action.doAction(names.index("Toggle"))


def is_enabled(node):
    return fresh(node).getState().contains(_atspi().STATE_ENABLED)


def is_checked(node):
    return fresh(node).getState().contains(_atspi().STATE_CHECKED)


def is_default(node):
    """A sheet's default button: the one Return presses."""
    return fresh(node).getState().contains(_atspi().STATE_IS_DEFAULT)


def extents(node):
    """The node's rectangle on the screen as (x, y, width, height)."""
    box = fresh(node).queryComponent().getExtents(_atspi().DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


# A screen reader's listener, in a process of its own as readers run: it asks each event's
# source for its name, role, description and states, which changes the program's timing
# (UI-TESTING.md, item 13), and prints each event as a line of JSON.
_READER = r"""
import json, pyatspi

def hear(event):
    said = {"type": event.type, "detail1": event.detail1}
    try:
        source = event.source
        said.update(name=source.name, role=source.getRoleName(), description=source.description,
                    states=sorted(state.value_nick for state in source.getState().getStates()))
        if said["role"] == "list item":  # what a reader says as "3 of 500"
            said.update(index=source.getIndexInParent(), count=source.parent.childCount)
    except Exception as error:
        said["gone"] = str(error)
    print(json.dumps(said, ensure_ascii=False), flush=True)

for kind in ("focus:", "window:activate", "window:deactivate", "object:state-changed"):
    pyatspi.Registry.registerEventListener(hear, kind)
print("{}", flush=True)
pyatspi.Registry.start()
"""


class ScreenReader:
    """A screen reader listening from before the program starts; heard holds every event in
    order, as dictionaries (type, detail1, name, role, description, states; for a list item
    also its index and its list's count)."""

    def __init__(self):
        self.heard = []
        self._changed = threading.Condition()
        self.process = subprocess.Popen(["/usr/bin/python3", "-c", _READER], stdout=subprocess.PIPE, text=True,
                                        encoding="utf-8")
        check(self.process.stdout.readline().strip() == "{}", "the screen reader did not start")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            with self._changed:
                self.heard.append(json.loads(line))
                self._changed.notify_all()

    def mark(self):
        return len(self.heard)

    def hears(self, wanted, timeout=5.0):
        """Waits until wanted(every event heard) is true; its last value."""
        with self._changed:
            self._changed.wait_for(lambda: wanted(self.heard), timeout * LOAD_ALLOWANCE)
            return wanted(self.heard)

    def focus_moves(self, since, until):
        """Where the keys went since the mark, "role 'name'" from each focus event, once until is among them."""
        def told(heard):
            return ["%s %r" % (e.get("role"), e.get("name")) for e in heard[since:] if e["type"] == "focus:"]
        self.hears(lambda heard: until in told(heard))
        return told(self.heard)

    def close(self):
        _stop_process(self.process)


class Desktop:
    """The program in a session on a screen of its own (with openbox managing it unless
    window_manager is false); keys go through its X server as a person types them."""

    def __init__(self, binary, size, window_manager=True, screen_reader=False, **options):
        self.size = size
        self.session = Session(binary, screen=size, window_manager=window_manager, **options)
        self.reader = ScreenReader() if screen_reader else None

    def __enter__(self):
        try:
            self.session.start()
            self.app = application()
            check(self.app is not None, "the program never showed up on the accessibility bus")
            self.main = window(self.app, "Corvane")
            check(self.main is not None, "no window titled Corvane")
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        if self.reader:
            self.reader.close()
        self.session.close()

    def where(self):
        return "%dx%d%s" % (self.size + ("" if self.session.window_manager else " without a window manager",))

    def keys(self, *names):
        subprocess.run(["xdotool", "key", "--delay", "30"] + list(names), env=self.session.env, check=True)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "30", text], env=self.session.env, check=True)

    def active_window(self, title):
        """The window of that title once it shows and is the active one."""
        found = window(self.app, title)
        check(found is not None, "%s: %s did not open" % (self.where(), title))
        check(wait_for(lambda: is_active(found), 10), "%s: %s never became the active window" % (self.where(), title))
        return found

    def closed(self, title):
        return wait_for(lambda: window(self.app, title, timeout=0) is None, 10)

    def focus_reaches(self, where, name, timeout=5.0):
        """Whether the focused control of the window where becomes "role 'name'" in time."""
        return wait_for(lambda: describe(focused(where)) == name, timeout)
