#!/usr/bin/env python3
"""Side-by-side benchmark of the engine's peer server against nginx on loopback.

Run after ./scripts/build.sh, as root (it installs packages and mounts a tmpfs):

    python3 bench/nginx_compare.py [--rounds N] [--size-mib M]

It first installs what is missing with apt-get (nginx-light, libnginx-mod-http-dav-ext,
wrk; the nginx service is kept from starting), then re-runs itself inside
scripts/netns-run, so every server and client only ever sees loopback. There it starts
build/peer_server (no token) and an nginx of its own (PUT enabled, sendfile on) on folders of
the same file system, once on the real disk (a folder under build/) and once on a tmpfs,
and measures per round, the order of the two alternating from round to round:

  a. upload of an M MiB file: build/chunk_client (meta, 4 MiB chunks, finish on one
     keep-alive connection; the finish, which joins the chunks, is shown apart) against
     `curl -T` to nginx. Ratio nginx time / our time.
  b. download of that file: curl of /d/bench.bin against curl of nginx's copy. Ratio of
     throughputs, ours / nginx.
  c. GET /api/info against a static file of the same byte size on nginx, `wrk -d 3s` at 1,
     16 and 256 connections. Ratio of requests/s (only 2xx replies count).
  d. the send queue (build/bench_uploader --to) sending the file to the server in another
     process against `curl -T` to nginx. Ratio of throughputs, ours / curl.
  e. GET /api/files over 5,000 files in 50 folders (curl's time, median of 7) against
     `find DIR -printf '%p %s %T@\\n'` (wall time, median of 7). Ratio our time / find time.
  f. our server's resident memory at idle, its peak while 32 connections each PUT one 4 MiB
     chunk at the same moment (VmHWM after clear_refs, and VmRSS sampled every 2 ms), and
     ~2 s after.

It prints, per storage kind, min / median / max of each ratio with its target, then the raw
figures of every round. Every process and folder it made is removed at the end, also on
Ctrl+C or an error.
"""

import argparse
import contextlib
import ctypes
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
BUILD = REPO / "build"
PROGRAMS = {name: BUILD / name for name in ("peer_server", "chunk_client", "bench_uploader")}
PACKAGES = ["nginx-light", "libnginx-mod-http-dav-ext", "wrk"]
DAV_EXT = Path("/usr/lib/nginx/modules/ngx_http_dav_ext_module.so")
POLICY_RC = Path("/usr/sbin/policy-rc.d")
INFO_CONNECTIONS = (1, 16, 256)
LISTING_FOLDERS, LISTING_FILES_EACH = 50, 100
BURST_CHUNKS = 32
RSS_BOUND_MIB = BURST_CHUNKS * 4 + 64
MIB = 1 << 20


# ---------------------------------------------------------------- outside the namespace

def missing_packages():
    missing = []
    for package in PACKAGES:
        status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                                capture_output=True, text=True).stdout
        if "install ok installed" not in status:
            missing.append(package)
    return missing


def install_missing():
    missing = missing_packages()
    if not missing:
        return
    # Debian starts a service it installs unless policy-rc.d says no (exit 101); nginx must
    # never listen on a real interface, so a refusing policy is put in place for the install.
    made_policy = not POLICY_RC.exists()
    if made_policy:
        POLICY_RC.write_text("#!/bin/sh\nexit 101\n")
        POLICY_RC.chmod(0o755)
    try:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        install = ["apt-get", "install", "-y", "--no-install-recommends", *missing]
        if subprocess.run(install, env=env).returncode != 0:
            subprocess.run(["apt-get", "update"], env=env, check=True)
            subprocess.run(install, env=env, check=True)
    finally:
        if made_policy:
            POLICY_RC.unlink()


def run_outside(argv):
    if os.geteuid() != 0:
        sys.exit("nginx_compare: run as root (it installs packages and mounts a tmpfs)")
    absent = [str(path) for path in PROGRAMS.values() if not path.exists()]
    if absent:
        sys.exit("nginx_compare: build first (./scripts/build.sh); missing " + ", ".join(absent))
    install_missing()
    child = subprocess.Popen([str(REPO / "scripts" / "netns-run"), sys.executable, str(Path(__file__).resolve()), *argv])
    signal.signal(signal.SIGTERM, lambda signum, frame: child.send_signal(signum))  # it cleans up, then ends
    while True:
        try:
            return child.wait()
        except KeyboardInterrupt:
            continue  # the child got the same Ctrl+C; it cleans up, then ends


