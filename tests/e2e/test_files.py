"""File commands from the keyboard: new directory and file, rename, move,
delete, copy under a new name, a nested new directory, copy errors skipped at once, marks and quick search, Find file,
Find by content with Feed to panel, Compare directories,
Ctrl+G and the help windows, the viewer (F3 starts vnview with the default
settings) and the entry menu."""

import os
import shutil
import subprocess

from e2e import DIALOG_CAPTION, MAIN_CAPTION, SCREEN, expect, prepare

# Key, entry under the cursor, the windows then answered in turn (title, typed
# text, closing key), and the name that must then exist or be gone.
FILE_COMMANDS = (
    ("F6", "a.txt", ((MAIN_CAPTION, "", "Return"), ("Confirm", "", "alt+n")), "a.txt", True),  # overwrite? No
    ("F7", "..", (("New directory", "newdir", "Return"),), "newdir", True),  # typed into the focused field
    ("shift+F4", "..", (("New file", "new.txt", "Return"),), "new.txt", True),
    ("shift+F6", "a.txt", (("Rename file", "renamed.txt", "Return"),), "a.txt", False),
    ("shift+F6", "b.txt", (("Rename file", "c.txt", "Return"), (DIALOG_CAPTION, "", "Return")), "b.txt", True),
    ("F8", "renamed.txt", ((MAIN_CAPTION, "", "Return"),), "renamed.txt", False),
    ("Delete", "new.txt", ((MAIN_CAPTION, "", "Return"),), "new.txt", False))

# Keys from the cursor on a.txt, a mask typed into the mask dialog the keys
# opened (or None), and what F5 then copies.
MARKS = ((("Insert", "Insert"), None, {"a.txt", "b.txt"}),
         (("KP_Add",), "*.log", {"x.log", "y.log"}),
         (("ctrl+a", "KP_Subtract"), "*.txt", {"x.log", "y.log"}),
         (("Insert", "KP_Multiply"), None, {"b.txt", "c.txt", "x.log", "y.log"}),
         (("shift+Down",) * 3, None, {"a.txt", "b.txt", "c.txt"}),
         (("End", "shift+Up", "shift+Up"), None, {"x.log", "y.log"}))

# Keys that open the quick search, text typed into it, keys in it (the last
# one closes it), and the directory Enter then opens: the entry it found.
QUICK_SEARCHES = (("ctrl+s", "SU", ("Down", "Up", "Down", "Return"), "sub2"),
                  ("ctrl+s", "*2", ("Escape",), "sub2"),
                  ("alt+d", "", ("Escape",), "docs"),
                  ("alt+s", "", ("Down", "Up", "Return"), "sub"))


@prepare(lambda s: s.write("right/a.txt", "old\n"))
def scenario_file_commands(s):
    for key, entry, windows, name, exists in FILE_COMMANDS:
        s.cursor_to(entry, key)
        for title, text, closing in windows:  # the last one's closing lets the panel have the keys
            s.wait_window(title)
            s.type(text)
            s.key(closing)
        s.wait_exists("left/" + name, exists)
        s.expect_panel_keys(s.left, f"after {key} on {entry}")
    expect(sorted(os.listdir(s.left)) == ["b.txt", "c.txt", "docs", "newdir", "sub"]
           and s.read("left/b.txt") + s.read("left/c.txt") + s.read("right/a.txt") == "bravo\ncharlie\nold\n",
           "the move kept both files, the rename onto c.txt changed nothing, F8 and Del removed one entry each")
    expect(any(line.endswith("/left/new.txt") for line in s.launched()),
           f"the editor was started on the new file: {s.launched()}")


def scenario_copy_under_a_new_name_and_nested_directory(s):
    s.cursor_to("a.txt", "F5")
    s.wait_window(MAIN_CAPTION)
    s.key("ctrl+a")  # in place of the other panel's directory
    s.fill(MAIN_CAPTION, "a_copy.txt")
    s.wait_exists("left/a_copy.txt")
    expect(s.read("left/a_copy.txt") == s.read("left/a.txt") and os.listdir(s.right) == ["r.txt"],
           "F5 copied a.txt beside itself under the new name")
    s.expect_panel_keys(s.left, "after F5 to a new name")
    s.cursor_to("..", "F7")
    s.fill("New directory", "x/y/z")
    s.wait_exists("left/x/y/z")
    s.expect_panel_keys(s.left, "after F7 with a nested name")


def read_only_target(s):
    for i in range(30):
        s.write(f"left/many/f{i:02}.txt", f"{i}\n")
    os.chmod(s.right, 0o555)
    s.uid = 65534 if os.geteuid() == 0 else None  # root writes anywhere: run as nobody


