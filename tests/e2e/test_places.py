"""Getting to directories: panels that follow their directory, the command
line's cd and a command run from it, a typed path (Ctrl+L), the history
(Alt+Down, Alt+Left/Right), the hotlist (Ctrl+D) and tabs (Ctrl+T, Ctrl+Tab,
Ctrl+W); the history, hotlist and tabs are there again at the next start."""

import os

from e2e import MAIN_CAPTION, prepare

# Command lines and the directory the panel then shows.
CDS = (("cd sub", "left/sub"), ("cd ../docs", "left/docs"), ("cd -", "left/sub"),
       ("cd ~", "../home"), ("cd " + "{left}", "left"))

# Keys (None: a restart) and the directory the active panel then shows. The
# hotlist gets sub; the history, newest first, is docs, left, sub; a second
# tab stands on left; after the restart the first tab is the current one.
HISTORY_HOTLIST_AND_TABS = (
    (("Home", "Down", "Down", "Return", "ctrl+d", "Down", "Return"), "left/sub"),  # "Add current directory"
    (("Home", "Return", "Home", "Down", "Return"), "left/docs"),
    (("alt+Left",), "left"), (("alt+Right",), "left/docs"), (("ctrl+t", "Home", "Return"), "left"),
    (("ctrl+Tab",), "left/docs"), (None, "left/docs"),
    (("alt+Down", "Down", "Down", "Return"), "left/sub"),  # opens on docs, shown now; the third newest, kept
    (("ctrl+Tab",), "left"), (("ctrl+w",), "left/sub"),  # the second tab is kept; Ctrl+W closes it
    (("Home", "Return", "ctrl+d", "Down", "Return"), "left/sub"))  # the hotlist is kept


@prepare(lambda s: os.utime(s.path("left/sub"), (1e9, 1e9)))
def scenario_live_panel_ctrl_r_and_typed_path_ctrl_l(s):
    s.wait_repainted(s.main, lambda: os.mkdir(s.path("left/live")), "a directory another program made appears")
    s.cursor_to("live", "Return")
    s.wait_cwd("left/live", "Enter on the new directory opens it")
    os.rmdir(s.path("left/live"))
    s.expect_panel_keys(s.left, "a deleted directory sends the panel to its parent")
    # A file made inside sub changes sub's time, which no watch reports: Ctrl+R shows it.
    s.write("left/sub/new.txt", "")
    s.wait_repainted(s.main, ("ctrl+r",), "Ctrl+R shows sub's new time")
    s.expect_panel_keys(s.left, "after Ctrl+R")
    s.key("ctrl+l")
    s.type(s.path("left/sub/inner.txt"))  # in place of the path, which is selected
    s.key("Return")
    s.wait_cwd("left/sub", "a file's path goes to its directory")
    s.key("Return")  # the cursor stands on the file: the desktop opens it
    s.wait_until(lambda: any(l.endswith("/left/sub/inner.txt") for l in s.launched()),
                 "the cursor stood on inner.txt")
    s.key("ctrl+l", "Escape")
    s.expect_panel_keys("left/sub", "after Escape in the path field")


def scenario_command_line_cd_and_a_command(s):
    for line, directory in CDS:
        s.command(line.format(left=s.left))
        s.wait_cwd(directory, f"{line} goes to {directory}")
    s.command("cd /nonexistent")
    s.answer(MAIN_CAPTION, "Return")  # Cannot change to /nonexistent
    s.command("touch made")
    s.wait_exists("left/made")
    s.click(s.main, 100, 200)  # the left panel's list takes the keyboard back
    s.expect_panel_keys(s.left)


def scenario_history_hotlist_and_tabs_across_a_restart(s):
    for keys, directory in HISTORY_HOTLIST_AND_TABS:
        s.key(*keys) if keys else s.restart()
        s.wait_cwd(directory, f"{keys or 'the restart'} shows {directory}")
    s.expect_panel_keys("left/sub")