# ---------------------------------------------------------------- processes and files

def die_with_parent():
    """Runs in a child before exec: it gets SIGTERM when this script ends, however it ends."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def stop_process(process, sig=signal.SIGTERM):
    if process.poll() is None:
        process.send_signal(sig)
        try:
            process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_listening(port, process, what):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"{what} ended at start (exit {process.returncode})")
        with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), timeout=1):
            return
        time.sleep(0.05)
    raise RuntimeError(f"{what} does not listen on {port}")


def run(command, timeout=900):
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True, timeout=timeout)
    if done.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({done.returncode}): {done.stderr.strip() or done.stdout.strip()}")
    return done.stdout


def write_source(path, size):
    block = os.urandom(4 * MIB)  # random bytes: nothing on the way can compress them
    with open(path, "wb") as out:
        for offset in range(0, size, len(block)):
            out.write(block[: min(len(block), size - offset)])
    os.sync()


def make_listing_tree(root):
    """5,000 small files in 50 folders, names of varied length and form."""
    words = ["report", "IMG", "notes", "Übersicht", "data set", "x", "holiday-photo", "scan_0"]
    for folder in range(LISTING_FOLDERS):
        directory = root / f"album {folder:02d}" / ("sub" if folder % 5 == 0 else "")
        directory.mkdir(parents=True, exist_ok=True)
        for index in range(LISTING_FILES_EACH):
            word = words[(folder + index) % len(words)]
            name = f"{word} {folder * LISTING_FILES_EACH + index}.{('txt', 'jpg', 'bin')[index % 3]}"
            (directory / name).write_bytes(b"x" * (index * 37 % 3000))


def remove_top_files(folder, keep=()):
    for entry in folder.iterdir():
        if entry.is_file() and entry.name not in keep:
            entry.unlink()


def clear_folder(folder):
    for entry in folder.iterdir():
        shutil.rmtree(entry) if entry.is_dir() and not entry.is_symlink() else entry.unlink()


# ---------------------------------------------------------------- the two servers

class PeerServer:
    def __init__(self, root):
        self.root = root
        self.process = subprocess.Popen([str(PROGRAMS["peer_server"]), str(root), "39300"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, preexec_fn=die_with_parent)
        line = self.process.stdout.readline().strip()
        if not line.isdigit():
            raise RuntimeError("peer_server printed no port")
        self.port = int(line)
        self.url = f"http://127.0.0.1:{self.port}"

    def stop(self):
        with contextlib.suppress(OSError):
            self.process.stdin.close()  # the end of its input stops it cleanly
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            stop_process(self.process)


NGINX_CONF = """\
{load_module}
user root;
worker_processes auto;
daemon off;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 4096; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    default_type application/octet-stream;
    client_body_temp_path {body_temp};
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    server {{
        listen 127.0.0.1:{port};
        root {root};
        dav_methods PUT;
        create_full_put_path on;
        client_max_body_size 0;
    }}
}}
"""


class Nginx:
    def __init__(self, work, root, body_temp):
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        load = f"load_module {DAV_EXT};" if DAV_EXT.exists() else ""
        conf = work / "nginx.conf"
        conf.write_text(NGINX_CONF.format(load_module=load, work=work, body_temp=body_temp, port=self.port, root=root))
        self.process = subprocess.Popen(["nginx", "-p", str(work), "-e", str(work / "error.log"), "-c", str(conf)],
                                        stdin=subprocess.DEVNULL, preexec_fn=die_with_parent)
        wait_listening(self.port, self.process, "nginx")

    def stop(self):
        stop_process(self.process, signal.SIGQUIT)  # graceful: workers end with the master


# ---------------------------------------------------------------- the measurements

def curl_put(url, source):
    out = run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code} %{time_total}", "-T", source, url])
    code, seconds = out.split()
    if code not in ("201", "204"):
        raise RuntimeError(f"nginx PUT answered {code}")
    return float(seconds)


def curl_get(url, size=None):
    out = run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code} %{size_download} %{time_total}", url])
    code, received, seconds = out.split()
    if code != "200" or (size is not None and int(received) != size):
        raise RuntimeError(f"GET {url}: {code}, {received} bytes")
    return float(seconds)


def settle():
    """Writes dirty pages back so one upload does not pay for the other's write-back."""
    os.sync()
    time.sleep(0.5)


