#!/usr/bin/env python3
"""Side-by-side benchmark of the engine's server and its storage extension against nginx.

Run after ./scripts/build.sh, as root (it installs packages and mounts a tmpfs):

    python3 bench/nginx_compare.py [--rounds N] [--size-mib M] [--big] [--against BUILD]

It first installs what is missing with apt-get (nginx-light, libnginx-mod-http-dav-ext,
wrk; the nginx service is kept from starting), then re-runs itself inside
scripts/netns-run, so every server and client only ever sees loopback. There it starts
build/peer_server (no token), build/storage_server (team mode: NAS file API and WebDAV share)
and an nginx of its own (PUT and PROPFIND through dav-ext, sendfile on) on folders of the
same file system, once on the real disk (a folder under build/) and once on a tmpfs, and
measures per round, the order of ours and the peer alternating from round to round:

  chunk upload       an M MiB file by build/chunk_client (meta, 4 MiB chunks, finish on one
                     keep-alive connection; the finish is also shown apart) against
                     `curl -T` to nginx
  upload + writer    the same while another process writes 1 GiB to the same disk (disk only)
  download           curl of /d/bench.bin against curl of the same file hard-linked into
                     nginx's root, read into the page cache first: both serve the same pages,
                     so that it measures the servers, not the disk or where a file's pages lie
  send queue         build/bench_uploader --to (the Uploader to the server in another
                     process) against `curl -T` to nginx
  folder 3000 files  build/bench_uploader --folder sending a folder of 3,000 files of 1-6 KB
                     against one curl putting them all to nginx over one connection
  info c=1, c=16     GET /api/info against a static file of the same size, `wrk -d 3s`
                     (only 2xx replies count)
  listing            GET /api/files over 5,000 files in 50 folders (curl, median of 7)
                     against `find DIR -printf '%p %s %T@\\n'` (median of 7)
  burst peak RSS     the server's peak resident memory (VmHWM after clear_refs, and VmRSS
                     sampled every 2 ms) while 32 connections each PUT one 4 MiB chunk at the
                     same moment, against nginx's (master and workers) for 32 plain PUTs
  NAS upload         `curl -T` to PUT /api/fs/upload against `curl -T` to nginx
  WebDAV PUT, GET    `curl -T` to /dav/ against nginx; curl of it, and of it hard-linked into
                     nginx's root (page cache warm), as for download
  PROPFIND c=1, c=8  Depth 1 over a folder of 1,000 files, `wrk -d 3s`, against nginx
                     dav-ext

With --big it also uploads a 10 GiB file on the disk: the chunk route (finish apart), the
NAS streamed upload and nginx's PUT, each round starting with the next of the three.

With --against BUILD (the build folder of another checkout, e.g. a build of main) the base
build's peer_server and storage_server run too, each on folders of its own filled as ours
are, and every figure of ours is measured for them as well, with the base build's
chunk_client and bench_uploader, in the same rounds: ours, the base's and nginx's in turn,
each round starting with the next of the three (with --big the five 10 GiB uploads: our
chunk route and NAS upload, the base's two, then nginx's). "chunk vs NAS 10G", which sets
two of our own routes side by side, has no base figure; instead the 10 GiB NAS upload gets
a line of its own ("NAS upload 10G", beside nginx's PUT).

It prints, per storage kind, every figure beside its peer as min / median / max over the
rounds, the ratio (always "> 1 is better for us") with its target (with --against also the
base's figure and the ratio ours / base, "> 1 is better for us" too), and then the raw
figures of every round. Every process and folder it made is removed at the end, also on
Ctrl+C or an error.
"""

import argparse
import contextlib
import ctypes
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
PROGRAM_NAMES = ("peer_server", "storage_server", "chunk_client", "bench_uploader")


def programs_of(build):
    return {name: build / name for name in PROGRAM_NAMES}


