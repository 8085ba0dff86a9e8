// places.h - the folders a user goes to besides the volumes: the home
// folder, the XDG user directories ($XDG_CONFIG_HOME/user-dirs.dirs) and the
// bookmarks GTK programs keep ($XDG_CONFIG_HOME/gtk-3.0/bookmarks).
#pragma once

#include <string>
#include <vector>

namespace vantrel::platform {

struct Place {
  std::string path;   // absolute, bytes
  std::string label;  // what the user calls it: the folder's name or the bookmark's label
};

// The user directories named in `configHome`/user-dirs.dirs, in the file's
// order: "$HOME/..." and absolute values, quotes and backslash escapes as the
// file writes them. A directory that is the home folder itself (the way the
// file switches one off) or that does not exist is left out.
std::vector<Place> UserDirectories(const std::string& home, const std::string& configHome);

// The local folders of `configHome`/gtk-3.0/bookmarks ("URI [LABEL]" a line);
// bookmarks of other machines and folders that no longer exist are left out.
std::vector<Place> GtkBookmarks(const std::string& configHome);

// The home folder, then the user directories and the bookmarks, each path
// once, for the user running the program ($HOME, $XDG_CONFIG_HOME or
// ~/.config).
std::vector<Place> UserPlaces();

}  // namespace vantrel::platform
