"""A tar.gz that takes seconds to list, from the keyboard: Enter shows the
rows found so far with a bar of the bytes read while the archive is
inflated, Escape stops the reading and keeps what was found, the next key
moves in the listing, F3 views an entry found, and the panel leaves the
archive and comes back without reading it again. Screenshots light and
dark."""

import os
import subprocess
import sys
import time

from e2e import MAIN_CAPTION, expect, prepare


def long_archive(s):
    """left/long.tar.gz: first.txt, big.bin (gigabytes of zeros), later/last.txt."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "long_tar_gz.py")
    subprocess.run([sys.executable, script, s.path("left/long.tar.gz"), "32768"], check=True)
    os.makedirs(s.path("tmp"), exist_ok=True)
    s.extra_env["TMPDIR"] = s.path("tmp")


def enter_and_stop(s, what):
    # While it is read the root shows "..", "big.bin", "first.txt"; "later"
    # comes only at the end of the zeros.
    s.cursor_to("long.tar.gz", "Return")
    time.sleep(1.0)  # the rows found and the bar are on the screen
    s.display.screenshot(f"{s.artifacts}-{what}.png")
    s.key("Escape")
    # The next key: Home, Down, Down reaches first.txt, which F3 shows, so
    # the reading has stopped (an entry cannot be read while it runs) and
    # the listing holds no "later".
    s.key("Home", "Down", "Down", "F3")
    s.wait_window("first.txt - vnview", what=f"{what}: F3 after Escape shows first.txt", anyone=True)
    s.key("Escape")
    s.wait_no_window("first.txt - vnview", f"{what}: Escape closes the viewer", anyone=True)
    s.wait_main_active(f"{what}: the main window is active again")


@prepare(long_archive)
def scenario_escape_during_the_listing_keeps_what_was_found(s):
    started = time.monotonic()
    enter_and_stop(s, "light")
    expect(time.monotonic() - started < 60, "Escape stopped the reading of gigabytes of zeros")
    # Out by "..", the cursor back on the archive, and in again: the kept
    # listing is shown at once, not read again (F3 on first.txt works
    # straight away, which it could not while a reading runs).
    s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after leaving the stopped archive")
    s.cursor_to("long.tar.gz", "Return")
    s.key("Home", "Down", "Down", "F3")
    s.wait_window("first.txt - vnview", what="the kept listing, entered again", anyone=True)
    s.key("Escape")
    s.wait_main_active()
    s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after the second visit")


def dark(s):
    s.theme = "Adwaita:dark"


@prepare(long_archive)
@prepare(dark)
def scenario_listing_on_a_dark_desktop(s):
    enter_and_stop(s, "dark")
    s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after the dark run")
