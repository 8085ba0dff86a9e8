// places.cpp - the user directories and GTK bookmarks, read from their files.
#include "platform/places.h"

#include <cstdlib>
#include <fstream>

#include "platform/file_uri.h"
#include "platform/fs.h"

namespace vantrel::platform {

namespace {

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The value of XDG_..._DIR="...": the text between the quotes, backslash
// escapes undone, "$HOME" at the start replaced.
std::string UserDirValue(const std::string& line, size_t start, const std::string& home) {
  std::string value;
  for (size_t i = start; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value += line[i];
  }
  if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
  return value;
}

}  // namespace

std::vector<Place> UserDirectories(const std::string& home, const std::string& configHome) {
  std::vector<Place> places;
  std::ifstream file(JoinPath(configHome, "user-dirs.dirs"));
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("XDG_", 0) != 0) continue;
    const size_t eq = line.find("_DIR=\"");
    if (eq == std::string::npos) continue;
    const std::string path = WithoutTrailingSlash(UserDirValue(line, eq + 6, home));
    if (path.empty() || path.front() != '/' || path == WithoutTrailingSlash(home) || !IsDirectory(path)) continue;
    places.push_back({path, NameOf(path)});
  }
  return places;
}

std::vector<Place> GtkBookmarks(const std::string& configHome) {
  std::vector<Place> places;
  std::ifstream file(JoinPath(configHome, "gtk-3.0/bookmarks"));
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t space = line.find(' ');
    const auto path = LocalPathOfUri(line.substr(0, space));
    if (!path || !IsDirectory(*path)) continue;
    const std::string label = space == std::string::npos ? std::string() : line.substr(space + 1);
    places.push_back({WithoutTrailingSlash(*path), label.empty() ? NameOf(WithoutTrailingSlash(*path)) : label});
  }
  return places;
}

std::vector<Place> UserPlaces() {
  const char* homeEnv = std::getenv("HOME");
  const std::string home = homeEnv != nullptr && *homeEnv == '/' ? WithoutTrailingSlash(homeEnv) : std::string();
  const char* configEnv = std::getenv("XDG_CONFIG_HOME");
  const std::string config = configEnv != nullptr && *configEnv == '/' ? std::string(configEnv)
                             : home.empty()                           ? std::string()
                                                                      : JoinPath(home, ".config");
  std::vector<Place> places;
  auto add = [&places](const Place& place) {
    for (const Place& known : places)
      if (known.path == place.path) return;
    places.push_back(place);
  };
  if (!home.empty() && IsDirectory(home)) add({home, NameOf(home)});
  if (!home.empty() && !config.empty())
    for (const Place& place : UserDirectories(home, config)) add(place);
  if (!config.empty())
    for (const Place& place : GtkBookmarks(config)) add(place);
  return places;
}

}  // namespace vantrel::platform
