"""Find file (Alt+F7), directory size (Ctrl+G) and the help windows."""

from e2e import SCREEN, expect


def scenario_find_file_go_to_button_and_enter_on_a_row(s):
    for starts, keys in enumerate((("shift+Tab", "space"), ("Return",))):  # "Go to file", Enter on the row
        s.key("alt+F7")
        window = s.wait_window("Find file:")
        s.type("inner*")  # in place of the mask "*.*", selected
        before = s.window_pixels(window)
        s.key("Return")  # Start!
        s.wait_repainted(window, before, "the search ends with its results")
        s.key(*keys)
        s.wait_no_window("Find file:")
        s.wait_cwd("left/sub", f"{keys} shows the match's directory in the panel")
        s.key("Return")  # the cursor stands on the match: the desktop opens it
        s.wait_until(lambda: len(s.launched()) == starts + 1
                     and s.launched()[-1].endswith("/left/sub/inner.txt"), "the cursor stood on inner.txt")
        s.expect_panel_keys("left/sub")
        s.key("Home", "Return")


def scenario_directory_size_ctrl_g(s):
    s.cursor_to("sub")
    before = s.window_pixels(s.main)
    s.key("ctrl+g")
    s.wait_repainted(s.main, before, "Ctrl+G writes the size into the file line")
    s.expect_panel_keys(s.left)


def scenario_help_f1_and_from_a_dialog(s):
    for key, dialog in (("F1", None), ("F7", "New directory")):
        s.key(key)
        if dialog:
            s.wait_window(dialog)
            s.key("Tab", "Tab", "Tab", "space")  # past Ok and Cancel to Help
        window = s.wait_window("Vantrel help - ...", what=f"{key} opens the help")
        x, y, width, height = s.display.geometry(window)
        expect(x >= 0 and y >= 0 and x + width <= SCREEN[0] and y + height <= SCREEN[1],
               f"the help window is on the screen: {(x, y, width, height)}")
        s.answer(s.display.title(window), "Escape")
        if dialog:
            s.answer(dialog, "Escape")
        s.expect_panel_keys(s.left, f"after the help of {key}")