PROGRAMS = programs_of(BUILD)
PACKAGES = ["nginx-light", "libnginx-mod-http-dav-ext", "wrk"]
DAV_EXT = Path("/usr/lib/nginx/modules/ngx_http_dav_ext_module.so")
POLICY_RC = Path("/usr/sbin/policy-rc.d")
INFO_CONNECTIONS = (1, 16)
PROPFIND_CONNECTIONS = (1, 8)
PROPFIND_ENTRIES = 1000
LISTING_FOLDERS, LISTING_FILES_EACH = 50, 100
SMALL_FILES = 3000
BURST_CHUNKS = 32
RSS_BOUND_MIB = BURST_CHUNKS * 4 + 64
WRITER_MIB = 1024
BIG_MIB = 10 * 1024
MIB = 1 << 20


# ---------------------------------------------------------------- outside the namespace

def missing_packages(packages):
    missing = []
    for package in packages:
        status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                                capture_output=True, text=True).stdout
        if "install ok installed" not in status:
            missing.append(package)
    return missing


def install_missing(packages=PACKAGES):
    missing = missing_packages(packages)
    if not missing:
        return
    # Debian starts a service it installs unless policy-rc.d says no (exit 101); nginx (or
    # iperf3) must never listen on a real interface, so a refusing policy is put in place for the install.
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


def absent_programs(build):
    return [name for name, path in programs_of(build).items() if not path.exists()]


def run_outside(argv, against):
    if os.geteuid() != 0:
        sys.exit("nginx_compare: run as root (it installs packages and mounts a tmpfs)")
    absent = [str(path) for path in PROGRAMS.values() if not path.exists()]
    if absent:
        sys.exit("nginx_compare: build first (./scripts/build.sh); missing " + ", ".join(absent))
    if against and absent_programs(against):
        missing = " ".join(absent_programs(against))
        sys.exit(f"nginx_compare: the base build {against} lacks {missing} (ninja -C {against} {missing})")
    install_missing()
    if not DAV_EXT.exists():
        sys.exit(f"nginx_compare: {DAV_EXT} is missing (libnginx-mod-http-dav-ext)")
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


def make_propfind_folder(folder):
    """The folder PROPFIND lists: 1,000 small files."""
    folder.mkdir(parents=True)
    for index in range(PROPFIND_ENTRIES):
        (folder / f"entry {index}.txt").write_text(str(index))


def make_small_folder(folder):
    """3,000 files of 1 to 6 KB, each of its own random bytes."""
    folder.mkdir(parents=True)
    for index in range(SMALL_FILES):
        (folder / f"file-{index:04d}.bin").write_bytes(os.urandom(1024 + index * 7919 % (5 * 1024 + 1)))
    os.sync()


def remove_top_files(folder, keep=()):
    for entry in folder.iterdir():
        if entry.is_file() and entry.name not in keep:
            entry.unlink()


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)


def read_into_cache(*paths):
    for path in paths:
        with open(path, "rb") as source:
            while source.read(16 * MIB):
                pass


# ---------------------------------------------------------------- the servers

class OurServer:
    """peer_server or storage_server of a build (programs: its programs, whose clients
    measure it) on its own folder."""

    def __init__(self, programs, program, root, first_port):
        self.programs = programs
        self.root = root
        self.process = subprocess.Popen([str(programs[program]), str(root), str(first_port)], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, preexec_fn=die_with_parent)
        line = self.process.stdout.readline().strip()
        if not line.isdigit():
            raise RuntimeError(f"{program} printed no port")
        self.port = int(line)
        self.url = f"http://127.0.0.1:{self.port}"

    def pids(self):
        return [self.process.pid]

    def stop(self):
        with contextlib.suppress(OSError):
            self.process.stdin.close()  # the end of its input stops it cleanly
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            stop_process(self.process)


NGINX_CONF = """\
load_module {dav_ext};
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
        dav_ext_methods PROPFIND OPTIONS;
        create_full_put_path on;
        client_max_body_size 0;
    }}
}}
"""


class Nginx:
    programs = PROGRAMS  # its clients (chunk_client's plain PUTs) are ours

    def __init__(self, work, root, body_temp):
        self.root = root
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        conf = work / "nginx.conf"
        conf.write_text(NGINX_CONF.format(dav_ext=DAV_EXT, work=work, body_temp=body_temp, port=self.port, root=root))
        self.process = subprocess.Popen(["nginx", "-p", str(work), "-e", str(work / "error.log"), "-c", str(conf)],
                                        stdin=subprocess.DEVNULL, preexec_fn=die_with_parent)
        wait_listening(self.port, self.process, "nginx")

    def pids(self):
        """The master and its workers."""
        children = Path(f"/proc/{self.process.pid}/task/{self.process.pid}/children").read_text().split()
        return [self.process.pid, *(int(pid) for pid in children)]

    def stop(self):
        stop_process(self.process, signal.SIGQUIT)  # graceful: workers end with the master


