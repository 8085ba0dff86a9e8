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
