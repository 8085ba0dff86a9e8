#!/usr/bin/python3
"""Runs the scenarios of one file against the real vantrel window under Xvfb
and openbox (README.md). Exit status: 0 all passed, 1 a failure, 77 a tool is
missing (ctest reports the file as skipped)."""

import argparse
import configparser
import ctypes
import os
import pwd
import runpy
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile

try:
    import Xlib.display
    import Xlib.error
    from Xlib import X, XK
    from Xlib.ext import xtest
except ImportError:  # reported as a missing tool by main()
    Xlib = None

MAIN_CAPTION = "Vantrel v. 1.6 (beta)"
DIALOG_CAPTION = "Vantrel"
SCREEN = (1280, 800)
# How long any awaited effect may take: generous for a busy machine; the waits
# poll and return as soon as the effect is there.
TIMEOUT = float(os.environ.get("VANTREL_E2E_TIMEOUT", "20"))
POLL = 0.03
KEY_GAP = 0.02  # a person's pace between two keys
CLICK_GAP = 0.2  # the toolkit may handle a click after keys sent within ms of it
MODIFIERS = {"shift": "Shift_L", "ctrl": "Control_L", "alt": "Alt_L"}
# The menus of the menu bar, left to right.
LEFT_PANEL, FILES, COMMANDS, OPTIONS = 0, 1, 2, 3

# Focus follows new windows and clicks, never the mouse; no key bindings of its own.
OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?><openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus><keyboard></keyboard>
  <placement><policy>Smart</policy><center>yes</center></placement><desktops><number>1</number></desktops>
  <theme><name>Clearlooks</name></theme><mouse><context name="Client"><mousebind button="Left" action="Press">
    <action name="Focus"/><action name="Raise"/></mousebind></context></mouse></openbox_config>
"""

# Programs vantrel hands files to (the desktop's opener, editors) only record
# their arguments, one line per start (`Session.launched`).
LAUNCHED_STUBS = ("xdg-open", "gnome-text-editor", "gedit", "kate", "kwrite", "mousepad",
                  "pluma", "xed", "featherpad", "leafpad")


class ScenarioFailure(AssertionError):
    """A scenario's expectation that did not hold: reported without a traceback."""


def expect(condition, what):
    if not condition:
        raise ScenarioFailure(what)


def _child_setup(uid=None):
    # Children die with the runner, even when it is killed by SIGKILL (a ctest
    # timeout), so no X server or window manager outlives a run.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    os.setsid()
    if uid is not None:
        os.setgroups([])
        os.setgid(pwd.getpwuid(uid).pw_gid)
        os.setuid(uid)


def _stop(proc):
    for sig in (signal.SIGTERM, signal.SIGKILL):  # TERM lets Xvfb remove its lock file
        if proc is None or proc.poll() is not None:
            return
        try:
            os.killpg(proc.pid, sig)
            proc.wait(2)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass


def wait_until(predicate, what, alive):
    """Polls `predicate` until it returns a true value, which is returned.
    Fails with `what` after TIMEOUT seconds or when `alive()` turns false."""
    deadline = time.monotonic() + TIMEOUT
    while not (value := predicate()):
        expect(alive(), f"vantrel exited while waiting: {what}")
        expect(time.monotonic() < deadline, f"timed out after {TIMEOUT:.0f} s: {what}")
        time.sleep(POLL)
    return value


