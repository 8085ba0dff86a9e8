"""File commands from the keyboard: new directory and file, rename, copy,
move, delete, entering directories, Tab, and copy errors skipped at once."""

import os

from e2e import MAIN_CAPTION, DIALOG_CAPTION, expect, prepare

# Key, entry under the cursor, dialog, typed name, the name that appears, the
# name that goes away.
NAME_DIALOGS = (("F7", "..", "New directory", "newdir", "newdir", None),
                ("shift+F4", "..", "New file", "new.txt", "new.txt", None),
                ("shift+F6", "a.txt", "Rename file", "renamed.txt", "renamed.txt", "a.txt"))


def scenario_name_dialogs(s):
    for key, entry, title, typed, made, gone in NAME_DIALOGS:
        s.cursor_to(entry)
        s.key(key)
        s.fill(title, typed)  # the field has the focus, its text selected
        s.wait_exists("left/" + made)
        expect(gone is None or not s.exists("left/" + gone), f"{gone} is gone after {key}")
        s.expect_panel_keys(s.left, f"after {key}")
    expect(any(line.endswith("/left/new.txt") for line in s.launched()),
           f"the editor was started on the new file: {s.launched()}")


def scenario_rename_onto_an_existing_name(s):
    s.cursor_to("a.txt")
    s.key("shift+F6")
    s.wait_window("Rename file")
    s.type("b.txt")
    s.key("Return")
    s.answer(DIALOG_CAPTION, "Return")  # "Sorry! Can not rename!"
    expect(s.read("left/a.txt") == "alpha\n" and s.read("left/b.txt") == "bravo\n",
           "both files are unchanged")
    s.expect_panel_keys(s.left)


def scenario_enter_a_directory_tab_and_insert_f5(s):
    s.cursor_to("sub")
    s.key("Return")
    s.expect_panel_keys("left/sub", "Enter on sub enters it; the cursor stands on it after going up")
    s.key("Home", "Return", "Tab")
    s.expect_panel_keys(s.right, "Tab makes the right panel active")
    s.key("Tab")
    s.cursor_to("a.txt")
    s.key("Insert", "Insert")  # marks a.txt and b.txt
    s.expect_copied({"a.txt", "b.txt"}, "Insert marks the entries F5 copies")
    expect(s.exists("left/a.txt"), "a copy keeps the source")


@prepare(lambda s: s.write("right/a.txt", "old\n"))
def scenario_move_f6_overwrite_answered_no(s):
    s.cursor_to("a.txt")
    s.key("F6")
    s.answer(MAIN_CAPTION, "Return")  # "Move selected files to:"
    s.answer("Confirm", "alt+n")  # overwrite a.txt? No
    expect(s.read("right/a.txt") == "old\n" and s.read("left/a.txt") == "alpha\n",
           "the existing file is not overwritten and the source stays")
    s.expect_panel_keys(s.left)


def scenario_delete_f8_and_del(s):
    for key, name in (("F8", "a.txt"), ("Delete", "b.txt")):
        s.cursor_to(name)
        s.key(key)
        s.answer(MAIN_CAPTION, "Return")  # "Delete selected files?" Yes
        s.wait_exists("left/" + name, exists=False)
        s.expect_panel_keys(s.left, f"after {key}")
    expect(s.exists("left/c.txt"), "only the entry under the cursor is deleted")


def read_only_target(s):
    for i in range(30):
        s.write(f"left/many/f{i:02}.txt", f"{i}\n")
    os.chmod(s.right, 0o555)
    s.uid = 65534 if os.geteuid() == 0 else None  # root writes anywhere: run as nobody


@prepare(read_only_target)
def scenario_copy_into_a_read_only_directory_skip_all(s):
    s.cursor_to("many")
    s.key("Return", "ctrl+a", "F5")
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
