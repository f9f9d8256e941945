#!/usr/bin/env python3
"""An office's network as the program meets it: N devices on one bridge, each with its own
address, sending its "here" beacon every 2.5 s and answering "who" probes, against one real
instance of the program with its window. Prints, for each N and with accessibility off and
on: the time until all devices are listed (the server's own list through GET /api/peers, and
the sidebar's count over AT-SPI when accessibility is on), how long the main thread stays busy
and its CPU at steady state, the discovery datagrams dropped, and the time from a key to a
visible change: Ctrl+O during the arrival until the file picker's window shows, and Tab at
steady state until the screen's pixels change. The CPU figures count every thread of the
process (the main thread's share beside). Prints numbers; asserts nothing.

With --flood RATE ADDRESSES, once the N devices are listed, M more addresses send beacons of
RATE fresh ids a second in all (each id heard once) for 35 s; printed: Ctrl+O until the file
picker shows before and during the flood, GET /api/peers's time and how many it lists, whether
the N devices stay listed, the process's RSS and CPU, and how fast the window answers after.

  bench/office_lan.py BUILD/corvane [N ...] [--accessibility off|on|both] [--flood RATE ADDRESSES]
  (N defaults to 5 200 1000, or 5 with --flood; runs as root or in a user namespace of its own)

The layout, all in namespaces of the script's own (nothing reaches the machine's network):
  bridge namespace: the bridge "office0", with one veth pair to each namespace below;
  program namespace: 10.52.0.1/16, Xvfb, a private session bus and build/corvane;
  devices namespace: 10.52.1.1 and up on one interface, one UDP socket per device bound to its
  own address (port 8898) for its beacons and answers, and one on the whole port for probes;
  with --flood, M addresses after the devices' for the flood.
"""

import contextlib
import heapq
import json
import os
import random
import re
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time
import urllib.request
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop_session as ds  # noqa: E402

STAGE = "OFFICE_LAN_STAGE"
DEVICES_NS = "OFFICE_LAN_DEVICES_NS"
PORT = 8898
HTTP_PORT = 8899
PROGRAM_ADDRESS = "10.52.0.1"
BROADCAST = "10.52.255.255"
BEACON_EVERY = 2.5
SCREEN = (1280, 800)
ID_PREFIX = "office-"
KEYS = ("Tab", "shift+Tab") * 2
ARRIVAL_KEY_AT = 3.0  # seconds after the devices arrive, Ctrl+O is pressed
FLOOD_ID_PREFIX = "flood-"
FLOOD_SECONDS = 35.0
FLOOD_SETTLE = 10.0  # seconds into the flood before the window and the server are measured
LIST_LIMIT = {5: 60.0}  # seconds to wait for the full list, by N; 300 s for the others


