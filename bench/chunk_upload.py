#!/usr/bin/env python3
"""The chunk upload figure of bench/nginx_compare.py alone, for this build or two side by side.

    python3 bench/chunk_upload.py [--rounds N] [--size-mib M] [--against DIR]

build/chunk_client uploads an M MiB file (meta, 4 MiB chunks, finish on one keep-alive
connection) to build/peer_server, as nginx_compare.py's "chunk upload" does, once on a
folder under build/ (disk) and once on a tmpfs, inside scripts/netns-run. With --against,
DIR holds another build's peer_server and chunk_client: each round runs both, the order
alternating, and the figures are printed side by side (MB/s of the whole upload, min /
median / max, and the finish apart). It needs root for the tmpfs.
"""

import argparse
import contextlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import nginx_compare as nc  # noqa: E402  (the shared helpers: source file, settle, processes)


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


def spread(values):
    return f"{min(values):8.1f} {statistics.median(values):8.1f} {max(values):8.1f}"


def measure(builds, base, source, size, rounds):
    servers = {}
    with contextlib.ExitStack() as stack:
        for k, (name, build) in enumerate(builds.items()):
            root = base / name
            root.mkdir(parents=True)
            servers[name] = Server(build, root, 39500 + 40 * k)
            stack.callback(servers[name].stop)
        figures = {name: ([], []) for name in builds}
        for number in range(rounds):
            order = list(builds) if number % 2 == 0 else list(reversed(builds))
            for name in order:
                total, finish = upload(builds[name], servers[name], source)
                figures[name][0].append(nc.mb_per_s(size, total))
                figures[name][1].append(finish * 1000)
    return figures


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
        for kind, base in (("disk", disk / "serve"), ("tmpfs", ram / "serve")):
            if kind == "tmpfs" and not mounted:
                continue
            figures = measure(builds, base, source, size, args.rounds)
            print(f"\n{kind}: MB/s of the upload (min median max), finish ms (median)")
            for name, (rates, finishes) in figures.items():
                print(f"  {name:8s} {spread(rates)}   finish {statistics.median(finishes):7.1f}   "
                      f"rounds: {' '.join(f'{r:.0f}' for r in rates)}")
            if args.against:
                ratio = statistics.median(figures["this"][0]) / statistics.median(figures["against"][0])
                print(f"  median this / against: {ratio:.3f}")
    finally:
        if mounted:
            subprocess.run(["umount", "-l", str(ram)])
        shutil.rmtree(disk, ignore_errors=True)
        shutil.rmtree(ram, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description="The chunk upload figure alone (see the header).")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--against", help="a folder with another build's peer_server and chunk_client")
    args = parser.parse_args()
    if os.environ.get("CORVANE_NETNS_INSIDE") != "1":
        if os.geteuid() != 0:
            sys.exit("chunk_upload: run as root (it mounts a tmpfs)")
        sys.exit(subprocess.run([str(nc.REPO / "scripts" / "netns-run"), sys.executable, str(Path(__file__).resolve()),
                                 *sys.argv[1:]]).returncode)
    run_inside(args)


if __name__ == "__main__":
    main()
