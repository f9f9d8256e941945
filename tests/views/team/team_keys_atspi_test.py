"""The team panel by keyboard and screen reader, under openbox on a 1280x720
screen, keys typed through the X server (xdotool), read over AT-SPI:
- the panel opens with the keys on its first field, not on "完成";
- the applicants are one list, one Tab stop between what lies above and below
  it, whose rows are read with the applicant's name and login and offer "通过" and
  "拒绝" to a screen reader; the arrows move between them;
- Return on a row approves it and leaves the keys on the next applicant, which a
  screen reader hears as the one focus event; Delete on the last one rejects it
  and the keys go to the member list;
- Return on a member's row opens the member menu with its first item highlighted;
- its "重置密码" tells nothing but the member's row between the menu and the
  password alert, which reports one focused object, and its close gives the keys
  back to the row;
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


def reset_password(desktop, panel, opener):
    """Return on the menu's "重置密码": the keys are heard going back to the member's row as the
    menu closes, then to the alert's first button only; the alert reports one focused object;
    closed, it gives the keys back to the row, heard once."""
    row, shown = "list item %r" % opener, "push button '复制并关闭'"
    heard = desktop.reader.mark()
    desktop.keys("Return")
    alert = desktop.active_window("爱丽丝 的临时密码")
    moves = desktop.reader.focus_moves(heard, shown)
    check(moves == [row, shown], "until the password showed a screen reader heard the keys go to %r" % moves)
    hits = [ds.describe(node) for node in ds.focused_hits(alert)]
    check(hits == [shown], "the password alert reports %r focused" % hits)
    desktop.keys("Tab")
    check(ds.wait_for(lambda: [ds.describe(node) for node in ds.focused_hits(alert)] == ["push button '关闭'"], 5),
          "Tab in the alert left %r focused" % [ds.describe(node) for node in ds.focused_hits(alert)])
    heard = desktop.reader.mark()
    desktop.keys("Return")
    check(desktop.closed("爱丽丝 的临时密码"), "关闭 left the password alert open")
    check(focus_is(desktop, panel, opener), "after the password the keys are on %s" % who(ds.focused(panel)))
    moves = desktop.reader.focus_moves(heard, row)
    check(moves == [row], "after the password a screen reader heard the keys go to %r" % moves)


def actions(node):
    action = node.queryAction()
    return [action.getName(k) for k in range(action.nActions)]


def run(binary):
    # Team mode, its services on from the start: colleagues can ask to join once the team exists.
    with ds.Desktop(binary, (1280, 720), extra_config={"usageMode": "team"}, defaults={"nasExt": True},
                    screen_reader=True) as desktop:
        main = desktop.active_window("Corvane")
        panel = set_up_team(desktop, main)
        for user, name in (("alice", "爱丽丝"), ("bob", "鲍勃")):
            desktop.session.post("/api/auth/register", {"user": user, "name": name, "pass": "abcdef12"})
        alice, bob = "爱丽丝 · @alice", "鲍勃 · @bob"
        rows = ds.wait_for(settled(lambda: (lambda found: found if len(found) == 2 else None)(
            [n for n in ds.find(panel, "list item") if n.parent.name == "等待审批"])), 10)
        check(rows, "the two applicants never showed")
        rows = sorted(rows, key=lambda n: ds.extents(n)[1])
        check([n.name for n in rows] == [alice, bob], "the applicants read %r" % [n.name for n in rows])
        check(actions(rows[0])[:2] == ["通过", "拒绝"], "an applicant's row offers %r" % actions(rows[0]))

        # One Tab stop, from what lies above the rows to what lies below, the arrows inside.
        rows[0].queryComponent().grabFocus()
        check(focus_is(desktop, panel, alice), "the first applicant never took the focus")
        top = ds.extents(rows[0])[1]
        desktop.keys("shift+Tab")
        check(ds.wait_for(settled(lambda: ds.focused(panel) is not None and who(ds.focused(panel)) != alice), 5),
              "Shift+Tab did not move")
        above = ds.focused(panel)
        check(ds.extents(above)[1] < top, "Shift+Tab from the first row went to %s, which lies below it" % who(above))
        desktop.keys("Tab")
        check(focus_is(desktop, panel, alice), "Tab went to %s, expected %s" % (who(ds.focused(panel)), alice))
        desktop.keys("Down")
        check(focus_is(desktop, panel, bob), "Down went to %s, expected %s" % (who(ds.focused(panel)), bob))
        desktop.keys("Tab")
        check(ds.wait_for(settled(lambda: who(ds.focused(panel)) not in (bob, "nothing")), 5), "Tab did not move")
        below = ds.focused(panel)
        check(ds.extents(below)[1] > top, "Tab from the applicants went to %s, which lies above them" % who(below))
        check(ds.role(below) == "list item" and below.parent.name == "成员", "Tab from the applicants went to %s"
              % who(below))

        # Return approves and leaves the keys on the next applicant; Delete on the last one
        # rejects it, and the keys go on to the members.
        desktop.keys("shift+Tab")
        check(focus_is(desktop, panel, bob), "Shift+Tab went to %s, expected %s" % (who(ds.focused(panel)), bob))
        desktop.keys("Up")
        check(focus_is(desktop, panel, alice), "Up went to %s" % who(ds.focused(panel)))
        heard = desktop.reader.mark()
        desktop.keys("Return")
        check(focus_is(desktop, panel, bob), "after 通过 爱丽丝 the keys are on %s" % who(ds.focused(panel)))
        moves = desktop.reader.focus_moves(heard, "list item %r" % bob)
        check(moves == ["list item %r" % bob], "after 通过 爱丽丝 a screen reader heard the keys go to %r" % moves)
        desktop.keys("Delete")
        check(ds.wait_for(settled(lambda: ds.role(ds.focused(panel)) == "list item"
                                  and ds.focused(panel).parent.name == "成员"), 5),
              "after the last 拒绝 the keys are on %s" % who(ds.focused(panel)))
        member = "爱丽丝 · @alice · 未绑邮箱"
        for _ in range(3):
            if who(ds.focused(panel)) == member:
                break
            desktop.keys("Down")
            ds.wait_for(settled(lambda: who(ds.focused(panel)) == member), 2)
        check(focus_is(desktop, panel, member), "the arrows never reached %s: on %s" % (member, who(ds.focused(panel))))

        opened = desktop.reader.mark()
        first, _ = ds.focused_menu(lambda: desktop.keys("Return"))
        check(first == "重置密码（生成临时密码）", "Return on the member opened a menu on %r" % first)
        # The reader hears events after this process does: its next mark follows the menu's focus.
        desktop.reader.focus_moves(opened, "menu item %r" % first)
        reset_password(desktop, panel, member)

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
