"""The team panel set up from outside, as assistive technology sees it: on a
first start a nearby team's strip offers "自己建团队", which raises the panel
"团队空间"; both passwords are typed through the fields' EditableText interface
and "启用团队空间" is pressed over AT-SPI; the management view then shows the
team address, and accounts.json holds an administrator.

Usage: team_panel_atspi_test.py BUILD/corvane
"""

import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check


def field(panel, name):
    hits = [node for node in ds.find(panel, name=name) if ds.role(node) in ("password text", "text")]
    check(len(hits) == 1, "expected one field %s, found %r" % (name, [(ds.role(n), n.name) for n in hits]))
    return hits[0]


def settled(look):
    """A look at a tree that may change under the walk: a node gone meanwhile counts as not found."""
    def attempt():
        try:
            return look()
        except Exception:  # the GLib error of a node deleted while it was read
            return None
    return attempt


def administrators(accounts_file):
    try:
        with open(accounts_file, encoding="utf-8") as source:
            data = json.load(source)
    except (OSError, ValueError):
        return []
    users = data.get("users", data) if isinstance(data, dict) else data
    return [user for user in users if isinstance(user, dict) and user.get("role") == "admin"]


def run(binary):
    with ds.Session(binary) as session:
        session.announce("nas-1", "机房 NAS", team="研发部")
        session.start()
        app = ds.application(timeout=60)  # a loaded machine starts slowly
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane", timeout=30)
        check(main is not None, "no window titled Corvane")
        create = ds.wait_for(lambda: ds.find(main, "push button", name="自己建团队"), 20)
        check(create, "the nearby team's strip never offered 自己建团队")
        ds.press(create[0])

        panel = ds.window(app, "团队空间", timeout=30)
        check(panel is not None, "the team panel did not open")
        check(ds.wait_for(lambda: ds.find(panel, "label", name="把本机变成工作室的中央存储"), 10), "no set-up subtitle")
        for name in ("管理员密码（至少 6 位）", "再输一次"):
            field(panel, name).queryEditableText().setTextContents("abcdef")
        enable = ds.find(panel, "push button", name="启用团队空间")
        check(len(enable) == 1, "expected one 启用团队空间 button, found %d" % len(enable))
        ds.press(enable[0])

        address = "http://127.0.0.1:%d/" % ds.FIRST_HTTP_PORT
        check(ds.wait_for(settled(lambda: ds.find(panel, "label", name=address)), 20),
              "the management view shows no %s: %r" % (address, [n.name for n in ds.find(panel, "label")]))
        accounts = os.path.join(session.home, "Corvane", "_team", "accounts.json")
        check(ds.wait_for(lambda: administrators(accounts), 10), "accounts.json holds no administrator")


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
