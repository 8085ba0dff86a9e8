"""The viewer and the entry menu in a real window: F3 with the default
settings starts vnview from the program's directory, the entry menu opens from
the keyboard, and after each the panel has the keys again."""

from e2e import expect, prepare


def viewer_window(s, title):
    """The id of the active window titled `title` of any process (the viewer
    is a program of its own), or None."""
    active = s.display.active_window()
    return next((w for w, _pid, t in s.display.clients() if t == title and w == active), None)


def scenario_f3_opens_the_viewer_and_escape_closes_it(s):
    s.cursor_to("a.txt")
    s.key("F3")
    s.wait_until(lambda: viewer_window(s, "a.txt - vnview"), 'the viewer "a.txt - vnview" is active')
    s.key("Escape")
    s.wait_until(lambda: all(t != "a.txt - vnview" for _w, _pid, t in s.display.clients()),
                 "the viewer closes")
    s.expect_panel_keys(s.left)


@prepare(lambda s: s.write("left/big.log", "line\n" * 200000 + "the end\n"))
def scenario_viewer_search_and_f3(s):
    s.cursor_to("big.log")
    s.key("F3")
    viewer = s.wait_until(lambda: viewer_window(s, "big.log - vnview"), "the viewer is active")
    s.key("ctrl+f")
    s.wait_until(lambda: viewer_window(s, "Find"), "the Find dialog is active")
    s.type("THE END")
    before = s.window_pixels(viewer)
    s.key("Return")
    s.wait_repainted(viewer, before, "the viewer shows the hit on the last line")
    # A search is active: F3 looks again (the status bar says there is no
    # other hit) instead of closing the viewer.
    before = s.window_pixels(viewer)
    s.key("F3")
    s.wait_repainted(viewer, before, "F3 searches again")
    expect(viewer_window(s, "big.log - vnview"), "F3 during a search keeps the viewer open")
    s.key("F10")
    s.wait_until(lambda: all(t != "big.log - vnview" for _w, _pid, t in s.display.clients()),
                 "F10 closes the viewer")
    s.expect_panel_keys(s.left)


def scenario_shift_f10_opens_the_entry_menu(s):
    s.cursor_to("b.txt")
    before = s.window_pixels(s.main)
    s.key("shift+F10")
    s.wait_repainted(s.main, before, "the menu opens over the panel")
    s.key("Escape")
    s.expect_panel_keys(s.left, "after Escape closes the menu")
    # The menu's last item is Properties.
    s.cursor_to("b.txt")
    s.key("shift+F10", "Up", "Return")
    s.answer("Properties of b.txt", "Escape")
    s.expect_panel_keys(s.left)
