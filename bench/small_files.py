#!/usr/bin/env python3
"""What one small received file costs the receiving server, on a local folder and on a FUSE mount.

Run after ./scripts/build.sh, as root (it mounts bindfs):

    python3 bench/small_files.py [--rounds N] [--files N] [--against DIR]

It re-runs itself inside scripts/netns-run, so every server and client only sees loopback.
There it makes a folder of files of 1 to 6 KB and, for each place the receive folder can be
(a folder on this machine's disk; a journaled ext4 of its own on a loop device, as a
desktop's disk is made; and a folder seen through a `bindfs` mount: every file-system call
a round trip to a user-space daemon, as on GlusterFS), measures:

  folder             build/bench_uploader --folder sending the whole folder to build/peer_server
                     (status, meta, chunk, finish per file), against `cp -r` of the same folder
                     to the same place: seconds, and the ratio (lower is better for us)
  server per file    the server process's CPU time (user + system) per file over that send
  calls per file     with the server run under `strace -f -c`: the file-system calls it makes
                     per received file, in all and by call (a smaller folder: strace is slow)

With --against, DIR holds another build's peer_server and bench_uploader, measured the same
way in alternating rounds, so a change shows beside the build before it. Every process,
mount and folder it made is removed at the end.

Where the machine's disk is an ext4 without a journal, the kernel looks past every inode
freed in the last minutes before it gives a new file one; that search then dominates the
server's time on "disk" for any build, which is why "ext4" is measured beside it.
"""

import argparse
import contextlib
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
BUILD = REPO / "build"
COUNTED_FILES = 300
# The calls that touch the file system (names as strace prints them).
FILE_CALLS = {
    "open", "openat", "close", "read", "pread64", "write", "pwrite64", "lseek", "ftruncate", "fsync", "fdatasync",
    "stat", "lstat", "fstat", "newfstatat", "statx", "access", "faccessat", "faccessat2", "readlink", "readlinkat",
    "mkdir", "mkdirat", "rmdir", "rename", "renameat", "renameat2", "link", "linkat", "unlink", "unlinkat",
    "getdents64", "setxattr", "fsetxattr", "lsetxattr", "getxattr", "fgetxattr", "lgetxattr", "removexattr",
    "fremovexattr", "lremovexattr", "listxattr", "fallocate", "copy_file_range", "ioctl", "sendfile", "splice",
    "utimensat", "fchmod", "chmod", "fchown",
}


def programs(folder):
    return {name: Path(folder) / name for name in ("peer_server", "bench_uploader")}


def run_outside(argv):
    if os.geteuid() != 0:
        sys.exit("small_files: run as root (it mounts bindfs)")
    for path in programs(BUILD).values():
        if not path.exists():
            sys.exit(f"small_files: build first (./scripts/build.sh); missing {path}")
    for tool in ("bindfs", "strace", "mkfs.ext4"):
        if shutil.which(tool) is None:
            sys.exit(f"small_files: {tool} is missing (scripts/install-deps.sh installs it)")
    return subprocess.call([str(REPO / "scripts" / "netns-run"), sys.executable, str(Path(__file__).resolve()), *argv])


def make_small_folder(folder, count):
    """`count` files of 1 to 6 KB, each of its own random bytes."""
    folder.mkdir(parents=True)
    for index in range(count):
        (folder / f"file-{index:04d}.bin").write_bytes(os.urandom(1024 + index * 7919 % (5 * 1024 + 1)))
    os.sync()


