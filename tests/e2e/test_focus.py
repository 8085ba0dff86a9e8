"""The keyboard stays with the panels: commands repeated many times, and the
drive boxes."""

from e2e import DIALOG_CAPTION, MAIN_CAPTION, prepare

ROUNDS = 10


def many_files(s):
    for i in range(ROUNDS):
        s.write(f"left/f{i}.txt", f"file {i}\n")
        s.make_zip(f"left/pack{i}.zip", {f"x{i}.txt": f"x{i}\n"})


@prepare(many_files)
def scenario_commands_repeated(s):
    for i in range(ROUNDS):
        name = f"f{i}.txt"
        s.cursor_to(name)
        s.key("F5")
        s.answer(MAIN_CAPTION, "Return")
        s.wait_exists("right/" + name)
        s.expect_panel_keys(s.left, f"after F5 number {i + 1}")

        s.cursor_to(name)
        s.key("alt+F5")
        s.answer("Pack files to ZIP", "Return")
        s.wait_until(lambda: s.zip_names("right/archive.zip") >= {name},
                     f"{name} is packed into archive.zip")
        s.expect_panel_keys(s.left, f"after Alt+F5 number {i + 1}")

        s.cursor_to(f"pack{i}.zip")
        s.key("alt+F9")
        s.answer(DIALOG_CAPTION, "Return")
        s.wait_exists(f"left/x{i}.txt")
        s.expect_panel_keys(s.left, f"after Alt+F9 number {i + 1}")

        s.cursor_to(name)
        s.key("F8")
        s.answer(MAIN_CAPTION, "Return")
        s.wait_exists("left/" + name, exists=False)
        s.expect_panel_keys(s.left, f"after F8 number {i + 1}")


def scenario_drive_box_escape(s):
    s.key("alt+F1")
    s.key("Escape")
    s.expect_panel_keys(s.left, "after Alt+F1, Escape")
    s.key("alt+F2")
    s.key("Escape")
    s.expect_panel_keys(s.right, "after Alt+F2, Escape")
