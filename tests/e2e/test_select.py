"""Finding and marking entries from the keyboard: quick search (Ctrl+S,
Alt+letter, Down/Up between matches), Gray +/- with a mask, Gray *, Ctrl+A
and Shift ranges. Marks are judged by what F5 copies."""

from e2e import DIALOG_CAPTION, prepare

# Keys that open the field, text typed into it, keys in it (the last one
# closes it), and the directory Enter then opens: the entry it found.
QUICK_SEARCHES = (("ctrl+s", "SU", ("Down", "Up", "Down", "Return"), "sub2"),
                  ("ctrl+s", "*2", ("Escape",), "sub2"),
                  ("alt+d", "", ("Escape",), "docs"),
                  ("alt+s", "", ("Down", "Up", "Return"), "sub"))

# Keys from the cursor on a.txt, a mask typed into the mask dialog the keys
# opened (or None), and what F5 then copies.
MARKS = ((("KP_Add",), "*.log", {"x.log", "y.log"}),
         (("ctrl+a", "KP_Subtract"), "*.txt", {"x.log", "y.log"}),
         (("Insert", "KP_Multiply"), None, {"b.txt", "c.txt", "x.log", "y.log"}),
         (("ctrl+a",), None, {"a.txt", "b.txt", "c.txt", "x.log", "y.log"}),
         (("shift+Down",) * 3, None, {"a.txt", "b.txt", "c.txt"}),
         (("End", "shift+Up", "shift+Up"), None, {"x.log", "y.log"}))


@prepare(lambda s: s.write("left/sub2/x", ""))
def scenario_quick_search(s):
    for opening, text, keys, found in QUICK_SEARCHES:
        s.key("Home", opening)
        s.type(text)
        s.key(*keys, "Return")
        s.expect_panel_keys("left/" + found, f"{opening} {text!r} {keys} found {found}")
        s.key("Home", "Return")
        s.wait_cwd(s.left)


@prepare(lambda s: [s.write("left/" + name, name) for name in ("x.log", "y.log")])
def scenario_marks(s):
    for keys, mask, expected in MARKS:
        s.cursor_to("a.txt")
        s.key(*keys)
        if mask is not None:
            s.fill(DIALOG_CAPTION, mask)
        s.expect_copied(expected, f"{keys} {mask or ''}")
