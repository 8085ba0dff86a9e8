"""Archives as folders in the panel, from the keyboard: Enter on a ZIP
archive shows its root, Enter and Backspace walk its directories, quick
search finds an entry, F3 shows an entry through a private copy that goes
when the viewer closes, ".." at the root leaves with the cursor on the
archive, and an encrypted archive asks its password once (again after a
wrong one). After each step the panel takes the next key."""

import os
import subprocess

from e2e import DIALOG_CAPTION, MAIN_CAPTION, expect, prepare

MEMBERS = {"2024/summer/deep.txt": "deep\n", "2024/winter.txt": "cold\n", "top.txt": "top\n"}


def private_tmp(s):
    """A temporary directory of the program's own, to see its copies go."""
    os.makedirs(s.path("tmp"), exist_ok=True)
    s.extra_env["TMPDIR"] = s.path("tmp")


def photos(s):
    s.make_zip("left/photos.zip", MEMBERS)
    private_tmp(s)


def view(s, name, what):
    """F3 on the cursor entry shows `name` in the viewer; Escape closes it and
    the private copy goes with it."""
    s.key("F3")
    s.wait_window(f"{name} - vnview", what=f"{what}: F3 shows {name}", anyone=True)
    s.key("Escape")
    s.wait_no_window(f"{name} - vnview", f"{what}: Escape closes the viewer", anyone=True)
    s.wait_main_active(f"{what}: the main window is active again")
    copies = lambda: [n for n in os.listdir(s.path("tmp")) if n.startswith("vantrel-view-")]
    s.wait_until(lambda: copies() == [], f"{what}: the copy of {name} is removed")


@prepare(photos)
def scenario_enter_walk_search_view_and_leave(s):
    # Sorted: "..", "2024", "top.txt"; inside 2024: "..", "summer", "winter.txt".
    s.cursor_to("photos.zip", "Return")
    s.key("Down", "Return", "Down", "Return", "Down")  # 2024, summer, deep.txt
    view(s, "deep.txt", "two levels down")
    s.key("BackSpace")  # up into 2024, the cursor on summer
    s.key("Down")
    view(s, "winter.txt", "after Backspace")
    s.key("ctrl+Prior", "ctrl+s")  # up to the root; quick search
    s.type("to")
    s.key("Return")
    view(s, "top.txt", "after quick search")
    # ".." at the root: back in the directory, the cursor on the archive.
    s.key("Home", "Return", "F5")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_exists("right/photos.zip", what="F5 after leaving copies the archive under the cursor")
    s.expect_panel_keys(s.left, "after leaving the archive")


def encrypted(s):
    s.write("secret.txt", "the secret bytes\n")
    s.write("other.txt", "other secret\n")
    subprocess.run(["7zz", "a", "-tzip", "-mem=AES256", "-pletmein", s.path("left/locked.zip"),
                    "secret.txt", "other.txt"], cwd=s.root, check=True, capture_output=True)
    private_tmp(s)


@prepare(encrypted)
def scenario_password_asked_once(s):
    # "..", "other.txt", "secret.txt": a wrong password is asked again, the
    # right one is kept for the next entry of the same archive.
    s.cursor_to("locked.zip", "Return")
    s.key("Down", "F3")
    s.fill(DIALOG_CAPTION, "wrong")
    s.fill(DIALOG_CAPTION, "letmein")
    s.wait_window("other.txt - vnview", anyone=True)
    s.key("Escape")
    s.wait_no_window("other.txt - vnview", anyone=True)
    s.wait_main_active()
    s.key("Down")
    view(s, "secret.txt", "the second entry needs no second question")
    s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after the encrypted archive")
