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
DRAG_SOURCE = sys.argv[2] if len(sys.argv) > 2 else None
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


SOURCES = {  # file: (frequency cell, channels cell)
    "a.mp3": ("44100 Hz", " Stereo "),
    "b.wav": ("44100 Hz", " Stereo "),
    "c.wma": ("44100 Hz", " Stereo "),
    "d.ogg": ("44100 Hz", " Stereo "),
    "e.vox": ("8000 Hz", " Mono "),
}


def make_sources(folder):
    os.makedirs(folder)
    tone = ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=2:sample_rate=44100", "-ac", "2"]
    subprocess.check_call(tone + ["-metadata", "title=Desk Tone", os.path.join(folder, "a.mp3")])
    subprocess.check_call(tone + [os.path.join(folder, "b.wav")])
    subprocess.check_call(tone + ["-c:a", "wmav2", os.path.join(folder, "c.wma")])
    subprocess.check_call(tone + ["-c:a", "libvorbis", os.path.join(folder, "d.ogg")])
    subprocess.check_call(["sox", os.path.join(folder, "b.wav"), "-r", "8000", "-c", "1", os.path.join(folder, "e.vox")])


def probe_tag(path, tag):
    return subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags=" + tag, "-of",
                           "default=noprint_wrappers=1:nokey=1", path], capture_output=True, text=True).stdout.strip()


def run_in_session():
    import pyatspi

    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    time.sleep(1)
    workdir = tempfile.mkdtemp()
    trace = os.path.join(workdir, "commands.txt")
    home = os.path.join(workdir, "home")
    make_sources(home)
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORMTHEME="",
               XDG_CONFIG_HOME=os.path.join(workdir, "config"), HOME=home,
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
        from gi.repository import GLib
        try:
            action = accessible.queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            index = next((i for i, n in enumerate(names) if n in ("Press", "press", "click")), 0)
            action.doAction(index)
        except GLib.GError:
            pass  # the button's dialog closed while the press was being answered

    def table_cells(table):
        t = table.queryTable()
        return [[t.getAccessibleAt(r, c).name for c in range(t.nColumns)] for r in range(t.nRows)]

    def dialog(app, title):
        return wait_for(lambda: next((w for w in other_windows(app) if w.name == title), None), 10)

    def find(window, role, name):
        found = pyatspi.findAllDescendants(window, lambda a: a.getRoleName() == role and a.name.replace("&", "") == name)
        return found[0] if found else None

    def check_real_files(app, main_window, buttons, table):
        # "addfolder": the folder dialog opens on the home folder, which holds the sources.
        press(buttons["addfolder"])
        folder_dialog = dialog(app, "Add File Directory")
        check(folder_dialog is not None, "addfolder opens the folder dialog")
        if folder_dialog is None:
            return
        press(find(folder_dialog, "push button", "Ok"))
        rows = wait_for(lambda: table_cells(table) if table.queryTable().nRows == len(SOURCES) else None, 20)
        check(rows is not None, "addfolder adds the five sources (%s)" % table_cells(table))
        if rows is None:
            return
        for row, name in zip(rows, sorted(SOURCES)):
            caption = "Desk Tone" if name == "a.mp3" else name
            frequency, channels = SOURCES[name]
            # ffmpeg's own WMA encoder drops the first frame, so that source is a little under 2 s.
            check(row[0] == caption and row[1] == frequency and row[2] == channels
                  and row[3] in ("00:00:02", "00:00:01" if name == "c.wma" else "00:00:02")
                  and row[5] == "Unconvert", "row of %s shows %s" % (name, row))

        # "addfile": the file dialog takes a typed path.
        press(buttons["addfile"])
        file_dialog = wait_for(lambda: next(iter(other_windows(app)), None), 10)
        check(file_dialog is not None, "addfile opens the file dialog")
        if file_dialog is None:
            return
        name_field = wait_for(lambda: find(file_dialog, "text", "File name:"), 5)
        name_field.queryEditableText().setTextContents(os.path.join(home, "b.wav"))
        press(wait_for(lambda: find(file_dialog, "push button", "Open"), 5))
        check(wait_for(lambda: table.queryTable().nRows == len(SOURCES) + 1, 10) is not None, "addfile adds the typed file")

        # "id3": one artist for all files, then Ok.
        press(buttons["id3"])
        editor = dialog(app, "ID3 Edit")
        check(editor is not None, "id3 opens the tag editor")
        if editor is None:
            return
        artist = find(editor, "text", "Artist:")
        artist.queryEditableText().setTextContents("Desk Artist")
        press(find(editor, "push button", "All: Artist"))
        press(find(editor, "push button", "Ok"))
        wait_for(lambda: not other_windows(app), 5)

        # "converter": every row converted into the music folder, carrying the edited artist.
        press(buttons["converter"])
        done = wait_for(lambda: all(r[5] == "finish" for r in table_cells(table)), 60)
        check(done is not None, "converter finishes every row (%s)" % [r[5] for r in table_cells(table)])
        labels = pyatspi.findAllDescendants(app, lambda a: a.getRoleName() == "label" and a.name.endswith("Music"))
        music = os.path.join(home, "Music")
        check([l.name for l in labels] == [music], "the folder label shows the music folder (%s)" % [l.name for l in labels])
        outputs = sorted(os.listdir(music)) if os.path.isdir(music) else []
        check(outputs == ["Desk Tone.wma", "b.wma", "b_1.wma", "c.wma", "d.wma", "e.wma"], "outputs %s" % outputs)
        check(all(probe_tag(os.path.join(music, o), "artist") == "Desk Artist" for o in outputs),
              "every output carries the artist set in the tag editor")
        press(buttons["clear"])
        wait_for(lambda: table.queryTable().nRows == 0, 5)
        if DRAG_SOURCE:
            check_drag_and_drop(table)

    def check_drag_and_drop(table):
        # Files dragged from another program onto the list are added.
        dragged = [os.path.join(home, "b.wav"), os.path.join(home, "e.vox")]
        source = subprocess.Popen([DRAG_SOURCE] + dragged, env=dict(os.environ, QT_QPA_PLATFORM="xcb"))
        try:
            time.sleep(1.5)
            table_extents = table.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            target = (table_extents.x + table_extents.width // 2, table_extents.y + table_extents.height // 2)
            subprocess.call(["xdotool", "mousemove", "780", "140", "mousedown", "1"])
            for step in range(1, 21):  # a gradual move, as a hand would make it
                x = 780 + (target[0] - 780) * step // 20
                y = 140 + (target[1] - 140) * step // 20
                subprocess.call(["xdotool", "mousemove", str(x), str(y)])
                time.sleep(0.05)
            subprocess.call(["xdotool", "mouseup", "1"])
            rows = wait_for(lambda: table_cells(table) if table.queryTable().nRows == 2 else None, 10)
            check(rows is not None and [r[0] for r in rows] == ["b.wav", "e.vox"],
                  "a drag of two files onto the list adds them (%s)" % table_cells(table))
        finally:
            source.kill()

    def close_dialogs(app):
        # A command may open a modal dialog or message box: close it as a user would.
        for _ in range(3):
            windows = wait_for(lambda: other_windows(app), timeout=1.5) or []
            if not windows:
                return
            for window in windows:
                # Cancel where there is one, so a dialog changes nothing; OK for message boxes.
                for wanted in ("Cancel", "OK"):
                    button = find(window, "push button", wanted)
                    if button is not None:
                        press(button)
                        break
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

        check_real_files(app, main_window, buttons, tables[0])

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