@prepare(read_only_target)
def scenario_copy_into_a_read_only_directory_skip_all(s):
    s.cursor_to("many", "Return", "ctrl+a", "F5")
    s.answer(MAIN_CAPTION, "Return")
    s.answer(DIALOG_CAPTION, "Tab", "space")  # "Could not copy file f00.txt": Skip all
    s.wait_window(DIALOG_CAPTION)
    s.key("Tab", "space")  # the summary's "Copy list"
    text = s.wait_until(lambda: s.display.clipboard(), "Copy list fills the clipboard")
    expect(text.startswith("30 items were skipped:\nCould not copy file f00.txt: Permission denied\n")
           and text.count("Permission denied") == 30, f"one summary lists every file with its reason: {text!r}")
    s.answer(DIALOG_CAPTION, "Escape")
    expect(os.listdir(s.right) == ["r.txt"], "nothing was copied")
    s.expect_panel_keys("left/many")


@prepare(lambda s: [s.write("left/" + name, name) for name in ("x.log", "y.log", "sub2/x")])
def scenario_marks_and_quick_search(s):
    for keys, mask, expected in MARKS:
        s.cursor_to("a.txt", *keys)
        if mask is not None:
            s.fill(DIALOG_CAPTION, mask)
        s.expect_copied(expected, f"{keys} {mask or ''}")
    for opening, text, keys, found in QUICK_SEARCHES:
        s.key("Home", opening)
        s.type(text)
        s.key(*keys, "Return")
        s.expect_panel_keys("left/" + found, f"{opening} {text!r} {keys} found {found}")
        s.key("Home", "Return")
        s.wait_cwd(s.left)


def scenario_find_file_directory_size_and_help(s):
    # Find file: "Go to file", then Enter on the result row.
    for starts, keys in enumerate((("shift+Tab", "space"), ("Return",))):
        s.key("alt+F7")
        window = s.wait_window("Find file:")
        s.type("inner*")  # in place of the mask "*.*", selected
        s.wait_repainted(window, ("Return",), "the search ends with its results")
        s.key(*keys)
        s.wait_no_window("Find file:")
        s.wait_cwd("left/sub", f"{keys} shows the match's directory in the panel")
        s.key("Return")  # the cursor stands on the match: the desktop opens it
        s.wait_until(lambda: len(s.launched()) == starts + 1
                     and s.launched()[-1].endswith("/left/sub/inner.txt"), "the cursor stood on inner.txt")
        s.expect_panel_keys("left/sub")
        s.key("Home", "Return")
    s.wait_cwd(s.left)
    s.cursor_to("sub")
    s.wait_repainted(s.main, ("ctrl+g",), "Ctrl+G writes the size into the file line")
    s.expect_panel_keys(s.left, "after Ctrl+G")
    for key, dialog in (("F1", None), ("F7", "New directory")):
        s.key(key)
        if dialog:
            s.wait_window(dialog)
            s.key("Tab", "Tab", "Tab", "space")  # past Ok and Cancel to Help
        window = s.wait_window("Vantrel help - ...", what=f"{key} opens the help above every other window")
        x, y, width, height = s.display.geometry(window)
        expect(x >= 0 and y >= 0 and x + width <= SCREEN[0] and y + height <= SCREEN[1],
               f"the help window is on the screen: {(x, y, width, height)}")
        s.answer(s.display.title(window), "Escape")
        if dialog:
            s.answer(dialog, "Escape")
        s.expect_panel_keys(s.left, f"after the help of {key}")


@prepare(lambda s: [s.write("left/sub/deep/n1.txt", "x\na Needle here\n"), s.write("left/n2.txt", "needle two\n")])
def scenario_find_by_content_and_feed_to_panel(s):
    # Find file: mask, Tab past the path to "Containing text", Enter starts;
    # "Feed to panel" (Alt+P) shows the two files found in the left panel,
    # where Insert marks and F5 copies them from their two directories.
    s.key("alt+F7")
    window = s.wait_window("Find file:")
    s.type("*")
    s.key("Tab", "Tab")
    s.type("needle")
    s.wait_repainted(window, ("Return",), "the content search ends with its results")
    s.key("alt+p")
    s.wait_no_window("Find file:")
    s.wait_main_active("Feed to panel gives the keyboard back to the panel")
    # ".." first, then n2.txt and sub/deep/n1.txt: F3 views the one, F4
    # hands the other (in its own directory) to the editor.
    s.key("Home", "Down", "F3")
    s.wait_window("n2.txt - vnview", what="F3 on the listing views n2.txt", anyone=True)
    s.key("Escape")
    s.wait_main_active("the viewer closes onto the listing")
    s.key("Down", "F4")
    n1 = s.path("left/sub/deep/n1.txt")
    # The editor starts in the listing's directory: a path below it is the file.
    s.wait_until(lambda: any(os.path.join(s.left, line.split(" ", 1)[-1]) == n1 for line in s.launched()),
                 f"F4 on the listing edits sub/deep/n1.txt: {s.launched()}")
    s.key("Home", "Down", "Insert", "Insert")
    s.expect_copied({"n1.txt", "n2.txt"}, "F5 on the listing of search results")