# ---------------------------------------------------------------- the measurements

def curl_put(url, source, codes=("201", "204")):
    out = run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code} %{time_total}", "-T", source, url])
    code, seconds = out.split()
    if code not in codes:
        raise RuntimeError(f"PUT {url} answered {code}")
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
    """Seconds of the whole upload and of its finish, by the server's own build's chunk_client."""
    out = run([server.programs["chunk_client"], "upload", server.port, source], timeout=3600)
    fields = out.split()
    return float(fields[1]), float(fields[3])


def uploader_seconds(server, mode, source):
    """Seconds the server's own build's bench_uploader takes to send source (mode --to or --folder)."""
    out = run([server.programs["bench_uploader"], mode, server.port, source], timeout=3600)
    found = re.search(r": done in ([0-9.]+) s", out)
    if not found:
        raise RuntimeError("send queue: " + out.strip())
    return float(found.group(1))


def curl_put_many(base_url, folder):
    """Seconds one curl takes to PUT every file of the folder over one connection."""
    config = folder.parent / "curl-puts.conf"
    with open(config, "w") as out:
        for path in sorted(folder.iterdir()):
            out.write(f'upload-file = "{path}"\nurl = "{base_url}/{folder.name}/{path.name}"\noutput = "/dev/null"\n')
    start = time.monotonic()
    codes = run(["curl", "-s", "-K", config, "-w", "%{http_code}\\n"], timeout=3600).split()
    seconds = time.monotonic() - start
    config.unlink()
    if len(codes) != SMALL_FILES or any(code not in ("201", "204") for code in codes):
        raise RuntimeError(f"curl PUTs of {folder}: {len(codes)} replies, {sorted(set(codes))}")
    return seconds


def with_writer(folder, measure):
    """The measurement while another process writes 1 GiB to the folder's disk."""
    target = folder / "writer.bin"
    writer = subprocess.Popen(["dd", "if=/dev/zero", f"of={target}", "bs=4M", f"count={WRITER_MIB // 4}",
                               "conv=fsync", "status=none"], preexec_fn=die_with_parent)
    try:
        return measure()
    finally:
        writer.wait()
        target.unlink(missing_ok=True)


def wrk_rate(url, connections, script=None):
    """2xx replies per second, and the count of socket errors and other replies."""
    threads = min(connections, os.cpu_count() or 1)
    command = ["wrk", "-t", threads, "-c", connections, "-d", "3s", url]
    if script:
        command[1:1] = ["-s", script]
    out = run(command, timeout=60)
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


def proc_status_mib(pid, field):
    with contextlib.suppress(OSError), open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return 0


def burst_memory(server, mode):
    """Peak (VmHWM and 2 ms samples) resident memory in MiB of the server's processes while
    the burst runs, and its memory before and about 2 s after."""
    pids = server.pids()
    resident = lambda: sum(proc_status_mib(pid, "VmRSS") for pid in pids)
    idle = resident()
    for pid in pids:
        Path(f"/proc/{pid}/clear_refs").write_text("5")  # VmHWM starts again from the present RSS
    peak_sampled = [idle]
    stop = threading.Event()

    def sample():
        while not stop.is_set():
            peak_sampled[0] = max(peak_sampled[0], resident())
            time.sleep(0.002)

    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        out = run([server.programs["chunk_client"], mode, server.port, BURST_CHUNKS])
    finally:
        stop.set()
        sampler.join()
    hwm = sum(proc_status_mib(pid, "VmHWM") for pid in pids)
    time.sleep(2)
    return {"idle": idle, "peak": max(hwm, peak_sampled[0]), "hwm": hwm, "sampled": peak_sampled[0],
            "after": resident(), "burst_s": float(out.split()[1])}


