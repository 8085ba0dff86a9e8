"""ZIP archives from the keyboard: the ZIP window (Enter on an archive) with
its ticked extraction to the other panel, F3 on an entry, an AES-encrypted
archive's password, Info-ZIP's split
archive unpacked (Alt+F9) from its last volume, and a damaged archive that is
shown only when the user wants what could be read, repaired into a new
archive, and left alone by Pack (Alt+F5); a Russian DOS archive whose names
the Code page menu reads in CP866, extracted under those names."""

import os
import subprocess

from e2e import DIALOG_CAPTION, expect, prepare

MEMBERS = {"one.txt": "one\n", "two.txt": "two\n", "three.txt": "three\n"}


def archives(s):
    """left/pack.zip by Python; left/aes.zip by 7-Zip with AES-256; left/split.z01,
    .z02 and split.zip by Info-ZIP zip -s (64 KiB volumes). Enter opens the ZIP
    window, as the Options switch says."""
    s.settings["GENERAL"]["ZipWindowOnEnter"] = "1"
    s.make_zip("left/pack.zip", MEMBERS)
    s.write("secret.txt", "the secret bytes\n" * 100)
    s.write("noise.bin", os.urandom(150000))
    for command in (["7zz", "a", "-tzip", "-mem=AES256", "-pletmein", s.path("left/aes.zip"), "secret.txt"],
                    ["zip", "-q", "-0", "-s", "64k", s.path("left/split.zip"), "noise.bin"]):
        subprocess.run(command, cwd=s.root, check=True, capture_output=True)


def damaged(s):
    """right/archive.zip with one central record's signature changed: its
    directory must be rebuilt from the local headers. Enter opens the ZIP window."""
    s.settings["GENERAL"]["ZipWindowOnEnter"] = "1"
    data = bytearray(open(s.make_zip("right/archive.zip", MEMBERS), "rb").read())
    second = data.index(b"PK\1\2", data.index(b"PK\1\2") + 4)
    data[second + 3] = 9
    s.write("right/archive.zip", bytes(data))


def open_zip_window(s, name, title=None):
    s.cursor_to(name, "Return")
    return s.wait_window(title or "ZIP - " + name)


@prepare(archives)
def scenario_zip_window_ticked_encrypted_and_split(s):
    # Space ticks the first row (rows are sorted by name), Alt+F9 extracts it
    # to the other panel's directory; an AES entry says a wrong password and
    # asks again until it fits.
    for archive, passwords, extracted, original in (("pack.zip", (), "one.txt", None),
                                                     ("aes.zip", ("wrong", "letmein"), "secret.txt", "secret.txt")):
        open_zip_window(s, archive)
        s.key("space", "alt+F9")
        s.answer(DIALOG_CAPTION, "Return")  # "Unpack files to directory:" the right panel's
        for password in passwords:
            s.fill(DIALOG_CAPTION, password)  # "Password for secret.txt:", then "Wrong password for ..."
        s.wait_exists("right/" + extracted)
        s.wait_no_window("ZIP - " + archive, "the ZIP window closes after extracting")
        s.wait_until(lambda: s.read("right/" + extracted) == (s.read(original) if original else MEMBERS[extracted]),
                     f"{extracted} holds the original bytes")
        s.expect_panel_keys(s.left, f"after extracting from {archive}")
    expect(not s.exists("right/two.txt") and not s.exists("left/one.txt"), "only the ticked entry is extracted")
    # F3 views the entry under the cursor; the ZIP window stays and takes Escape.
    open_zip_window(s, "pack.zip")
    s.key("F3")
    s.wait_window("one.txt - vnview", anyone=True)
    s.key("Escape")
    s.wait_no_window("one.txt - vnview", "Escape closes the viewer", anyone=True)
    s.answer("ZIP - pack.zip", "Escape")
    s.expect_panel_keys(s.left, "after the viewer and Escape in the ZIP window")

    s.cursor_to("split.zip", "alt+F9")
    s.answer(DIALOG_CAPTION, "Return")  # Unpack: to the panel's own directory
    s.wait_exists("left/noise.bin")
    s.wait_until(lambda: s.read("left/noise.bin", binary=True) == s.read("noise.bin", binary=True),
                 "the file spread over three volumes is extracted whole")
    s.expect_panel_keys(s.left)