def zip_with_hay(s):
    s.write("packed/docs/hay.txt", "a needle in the archive\n")
    subprocess.run(["zip", "-qr", s.path("left/box.zip"), "."], cwd=s.path("packed"), check=True)


@prepare(zip_with_hay)
def scenario_find_inside_an_archive_and_enter_its_place(s):
    # "needle" with "Search in archives" (Alt+A) finds hay.txt inside
    # box.zip; fed to the panel it is listed through the archive, and Enter
    # opens the archive's place with the cursor on it, where F5 copies it out.
    s.key("alt+F7")
    window = s.wait_window("Find file:")
    s.type("*")
    s.key("Tab", "Tab")
    s.type("needle")
    s.wait_repainted(window, ("alt+a",), "Alt+A ticks Search in archives")
    s.wait_repainted(window, ("Return",), "the search ends with the entry inside the archive")
    s.key("alt+p")
    s.wait_no_window("Find file:")
    s.wait_main_active("Feed to panel gives the keyboard back to the panel")
    # F8 on the hit says that its place in the archive is where it can be
    # deleted; the archive keeps it and the panel takes the next key.
    with open(s.path("left/box.zip"), "rb") as f:
        before = f.read()
    s.key("Home", "Down", "F8")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_main_active("after the message on F8")
    expect(open(s.path("left/box.zip"), "rb").read() == before, "F8 on a hit inside the archive leaves box.zip as it was")
    s.wait_repainted(s.main, ("Home", "Down", "Return"), "Enter on box.zip/docs/hay.txt opens its place")
    s.key("F5")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_exists("right/hay.txt", what="F5 copies the entry Enter went to out of the archive")
    expect(s.read("right/hay.txt") == "a needle in the archive\n", "the copy has the entry's data")


def same_files_both_sides(s):
    """The right panel gets a.txt, b.txt, c.txt, docs/ and sub/ as on the left
    (the same times), the left an extra file; right/r.txt stays its own."""
    for name, text in (("a.txt", "alpha"), ("b.txt", "bravo"), ("c.txt", "charlie"), ("docs/notes.txt", "notes"),
                       ("sub/inner.txt", "inner")):
        s.write("right/" + name, text + "\n")
        for side in ("left/", "right/"):
            os.utime(s.path(side + name), (1700000000, 1700000000))
    s.write("left/extra.txt", "only here\n")


@prepare(same_files_both_sides)
def scenario_compare_directories_marks_both_panels(s):
    # Shift+F2, Enter: the left panel marks extra.txt, the right r.txt; F5
    # from each panel copies exactly what it marked.
    s.key("shift+F2")
    s.answer("Compare directories", "Return")
    s.expect_copied({"extra.txt"}, "F5 of what Compare marked on the left")
    s.key("Tab", "F5")
    s.answer(MAIN_CAPTION, "Return")
    s.wait_exists("left/r.txt", what="F5 of what Compare marked on the right")
    expect(sorted(os.listdir(s.left)) == ["a.txt", "b.txt", "c.txt", "docs", "extra.txt", "r.txt", "sub"],
           f"only r.txt came from the right: {sorted(os.listdir(s.left))}")


def scenario_viewer_and_entry_menu(s):
    for name, closing in (("a.txt", "Escape"), ("b.txt", "F10")):
        s.cursor_to(name, "F3")
        s.wait_window(f"{name} - vnview", anyone=True)
        s.key(closing)
        s.wait_no_window(f"{name} - vnview", f"{closing} closes the viewer", anyone=True)
        s.expect_panel_keys(s.left, f"after {closing} in the viewer")
    s.cursor_to("b.txt")  # the entry menu
    s.wait_repainted(s.main, ("shift+F10",), "the menu opens over the panel")
    s.key("Escape")
    s.expect_panel_keys(s.left, "after Escape closes the menu")
    s.cursor_to("b.txt", "shift+F10", "Up", "Return")  # Properties, the last item
    s.answer("Properties of b.txt", "Escape")
    s.expect_panel_keys(s.left)


