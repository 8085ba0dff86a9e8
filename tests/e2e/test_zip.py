"""ZIP archives from the keyboard: Pack (Alt+F5), Unpack (Alt+F9), the ZIP
window (Enter on an archive) with its ticked extraction, an AES-encrypted
archive's password, a damaged archive that is said so and left alone, and
Info-ZIP's split archive unpacked from its last volume."""

import os
import subprocess
import zipfile

from e2e import DIALOG_CAPTION, expect, prepare

MEMBERS = {"one.txt": "one\n", "two.txt": "two\n", "three.txt": "three\n"}


def damaged(s):
    """right/archive.zip with one central record's signature changed: its
    directory must be rebuilt from the local headers."""
    data = bytearray(open(s.make_zip("right/archive.zip", MEMBERS), "rb").read())
    second = data.index(b"PK\1\2", data.index(b"PK\1\2") + 4)
    data[second + 3] = 9
    s.write("right/archive.zip", bytes(data))


def encrypted(s):
    s.write("secret.txt", "the secret bytes\n" * 100)
    subprocess.run(["7zz", "a", "-tzip", "-mem=AES256", "-pletmein", s.path("left/aes.zip"),
                    s.path("secret.txt")], check=True, capture_output=True)


def split(s):
    """left/split.z01, .z02 and split.zip by Info-ZIP zip -s (64 KiB volumes)."""
    s.write("noise.bin", os.urandom(150000))
    subprocess.run(["zip", "-q", "-0", "-s", "64k", s.path("left/split.zip"), "noise.bin"],
                   cwd=s.root, check=True)


def open_zip_window(s, name, title=None):
    s.cursor_to(name)
    s.key("Return")
    return s.wait_window(title or "ZIP - " + name)


def scenario_pack_alt_f5(s):
    s.cursor_to("a.txt")
    s.key("Insert", "Insert", "alt+F5")
    s.answer("Pack files to ZIP", "Return")  # into the right panel's archive.zip
    s.wait_exists("right/archive.zip")
    s.expect_panel_keys(s.left)
    with zipfile.ZipFile(s.path("right/archive.zip")) as z:
        expect(z.testzip() is None and sorted(z.namelist()) == ["a.txt", "b.txt"],
               f"the archive holds the marked files: {z.namelist()}")


@prepare(lambda s: s.make_zip("left/pack.zip", MEMBERS))
def scenario_unpack_alt_f9_and_the_zip_window(s):
    s.cursor_to("pack.zip")
    s.key("alt+F9")
    s.answer(DIALOG_CAPTION, "Return")  # "Unpack files to directory:" this one
    for name, text in MEMBERS.items():
        s.wait_exists("left/" + name)
        expect(s.read("left/" + name) == text, f"{name} holds its data")
        os.remove(s.path("left/" + name))
    s.expect_panel_keys(s.left)

    open_zip_window(s, "pack.zip")
    s.key("space", "alt+F9")  # ticks the first row, one.txt (rows are sorted by name)
    s.answer(DIALOG_CAPTION, "Return")
    s.wait_exists("left/one.txt")
    s.wait_no_window("ZIP - pack.zip", "the ZIP window closes after extracting")
    expect(not s.exists("left/two.txt") and not s.exists("left/three.txt"), "only the ticked entry is extracted")
    s.expect_panel_keys(s.left)
    open_zip_window(s, "pack.zip")
    s.answer("ZIP - pack.zip", "Escape")
    s.expect_panel_keys(s.left, "after Escape in the ZIP window")


@prepare(encrypted)
def scenario_aes_archive_asks_for_the_password(s):
    open_zip_window(s, "aes.zip")
    s.key("space", "alt+F9")
    s.answer(DIALOG_CAPTION, "Return")  # to this directory
    s.fill(DIALOG_CAPTION, "wrong")  # "Password for secret.txt:"
    s.fill(DIALOG_CAPTION, "letmein")  # asked again
    s.wait_exists("left/secret.txt")
    s.wait_until(lambda: s.read("left/secret.txt", binary=True) == s.read("secret.txt", binary=True),
                 "the extracted file holds the original bytes")
    s.expect_panel_keys(s.left)


@prepare(damaged)
def scenario_damaged_archive_is_said_and_not_written(s):
    before = s.read("right/archive.zip", binary=True)
    s.key("Tab")
    box = open_zip_window(s, "archive.zip", DIALOG_CAPTION)  # a warning before the list
    text = s.copied_text(box, lambda t: "damaged" in t)
    expect(text.startswith("archive directory damaged") and "may be incomplete" in text, f"the warning: {text!r}")
    s.key("Return")
    s.answer("ZIP - archive.zip [damaged]", "Escape")
    s.expect_panel_keys(s.right, "after the damaged archive's window")
    s.key("Tab")
    s.cursor_to("a.txt")
    s.key("alt+F5")
    s.wait_window("Pack files to ZIP")
    s.key("Return")  # onto the damaged archive.zip
    text = s.copied_text(s.wait_window(DIALOG_CAPTION), lambda t: "damaged" in t)
    expect("damaged" in text and "left as it is" in text, f"Pack says why it does not write: {text!r}")
    s.answer(DIALOG_CAPTION, "Return")  # and the Pack window closes too
    expect(s.read("right/archive.zip", binary=True) == before, "the damaged archive keeps every byte")
    s.expect_panel_keys(s.left)


@prepare(split)
def scenario_unpack_split_archive_of_info_zip(s):
    s.cursor_to("split.zip")
    s.key("alt+F9")
    s.answer(DIALOG_CAPTION, "Return")  # to this directory
    s.wait_exists("left/noise.bin")
    s.wait_until(lambda: s.read("left/noise.bin", binary=True) == s.read("noise.bin", binary=True),
                 "the file spread over three volumes is extracted whole")
    s.expect_panel_keys(s.left)
