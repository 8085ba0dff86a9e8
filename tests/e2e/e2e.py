#!/usr/bin/python3
"""End-to-end scenarios: the real vantrel window under Xvfb and openbox,
driven by synthetic keys and clicks (XTest), judged by what a user could see
from outside: files on disk, the window list, the active window, and the
process's current directory, which follows the active panel.

    e2e.py --program build/vantrel tests/e2e/test_files.py [-k NAME] [--repeat N]

Every scenario gets a fresh tree, a private HOME and configuration and a fresh
vantrel; the X server and the window manager live for the whole file. A
failing scenario leaves a screenshot of the whole screen in the artifacts
directory (--artifacts, default: the build tree's Testing/Temporary) and the
program's output in the log. Exit status: 0 all passed, 1 a failure, 77 a tool
is missing (ctest reports the file as skipped).
"""

import argparse
import ctypes
import importlib.util
import os
import re
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
# How long any awaited effect may take. The machine running the suite may be
# busy with other tests, so this is generous; the waits poll and return as soon
# as the effect is there.
TIMEOUT = float(os.environ.get("VANTREL_E2E_TIMEOUT", "20"))
POLL = 0.03
# A person's pace between two keys; the program must keep up with it.
KEY_GAP = 0.02
# And after a click: the toolkit may handle a click after keys sent within a
# few milliseconds of it, which no person does.
CLICK_GAP = 0.2
TOOLS = ("Xvfb", "openbox", "import")
MODIFIERS = {"shift": "Shift_L", "ctrl": "Control_L", "alt": "Alt_L"}
# Characters whose keysym name is not the character itself.
CHAR_KEYSYMS = {" ": "space", ".": "period", "-": "minus", "_": "underscore", "*": "asterisk",
                "/": "slash", "?": "question", ",": "comma", ":": "colon", "=": "equal",
                "'": "apostrophe", '"': "quotedbl", "~": "asciitilde", ">": "greater",
                "<": "less", "&": "ampersand", ";": "semicolon", "|": "bar", "$": "dollar"}

OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy><center>yes</center></placement>
  <theme><name>Clearlooks</name></theme>
  <desktops><number>1</number></desktops>
  <keyboard></keyboard>
  <mouse>
    <context name="Client">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
    </context>
    <context name="Titlebar">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
    </context>
  </mouse>
</openbox_config>
"""

# Programs vantrel hands files to (the desktop's opener, editors). In the test
# environment they only record their arguments, one line per start.
LAUNCHED_STUBS = ("xdg-open", "gnome-text-editor", "gedit", "kate", "kwrite", "mousepad",
                  "pluma", "xed", "featherpad", "leafpad")


class ScenarioFailure(AssertionError):
    pass


def _child_setup():
    # Children die with the runner, even when it is killed by SIGKILL (a ctest
    # timeout), so no X server or window manager outlives a run.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    os.setsid()


def _stop(proc, grace=2.0):
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()


def wait_until(predicate, what, timeout=TIMEOUT, alive=None):
    """Polls `predicate` until it returns a true value, which is returned.
    Fails with `what` after `timeout` seconds or when `alive()` turns false."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if alive is not None and not alive():
            raise ScenarioFailure(f"vantrel exited while waiting: {what}")
        if time.monotonic() > deadline:
            raise ScenarioFailure(f"timed out after {timeout:.0f} s: {what}")
        time.sleep(POLL)


