"""Makes the screenshots a reviewer looks at, into docs/screens/: the main
window fresh, with a nearby team's strip, with devices and files (two found
devices, one asking for a PIN, and one added by address; files of several
kinds in folders, of several ages), and at first start with the welcome sheet
open; the receive panel during and after an upload; the send queue running
(files picked over AT-SPI and sent to a fake device of this script that takes
its chunks slowly); a folder of more than 3,000 files sent, with the toast that
tells of the cut; the chat window with messages. Each is the program's own --shot picture of its window content
(1040 x 720) on Xvfb, and of every sheet open at that moment. Then the file picker on a Chinese desktop, in a
folder of files, cut from its screen. Last, pictures of a whole 1280 x 720 screen:
without a window manager the first start with the welcome sheet, and the settings sheet open; under Debian's
openbox the first start with the window's title bar, and the chat window just opened, its caret in the
message box.

Usage: screens.py BUILD/corvane FOLDER [PICTURE...], the pictures named (file names) only when any is."""

import ctypes
import os
import shutil
import subprocess
import sys
import time
import urllib.request
import json
import re
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop_session as ds  # noqa: E402

SHOT_WAIT = 30  # the program saves its picture after 6.5 s


CHUNK = 4 * 1024 * 1024


def _shoot(binary, path, prepare=None, welcome_done=True, extra_config=None, running=None, sheets=()):
    """running: what to do with the session once the program runs, before its picture;
    sheets: the object names of the sheets that must be open in it (each gets its own picture)."""
    with ds.Session(binary, welcome_done=welcome_done, extra_config=extra_config, home=user_home()) as session:
        if prepare:
            prepare(session)
        session.start(["--shot", path])
        if running:
            running(session)
        session.wait(SHOT_WAIT)
    stem = os.path.splitext(path)[0]
    for made in [path] + ["%s-%s.png" % (stem, sheet) for sheet in sheets]:
        if not os.path.exists(made):
            sys.exit("screens: %s was not made" % made)
        print("screens: " + made)


def _shoot_screen(binary, path, size, welcome_done=True, running=None, window_manager=False, when=None,
                  prepare=None):
    """The whole screen of that size, with the windows where the program put them: running
    opens what the picture shows (given the accessible application and main window). With
    window_manager, openbox frames, places and focuses the windows. when: a test of the
    screen's pixels (XWD bytes, given the application too) that the picture waits for, such
    as a blinking caret being drawn. prepare: as for _shoot."""
    with ds.Session(binary, welcome_done=welcome_done, screen=size, home=user_home(),
                    window_manager=window_manager) as session:
        if prepare:
            prepare(session)
        session.start()
        app = ds.application()
        main_window = ds.window(app, "Corvane") if app else None
        if not main_window:
            sys.exit("screens: no window for %s" % path)
        if window_manager and not ds.wait_for(lambda: (session.frame("Corvane") or (0, None))[1], 10):
            sys.exit("screens: openbox never framed the window for %s" % path)
        if running:
            running(session, app, main_window)
        time.sleep(1.5)  # painted and settled
        screen = ds.wait_for(lambda: screen_showing(session, app, when), 5, 0.1)
        if not screen:
            sys.exit("screens: %s never showed what it must" % path)
        ds.write_screen_png(path, screen)
    print("screens: " + path)