def device_address(k):
    return "10.52.%d.%d" % (1 + k // 250, 1 + k % 250)


def run(*command, namespace=None, check=True, stdin=None):
    prefix = ["nsenter", "--net=" + namespace, "--"] if namespace else []
    return subprocess.run(prefix + list(command), check=check, input=stdin, text=True, capture_output=True)


# ---- Stage 1: the bridge and the namespaces ----

def holder():
    """A process that only holds a fresh network namespace until it is ended."""
    return subprocess.Popen(["unshare", "--net", "--", "sleep", "1000000"])


def wire(namespace_pid, name, bridge):
    run("ip", "link", "add", name, "type", "veth", "peer", "name", name + "-br")
    run("ip", "link", "set", name, "netns", str(namespace_pid))
    run("ip", "link", "set", name + "-br", "master", bridge, "up")
    namespace = "/proc/%d/ns/net" % namespace_pid
    run("ip", "link", "set", "lo", "up", namespace=namespace)
    run("ip", "link", "set", name, "up", namespace=namespace)
    return namespace


def bridge_stage(script_args, addresses):
    run("ip", "link", "set", "lo", "up")
    run("ip", "link", "add", "office0", "type", "bridge")
    run("ip", "link", "set", "office0", "up")
    program, devices = holder(), holder()
    try:
        program_ns = wire(program.pid, "vprog", "office0")
        devices_ns = wire(devices.pid, "vdev", "office0")
        run("ip", "addr", "add", PROGRAM_ADDRESS + "/16", "dev", "vprog", namespace=program_ns)
        batch = "".join("addr add %s/16 dev vdev\n" % device_address(k) for k in range(addresses))
        run("ip", "-batch", "-", namespace=devices_ns, stdin=batch)
        env = dict(os.environ, **{STAGE: "program", DEVICES_NS: devices_ns, ds.STAGE: "network"})
        return subprocess.call(["nsenter", "--net=" + program_ns, "--", sys.executable] + script_args, env=env)
    finally:
        for process in (program, devices):
            ds._stop_process(process)


# ---- The devices (run in the devices namespace) ----

def beacon(k):
    device_id = "%s%04d" % (ID_PREFIX, k)
    return json.dumps({"v": 1, "t": "here", "id": device_id, "name": "工位 %04d" % k, "port": HTTP_PORT,
                       "pin": False, "token": "tok-" + device_id, "plat": "win32"}).encode()


def flood_beacon(serial):
    device_id = "%s%08d" % (FLOOD_ID_PREFIX, serial)
    return json.dumps({"v": 1, "t": "here", "id": device_id, "name": "访客 %08d" % serial, "port": HTTP_PORT,
                       "pin": False, "token": "tok-" + device_id, "plat": "linux"}).encode()


class Flood:
    """`rate` beacons a second, each with a fresh id, from `addresses` addresses in turn."""

    def __init__(self, first_address, addresses, rate):
        self.sockets = []
        for k in range(first_address, first_address + addresses):
            udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
            udp.bind((device_address(k), 0))
            self.sockets.append(udp)
        self.rate = rate
        self.sent = 0
        self.stopped = threading.Event()

    def run(self):
        start = time.monotonic()
        while not self.stopped.is_set():
            due = int((time.monotonic() - start) * self.rate)
            while self.sent < due:
                try:
                    self.sockets[self.sent % len(self.sockets)].sendto(flood_beacon(self.sent), (BROADCAST, PORT))
                except OSError:
                    pass
                self.sent += 1
            time.sleep(0.005)


class Devices:
    def __init__(self, count):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        needed = count + 64
        if soft < needed:
            resource.setrlimit(resource.RLIMIT_NOFILE, (needed, max(needed, hard)))
        self.sockets = []
        for k in range(count):
            udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
            udp.bind((device_address(k), PORT))
            self.sockets.append(udp)
        self.beacons = [beacon(k) for k in range(count)]
        self.probes = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.probes.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.probes.bind(("0.0.0.0", PORT))
        self.sent = 0
        self.failed = 0
        self.answered_probes = 0
        self.lock = threading.Lock()

    def send(self, k, to):
        try:
            self.sockets[k].sendto(self.beacons[k], to)
            ok = True
        except OSError:
            ok = False
        with self.lock:
            self.sent += ok
            self.failed += not ok

    def forget_waiting_probes(self):
        """Drops the probes heard before the devices arrived (the program's first one)."""
        self.probes.setblocking(False)
        try:
            while True:
                self.probes.recvfrom(65536)
        except BlockingIOError:
            pass
        self.probes.setblocking(True)

    def answer_probes(self):
        while True:
            data, (ip, _) = self.probes.recvfrom(65536)
            try:
                message = json.loads(data)
            except ValueError:
                continue
            if not isinstance(message, dict) or message.get("t") != "who" or str(message.get("id", "")).startswith(ID_PREFIX):
                continue
            # Every device answers at once, as each would on hearing the broadcast.
            for k in range(len(self.sockets)):
                self.send(k, (ip, PORT))
            with self.lock:
                self.answered_probes += 1

    def beacon_forever(self):
        start = time.monotonic()
        rng = random.Random(52)
        due = [(start + rng.uniform(0, BEACON_EVERY), k) for k in range(len(self.sockets))]
        heapq.heapify(due)
        while True:
            when, k = due[0]
            delay = when - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            self.send(k, (BROADCAST, PORT))
            heapq.heapreplace(due, (when + BEACON_EVERY, k))


def devices_stage(count):
    devices = Devices(count)
    flood = None
    print("ready", flush=True)
    for line in sys.stdin:
        command = line.strip()
        if command.startswith("flood "):
            rate, addresses = (int(n) for n in command.split()[1:])
            flood = Flood(count, addresses, rate)
            threading.Thread(target=flood.run, daemon=True).start()
            print("flooding", flush=True)
        elif command == "stop-flood":
            flood.stopped.set()
            print("%d" % flood.sent, flush=True)
        if command == "go":
            devices.forget_waiting_probes()
            threading.Thread(target=devices.answer_probes, daemon=True).start()
            threading.Thread(target=devices.beacon_forever, daemon=True).start()
            print("going", flush=True)
        elif command == "count":
            with devices.lock:
                print("%d %d %d" % (devices.sent, devices.failed, devices.answered_probes), flush=True)
    return 0


class DevicesProcess:
    def __init__(self, count):
        self.process = subprocess.Popen(["nsenter", "--net=" + os.environ[DEVICES_NS], "--", sys.executable,
                                         os.path.abspath(__file__), "--devices", str(count)],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                        env=dict(os.environ, **{STAGE: "devices"}))
        ds.check(self.process.stdout.readline().strip() == "ready", "the devices did not start")

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def go(self):
        ds.check(self.ask("go") == "going", "the devices did not begin")

    def flood(self, rate, addresses):
        ds.check(self.ask("flood %d %d" % (rate, addresses)) == "flooding", "the flood did not begin")

    def stop_flood(self):
        return int(self.ask("stop-flood"))

    def counts(self):
        sent, failed, probes = (int(n) for n in self.ask("count").split())
        return sent, failed, probes

    def close(self):
        self.process.stdin.close()
        ds._stop_process(self.process)


# ---- What the program shows (run in the program namespace, inside its session) ----

def timed_server_peers():
    """The seconds until GET /api/peers's whole reply was read (before it is parsed) and the
    peers it lists; None for both while the server does not answer."""
    start = time.monotonic()
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d/api/peers" % HTTP_PORT, timeout=5) as reply:
            body = reply.read()
        took = time.monotonic() - start
        return took, json.loads(body).get("peers", [])
    except (OSError, ValueError):
        return None, None


def server_peers():
    """The peers GET /api/peers lists; None while the server does not answer."""
    return timed_server_peers()[1]


def listed_with(peers, prefix):
    return None if peers is None else sum(1 for peer in peers if str(peer.get("id", "")).startswith(prefix))


def server_listed():
    """How many of the devices GET /api/peers lists; None while the server does not answer."""
    return listed_with(server_peers(), ID_PREFIX)


def udp_drops():
    """Datagrams the kernel dropped at the discovery port's sockets of this namespace."""
    total = 0
    with open("/proc/net/udp") as table:
        next(table)
        for line in table:
            fields = line.split()
            if fields[1].endswith(":%04X" % PORT):
                total += int(fields[-1])
    return total


def cpu_seconds(stat_path):
    with open(stat_path) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_cpu_seconds(pid):
    """User and system time of the process's main thread."""
    return cpu_seconds("/proc/%d/task/%d/stat" % (pid, pid))


def process_cpu_seconds(pid):
    """User and system time of every thread of the process, those that ended included."""
    return cpu_seconds("/proc/%d/stat" % pid)


def cpu_shares(pid, seconds):
    """Percent of a core over `seconds`: the whole process's and its main thread's."""
    process_start, main_start, wall_start = process_cpu_seconds(pid), thread_cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - wall_start
    return (100.0 * (process_cpu_seconds(pid) - process_start) / wall,
            100.0 * (thread_cpu_seconds(pid) - main_start) / wall)


def rss_mb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return 0.0


def calm_after(pid, start, limit, window=2.0, busy=0.10):
    """Seconds from the devices' arrival until the main thread used less than `busy` of a core
    over `window` seconds; None when it stayed busy until `limit` seconds after the arrival."""
    while time.monotonic() - start < limit:
        before = thread_cpu_seconds(pid)
        time.sleep(window)
        if thread_cpu_seconds(pid) - before < busy * window:
            return time.monotonic() - start
    return None


def window_mapped(session):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Corvane$"], env=session.env,
                           capture_output=True, text=True)
    return bool(found.stdout.split())


