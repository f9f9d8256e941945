#!/usr/bin/env python3
"""The team folder and the receive folder on a GlusterFS replica-2 volume, beside a local folder.

Run after ./scripts/build.sh, as root (it installs packages, mounts and runs glusterd):

    python3 bench/team_folder_gluster.py [--size-mib M] [--small N] [--entries N] [--skip-brick-kill]

It first installs what is missing with apt-get (glusterfs-server, glusterfs-client; no
service is let start), then re-runs itself inside scripts/netns-run: a network namespace
with only loopback and a mount namespace of its own. There it adds a veth pair of its own
(10.77.0.1: glusterd refuses bricks on a loopback address), lays tmpfs over glusterd's
state, log and socket folders (the machine's own are never touched), starts glusterd,
makes a replica-2 volume of two bricks (folders under build/), starts it and mounts it
through FUSE. build/peer_server then receives into a folder of the volume and
build/storage_server serves a team folder on it; each figure is printed beside the same
on a local folder of the disk:

  chunk upload       an M MiB file by build/chunk_client (meta, 4 MiB chunks, finish)
  small files        build/bench_uploader --folder: N files of 1-6 KB, and `cp -r` of them
  NAS upload         `curl -T` to PUT /api/fs/upload of the M MiB file
  NAS listing        GET /api/fs of a folder of the small files (median of 5)
  PROPFIND           Depth 1 over a folder of 10,000 entries (median of 3)
  litmus             the basic and http groups against /dav/
  brick killed       (volume only) one brick's process killed mid-upload, the upload
                     finished, the brick started again and healed: the file is compared
                     byte for byte on the mount and on both bricks

Every figure is checked: each received file is compared with what was sent. Every
process, mount and folder it made is removed at the end, also on Ctrl+C or an error.
"""

import argparse
import contextlib
import hashlib
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from xml.etree import ElementTree

import nginx_compare as nc

PACKAGES = ["glusterfs-server", "glusterfs-client"]
PROGRAMS = ("peer_server", "storage_server", "chunk_client", "bench_uploader")
ADDRESS = "10.77.0.1"
VOLUME = "corvane"
# glusterd's own folders, each under a tmpfs of this namespace.
GLUSTER_STATE = ("/var/lib/glusterd", "/var/log/glusterfs", "/run/gluster")
MIB = 1 << 20


# ---------------------------------------------------------------- outside the namespace

def run_outside(argv):
    if os.geteuid() != 0:
        sys.exit("team_folder_gluster: run as root (it installs glusterfs-server and mounts a volume)")
    absent = [name for name in PROGRAMS if not (nc.BUILD / name).exists()]
    if absent:
        sys.exit("team_folder_gluster: build first (./scripts/build.sh); missing " + ", ".join(absent))
    nc.install_missing(PACKAGES)
    for tool in ("glusterd", "gluster", "litmus", "curl"):
        if shutil.which(tool) is None:
            sys.exit(f"team_folder_gluster: {tool} is missing")
    return subprocess.call([str(nc.REPO / "scripts" / "netns-run"), sys.executable, str(Path(__file__).resolve()), *argv])


# ---------------------------------------------------------------- the volume

def sh(*command, check=True, timeout=300):
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, command))}: {done.stderr.strip() or done.stdout.strip()}")
    return done.stdout


def gluster(*args, check=True, timeout=300):
    return sh("gluster", "--mode=script", *args, check=check, timeout=timeout)


def wait_for(condition, limit, what):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.2)
    raise RuntimeError(f"{what}: not within {limit} s")


