"""A folder of more than 3,000 files, picked from outside as a person does it
(the "选择文件夹" button, the folder's path typed into the picker, "发送"): the
queue takes its first 3,000 files, and the toast says so with the folder's
name, so the user is not left believing the whole folder went out. A screen
reader meets the queue's rows on screen only, not 3,000 objects, so that its walk
of the queue costs what it costs with a few files queued.

Usage: folder_cut_atspi_test.py BUILD/corvane
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import desktop_session as ds  # noqa: E402


check = ds.check
NOTICE = "「年会照片」超过 3000 个文件，只发送了前 3000 个"


def run(binary):
    with ds.Session(binary) as session:
        folder = os.path.join(session.box, "outbox", "年会照片")
        os.makedirs(folder)
        for index in range(3001):
            open(os.path.join(folder, "IMG_%04d.jpg" % index), "wb").close()
        session.start()
        app = ds.application()
        check(app is not None, "the program never showed up on the accessibility bus")
        main = ds.window(app, "Corvane")
        check(main is not None, "no window titled Corvane")

        toasts = ds.Toasts(main)
        check(toasts.nodes, "the window has no toast a screen reader can meet")

        check(ds.send_through_picker(app, main, "选择文件夹", folder), "the folder could not be picked")

        check(toasts.wait_for(NOTICE), "the toast never told of the cut folder; it said %r" % sorted(set(toasts.seen)))

        queue = ds.wait_for(lambda: [n for n in ds.find(main, "list") if n.name == "传输队列"], 10)
        check(queue and len(queue) == 1, "no single list 传输队列")
        rows = [queue[0].getChildAtIndex(k) for k in range(queue[0].childCount)]
        check(0 < len(rows) <= 6 and all(row.name.startswith("IMG_") for row in rows),
              "the queue holds %d rows for a reader: %r" % (len(rows), [row.name for row in rows[:8]]))


if __name__ == "__main__":
    sys.exit(ds.run_test(__file__, run))