def screen_crc(session):
    with open(os.path.join(session.pixels, "Xvfb_screen0"), "rb") as screen:
        return zlib.crc32(screen.read())


def still_screen(session, quiet=0.5, limit=20.0):
    """The screen's checksum once it has not changed for `quiet` seconds; None if it never settles."""
    deadline = time.monotonic() + limit
    last, since = screen_crc(session), time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.02)
        now = screen_crc(session)
        if now != last:
            last, since = now, time.monotonic()
        elif time.monotonic() - since >= quiet:
            return last
    return None


def key_to_change(session, key, limit):
    """Seconds from pressing the key until the screen shows a change; None past the limit or
    when the screen never held still before the key."""
    before = still_screen(session)
    if before is None:
        return None
    start = time.monotonic()
    subprocess.run(["xdotool", "key", key], env=session.env, check=True)
    while time.monotonic() - start < limit:
        if screen_crc(session) != before:
            return time.monotonic() - start
        time.sleep(0.004)
    return None


def shown_windows(session):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(session.process.pid)], env=session.env,
                           capture_output=True, text=True)
    return len(found.stdout.split())


def picker_opens(session, limit):
    """Seconds from Ctrl+O until the file picker's window shows (a change that the peer list's
    own redrawing cannot fake); None past the limit. The picker is closed again afterwards."""
    before = shown_windows(session)
    start = time.monotonic()
    subprocess.run(["xdotool", "key", "ctrl+o"], env=session.env, check=True)
    opened = None
    while time.monotonic() - start < limit:
        if shown_windows(session) > before:
            opened = time.monotonic() - start
            break
        time.sleep(0.01)
    subprocess.run(["xdotool", "key", "Escape"], env=session.env, check=True)
    ds.wait_for(lambda: shown_windows(session) <= before, limit / ds.LOAD_ALLOWANCE)
    return opened