class Volume:
    """glusterd, a replica-2 volume of two bricks, and its FUSE mount."""

    def __init__(self, stack, work):
        sh("ip", "link", "add", "gluster0", "type", "veth", "peer", "name", "gluster1")
        sh("ip", "addr", "add", f"{ADDRESS}/24", "dev", "gluster0")
        sh("ip", "link", "set", "gluster0", "up")
        sh("ip", "link", "set", "gluster1", "up")
        for folder in GLUSTER_STATE:
            Path(folder).mkdir(parents=True, exist_ok=True)
            sh("mount", "-t", "tmpfs", "tmpfs", folder)
            stack.callback(sh, "umount", "-l", folder, check=False)
        self.bricks = [work / "brick1", work / "brick2"]
        for brick in self.bricks:
            brick.mkdir()
        self.glusterd = subprocess.Popen(["glusterd", "-N", "--log-level=WARNING"], preexec_fn=nc.die_with_parent)
        stack.callback(nc.stop_process, self.glusterd)
        wait_for(lambda: subprocess.run(["gluster", "--mode=script", "volume", "list"],
                                        capture_output=True).returncode == 0, 30, "glusterd")
        gluster("volume", "create", VOLUME, "replica", "2", *(f"{ADDRESS}:{brick}" for brick in self.bricks), "force")
        gluster("volume", "start", VOLUME)
        stack.callback(self.stop)
        self.mount = work / "mounted"
        self.mount.mkdir()
        wait_for(lambda: subprocess.run(["mount", "-t", "glusterfs", f"{ADDRESS}:/{VOLUME}", str(self.mount)],
                                        capture_output=True).returncode == 0, 60, "mount of the volume")
        stack.callback(sh, "umount", "-l", str(self.mount), check=False)

    def stop(self):
        gluster("volume", "stop", VOLUME, "force", check=False, timeout=60)
        # What glusterd started (bricks, the self-heal daemon) ends with it, by the pids it noted.
        for folder in GLUSTER_STATE:
            for pid_file in Path(folder).rglob("*.pid"):
                with contextlib.suppress(ValueError, OSError):
                    os.kill(int(pid_file.read_text().strip()), signal.SIGKILL)

    def brick_pid(self, brick):
        """The pid of the brick process serving the folder, from the volume's status."""
        status = ElementTree.fromstring(gluster("volume", "status", VOLUME, "--xml"))
        for node in status.iter("node"):
            if node.findtext("path") == str(brick):
                return int(node.findtext("pid"))
        raise RuntimeError(f"no brick process for {brick}")

    def start_again_and_heal(self):
        gluster("volume", "start", VOLUME, "force")
        gluster("volume", "heal", VOLUME, check=False)

        last = {}

        def healed():
            last["info"] = gluster("volume", "heal", VOLUME, "info", check=False)
            counts = [line.split(":")[1].strip() for line in last["info"].splitlines()
                      if line.startswith("Number of entries")]
            return len(counts) == len(self.bricks) and all(count == "0" for count in counts)

        try:
            wait_for(healed, 300, "heal")
        except RuntimeError as error:
            raise RuntimeError(f"{error}; heal info: {' | '.join(last.get('info', '').split())}") from None


# ---------------------------------------------------------------- figures

class Servers:
    """peer_server receiving into PLACE/recv and storage_server serving PLACE/team."""

    def __init__(self, stack, place):
        self.place = place
        (place / "recv").mkdir(parents=True)
        (place / "team").mkdir(parents=True)
        self.peer = nc.OurServer("peer_server", place / "recv", 39300)
        stack.callback(self.peer.stop)
        self.team = nc.OurServer("storage_server", place / "team", 39400)
        stack.callback(self.team.stop)


def digest(path):
    hashed = hashlib.sha256()
    with open(path, "rb") as source:
        while block := source.read(16 * MIB):
            hashed.update(block)
    return hashed.hexdigest()


def same_bytes(path, expected_digest, what):
    if digest(path) != expected_digest:
        raise RuntimeError(f"{what}: {path} differs from what was sent")


# The name build/chunk_client gives every file it sends.
UPLOADED = "bench.bin"


def chunk_upload(servers, source, source_digest):
    seconds, _ = nc.upload_ours(servers.peer, source)
    same_bytes(servers.place / "recv" / UPLOADED, source_digest, "chunk upload")
    (servers.place / "recv" / UPLOADED).unlink()
    return nc.mb_per_s(source.stat().st_size, seconds)


def small_files(servers, small):
    seconds = nc.uploader_seconds("--folder", servers.peer.port, small)
    received = servers.place / "recv" / small.name
    for path in small.iterdir():
        if (received / path.name).read_bytes() != path.read_bytes():
            raise RuntimeError(f"small files: {received / path.name} differs")
    nc.remove_tree(received)
    start = time.monotonic()
    sh("cp", "-r", small, servers.place / "copied", timeout=3600)
    copied = time.monotonic() - start
    nc.remove_tree(servers.place / "copied")
    return seconds, copied


def nas_upload(servers, source, source_digest):
    nc.settle()
    start = time.monotonic()
    nc.curl_put(servers.team.url + "/api/fs/upload?name=nas.bin", source, codes=("200",))
    seconds = time.monotonic() - start
    same_bytes(servers.place / "team" / "nas.bin", source_digest, "NAS upload")
    (servers.place / "team" / "nas.bin").unlink()
    return nc.mb_per_s(source.stat().st_size, seconds)


def timed_get(url, method="GET", headers=()):
    command = ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code} %{time_total}", "-X", method]
    for header in headers:
        command += ["-H", header]
    code, seconds = sh(*command, url, timeout=600).split()
    if not code.startswith("2"):
        raise RuntimeError(f"{method} {url}: {code}")
    return float(seconds)


def nas_listing(servers, small):
    shutil.copytree(small, servers.place / "team" / "listed-small")
    seconds = statistics.median(timed_get(servers.team.url + "/api/fs?path=listed-small") for _ in range(5))
    nc.remove_tree(servers.place / "team" / "listed-small")
    return seconds * 1000


def propfind(servers, entries):
    folder = servers.place / "team" / "many"
    folder.mkdir()
    for index in range(entries):
        (folder / f"entry {index}.txt").write_text(str(index))
    seconds = statistics.median(timed_get(servers.team.url + "/dav/many/", "PROPFIND", ["Depth: 1"]) for _ in range(3))
    nc.remove_tree(folder)
    return seconds * 1000