class Display:
    """A private X server with openbox on it and this process's connection to
    it, for the window list and synthetic input without a program per poll."""

    def __init__(self, workdir):
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": workdir, "XDG_CONFIG_HOME": workdir}
        # -displayfd: the server picks a free display number itself and prints it.
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", "1", "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp",
             "-noreset", "-ac"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=open(os.path.join(workdir, "xvfb.log"), "w"), preexec_fn=_child_setup)
        ready = select.select([self.xvfb.stdout], [], [], TIMEOUT)[0]
        number = self.xvfb.stdout.readline().strip() if ready else b""
        expect(number, "Xvfb did not report a display number")
        self.name = self.env["DISPLAY"] = ":" + number.decode()
        self.conn = Xlib.display.Display(self.name)
        self.root = self.conn.screen().root
        expect(self.conn.has_extension("XTEST"), "the X server has no XTEST extension")
        self.atoms = {n: self.conn.intern_atom(n) for n in (
            "_NET_ACTIVE_WINDOW", "_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_WM_NAME", "_NET_SUPPORTING_WM_CHECK")}
        rc = os.path.join(workdir, "openbox-rc.xml")
        with open(rc, "w") as f:
            f.write(OPENBOX_RC)
        self.wm = subprocess.Popen(["openbox", "--sm-disable", "--config-file", rc], env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=open(os.path.join(workdir, "openbox.log"), "w"),
                                   stderr=subprocess.STDOUT, preexec_fn=_child_setup)
        wait_until(lambda: self._property(self.root, "_NET_SUPPORTING_WM_CHECK"),
                   "openbox manages the screen", alive=lambda: self.wm.poll() is None)

    def _property(self, window, name):
        try:
            if isinstance(window, int):
                window = self.conn.create_resource_object("window", window)
            prop = window.get_full_property(self.atoms[name], X.AnyPropertyType)
        except Xlib.error.XError:
            return None
        return prop.value if prop is not None and len(prop.value) else None

    def active_window(self):
        value = self._property(self.root, "_NET_ACTIVE_WINDOW")
        return int(value[0]) if value is not None and value[0] else None

    def clients(self):
        """The managed (mapped, top-level) windows as (id, pid, title)."""
        return [(int(w), int((self._property(int(w), "_NET_WM_PID") or [0])[0]), self.title(int(w)))
                for w in self._property(self.root, "_NET_CLIENT_LIST") or []]

    def title(self, wid):
        name = self._property(wid, "_NET_WM_NAME")
        return name.decode("utf-8", "replace") if isinstance(name, bytes) else name or ""

    def geometry(self, wid):
        """(x, y, width, height) of a window's client area on the screen."""
        window = self.conn.create_resource_object("window", wid)
        geometry, origin = window.get_geometry(), window.translate_coords(self.root, 0, 0)
        return (-origin.x, -origin.y, geometry.width, geometry.height)

    def pixels(self, x, y, width, height):
        return self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF).data

    def _tap(self, keysyms):
        """Presses the keys in turn, lets them go in reverse order, and waits a person's pace."""
        codes = [self.conn.keysym_to_keycode(k) for k in keysyms]
        expect(all(keysyms) and all(codes), f"no key for one of the keysyms {keysyms}")
        for event, order in ((X.KeyPress, codes), (X.KeyRelease, reversed(codes))):
            for code in order:
                xtest.fake_input(self.conn, event, code)
        self.conn.sync()
        time.sleep(KEY_GAP)

    def key(self, *combos):
        """Keys in turn: X key names, modifiers joined by "+" ("F7", "shift+F4", "alt+n")."""
        for combo in combos:
            *mods, name = combo.split("+")
            self._tap([XK.string_to_keysym(MODIFIERS.get(m.lower(), m)) for m in mods] + [XK.string_to_keysym(name)])

    def type(self, text):
        for keysym in map(ord, text):  # printable Latin-1 keysyms are their code points
            shifted = self.conn.keycode_to_keysym(self.conn.keysym_to_keycode(keysym), 0) != keysym
            self._tap(([XK.XK_Shift_L] if shifted else []) + [keysym])

    def hold(self, modifier, action):
        """Runs `action` (clicks) while the modifier ("shift", "ctrl", "alt") is held."""
        code = self.conn.keysym_to_keycode(XK.string_to_keysym(MODIFIERS[modifier]))
        xtest.fake_input(self.conn, X.KeyPress, code)
        self.conn.sync()
        try:
            action()
        finally:
            xtest.fake_input(self.conn, X.KeyRelease, code)
            self.conn.sync()
            time.sleep(KEY_GAP)

    def click(self, x, y):
        for event, detail in ((X.MotionNotify, 0), (X.ButtonPress, 1), (X.ButtonRelease, 1)):
            xtest.fake_input(self.conn, event, detail, x=x, y=y)
        self.conn.sync()
        time.sleep(CLICK_GAP)

    def clipboard(self):
        """The clipboard's text, asked from its owner as any program asks."""
        requestor = self.root.create_window(0, 0, 1, 1, 0, self.conn.screen().root_depth)
        prop = self.conn.intern_atom("VANTREL_E2E_SELECTION")
        requestor.convert_selection(self.conn.intern_atom("CLIPBOARD"), self.conn.intern_atom("UTF8_STRING"),
                                    prop, X.CurrentTime)
        self.conn.flush()
        deadline = time.monotonic() + 5
        try:
            while time.monotonic() < deadline:
                while self.conn.pending_events():
                    event = self.conn.next_event()
                    if event.type == X.SelectionNotify and event.requestor == requestor:
                        value = requestor.get_full_property(prop, X.AnyPropertyType)
                        return value.value.decode() if value is not None else None
                time.sleep(POLL)
            return None
        finally:
            requestor.destroy()
            self.conn.flush()

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=60, env=self.env)

    def close(self):
        try:
            self.conn.close()
        except Exception:  # the server may be gone already
            pass
        _stop(self.wm)
        _stop(self.xvfb)