def nearby_count_label(main):
    """The label beside "附近的设备" that counts the devices listed in the sidebar."""
    for title in ds.find(main, "label", name="附近的设备"):
        parent = title.parent
        for index in range(parent.childCount):
            child = parent.getChildAtIndex(index)
            if child is not None and ds.role(child) == "label" and child.name != "附近的设备":
                return child
    return None


def sidebar_count(label):
    try:
        text = ds.fresh(label).name.strip()
    except Exception:
        return None
    return int(text) if text.isdigit() else None


@contextlib.contextmanager
def office(binary, count, accessible):
    """The devices (not yet beaconing) and the program with its window shown; all closed after."""
    devices = DevicesProcess(count)
    reader = ds.ScreenReader() if accessible else None
    session = ds.Session(binary, screen=SCREEN, window_manager=True)
    try:
        if not accessible:
            session.env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)
        session.start()
        ds.check(ds.wait_for(lambda: server_listed() is not None, 30), "the server never answered")
        ds.check(ds.wait_for(lambda: window_mapped(session), 30), "the window never showed")
        yield devices, session
    finally:
        session.close()
        if reader:
            reader.close()
        devices.close()


def measure(binary, count, accessible):
    figures = {}
    with office(binary, count, accessible) as (devices, session):
        label = None
        if accessible:
            app = ds.application()
            main = ds.window(app, "Corvane") if app else None
            label = nearby_count_label(main) if main else None
        drops_before = udp_drops()
        sent_before = devices.counts()[0]
        start = time.monotonic()
        devices.go()
        server_at = sidebar_at = None
        limit = LIST_LIMIT.get(count, 300.0)
        # The key during the arrival is pressed and timed on a thread of its own, while this
        # one keeps reading the lists.
        arrival_key = []
        presser = threading.Timer(ARRIVAL_KEY_AT, lambda: arrival_key.append(picker_opens(session, 120.0)))
        presser.start()
        while time.monotonic() - start < limit and (server_at is None or (label and sidebar_at is None)):
            if server_at is None and server_listed() == count:
                server_at = time.monotonic() - start
            if label and sidebar_at is None and sidebar_count(label) == count:
                sidebar_at = time.monotonic() - start
            time.sleep(0.1)
        presser.join()
        figures["arrival_key"] = arrival_key[0] if arrival_key else None
        figures["server"] = server_at
        figures["sidebar"] = sidebar_at if label else "n/a"
        pid = session.process.pid
        figures["calm"] = calm_after(pid, start, limit)
        figures["cpu"], figures["main_cpu"] = cpu_shares(pid, 10.0)
        latencies = [key_to_change(session, key, 30.0) for key in KEYS]
        figures["keys"] = latencies
        sent, failed, probes = devices.counts()
        figures["sent"] = sent - sent_before
        figures["send_failures"] = failed
        figures["probes"] = probes
        figures["dropped"] = udp_drops() - drops_before
        figures["listed_at_end"] = server_listed()
    return figures


