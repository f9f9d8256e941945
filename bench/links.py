#!/usr/bin/env python3
"""The send queue over shaped links, beside `curl -T` to nginx and `rsync -a` to an rsync daemon.

Run after ./scripts/build.sh (targets peer_server and bench_uploader), as root:

    python3 bench/links.py [--profiles loopback,1gbe,wifi,weak] [--rounds 3] [--pair 7]
                           [--big-mib 2048] [--weak-big-mib 512] [--photos 1000] [--small 3000]

Needs iptables, ethtool, libnetfilter-queue-dev (for the delay line), nginx-light and rsync
(see bench/README-links.md; not part of the test command's dependencies).

Per profile it puts the receivers in one namespace and the senders in the other of a pair
made by /work/shared/tools/linkshape (rate by tbf, one-way delay by its delay line, random
loss): build/peer_server, an nginx of its own taking PUT (one curl, one keep-alive
connection) and an rsync daemon, each on its own folder. The profile "loopback" is no link
at all: every process on 127.0.0.1 of one namespace. Workloads:

  big      one file (2 GiB; 512 MiB on "weak")
  photos   a folder of photos of 0.5-6 MB (1,000)
  small    a folder of 3,000 files of 1-6 KB

With --against BUILD (a build of the base, e.g. a checkout of main), its bench_uploader is
measured too, in the same rounds, so that the table shows what a change did.

Each round runs the three senders in turn, the first moving on by one from round to round;
every received file is compared with its source byte for byte. It prints per profile and
workload the median of the rounds (MB/s or files/s), each as a share of the link's rate too,
and the ratios (> 1 is better for the send queue), then the round trip measured (a TCP
connect from the sender's side) and the raw figures.
"""

import argparse
import contextlib
import filecmp
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
BUILD = REPO / "build"
LINKSHAPE = Path("/work/shared/tools/linkshape")
RATES = {"loopback": None, "1gbe": 1e9, "wifi": 300e6, "weak": 50e6}  # bits per second
PORTS = {"ours": 39431, "nginx": 39432, "rsync": 39433}


def run(command, timeout=3600, check=True):
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise RuntimeError(f"{command} failed ({done.returncode}): {done.stderr.strip() or done.stdout.strip()}")
    return done.stdout


class Link:
    """A linkshape pair, or loopback in one namespace of its own."""

    def __init__(self, pair, work):
        self.pair, self.work = pair, work
        self.made = False

    def env(self):
        return {**os.environ, "PAIR": str(self.pair)}

    def make(self):
        delayline = self.work / "delayline"
        if not delayline.exists():
            run(["cc", "-O2", "-o", delayline, LINKSHAPE / "delayline.c", "-lnetfilter_queue", "-lnfnetlink"])
        subprocess.run([LINKSHAPE / "linkshape.sh", "up", self.work], env=self.env(), check=True)
        self.made = True
        for port in PORTS.values():
            subprocess.run([LINKSHAPE / "linkshape.sh", "redirect", str(port)], env=self.env(), check=True)

    def shape(self, profile):
        subprocess.run([LINKSHAPE / "linkshape.sh", "shape", profile, self.work], env=self.env(), check=True)

    def remove(self):
        if self.made:
            subprocess.run([LINKSHAPE / "linkshape.sh", "down", "-", self.work], env=self.env(), check=False)
            self.made = False

    def sender(self):
        return ["ip", "netns", "exec", f"lk{self.pair}-snd"]

    def receiver(self):
        return ["ip", "netns", "exec", f"lk{self.pair}-rcv"]


class Loopback:
    """Every process on 127.0.0.1 of one fresh namespace (this script runs in it)."""

    def sender(self):
        return []

    def receiver(self):
        return []


NGINX_CONF = """\
user root;
worker_processes 2;
daemon off;
pid {work}/nginx.pid;
error_log {work}/nginx-error.log warn;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    keepalive_requests 1000000;
    client_body_temp_path {work}/nginx-body;
    server {{
        listen {port};
        root {root};
        dav_methods PUT;
        create_full_put_path on;
        client_max_body_size 0;
    }}
}}
"""

RSYNCD_CONF = """\
pid file = {work}/rsyncd.pid
use chroot = no
[in]
    path = {root}
    read only = no
    uid = root
    gid = root
"""