def _shoot_picker(binary, path):
    """The file picker as a user on a Chinese desktop meets it, 760 x 440, cut from the
    screen: in the detailed list of ~/下载 with files of several kinds, one of them chosen."""
    with ds.Session(binary, screen=(1280, 720), home=user_home()) as session:
        session.use_chinese_locale()
        downloads = os.path.join(session.home, "下载")
        os.makedirs(os.path.join(downloads, "素材"))
        for name, size in (("年会视频 4K.mov", 60_000_000), ("设计稿-终版.sketch", 24_000_000),
                           ("合同扫描件.pdf", 900_000), ("报价单.xlsx", 120_000)):
            with open(os.path.join(downloads, name), "wb") as out:
                out.truncate(size)
        session.start()
        app = ds.application()
        main_window = ds.window(app, "Corvane") if app else None
        pick = ds.wait_for(lambda: ds.find(main_window, "push button", name="选择文件"), 10) if main_window else None
        if not pick:
            sys.exit("screens: no button 选择文件 for %s" % path)
        ds.press(pick[0])
        dialog = ds.wait_for(lambda: ds.showing_window(app, "选择要发送到"), 10)
        if not dialog:
            sys.exit("screens: no file picker for %s" % path)
        # The picker's X window: the program's window that lies where AT-SPI places the picker
        # (xdotool cannot match a Chinese title).
        def picker_window():
            x, y = ds.extents(dialog)[:2]
            for window in session._x("xdotool", "search", "--onlyvisible", "--classname", "corvane").split():
                if "Position: %d,%d " % (x, y) in session._x("xdotool", "getwindowgeometry", window):
                    return [window]
            return None

        ids = ds.wait_for(picker_window, 10)
        if not ids:
            sys.exit("screens: the X server knows no file picker for %s" % path)
        subprocess.run(["xdotool", "windowsize", ids[0], "760", "440"], env=session.env, check=True)
        field = [node for node in ds.find(dialog, "text") if node.queryEditableText()][-1]
        field.queryEditableText().setTextContents(downloads)
        field.queryComponent().grabFocus()
        subprocess.run(["xdotool", "key", "Return"], env=session.env, check=True)

        def showing_downloads():
            shown = [box.name for box in ds.find(dialog, "combo box") if box.name == downloads]
            return shown and ds.extents(dialog)[2:] == (760, 440)

        if not ds.wait_for(showing_downloads, 10):
            sys.exit("screens: the picker never showed %s" % downloads)
        # A file chosen, as the user is about to send it: the button reads 发送 again.
        field.queryEditableText().setTextContents("合同扫描件.pdf")
        if not ds.wait_for(lambda: ds.find(dialog, "push button", name="发送"), 10):
            sys.exit("screens: the picker's button never read 发送 for %s" % path)
        time.sleep(1.5)  # painted and settled
        screen = screen_showing(session, app, None)
        ds.write_screen_png(path, screen, ds.extents(dialog))
    print("screens: " + path)


def screen_showing(session, app, test):
    """The session's screen (XWD bytes) if it passes the test (none: any), else None."""
    with open(os.path.join(session.pixels, "Xvfb_screen0"), "rb") as source:
        screen = source.read()
    return screen if test is None or test(app, screen) else None


def welcome_open(session, app, main_window):
    ds.window(app, "欢迎使用Corvane")


def chat_just_opened(session, app, main_window):
    ds.press(ds.find(main_window, "push button", name="办公室聊天")[0])
    chat = ds.window(app, "办公室聊天")
    ds.wait_for(lambda: chat and ds.fresh(chat).getState().contains(ds._atspi().STATE_ACTIVE), 10)


def caret_in_message_box(app, screen):
    """Whether the empty message box of the chat window shows its caret (a dark line, where
    the placeholder is light grey)."""
    chat = ds.window(app, "办公室聊天", timeout=1)
    box = ds.find(chat, "text", name="输入消息，Enter 发送") if chat else []
    return bool(box) and ds.darkest_in(screen, ds.extents(box[0])) < 100


def settings_open(session, app, main_window):
    ds.press(ds.find(main_window, "push button", name="设置")[0])
    ds.window(app, "设置")


def _keys(session, *names):
    subprocess.run(["xdotool", "key", "--delay", "40"] + list(names), env=session.env, check=True)


def _tab_to_row(session, main_window, list_name, then=()):
    """Tab until a row of the list named list_name holds the keys, then the keys in then;
    the pointer waits in a corner, so no row shows as hovered."""
    subprocess.run(["xdotool", "mousemove", "0", "0"], env=session.env, check=True)
    ds.move_focus(main_window, lambda: _keys(session, "Tab"),
                  lambda node: ds.role(node) == "list item" and node.parent.name == list_name, list_name)
    if then:
        _keys(session, *then)


def file_row_by_keys(session, app, main_window):
    """The file list reached by Tab, the second row by Down: its ring and its buttons."""
    ds.wait_for(lambda: ds.find(main_window, "list item", prefix="季度报告.pdf"), 10)
    _tab_to_row(session, main_window, "文件", ("Down",))


HELD_PORT = ds.FIRST_HTTP_PORT + 63


def with_held_device(session):
    """The files to send, and a device that takes three chunks of each and then holds
    the rest (and every finish) for as long as the picture takes."""
    with_files_to_send(session)
    held = ds.HeldDevice(HELD_PORT)
    held.allow(3)
    session.announce("dev-held-1", "会议室 iMac", plat="darwin", port=HELD_PORT)


