"""Find file (Alt+F7), directory size (Ctrl+G) and the help windows."""

from e2e import SCREEN, expect


def find_inner(s):
    s.key("alt+F7")
    window = s.wait_window("Find file:")
    # The mask field has the focus with "*.*" selected: typing replaces it.
    s.type("inner*")
    before = s.window_pixels(window)
    s.key("Return")  # Start!
    s.wait_repainted(window, before, "the search ends with its results")


def expect_at_inner(s):
    sub = s.path("left/sub")
    s.wait_no_window("Find file:")
    s.wait_main_active()
    s.wait_cwd(sub, "Go to file shows the match's directory in the panel")
    # The cursor stands on the match: Enter hands it to the desktop.
    s.key("Return")
    s.wait_until(lambda: any(l.endswith("/left/sub/inner.txt") for l in s.launched()),
                 "the cursor stood on inner.txt")
    s.expect_panel_keys(sub)


def scenario_find_file_go_to_button(s):
    find_inner(s)
    s.key("shift+Tab", "space")  # from the results, the row chosen, to "Go to file"
    expect_at_inner(s)


def scenario_find_file_enter_on_a_row(s):
    find_inner(s)
    s.key("Return")  # on the first row, chosen after the search
    expect_at_inner(s)


def scenario_directory_size_ctrl_g(s):
    s.cursor_to("sub")
    before = s.file_line_pixels()
    s.key("ctrl+g")
    s.wait_until(lambda: s.file_line_pixels() != before, "Ctrl+G writes the size into the file line")
    s.expect_panel_keys(s.left)


def expect_help_on_screen(s):
    help_window = s.wait_window_starting("Vantrel help - ")
    x, y, width, height = s.display.geometry(help_window)
    expect(x >= 0 and y >= 0 and x + width <= SCREEN[0] and y + height <= SCREEN[1],
           f"the help window is on the screen: {(x, y, width, height)}")
    s.key("Escape")
    s.wait_until(lambda: not any(t.startswith("Vantrel help - ") for _, t in s.windows()),
                 "Escape closes the help window")


def scenario_help_f1(s):
    s.key("F1")
    expect_help_on_screen(s)
    s.expect_panel_keys(s.left)


def scenario_help_from_a_dialog(s):
    s.key("F7")
    s.wait_window("New directory")
    s.key("Tab", "Tab", "Tab", "space")  # past Ok and Cancel to Help
    expect_help_on_screen(s)
    s.wait_window("New directory")
    s.key("Escape")
    s.wait_no_window("New directory")
    s.expect_panel_keys(s.left)
