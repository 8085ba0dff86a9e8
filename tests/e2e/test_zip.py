"""ZIP archives from the keyboard: Pack (Alt+F5), Unpack (Alt+F9) and the
ZIP window (Enter on an archive)."""

import zipfile

from e2e import DIALOG_CAPTION, expect, prepare


def make_archive(s):
    s.make_zip("left/pack.zip", {"one.txt": "one\n", "two.txt": "two\n", "three.txt": "three\n"})


def scenario_pack_alt_f5(s):
    s.cursor_to("a.txt")
    s.key("Insert", "Insert")
    s.key("alt+F5")
    s.answer("Pack files to ZIP", "Return")  # into the right panel's archive.zip
    s.wait_exists("right/archive.zip")
    s.expect_panel_keys(s.left)
    with zipfile.ZipFile(s.path("right/archive.zip")) as z:
        expect(z.testzip() is None and sorted(z.namelist()) == ["a.txt", "b.txt"],
               f"the archive holds the marked files: {z.namelist()}")


@prepare(make_archive)
def scenario_unpack_alt_f9(s):
    s.cursor_to("pack.zip")
    s.key("alt+F9")
    s.answer(DIALOG_CAPTION, "Return")  # "Unpack files to directory:" this one
    for name in ("one.txt", "two.txt", "three.txt"):
        s.wait_exists("left/" + name)
    expect(s.read("left/three.txt") == "three\n", "the extracted file holds its data")
    s.expect_panel_keys(s.left)


@prepare(make_archive)
def scenario_zip_window_extract_ticked_then_escape(s):
    s.cursor_to("pack.zip")
    s.key("Return")
    s.wait_window("ZIP - pack.zip")
    s.key("space")  # ticks the first row, one.txt (rows are sorted by name)
    s.key("alt+F9")  # extract selected files
    s.answer(DIALOG_CAPTION, "Return")
    s.wait_exists("left/one.txt")
    s.wait_no_window("ZIP - pack.zip", "the ZIP window closes after extracting")
    expect(not s.exists("left/two.txt") and not s.exists("left/three.txt"),
           "only the ticked entry is extracted")
    s.expect_panel_keys(s.left)

    s.cursor_to("pack.zip")
    s.key("Return")
    s.wait_window("ZIP - pack.zip")
    s.key("Escape")
    s.wait_no_window("ZIP - pack.zip", "Escape closes the ZIP window")
    s.expect_panel_keys(s.left, "after Escape in the ZIP window")