def in_turn(number, *measures):
    """Runs the measurements starting with the round number's one, so that over as many
    rounds as there are measurements each runs once first, once last and so on (the first
    large upload after a pause runs slower); their results in the given order."""
    order = [(number + k) % len(measures) for k in range(len(measures))]
    results = [None] * len(measures)
    for k in order:
        results[k] = measures[k]()
    return results


def in_round(number, ours, peer, base=None):
    """Ours, the peer's and, given one, the base's measurement, in turn in the order ours,
    base, peer (without a base: ours first in even rounds, the peer first in odd ones);
    their results as (ours, peer, base), base None when not given."""
    if base is None:
        mine, theirs = in_turn(number, ours, peer)
        return mine, theirs, None
    mine, based, theirs = in_turn(number, ours, base, peer)
    return mine, theirs, based


def first_of(number, base_too):
    """Whose measurement runs first in the round."""
    names = ("ours", "base", "nginx") if base_too else ("ours", "nginx")
    return names[number % len(names)]


def settled(measure):
    """The measurement, run after a settle."""
    def run_settled():
        settle()
        return measure()
    return run_settled


def mb_per_s(size, seconds):
    return None if seconds is None else size / 1e6 / seconds


def one_round(number, setup, sources, size, kind):
    """The figures of one round: {name: (ours, peer, base)} in the units shown (base None
    without a base build), and raw extras."""
    peer, team, nginx = setup["peer"], setup["team"], setup["nginx"]
    base_peer, base_team = setup["base_peer"], setup["base_team"]
    source, small = sources["file"], sources["small"]
    f = {}
    raw = {"first": first_of(number, base_peer is not None)}

    def three(ours, theirs, based):
        """in_round, the base's measurement left out without a base build."""
        return in_round(number, ours, theirs, based if base_peer else None)

    def remove_uploads():
        for server in (peer, team, base_peer, base_team):
            if server:
                remove_top_files(server.root)
        remove_top_files(nginx.root, keep={"info.json"})

    def chunk_upload(server):
        """MB/s of the upload and seconds of its finish."""
        up_s, finish_s = upload_ours(server, source)
        return mb_per_s(size, up_s), finish_s

    def put_rate(server, route, codes=("201", "204")):
        # The server is looked at only when measured: the base's is None without a base build.
        return lambda: mb_per_s(size, curl_put(server.url + route, source, codes))

    remove_uploads()
    (mine, raw["finish_s"]), theirs, based = three(
        settled(lambda: chunk_upload(peer)), settled(put_rate(nginx, "/x.bin")),
        settled(lambda: chunk_upload(base_peer)))
    f["chunk upload"] = (mine, theirs, based and based[0])
    f["finish (join)"] = (raw["finish_s"], None, based and based[1])

    def download_rates(ours, base, route, name, peer_name):
        """MB/s of GET route from ours and the base's, and of /peer_name from nginx."""
        # One file for all: two copies of the same bytes are not served alike (where their
        # pages lie decides as much as the server).
        ours_file = ours.root / name
        for linked in (nginx.root / peer_name, base and base.root / name):
            if linked:
                linked.unlink(missing_ok=True)
                os.link(ours_file, linked)

        def cached(server, route, path_name):
            def measure():
                read_into_cache(server.root / path_name)
                return mb_per_s(size, curl_get(server.url + route, size))
            return measure
        return three(cached(ours, route, name), cached(nginx, "/" + peer_name, peer_name), cached(base, route, name))

    f["download"] = download_rates(peer, base_peer, "/d/bench.bin", "bench.bin", "x.bin")
    remove_uploads()

    if kind == "disk":
        def writing(measure):
            return settled(lambda: with_writer(peer.root.parent, measure))
        (mine, _), theirs, based = three(
            writing(lambda: chunk_upload(peer)), writing(put_rate(nginx, "/x.bin")),
            writing(lambda: chunk_upload(base_peer)))
        f["upload + writer"] = (mine, theirs, based and based[0])
        remove_uploads()

    f["send queue"] = three(
        settled(lambda: mb_per_s(size, uploader_seconds(peer, "--to", source))), settled(put_rate(nginx, "/q.bin")),
        settled(lambda: mb_per_s(size, uploader_seconds(base_peer, "--to", source))))
    remove_uploads()

    def remove_small():
        for server in (peer, nginx, base_peer):
            if server:
                remove_tree(server.root / small.name)

    def folder_rate(server):
        return SMALL_FILES / uploader_seconds(server, "--folder", small)

    remove_small()
    f["folder 3000 files"] = three(
        settled(lambda: folder_rate(peer)), settled(lambda: SMALL_FILES / curl_put_many(nginx.url, small)),
        settled(lambda: folder_rate(base_peer)))
    remove_small()

    def rates(label, counted, ours, base, route, peer_route, script=None):
        """Replies per second by wrk at counted connections to route of ours and the base's and
        to peer_route of nginx; the error counts go to raw."""
        def measure(server, path):
            return lambda: wrk_rate(server.url + path, counted, script)
        mine, theirs, based = three(measure(ours, route), measure(nginx, peer_route), measure(base, route))
        raw[f"{label}{counted}_ours_err"], raw[f"{label}{counted}_peer_err"] = mine[1], theirs[1]
        if based:
            raw[f"{label}{counted}_base_err"] = based[1]
        return mine[0], theirs[0], based and based[0]

    for connections in INFO_CONNECTIONS:
        f[f"info c={connections}"] = rates("info", connections, peer, base_peer, "/api/info", "/info.json")

    def listing_ms(server):
        return median_seconds(lambda: curl_get(server.url + "/api/files")) * 1000

    f["listing"] = three(lambda: listing_ms(peer), lambda: median_seconds(lambda: find_seconds(peer.root)) * 1000,
                         lambda: listing_ms(base_peer))

    raw["rss_ours"], raw["rss_peer"], based = three(
        lambda: burst_memory(peer, "burst"), lambda: burst_memory(nginx, "puts"),
        lambda: burst_memory(base_peer, "burst"))
    if based:
        raw["rss_base"] = based
    f["burst peak RSS"] = (raw["rss_ours"]["peak"], raw["rss_peer"]["peak"], based and based["peak"])
    remove_uploads()

    nas_route = "/api/fs/upload?name=nas.bin"
    f["NAS upload"] = three(settled(put_rate(team, nas_route, ("200",))), settled(put_rate(nginx, "/n.bin")),
                            settled(put_rate(base_team, nas_route, ("200",))))
    remove_uploads()

    f["WebDAV PUT"] = three(settled(put_rate(team, "/dav/dav.bin")), settled(put_rate(nginx, "/w.bin")),
                            settled(put_rate(base_team, "/dav/dav.bin")))
    f["WebDAV GET"] = download_rates(team, base_team, "/dav/dav.bin", "dav.bin", "w.bin")
    remove_uploads()

    for connections in PROPFIND_CONNECTIONS:
        f[f"PROPFIND c={connections}"] = rates("propfind", connections, team, base_team, "/dav/listed/", "/listed/",
                                               setup["propfind_lua"])
    return f, raw


