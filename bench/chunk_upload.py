#!/usr/bin/env python3
"""The chunk upload figure of bench/nginx_compare.py alone, for this build or two side by side.

    python3 bench/chunk_upload.py [--rounds N] [--size-mib M] [--against DIR]

build/chunk_client uploads an M MiB file (meta, 4 MiB chunks, finish on one keep-alive
connection) to build/peer_server, as nginx_compare.py's "chunk upload" does, once on a
folder under build/ (disk) and once on a tmpfs, inside scripts/netns-run. Each round also
measures one loopback TCP stream (`iperf3 -t 4`, installed with apt-get when missing), what
the machine carries at that moment, and the upload is printed as a ratio of it (medians).
With --against, DIR holds another build's peer_server and chunk_client: each round runs
both, the order alternating, and the figures are printed side by side (MB/s of the whole
upload, min / median / max, and the finish apart). It needs root for the tmpfs and the install.
"""

import argparse
import contextlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import nginx_compare as nc  # noqa: E402  (the shared helpers: source file, settle, processes)

STREAM_SECONDS = 4


class Server:
    """A peer_server of the given build on its own folder."""

    def __init__(self, build, root, first_port):
        self.root = root
        self.process = subprocess.Popen([str(build / "peer_server"), str(root), str(first_port)], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, text=True, preexec_fn=nc.die_with_parent)
        self.port = self.process.stdout.readline().strip()
        if not self.port.isdigit():
            raise RuntimeError(f"{build}/peer_server printed no port")

    def stop(self):
        with contextlib.suppress(OSError):
            self.process.stdin.close()
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            nc.stop_process(self.process)


def upload(build, server, source):
    """Seconds of the whole upload and of its finish."""
    nc.settle()
    fields = nc.run([build / "chunk_client", "upload", server.port, source], timeout=3600).split()
    nc.remove_top_files(server.root)
    return float(fields[1]), float(fields[3])


class Stream:
    """An iperf3 server: one loopback TCP stream measured against it per round."""

    def __init__(self, port):
        self.port = str(port)
        self.process = subprocess.Popen(["iperf3", "-s", "-p", self.port], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        preexec_fn=nc.die_with_parent)
        nc.wait_listening(port, self.process, "iperf3")

    def measure(self):
        """MB/s of one stream for STREAM_SECONDS."""
        report = json.loads(nc.run(["iperf3", "-c", "127.0.0.1", "-p", self.port, "-t", str(STREAM_SECONDS), "-J"]))
        return report["end"]["sum_received"]["bytes"] / 1e6 / report["end"]["sum_received"]["seconds"]

    def stop(self):
        nc.stop_process(self.process)


def spread(values):
    return f"{min(values):8.1f} {statistics.median(values):8.1f} {max(values):8.1f}"


def measure(builds, base, source, size, rounds, stream):
    servers = {}
    streams = []
    with contextlib.ExitStack() as stack:
        for k, (name, build) in enumerate(builds.items()):
            root = base / name
            root.mkdir(parents=True)
            servers[name] = Server(build, root, 39500 + 40 * k)
            stack.callback(servers[name].stop)
        figures = {name: ([], []) for name in builds}
        for number in range(rounds):
            order = list(builds) if number % 2 == 0 else list(reversed(builds))
            if number % 2 == 1:
                streams.append(stream.measure())
            for name in order:
                total, finish = upload(builds[name], servers[name], source)
                figures[name][0].append(nc.mb_per_s(size, total))
                figures[name][1].append(finish * 1000)
            if number % 2 == 0:
                streams.append(stream.measure())
    return figures, streams


def run_inside(args):
    builds = {"this": nc.BUILD}
    if args.against:
        builds["against"] = Path(args.against).resolve()
    size = args.size_mib * nc.MIB
    disk = Path(tempfile.mkdtemp(prefix="chunk-upload-disk-", dir=nc.BUILD))
    ram = Path(tempfile.mkdtemp(prefix="chunk-upload-tmpfs-", dir="/tmp"))
    mounted = False
    try:
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={3 * size + 256 * nc.MIB}", "tmpfs", str(ram)]).returncode == 0
        source = disk / "source.bin"
        nc.write_source(source, size)
        print(f"chunk_upload: {args.rounds} round(s), {args.size_mib} MiB, {os.cpu_count()} CPUs, {nc.load_average()}")
        stream = Stream(nc.free_port())
        try:
            for kind, base in (("disk", disk / "serve"), ("tmpfs", ram / "serve")):
                if kind == "tmpfs" and not mounted:
                    continue
                report(kind, args, measure(builds, base, source, size, args.rounds, stream))
        finally:
            stream.stop()
        print(f"\nat the end: {nc.load_average()}")
    finally:
        if mounted:
            subprocess.run(["umount", "-l", str(ram)])
        shutil.rmtree(disk, ignore_errors=True)
        shutil.rmtree(ram, ignore_errors=True)


def report(kind, args, measured):
    figures, streams = measured
    print(f"\n{kind}: MB/s of the upload (min median max), finish ms (median)")
    print(f"  {'stream':8s} {spread(streams)}   one loopback TCP stream, iperf3 -t {STREAM_SECONDS}   "
          f"rounds: {' '.join(f'{r:.0f}' for r in streams)}")
    for name, (rates, finishes) in figures.items():
        print(f"  {name:8s} {spread(rates)}   finish {statistics.median(finishes):7.1f}   "
              f"x stream {statistics.median(rates) / statistics.median(streams):.3f}   "
              f"rounds: {' '.join(f'{r:.0f}' for r in rates)}")
    if args.against:
        ratio = statistics.median(figures["this"][0]) / statistics.median(figures["against"][0])
        print(f"  median this / against: {ratio:.3f}")


def main():
    parser = argparse.ArgumentParser(description="The chunk upload figure alone (see the header).")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--against", help="a folder with another build's peer_server and chunk_client")
    args = parser.parse_args()
    if os.environ.get("CORVANE_NETNS_INSIDE") != "1":
        if os.geteuid() != 0:
            sys.exit("chunk_upload: run as root (it mounts a tmpfs and installs iperf3)")
        nc.install_missing(["iperf3"])
        sys.exit(subprocess.run([str(nc.REPO / "scripts" / "netns-run"), sys.executable, str(Path(__file__).resolve()),
                                 *sys.argv[1:]]).returncode)
    run_inside(args)


if __name__ == "__main__":
    main()