def litmus(servers):
    root = servers.place / "team" / "litmus-root"
    root.mkdir()
    passed = []
    for group in ("basic", "http"):
        done = subprocess.run(["litmus", servers.team.url + "/dav/litmus-root/"], capture_output=True, text=True,
                              env=dict(os.environ, TESTS=group), cwd=servers.place, timeout=600)
        found = re.search(r"of (\d+) tests run: (\d+) passed", done.stdout)
        passed.append(f"{group} {found.group(2)}/{found.group(1)}" if found else f"{group} no summary")
    nc.remove_tree(root)
    return "; ".join(passed)


def brick_killed_mid_upload(servers, volume, source, source_digest):
    """Kills one brick while the upload runs; the file after the heal, on the mount and both bricks."""
    killed = threading.Event()

    def kill_when_started():
        parts = servers.place / "recv" / ".parts"
        wait_for(lambda: parts.exists() and any(parts.iterdir()), 120, "the upload's part folder")
        time.sleep(1.0)
        os.kill(volume.brick_pid(volume.bricks[1]), signal.SIGKILL)
        killed.set()

    killer = threading.Thread(target=kill_when_started, daemon=True)
    killer.start()
    nc.upload_ours(servers.peer, source)
    killer.join()
    if not killed.is_set():
        raise RuntimeError("the brick was not killed during the upload")
    volume.start_again_and_heal()
    relative = Path("served") / "recv" / UPLOADED
    same_bytes(servers.place / "recv" / UPLOADED, source_digest, "after the heal, on the mount")
    for brick in volume.bricks:
        same_bytes(brick / relative, source_digest, f"after the heal, on {brick.name}")
    (servers.place / "recv" / UPLOADED).unlink()
    return "byte-exact on the mount and on both bricks"


def figures(stack, place, sources, args, volume=None):
    servers = Servers(stack, place)
    source, small = sources["file"], sources["small"]
    print(f"  {place}: chunk upload ...", file=sys.stderr, flush=True)
    found = {"chunk upload (MB/s)": chunk_upload(servers, source, sources["digest"])}
    print(f"  {place}: small files ...", file=sys.stderr, flush=True)
    ours, copied = small_files(servers, small)
    found[f"small files, {len(list(small.iterdir()))} (s)"] = ours
    found["  cp -r of them (s)"] = copied
    found["NAS upload (MB/s)"] = nas_upload(servers, source, sources["digest"])
    found["NAS listing (ms)"] = nas_listing(servers, small)
    print(f"  {place}: PROPFIND ...", file=sys.stderr, flush=True)
    found[f"PROPFIND {args.entries} entries (ms)"] = propfind(servers, args.entries)
    found["litmus"] = litmus(servers)
    if volume and not args.skip_brick_kill:
        print(f"  {place}: brick killed mid-upload ...", file=sys.stderr, flush=True)
        try:
            found["brick killed mid-upload"] = brick_killed_mid_upload(servers, volume, source, sources["digest"])
        except RuntimeError as error:
            found["brick killed mid-upload"] = f"FAILED: {error}"
    return found


def show(value):
    return f"{value:.2f}" if isinstance(value, float) else str(value)


def run_inside(args):
    started = time.monotonic()
    with contextlib.ExitStack() as stack:
        work = Path(tempfile.mkdtemp(prefix="gluster-bench-", dir=nc.BUILD))
        stack.callback(nc.remove_tree, work)
        sources = {"file": work / "source" / "upload.bin", "small": work / "source" / "small"}
        sources["file"].parent.mkdir(parents=True)
        nc.write_source(sources["file"], args.size_mib * MIB)
        sources["digest"] = digest(sources["file"])
        sources["small"].mkdir()
        for index in range(args.small):
            (sources["small"] / f"file-{index:04d}.bin").write_bytes(os.urandom(1024 + index * 7919 % (5 * 1024 + 1)))
        print(f"team_folder_gluster: {args.size_mib} MiB file, {args.small} small files, {args.entries} entries, "
              f"{nc.load_average()}")
        (work / "local").mkdir()
        with contextlib.ExitStack() as servers:
            local = figures(servers, work / "local" / "served", sources, args)
        volume = Volume(stack, work)
        with contextlib.ExitStack() as servers:
            on_volume = figures(servers, volume.mount / "served", sources, args, volume)
        print(f"\n{'figure':34} {'local folder':>28} {'GlusterFS replica 2':>40}")
        for name in on_volume:
            print(f"{name:34} {show(local.get(name, '-')):>28} {show(on_volume[name]):>40}")
    print(f"\nteam_folder_gluster: done in {time.monotonic() - started:.0f} s")


def main():
    parser = argparse.ArgumentParser(description="The team folder on GlusterFS beside a local folder (see the header).")
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--small", type=int, default=3000)
    parser.add_argument("--entries", type=int, default=10000)
    parser.add_argument("--skip-brick-kill", action="store_true")
    args = parser.parse_args()
    if os.environ.get("CORVANE_NETNS_INSIDE") != "1":
        sys.exit(run_outside(sys.argv[1:]))
    signal.signal(signal.SIGTERM, nc.stop_on_term)
    try:
        run_inside(args)
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    main()