def big_round(number, setup, source, size):
    """The 10 GiB figures: chunk route, NAS streamed upload and nginx's PUT (and the base's
    chunk route and NAS upload, given a base build)."""
    peer, team, nginx = setup["peer"], setup["team"], setup["nginx"]
    base_peer, base_team = setup["base_peer"], setup["base_team"]

    def upload_alone(measure, path):
        def measured():
            settle()
            try:
                return measure()
            finally:
                path.unlink(missing_ok=True)  # one 10 GiB copy on the disk at a time
        return measured

    def chunk(server):
        return upload_alone(lambda: upload_ours(server, source), server.root / "bench.bin")

    def nas(server):
        return upload_alone(lambda: curl_put(server.url + "/api/fs/upload?name=nas.bin", source, codes=("200",)),
                            server.root / "nas.bin")

    nginx_put = upload_alone(lambda: curl_put(nginx.url + "/x.bin", source), nginx.root / "x.bin")
    if not base_peer:
        raw = {"first": ("chunk", "NAS", "nginx")[number % 3]}
        (up_s, raw["finish_s"]), nas_s, nginx_s = in_turn(number, chunk(peer), nas(team), nginx_put)
        return {
            "chunk upload 10G": (mb_per_s(size, up_s), mb_per_s(size, nginx_s), None),
            "chunk vs NAS 10G": (mb_per_s(size, up_s), mb_per_s(size, nas_s), None),
            "finish 10G": (raw["finish_s"], None, None),
        }, raw
    raw = {"first": ("chunk", "NAS", "base chunk", "base NAS", "nginx")[number % 5]}
    (up_s, raw["finish_s"]), nas_s, (base_up_s, base_finish_s), base_nas_s, nginx_s = in_turn(
        number, chunk(peer), nas(team), chunk(base_peer), nas(base_team), nginx_put)
    return {
        "chunk upload 10G": (mb_per_s(size, up_s), mb_per_s(size, nginx_s), mb_per_s(size, base_up_s)),
        "NAS upload 10G": (mb_per_s(size, nas_s), mb_per_s(size, nginx_s), mb_per_s(size, base_nas_s)),
        "chunk vs NAS 10G": (mb_per_s(size, up_s), mb_per_s(size, nas_s), None),
        "finish 10G": (raw["finish_s"], None, base_finish_s),
    }, raw


