"""Options from the keyboard: settings dialogs opened through their menus,
one value changed, Ok, and the settings file checked; the colour picker; and
the interface switched to German, kept for the next start."""

from e2e import LEFT_PANEL, MAIN_CAPTION, OPTIONS, expect

def menu_bar_pixels(s):
    x, y, width, _ = s.display.geometry(s.main)
    return s.display.pixels(x, y, width, 20)


def scenario_settings_dialogs(s):
    # The menu keys to a dialog, its title, the keys to its field, the value
    # typed there, and the section and key that must then hold it.
    for menu, title, keys, value, section, key in (
            ((OPTIONS, "Return"), "General settings", (), "myeditor --new", "GENERAL", "Editor"),
            ((OPTIONS, "Down", "Return"), "Select Font", ("alt+s",), "14", "FONT", "Size")):
        s.menu(*menu)
        s.wait_window(title)
        s.key(*keys, "ctrl+a")
        s.fill(title, value)
        # The panels take a font first, then the file is written.
        s.wait_until(lambda: s.written()[section].get(key) == value, f"{section} {key} becomes {value}")
        s.expect_panel_keys(s.left, f"after {title}")
    s.menu(LEFT_PANEL, "Down", "Return")  # Settings...
    s.wait_window("Panel Settings")
    s.type("55")  # the name width, selected
    s.key("Tab", "Tab", "Tab", "Tab", "Tab", "Down", "Down")  # to "By name", then "By size"
    s.answer("Panel Settings", "Return")
    s.expect_panel_keys(s.left)
    s.exit()
    panels = {side: dict(s.written()[side + " PANEL"]) for side in ("LEFT", "RIGHT")}
    expect((panels["LEFT"].get("NameWidth"), panels["LEFT"].get("SortType"), panels["RIGHT"].get("NameWidth"),
            panels["RIGHT"].get("SortType")) == ("55", "2", "120", "0"), f"the panels' settings: {panels}")


def scenario_select_colors(s):
    s.menu(OPTIONS, "Down", "Down", "Right", "Return")  # Color > Select colors
    form = s.wait_window("Select Color")
    s.key("space")  # "change" of the back colour, which has the focus
    # The colour picker has the same title: wait for the other window.
    s.wait_until(lambda: s.active()[0] not in (form, s.main) and s.active()[1] == "Select Color",
                 "the colour picker opens")
    s.key("alt+h", "ctrl+a")  # its HTML field
    s.type("#00ff00")
    s.key("Return")
    s.wait_until(lambda: s.active()[0] == form, "back in Select Color")
    s.answer("Select Color", "Return")
    expect(s.written()["COLOR"].get("Back") == "65280", f"COLOR Back is {s.written()['COLOR'].get('Back')}")
    s.expect_panel_keys(s.left)


def scenario_german_menus_messages_and_next_start(s):
    english = menu_bar_pixels(s)
    s.menu(OPTIONS, "Up", "Up", "Up", "Up", "Return")  # Select language, above the three switches
    s.fill("Select language", "German")  # picked by name from the list
    s.wait_main_active()
    s.wait_until(lambda: menu_bar_pixels(s) != english, "the menu bar changes its texts")
    german = menu_bar_pixels(s)
    s.menu(OPTIONS, "Return")  # the menus lead to German windows
    s.answer("Allgemeine Einstellungen", "Escape")
    s.wait_main_active()
    # Rename on "..": "There are no selected files", in German, read from the
    # clipboard after copying it out of the message.
    s.key("Home", "shift+F6")
    expected = "Es sind keine Dateien ausgewählt"
    text = s.copied_text(s.wait_window(MAIN_CAPTION), lambda t: t == expected)
    expect(text == expected, f"the message reads {text!r}")
    s.key("Return")
    s.expect_panel_keys(s.left)
    s.restart()
    language = s.written()["GENERAL"].get("LanguageFile", "")
    expect(language.endswith("/Language/German.lng"), f"GENERAL LanguageFile is {language!r}")
    s.wait_until(lambda: menu_bar_pixels(s) == german, "the next start shows the German menu bar")