def queue_row_by_keys(session, app, main_window):
    """Files sent to the holding device, then the queue reached by Tab, the second row by Down."""
    sending(session, HELD_PORT)
    ds.wait_for(lambda: len(ds.find(main_window, "list item", prefix="设计稿")) == 1, 15)
    _tab_to_row(session, main_window, "传输队列", ("Down",))


def with_cut_listing(session):
    """A receive folder past the listing's limit: 5,010 files, 5,000 listed."""
    for index in range(5010):
        session.place_file("file-%04d.txt" % index)


def searching_past_the_cut(session, app, main_window):
    """A search for a name that is not among the files listed: the no-match text and its note."""
    ds.wait_for(lambda: ds.find(main_window, "label", prefix="5000+ 个文件"), 30)
    field = [node for node in ds.find(main_window, "text") if node.name == "搜索"][0]
    field.queryComponent().grabFocus()
    _keys(session, "z", "z", "z")
    ds.wait_for(lambda: ds.find(main_window, "label", prefix="只搜索了已列出的"), 10)


def with_chat_history(session):
    """1,000 messages of the group chat, every third one this device's own, a minute apart."""
    start = (time.time() - 86400) * 1000
    msgs = [{"id": "m%04d" % k, "from": "self" if k % 3 == 0 else "dev-mac-1", "to": "all",
             "fromName": "测试机" if k % 3 == 0 else "设计部的 MacBook", "ts": start + k * 60000,
             "text": "第 %d 条消息" % k, "mine": k % 3 == 0} for k in range(1000)]
    with open(os.path.join(session.data, "chat.json"), "w", encoding="utf-8") as out:
        json.dump({"msgs": msgs}, out, ensure_ascii=False)


def chat_history_by_keys(session, app, main_window):
    """The chat opened, the history reached by Shift+Tab from the message box, two messages up."""
    chat_just_opened(session, app, main_window)
    chat = ds.window(app, "办公室聊天")
    ds.wait_for(lambda: ds.find(chat, "list item", name="第 999 条消息"), 15)
    subprocess.run(["xdotool", "mousemove", "0", "0"], env=session.env, check=True)
    _keys(session, "shift+Tab", "shift+Tab", "Up", "Up")
    ds.wait_for(lambda: ds.describe(ds.focused(chat)) == "list item '第 997 条消息'", 10)


def with_team_strip(session):
    session.announce("dev-team-1", "MacBook Pro", team="研发部")


def with_devices_and_files(session):
    session.announce("dev-mac-1", "设计部的 MacBook", plat="darwin")
    session.announce("dev-win-1", "DESKTOP-7", plat="win32", pin=True, port=ds.FIRST_HTTP_PORT + 51)
    day = 86400
    for relative, size, age in (("季度报告.pdf", 1_300_000, 120),
                                ("截图 2024-05-11.png", 420_000, 3 * 3600),
                                ("演示/产品发布会 录像.mp4", 52_000_000, 2 * day),
                                ("演示/素材/logo.svg", 8_200, 5 * day),
                                ("备份/项目资料/源码 v2.zip", 9_600_000, 30 * day),
                                ("会议记录 📝.md", 2_100, 20),
                                ("安装包/Corvane-Setup.exe", 31_000_000, 400 * day)):
        session.place_file(relative, age_seconds=age, size=size)


def wait_for_server(session):
    def answers():
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/api/info" % ds.FIRST_HTTP_PORT, timeout=2):
                return True
        except Exception:
            return False
    ds.wait_for(answers, 10)


def receiving(session):
    """Two uploads under way and one finished, from the script itself."""
    wait_for_server(session)
    session.post("/api/upload/00000000000000b1/meta", {"name": "产品发布会 录像.mp4", "size": 5 * CHUNK}, method="PUT")
    session.post("/api/upload/00000000000000b1/0", b"\0" * CHUNK, method="PUT")
    session.post("/api/upload/00000000000000b2/meta", {"name": "设计稿-终版.sketch", "size": 3 * CHUNK}, method="PUT")
    session.post("/api/upload/00000000000000b2/0", b"\0" * CHUNK, method="PUT")
    session.post("/api/upload/00000000000000b2/1", b"\0" * CHUNK, method="PUT")
    session.upload("00000000000000b3", "会议纪要.docx", b"x" * 48_000)


