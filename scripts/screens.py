"""Makes the screenshots a reviewer looks at, into docs/screens/: the main
window fresh, with a nearby team's strip, and at first start with the welcome
sheet open. Each is the program's own --shot picture of its window content
(1040 x 720) on Xvfb, and of every sheet open at that moment."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop_session as ds  # noqa: E402

SHOT_WAIT = 30  # the program saves its picture after 6.5 s


def shoot(binary, path, prepare=None, welcome_done=True):
    with ds.Session(binary, welcome_done=welcome_done) as session:
        if prepare:
            prepare(session)
        session.start(["--shot", path])
        session.wait(SHOT_WAIT)
    print("screens: " + path)


def with_team_strip(session):
    session.announce("dev-team-1", "MacBook Pro", team="研发部")


def main():
    ds.enter([os.path.abspath(__file__)] + sys.argv[1:])
    binary, folder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    shoot(binary, os.path.join(folder, "main-fresh.png"))
    shoot(binary, os.path.join(folder, "main-team-strip.png"), with_team_strip)
    shoot(binary, os.path.join(folder, "first-start.png"), welcome_done=False)


if __name__ == "__main__":
    main()
