"""Jobs: F5 on a large file, F2 sends its progress window to the background,
the Operations window (Ctrl+J) pauses the job, the panel goes on taking keys
meanwhile, and Cancel there ends the job with nothing of the file left; a
small copy queued with F2 in the Copy prompt arrives without a progress
window; the whole way of a long copy, from F5 to its notification, the Trash
and back."""

import importlib.util
import os
import shutil
import subprocess
import time

from e2e import MAIN_CAPTION, expect, prepare, wait_until

BIG = 4 << 30  # long enough to be caught running; a sparse source costs no disk


def make_big(s):
    with open(s.path("left/big.bin"), "wb") as f:
        f.truncate(BIG)


def hidden_right(s):
    return [n for n in os.listdir(s.right) if n.startswith(".")]


@prepare(make_big)
def scenario_background_pause_and_cancel(s):
    s.cursor_to("big.bin", "F5")
    s.answer(MAIN_CAPTION, "Return")
    # The progress window shows without taking the keyboard: F2 reaches it
    # through the main window.
    s.wait_until(lambda: any(t == MAIN_CAPTION and w != s.main for w, t in s.windows()),
                 "the progress window appears")
    s.key("F2")
    s.wait_until(lambda: all(w == s.main for w, _ in s.windows()), "F2 closes the progress window")
    s.key("ctrl+j")
    s.wait_window("Operations")
    s.key("alt+p")  # the first (only) job is selected
    # Paused: the copy stands still and nothing of it is visible yet.
    expect(not s.exists("right/big.bin"), "the paused copy is not at the destination")
    s.key("Escape")
    s.wait_no_window("Operations")
    s.expect_panel_keys(s.left, "the panel takes keys while the job runs in the background")
    s.key("ctrl+j")
    s.wait_window("Operations")
    s.key("alt+c")
    s.wait_until(lambda: not os.path.exists(s.path("right/big.bin")) and not hidden_right(s),
                 "the cancelled job left nothing behind")
    s.key("Escape")
    s.wait_no_window("Operations")
    s.expect_panel_keys(s.left, "after the Operations window")
    expect(sorted(os.listdir(s.right)) == ["r.txt"], f"right holds {sorted(os.listdir(s.right))}")


def scenario_f2_in_the_copy_prompt_queues(s):
    s.cursor_to("a.txt", "F5")
    s.wait_window(MAIN_CAPTION)
    s.key("F2")
    s.wait_exists("right/a.txt")
    expect(s.read("right/a.txt") == "alpha\n", "the queued copy is whole")
    s.expect_panel_keys(s.left, "after a queued copy")


# A stand-in for the desktop's notification service on a private session bus:
# it owns org.freedesktop.Notifications and writes each Notify's summary and
# body to a file, one line each.
NOTIFIER = r"""
import sys
from gi.repository import Gio, GLib
XML = ('<node><interface name="org.freedesktop.Notifications"><method name="Notify">'
       + ''.join(f'<arg type="{t}" direction="in"/>' for t in ("s", "u", "s", "s", "s", "as", "a{sv}", "i"))
       + '<arg type="u" direction="out"/></method></interface></node>')
node = Gio.DBusNodeInfo.new_for_xml(XML)
def call(conn, sender, path, iface, method, params, invocation):
    args = params.unpack()
    with open(sys.argv[1], "a") as f:
        f.write(args[3] + "\t" + args[4] + "\n")
    invocation.return_value(GLib.Variant("(u)", (1,)))
def on_bus(conn, name):
    conn.register_object("/org/freedesktop/Notifications", node.interfaces[0], call, None, None)
def on_name(conn, name):
    open(sys.argv[1], "a").close()
Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", 0, on_bus, on_name, None)
GLib.MainLoop().run()
"""

COPY = 2 << 30  # a sparse source: the copy takes a while without costing disk to make