@prepare(damaged)
def scenario_damaged_archive_is_asked_about_repaired_and_not_written(s):
    before = s.read("right/archive.zip", binary=True)
    s.key("Tab")
    # No: the list is not shown.
    box = open_zip_window(s, "archive.zip", DIALOG_CAPTION)
    text = s.copied_text(box, lambda t: "damaged" in t)
    expect(text == "This archive is damaged: 3 entries could be read. Show them?", f"the question: {text!r}")
    s.answer(DIALOG_CAPTION, "Escape")
    s.expect_panel_keys(s.right, "after No to the damaged archive")
    # Yes: the list, and Repair archive writes a new archive beside it.
    open_zip_window(s, "archive.zip", DIALOG_CAPTION)
    s.answer(DIALOG_CAPTION, "Return")
    s.wait_window("ZIP - archive.zip [damaged]")
    s.menu(0, "Down", "Down", "Down", "Down", "Return")  # File, Repair archive...
    s.answer(DIALOG_CAPTION, "Return")  # to archive-repaired.zip beside it
    box = s.wait_window(DIALOG_CAPTION)
    text = s.copied_text(box, lambda t: "written" in t)
    expect(text.startswith("3 entries were written to") and text.endswith("archive-repaired.zip."),
           f"the repair says what it wrote: {text!r}")
    s.key("Return")
    expect(subprocess.run(["unzip", "-tqq", s.path("right/archive-repaired.zip")]).returncode == 0,
           "the repaired archive passes unzip -t")
    s.answer("ZIP - archive.zip [damaged]", "Escape")
    s.expect_panel_keys(s.right, "Tab to the right panel, and after the damaged archive's window")
    s.key("Tab")
    s.cursor_to("a.txt", "alt+F5")
    s.wait_window("Pack files to ZIP")
    s.key("Return")  # onto the damaged archive.zip
    text = s.copied_text(s.wait_window(DIALOG_CAPTION), lambda t: "damaged" in t)
    expect("damaged" in text and "left as it is" in text, f"Pack says why it does not write: {text!r}")
    s.answer(DIALOG_CAPTION, "Return")  # and the Pack window closes too
    expect(s.read("right/archive.zip", binary=True) == before, "the damaged archive keeps every byte")
    s.expect_panel_keys(s.left, "Tab back to the left panel, and after Pack")


def russian(s):
    """left/ru.zip: "Привет.txt" and "Мир/Дом.txt" in CP866 without the UTF-8
    flag, as a DOS archiver writes them (Python writes ASCII stand-ins of the
    same length, then the bytes take their places). Enter opens the ZIP window."""
    s.settings["GENERAL"]["ZipWindowOnEnter"] = "1"
    names = ["Привет.txt".encode("cp866"), "Мир/Дом.txt".encode("cp866")]
    stand = [b"Z" * (len(n) - 3) + b"Q%dQ" % i for i, n in enumerate(names)]
    data = open(s.make_zip("left/ru.zip", {n.decode(): "data %d\n" % i for i, n in enumerate(stand)}), "rb").read()
    for old, new in zip(stand, names):
        data = data.replace(old, new)
    s.write("left/ru.zip", data)


@prepare(russian)
def scenario_code_page_menu_then_the_next_key(s):
    # F9, Right: the Code page menu on Automatic; then UTF-8, CP437, CP850,
    # CP866. After the choice the list has the keys again (the cursor stays
    # on its entry): Ctrl+Home goes to the first row, Space ticks it, Alt+F9
    # extracts it to the other panel under its name there.
    for downs, first, data in ((2, "Åα¿óÑΓ.txt", "data 0\n"),  # CP437: what a DOS reading would show
                               (4, "Мир/Дом.txt", "data 1\n")):  # CP866: the names meant
        open_zip_window(s, "ru.zip")
        s.menu(1, *(["Down"] * downs), "Return")
        s.key("ctrl+Home", "space", "alt+F9")
        s.answer(DIALOG_CAPTION, "Return")
        s.wait_exists("right/" + first, what=f"the ticked entry as {first}")
        s.wait_no_window("ZIP - ru.zip", "the ZIP window closes after extracting")
        expect(s.read("right/" + first) == data, f"{first} holds its entry's bytes")
        s.expect_panel_keys(s.left, f"after the code page and extracting {first}")
    expect(not s.exists("right/Привет.txt"), "only the ticked entries")
