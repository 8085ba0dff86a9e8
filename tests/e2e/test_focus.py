"""The keyboard stays with the panels: copy, pack, unpack and delete repeated
many times, and the drive boxes."""

import zipfile

from e2e import DIALOG_CAPTION, MAIN_CAPTION, expect, prepare

ROUNDS = 10


def many_files(s):
    for i in range(ROUNDS):
        s.write(f"left/f{i}.txt", f"file {i}\n")
        s.make_zip(f"left/pack{i}.zip", {f"x{i}.txt": f"x{i}\n"})


def packed(s):
    try:
        with zipfile.ZipFile(s.path("right/archive.zip")) as z:
            return set(z.namelist()) if z.testzip() is None else set()
    except (OSError, zipfile.BadZipFile):  # not written yet, or being written
        return set()


@prepare(many_files)
def scenario_commands_repeated(s):
    for i in range(ROUNDS):
        name, x = f"f{i}.txt", f"left/x{i}.txt"  # unpacked into its own directory
        for key, entry, dialog, done in (
                ("F5", name, MAIN_CAPTION, lambda: s.exists("right/" + name)),
                ("alt+F5", name, "Pack files to ZIP", lambda: name in packed(s)),  # into right/archive.zip
                ("alt+F9", f"pack{i}.zip", DIALOG_CAPTION, lambda: s.exists(x) and s.read(x) == f"x{i}\n"),
                ("F8", name, MAIN_CAPTION, lambda: not s.exists("left/" + name))):
            s.cursor_to(entry, key)
            s.answer(dialog, "Return")
            s.wait_until(done, f"{key} number {i + 1} on {entry} is done")
            s.expect_panel_keys(s.left, f"after {key} number {i + 1}")
    expect(packed(s) == {f"f{i}.txt" for i in range(ROUNDS)}, f"archive.zip holds every packed file: {packed(s)}")


def scenario_drive_box_escape(s):
    for key, side in (("alt+F1", s.left), ("alt+F2", s.right)):
        s.key(key, "Escape")
        s.expect_panel_keys(side, f"after {key}, Escape")