def upload_ours(server, source):
    out = run([PROGRAMS["chunk_client"], "upload", server.port, source])
    fields = out.split()
    return float(fields[1]), float(fields[3])


def send_queue_ours(server, source):
    out = run([PROGRAMS["bench_uploader"], "--to", server.port, source])
    found = re.search(r": done in ([0-9.]+) s", out)
    if not found:
        raise RuntimeError("send queue: " + out.strip())
    return float(found.group(1))


def wrk_rate(url, connections):
    """2xx replies per second, and the count of socket errors and other replies."""
    threads = min(connections, os.cpu_count() or 1)
    out = run(["wrk", "-t", threads, "-c", connections, "-d", "3s", url], timeout=60)
    done = re.search(r"(\d+) requests in ([0-9.]+)(m?s)", out)
    seconds = float(done.group(2)) / (1000 if done.group(3) == "ms" else 1)
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    bad = int(non2xx.group(1)) if non2xx else 0
    socket_errors = re.search(r"connect (\d+), read (\d+), write (\d+), timeout (\d+)", out)
    errors = bad + (sum(int(n) for n in socket_errors.groups()) if socket_errors else 0)
    return (int(done.group(1)) - bad) / seconds, errors


def median_seconds(measure, times=7):
    return statistics.median(measure() for _ in range(times))


