"""The team panel by keyboard and screen reader, under openbox on a 1280x720
screen, keys typed through the X server (xdotool), read over AT-SPI:
- the panel opens with the keys on its first field, not on "完成";
- "拒绝" and "通过" say whose they are (the member's name as their
  description: a screen reader says "通过 爱丽丝"), and Tab goes through the
  rows in their order, from what lies above them to what lies below;
- Return on "通过" hands the keys to the next row's "通过", which a screen reader
  hears as the one focus event; after the last applicant's "拒绝" they go to the
  member list ("更多操作" of the member just approved);
- the member menu opens from the keys with its first item highlighted;
- its "重置密码" tells no control between the menu and the password alert, which
  reports one focused object, and its close gives the keys back to "更多操作";
- "设置邮箱" and the refusal
  "邮箱格式不对" ask the window manager for a close button and nothing to
  minimise or maximise.

Usage: team_keys_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402

check = ds.check
PANEL = "团队空间"


def settled(look):
    """A look at a tree that may change under it: a node gone meanwhile counts as not found."""
    def attempt():
        try:
            return look()
        except Exception:
            return None
    return attempt


def who(node):
    """A control as a screen reader says it: its name, then its description."""
    return "nothing" if node is None else ("%s %s" % (node.name, node.description or "")).strip()


def focus_is(desktop, panel, said, timeout=5.0):
    return ds.wait_for(settled(lambda: who(ds.focused(panel)) == said), timeout)


def set_up_team(desktop, main):
    badge = ds.wait_for(lambda: [n for n in ds.find(main, "push button") if "点这里" in (n.description or "")], 20)
    check(badge and len(badge) == 1, "no single mode badge that opens the team panel")
    ds.press(badge[0])
    panel = desktop.active_window(PANEL)
    first = ds.wait_for(lambda: ds.focused(panel), 5)
    check(first is not None and ds.role(first) == "text", "the panel opens with the keys on %s" % ds.describe(first))
    for name in ("管理员密码（至少 6 位）", "再输一次"):
        fields = [n for n in ds.find(panel, name=name) if ds.role(n) in ("password text", "text")]
        check(len(fields) == 1, "no single field %s" % name)
        fields[0].queryEditableText().setTextContents("abcdef")
    ds.press(ds.find(panel, "push button", name="启用团队空间")[0])
    address = "http://127.0.0.1:%d/" % ds.FIRST_HTTP_PORT
    check(ds.wait_for(settled(lambda: ds.find(panel, "label", name=address)), 20), "no management view")
    return panel


def reset_password(desktop, panel):
    """Return on the menu's "重置密码": the keys are heard going back to 更多操作 as the menu
    closes, then to the alert's first button only; the alert reports one focused object; closed,
    it gives the keys back to 更多操作, heard once."""
    opener, shown = "push button '更多操作'", "push button '复制并关闭'"
    heard = desktop.reader.mark()
    desktop.keys("Return")
    alert = desktop.active_window("爱丽丝 的临时密码")
    moves = desktop.reader.focus_moves(heard, shown)
    check(moves == [opener, shown], "until the password showed a screen reader heard the keys go to %r" % moves)
    hits = [ds.describe(node) for node in ds.focused_hits(alert)]
    check(hits == [shown], "the password alert reports %r focused" % hits)
    desktop.keys("Tab")
    check(ds.wait_for(lambda: [ds.describe(node) for node in ds.focused_hits(alert)] == ["push button '关闭'"], 5),
          "Tab in the alert left %r focused" % [ds.describe(node) for node in ds.focused_hits(alert)])
    heard = desktop.reader.mark()
    desktop.keys("Return")
    check(desktop.closed("爱丽丝 的临时密码"), "关闭 left the password alert open")
    check(focus_is(desktop, panel, "更多操作 爱丽丝"), "after the password the keys are on %s" % who(ds.focused(panel)))
    moves = desktop.reader.focus_moves(heard, opener)
    check(moves == [opener], "after the password a screen reader heard the keys go to %r" % moves)


def run(binary):
    # Team mode, its services on from the start: colleagues can ask to join once the team exists.
    with ds.Desktop(binary, (1280, 720), extra_config={"usageMode": "team"}, defaults={"nasExt": True},
                    screen_reader=True) as desktop:
        main = desktop.active_window("Corvane")
        panel = set_up_team(desktop, main)
        for user, name in (("alice", "爱丽丝"), ("bob", "鲍勃")):
            desktop.session.post("/api/auth/register", {"user": user, "name": name, "pass": "abcdef12"})
        approves = ds.wait_for(settled(lambda: (lambda found: found if len(found) == 2 else None)(
            ds.find(panel, "push button", name="通过"))), 10)
        check(approves, "the two applicants' 通过 never showed")
        check(sorted(who(n) for n in approves) == ["通过 爱丽丝", "通过 鲍勃"],
              "the approve buttons say %r" % sorted(who(n) for n in approves))
        rejects = sorted(ds.find(panel, "push button", name="拒绝"), key=lambda n: ds.extents(n)[1])
        check([who(n) for n in rejects] == ["拒绝 爱丽丝", "拒绝 鲍勃"], "rows: %r" % [who(n) for n in rejects])

        # Tab from what lies above the rows, through them, to what lies below.
        rejects[0].queryComponent().grabFocus()
        check(focus_is(desktop, panel, "拒绝 爱丽丝"), "the first 拒绝 never took the focus")
        top = ds.extents(rejects[0])[1]
        desktop.keys("shift+Tab")
        check(ds.wait_for(settled(lambda: ds.focused(panel) is not None and who(ds.focused(panel)) != "拒绝 爱丽丝"), 5),
              "Shift+Tab did not move")
        above = ds.focused(panel)
        check(ds.extents(above)[1] < top, "Shift+Tab from the first row went to %s, which lies below it" % who(above))
        for said in ("拒绝 爱丽丝", "通过 爱丽丝", "拒绝 鲍勃", "通过 鲍勃"):
            desktop.keys("Tab")
            check(focus_is(desktop, panel, said), "Tab went to %s, expected %s" % (who(ds.focused(panel)), said))
        last = ds.extents(ds.focused(panel))[1]
        desktop.keys("Tab")
        check(ds.wait_for(settled(lambda: who(ds.focused(panel)) not in ("通过 鲍勃", "nothing")), 5), "Tab did not move")
        below = ds.focused(panel)
        check(ds.extents(below)[1] > last, "Tab from the last row went to %s, which lies above it" % who(below))

        # An approve hands the keys to the next row; the last reject to the members.
        for key, said in (("shift+Tab", "通过 鲍勃"), ("shift+Tab", "拒绝 鲍勃"), ("shift+Tab", "通过 爱丽丝")):
            desktop.keys(key)
            check(focus_is(desktop, panel, said), "%s went to %s, expected %s" % (key, who(ds.focused(panel)), said))
        heard = desktop.reader.mark()
        desktop.keys("Return")
        check(focus_is(desktop, panel, "通过 鲍勃"), "after 通过 爱丽丝 the keys are on %s" % who(ds.focused(panel)))
        moves = desktop.reader.focus_moves(heard, "push button '通过'")
        check(moves == ["push button '通过'"], "after 通过 爱丽丝 a screen reader heard the keys go to %r" % moves)
        desktop.keys("shift+Tab")
        check(focus_is(desktop, panel, "拒绝 鲍勃"), "Shift+Tab went to %s" % who(ds.focused(panel)))
        desktop.keys("Return")
        check(focus_is(desktop, panel, "更多操作 爱丽丝"), "after the last 拒绝 the keys are on %s" % who(ds.focused(panel)))

        opened = desktop.reader.mark()
        first, _ = ds.focused_menu(lambda: desktop.keys("Return"))
        check(first == "重置密码（生成临时密码）", "Return on 更多操作 opened a menu on %r" % first)
        # The reader hears events after this process does: its next mark follows the menu's focus.
        desktop.reader.focus_moves(opened, "menu item %r" % first)
        reset_password(desktop, panel)

        ds.focused_menu(lambda: desktop.keys("Return"))
        desktop.keys("Down", "Return")
        desktop.active_window("设置邮箱")
        ds.check_close_only(desktop.session, "设置邮箱")
        desktop.type("not-an-address")
        desktop.keys("Return")
        desktop.active_window("邮箱格式不对")
        ds.check_close_only(desktop.session, "邮箱格式不对")
        desktop.keys("Return")
        check(desktop.closed("邮箱格式不对"), "Return left the refusal open")


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