class Server:
    """A peer_server on a receive folder, optionally under strace."""

    def __init__(self, build, root, count_into=None):
        command = [str(programs(build)["peer_server"]), str(root), "39300"]
        if count_into:
            command = ["strace", "-f", "-c", "-o", str(count_into), *command]
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().strip()
        if not line.isdigit():
            raise RuntimeError("peer_server printed no port")
        self.port = int(line)
        self.pid = self.server_pid()

    def server_pid(self):
        # Under strace the server is strace's child.
        children = Path(f"/proc/{self.process.pid}/task/{self.process.pid}/children").read_text().split()
        return int(children[0]) if children else self.process.pid

    def cpu_seconds(self):
        fields = Path(f"/proc/{self.pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        with contextlib.suppress(OSError):
            self.process.stdin.close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def send_folder(build, port, folder):
    out = subprocess.run([str(programs(build)["bench_uploader"]), "--folder", str(port), str(folder)],
                         capture_output=True, text=True, timeout=3600)
    found = re.search(r": done in ([0-9.]+) s", out.stdout)
    if out.returncode != 0 or not found:
        raise RuntimeError("bench_uploader: " + (out.stdout + out.stderr).strip())
    return float(found.group(1))


def check_received(source, received):
    for path in source.iterdir():
        if (received / path.name).read_bytes() != path.read_bytes():
            raise RuntimeError(f"{received / path.name} differs from what was sent")


def settle():
    os.sync()
    time.sleep(0.3)


def measure_send(build, place, source):
    """Seconds of the send and the server's CPU seconds per file."""
    # A folder of its own each time, all removed at the end: ext4 looks long for a free
    # inode among thousands deleted a moment ago, which would weigh on whoever comes next.
    receive = Path(tempfile.mkdtemp(prefix="receive-", dir=place))
    server = Server(build, receive)
    try:
        settle()
        cpu = server.cpu_seconds()
        seconds = send_folder(build, server.port, source)
        cpu = server.cpu_seconds() - cpu
    finally:
        server.stop()
    check_received(source, receive / source.name)
    return seconds, cpu / len(list(source.iterdir()))


def measure_copy(place, source):
    settle()
    start = time.monotonic()
    subprocess.run(["cp", "-r", str(source), str(place / "copy")], check=True)
    seconds = time.monotonic() - start
    (place / "copy").rename(Path(tempfile.mkdtemp(prefix="copied-", dir=place)) / "copy")
    return seconds


def count_calls(build, place, source, work):
    """File-system calls of the server per received file: (all, {call: per file})."""
    receive = Path(tempfile.mkdtemp(prefix="counted-", dir=place))
    summary = work / "strace.txt"
    server = Server(build, receive, count_into=summary)
    try:
        send_folder(build, server.port, source)
    finally:
        server.stop()
    files = len(list(source.iterdir()))
    calls = {}
    for line in summary.read_text().splitlines():
        fields = line.split()
        if len(fields) >= 5 and fields[-1] in FILE_CALLS and fields[3].isdigit():
            calls[fields[-1]] = int(fields[3]) / files
    return sum(calls.values()), calls


@contextlib.contextmanager
def places(work):
    disk = work / "disk"
    disk.mkdir()
    image = work / "ext4.img"
    ext4 = work / "ext4"
    ext4.mkdir()
    subprocess.run(["truncate", "-s", "4G", str(image)], check=True)
    subprocess.run(["mkfs.ext4", "-q", "-F", str(image)], check=True)
    subprocess.run(["mount", "-o", "loop", str(image), str(ext4)], check=True)
    under = work / "under-fuse"
    fuse = work / "fuse"
    under.mkdir()
    fuse.mkdir()
    subprocess.run(["bindfs", str(under), str(fuse)], check=True)
    try:
        yield [("disk", disk), ("ext4", ext4), ("bindfs", fuse)]
    finally:
        subprocess.run(["umount", "-l", str(fuse)])
        subprocess.run(["umount", "-l", str(ext4)])


def run_inside(args):
    builds = {"this": BUILD}
    if args.against:
        builds["against"] = Path(args.against).resolve()
    work = Path(tempfile.mkdtemp(prefix="small-files-", dir=BUILD))
    try:
        source = work / "source" / "small"
        make_small_folder(source, args.files)
        counted = work / "counted" / "small"
        make_small_folder(counted, min(COUNTED_FILES, args.files))
        print(f"small_files: {args.files} files of 1-6 KB, {args.rounds} round(s), "
              f"load average {os.getloadavg()[0]:.1f}")
        with places(work) as kinds:
            for kind, place in kinds:
                report(kind, place, builds, source, counted, work, args.rounds)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def report(kind, place, builds, source, counted, work, rounds):
    figures = {name: {"send": [], "cpu": []} for name in builds}
    copies = []
    for number in range(rounds):
        order = list(builds.items())
        if number % 2:
            order.reverse()
        for name, build in order:
            seconds, cpu = measure_send(build, place, source)
            figures[name]["send"].append(seconds)
            figures[name]["cpu"].append(cpu)
        copies.append(measure_copy(place, source))
    copy = statistics.median(copies)
    print(f"\n{kind}: cp -r {copy:.3f} s (min {min(copies):.3f}, max {max(copies):.3f})")
    for name, build in builds.items():
        send = statistics.median(figures[name]["send"])
        cpu = statistics.median(figures[name]["cpu"])
        total, calls = count_calls(build, place, counted, work)
        by_call = ", ".join(f"{call} {per:.1f}" for call, per in sorted(calls.items(), key=lambda item: -item[1]))
        print(f"  {name:8} folder {send:.3f} s = {send / copy:.2f} x cp -r   "
              f"server CPU {cpu * 1e6:.0f} us/file   file-system calls {total:.1f}/file")
        print(f"           {by_call}")
    if "against" in builds:
        ratio = statistics.median(figures["this"]["cpu"]) / statistics.median(figures["against"]["cpu"])
        print(f"  server CPU per file, this / against: {ratio:.2f}")


def main():
    parser = argparse.ArgumentParser(description="The receiving server's cost per small file (see the header).")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--against", help="a folder with another build's peer_server and bench_uploader")
    args = parser.parse_args()
    if os.environ.get("CORVANE_NETNS_INSIDE") != "1":
        sys.exit(run_outside(sys.argv[1:]))
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(128 + signum))
    run_inside(args)


if __name__ == "__main__":
    main()
