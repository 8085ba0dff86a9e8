// desktop_apps.h - the desktop's applications for a type of file, as the XDG
// desktop entry and MIME application association rules describe them:
// desktop files under the applications folders of $XDG_DATA_HOME and
// $XDG_DATA_DIRS, and the mimeapps.list files of $XDG_CONFIG_HOME,
// $XDG_CONFIG_DIRS and the data folders, which choose the default and add or
// remove associations.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform {

// One application, from its desktop file.
struct DesktopApp {
  std::string id;    // desktop file ID: "org.example.Editor.desktop"
  std::string file;  // the desktop file's path
  std::string name;  // in the user's language where the file has it
  std::string icon;  // an icon theme name or an absolute path
  std::string exec;  // the Exec value, unescaped
  bool terminal = false;
  std::vector<std::string> mimeTypes;
};

// The folders the rules read, most important first.
struct XdgDirs {
  std::string configHome;
  std::vector<std::string> configDirs;
  std::string dataHome;
  std::vector<std::string> dataDirs;
  std::vector<std::string> desktops;  // $XDG_CURRENT_DESKTOP, lower case
};
// From the environment, with the documented defaults for unset variables.
XdgDirs XdgDirsFromEnvironment();

// A file of groups of "Key=Value" lines (desktop files, mimeapps.list).
using KeyFileGroups = std::map<std::string, std::map<std::string, std::string>>;
KeyFileGroups ParseKeyFile(std::string_view text);

// The application a desktop file describes; false when it is not one that
// can be started (not Type=Application, Hidden, no Exec, or a TryExec
// program that is not installed). `language` is like "de_DE" for Name[de_DE]
// and Name[de].
bool ParseDesktopApp(std::string_view text, const std::string& id, DesktopApp& out,
                     std::string_view language = {});

// The applications for a file whose MIME types are `mimeTypes` (the type
// itself first, then the types it is a kind of, such as text/plain for a C
// source): the default first, then the other associated ones, each once.
std::vector<DesktopApp> ApplicationsFor(const std::vector<std::string>& mimeTypes,
                                        const XdgDirs& dirs);

// The program and arguments that start `app` on the file `path`: the Exec
// line split by its quoting rules, with %f, %F, %u and %U replaced by the path
// (which is appended when the line has none of them), %i by the icon, %c by
// the name, %k by the desktop file and %% by "%".
std::vector<std::string> ExecArguments(const DesktopApp& app, const std::string& path);

}  // namespace vantrel::platform