class Receivers:
    """peer_server, nginx and the rsync daemon, each on a folder of its own."""

    def __init__(self, prefix, work):
        self.work = work
        self.roots = {name: work / f"in-{name}" for name in PORTS}
        for root in self.roots.values():
            shutil.rmtree(root, ignore_errors=True)
            root.mkdir(parents=True)
        (work / "aside").mkdir(exist_ok=True)
        (work / "nginx-body").mkdir(exist_ok=True)
        (work / "nginx.conf").write_text(NGINX_CONF.format(work=work, port=PORTS["nginx"], root=self.roots["nginx"]))
        (work / "rsyncd.conf").write_text(RSYNCD_CONF.format(work=work, root=self.roots["rsync"]))
        self.processes = [
            subprocess.Popen(prefix + [BUILD / "peer_server", self.roots["ours"], str(PORTS["ours"])],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True),
            subprocess.Popen(prefix + ["nginx", "-p", work, "-e", work / "nginx-error.log", "-c", work / "nginx.conf"],
                             stdin=subprocess.DEVNULL),
            subprocess.Popen(prefix + ["rsync", "--daemon", "--no-detach", f"--config={work / 'rsyncd.conf'}",
                                       f"--port={PORTS['rsync']}"], stdin=subprocess.DEVNULL),
        ]
        port = self.processes[0].stdout.readline().strip()
        if port != str(PORTS["ours"]):
            raise RuntimeError(f"peer_server listens on {port!r}, not {PORTS['ours']}")

    def empty(self):
        # What came is moved aside, removed once all is measured: thousands of files deleted
        # a moment before slow down whoever receives next (ext4 without a journal looks
        # past each freed inode before it gives out a new one).
        aside = Path(tempfile.mkdtemp(prefix="received-", dir=self.work / "aside"))
        for name, root in self.roots.items():
            for entry in root.iterdir():
                if not entry.name.startswith("."):
                    entry.rename(aside / f"{name}-{entry.name}")

    def stop(self):
        self.empty()
        for process in self.processes:
            with contextlib.suppress(OSError):
                if process.stdin:
                    process.stdin.close()
            process.send_signal(signal.SIGQUIT if process is self.processes[1] else signal.SIGTERM)
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def wait_listening(prefix, port):
    probe = f"import socket; socket.create_connection(('127.0.0.1', {port}), timeout=1).close()"
    for _ in range(200):
        if subprocess.run(prefix + ["python3", "-c", probe], capture_output=True).returncode == 0:
            return
        time.sleep(0.05)
    raise RuntimeError(f"nothing listens on {port}")


def round_trip_ms(prefix):
    """The median of 20 TCP connects from the sender's side to nginx."""
    probe = ("import socket, time, statistics\n"
             "t = []\n"
             "for _ in range(20):\n"
             "    s = time.monotonic(); socket.create_connection(('127.0.0.1', %d)).close(); t.append(time.monotonic() - s)\n"
             "print(statistics.median(t) * 1000)\n" % PORTS["nginx"])
    return float(run(prefix + ["python3", "-c", probe]).strip())


def write_file(path, size, seed):
    rng = random.Random(seed)
    block = rng.randbytes(1 << 20)
    with open(path, "wb") as out:
        left = size
        while left > 0:
            out.write(block[: min(left, len(block))])
            left -= len(block)
            block = block[1:] + block[:1]


def make_folder(folder, count, low, high, seed):
    folder.mkdir(parents=True, exist_ok=True)
    rng = random.Random(seed)
    for k in range(count):
        (folder / f"f{k:05d}.bin").write_bytes(rng.randbytes(rng.randint(low, high)))


def timed(command):
    start = time.monotonic()
    run(command)
    return time.monotonic() - start


def curl_config(source, url, config):
    files = [source] if source.is_file() else sorted(source.iterdir())
    prefix = "" if source.is_file() else source.name + "/"
    with open(config, "w") as out:
        for path in files:
            out.write(f'upload-file = "{path}"\nurl = "{url}/{prefix}{path.name}"\noutput = "/dev/null"\n')


def senders(link, work, against=None):
    prefix = link.sender()

    def ours(source):
        flag = "--to" if source.is_file() else "--folder"
        return timed(prefix + [BUILD / "bench_uploader", flag, str(PORTS["ours"]), source])

    def curl(source):
        config = work / "curl.conf"
        curl_config(source, f"http://127.0.0.1:{PORTS['nginx']}", config)
        return timed(prefix + ["curl", "-s", "-f", "-K", config])

    def rsync(source):
        return timed(prefix + ["rsync", "-a", source, f"rsync://127.0.0.1:{PORTS['rsync']}/in/"])

    sending = {"ours": ours, "nginx": curl, "rsync": rsync}
    if against:
        def base(source):
            flag = "--to" if source.is_file() else "--folder"
            return timed(prefix + [against / "bench_uploader", flag, str(PORTS["ours"]), source])
        sending["base"] = base
    return sending


def same(source, root):
    target = root / source.name
    if source.is_file():
        return target.is_file() and filecmp.cmp(source, target, shallow=False)
    names = sorted(p.name for p in source.iterdir())
    return all(filecmp.cmp(source / n, target / n, shallow=False) for n in names if (target / n).is_file()) and \
        sorted(p.name for p in target.iterdir()) == names


def measure(link, receivers, work, source, rounds, against):
    send = senders(link, work, against)
    order = list(send)
    seconds = {name: [] for name in order}
    for number in range(rounds):
        turn = order[number % len(order):] + order[:number % len(order)]
        for name in turn:
            receivers.empty()
            os.sync()
            seconds[name].append(send[name](source))
            if not same(source, receivers.roots["ours" if name == "base" else name]):
                raise RuntimeError(f"{name}: {source.name} not received byte for byte")
    return seconds