def received(session):
    wait_for_server(session)
    session.upload("00000000000000c1", "季度报告.pdf", b"x" * 1_300_000)
    session.upload("00000000000000c2", "截图 2024-05-11.png", b"x" * 420_000)


def chatting(session):
    """Messages from two devices and from this one, then the chat window opened over AT-SPI."""
    session.announce("dev-mac-1", "设计部的 MacBook", plat="darwin")
    session.announce("dev-win-1", "DESKTOP-7", plat="win32", port=ds.FIRST_HTTP_PORT + 51)
    wait_for_server(session)
    session.send_chat("m1", "dev-mac-1", "设计部的 MacBook", "大家好，新版设计稿已经放到共享盘了 🎨")
    session.send_chat("m2", "dev-win-1", "DESKTOP-7", "收到 👍🏽 今天下午看一下。顺便问下，会议室是 3 点吗？")
    session.send_chat("m3", "dev-mac-1", "设计部的 MacBook",
                      "链接在这里：https://intranet.example.com/share/design/2024-q2/final-final-v3-really-final/")
    session.send_chat("m4", "dev-win-1", "DESKTOP-7", "这条只给你看", to="self", burn=True)
    app = ds.application()
    main_window = ds.window(app, "Corvane") if app else None
    button = ds.wait_for(lambda: ds.find(main_window, "push button", name="办公室聊天"), 10) if main_window else None
    if button:
        ds.press(button[0])
        chat = ds.window(app, "办公室聊天")
        fields = ds.find(chat, "text", name="输入消息，Enter 发送") if chat else []
        if fields:
            fields[0].queryEditableText().insertText(0, "好的，3 点见", len("好的，3 点见"))
            send = ds.find(chat, "push button", name="发送")
            time.sleep(0.3)
            if send:
                ds.press(send[0])


SLOW_PORT = ds.FIRST_HTTP_PORT + 61


