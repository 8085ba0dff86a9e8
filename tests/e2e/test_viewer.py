"""The viewer and the entry menu in a real window: F3 with the default
settings starts vnview from the program's directory, the entry menu opens from
the keyboard, and after each the panel has the keys again."""

from e2e import prepare


@prepare(lambda s: s.write("left/big.log", "line\n" * 200000 + "the end\n"))
def scenario_viewer_and_entry_menu(s):
    s.cursor_to("a.txt", "F3")
    s.wait_window("a.txt - vnview", anyone=True)
    s.key("Escape")
    s.wait_no_window("a.txt - vnview", "Escape closes the viewer", anyone=True)
    s.expect_panel_keys(s.left)

    s.cursor_to("big.log", "F3")
    viewer = s.wait_window("big.log - vnview", anyone=True)
    s.key("ctrl+f")
    s.wait_window("Find", anyone=True)
    s.type("THE END")
    s.wait_repainted(viewer, ("Return",), "the viewer shows the hit on the last line")
    # While a search is active, F3 looks again (the status bar says there is
    # no other hit) instead of closing the viewer.
    s.wait_repainted(viewer, ("F3",), "F3 searches again")
    s.wait_window("big.log - vnview", what="F3 during a search keeps the viewer open", anyone=True)
    s.key("F10")
    s.wait_no_window("big.log - vnview", "F10 closes the viewer", anyone=True)
    s.expect_panel_keys(s.left)

    s.cursor_to("b.txt")  # the entry menu
    s.wait_repainted(s.main, ("shift+F10",), "the menu opens over the panel")
    s.key("Escape")
    s.expect_panel_keys(s.left, "after Escape closes the menu")
    s.cursor_to("b.txt", "shift+F10", "Up", "Return")  # Properties, the last item
    s.answer("Properties of b.txt", "Escape")
    s.expect_panel_keys(s.left)