class Display:
    """A private X server with openbox on it, and this process's connection to
    it: the window list, the active window and synthetic input (XTest) are
    read and sent in-process, without a program start per poll."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.xvfb = None
        self.wm = None
        self.name = None
        self.conn = None
        read_end, write_end = os.pipe()
        try:
            # -displayfd: the server picks a free display number itself and
            # writes it to the pipe, so several runs can share the machine.
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                 f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=open(os.path.join(workdir, "xvfb.log"), "w"), preexec_fn=_child_setup)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + TIMEOUT
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise ScenarioFailure("Xvfb did not report a display number")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise ScenarioFailure("Xvfb exited before it was ready")
                number += chunk
            self.name = ":" + number.decode().strip()
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        self.conn = Xlib.display.Display(self.name)
        self.root = self.conn.screen().root
        if not self.conn.has_extension("XTEST"):
            raise ScenarioFailure("the X server has no XTEST extension")
        self.atoms = {n: self.conn.intern_atom(n) for n in (
            "_NET_ACTIVE_WINDOW", "_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_WM_NAME",
            "UTF8_STRING", "_NET_SUPPORTING_WM_CHECK")}
        rc = os.path.join(workdir, "openbox-rc.xml")
        with open(rc, "w") as f:
            f.write(OPENBOX_RC)
        wm_home = os.path.join(workdir, "wm-home")
        os.makedirs(wm_home, exist_ok=True)
        self.wm = subprocess.Popen(
            ["openbox", "--sm-disable", "--config-file", rc],
            env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": self.name,
                 "HOME": wm_home, "XDG_CONFIG_HOME": wm_home},
            stdin=subprocess.DEVNULL, stdout=open(os.path.join(workdir, "openbox.log"), "w"),
            stderr=subprocess.STDOUT, preexec_fn=_child_setup)
        wait_until(lambda: self._property(self.root, "_NET_SUPPORTING_WM_CHECK"),
                   "openbox manages the screen", alive=lambda: self.wm.poll() is None)

    def _property(self, window, name):
        try:
            prop = window.get_full_property(self.atoms[name], X.AnyPropertyType)
        except Xlib.error.XError:
            return None
        return prop.value if prop is not None else None

    def active_window(self):
        value = self._property(self.root, "_NET_ACTIVE_WINDOW")
        return int(value[0]) if value is not None and len(value) and value[0] else None

    def clients(self):
        """The managed (mapped, top-level) windows as (id, pid, title)."""
        result = []
        for wid in self._property(self.root, "_NET_CLIENT_LIST") or []:
            window = self.conn.create_resource_object("window", int(wid))
            pid = self._property(window, "_NET_WM_PID")
            result.append((int(wid), int(pid[0]) if pid is not None and len(pid) else None,
                           self.title(int(wid))))
        return result

    def title(self, wid):
        window = self.conn.create_resource_object("window", wid)
        name = self._property(window, "_NET_WM_NAME")
        if name is None:
            try:
                name = window.get_wm_name()
            except Xlib.error.XError:
                name = None
        if isinstance(name, bytes):
            name = name.decode("utf-8", "replace")
        return name or ""

    def geometry(self, wid):
        """(x, y, width, height) of a window's client area on the screen."""
        window = self.conn.create_resource_object("window", wid)
        geometry = window.get_geometry()
        origin = window.translate_coords(self.root, 0, 0)
        return (-origin.x, -origin.y, geometry.width, geometry.height)

    # --- Synthetic input ------------------------------------------------------
    def _keycode(self, keysym):
        code = self.conn.keysym_to_keycode(keysym)
        if not code:
            raise ScenarioFailure(f"no key for keysym {keysym:#x}")
        return code

    def _tap(self, codes):
        for code in codes:
            xtest.fake_input(self.conn, X.KeyPress, code)
        for code in reversed(codes):
            xtest.fake_input(self.conn, X.KeyRelease, code)
        self.conn.sync()

    def key(self, combo):
        """One key with modifiers, as "F7", "shift+F4", "alt+n", "ctrl+a"."""
        *mods, name = combo.split("+")
        codes = [self._keycode(XK.string_to_keysym(MODIFIERS.get(m.lower(), m))) for m in mods]
        keysym = XK.string_to_keysym(name)
        if not keysym:
            raise ScenarioFailure(f"unknown key {name!r}")
        self._tap(codes + [self._keycode(keysym)])

    def type_char(self, char):
        keysym = XK.string_to_keysym(CHAR_KEYSYMS.get(char, char))
        if not keysym:
            keysym = ord(char)
        code = self._keycode(keysym)
        shifted = self.conn.keycode_to_keysym(code, 0) != keysym
        self._tap(([self._keycode(XK.XK_Shift_L)] if shifted else []) + [code])

    def click(self, x, y, count=1):
        xtest.fake_input(self.conn, X.MotionNotify, x=x, y=y)
        self.conn.sync()
        for i in range(count):
            if i:
                time.sleep(0.08)
            xtest.fake_input(self.conn, X.ButtonPress, 1)
            xtest.fake_input(self.conn, X.ButtonRelease, 1)
            self.conn.sync()

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env={
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": self.name},
            capture_output=True, timeout=60)

    def close(self):
        if self.conn is not None:
            try:
                self.conn.close()
            except Exception:  # the server may be gone already
                pass
        _stop(self.wm)
        _stop(self.xvfb)


