"""Options from the keyboard: each settings dialog opened through its menu,
one value changed, Ok, and the settings file checked; colour schemes; and the
interface switched to German, kept for the next start."""

import configparser
import os
import time

from Xlib import X

from e2e import MAIN_CAPTION, expect, prepare

# The menus of the menu bar, left to right.
LEFT_PANEL, FILES, COMMANDS, OPTIONS = 0, 1, 2, 3


def menu(s, index, *keys):
    """Alt selects the menu bar, the arrows reach menu `index` and open it on
    its first item; `keys` move on from there."""
    s.key("Alt_L", *(["Right"] * index), "Down", *keys)


def written(s):
    """The settings file as the program left it (keys keep their case)."""
    ini = configparser.ConfigParser(interpolation=None, strict=False)
    ini.optionxform = str
    ini.read(os.path.join(s.config, "vantrel.ini"), encoding="utf-8")
    return ini


def exit_program(s):
    menu(s, FILES, "Up", "Return")  # Exit, the last item
    s.wait_until(lambda: not s.alive(), "Files | Exit ends the program")


def menu_bar_pixels(s):
    x, y, width, _ = s.display.geometry(s.main)
    return s.display.root.get_image(x, y, width, 20, X.ZPixmap, 0xFFFFFFFF).data


def clipboard_text(s):
    """The text on the clipboard, asked from its owner as any program asks."""
    conn = s.display.conn
    requestor = s.display.root.create_window(0, 0, 1, 1, 0, conn.screen().root_depth)
    prop = conn.intern_atom("VANTREL_E2E_SELECTION")
    requestor.convert_selection(conn.intern_atom("CLIPBOARD"), conn.intern_atom("UTF8_STRING"), prop,
                                X.CurrentTime)
    conn.flush()
    deadline = time.monotonic() + 5
    try:
        while time.monotonic() < deadline:
            while conn.pending_events():
                event = conn.next_event()
                if event.type == X.SelectionNotify and event.requestor == requestor:
                    value = requestor.get_full_property(prop, X.AnyPropertyType)
                    return value.value.decode() if value is not None else None
            time.sleep(0.03)
        return None
    finally:
        requestor.destroy()
        conn.flush()


def scenario_general_settings_editor(s):
    menu(s, OPTIONS, "Return")  # General settings...
    s.wait_window("General settings")
    s.key("ctrl+a")  # the editor's field has the focus
    s.type("myeditor --new")
    s.key("Return")
    s.wait_no_window("General settings")
    general = written(s)["GENERAL"]
    expect(general.get("Editor") == "myeditor --new", f"GENERAL Editor is {general.get('Editor')}")
    s.expect_panel_keys(s.left)


def scenario_panel_settings_width_and_sort(s):
    menu(s, LEFT_PANEL, "Down", "Return")  # Settings...
    s.wait_window("Panel Settings")
    s.type("55")  # the name width, selected
    s.key("Tab", "Tab", "Tab", "Tab", "Tab", "Down", "Down")  # to "By name", then "By size"
    s.key("Return")
    s.wait_no_window("Panel Settings")
    s.expect_panel_keys(s.left)
    exit_program(s)
    ini = written(s)
    expect(ini["LEFT PANEL"].get("NameWidth") == "55" and ini["LEFT PANEL"].get("SortType") == "2",
           f"LEFT PANEL is {dict(ini['LEFT PANEL'])}")
    expect(ini["RIGHT PANEL"].get("NameWidth") == "120" and ini["RIGHT PANEL"].get("SortType") == "0",
           f"RIGHT PANEL is untouched: {dict(ini['RIGHT PANEL'])}")


def scenario_select_colors_back_color(s):
    menu(s, OPTIONS, "Down", "Down", "Right", "Return")  # Color > Select colors
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
    color = written(s)["COLOR"]
    expect(color.get("Back") == "65280", f"COLOR Back is {color.get('Back')}")
    s.expect_panel_keys(s.left)


def scenario_font_size(s):
    menu(s, OPTIONS, "Down", "Return")  # Font...
    s.wait_window("Select Font")
    s.key("alt+s")  # its size field
    s.key("ctrl+a")
    s.type("14")
    s.key("Return")
    s.wait_no_window("Select Font")
    # The panels take the font first, then the file is written.
    s.wait_until(lambda: written(s)["FONT"].get("Size") == "14", "FONT Size becomes 14")
    s.expect_panel_keys(s.left)


@prepare(lambda s: s.write("theirs.vnp", "[COLOR]\nBack=255\nFile=16711680\n"))
def scenario_color_scheme_save_and_load(s):
    menu(s, OPTIONS, "Down", "Down", "Right", "Down", "Down", "Return")  # Save color scheme as...
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

    menu(s, OPTIONS, "Down", "Down", "Right", "Down", "Return")  # Load color scheme
    s.wait_window("Load color scheme")
    s.type(s.path("theirs.vnp"))
    s.key("Return")
    s.wait_until(lambda: written(s).has_section("COLOR"), "the loaded colours are written")
    color = written(s)["COLOR"]
    expect(color.get("Back") == "255" and color.get("File") == "16711680"
           and color.get("Selected") == "255", f"COLOR after loading: {dict(color)}")
    s.expect_panel_keys(s.left)


def scenario_german_menus_messages_and_next_start(s):
    english = menu_bar_pixels(s)
    menu(s, OPTIONS, "Up", "Return")  # Select language, the last item
    s.wait_window("Select language")  # it opens in the program's Language/
    s.type("German.lng")
    s.key("Return")
    s.wait_main_active()
    s.wait_until(lambda: menu_bar_pixels(s) != english, "the menu bar changes its texts")
    german = menu_bar_pixels(s)

    # The menus lead to German windows.
    menu(s, OPTIONS, "Return")
    s.wait_window("Allgemeine Einstellungen")
    s.key("Escape")
    s.wait_main_active()

    # Rename on "..": "There are no selected files", in German, read from
    # the clipboard after copying it out of the message.
    s.key("Home", "shift+F6")
    box = s.wait_window(MAIN_CAPTION)
    x, y, width, _ = s.display.geometry(box)
    expected = "Es sind keine Dateien ausgewählt"
    # A click gives the text the focus; Ctrl+A and Ctrl+C copy all of it.
    # Keys that arrive while the click is still being handled can be lost:
    # then copy again.
    text = None
    for _ in range(10):
        s.display.click(x + width * 3 // 5, y + 24, 1)
        s.key("ctrl+a", "ctrl+c")
        text = clipboard_text(s)
        if text == expected:
            break
        time.sleep(0.2)
    expect(text == expected, f"the message reads {text!r}")
    s.key("Return")
    s.expect_panel_keys(s.left)

    exit_program(s)
    language = written(s)["GENERAL"].get("LanguageFile", "")
    expect(language.endswith("/Language/German.lng"), f"GENERAL LanguageFile is {language!r}")
    s.settings["GENERAL"]["LanguageFile"] = language
    s.main = None  # a new main window, which may get the old one's id
    s.start()
    s.wait_until(lambda: menu_bar_pixels(s) == german, "the next start shows the German menu bar")
