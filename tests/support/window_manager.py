"""Debian's openbox on a test's display, for tests that must meet the program as a
user's desktop runs it: with a window manager that frames, places and focuses
windows (bare Xvfb has none)."""

import subprocess

import desktop_session as ds


def _managed(env):
    """Whether a window manager has announced itself on the display's root window."""
    answer = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env, capture_output=True, text=True)
    return answer.returncode == 0 and "window id" in answer.stdout


def start_openbox(env):
    """openbox on the display of env (a Session's), once it manages the screen; stop it with stop()."""
    process = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    if not ds.wait_for(lambda: _managed(env) or process.poll() is not None, 15) or process.poll() is not None:
        stop(process)
        raise ds.Failure("openbox did not take the display")
    return process


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