# ---------------------------------------------------------------- report

# name: (unit, peer, target): target ("ratio", bound) on the ratio, or ("ours <=", bound)
# on our own figure, or None. Higher is better unless the unit says ms, s or MiB.
FIGURES = {
    "chunk upload": ("MB/s", "nginx PUT", ("ratio", 1.0)),
    "finish (join)": ("s", "-", None),
    "upload + writer": ("MB/s", "nginx PUT", ("ratio", 1.0)),
    "download": ("MB/s", "nginx GET", ("ratio", 0.95)),
    "send queue": ("MB/s", "curl -T nginx", ("ratio", 0.8)),
    "folder 3000 files": ("files/s", "curl PUTs nginx", ("ratio", 0.5)),
    "info c=1": ("r/s", "nginx static", ("ratio", 0.9)),
    "info c=16": ("r/s", "nginx static", ("ratio", 0.9)),
    "listing": ("ms", "find", ("ratio", 1 / 3)),
    "burst peak RSS": ("MiB", "nginx", ("ours <=", float(RSS_BOUND_MIB))),
    "NAS upload": ("MB/s", "nginx PUT", ("ratio", 0.9)),
    "WebDAV PUT": ("MB/s", "nginx PUT", ("ratio", 0.9)),
    "WebDAV GET": ("MB/s", "nginx GET", ("ratio", 0.95)),
    "PROPFIND c=1": ("r/s", "nginx dav-ext", ("ratio", 1.0)),
    "PROPFIND c=8": ("r/s", "nginx dav-ext", ("ratio", 1.0)),
    "chunk upload 10G": ("MB/s", "nginx PUT", None),
    "NAS upload 10G": ("MB/s", "nginx PUT", None),  # with a base build only
    "chunk vs NAS 10G": ("MB/s", "NAS upload", ("ratio", 0.9)),
    "finish 10G": ("s", "-", ("ours <=", 1.0)),
}

# Figures without a base figure, and why: printed below the table with a base build.
NO_BASE = {
    "chunk vs NAS 10G": "sets two of our own routes side by side; the base's are in chunk upload 10G "
                        "and NAS upload 10G",
}


def lower_is_better(unit):
    return unit in ("ms", "s", "MiB")


def ratio(name, ours, peer):
    """Ours against the peer, > 1 better for us; none without a peer."""
    if peer is None:
        return None
    if lower_is_better(FIGURES[name][0]):
        return peer / ours if ours else None
    return ours / peer if peer else None


def verdict(target, ours_mid, ratio_mid):
    if target is None:
        return ""
    value = ratio_mid if target[0] == "ratio" else ours_mid
    if value is None:
        return ""
    return "ok" if (value >= target[1] if target[0] == "ratio" else value <= target[1]) else "MISSED"


def spread(values):
    values = [v for v in values if v is not None]
    if not values:
        return "-"
    return f"{number(min(values))} / {number(statistics.median(values))} / {number(max(values))}"


def number(value):
    return f"{value:.0f}" if abs(value) >= 100 else f"{value:.3g}"


def with_base(rounds):
    """Whether the rounds measured a base build too."""
    return any(values[2] is not None for values in rounds[0][0].values())