class Session:
    """One vantrel in a fresh tree. Scenarios receive it as `s`.

    The tree (`s.root`) holds `left/` and `right/`, the directories of the two
    panels, with directories `docs/` and `sub/` and the files `a.txt`, `b.txt`
    and `c.txt` in `left/` and `r.txt` in `right/`. `@prepare` functions add
    to it before the program starts."""

    def __init__(self, display, program, workdir):
        self.display = display
        self.program = program
        self.workdir = workdir
        self.root = os.path.join(workdir, "tree")
        self.left = os.path.join(self.root, "left")
        self.right = os.path.join(self.root, "right")
        self.home = os.path.join(workdir, "home")
        self.config = os.path.join(self.home, ".config")
        self.launches = os.path.join(workdir, "launched.txt")
        self.log = os.path.join(workdir, "vantrel.log")
        self.proc = None
        self.main = None
        for d in (os.path.join(self.left, "docs"), os.path.join(self.left, "sub"), self.right,
                  self.config, os.path.join(workdir, "runtime"), os.path.join(workdir, "bin")):
            os.makedirs(d, exist_ok=True)
        os.chmod(os.path.join(workdir, "runtime"), 0o700)
        self.write("left/a.txt", "alpha\n")
        self.write("left/b.txt", "bravo\n")
        self.write("left/c.txt", "charlie\n")
        self.write("left/docs/notes.txt", "notes\n")
        self.write("left/sub/inner.txt", "inner\n")
        self.write("right/r.txt", "right\n")
        stub = "#!/bin/sh\n{ printf '%s' \"${0##*/}\"; for a; do printf ' %s' \"$a\"; done; echo; }" \
               f" >> '{self.launches}'\n"
        for name in LAUNCHED_STUBS:
            path = os.path.join(workdir, "bin", name)
            with open(path, "w") as f:
                f.write(stub)
            os.chmod(path, 0o755)
        self.settings = {
            "GENERAL": {"LeftPath": self.left, "RightPath": self.right, "Top": "0", "Left": "0",
                        "Width": "1000", "Height": "650", "LeftWidth": "500"},
            "FONT": {"Name": "DejaVu Sans", "Size": "9"},
        }

    # --- The tree -----------------------------------------------------------
    def path(self, rel):
        return os.path.join(self.root, rel)

    def write(self, rel, data):
        path = self.path(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
        return path

    def read(self, rel):
        with open(self.path(rel), "rb") as f:
            return f.read().decode(errors="replace")

    def exists(self, rel):
        return os.path.lexists(self.path(rel))

    def make_zip(self, rel, members):
        """A deflated archive with `members` ({name: text}), made by Python's zipfile."""
        path = self.path(rel)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in members.items():
                z.writestr(name, data)
        return path

    def listing(self, directory):
        """The entries of `directory` in the panel's default order: "..", the
        directories, then the files, each by name."""
        names = os.listdir(directory)
        dirs = sorted(n for n in names if os.path.isdir(os.path.join(directory, n)))
        files = sorted(n for n in names if not os.path.isdir(os.path.join(directory, n)))
        return [".."] + dirs + files

    def remove(self, rel):
        os.remove(self.path(rel))

    def zip_names(self, rel):
        """The member names of an archive, or an empty set while it cannot be read."""
        try:
            with zipfile.ZipFile(self.path(rel)) as z:
                return set(z.namelist())
        except (OSError, zipfile.BadZipFile):
            return set()

    def launched(self):
        """The programs vantrel started through the desktop, one line each."""
        if not os.path.exists(self.launches):
            return []
        with open(self.launches) as f:
            return f.read().splitlines()

    # --- The program ----------------------------------------------------------
    def start(self):
        with open(os.path.join(self.config, "vantrel.ini"), "w") as f:
            for section, keys in self.settings.items():
                f.write(f"[{section}]\n")
                for key, value in keys.items():
                    f.write(f"{key}={value}\n")
        env = {
            "PATH": os.path.join(self.workdir, "bin") + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_RUNTIME_DIR": os.path.join(self.workdir, "runtime"),
            "DISPLAY": self.display.name,
            "QT_QPA_PLATFORM": "xcb",
            "LC_ALL": "C.UTF-8",
            "TZ": os.environ.get("TZ", "UTC"),
            "NO_AT_BRIDGE": "1",
            "DBUS_SESSION_BUS_ADDRESS": "disabled:",
        }
        self.proc = subprocess.Popen([self.program], cwd=self.left, env=env,
                                     stdin=subprocess.DEVNULL, stdout=open(self.log, "w"),
                                     stderr=subprocess.STDOUT, preexec_fn=_child_setup)
        self.main = self.wait_window(MAIN_CAPTION, what="the main window")
        self.wait_main_active()
        self.wait_cwd(self.left, "the left panel is active at start")

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self):
        _stop(self.proc)

    def cwd(self):
        """The program's current directory: the active panel's directory."""
        try:
            return os.readlink(f"/proc/{self.proc.pid}/cwd")
        except OSError:
            return None

    # --- Windows --------------------------------------------------------------
    def windows(self):
        """The program's windows on screen as (id, title)."""
        return [(w, t) for w, pid, t in self.display.clients() if pid == self.proc.pid]

    def active(self):
        """(id, title) of the active window, or (None, "")."""
        w = self.display.active_window()
        return (w, self.display.title(w)) if w is not None else (None, "")

    def wait_window(self, title, active=True, what=None):
        """Waits for a window other than the main window titled `title` (the
        main window itself when `title` is the main caption and none is known
        yet) to be visible and, unless `active` is false, active. Returns its id."""
        def find():
            for w, t in self.windows():
                if t == title and w != self.main:
                    if not active or self.display.active_window() == w:
                        return w
            return None
        return wait_until(find, what or f'the window "{title}"' + (" is active" if active else ""),
                          alive=self.alive)

    def wait_window_starting(self, prefix, what=None):
        """Waits for an active window whose title begins with `prefix`."""
        def find():
            active = self.display.active_window()
            return next((w for w, t in self.windows() if t.startswith(prefix) and w == active), None)
        return wait_until(find, what or f'an active window "{prefix}..."', alive=self.alive)

    def wait_no_window(self, title, what=None):
        wait_until(lambda: all(t != title or w == self.main for w, t in self.windows()),
                   what or f'the window "{title}" closes', alive=self.alive)

    def wait_main_active(self, what="the main window is active again"):
        wait_until(lambda: self.display.active_window() == self.main, what, alive=self.alive)

    # --- Input ----------------------------------------------------------------
    def key(self, *keys):
        """Presses keys in turn, named as X names them, with modifiers joined
        by "+": "F7", "shift+F4", "Return", "alt+n"."""
        for combo in keys:
            self.display.key(combo)
            time.sleep(KEY_GAP)

    def type(self, text):
        for char in text:
            self.display.type_char(char)
            time.sleep(KEY_GAP)

    def click(self, window, x, y, double=False):
        """Clicks (twice for `double`) at (x, y) inside `window`'s client area."""
        wx, wy, _, _ = self.display.geometry(window)
        self.display.click(wx + x, wy + y, 2 if double else 1)
        time.sleep(CLICK_GAP)

    # --- Effects --------------------------------------------------------------
    def wait_until(self, predicate, what, timeout=TIMEOUT):
        return wait_until(predicate, what, timeout, alive=self.alive)

    def window_pixels(self, window):
        """The pixels of a window's client area as they are on the screen."""
        x, y, width, height = self.display.geometry(window)
        return self.display.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF).data

    def wait_repainted(self, window, before, what):
        """Waits until `window` looks different from `before` and has stopped
        changing (two looks 150 ms apart agree): a search or a load is over."""
        last = [before]

        def settled():
            now = self.window_pixels(window)
            done = now != before and now == last[0]
            last[0] = now
            if not done:
                time.sleep(0.15)
            return done
        self.wait_until(settled, what)

    def file_line_pixels(self, side="left"):
        """The pixels of a side's file line (the cursor entry's information)."""
        x, y, width, height = self.display.geometry(self.main)
        # Below it: the info line (19), the command line (21), the status bar (20).
        top = y + height - 20 - 21 - 19 - 19 + 2
        left = x + (0 if side == "left" else width // 2 + 4)
        return self.display.root.get_image(left, top, width // 2 - 8, 15, X.ZPixmap,
                                           0xFFFFFFFF).data

    def wait_cwd(self, directory, what=None):
        wait_until(lambda: self.cwd() == directory,
                   what or f"the active panel shows {directory} (it shows {self.cwd()})",
                   alive=self.alive)

    def wait_exists(self, rel, exists=True, what=None):
        wait_until(lambda: self.exists(rel) == exists,
                   what or f"{rel} {'appears' if exists else 'goes away'}", alive=self.alive)

    def cursor_to(self, name, directory=None):
        """Moves the active panel's cursor to `name` with Home and Down."""
        entries = self.listing(directory or self.cwd())
        if name not in entries:
            raise ScenarioFailure(f"{name} is not in {entries}")
        self.key("Home", *(["Down"] * entries.index(name)))

    def expect_panel_keys(self, directory, what="the panel takes keys"):
        """The main window is active and the panel showing `directory` has the
        keyboard: Home and Enter on ".." go up, Enter goes back down into the
        directory just left (the cursor stands on it)."""
        self.wait_main_active(f"{what}: the main window is active")
        self.wait_cwd(directory, f"{what}: the active panel shows {directory}")
        self.key("Home", "Return")
        self.wait_cwd(os.path.dirname(directory),
                      f"{what}: Home, Enter on '..' reaches the panel and goes up")
        self.key("Return")
        self.wait_cwd(directory, f"{what}: Enter goes back into {directory}")

    def answer(self, title, *keys):
        """Waits for the window `title` to be active, presses `keys` and waits
        for that window to close."""
        window = self.wait_window(title)
        self.key(*keys)
        self.wait_until(lambda: all(w != window for w, _ in self.windows()),
                        f'the window "{title}" closes')


def expect(condition, what):
    """Fails the scenario with `what` unless `condition` holds."""
    if not condition:
        raise ScenarioFailure(what)


def prepare(step):
    """Decorator: `step(s)` changes the tree or the settings before vantrel starts."""
    def mark(scenario):
        scenario.e2e_prepare = getattr(scenario, "e2e_prepare", []) + [step]
        return scenario
    return mark


def load_scenarios(path):
    where = importlib.util.spec_from_file_location(os.path.splitext(os.path.basename(path))[0], path)
    module = importlib.util.module_from_spec(where)
    where.loader.exec_module(module)
    scenarios = [(name[len("scenario_"):], fn) for name, fn in vars(module).items()
                 if name.startswith("scenario_") and callable(fn)]
    return module.__name__, scenarios


def describe_failure(s, display, artifacts, label):
    lines = []
    if s is not None and s.proc is not None:
        if s.alive():
            try:
                wins = s.windows()
                active = display.active_window()
                lines.append("  windows: " + (", ".join(
                    f'"{t}"' + (" (active)" if w == active else "") for w, t in wins) or "none"))
                focus = display.conn.get_input_focus().focus
                focus_id = focus if isinstance(focus, int) else focus.id
                lines.append(f"  active window: {s.active()[1]!r}; X input focus: {focus_id:#x}"
                             f" (main window {s.main:#x}); current directory: {s.cwd()}")
            except Exception as e:  # the report must not hide the failure
                lines.append(f"  (window list unavailable: {e})")
        else:
            lines.append(f"  vantrel exited with status {s.proc.returncode}")
    shot = os.path.join(artifacts, f"e2e-{label}.png")
    display.screenshot(shot)
    if os.path.exists(shot):
        lines.append(f"  screenshot: {shot}")
    if s is not None and os.path.exists(s.log):
        with open(s.log, errors="replace") as f:
            tail = f.read().strip().splitlines()[-int(os.environ.get("VANTREL_E2E_LOG_LINES", "15")):]
        if tail:
            lines.append("  vantrel output:\n    " + "\n    ".join(tail))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("file", help="a test_*.py file of scenarios")
    parser.add_argument("--program", default=os.environ.get("VANTREL_PROGRAM"))
    parser.add_argument("--artifacts", default=None)
    parser.add_argument("-k", dest="only", action="append", default=[],
                        help="run only scenarios whose name contains this")
    parser.add_argument("--repeat", type=int, default=1)
    args = parser.parse_args()
    # Scenario files import this module as "e2e": let them share this copy.
    sys.modules.setdefault("e2e", sys.modules[__name__])

    missing = [t for t in TOOLS if shutil.which(t) is None]
    if Xlib is None:
        missing.append("python3-xlib")
    if missing:
        print(f"SKIP: {', '.join(missing)} not installed (scripts/deps installs them)")
        return 77
    program = os.path.abspath(args.program or "build/vantrel")
    if not os.access(program, os.X_OK):
        print(f"no program at {program}")
        return 1
    artifacts = args.artifacts or os.path.join(os.path.dirname(program), "Testing", "Temporary")
    os.makedirs(artifacts, exist_ok=True)
    group, scenarios = load_scenarios(args.file)
    scenarios = [(n, f) for n, f in scenarios if not args.only or any(k in n for k in args.only)]

    # SIGTERM and SIGINT unwind through the finally blocks, so the program,
    # the window manager and the server are stopped on every exit.
    def interrupted(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)

    base = tempfile.mkdtemp(prefix="vantrel-e2e-")
    display = None
    passed = failed = 0
    try:
        display = Display(base)
        for round_ in range(args.repeat):
            for name, fn in scenarios:
                label = f"{group}-{name}" + (f"-{round_ + 1}" if args.repeat > 1 else "")
                workdir = tempfile.mkdtemp(prefix=name + "-", dir=base)
                s = None
                started = time.monotonic()
                try:
                    s = Session(display, program, workdir)
                    for step in getattr(fn, "e2e_prepare", []):
                        step(s)
                    s.start()
                    fn(s)
                    passed += 1
                    print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
                except Exception as e:  # every failure of a scenario is reported, then the next runs
                    failed += 1
                    detail = "" if isinstance(e, ScenarioFailure) else traceback.format_exc()
                    print(f"FAIL {name} ({time.monotonic() - started:.1f} s): {e}\n{detail}"
                          + describe_failure(s, display, artifacts, label), flush=True)
                finally:
                    if s is not None:
                        s.stop()
                    shutil.rmtree(workdir, ignore_errors=True)
    finally:
        if display is not None:
            display.close()
        shutil.rmtree(base, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