def workloads(work, args, profile):
    big_mib = args.weak_big_mib if profile == "weak" else args.big_mib
    big = work / f"big-{big_mib}.bin"
    if not big.exists():
        write_file(big, big_mib << 20, 1)
    photos = work / f"photos-{args.photos}"
    if not photos.exists():
        make_folder(photos, args.photos, 500_000, 6_000_000, 2)
    small = work / f"small-{args.small}"
    if not small.exists():
        make_folder(small, args.small, 1000, 6000, 3)
    return {"big": big, "photos": photos, "small": small}


def rate_of(workload, source, seconds):
    if workload == "big":
        return source.stat().st_size / 1e6 / seconds, "MB/s"
    return len(list(source.iterdir())) / seconds, "files/s"


def share_of_link(profile, workload, source, seconds):
    """The bytes moved per second as a share of the link's rate."""
    if RATES[profile] is None:
        return None
    size = source.stat().st_size if source.is_file() else sum(p.stat().st_size for p in source.iterdir())
    return size * 8 / seconds / RATES[profile]


def print_table(results):
    print()
    print("| link | workload | send queue | nginx + curl | rsync | queue / curl | queue / rsync | base build | queue / base |")
    print("|---|---|---|---|---|---|---|---|---|")
    for (profile, workload), (source, seconds, rtt) in results.items():
        cells = []
        medians = {name: statistics.median(values) for name, values in seconds.items()}
        for name in ("ours", "nginx", "rsync"):
            value, unit = rate_of(workload, source, medians[name])
            share = share_of_link(profile, workload, source, medians[name])
            cells.append(f"{value:.3g} {unit}" + (f" ({share:.0%} of link)" if share is not None else ""))
        ratios = [medians["nginx"] / medians["ours"], medians["rsync"] / medians["ours"]]
        base = "| — | — |"
        if "base" in medians:
            value, unit = rate_of(workload, source, medians["base"])
            base = f"| {value:.3g} {unit} | {medians['base'] / medians['ours']:.2f} |"
        print(f"| {profile} (rtt {rtt:.2f} ms) | {workload} | " + " | ".join(cells) +
              f" | {ratios[0]:.2f} | {ratios[1]:.2f} " + base)
    print()
    print("raw seconds per round:")
    for (profile, workload), (source, seconds, rtt) in results.items():
        print(f"  {profile} {workload}: " + "; ".join(f"{n} " + " ".join(f"{s:.3f}" for s in v)
                                                   for n, v in seconds.items()))


def run_profile(profile, args, work, results):
    link = Loopback() if profile == "loopback" else Link(args.pair, work)
    receivers = None
    try:
        if profile != "loopback":
            link.make()
            link.shape(profile)
        receivers = Receivers(link.receiver(), work)
        for port in PORTS.values():
            wait_listening(link.sender(), port)
        rtt = round_trip_ms(link.sender())
        for workload, source in workloads(work, args, profile).items():
            if workload not in args.workloads.split(","):
                continue
            seconds = measure(link, receivers, work, source, args.rounds, args.against)
            results[(profile, workload)] = (source, seconds, rtt)
            print(f"{profile} {workload}: " + ", ".join(f"{n} {statistics.median(v):.3f} s" for n, v in seconds.items()),
                  flush=True)
    finally:
        if receivers:
            receivers.stop()
        if profile != "loopback":
            link.remove()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--profiles", default="loopback,1gbe,wifi,weak")
    parser.add_argument("--workloads", default="big,photos,small")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--pair", type=int, default=7)
    parser.add_argument("--big-mib", type=int, default=2048)
    parser.add_argument("--weak-big-mib", type=int, default=512)
    parser.add_argument("--photos", type=int, default=1000)
    parser.add_argument("--small", type=int, default=3000)
    parser.add_argument("--work", type=Path, default=BUILD / "links-work")
    parser.add_argument("--against", type=Path, help="a base build folder: its bench_uploader is measured too")
    parser.add_argument("--in-namespace", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("run as root")
    profiles = args.profiles.split(",")
    if "loopback" in profiles and not args.in_namespace:
        # Loopback figures come from a namespace of their own: nothing else on its 127.0.0.1.
        rest = [a for a in sys.argv[1:]]
        subprocess.run([REPO / "scripts" / "netns-run", sys.executable, __file__, *rest, "--profiles", "loopback",
                        "--in-namespace"], check=True)
        profiles.remove("loopback")
    args.work.mkdir(parents=True, exist_ok=True)
    results = {}
    try:
        for profile in profiles:
            run_profile(profile, args, args.work, results)
    finally:
        shutil.rmtree(args.work / "aside", ignore_errors=True)
    if results:
        print_table(results)


if __name__ == "__main__":
    main()
