"""The tools a person reaches for every week, from the keyboard: quick view
following the cursor (Ctrl+Q, Tab into it and back)."""

from e2e import expect, prepare


def right_side(s):
    """The pixels of the right panel's place (below its drive row, above the
    command line)."""
    x, y, width, height = s.display.geometry(s.main)
    return s.display.pixels(x + width // 2 + 20, y + 90, width // 2 - 40, height - 200)


def wait_right_side(s, keys, what, same_as=None):
    """Presses `keys` and waits until the right side has changed and settled
    (or, with `same_as`, until it looks exactly like that again)."""
    before = right_side(s)
    s.key(*keys)
    last = [before]

    def settled():
        now = right_side(s)
        done = now == same_as if same_as is not None else (now != before and now == last[0])
        last[0] = now
        return done
    s.wait_until(settled, what)
    return last[0]


@prepare(lambda s: s.write("left/b.txt", "\n".join(f"line {i} of bravo" for i in range(200)) + "\n"))
def scenario_quick_view_follows_the_cursor(s):
    panel = right_side(s)
    s.cursor_to("a.txt")
    on_a = wait_right_side(s, ("ctrl+q",), "Ctrl+Q turns the right panel into a view of a.txt")
    on_b = wait_right_side(s, ("Down",), "the view follows the cursor onto b.txt")
    wait_right_side(s, ("Up",), "back on a.txt the view shows a.txt again", same_as=on_a)
    wait_right_side(s, ("Up", "Up"), "on the directory sub the view shows its summary")
    s.cursor_to("b.txt")
    wait_right_side(s, (), "b.txt again", same_as=on_b)
    # Tab goes into the view, where PgDn scrolls the text; Tab comes back.
    wait_right_side(s, ("Tab", "Next"), "PgDn scrolls the view after Tab")
    s.key("Tab")
    wait_right_side(s, ("Down",), "Tab gave the keys back: Down moves the cursor onto c.txt")
    # Ctrl+Q again: the right panel is back as it was, and the left keeps the keys.
    wait_right_side(s, ("ctrl+q",), "Ctrl+Q brings the right panel back", same_as=panel)
    s.expect_panel_keys(s.left, "after the quick view")
    expect(s.launched() == [], f"nothing was started: {s.launched()}")