def find_seconds(folder):
    start = time.monotonic()
    subprocess.run(["find", str(folder), "-printf", r"%p %s %T@\n"], stdout=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


def proc_status_kib(pid, field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def burst_memory(server):
    """Idle, peak (VmHWM and 2 ms samples) and later resident memory in MiB."""
    pid = server.process.pid
    idle = proc_status_kib(pid, "VmRSS") / 1024
    Path(f"/proc/{pid}/clear_refs").write_text("5")  # VmHWM starts again from the present RSS
    peak_sampled = [idle]
    stop = threading.Event()

    def sample():
        while not stop.is_set():
            peak_sampled[0] = max(peak_sampled[0], proc_status_kib(pid, "VmRSS") / 1024)
            time.sleep(0.002)

    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        out = run([PROGRAMS["chunk_client"], "burst", server.port, BURST_CHUNKS])
    finally:
        stop.set()
        sampler.join()
    hwm = proc_status_kib(pid, "VmHWM") / 1024
    time.sleep(2)
    after = proc_status_kib(pid, "VmRSS") / 1024
    return {"idle": idle, "hwm": hwm, "sampled": peak_sampled[0], "after": after,
            "burst_s": float(out.split()[1])}


def in_order(ours_first, ours, theirs):
    """Runs the two measurements in the round's order; (ours, theirs)."""
    if ours_first:
        mine = ours()
        return mine, theirs()
    other = theirs()
    return ours(), other


def settled(measure):
    """The measurement, run after a settle."""
    def run_settled():
        settle()
        return measure()
    return run_settled


def one_round(number, setup, source, size):
    ours_first = number % 2 == 0
    server, nginx, our_root, nginx_root = setup["server"], setup["nginx"], setup["our_root"], setup["nginx_root"]

    def remove_uploads():
        remove_top_files(our_root)
        remove_top_files(nginx_root, keep={"info.json"})

    remove_uploads()
    r = {"first": "ours" if ours_first else "nginx"}
    (r["up_ours_s"], r["finish_s"]), r["up_nginx_s"] = in_order(
        ours_first, settled(lambda: upload_ours(server, source)),
        settled(lambda: curl_put(nginx.url + "/x.bin", source)))
    r["down_ours_s"], r["down_nginx_s"] = in_order(
        ours_first, lambda: curl_get(server.url + "/d/bench.bin", size), lambda: curl_get(nginx.url + "/x.bin", size))
    remove_uploads()
    r["sendq_ours_s"], r["sendq_curl_s"] = in_order(
        ours_first, settled(lambda: send_queue_ours(server, source)),
        settled(lambda: curl_put(nginx.url + "/q.bin", source)))
    remove_uploads()

    r["list_ours_s"], r["list_find_s"] = in_order(
        ours_first, lambda: median_seconds(lambda: curl_get(server.url + "/api/files")),
        lambda: median_seconds(lambda: find_seconds(our_root)))
    for connections in INFO_CONNECTIONS:
        (r[f"info{connections}_ours"], r[f"info{connections}_ours_err"]), \
            (r[f"info{connections}_nginx"], r[f"info{connections}_nginx_err"]) = in_order(
                ours_first, lambda: wrk_rate(server.url + "/api/info", connections),
                lambda: wrk_rate(nginx.url + "/info.json", connections))
    r["rss"] = burst_memory(server)
    return r


# ---------------------------------------------------------------- report

def ratios(r):
    out = {
        "upload": r["up_nginx_s"] / r["up_ours_s"],
        "download": r["down_nginx_s"] / r["down_ours_s"],
        "send queue": r["sendq_curl_s"] / r["sendq_ours_s"],
    }
    for connections in INFO_CONNECTIONS:
        out[f"info c={connections}"] = r[f"info{connections}_ours"] / max(r[f"info{connections}_nginx"], 1e-9)
    out["listing"] = r["list_ours_s"] / r["list_find_s"]
    out["peak RSS MiB"] = max(r["rss"]["hwm"], r["rss"]["sampled"])
    return out


TARGETS = {
    "upload": (">=", 0.8, "nginx time / our time"),
    "download": (">=", 0.95, "our MB/s / nginx MB/s"),
    "send queue": (">=", 0.8, "our MB/s / curl MB/s"),
    "info c=1": (">=", 0.9, "our r/s / nginx r/s"),
    "info c=16": (">=", 0.9, "our r/s / nginx r/s"),
    "info c=256": (None, None, "our r/s / nginx r/s"),
    "listing": ("<=", 3.0, "our time / find time"),
    "peak RSS MiB": ("<=", float(RSS_BOUND_MIB), f"bound {BURST_CHUNKS} x 4 MiB + 64 MiB"),
}


def meets(value, target):
    sign, bound = target[0], target[1]
    if sign is None:
        return ""
    return "ok" if (value >= bound if sign == ">=" else value <= bound) else "MISSED"


def print_report(kind, location, rounds, size):
    mb = size / 1e6
    print(f"\n== {kind} ({location}), file {size // MIB} MiB, {len(rounds)} round(s) ==")
    print(f"{'ratio':<14}{'target':>9}{'min':>9}{'median':>9}{'max':>9}  {'':6} meaning")
    per_round = [ratios(r) for r in rounds]
    for name, target in TARGETS.items():
        values = [each[name] for each in per_round]
        mid = statistics.median(values)
        bound = f"{target[0]} {target[1]:g}" if target[0] else "-"
        print(f"{name:<14}{bound:>9}{min(values):>9.2f}{mid:>9.2f}{max(values):>9.2f}  {meets(mid, target):6} {target[2]}")

    rows = [
        ("order (first)", lambda r: r["first"]),
        ("upload ours MB/s", lambda r: f"{mb / r['up_ours_s']:.0f}"),
        ("  ours total s", lambda r: f"{r['up_ours_s']:.3f}"),
        ("  finish(join) s", lambda r: f"{r['finish_s']:.3f}"),
        ("upload nginx MB/s", lambda r: f"{mb / r['up_nginx_s']:.0f}"),
        ("  nginx s", lambda r: f"{r['up_nginx_s']:.3f}"),
        ("download ours MB/s", lambda r: f"{mb / r['down_ours_s']:.0f}"),
        ("download nginx MB/s", lambda r: f"{mb / r['down_nginx_s']:.0f}"),
        ("send queue MB/s", lambda r: f"{mb / r['sendq_ours_s']:.0f}"),
        ("curl -T nginx MB/s", lambda r: f"{mb / r['sendq_curl_s']:.0f}"),
    ]
    for connections in INFO_CONNECTIONS:
        rows.append((f"info c={connections} ours r/s",
                     lambda r, c=connections: f"{r[f'info{c}_ours']:.0f}" + errors_note(r[f"info{c}_ours_err"])))
        rows.append((f"info c={connections} nginx r/s",
                     lambda r, c=connections: f"{r[f'info{c}_nginx']:.0f}" + errors_note(r[f"info{c}_nginx_err"])))
    rows += [
        ("listing ours ms", lambda r: f"{r['list_ours_s'] * 1000:.1f}"),
        ("listing find ms", lambda r: f"{r['list_find_s'] * 1000:.1f}"),
        ("RSS idle MiB", lambda r: f"{r['rss']['idle']:.1f}"),
        ("RSS peak VmHWM MiB", lambda r: f"{r['rss']['hwm']:.1f}"),
        ("RSS peak 2ms MiB", lambda r: f"{r['rss']['sampled']:.1f}"),
        ("RSS 2s after MiB", lambda r: f"{r['rss']['after']:.1f}"),
        ("burst 32x4MiB s", lambda r: f"{r['rss']['burst_s']:.3f}"),
    ]
    cells = [(label, [cell(r) for r in rounds]) for label, cell in rows]
    width = 2 + max(len(text) for _, texts in cells for text in texts)
    print(f"{'raw figures':<24}" + "".join(f"{'round ' + str(i + 1):>{width}}" for i in range(len(rounds))))
    for label, texts in cells:
        print(f"{label:<24}" + "".join(f"{text:>{width}}" for text in texts))
    sys.stdout.flush()


def errors_note(count):
    return f" ({count} err)" if count else ""


# ---------------------------------------------------------------- inside the namespace

def storage_kinds(stack, size):
    disk = Path(tempfile.mkdtemp(prefix="nginx-compare-disk-", dir=BUILD))
    stack.callback(shutil.rmtree, disk, True)
    ram = Path(tempfile.mkdtemp(prefix="nginx-compare-tmpfs-", dir="/tmp"))
    stack.callback(shutil.rmtree, ram, True)
    # A tmpfs of our own in the private mount namespace; /dev/shm when mounting is refused.
    room = 6 * size + 1024 * MIB
    if subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={room}", "tmpfs", str(ram)]).returncode == 0:
        stack.callback(subprocess.run, ["umount", "-l", str(ram)])
        ram_place = f"tmpfs mounted on {ram}"
    else:
        ram = Path(tempfile.mkdtemp(prefix="nginx-compare-", dir="/dev/shm"))
        stack.callback(shutil.rmtree, ram, True)
        ram_place = f"{ram}"
    return [("disk", disk, str(disk)), ("tmpfs", ram, ram_place)]


def start_servers(stack, base):
    setup = {"our_root": base / "ours", "nginx_root": base / "nginx"}
    for name in ("ours", "nginx", "nginx-body", "nginx-work"):
        (base / name).mkdir(parents=True)
    make_listing_tree(setup["our_root"])
    server = PeerServer(setup["our_root"])
    stack.callback(server.stop)
    nginx = Nginx(base / "nginx-work", setup["nginx_root"], base / "nginx-body")
    stack.callback(nginx.stop)
    with urllib.request.urlopen(server.url + "/api/info") as reply:
        info_size = len(reply.read())
    (setup["nginx_root"] / "info.json").write_bytes(b"x" * info_size)
    setup.update(server=server, nginx=nginx)
    return setup


def run_inside(args):
    size = args.size_mib * MIB
    with contextlib.ExitStack() as stack:
        kinds = storage_kinds(stack, size)
        source = kinds[0][1] / "source.bin"
        write_source(source, size)
        print(f"nginx_compare: {args.rounds} round(s), {args.size_mib} MiB file, {os.cpu_count()} CPUs")
        for kind, base, place in kinds:
            with contextlib.ExitStack() as servers:
                setup = start_servers(servers, base / "serve")
                rounds = []
                for number in range(args.rounds):
                    print(f"  {kind}: round {number + 1} ...", file=sys.stderr, flush=True)
                    rounds.append(one_round(number, setup, source, size))
                print_report(kind, place, rounds, size)


def stop_on_term(signum, frame):
    raise SystemExit(128 + signum)


def main():
    parser = argparse.ArgumentParser(description="Peer server against nginx on loopback (see the header).")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--size-mib", type=int, default=1024)
    args = parser.parse_args()
    if os.environ.get("CORVANE_NETNS_INSIDE") != "1":
        sys.exit(run_outside(sys.argv[1:]))
    signal.signal(signal.SIGTERM, stop_on_term)
    try:
        run_inside(args)
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    main()
