"""Jobs: F5 on a large file, F2 sends its progress window to the background,
the Operations window (Ctrl+J) pauses the job, the panel goes on taking keys
meanwhile, and Cancel there ends the job with nothing of the file left; a
small copy queued with F2 in the Copy prompt arrives without a progress
window."""

import os
import subprocess
import time

from e2e import MAIN_CAPTION, expect, prepare

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