def start_notifier(s):
    with open(s.path("left/big.bin"), "wb") as f:
        f.truncate(COPY)
    s.notes = None
    if shutil.which("dbus-daemon") is None or importlib.util.find_spec("gi") is None:
        print("note: no dbus-daemon or python3-gi: the notification is not checked", flush=True)
        return
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    address = bus.stdout.readline().strip()
    s.extra_env = {**s.extra_env, "DBUS_SESSION_BUS_ADDRESS": address}
    s.notes = s.path("notifications.txt")
    notifier = subprocess.Popen(["/usr/bin/python3", "-c", NOTIFIER, s.notes],
                                env={**os.environ, "DBUS_SESSION_BUS_ADDRESS": address},
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.cleanups = [lambda p=p: (p.terminate(), p.wait()) for p in (notifier, bus)]
    wait_until(lambda: os.path.exists(s.notes), "the notification service is on the bus", alive=lambda: True)


@prepare(start_notifier)
def scenario_whole_job_flow(s):
    """What a person does with a long copy: F5, F2 to the background, goes
    on in the panel, pauses and resumes it in the Operations window, hears
    of its end from a notification while that window has the keyboard, then
    moves the copy to the Trash with F8 and restores it from there."""
    s.cursor_to("big.bin", "F5")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_until(lambda: any(t == MAIN_CAPTION and w != s.main for w, t in s.windows()),
                 "the progress window appears")
    s.key("F2")
    s.wait_until(lambda: all(w == s.main for w, _ in s.windows()), "F2 closes the progress window")
    s.cursor_to("sub", "Return")  # goes on in the panel while the copy runs
    s.expect_panel_keys("left/sub", "the panel takes keys while the job runs")
    s.key("ctrl+j")
    operations = s.wait_window("Operations")
    s.wait_repainted(operations, ("alt+p",), "Pause shows the job paused")
    s.wait_repainted(operations, ("alt+r",), "Resume shows the job running")
    # The copy ends while the Operations window has the keyboard: the
    # notification says so.
    deadline = time.monotonic() + 180
    while not s.exists("right/big.bin") and time.monotonic() < deadline:
        time.sleep(0.2)
    s.wait_exists("right/big.bin", what="the resumed copy arrives")
    if s.notes is not None:
        s.wait_until(lambda: "\tDone" in open(s.notes).read(), "a notification tells the copy is done")
    expect(os.path.getsize(s.path("right/big.bin")) == COPY, "the copy is whole")
    s.key("Escape")
    s.wait_no_window("Operations")
    s.expect_panel_keys("left/sub", "after the Operations window")
    # F8 in the right panel: to the Trash; F5 in the Trash brings it back.
    s.key("Tab")
    s.wait_cwd(s.right)
    s.cursor_to("big.bin", "F8")
    s.answer(MAIN_CAPTION, "Return")  # "Move 1 item to the Trash?"
    s.wait_exists("right/big.bin", False)
    s.expect_panel_keys(s.right, "after F8")
    s.wait_repainted(s.main, ("alt+F2",), "the right drive box opens")
    s.wait_repainted(s.main, ("End", "Return"), "the right panel shows the Trash")
    s.key("Home", "Down", "F5")
    s.wait_exists("right/big.bin")
    expect(os.path.getsize(s.path("right/big.bin")) == COPY, "the restored copy is whole")
    s.wait_main_active()
    s.key("Home", "Return")
    s.wait_cwd(s.home, "the right panel left the Trash")


def make_noise(s):
    # Bytes deflate cannot shrink: packing them takes long enough to be caught.
    with open(s.path("left/noise.bin"), "wb") as f:
        f.write(os.urandom(96 << 20))


@prepare(make_noise)
def scenario_pack_in_the_background_paused_and_resumed(s):
    s.cursor_to("noise.bin", "alt+F5")
    s.answer("Pack files to ZIP", "Return")
    s.wait_until(lambda: any(t == MAIN_CAPTION and w != s.main for w, t in s.windows()),
                 "the progress window of the pack job appears")
    s.key("F2")
    s.wait_until(lambda: all(w == s.main for w, _ in s.windows()), "F2 sends the pack job to the background")
    s.expect_panel_keys(s.left, "the panel takes keys while the archive is packed")
    s.key("ctrl+j")
    s.wait_window("Operations")
    s.key("alt+p")
    # Paused: no archive appears while the job stands still.
    time.sleep(1.5)
    expect(not s.exists("right/archive.zip"), "the paused pack job wrote no archive yet")
    s.key("alt+r")
    s.key("Escape")
    s.wait_no_window("Operations")
    s.expect_panel_keys(s.left, "after pausing and resuming in the Operations window")
    # Packing takes its time on a loaded machine: a longer wait than the usual.
    deadline = time.monotonic() + 120
    while not s.exists("right/archive.zip") and time.monotonic() < deadline:
        time.sleep(0.2)
    s.wait_exists("right/archive.zip", what="the resumed pack job writes the archive")
    s.wait_until(lambda: subprocess.run(["unzip", "-tqq", s.path("right/archive.zip")],
                                        stderr=subprocess.DEVNULL).returncode == 0,
                 "the archive passes unzip -t")
    s.expect_panel_keys(s.left, "after the pack job ended")


def make_noise_dir(s):
    # A directory of bytes gzip cannot shrink: long enough to be caught running.
    os.makedirs(s.path("left/noise"))
    for i in range(3):
        with open(s.path(f"left/noise/part{i}.bin"), "wb") as f:
            f.write(os.urandom(32 << 20))


def pack_to_tar_gz_in_the_background(s):
    """Alt+F5, the Format box (Tab from the path, Down) on tar.gz, Enter: the
    pack job's progress window goes to the background with F2, the panels go
    on taking keys (into a directory and back), the Operations window lists
    the job, and the archive appears whole, with no temporary file beside it."""
    s.cursor_to("noise", "alt+F5")
    s.wait_window("Pack files to ZIP")
    s.key("Tab", "Down", "Return")
    s.wait_until(lambda: any(t == MAIN_CAPTION and w != s.main for w, t in s.windows()),
                 "the progress window of the tar.gz job appears")
    s.key("F2")
    s.wait_until(lambda: all(w == s.main for w, _ in s.windows()), "F2 sends the tar.gz job to the background")
    # Keep navigating: into docs/ and back up while the job runs.
    s.cursor_to("docs", "Return")
    s.wait_cwd(s.path("left/docs"), "Enter opens docs/ while the archive is packed")
    s.key("Home", "Return")
    s.wait_cwd(s.left, "back up while the archive is packed")
    s.key("ctrl+j")
    s.wait_window("Operations")
    s.display.screenshot(f"{s.artifacts}.png")
    s.key("Escape")
    s.wait_no_window("Operations")
    s.expect_panel_keys(s.left, "the panel takes keys while the tar.gz job runs")
    deadline = time.monotonic() + 120
    while not s.exists("right/archive.tar.gz") and time.monotonic() < deadline:
        time.sleep(0.2)
    s.wait_exists("right/archive.tar.gz", what="the tar.gz job writes the archive")
    listing = subprocess.run(["bsdtar", "-tvf", s.path("right/archive.tar.gz")], capture_output=True, text=True)
    expect(listing.returncode == 0, f"bsdtar reads the archive: {listing.stderr}")
    for i in range(3):
        expect(f"noise/part{i}.bin" in listing.stdout, f"part{i}.bin is in the archive: {listing.stdout}")
    expect(not hidden_right(s), f"no temporary file is left: {hidden_right(s)}")
    s.expect_panel_keys(s.left, "after the tar.gz job ended")


@prepare(make_noise_dir)
def scenario_pack_to_tar_gz_in_the_background(s):
    pack_to_tar_gz_in_the_background(s)


def dark(s):
    s.theme = "Adwaita:dark"


@prepare(make_noise_dir)
@prepare(dark)
def scenario_pack_to_tar_gz_in_the_background_dark(s):
    pack_to_tar_gz_in_the_background(s)
