"""The desktop entry as the bundle carries it and as a user gets it: both pass
desktop-file-validate; the bundle holds the icon in every size desktops use; the
installer (what scripts/start.sh runs) puts the entry and the icons into the user's
data folder, and the entry's Exec, read as a launcher reads it, starts the built
program, also from a folder whose name holds a blank, quotes, a dollar and a percent
sign; installing again replaces the entry.

Usage: desktop_entry_test.py BUILD/share BUILD/corvane scripts/fresh-netns
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
SIZES = (16, 22, 24, 32, 48, 64, 128, 256, 512)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def validate(path):
    answer = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
    check(answer.returncode == 0 and not answer.stdout.strip(),
          "desktop-file-validate %s: %s%s" % (path, answer.stdout, answer.stderr))


def png_size(path):
    with open(path, "rb") as image:
        head = image.read(24)
    check(head[:8] == b"\x89PNG\r\n\x1a\n", "%s is no PNG" % path)
    return struct.unpack(">II", head[16:24])


def icons_in(folder):
    for size in SIZES:
        path = os.path.join(folder, "%dx%d" % (size, size), "apps", "corvane.png")
        check(os.path.isfile(path), "no icon of %d px: %s" % (size, path))
        check(png_size(path) == (size, size), "%s is %r" % (path, png_size(path)))


def entry_keys(path):
    keys = {}
    with open(path, encoding="utf-8") as entry:
        for line in entry:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                keys[key] = value
    return keys


def exec_arguments(value):
    """The Exec value split as the desktop entry rules say: the string escapes first, then
    the quoting (inside double quotes a backslash escapes " ` $ and itself); %% is %."""
    unescaped, index = "", 0
    while index < len(value):
        if value[index] == "\\" and index + 1 < len(value):
            unescaped += {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(value[index + 1],
                                                                                 "\\" + value[index + 1])
            index += 2
        else:
            unescaped += value[index]
            index += 1
    arguments, current, quoted, index = [], None, False, 0
    while index < len(unescaped):
        char = unescaped[index]
        if quoted and char == "\\" and index + 1 < len(unescaped) and unescaped[index + 1] in '"`$\\':
            current += unescaped[index + 1]
            index += 2
            continue
        if char == '"':
            quoted = not quoted
            current = current or ""
        elif char == " " and not quoted:
            if current is not None:
                arguments.append(current)
            current = None
        else:
            current = (current or "") + char
        index += 1
    check(not quoted, "Exec has an open quote: %r" % value)
    if current is not None:
        arguments.append(current)
    return [argument.replace("%%", "%") for argument in arguments]


def starts_the_program(arguments, program, fresh_netns, box):
    """Runs the entry's command line in a network namespace of its own, with the sandbox's
    folders and no display; true once the program's boot log says its window shows."""
    check(os.path.samefile(arguments[0], program), "Exec starts %r, not %s" % (arguments[0], program))
    data = os.path.join(box, "run-data")
    env = dict(os.environ, HOME=os.path.join(box, "home"), XDG_DATA_HOME=data,
               XDG_CONFIG_HOME=os.path.join(box, "run-config"), XDG_CACHE_HOME=os.path.join(box, "run-cache"),
               CORVANE_MANIFEST="http://127.0.0.1:9/manifest.json")
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    started = subprocess.Popen([fresh_netns] + arguments, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    boot_log = os.path.join(data, "Corvane", "boot.log")
    try:
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and started.poll() is None:
            if os.path.exists(boot_log) and "窗口已显示" in open(boot_log, encoding="utf-8").read():
                return True
            time.sleep(0.05)
        return False
    finally:
        started.terminate()
        started.wait(timeout=30)


def run(share, program, fresh_netns):
    bundled = os.path.join(share, "applications", "corvane.desktop")
    validate(bundled)
    keys = entry_keys(bundled)
    check(keys.get("Name") == "Corvane", "Name is %r" % keys.get("Name"))
    check(keys.get("Categories") == "Network;FileTransfer;", "Categories is %r" % keys.get("Categories"))
    check(any("\u4e00" <= c <= "\u9fff" for c in keys.get("Comment", "")), "the comment is not Chinese")
    check(keys.get("Icon") == "corvane", "Icon is %r" % keys.get("Icon"))
    icons_in(os.path.join(share, "icons", "hicolor"))

    box = tempfile.mkdtemp(prefix="corvane-entry-")
    try:
        folder = os.path.join(box, 'my "apps" $HOME 100%', "bin")
        os.makedirs(folder)
        linked = os.path.join(folder, "corvane")
        os.symlink(program, linked)
        data = os.path.join(box, "data")
        env = dict(os.environ, HOME=os.path.join(box, "home"), XDG_DATA_HOME=data)
        installer = os.path.join(share, "corvane", "desktop-entry.sh")
        for target in (program, linked):  # installed again over the first entry
            subprocess.run([installer, target], env=env, check=True)
        entry = os.path.join(data, "applications", "corvane.desktop")
        validate(entry)
        icons_in(os.path.join(data, "icons", "hicolor"))
        installed = entry_keys(entry)
        check(installed.get("TryExec") == linked, "TryExec is %r" % installed.get("TryExec"))
        arguments = exec_arguments(installed.get("Exec", ""))
        check(arguments == [linked], "Exec reads as %r" % arguments)
        check(starts_the_program(arguments, program, fresh_netns, box), "the entry's Exec did not start the program")
    finally:
        shutil.rmtree(box, ignore_errors=True)


def main():
    if not shutil.which("desktop-file-validate"):
        print("desktop entry: skipped, missing desktop-file-validate")
        return SKIP
    try:
        run(*[os.path.abspath(a) for a in sys.argv[1:4]])
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