class FloodSampler:
    """Reads GET /api/peers (timed) and the process's RSS four times a second on a thread of its own."""

    def __init__(self, pid):
        self.pid = pid
        self.samples = []  # (seconds GET /api/peers took, devices listed, flood ids listed, RSS in MB)
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopped.is_set():
            took, peers = timed_server_peers()
            self.samples.append((took, listed_with(peers, ID_PREFIX), listed_with(peers, FLOOD_ID_PREFIX),
                                 rss_mb(self.pid)))
            self.stopped.wait(0.25)

    def stop(self):
        self.stopped.set()
        self.thread.join()
        return self.samples


def measure_flood(binary, count, accessible, rate, addresses):
    figures = {}
    with office(binary, count, accessible) as (devices, session):
        devices.go()
        ds.check(ds.wait_for(lambda: server_listed() == count, LIST_LIMIT.get(count, 300.0)),
                 "the devices were never all listed")
        pid = session.process.pid
        still_screen(session)
        figures["rss_before"] = rss_mb(pid)
        figures["keys_before"] = [picker_opens(session, 30.0) for _ in range(3)]
        drops_before = udp_drops()
        start = time.monotonic()
        devices.flood(rate, addresses)
        sampler = FloodSampler(pid)
        time.sleep(FLOOD_SETTLE)
        cpu_start, main_start, wall_start = process_cpu_seconds(pid), thread_cpu_seconds(pid), time.monotonic()
        keys = []
        while time.monotonic() - start < FLOOD_SECONDS - 2.0:
            keys.append(picker_opens(session, 30.0))
            time.sleep(1.0)
        wall = time.monotonic() - wall_start
        figures["cpu"] = 100.0 * (process_cpu_seconds(pid) - cpu_start) / wall
        figures["main_cpu"] = 100.0 * (thread_cpu_seconds(pid) - main_start) / wall
        while time.monotonic() - start < FLOOD_SECONDS:
            time.sleep(0.1)
        figures["flood_sent"] = devices.stop_flood()
        figures["flood_seconds"] = time.monotonic() - start
        figures["samples"] = sampler.stop()
        figures["dropped"] = udp_drops() - drops_before
        figures["keys_during"] = keys
        # The flood's ids fall silent: 9 s of staleness and up to one 2.5 s firing to prune them.
        ds.wait_for(lambda: listed_with(server_peers(), FLOOD_ID_PREFIX) == 0, 20.0)
        figures["keys_after"] = [key_to_change(session, key, 30.0) for key in KEYS]
        figures["rss_after"] = rss_mb(pid)
        figures["listed_at_end"] = server_listed()
    return figures


def spread(values, unit=1000.0, suffix="ms"):
    known = [v for v in values if v is not None]
    if not known:
        return "none"
    text = "median %.0f %s, max %.0f %s" % (statistics.median(known) * unit, suffix, max(known) * unit, suffix)
    if len(known) < len(values):
        text += ", %d of %d not within the limit" % (len(values) - len(known), len(values))
    return text


def report_flood(count, accessible, rate, addresses, figures):
    samples = figures["samples"]
    answered = [s for s in samples if s[1] is not None]
    print("N=%d and a flood of %d fresh ids/s from %d addresses for %.0f s (%d sent), accessibility %s:"
          % (count, rate, addresses, figures["flood_seconds"], figures["flood_sent"], "on" if accessible else "off"))
    print("  Ctrl+O until the file picker shows: before %s; during the flood %s"
          % (spread(figures["keys_before"]), spread(figures["keys_during"])))
    print("  GET /api/peers during the flood: %s (%d of %d reads answered)"
          % (spread([s[0] for s in answered]), len(answered), len(samples)))
    if answered:
        print("  the %d devices listed in %d of %d reads; flood ids listed: up to %d"
              % (count, sum(1 for s in answered if s[1] == count), len(answered), max(s[2] for s in answered)))
    print("  RSS: %.0f MB before, up to %.0f MB during, %.0f MB after"
          % (figures["rss_before"], max([s[3] for s in samples] or [0.0]), figures["rss_after"]))
    print("  CPU during the flood: the process %.1f %% of a core (all threads; the main thread %.1f %%)"
          % (figures["cpu"], figures["main_cpu"]))
    print("  discovery datagrams dropped by the kernel: %d" % figures["dropped"])
    print("  after the flood, key (Tab, Shift+Tab) to visible change: %s; devices listed %s"
          % (spread(figures["keys_after"]), figures["listed_at_end"]), flush=True)


