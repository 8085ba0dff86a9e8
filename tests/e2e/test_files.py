"""File commands from the keyboard: new directory and file, rename, copy,
move, delete, entering directories, Tab, the command line."""

from e2e import MAIN_CAPTION, DIALOG_CAPTION, expect, prepare


def scenario_new_directory_f7(s):
    s.key("F7")
    s.wait_window("New directory")
    s.type("newdir")
    s.key("Return")
    s.wait_exists("left/newdir")
    s.expect_panel_keys(s.left)


def scenario_new_file_shift_f4(s):
    s.key("shift+F4")
    s.wait_window("New file")
    s.type("new.txt")
    s.key("Return")
    s.wait_exists("left/new.txt")
    s.expect_panel_keys(s.left)
    expect(any(line.endswith("/left/new.txt") for line in s.launched()),
           f"the editor was started on the new file: {s.launched()}")


def scenario_rename_to_a_free_name(s):
    s.cursor_to("a.txt")
    s.key("shift+F6")
    s.wait_window("Rename file")
    # The field holds the old name, selected: typing replaces it.
    s.type("renamed.txt")
    s.key("Return")
    s.wait_exists("left/renamed.txt")
    expect(not s.exists("left/a.txt"), "a.txt is gone after the rename")
    s.expect_panel_keys(s.left)


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


def scenario_enter_a_directory_and_go_back(s):
    s.cursor_to("sub")
    s.key("Return")
    s.wait_cwd(s.path("left/sub"), "Enter on sub enters it")
    s.key("Home", "Return")
    s.wait_cwd(s.left, 'Enter on ".." goes back')
    # The cursor stands on the directory just left.
    s.key("Return")
    s.wait_cwd(s.path("left/sub"), "the cursor stood on sub after going up")


def scenario_mark_with_insert_and_copy_f5(s):
    s.cursor_to("a.txt")
    s.key("Insert", "Insert")  # marks a.txt and b.txt
    s.key("F5")
    s.answer(MAIN_CAPTION, "Return")  # "Copy selected files to:" the right panel
    s.wait_exists("right/a.txt")
    s.wait_exists("right/b.txt")
    expect(not s.exists("right/c.txt"), "only the marked files are copied")
    expect(s.exists("left/a.txt"), "a copy keeps the source")
    s.expect_panel_keys(s.left)


@prepare(lambda s: s.write("right/a.txt", "old\n"))
def scenario_move_f6_overwrite_answered_no(s):
    s.cursor_to("a.txt")
    s.key("F6")
    s.answer(MAIN_CAPTION, "Return")  # "Move selected files to:"
    s.answer("Confirm", "alt+n")  # overwrite a.txt? No
    expect(s.read("right/a.txt") == "old\n", "the existing file is not overwritten")
    expect(s.read("left/a.txt") == "alpha\n", "the file that was not moved stays")
    s.expect_panel_keys(s.left)


def scenario_delete_f8_and_del(s):
    for key, name in (("F8", "a.txt"), ("Delete", "b.txt")):
        s.cursor_to(name)
        s.key(key)
        s.answer(MAIN_CAPTION, "Return")  # "Delete selected files?" Yes
        s.wait_exists("left/" + name, exists=False)
        s.expect_panel_keys(s.left, f"after {key}")
    expect(s.exists("left/c.txt"), "only the entry under the cursor is deleted")


def scenario_tab_between_panels(s):
    s.key("Tab")
    s.wait_cwd(s.right, "Tab makes the right panel active")
    s.expect_panel_keys(s.right)
    s.key("Tab")
    s.wait_cwd(s.left, "Tab makes the left panel active again")
    s.expect_panel_keys(s.left)


def scenario_command_line(s):
    x, y, width, height = s.display.geometry(s.main)
    # The command line is the row above the 20-pixel status bar.
    s.click(s.main, width // 2, height - 31)
    s.key("End", "shift+Home")  # the line shows the directory: replace it
    s.type("touch made-by-command")
    s.key("Return")
    s.wait_exists("left/made-by-command")
    # A click on the left panel's list gives it the keyboard back.
    s.click(s.main, 100, height // 2)
    s.expect_panel_keys(s.left)