def print_report(title, rounds, seconds):
    """rounds: [(figures, raw)]. With a base build, its figure and ours / base go beside the ratio."""
    base = with_base(rounds)
    print(f"\n== {title}, {len(rounds)} round(s) in {seconds:.0f} s, {load_average()}: min / median / max ==")
    print(f"{'figure':<19}{'unit':<8}{'ours':>26}  {'peer':<16}{'peer figure':>26}{'ratio':>24}"
          + (f"{'base figure':>26}{'ours / base':>24}" if base else "") + "  target")
    for name, (unit, peer_name, target) in FIGURES.items():
        if name not in rounds[0][0]:
            continue
        values = [figures[name] for figures, _ in rounds]
        ours = [v[0] for v in values]
        ratios = [ratio(name, v[0], v[1]) for v in values]
        known = [r for r in ratios if r is not None]
        ratio_mid = statistics.median(known) if known else None
        bound = "-" if target is None else (f">= {target[1]:.2f}" if target[0] == "ratio" else f"ours <= {target[1]:g}")
        beside = f"{spread([v[2] for v in values]):>26}{spread([ratio(name, v[0], v[2]) for v in values]):>24}"
        print(f"{name:<19}{unit:<8}{spread(ours):>26}  {peer_name:<16}{spread([v[1] for v in values]):>26}"
              f"{spread(ratios):>24}" + (beside if base else "")
              + f"  {bound:<12} {verdict(target, statistics.median(ours), ratio_mid)}")
    if base:
        for name, why in NO_BASE.items():
            if name in rounds[0][0]:
                print(f"no base figure for {name}: it {why}")
    print_raw(rounds)
    sys.stdout.flush()


def print_raw(rounds):
    """Every round's figures, ours, the peer's and the base's, and what else it noted."""
    rows = [("first", [raw["first"] for _, raw in rounds])]
    for name in FIGURES:
        if name not in rounds[0][0]:
            continue
        rows.append((f"{name} ours", [number(figures[name][0]) for figures, _ in rounds]))
        if rounds[0][0][name][1] is not None:
            rows.append((f"{name} peer", [number(figures[name][1]) for figures, _ in rounds]))
        if rounds[0][0][name][2] is not None:
            rows.append((f"{name} base", [number(figures[name][2]) for figures, _ in rounds]))
    for label, value in rounds[0][1].items():
        if isinstance(value, dict):
            rows += [(f"{label} {key}", [number(raw[label][key]) for _, raw in rounds]) for key in value]
        elif label not in ("first", "finish_s"):
            rows.append((label, [str(raw[label]) for _, raw in rounds]))
    width = 2 + max(len(text) for _, texts in rows + [("", ["round 10"])] for text in texts)
    print(f"{'raw':<26}" + "".join(f"{'round ' + str(i + 1):>{width}}" for i in range(len(rounds))))
    for label, texts in rows:
        print(f"{label:<26}" + "".join(f"{text:>{width}}" for text in texts))


# ---------------------------------------------------------------- inside the namespace

def storage_kinds(stack, size, base_too):
    disk = Path(tempfile.mkdtemp(prefix="nginx-compare-disk-", dir=BUILD))
    stack.callback(remove_tree, disk)
    ram = Path(tempfile.mkdtemp(prefix="nginx-compare-tmpfs-", dir="/tmp"))
    stack.callback(remove_tree, ram)
    # A tmpfs of our own in the private mount namespace; /dev/shm when mounting is refused.
    # A base build's servers keep a third copy of the file at times.
    room = (8 if base_too else 6) * size + 1024 * MIB
    if subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={room}", "tmpfs", str(ram)]).returncode == 0:
        stack.callback(subprocess.run, ["umount", "-l", str(ram)])
        ram_place = f"tmpfs mounted on {ram}"
    else:
        ram = Path(tempfile.mkdtemp(prefix="nginx-compare-", dir="/dev/shm"))
        stack.callback(remove_tree, ram)
        ram_place = f"{ram}"
    return [("disk", disk, str(disk)), ("tmpfs", ram, ram_place)]


def start_pair(stack, programs, peer_root, team_root, first_port):
    """A build's peer_server and storage_server on folders of their own, filled as every
    server's are: the listing tree and the folder PROPFIND lists."""
    for root in (peer_root, team_root):
        root.mkdir(parents=True)
    make_listing_tree(peer_root)
    make_propfind_folder(team_root / "listed")
    peer = OurServer(programs, "peer_server", peer_root, first_port)
    stack.callback(peer.stop)
    team = OurServer(programs, "storage_server", team_root, first_port + 100)
    stack.callback(team.stop)
    return peer, team