def seconds(value):
    if value is None:
        return "not within the limit"
    if isinstance(value, str):
        return value
    return "%.2f s" % value


def report(count, accessible, figures):
    keys = [k for k in figures["keys"] if k is not None]
    missed = len(figures["keys"]) - len(keys)
    key_text = ("median %.0f ms, max %.0f ms" % (statistics.median(keys) * 1000, max(keys) * 1000)) if keys else "none"
    if missed:
        key_text += ", %d of %d with no change within 30 s" % (missed, len(figures["keys"]))
    print("N=%d, accessibility %s:" % (count, "on (a screen reader listening)" if accessible else "off"))
    print("  all listed: server %s, sidebar %s (server lists %s at the end)"
          % (seconds(figures["server"]), seconds(figures["sidebar"]), figures["listed_at_end"]))
    print("  main thread calm (under 10 %% of a core for 2 s) %s after the arrival; then at steady state the process"
          " uses %.1f %% of a core (all threads; the main thread %.1f %%)"
          % (seconds(figures["calm"]), figures["cpu"], figures["main_cpu"]))
    print("  discovery datagrams dropped: %d of %d sent (%d probes answered by every device, %d sends failed)"
          % (figures["dropped"], figures["sent"], figures["probes"], figures["send_failures"]))
    print("  Ctrl+O %.0f s into the arrival until the file picker shows: %s"
          % (ARRIVAL_KEY_AT, seconds(figures["arrival_key"])))
    print("  at steady state, key (Tab, Shift+Tab) to visible change: %s" % key_text, flush=True)


def program_stage(binary, counts, modes, flood):
    for count in counts:
        for accessible in modes:
            try:
                if flood:
                    report_flood(count, accessible, *flood, measure_flood(binary, count, accessible, *flood))
                else:
                    report(count, accessible, measure(binary, count, accessible))
            except ds.Failure as failure:
                print("N=%d, accessibility %s: %s" % (count, "on" if accessible else "off", failure), flush=True)
    return 0


def parse(argv):
    counts, modes, binary, flood = [], (False, True), None, None
    rest = list(argv)
    while rest:
        arg = rest.pop(0)
        if arg == "--accessibility":
            modes = {"off": (False,), "on": (True,), "both": (False, True)}[rest.pop(0)]
        elif arg == "--flood":
            flood = (int(rest.pop(0)), int(rest.pop(0)))
        elif binary is None:
            binary = os.path.abspath(arg)
        else:
            counts.append(int(arg))
    return binary, counts or ([5] if flood else [5, 200, 1000]), modes, flood


def main():
    stage = os.environ.get(STAGE, "")
    if len(sys.argv) == 3 and sys.argv[1] == "--devices":
        return devices_stage(int(sys.argv[2]))
    binary, counts, modes, flood = parse(sys.argv[1:])
    if binary is None:
        print(__doc__)
        return 2
    script_args = [os.path.abspath(__file__)] + sys.argv[1:]
    if stage == "":
        lacking = ds.missing_tools() + [t for t in ("nsenter", "xdotool") if not shutil.which(t)]
        if lacking:
            print("office_lan: missing " + ", ".join(lacking))
            return 1
        unshare = ["unshare", "--net"] if os.geteuid() == 0 else ["unshare", "--net", "--map-root-user"]
        env = dict(os.environ, **{STAGE: "bridge"})
        return subprocess.call(unshare + ["--", sys.executable] + script_args, env=env)
    if stage == "bridge":
        return bridge_stage(script_args, max(counts) + (flood[1] if flood else 0))
    # The program namespace: desktop_session starts Xvfb and the session bus, then runs this
    # script again inside them.
    ds.enter(script_args)
    return program_stage(binary, counts, modes, flood)


if __name__ == "__main__":
    sys.exit(main())
