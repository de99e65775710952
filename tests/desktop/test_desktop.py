#!/usr/bin/python3
"""Sonbrel in a real X server (Xvfb) with the accessibility bus: one window
titled "Sonbrel", 508 x 380, its skin buttons exposed as push buttons; each
button pressed through AT-SPI and clicked with the mouse reaches the command
dispatch. Dialogs that a command opens are closed through AT-SPI again."""
import os
import subprocess
import sys
import tempfile
import time

SONBREL = sys.argv[1]
BUTTONS = ["setpath", "addfolder", "addfile", "settings", "remove", "converter",
           "help", "stop", "clear", "open", "id3"]


def start_xvfb():
    # A display number of our own, well away from the ones people and other tests use.
    import random
    for _ in range(50):
        number = random.randint(200, 900)
        if os.path.exists("/tmp/.X%d-lock" % number):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL)
        if wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % number) or xvfb.poll() is not None, 10) \
                and xvfb.poll() is None:
            return xvfb, ":%d" % number
    raise RuntimeError("no X display could be started")


def main():
    if "SONBREL_IN_SESSION" not in os.environ:
        xvfb, display = start_xvfb()
        env = dict(os.environ, DISPLAY=display, SONBREL_IN_SESSION="1")
        try:
            # A private session bus for the accessibility bus to live on.
            return subprocess.call(["dbus-run-session", "--", sys.executable, __file__] + sys.argv[1:], env=env)
        finally:
            xvfb.terminate()
    return run_in_session()


def wait_for(predicate, timeout=15.0):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return None


def run_in_session():
    import pyatspi

    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    time.sleep(1)
    workdir = tempfile.mkdtemp()
    trace = os.path.join(workdir, "commands.txt")
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORMTHEME="",
               XDG_CONFIG_HOME=os.path.join(workdir, "config"), HOME=workdir,
               SONBREL_TRACE_COMMANDS=trace, QT_QPA_PLATFORM="xcb")
    os.makedirs(os.path.join(workdir, "config"))
    app_process = subprocess.Popen([SONBREL], env=env)
    failures = []
    passed = []

    def check(condition, what):
        print(("ok     " if condition else "FAILED ") + what, flush=True)
        (passed if condition else failures).append(what)

    def find_app():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "Sonbrel":
                return app
        return None

    def traced():
        try:
            with open(trace) as f:
                return f.read().split()
        except FileNotFoundError:
            return []

    def is_main(window):
        # Message boxes carry the program's name too; only the main window is a plain filler.
        return window.name == "Sonbrel" and window.getRoleName() == "filler"

    def other_windows(app):
        return [w for w in app if w is not None and not is_main(w) and w.getState().contains(pyatspi.STATE_SHOWING)]

    def press(accessible):
        action = accessible.queryAction()
        for i in range(action.nActions):
            if action.getName(i) in ("Press", "press", "click"):
                action.doAction(i)
                return
        action.doAction(0)

    def close_dialogs(app):
        # A command may open a modal dialog or message box: close it as a user would.
        for _ in range(3):
            windows = wait_for(lambda: other_windows(app), timeout=1.5) or []
            if not windows:
                return
            for window in windows:
                buttons = pyatspi.findAllDescendants(window, lambda a: a.getRoleName() == "push button"
                                                     and a.name.replace("&", "") in ("Cancel", "OK", "Ok"))
                if buttons:
                    press(buttons[0])
            time.sleep(0.5)

    try:
        app = wait_for(find_app)
        check(app is not None, "the application is on the accessibility bus")
        if app is None:
            return 1
        windows = [w for w in app if w is not None and w.getState().contains(pyatspi.STATE_SHOWING)]
        check(len(windows) == 1 and windows[0].name == "Sonbrel", "one window titled Sonbrel")
        main_window = windows[0]
        extents = main_window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        check((extents.width, extents.height) == (508, 380), "the window is 508 x 380 (%d x %d)" % (extents.width, extents.height))
        tables = pyatspi.findAllDescendants(main_window, lambda a: a.getRoleName() == "table")
        check(len(tables) == 1 and tables[0].queryTable().nRows == 0, "the empty file list is inside the window")
        buttons = {b.description: b for b in pyatspi.findAllDescendants(
            main_window, lambda a: a.getRoleName() == "push button" and a.description in BUTTONS)}
        check(sorted(buttons) == sorted(BUTTONS), "every skin button is an accessible push button")

        for name in BUTTONS:
            if name not in buttons:
                continue
            before = len(traced())
            press(buttons[name])
            check(wait_for(lambda: traced()[before:] == [name], 5) is not None, "AT-SPI press dispatches " + name)
            close_dialogs(app)

            button_extents = buttons[name].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            x = button_extents.x + button_extents.width // 2
            y = button_extents.y + button_extents.height // 2
            before = len(traced())
            subprocess.call(["xdotool", "mousemove", str(x), str(y), "click", "1"])
            check(wait_for(lambda: traced()[before:] == [name], 5) is not None, "mouse click dispatches " + name)
            close_dialogs(app)

        # No window manager gives focus here: click into the window first.
        subprocess.call(["xdotool", "mousemove", str(extents.x + 250), str(extents.y + 330), "click", "1"])
        time.sleep(0.3)
        subprocess.call(["xdotool", "key", "ctrl+q"])
        check(wait_for(lambda: app_process.poll() is not None, 10) is not None, "Ctrl+Q closes the window")
        ini = os.path.join(workdir, "config", "sonbrel.ini")
        check(os.path.exists(ini) and "Outtime=5" in open(ini).read(), "closing wrote the settings file")
    finally:
        if app_process.poll() is None:
            app_process.kill()
        launcher.terminate()
    print("%d passed, %d failed" % (len(passed), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