def scenario_trash_place_restores(s):
    """F8 moves a.txt and b.txt to the Trash; the drive box's last item shows
    the Trash in the panel; F5 puts b.txt back where it came from, and a.txt,
    whose name was taken meanwhile, under the name offered; ".." then leaves
    the Trash for the home directory."""
    trash = os.path.join(s.home, ".local/share/Trash")
    s.key("Home")
    for name in ("a.txt", "b.txt"):
        s.cursor_to(name, "F8")
        s.answer(MAIN_CAPTION, "Return")  # "Move 1 item to the Trash?"
        s.wait_exists("left/" + name, False)
        s.expect_panel_keys(s.left, f"after F8 on {name}")
    expect(sorted(os.listdir(os.path.join(trash, "files"))) == ["a.txt", "b.txt"], "both items are in the Trash")
    s.write("left/a.txt", "new\n")
    s.key("alt+F1", "End", "Return")  # the Trash, the drive box's last item
    s.key("Home", "Down", "Insert", "Insert", "F5")  # the panel lists .., a.txt, b.txt
    s.answer(DIALOG_CAPTION, "Return")  # "... a.txt exists already. Restore it as:" a (2).txt
    s.wait_exists("left/b.txt")
    s.wait_exists("left/a (2).txt")
    expect(s.read("left/a.txt") == "new\n" and s.read("left/a (2).txt") == "alpha\n" and s.read("left/b.txt") == "bravo\n",
           "the taken name was kept and the item came back beside it")
    expect(os.listdir(os.path.join(trash, "files")) == [], "the Trash is empty")
    s.wait_main_active()
    s.key("Home", "Return")  # ".." at the Trash's top
    s.wait_cwd(s.home, "the panel left the Trash for the home directory")


def key_bar_in_the_trash(s, shade):
    """In the Trash the key bar's F5 puts the item under the cursor back (no
    copy dialog); out of it F5 is Copy again. The screenshots show the bar's
    words in both places."""
    width = s.display.geometry(s.main)[2]
    click_f5 = lambda: s.click(s.main, width * 9 // 20, -32)  # the fifth of ten buttons
    s.cursor_to("a.txt", "F8")
    s.answer(MAIN_CAPTION, "Return")  # "Move 1 item to the Trash?"
    s.wait_exists("left/a.txt", False)
    s.expect_panel_keys(s.left, "after F8")
    s.wait_repainted(s.main, ("alt+F1",), "the drive box opens")
    s.wait_repainted(s.main, ("End", "Return"), "the panel shows the Trash, the drive box's last item")
    s.key("Home", "Down")  # a.txt
    s.display.screenshot(f"{s.artifacts}-trash-{shade}.png")
    click_f5()
    s.wait_exists("left/a.txt")
    expect(s.read("left/a.txt") == "alpha\n", "the key bar's F5 in the Trash put a.txt back")
    s.wait_main_active()
    s.key("Home", "Return")  # ".." at the Trash's top: the home directory
    s.wait_cwd(s.home, "the panel left the Trash for the home directory")
    s.display.screenshot(f"{s.artifacts}-home-{shade}.png")
    s.key("Down")  # .config
    click_f5()
    s.answer(MAIN_CAPTION, "Escape")  # "Copy selected files to:", outside the Trash again
    s.expect_panel_keys(s.home, "after the copy dialog")


def scenario_key_bar_in_the_trash(s):
    key_bar_in_the_trash(s, "light")


@prepare(lambda s: setattr(s, "theme", "Adwaita:dark"))
def scenario_key_bar_in_the_trash_dark(s):
    key_bar_in_the_trash(s, "dark")


def scenario_trash_is_a_start_place(s):
    """A panel closed in the Trash shows the Trash at the next start (F5 there
    restores); once the user has no trash directory any more, the panel
    starts in the home directory instead."""
    trash = os.path.join(s.home, ".local/share/Trash")
    s.cursor_to("a.txt", "F8")
    s.answer(MAIN_CAPTION, "Return")  # "Move 1 item to the Trash?"
    s.wait_exists("left/a.txt", False)
    s.expect_panel_keys(s.left, "after F8")
    s.wait_repainted(s.main, ("alt+F1",), "the drive box opens")
    s.wait_repainted(s.main, ("End", "Return"), "the panel shows the Trash, the drive box's last item")
    s.restart()
    expect(s.written()["GENERAL"]["LeftPath"] == "trash:///", "the settings file keeps the Trash as the left path")
    s.key("Home", "Down", "F5")  # the panel lists .., a.txt
    s.wait_exists("left/a.txt")
    expect(s.read("left/a.txt") == "alpha\n", "F5 in the Trash after the start restored a.txt")
    shutil.rmtree(trash)
    s.restart()
    s.wait_cwd(s.home, "without a trash directory the panel starts in the home directory")
    s.expect_panel_keys(s.home)
