"""Makes the screenshots a reviewer looks at, into docs/screens/: the main
window fresh, with a nearby team's strip, with devices and files (two found
devices, one asking for a PIN, and one added by address; files of several
kinds in folders, of several ages), and at first start with the welcome sheet
open. Each is the program's own --shot picture of its window content
(1040 x 720) on Xvfb, and of every sheet open at that moment."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop_session as ds  # noqa: E402

SHOT_WAIT = 30  # the program saves its picture after 6.5 s


def shoot(binary, path, prepare=None, welcome_done=True, extra_config=None):
    with ds.Session(binary, welcome_done=welcome_done, extra_config=extra_config) as session:
        if prepare:
            prepare(session)
        session.start(["--shot", path])
        session.wait(SHOT_WAIT)
    print("screens: " + path)


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
                                ("notes.md", 2_100, 20),
                                ("安装包/Corvane-Setup.exe", 31_000_000, 400 * day)):
        session.place_file(relative, age_seconds=age, size=size)


def main():
    ds.enter([os.path.abspath(__file__)] + sys.argv[1:])
    binary, folder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    shoot(binary, os.path.join(folder, "main-fresh.png"))
    shoot(binary, os.path.join(folder, "main-team-strip.png"), with_team_strip)
    shoot(binary, os.path.join(folder, "main-devices-files.png"), with_devices_and_files,
          extra_config={"manualPeers": ["192.168.1.20:8899"]})
    shoot(binary, os.path.join(folder, "first-start.png"), welcome_done=False)


if __name__ == "__main__":
    main()
