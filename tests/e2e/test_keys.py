"""The keys and clicks of daily use: the parent and enter keys, swapping the
panels, a lone Alt, typing into the command line from a panel (Space, Enter,
Ctrl+Enter, Ctrl+E), clicks that move the cursor or mark, and a click on the
function-key bar; each followed by the next panel key."""

import os
import time

from e2e import expect


def row_geometry(s):
    """(x, y of the first row's middle, row height) of the left panel, found
    from the pixels of the cursor bar on "..", which Down moves away."""
    x = 60
    _, wy, _, height = s.display.geometry(s.main)

    def column():
        return s.display.pixels(s.display.geometry(s.main)[0] + x, wy, 1, height)

    def settled(what):  # two looks 150 ms apart agree
        last = [None]

        def same():
            now = column()
            done, last[0] = now == last[0], now
            return done and now or time.sleep(0.15)
        return s.wait_until(same, what)
    pixel = lambda data, i: data[4 * i:4 * i + 3]
    for _ in range(5):
        s.key("Home")
        before = settled("the cursor bar stands on ..")
        s.key("Down")
        s.wait_until(lambda: column() != before, "Down moves the cursor bar")
        after = settled("the cursor bar stands on the second row")
        # The bar leaves the first row and fills the second: one band of
        # changed pixels two rows high (the file line further down changes too).
        changed = [i for i in range(height) if pixel(before, i) != pixel(after, i)]
        top = end = changed[0]
        for i in changed[1:]:
            if i - end > 3:
                break
            end = i
        row = (end - top + 1) // 2
        if 8 <= row <= 60:
            s.key("Home")
            return x, top + row // 2, row
    expect(False, f"the rows could not be measured (last band {top}..{end})")


# From the start: keys pressed after the cursor was put on an entry (None:
# where it stands), and the directory the active panel then shows.
KEYS = (("sub", ("ctrl+Next",), "left/sub"),      # Ctrl+PgDn enters
        (None, ("ctrl+Prior",), "left"),           # Ctrl+PgUp: the parent, the cursor on sub
        (None, ("Return",), "left/sub"),           # ... as Enter shows
        (None, ("BackSpace",), "left"),            # Backspace: the parent
        ("a.txt", ("ctrl+Next",), "left"),         # a file is not entered
        (None, ("ctrl+u",), "right"),              # Ctrl+U: the panels swap
        (None, ("ctrl+u",), "left"),
        ("..", ("Alt_L", "Down", "Return"), "left/docs"),  # a lone Alt leaves Down to the panel
        (None, ("BackSpace",), "left"))


def scenario_keys(s):
    for entry, keys, where in KEYS:
        if entry is not None:
            s.cursor_to(entry)
        s.key(*keys)
        s.wait_cwd(where, f"{keys} on {entry} shows {where} (it shows {s.cwd()})")
    s.expect_panel_keys(s.left)


def scenario_command_line_from_the_panel(s):
    s.cursor_to("a.txt", "space")  # nothing typed yet: Space marks
    s.type("touch typed.txt")      # letters and blanks go to the command line
    s.key("Return")
    s.wait_exists("left/typed.txt")
    s.expect_copied(["a.txt"], "Space marked a.txt")
    s.type("cp ")
    s.cursor_to("b.txt", "ctrl+Return")  # the name into the command line
    s.type("../right/copied.txt")
    s.key("Return")
    s.wait_exists("right/copied.txt")
    os.remove(s.path("right/copied.txt"))
    s.key("ctrl+e", "Return")  # the last command again
    s.wait_exists("right/copied.txt")
    s.type("garbage")
    s.key("Escape")  # clears the field: Enter opens the entry again
    s.cursor_to("sub", "Return")
    s.expect_panel_keys("left/sub")


def scenario_clicks_and_the_key_bar(s):
    x, y, row = row_geometry(s)
    at = lambda name: y + s.listing(s.left).index(name) * row
    # A plain click: the cursor only; Ctrl+click marks; Shift+click a range.
    for clicks, copied in (((("", "b.txt"),), ["b.txt"]),
                           ((("ctrl", "a.txt"), ("ctrl", "c.txt")), ["a.txt", "c.txt"]),
                           ((("", "a.txt"), ("shift", "c.txt")), ["a.txt", "b.txt", "c.txt"])):
        for mod, name in clicks:
            if mod:
                s.display.hold(mod, lambda: s.click(s.main, x, at(name)))
            else:
                s.click(s.main, x, at(name))
        s.expect_copied(copied, f"after the clicks {clicks}")
        s.key("ctrl+r")  # marks left over by the copy: none
    # F7 on the function-key bar: the new-directory dialog.
    width = s.display.geometry(s.main)[2]
    s.click(s.main, width * 13 // 20, -32)
    s.fill("New directory", "clicked")
    s.wait_exists("left/clicked")
    s.expect_panel_keys(s.left)


def scenario_look_light_and_dark(s):
    """The cursor bar is plain to see on a light and on a dark desktop (Down
    moves a bar of its own colour); the screenshots are kept either way."""
    for theme in ("", "Adwaita:dark"):
        if theme:
            s.theme = theme
            s.restart()
        x, y, row = row_geometry(s)
        wx, wy, width, _ = s.display.geometry(s.main)
        # The middle of the left name column, right of the short names.
        bar = s.display.pixels(wx + width // 4, wy + y, 1, 1)
        plain = s.display.pixels(wx + width // 4, wy + y + 2 * row, 1, 1)
        lightness = lambda p: sum(p[:3]) / 3
        expect(abs(lightness(bar) - lightness(plain)) > 40 or bar[:3] != plain[:3] and max(
            abs(a - b) for a, b in zip(bar[:3], plain[:3])) > 60, f"the cursor bar stands out: {bar[:3]} on {plain[:3]}")
        expect((lightness(plain) < 100) == bool(theme), f"the list follows the {theme or 'light'} palette: {plain[:3]}")
        s.display.screenshot(f"{s.artifacts}-{'dark' if theme else 'light'}.png")
        s.expect_panel_keys(s.left, f"with the {theme or 'light'} palette")
