"""Options from the keyboard: each settings dialog opened through its menu,
one value changed, Ok, and the settings file checked; colour schemes; and the
interface switched to German, kept for the next start."""

import configparser

from e2e import FILES, LEFT_PANEL, MAIN_CAPTION, OPTIONS, expect, prepare


def menu_bar_pixels(s):
    x, y, width, _ = s.display.geometry(s.main)
    return s.display.pixels(x, y, width, 20)


# The menu keys to a dialog, its title, the keys to its field, the value typed
# there, and the section and key that must then hold it in the settings file.
FIELDS = (((OPTIONS, "Return"), "General settings", (), "myeditor --new", "GENERAL", "Editor"),
          ((OPTIONS, "Down", "Return"), "Select Font", ("alt+s",), "14", "FONT", "Size"))


def scenario_general_settings_editor_and_font_size(s):
    for menu, title, keys, value, section, key in FIELDS:
        s.menu(*menu)
        s.wait_window(title)
        s.key(*keys, "ctrl+a")
        s.fill(title, value)
        # The panels take a font first, then the file is written.
        s.wait_until(lambda: s.written()[section].get(key) == value, f"{section} {key} becomes {value}")
        s.expect_panel_keys(s.left, f"after {title}")


def scenario_panel_settings_width_and_sort(s):
    s.menu(LEFT_PANEL, "Down", "Return")  # Settings...
    s.wait_window("Panel Settings")
    s.type("55")  # the name width, selected
    s.key("Tab", "Tab", "Tab", "Tab", "Tab", "Down", "Down")  # to "By name", then "By size"
    s.key("Return")
    s.wait_no_window("Panel Settings")
    s.expect_panel_keys(s.left)
    s.menu(FILES, "Up", "Return")  # Exit
    s.wait_until(lambda: not s.alive(), "Files | Exit ends the program")
    ini = s.written()
    expect(ini["LEFT PANEL"].get("NameWidth") == "55" and ini["LEFT PANEL"].get("SortType") == "2",
           f"LEFT PANEL is {dict(ini['LEFT PANEL'])}")
    expect(ini["RIGHT PANEL"].get("NameWidth") == "120" and ini["RIGHT PANEL"].get("SortType") == "0",
           f"RIGHT PANEL is untouched: {dict(ini['RIGHT PANEL'])}")


def scenario_select_colors_back_color(s):
    s.menu(OPTIONS, "Down", "Down", "Right", "Return")  # Color > Select colors
    form = s.wait_window("Select Color")
    s.key("space")  # "change" of the back colour, which has the focus
    # The colour picker has the same title: wait for the other window.
    s.wait_until(lambda: s.active()[0] not in (form, s.main) and s.active()[1] == "Select Color",
                 "the colour picker opens")
    s.key("alt+h")  # its HTML field
    s.key("ctrl+a")
    s.type("#00ff00")
    s.key("Return")
    s.wait_until(lambda: s.active()[0] == form, "back in Select Color")
    s.key("Return")
    s.wait_no_window("Select Color")
    color = s.written()["COLOR"]
    expect(color.get("Back") == "65280", f"COLOR Back is {color.get('Back')}")
    s.expect_panel_keys(s.left)


@prepare(lambda s: s.write("theirs.vnp", "[COLOR]\nBack=255\nFile=16711680\n"))
def scenario_color_scheme_save_and_load(s):
    s.menu(OPTIONS, "Down", "Down", "Right", "Down", "Down", "Return")  # Save color scheme as...
    s.wait_window("Save color scheme")
    s.type(s.path("mine"))  # ".vnp" is added
    s.key("Return")
    s.wait_exists("mine.vnp")
    s.wait_main_active()
    saved = configparser.ConfigParser(interpolation=None)
    saved.optionxform = str
    saved.read(s.path("mine.vnp"))
    expect(saved.sections() == ["COLOR"] and list(saved["COLOR"]) ==
           ["Back", "Cursor", "File", "Selected", "Current", "CurSel"],
           f"the scheme is one COLOR section: {s.read('mine.vnp')!r}")

    s.menu(OPTIONS, "Down", "Down", "Right", "Down", "Return")  # Load color scheme
    s.wait_window("Load color scheme")
    s.type(s.path("theirs.vnp"))
    s.key("Return")
    s.wait_until(lambda: s.written().has_section("COLOR"), "the loaded colours are written")
    color = s.written()["COLOR"]
    expect(color.get("Back") == "255" and color.get("File") == "16711680"
           and color.get("Selected") == "255", f"COLOR after loading: {dict(color)}")
    s.expect_panel_keys(s.left)


def scenario_german_menus_messages_and_next_start(s):
    english = menu_bar_pixels(s)
    s.menu(OPTIONS, "Up", "Return")  # Select language, the last item
    s.wait_window("Select language")  # it opens in the program's Language/
    s.type("German.lng")
    s.key("Return")
    s.wait_main_active()
    s.wait_until(lambda: menu_bar_pixels(s) != english, "the menu bar changes its texts")
    german = menu_bar_pixels(s)

    # The menus lead to German windows.
    s.menu(OPTIONS, "Return")
    s.wait_window("Allgemeine Einstellungen")
    s.key("Escape")
    s.wait_main_active()

    # Rename on "..": "There are no selected files", in German, read from
    # the clipboard after copying it out of the message.
    s.key("Home", "shift+F6")
    box = s.wait_window(MAIN_CAPTION)
    expected = "Es sind keine Dateien ausgewählt"
    text = s.copied_text(box, lambda t: t == expected)
    expect(text == expected, f"the message reads {text!r}")
    s.key("Return")
    s.expect_panel_keys(s.left)

    s.restart()
    language = s.written()["GENERAL"].get("LanguageFile", "")
    expect(language.endswith("/Language/German.lng"), f"GENERAL LanguageFile is {language!r}")
    s.wait_until(lambda: menu_bar_pixels(s) == german, "the next start shows the German menu bar")
