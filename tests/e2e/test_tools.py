"""The tools a person reaches for every week, from the keyboard: quick view
following the cursor (Ctrl+Q, Tab into it and back); a terminal in the
active panel's directory (Shift+F9 and the Commands menu); synchronising
the two panels' directories with a row's action changed by key, and with a
ZIP archive typed as a side, in the background (light and dark)."""

import os
import subprocess
import time

from e2e import COMMANDS, expect, prepare


def right_side(s):
    """The pixels of the right panel's place (below its drive row, above the
    command line)."""
    x, y, width, height = s.display.geometry(s.main)
    return s.display.pixels(x + width // 2 + 20, y + 90, width // 2 - 40, height - 200)


def wait_right_side(s, keys, what, same_as=None):
    """Presses `keys` and waits until the right side has changed and settled
    (or, with `same_as`, until it looks exactly like that again)."""
    before = right_side(s)
    s.key(*keys)
    last = [before]

    def settled():
        now = right_side(s)
        done = now == same_as if same_as is not None else (now != before and now == last[0])
        last[0] = now
        return done
    s.wait_until(settled, what)
    return last[0]


@prepare(lambda s: s.write("left/b.txt", "\n".join(f"line {i} of bravo" for i in range(200)) + "\n"))
def scenario_quick_view_follows_the_cursor(s):
    panel = right_side(s)
    s.cursor_to("a.txt")
    on_a = wait_right_side(s, ("ctrl+q",), "Ctrl+Q turns the right panel into a view of a.txt")
    on_b = wait_right_side(s, ("Down",), "the view follows the cursor onto b.txt")
    wait_right_side(s, ("Up",), "back on a.txt the view shows a.txt again", same_as=on_a)
    wait_right_side(s, ("Up", "Up"), "on the directory sub the view shows its summary")
    s.cursor_to("b.txt")
    wait_right_side(s, (), "b.txt again", same_as=on_b)
    # Tab goes into the view, where PgDn scrolls the text; Tab comes back.
    wait_right_side(s, ("Tab", "Next"), "PgDn scrolls the view after Tab")
    s.key("Tab")
    wait_right_side(s, ("Down",), "Tab gave the keys back: Down moves the cursor onto c.txt")
    # Ctrl+Q again: the right panel is back as it was, and the left keeps the keys.
    wait_right_side(s, ("ctrl+q",), "Ctrl+Q brings the right panel back", same_as=panel)
    s.expect_panel_keys(s.left, "after the quick view")
    expect(s.launched() == [], f"nothing was started: {s.launched()}")


def terminal_stub(s):
    """x-terminal-emulator only writes down where it was started."""
    stub = f"#!/bin/sh\npwd >> '{s.path('terminal-starts.txt')}'\n"
    os.chmod(s.write(os.path.join(s.workdir, "bin", "x-terminal-emulator"), stub), 0o755)


def terminal_starts(s):
    return s.read("terminal-starts.txt").splitlines() if s.exists("terminal-starts.txt") else []


@prepare(terminal_stub)
def scenario_terminal_here(s):
    # Shift+F9 in the left panel, then from the Commands menu in the right one.
    s.key("shift+F9")
    s.wait_until(lambda: terminal_starts(s) == [s.left], f"a terminal starts in the left directory: {terminal_starts(s)}")
    s.key("Tab")
    s.wait_cwd("right")
    s.menu(COMMANDS, "o")  # the item's underlined letter runs it
    s.wait_until(lambda: terminal_starts(s) == [s.left, s.right],
                 f"the menu item starts one in the right directory: {terminal_starts(s)}")
    s.expect_panel_keys(s.right, "after the terminal started")


def scenario_synchronize_directories(s):
    # Commands | Synchronize directories, Enter compares; r.txt (only on the
    # right) is deleted instead of copied (Del on its row), Alt+S runs it all.
    s.menu(COMMANDS, "s")
    window = s.wait_window("Synchronize directories")
    s.wait_repainted(window, ("Return",), "Enter lists the differences")
    s.key("Down", "Down", "Down", "Down", "Delete")  # a.txt b.txt c.txt docs r.txt sub
    s.key("alt+s")
    for rel in ("right/a.txt", "right/c.txt", "right/docs/notes.txt", "right/sub/inner.txt"):
        s.wait_exists(rel, what=f"Synchronize copies {rel}")
    s.wait_exists("right/r.txt", exists=False, what="r.txt is deleted from the right")
    expect(not s.exists("left/r.txt"), "r.txt is not copied to the left")
    expect(s.read("right/docs/notes.txt") == "notes\n", "the copy has the data")
    # The run is a job followed by the operation window: over when it closes.
    # (It may show only after the files are there: two looks 300 ms apart.)
    alone = lambda: all(w in (s.main, window) for w, _ in s.windows())
    s.wait_until(lambda: alone() and not time.sleep(0.3) and alone(),
                 "the operation window closes when the run is over")
    s.wait_until(lambda: s.active()[0] == window, "the window is in front again after the run")
    s.key("Escape")
    s.wait_no_window("Synchronize directories")
    s.expect_panel_keys(s.left, "after Synchronize directories")


def zip_on_the_right(s):
    """right/box.zip holds docs/old.txt (packed by Info-ZIP)."""
    s.write("packed/docs/old.txt", "old\n")
    subprocess.run(["zip", "-qr", s.path("right/box.zip"), "."], cwd=s.path("packed"), check=True)


def zip_names(s):
    listed = subprocess.run(["unzip", "-Z1", s.path("right/box.zip")], capture_output=True, text=True)
    return set(listed.stdout.split())


def synchronize_with_a_typed_archive(s, theme):
    # Ctrl+Shift+F2; Alt+G to the right field: a place the archive lacks is
    # named in a message, after which the field has the keys again; the
    # archive's root compares, and F2 runs it all as a job behind the panels.
    s.key("ctrl+shift+F2")
    window = s.wait_window("Synchronize directories")
    s.key("alt+g", "ctrl+a")
    s.type(s.path("right/box.zip/nowhere"))
    s.key("Return")
    message = s.wait_until(lambda: s.active()[0] not in (s.main, window) and s.active()[0],
                           "a message says the typed place does not exist")
    text = s.copied_text(message, lambda t: "does not exist" in t)
    expect("box.zip/nowhere" in text and "does not exist" in text, f"the message names the place: {text!r}")
    s.key("Return")
    s.wait_until(lambda: s.active()[0] == window, "the message closes onto the window")
    s.key("ctrl+a")  # the right field has the keys again
    s.type(s.path("right/box.zip"))
    s.wait_repainted(window, ("Return",), "Enter compares the left directory with the archive")
    s.display.screenshot(f"{s.artifacts}-sync-archive-{theme}.png")
    s.key("F2")
    s.wait_no_window("Synchronize directories", "Background (F2) closes the window")
    wanted = {"a.txt", "b.txt", "c.txt", "docs/notes.txt", "sub/inner.txt", "docs/old.txt"}
    s.wait_until(lambda: wanted <= zip_names(s), f"the job copies into the archive: {sorted(zip_names(s))}")
    s.wait_exists("left/docs/old.txt", what="and out of it")
    expect(s.read("left/docs/old.txt") == "old\n", "the copy out has the data")
    expect(subprocess.run(["unzip", "-tqq", s.path("right/box.zip")]).returncode == 0, "unzip -t accepts the archive")
    expect(not s.exists("right/box.zip.new") and sorted(os.listdir(s.right)) == ["box.zip", "r.txt"],
           f"nothing else is left beside the archive: {sorted(os.listdir(s.right))}")
    s.expect_panel_keys(s.left, "after the job")


@prepare(zip_on_the_right)
def scenario_synchronize_with_a_typed_archive(s):
    synchronize_with_a_typed_archive(s, "light")


def dark(s):
    s.theme = "Adwaita:dark"


@prepare(zip_on_the_right)
@prepare(dark)
def scenario_synchronize_with_a_typed_archive_dark(s):
    synchronize_with_a_typed_archive(s, "dark")
