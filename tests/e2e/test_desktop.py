"""The program among the desktop's others: paths on its command line, a
second start handing its paths to the running window (a local socket when
there is no session bus, the session bus when there is one), --new-window,
and the file manager interface (ShowFolders, ShowItems, ShowItemProperties)
called with gdbus and dbus-send on a private session bus."""

import os
import shutil
import subprocess

from e2e import MAIN_CAPTION, TIMEOUT, _child_setup, _stop, expect

FILE_MANAGER = ("--dest", "org.freedesktop.FileManager1", "--object-path", "/org/freedesktop/FileManager1")


def uri(path):
    return "file://" + path.replace("%", "%25").replace(" ", "%20")


def expect_cursor_on(s, name, what):
    """F3 views the entry under the cursor: the viewer's title names it."""
    s.key("F3")
    s.wait_window(f"{name} - vnview", what=f"{what}: F3 shows {name}", anyone=True)
    s.key("Escape")
    s.wait_no_window(f"{name} - vnview", anyone=True)
    s.wait_main_active(f"{what}: the main window is active after the viewer")


def handed_over(s, *args):
    status, output = s.run_again(*args)
    expect(status == 0, f"vantrel {' '.join(args)} exits with {status}: {output}")
    expect(s.alive(), "the first window still runs")
    expect(sum(t == MAIN_CAPTION for _, t in s.windows(anyone=True)) == 1, "no second main window")


def scenario_paths_on_the_command_line(s):
    s.write("left/with space/x.txt", "x\n")
    s.exit()
    s.args = [os.path.relpath(s.path("left/sub/inner.txt"), s.left), "file://" + s.path("left/with%20space")]
    s.start(fresh=False)
    s.wait_cwd("left/sub", "the left panel opens at the file's directory")
    expect_cursor_on(s, "inner.txt", "a file given")
    s.key("Tab")
    s.wait_cwd("left/with space", "the right panel opens at the second path, a file: URI")


def scenario_second_start_opens_a_new_tab(s):
    handed_over(s, s.path("right"))
    s.wait_cwd("right", "the second start's path opens in the left panel")
    s.key("ctrl+w")
    s.wait_cwd("left", "it opened in a new tab: closing it shows the first one again")
    handed_over(s, "sub/inner.txt")  # relative to the second start's directory
    s.wait_cwd("left/sub")
    expect_cursor_on(s, "inner.txt", "a file handed over")
    status, output = s.run_again(s.path("left/missing"))
    expect(status == 0, f"a missing path is the running window's to report: {output}")
    s.answer(MAIN_CAPTION, "Return")  # "Cannot go to ...: No such file or directory"
    s.expect_panel_keys("left/sub", "after the message")
    # --new-window: a window of its own, which ends by itself.
    other = subprocess.Popen([s.program, "--new-window", s.path("right")], cwd=s.left, env=s.program_env(),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                             preexec_fn=_child_setup)
    try:
        s.wait_until(lambda: any(pid == other.pid and t == MAIN_CAPTION for _, pid, t in s.display.clients()),
                     "--new-window opens a second main window")
    finally:
        _stop(other)


def private_bus(s):
    """A session bus of the scenario's own: vantrel is restarted on it."""
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           preexec_fn=_child_setup)
    address = bus.stdout.readline().decode().strip()
    expect(address, "dbus-daemon gave no address")
    s.extra_env["DBUS_SESSION_BUS_ADDRESS"] = address
    s.exit()
    s.start(fresh=False)
    return bus


def call(s, tool, method, *uris):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), **s.extra_env}
    if tool == "gdbus":
        command = ["gdbus", "call", "--session", *FILE_MANAGER, "--method", "org.freedesktop.FileManager1." + method,
                   "[" + ", ".join(f"'{u}'" for u in uris) + "]", ""]
    else:
        command = ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.FileManager1",
                   "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1." + method,
                   "array:string:" + ",".join(uris), "string:"]
    done = subprocess.run(command, env=env, capture_output=True, timeout=TIMEOUT)
    expect(done.returncode == 0, f"{tool} {method}: {done.stderr.decode(errors='replace')}")


def scenario_file_manager_interface_on_a_session_bus(s):
    if not (shutil.which("dbus-daemon") and shutil.which("gdbus") and shutil.which("dbus-send")):
        print("  (dbus-daemon, gdbus or dbus-send missing: the scenario is skipped; scripts/deps installs them)")
        return
    bus = private_bus(s)
    try:
        call(s, "gdbus", "ShowItems", uri(s.path("left/sub/inner.txt")))
        s.wait_cwd("left/sub", "ShowItems opens the item's folder")
        expect_cursor_on(s, "inner.txt", "ShowItems")
        call(s, "gdbus", "ShowItems", uri(s.path("left/docs")))  # a folder is an item too
        s.wait_cwd("left", "ShowItems on a folder shows its parent")
        s.key("Return")
        s.wait_cwd("left/docs", "the cursor stood on docs: Enter opens it")
        call(s, "dbus-send", "ShowFolders", uri(s.path("right")))
        s.wait_cwd("right", "ShowFolders opens the folder")
        call(s, "dbus-send", "ShowItemProperties", uri(s.path("left/a.txt")))
        s.wait_window("Properties of a.txt", what="ShowItemProperties shows the item's properties")
        s.key("Escape")
        s.expect_panel_keys("left", "after the properties")
        handed_over(s, s.path("right"))  # a second start through the bus
        s.wait_cwd("right", "a second start's path arrives through the session bus")
        sockets = [n for n in os.listdir(os.path.join(s.workdir, "runtime")) if n.endswith(".socket")]
        expect(not sockets, f"with a session bus no socket is made: {sockets}")
    finally:
        _stop(s.proc)
        _stop(bus)
