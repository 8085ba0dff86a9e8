"""Archives as folders in the panel, from the keyboard: Enter on a ZIP
archive shows its root, Enter and Backspace walk its directories, quick
search finds an entry, F3 shows an entry through a private copy that goes
when the viewer closes, ".." at the root leaves with the cursor on the
archive, F5 out (answering the overwrite question) and in, F5 from one
archive panel into another, F8 and Shift+F6 change the archive (read back by
Python's zipfile and unzip -t), an archive inside the archive opens and
leads back out, and an encrypted archive asks its password once (again after
a wrong one). Archives known by their content (.jar, .docx, ...) open with
Ctrl+PgDn; F4 asks before the archive takes the edited copy, Enter hands a
private copy to the desktop, F7, F8 on a directory and F6 out change the
archive; nested, multi-volume and damaged archives refuse changes with
their reason; the ZIP window setting still opens the window on Enter.
After each step the panel takes the next key."""

import io
import os
import subprocess
import time
import zipfile

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
    # Out and in again: the password given this run still holds.
    s.wait_cwd("left")
    s.cursor_to("locked.zip", "Return", "Down")
    view(s, "other.txt", "entered again, no question")
    s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after the encrypted archive")


def with_nested(s):
    """left/photos.zip holding a directory, a file and an archive of its own."""
    inner = io.BytesIO()
    with zipfile.ZipFile(inner, "w") as z:
        z.writestr("deep.txt", "deep inside\n")
    with zipfile.ZipFile(s.path("left/photos.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("2024/winter.txt", "cold\n")
        z.writestr("inner.zip", inner.getvalue())
        z.writestr("top.txt", "top\n")
    s.write("right/top.txt", b"an older top\n")
    private_tmp(s)


def names_in(s, rel):
    with zipfile.ZipFile(s.path(rel)) as z:
        return sorted(z.namelist())


def copy_ended(s, what):
    """The copy's progress window has gone and the main window has the keys
    (keys sent while the window is up are dropped)."""
    alone = lambda: all(w == s.main for w, _ in s.windows())
    s.wait_until(lambda: alone() and not time.sleep(0.15) and alone(), f"{what}: the progress window closes")
    s.wait_main_active(what)


@prepare(with_nested)
def scenario_copy_delete_rename_and_nested(s):
    # The root: "..", "2024", "inner.zip", "top.txt"; right/top.txt is there already.
    s.cursor_to("photos.zip", "Return")
    s.key("End", "F5")  # out: top.txt to the right panel
    s.answer(MAIN_CAPTION, "Return")  # the destination, prefilled with the right panel's directory
    s.answer("Confirm", "alt+y")  # "Overwrite file top.txt?"
    s.wait_until(lambda: s.read("right/top.txt") == "top\n", "F5 replaces right/top.txt with the entry's bytes")
    copy_ended(s, "after the overwrite question")
    s.key("Tab")  # the next key after the question: in, r.txt from the right panel into the archive's root
    s.wait_cwd("right")
    s.cursor_to("r.txt", "F5")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_until(lambda: "r.txt" in names_in(s, "left/photos.zip"), "F5 adds r.txt to the archive")
    copy_ended(s, "after adding r.txt")
    s.key("Tab")  # back: "..", "2024", "inner.zip", "r.txt", "top.txt"
    s.wait_main_active()
    s.key("End", "F8")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_until(lambda: "top.txt" not in names_in(s, "left/photos.zip"), "F8 deletes top.txt from the archive")
    s.key("Home", "Down", "shift+F6")  # rename the directory 2024 with what is below it
    s.fill("Rename", "2025")
    s.wait_until(lambda: "2025/winter.txt" in names_in(s, "left/photos.zip"), "Shift+F6 renames 2024 to 2025")
    expect(subprocess.run(["unzip", "-tqq", s.path("left/photos.zip")]).returncode == 0, "unzip -t passes")
    # The archive inside: "..", "2025", "inner.zip", "r.txt"; inside it "..", "deep.txt".
    s.key("Home", "Down", "Down", "Return", "Down")
    view(s, "deep.txt", "inside the archive inside the archive")
    s.key("Home", "Return", "Home", "Return")  # out of both levels
    s.expect_panel_keys(s.left, "after leaving the archive inside the archive")


def two_archives(s):
    s.make_zip("left/photos.zip", {"2024/winter.txt": "cold\n", "2024/summer/deep.txt": "deep\n", "top.txt": "top\n"})
    s.make_zip("right/other.zip", {"kept.txt": "kept\n"})
    private_tmp(s)


@prepare(two_archives)
def scenario_copy_from_one_archive_panel_into_another(s):
    # Right: other.zip ("..", "kept.txt"); left: photos.zip ("..", "2024", "top.txt").
    s.key("Tab")
    s.wait_cwd("right")
    s.cursor_to("other.zip", "Return")
    s.key("Tab")
    s.wait_cwd("left")
    s.cursor_to("photos.zip", "Return")
    s.key("End", "F5")
    s.answer(MAIN_CAPTION, "Return")  # the destination, prefilled with the other archive's place
    s.wait_until(lambda: "top.txt" in names_in(s, "right/other.zip"), "F5 copies top.txt into other.zip")
    copy_ended(s, "after the first copy between archives")
    s.key("Home", "Down", "F5")  # the next key: the directory 2024 with what is below it
    s.answer(MAIN_CAPTION, "Return")
    s.wait_until(lambda: "2024/summer/deep.txt" in names_in(s, "right/other.zip"),
                 "F5 copies 2024 into other.zip")
    copy_ended(s, "after copying a directory between archives")
    with zipfile.ZipFile(s.path("right/other.zip")) as z:
        expect(z.testzip() is None, "Python's zipfile reads other.zip")
        got = {n: z.read(n).decode() for n in z.namelist() if not n.endswith("/")}
    expect(got == {"kept.txt": "kept\n", "top.txt": "top\n", "2024/winter.txt": "cold\n",
                   "2024/summer/deep.txt": "deep\n"}, f"other.zip holds the copies: {got}")
    expect(subprocess.run(["unzip", "-tqq", s.path("right/other.zip")]).returncode == 0, "unzip -t passes")
    expect(sorted(names_in(s, "left/photos.zip")) == ["2024/summer/deep.txt", "2024/winter.txt", "top.txt"],
           "the source archive is as it was")
    s.key("Home", "Return")  # ".." out of photos.zip
    s.expect_panel_keys(s.left, "after copying between two archives")


BY_CONTENT = ("apk", "docx", "epub", "jar", "odt", "xpi")


def by_content(s):
    for ext in BY_CONTENT:
        with zipfile.ZipFile(s.path(f"left/x.{ext}"), "w") as z:
            z.writestr(f"inside-{ext}.txt", ext)
    private_tmp(s)


@prepare(by_content)
def scenario_archives_by_content_open_with_ctrl_pgdn(s):
    # Each holds "..", "inside-<ext>.txt": F3 on the second row proves the
    # panel shows the archive's root; Ctrl+PgUp leaves with the cursor on it.
    for ext in BY_CONTENT:
        s.wait_cwd("left")
        s.cursor_to(f"x.{ext}", "ctrl+Next", "Home", "Down")
        view(s, f"inside-{ext}.txt", f"Ctrl+PgDn on x.{ext}")
        s.key("ctrl+Prior", "F5")
        s.answer(MAIN_CAPTION, "Return")
        s.wait_exists(f"right/x.{ext}", what=f"the cursor is on x.{ext} after Ctrl+PgUp: F5 copies it")
        copy_ended(s, f"after copying x.{ext}")
    s.expect_panel_keys(s.left, "after the archives by content")


def with_editor(s):
    with_nested(s)
    editor = s.write("bin/edit.sh", "#!/bin/sh\nprintf 'edited\\n' >> \"$1\"\n")
    os.chmod(editor, 0o755)
    s.settings["GENERAL"]["Editor"] = editor


@prepare(with_editor)
def scenario_edit_open_make_delete_and_move_out(s):
    # The root: "..", "2024", "inner.zip", "top.txt".
    s.cursor_to("photos.zip", "Return")
    s.key("End", "F4")  # the editor appends a line: the archive takes it after the question
    s.answer(MAIN_CAPTION, "alt+y")  # "Update top.txt in photos.zip?"
    s.wait_until(lambda: zipfile.ZipFile(s.path("left/photos.zip")).read("top.txt") == b"top\nedited\n",
                 "F4 and Yes update top.txt in the archive")
    s.wait_main_active("after the update question")
    s.key("End", "Return")  # Enter: the desktop's program gets a private copy
    s.wait_until(lambda: any(l.startswith("xdg-open ") for l in s.launched()), "Enter hands the entry to xdg-open")
    opened = [l for l in s.launched() if l.startswith("xdg-open ")][0].split(" ", 1)[1]
    expect(opened.startswith(s.path("tmp") + "/") and opened.endswith("/top.txt"),
           f"a temporary copy is opened, not a place in the tree: {opened}")
    expect(open(opened).read() == "top\nedited\n", "the copy holds the entry's bytes")
    s.key("F7")
    s.fill("New directory", "made")
    s.wait_until(lambda: "made/" in names_in(s, "left/photos.zip"), "F7 makes a directory entry")
    s.key("Home", "Down", "F8")  # 2024 with everything below it
    s.answer(MAIN_CAPTION, "Return")
    s.wait_until(lambda: not any(n.startswith("2024/") for n in names_in(s, "left/photos.zip")),
                 "F8 on a directory deletes every entry below it")
    # F6 out: the entry is deleted from the archive once the file is written.
    s.key("End", "F6")  # "..", "inner.zip", "made", "top.txt"
    s.answer(MAIN_CAPTION, "Return")
    s.answer("Confirm", "alt+y")  # "Overwrite file top.txt?" (right/top.txt is older)
    s.wait_until(lambda: "top.txt" not in names_in(s, "left/photos.zip"), "F6 out deletes the entry")
    expect(s.read("right/top.txt") == "top\nedited\n", "F6 wrote the file before deleting the entry")
    copy_ended(s, "after F6 out")
    expect(subprocess.run(["unzip", "-tqq", s.path("left/photos.zip")]).returncode == 0, "unzip -t passes")
    s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after leaving the changed archive")


def read_only_kinds(s):
    with_nested(s)
    data = os.urandom(150000)
    s.write("big.bin", data)
    subprocess.run(["zip", "-q", "-s", "64k", s.path("left/split.zip"), "big.bin"], cwd=s.root, check=True)
    with open(s.path("left/photos.zip"), "rb") as f:
        whole = f.read()
    s.write("left/cut.zip", whole[:-30])


@prepare(read_only_kinds)
def scenario_read_only_archives_say_why(s):
    """Nested, multi-volume and damaged archives refuse F7 with their reason
    (the same reason the information line shows); the next key works."""
    rows = (("photos.zip", ["Down", "Down", "Return"], "Archives inside archives are read-only", "nested"),
            ("split.zip", [], "An archive over several volumes is read-only here", "split"),
            ("cut.zip", [], "The archive is damaged", "damaged"))
    for archive, down, reason, what in rows:
        s.wait_cwd("left")
        s.cursor_to(archive, "Return", "Home", *down)
        time.sleep(0.5)
        s.display.screenshot(f"{s.artifacts}-{what}.png")
        s.key("F7")
        box = s.wait_window(MAIN_CAPTION, f"{what}: F7 is refused with a message")
        text = s.copied_text(box, lambda t: reason in t)
        expect(reason in text, f"{what}: the message says why: {text!r}")
        s.key("Return")
        s.wait_main_active(f"{what}: the message closes")
        s.key("Home", "Return")  # out, level by level
        if what == "nested":
            s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after the read-only archives")
    expect(names_in(s, "left/photos.zip") == ["2024/winter.txt", "inner.zip", "top.txt"], "nothing changed")


def zip_window_setting(s):
    photos(s)
    s.settings["GENERAL"]["ZipWindowOnEnter"] = "1"


@prepare(zip_window_setting)
def scenario_zip_window_setting(s):
    # Enter opens the ZIP window as before; Ctrl+PgDn still shows the folder.
    s.cursor_to("photos.zip", "Return")
    s.wait_window("ZIP - photos.zip", "Enter opens the ZIP window with the setting")
    s.key("Escape")
    s.wait_main_active("the ZIP window closes")
    s.cursor_to("photos.zip", "ctrl+Next", "End")
    view(s, "top.txt", "Ctrl+PgDn with the setting")
    s.key("ctrl+Prior")
    s.expect_panel_keys(s.left, "after the ZIP window")


# Inside an archive, keys from the cursor on a.txt, a mask typed into the
# mask dialog the keys opened (or None), and what F5 then copies out.
ARCHIVE_MARKS = ((("Insert", "Insert"), None, {"a.txt", "b.txt"}),
                 (("shift+Down",) * 3, None, {"a.txt", "b.txt", "c.txt"}),
                 (("End", "shift+Up", "shift+Up"), None, {"x.log", "y.log"}),
                 (("KP_Add",), "*.log", {"x.log", "y.log"}),
                 (("Up", "Insert"), None, {"2024"}))  # a directory: with everything below it


def for_marks(s):
    # Alphabetical a, b, c; by size b, a, c one way and c, a, b the other.
    s.make_zip("left/photos.zip", {"2024/winter.txt": "cold\n", "a.txt": "a" * 50, "b.txt": "b",
                                   "c.txt": "c" * 300, "x.log": "x\n", "y.log": "y\n"})
    private_tmp(s)


@prepare(for_marks)
def scenario_marks_ranges_and_sorting_inside(s):
    # The root: "..", "2024", "a.txt", "b.txt", "c.txt", "x.log", "y.log".
    s.cursor_to("photos.zip", "Return")
    for keys, mask, expected in ARCHIVE_MARKS:
        what = f"{keys} {mask or ''}"
        s.key("Home", "Down", "Down", *keys)
        if mask is not None:
            s.fill(DIALOG_CAPTION, mask)
        s.key("F5")
        s.answer(MAIN_CAPTION, "Return")
        for name in expected:
            s.wait_exists("right/" + name, what=f"{what}: {name} is copied out")
        copy_ended(s, what)
        copied = set(os.listdir(s.right)) - {"r.txt"}
        expect(copied == expected, f"{what}: {sorted(copied)} copied")
        if "2024" in expected:
            expect(s.read("right/2024/winter.txt") == "cold\n", "the directory came out with what is below it")
        for name in copied:
            subprocess.run(["rm", "-rf", os.path.join(s.right, name)], check=True)
    # A click on the Size header sorts the archive's rows by size, a second
    # one the other way; the first file is then b.txt or c.txt, never a.txt.
    header = 104  # the column headers' row in the window's client area
    firsts = []
    for _ in range(2):
        s.wait_repainted(s.main, lambda: s.click(s.main, 270, header), "a click on Size sorts the rows")
        s.key("Home", "Down", "Down")
        s.key("F3")
        firsts.append(s.wait_until(lambda: next((t.split(" - ")[0] for _, t in s.windows(anyone=True)
                                                  if t.endswith(" - vnview")), None), "F3 shows the first file"))
        s.key("Escape")
        s.wait_main_active("the viewer closes")
    expect(sorted(firsts) == ["b.txt", "c.txt"], f"by size one way, then the other: {firsts}")
    s.key("Home", "Return")
    s.expect_panel_keys(s.left, "after marks and sorting in the archive")


@prepare(photos)
def scenario_marks_of_the_directory_stay_outside_the_archive(s):
    # The archive's root looks the same whether or not entries were marked in
    # the directory it is entered from: the line below the panel tells the
    # archive's own marks, none. Only the window's left half is compared (the
    # right panel's free space may change meanwhile).
    def left_half():
        x, y, width, height = s.display.geometry(s.main)
        return s.display.pixels(x, y, width // 2, height)
    looks = []
    for marks in ([], ["a.txt", "c.txt"]):
        for name in marks:
            s.cursor_to(name, "Insert")
        s.cursor_to("photos.zip")
        s.wait_repainted(s.main, ["Return"], f"Enter on the archive, {marks} marked outside")
        looks.append(left_half())
        s.wait_repainted(s.main, ["Home", "Return"], "Enter on '..' leaves the archive")
        s.wait_cwd("left", "back in the directory")
    expect(looks[0] == looks[1], "the marks left outside show nowhere inside the archive")
    s.expect_panel_keys(s.left, "after entering the archive with marks outside")


@prepare(photos)
def scenario_changes_from_outside(s):
    # The root: "..", "2024", "top.txt"; another program adds added.txt,
    # which comes before top.txt: the cursor stays on top.txt by its name.
    s.cursor_to("photos.zip", "Return", "End")
    time.sleep(1.1)  # another modification time for certain

    def add():
        with zipfile.ZipFile(s.path("left/photos.zip"), "a") as z:
            z.writestr("added.txt", "added\n")
    s.wait_repainted(s.main, add, "the panel shows the archive read again")
    view(s, "top.txt", "the cursor kept its entry")
    s.key("Home", "Down", "Down")
    view(s, "added.txt", "the entry added from outside")
    # The archive goes away: the panel shows its directory.
    s.wait_repainted(s.main, lambda: os.remove(s.path("left/photos.zip")), "the panel leaves the vanished archive")
    s.key("Home", "Return")
    s.wait_cwd("", "Home, Enter on '..' goes up from the archive's directory")
    s.key("Return")
    s.expect_panel_keys(s.left, "after the archive vanished")


def hostile(s):
    with zipfile.ZipFile(s.path("left/h.zip"), "w") as z:
        z.writestr("../../evil", "evil\n")
        z.writestr("/etc/passwd", "root\n")
        z.writestr("t\x01\x1b[2J.txt", "ctl\n")
    private_tmp(s)


@prepare(hostile)
def scenario_hostile_names_stay_inside(s):
    # The root: "..", "etc", "\u2423.." (the stored "..", behind a box),
    # "t\u2401\u241b[2J.txt". Enter twice on the boxed rows reaches evil,
    # which F5 copies into the destination and nowhere above it.
    s.cursor_to("h.zip", "Return")
    time.sleep(0.5)
    s.display.screenshot(f"{s.artifacts}-root.png")
    s.key("Home", "Down", "Down", "Return", "Down", "Return", "Down")
    view(s, "evil", "two boxed '..' rows down")
    s.key("F5")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_exists("right/evil", what="F5 copies evil into the right panel's directory")
    copy_ended(s, "after copying evil out")
    expect(not os.path.exists(s.path("evil")) and not os.path.exists(s.path("../evil")), "nothing lands above")
    s.key("BackSpace", "BackSpace", "Home", "Down")  # the root again: "etc"
    s.key("Return", "Down")
    view(s, "passwd", "an absolute path stays inside")
    s.key("ctrl+Prior", "ctrl+Prior")
    s.expect_panel_keys(s.left, "after the hostile names")


@prepare(photos)
def scenario_alt_f9_inside_unpacks_the_whole_archive(s):
    s.cursor_to("photos.zip", "Return", "Down", "Return")  # in 2024: still the whole archive
    s.key("alt+F9")
    s.answer(DIALOG_CAPTION, "Return")  # "Unpack files to directory:" the archive's own
    for name, data in MEMBERS.items():
        s.wait_until(lambda: s.exists("left/" + name) and s.read("left/" + name) == data,
                     f"Alt+F9 extracts {name}")
    copy_ended(s, "after Alt+F9")
    s.key("ctrl+Prior")
    s.wait_repainted(s.main, ("ctrl+Prior",), "the second Ctrl+PgUp leaves the archive")
    s.expect_panel_keys(s.left, "after Alt+F9 inside the archive")