class Session:
    """One vantrel in a fresh tree (`s.root`): `left/` holds `docs/`, `sub/`
    (with `inner.txt`), `a.txt`, `b.txt`, `c.txt`; `right/` holds `r.txt`.
    `@prepare` steps add to it, or change `s.settings`, before the start."""

    def __init__(self, display, program, workdir):
        self.display, self.program, self.workdir = display, program, workdir
        self.root, self.home = os.path.join(workdir, "tree"), os.path.join(workdir, "home")
        self.left, self.right, self.config = self.path("left"), self.path("right"), os.path.join(self.home, ".config")
        self.launches, self.log = os.path.join(workdir, "launched.txt"), os.path.join(workdir, "vantrel.log")
        self.key, self.type = display.key, display.type
        self.proc = self.main = self.uid = None
        self.theme = ""  # GTK_THEME for the program: "Adwaita:dark" asks for dark colours
        self.artifacts = None  # where screenshots are kept (set by main)
        # The command line's arguments and environment variables of the next start.
        self.args, self.extra_env = [], {}
        for d in (self.right, self.config, os.path.join(workdir, "runtime")):
            os.makedirs(d, mode=0o700, exist_ok=True)
        for rel, text in (("a.txt", "alpha"), ("b.txt", "bravo"), ("c.txt", "charlie"),
                          ("docs/notes.txt", "notes"), ("sub/inner.txt", "inner"), ("../right/r.txt", "right")):
            self.write("left/" + rel, text + "\n")
        stub = "#!/bin/sh\n{ printf '%s' \"${0##*/}\"; for a; do printf ' %s' \"$a\"; done; echo; }" \
               f" >> '{self.launches}'\n"
        for name in LAUNCHED_STUBS:
            os.chmod(self.write(os.path.join(workdir, "bin", name), stub), 0o755)
        self.settings = {"GENERAL": {"LeftPath": self.left, "RightPath": self.right, "Top": "0", "Left": "0",
                                     "Width": "1000", "Height": "650", "LeftWidth": "500"},
                         "FONT": {"Name": "DejaVu Sans", "Size": "9"}}

    def path(self, rel):
        return os.path.normpath(os.path.join(self.root, rel))

    def write(self, rel, data):
        path = self.path(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
        return path

    def read(self, rel, binary=False):
        with open(self.path(rel), "rb") as f:
            return f.read() if binary else f.read().decode(errors="replace")

    def exists(self, rel):
        return os.path.lexists(self.path(rel))

    def make_zip(self, rel, members):
        """A deflated archive with `members` ({name: text}), made by Python's zipfile."""
        with zipfile.ZipFile(self.path(rel), "w", zipfile.ZIP_DEFLATED) as z:
            [z.writestr(name, data) for name, data in members.items()]
        return self.path(rel)

    def listing(self, directory):
        """The entries of `directory` in the panel's order: "..", directories, files."""
        names = sorted(os.listdir(directory))
        return [".."] + sorted(names, key=lambda n: not os.path.isdir(os.path.join(directory, n)))

    def launched(self):
        """The programs vantrel started through the desktop, one line each."""
        return open(self.launches).read().splitlines() if os.path.exists(self.launches) else []

    def written(self):
        """The settings file as the program left it (keys keep their case)."""
        ini = configparser.ConfigParser(interpolation=None, strict=False)
        ini.optionxform = str
        ini.read(os.path.join(self.config, "vantrel.ini"), encoding="utf-8")
        return ini

    def start(self, fresh=True):
        """Starts vantrel; unless `fresh`, with the settings file it left."""
        if fresh:
            with open(os.path.join(self.config, "vantrel.ini"), "w") as f:
                for section, keys in self.settings.items():
                    f.write(f"[{section}]\n" + "".join(f"{k}={v}\n" for k, v in keys.items()))
        if self.uid is not None:  # an ordinary user's run: the tree becomes theirs
            for d, _, files in os.walk(self.workdir):
                for p in [d] + [os.path.join(d, f) for f in files]:
                    os.chown(p, self.uid, -1)
            os.chmod(os.path.dirname(self.workdir), 0o755)
        self.proc = subprocess.Popen([self.program, *self.args], cwd=self.left, env=self.program_env(),
                                     stdin=subprocess.DEVNULL, stdout=open(self.log, "a"), stderr=subprocess.STDOUT,
                                     preexec_fn=lambda: _child_setup(self.uid))
        self.main = None  # a new main window, which may get the old one's id
        self.main = self.wait_window(MAIN_CAPTION, what="the main window")
        self.wait_main_active()
        if fresh:
            self.wait_cwd(self.left, "the left panel is active at start")

    def program_env(self):
        """The environment vantrel runs in: a private home, runtime directory
        and display, no session bus unless `extra_env` names one."""
        env = {"PATH": os.path.join(self.workdir, "bin") + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
               "HOME": self.home, "XDG_CONFIG_HOME": self.config,
               "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
               "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
               "XDG_RUNTIME_DIR": os.path.join(self.workdir, "runtime"), "DISPLAY": self.display.name,
               "QT_QPA_PLATFORM": "xcb", "LC_ALL": "C.UTF-8", "TZ": os.environ.get("TZ", "UTC"),
               "NO_AT_BRIDGE": "1", "DBUS_SESSION_BUS_ADDRESS": "disabled:", "GTK_THEME": self.theme}
        return {**env, **self.extra_env}

    def run_again(self, *args):
        """Starts vantrel a second time, as the same user on the same display,
        and waits for it to end: (exit status, what it printed)."""
        second = subprocess.run([self.program, *args], cwd=self.left, env=self.program_env(),
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT,
                                preexec_fn=lambda: _child_setup(self.uid))
        return second.returncode, (second.stdout + second.stderr).decode(errors="replace")

    def restart(self):
        """Files | Exit, then a start with the settings the program wrote."""
        self.exit()
        self.start(fresh=False)

    def exit(self):
        self.menu(FILES, "Up", "Return")  # Exit, the last item
        wait_until(lambda: not self.alive(), "Files | Exit ends the program", alive=lambda: True)

    def alive(self):
        return self.proc.poll() is None

    def cwd(self):
        """The program's current directory: the active panel's directory."""
        try:
            return os.readlink(f"/proc/{self.proc.pid}/cwd")
        except OSError:
            return None

    def windows(self, anyone=False):
        """The windows on screen as (id, title): the program's, or with
        `anyone` those of every process (the viewer is a program of its own)."""
        return [(w, t) for w, pid, t in self.display.clients() if anyone or pid == self.proc.pid]

    def active(self):
        """(id, title) of the active window, or (None, "")."""
        w = self.display.active_window()
        return (w, self.display.title(w)) if w is not None else (None, "")

    def wait_window(self, title, what=None, anyone=False):
        """Waits for a window titled `title` (or, for a title ending in "...",
        starting with it) other than the main window to be active. Returns its id."""
        def find():
            w, t = self.active()
            named = t.startswith(title[:-3]) if title.endswith("...") else t == title
            return w if named and w != self.main and any(w == v for v, _ in self.windows(anyone)) else None
        return self.wait_until(find, what or f'the window "{title}" is active')

    def wait_no_window(self, title, what=None, anyone=False):
        self.wait_until(lambda: all(t != title or w == self.main for w, t in self.windows(anyone)),
                        what or f'the window "{title}" closes')

    def wait_main_active(self, what="the main window is active again"):
        self.wait_until(lambda: self.active()[0] == self.main, what)

    def click(self, window, x, y):
        """Clicks at (x, y) inside `window`'s client area; negative coordinates
        count from the right or bottom edge."""
        wx, wy, width, height = self.display.geometry(window)
        self.display.click(wx + x % width, wy + y % height)

    def menu(self, index, *keys):
        """F9 opens the menu bar on its first menu's first item, Right goes on
        to menu `index`; `keys` move on from there."""
        self.key("F9", *(["Right"] * index), *keys)

    def fill(self, title, text, *keys):
        """In the window `title`: types `text`, presses `keys` (Enter when
        none) and waits for the window to close."""
        window = self.wait_window(title)
        self.type(text)
        self.key(*(keys or ("Return",)))
        self.wait_until(lambda: all(w != window for w, _ in self.windows()), f'the window "{title}" closes')

    def answer(self, title, *keys):
        self.fill(title, "", *keys)

    def command(self, text):
        """Types `text` into the command line (the row above the 24-pixel
        function-key bar and the 20-pixel status bar) in place of what it
        holds, and Enter."""
        self.click(self.main, self.display.geometry(self.main)[2] // 2, -55)
        self.key("End", "shift+Home")
        self.type(text)
        self.key("Return")

    def copied_text(self, window, wanted, x=None, y=24):
        """The text of the control at (x, y) of `window` (by default a message
        box's text) through the clipboard (a click, Ctrl+A, Ctrl+C), read
        again until `wanted(text)` holds: keys that arrive while the click is
        being handled can be lost."""
        text = None
        for _ in range(10):
            self.click(window, self.display.geometry(window)[2] * 3 // 5 if x is None else x, y)
            self.key("ctrl+a", "ctrl+c")
            text = self.display.clipboard() or ""
            if wanted(text):
                break
        return text

    def wait_until(self, predicate, what):
        return wait_until(predicate, what, alive=self.alive)

    def window_pixels(self, window):
        return self.display.pixels(*self.display.geometry(window))

    def wait_repainted(self, window, action, what):
        """Presses the keys `action` (or calls it) and waits until `window`
        looks different and has stopped changing (two looks 150 ms apart agree)."""
        last = [self.window_pixels(window)]
        before = last[0]
        action() if callable(action) else self.key(*action)

        def settled():
            now = self.window_pixels(window)
            done, last[0] = now != before and now == last[0], now
            return done or time.sleep(0.15)
        self.wait_until(settled, what)

    def wait_cwd(self, directory, what=None):
        directory = self.path(directory)
        self.wait_until(lambda: self.cwd() == directory,
                        what or f"the active panel shows {directory} (it shows {self.cwd()})")

    def wait_exists(self, rel, exists=True, what=None):
        self.wait_until(lambda: self.exists(rel) == exists, what or f"{rel} {'appears' if exists else 'goes away'}")

    def cursor_to(self, name, *keys):
        """Moves the active panel's cursor to `name` with Home and Down, then presses `keys`."""
        entries = self.listing(self.cwd())
        expect(name in entries, f"{name} is not in {entries}")
        self.key("Home", *(["Down"] * entries.index(name)), *keys)

    def expect_panel_keys(self, directory, what="the panel takes keys"):
        """The main window is active and the panel showing `directory` has the
        keyboard: Home and Enter on ".." go up, Enter goes back down."""
        directory = self.path(directory)
        self.wait_main_active(f"{what}: the main window is active")
        # A copy or delete drops the keys sent while its progress window is
        # up, which may outlast the effect on disk: wait until two looks
        # 150 ms apart find no other window of the program.
        alone = lambda: all(w == self.main for w, _ in self.windows())
        self.wait_until(lambda: alone() and not time.sleep(0.15) and alone(), f"{what}: no other window")
        self.wait_cwd(directory, f"{what}: the active panel shows {directory} (it shows {self.cwd()})")
        self.key("Home", "Return")
        self.wait_cwd(os.path.dirname(directory), f"{what}: Home, Enter on '..' reaches the panel")
        self.key("Return")
        self.wait_cwd(directory, f"{what}: Enter goes back into {directory}")

    def expect_copied(self, expected, what):
        """F5 and Enter copy the marked entries to the right panel: exactly
        `expected` arrive there (which is emptied again), and the panel takes keys."""
        before = set(os.listdir(self.right))
        self.key("F5")
        self.answer(MAIN_CAPTION, "Return")
        for name in expected:
            self.wait_exists("right/" + name)
        self.expect_panel_keys("left", what)  # keys reach the panel once the copy is over
        copied = set(os.listdir(self.right)) - before
        expect(copied == set(expected), f"{what}: {sorted(copied)} copied")
        for name in copied:
            os.remove(os.path.join(self.right, name))


def prepare(step):
    """Decorator: `step(s)` changes the tree or the settings before vantrel starts."""
    def mark(scenario):
        scenario.e2e_prepare = getattr(scenario, "e2e_prepare", []) + [step]
        return scenario
    return mark


def describe_failure(s, display, shot):
    """The window list, the X input focus, a screenshot and the program's last output."""
    lines = []
    if s.proc is not None and s.alive():
        try:
            active, focus = display.active_window(), display.conn.get_input_focus().focus
            lines.append("  windows: " + ", ".join(f'"{t}"' + (" (active)" if w == active else "")
                                                   for w, t in s.windows(anyone=True)))
            lines.append(f"  X input focus: {getattr(focus, 'id', focus):#x} (main window "
                         f"{s.main or 0:#x}); current directory: {s.cwd()}")
        except Exception as e:  # the report must not hide the failure
            lines.append(f"  (window list unavailable: {e})")
    elif s.proc is not None:
        lines.append(f"  vantrel exited with status {s.proc.returncode}")
    display.screenshot(shot)
    if os.path.exists(shot):
        lines.append(f"  screenshot: {shot}")
    if os.path.exists(s.log):
        lines += ["  vantrel output:"] + ["    " + l for l in open(s.log, errors="replace").read().splitlines()[-15:]]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("file", help="a test_*.py file of scenarios")
    parser.add_argument("--program", default="build/vantrel")
    parser.add_argument("-k", dest="only", action="append", default=[],
                        help="run only scenarios whose name contains this")
    args = parser.parse_args()
    sys.modules.setdefault("e2e", sys.modules[__name__])  # scenario files share this copy

    missing = [t for t in ("Xvfb", "openbox", "import") if shutil.which(t) is None]
    if missing or Xlib is None:
        missing += [] if Xlib else ["python3-xlib"]
        print(f"SKIP: {', '.join(missing)} not installed (scripts/deps installs them)")
        return 77
    program = os.path.abspath(args.program)
    expect(os.access(program, os.X_OK), f"no program at {program}")
    artifacts = os.path.join(os.path.dirname(program), "Testing", "Temporary")  # beside the test log
    os.makedirs(artifacts, exist_ok=True)
    group = os.path.splitext(os.path.basename(args.file))[0]
    scenarios = [(n[len("scenario_"):], f) for n, f in runpy.run_path(args.file).items()
                 if n.startswith("scenario_") and (not args.only or any(k in n for k in args.only))]

    def interrupted(signum, _frame):  # unwinds through the finally blocks
        raise KeyboardInterrupt(f"signal {signum}")
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)

    base = tempfile.mkdtemp(prefix="vantrel-e2e-")
    display = None
    failed = 0
    try:
        display = Display(base)
        for name, fn in scenarios:
            s = Session(display, program, tempfile.mkdtemp(prefix=name + "-", dir=base))
            s.artifacts = os.path.join(artifacts, f"e2e-{group}-{name}")
            started = time.monotonic()
            try:
                for step in getattr(fn, "e2e_prepare", []):
                    step(s)
                s.start()
                fn(s)
                print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
            except Exception as e:  # every failure is reported, then the next scenario runs
                failed += 1
                detail = "" if isinstance(e, ScenarioFailure) else traceback.format_exc()
                print(f"FAIL {name} ({time.monotonic() - started:.1f} s): {e}\n{detail}"
                      + describe_failure(s, display, os.path.join(artifacts, f"e2e-{group}-{name}.png")), flush=True)
            finally:
                _stop(s.proc)
                for stop in getattr(s, "cleanups", []):  # what a prepare step started
                    stop()
                shutil.rmtree(s.workdir, ignore_errors=True)
    finally:
        if display is not None:
            display.close()
        shutil.rmtree(base, ignore_errors=True)
    print(f"{len(scenarios) - failed} passed, {failed} failed")
    return 0 if failed == 0 and scenarios else 1


if __name__ == "__main__":
    sys.exit(main())