class _SlowDevice(BaseHTTPRequestHandler):
    """A device that holds no chunk, takes every chunk slowly and refuses one file."""
    protocol_version = "HTTP/1.1"
    refused = set()

    def _reply(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def _body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def do_GET(self):
        self._reply(200, {"received": []})

    def do_PUT(self):
        upload = re.match(r"/api/upload/([0-9a-f]+)/(\w+)", self.path)
        body = self._body()
        if upload and upload.group(2) == "meta":
            meta = json.loads(body or b"{}")
            if "损坏" in str(meta.get("name", "")):
                _SlowDevice.refused.add(upload.group(1))
                self._reply(507, {"error": "对方磁盘空间不足"})
                return
            self._reply(200, {"ok": True})
            return
        time.sleep(0.7)
        self._reply(200, {"ok": True})

    def do_POST(self):
        self._body()
        self._reply(200, {"ok": True})

    def do_DELETE(self):
        self._reply(200, {"ok": True})

    def log_message(self, *args):
        pass


def sending(session, port=SLOW_PORT):
    """Picks files for the slow device (or the device on port) over AT-SPI while the program runs."""
    app = ds.application()
    main_window = ds.window(app, "Corvane")
    row = ds.wait_for(lambda: [n for n in ds.descendants(main_window)
                               if (n.description or "").endswith(":%d" % port) and ds.role(n) != "label"], 10)
    if not row:
        print("screens: the slow device never showed up")
        return
    ds.press(row[0])
    names = " ".join('"%s"' % os.path.join(session.outbox, name) for name in sorted(os.listdir(session.outbox)))
    if not ds.send_through_picker(app, main_window, "选择文件", names):
        print("screens: the files could not be picked")


def with_big_folder(session):
    session.outbox = os.path.join(session.box, "outbox")
    folder = os.path.join(session.outbox, "年会照片")
    os.makedirs(folder)
    for index in range(3200):
        open(os.path.join(folder, "IMG_%04d.jpg" % index), "wb").close()


def sending_big_folder(session):
    """Picks the folder of 3,200 files over AT-SPI late enough that the toast telling
    of the cut (2.4 s) still shows when the program takes its picture (6.5 s)."""
    started = time.monotonic()
    app = ds.application()
    main_window = ds.window(app, "Corvane")
    time.sleep(max(0.0, started + 4.0 - time.monotonic()))
    if not ds.send_through_picker(app, main_window, "选择文件夹", os.path.join(session.outbox, "年会照片")):
        print("screens: the folder could not be picked")


class _QuietServer(ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # the program quits with uploads still running


def with_slow_device(session):
    server = _QuietServer(("127.0.0.1", SLOW_PORT), _SlowDevice)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    session.announce("dev-slow-1", "会议室 iMac", plat="darwin", port=SLOW_PORT)
    with_files_to_send(session)


def with_files_to_send(session):
    session.outbox = os.path.join(session.box, "outbox")
    os.makedirs(session.outbox)
    for name, size in (("年会视频 4K.mov", 60_000_000), ("设计稿-终版.sketch", 24_000_000), ("合同扫描件.pdf", 900_000),
                       ("损坏的文件.bin", 2_000_000), ("培训录音.m4a", 30_000_000), ("报价单.xlsx", 120_000)):
        with open(os.path.join(session.outbox, name), "wb") as out:
            out.truncate(size)


_home_mounted = []


def user_home():
    """A fresh home folder as a user has one, so that the receive folder shown reads
    /home/lin/Corvane: a tmpfs over /home in a mount namespace of this process's own, which
    nothing outside sees (root only). Elsewhere the sandbox's own folder (None)."""
    if not _home_mounted:
        _home_mounted.append(_private_tmpfs_home())
    if not _home_mounted[0]:
        return None
    home = "/home/lin"
    shutil.rmtree(home, ignore_errors=True)  # each picture starts from an empty home
    os.makedirs(home)
    return home


def _private_tmpfs_home():
    if os.geteuid() != 0:
        return False
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(0x00020000) != 0:  # CLONE_NEWNS; fails once threads run
        return False
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    return (subprocess.run(["mount", "--make-rprivate", "/"], **quiet).returncode == 0 and
            subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/home"], **quiet).returncode == 0)


def main():
    ds.enter([os.path.abspath(__file__)] + sys.argv[1:])
    binary, folder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    wanted = set(sys.argv[3:])
    os.makedirs(folder, exist_ok=True)
    user_home()  # before any thread runs

    def named(function):
        """The picture maker, which makes its picture only when it is wanted (all are when none is named)."""
        def make(binary, path, *args, **kwargs):
            if not wanted or os.path.basename(path) in wanted:
                function(binary, path, *args, **kwargs)
        return make

    shoot, shoot_screen, shoot_picker = named(_shoot), named(_shoot_screen), named(_shoot_picker)
    shoot(binary, os.path.join(folder, "main-fresh.png"))
    shoot(binary, os.path.join(folder, "main-team-strip.png"), with_team_strip)
    shoot(binary, os.path.join(folder, "main-devices-files.png"), with_devices_and_files,
          extra_config={"manualPeers": ["192.168.1.20:8899"]})
    shoot(binary, os.path.join(folder, "first-start.png"), welcome_done=False, sheets=["welcomeSheet"])
    shoot(binary, os.path.join(folder, "receive-during.png"), with_devices_and_files, running=receiving)
    shoot(binary, os.path.join(folder, "receive-done.png"), with_devices_and_files, running=received)
    shoot(binary, os.path.join(folder, "queue-running.png"), with_slow_device, running=sending)
    shoot(binary, os.path.join(folder, "queue-folder-cut.png"), with_big_folder, running=sending_big_folder)
    shoot(binary, os.path.join(folder, "chat.png"), running=chatting, sheets=["chatView"])
    shoot_picker(binary, os.path.join(folder, "picker-files.png"))
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-first-start.png"), (1280, 720), welcome_done=False,
                 running=welcome_open)
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-settings.png"), (1280, 720), running=settings_open)
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-first-start-openbox.png"), (1280, 720),
                 welcome_done=False, running=welcome_open, window_manager=True)
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-chat-opened.png"), (1280, 720), running=chat_just_opened,
                 window_manager=True, when=caret_in_message_box)
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-file-row-keys.png"), (1280, 720),
                 prepare=with_devices_and_files, running=file_row_by_keys, window_manager=True)
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-queue-row-keys.png"), (1280, 720),
                 prepare=with_held_device, running=queue_row_by_keys, window_manager=True)
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-search-past-cut.png"), (1280, 720),
                 prepare=with_cut_listing, running=searching_past_the_cut, window_manager=True)
    shoot_screen(binary, os.path.join(folder, "screen-1280x720-chat-history-keys.png"), (1280, 720),
                 prepare=with_chat_history, running=chat_history_by_keys, window_manager=True)


if __name__ == "__main__":
    main()