def start_servers(stack, folder, against):
    """Ours, nginx and, given a base build (against), the base's servers."""
    peer, team = start_pair(stack, PROGRAMS, folder / "ours", folder / "team", 39300)
    base_peer = base_team = None
    if against:
        base_peer, base_team = start_pair(stack, programs_of(against), folder / "base", folder / "base-team", 39350)
    for name in ("nginx", "nginx-body", "nginx-work"):
        (folder / name).mkdir(parents=True)
    make_propfind_folder(folder / "nginx" / "listed")
    nginx = Nginx(folder / "nginx-work", folder / "nginx", folder / "nginx-body")
    stack.callback(nginx.stop)
    with urllib.request.urlopen(peer.url + "/api/info") as reply:
        info_size = len(reply.read())
    (nginx.root / "info.json").write_bytes(b"x" * info_size)
    lua = folder / "propfind.lua"
    lua.write_text('wrk.method = "PROPFIND"\nwrk.headers["Depth"] = "1"\n')
    return {"peer": peer, "team": team, "nginx": nginx, "propfind_lua": lua,
            "base_peer": base_peer, "base_team": base_team}


def run_rounds(what, rounds, measure):
    """The rounds' results and the seconds they took."""
    started = time.monotonic()
    results = []
    for number in range(rounds):
        print(f"  {what}: round {number + 1} ...", file=sys.stderr, flush=True)
        results.append(measure(number))
    return results, time.monotonic() - started


def load_average():
    """The machine's load over the last 1, 5 and 15 minutes: other work skews every figure."""
    return "load average " + ", ".join(f"{value:.1f}" for value in os.getloadavg())


def run_inside(args):
    size = args.size_mib * MIB
    started = time.monotonic()
    with contextlib.ExitStack() as stack:
        kinds = storage_kinds(stack, size, args.against is not None)
        disk_base = kinds[0][1]
        sources = {"file": disk_base / "source.bin", "small": disk_base / "small-source" / "small"}
        write_source(sources["file"], size)
        make_small_folder(sources["small"])
        print(f"nginx_compare: {args.rounds} round(s), {args.size_mib} MiB file, {os.cpu_count()} CPUs"
              + (", with 10 GiB uploads" if args.big else "")
              + (f", against the base build {args.against}" if args.against else "") + f", {load_average()}")
        for kind, root, place in kinds:
            with contextlib.ExitStack() as servers:
                setup = start_servers(servers, root / "serve", args.against)
                rounds, seconds = run_rounds(kind, args.rounds, lambda n: one_round(n, setup, sources, size, kind))
                print_report(f"{kind} ({place}), file {args.size_mib} MiB", rounds, seconds)
                if args.big and kind == "disk":
                    sources["file"].unlink()  # room for the large one
                    big = disk_base / "big.bin"
                    write_source(big, BIG_MIB * MIB)
                    rounds, seconds = run_rounds("disk 10 GiB", args.rounds,
                                                 lambda n: big_round(n, setup, big, BIG_MIB * MIB))
                    big.unlink()
                    write_source(sources["file"], size)
                    print_report(f"{kind} ({place}), file 10 GiB", rounds, seconds)
    print(f"\nnginx_compare: done in {time.monotonic() - started:.0f} s")


def stop_on_term(signum, frame):
    raise SystemExit(128 + signum)


def main():
    parser = argparse.ArgumentParser(description="Our servers against nginx on loopback (see the header).")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--big", action="store_true", help="also upload a 10 GiB file on the disk")
    parser.add_argument("--against", type=Path, metavar="BUILD",
                        help="a base build folder (another checkout's build/): its servers are measured too")
    args = parser.parse_args()
    if args.against:
        args.against = args.against.resolve()
    if os.environ.get("CORVANE_NETNS_INSIDE") != "1":
        sys.exit(run_outside(sys.argv[1:], args.against))
    signal.signal(signal.SIGTERM, stop_on_term)
    try:
        run_inside(args)
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    main()
