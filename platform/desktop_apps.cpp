// desktop_apps.cpp - desktop files, mimeapps.list and Exec lines.
#include "platform/desktop_apps.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/fs.h"
#include "platform/process.h"

namespace vantrel::platform {

namespace {

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The escapes of a string value: \s \n \t \r \\ (others stay as they are).
std::string Unescape(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 >= value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += '\\'; out += value[i]; break;
    }
  }
  return out;
}

// Desktop files under `dir`, recursively; the ID of "dir/kde/app.desktop" is
// "kde-app.desktop".
void ScanApplications(const std::string& dir, const std::string& prefix,
                      std::vector<std::pair<std::string, std::string>>& out, int depth = 0) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr || depth > 8) {
    if (d) closedir(d);
    return;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = JoinPath(dir, name);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      ScanApplications(path, prefix + name + "-", out, depth + 1);
    else if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0)
      out.emplace_back(prefix + name, path);
  }
}

// The mimeapps.list files, most important first.
std::vector<std::string> MimeAppsLists(const XdgDirs& dirs) {
  std::vector<std::string> folders;
  folders.push_back(dirs.configHome);
  folders.insert(folders.end(), dirs.configDirs.begin(), dirs.configDirs.end());
  folders.push_back(JoinPath(dirs.dataHome, "applications"));
  for (const std::string& d : dirs.dataDirs) folders.push_back(JoinPath(d, "applications"));
  std::vector<std::string> files;
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    for (const std::string& desktop : dirs.desktops)
      files.push_back(JoinPath(folder, desktop + "-mimeapps.list"));
    files.push_back(JoinPath(folder, "mimeapps.list"));
  }
  return files;
}

bool IsDesktopSpecific(const std::string& file) {
  return file.size() < 14 || file.compare(file.size() - 14, 14, "/mimeapps.list") != 0;
}

}  // namespace

XdgDirs XdgDirsFromEnvironment() {
  XdgDirs dirs;
  const std::string home = Env("HOME");
  dirs.configHome = Env("XDG_CONFIG_HOME");
  if (dirs.configHome.empty()) dirs.configHome = JoinPath(home, ".config");
  dirs.dataHome = Env("XDG_DATA_HOME");
  if (dirs.dataHome.empty()) dirs.dataHome = JoinPath(home, ".local/share");
  std::string configDirs = Env("XDG_CONFIG_DIRS");
  dirs.configDirs = Split(configDirs.empty() ? "/etc/xdg" : configDirs, ':');
  std::string dataDirs = Env("XDG_DATA_DIRS");
  dirs.dataDirs = Split(dataDirs.empty() ? "/usr/local/share:/usr/share" : dataDirs, ':');
  for (std::string d : Split(Env("XDG_CURRENT_DESKTOP"), ':')) {
    for (char& c : d)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    dirs.desktops.push_back(d);
  }
  return dirs;
}

KeyFileGroups ParseKeyFile(std::string_view text) {
  KeyFileGroups groups;
  std::map<std::string, std::string>* group = nullptr;
  for (std::string line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    if (line[first] == '[') {
      const size_t close = line.find(']', first);
      group = close == std::string::npos ? nullptr : &groups[line.substr(first + 1, close - first - 1)];
      continue;
    }
    const size_t eq = line.find('=');
    if (group == nullptr || eq == std::string::npos) continue;
    std::string key = line.substr(first, eq - first);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    std::string value = line.substr(eq + 1);
    value.erase(0, value.find_first_not_of(" \t") == std::string::npos ? value.size()
                                                                        : value.find_first_not_of(" \t"));
    group->emplace(std::move(key), std::move(value));  // of duplicate keys the first counts
  }
  return groups;
}

bool ParseDesktopApp(std::string_view text, const std::string& id, DesktopApp& out,
                     std::string_view language) {
  const KeyFileGroups groups = ParseKeyFile(text);
  const auto entry = groups.find("Desktop Entry");
  if (entry == groups.end()) return false;
  const auto& keys = entry->second;
  auto get = [&](const std::string& key) {
    const auto it = keys.find(key);
    return it == keys.end() ? std::string() : it->second;
  };
  if (get("Type") != "Application" || get("Hidden") == "true") return false;
  const std::string exec = Unescape(get("Exec"));
  if (exec.empty()) return false;
  const std::string tryExec = Unescape(get("TryExec"));
  if (!tryExec.empty() && FindProgram(tryExec).empty()) return false;

  out = DesktopApp{};
  out.id = id;
  out.exec = exec;
  out.icon = Unescape(get("Icon"));
  out.terminal = get("Terminal") == "true";
  // Name[lang_COUNTRY], then Name[lang], then Name.
  std::string lang(language.substr(0, language.find_first_of(".@")));
  for (const std::string& key : {"Name[" + lang + "]", "Name[" + lang.substr(0, lang.find('_')) + "]",
                                 std::string("Name")}) {
    if (lang.empty() && key != "Name") continue;
    if (!get(key).empty()) {
      out.name = Unescape(get(key));
      break;
    }
  }
  if (out.name.empty()) out.name = id;
  out.mimeTypes = Split(get("MimeType"), ';');
  return true;
}

std::vector<DesktopApp> ApplicationsFor(const std::vector<std::string>& mimeTypes,
                                        const XdgDirs& dirs) {
  std::string language = Env("LC_ALL");
  if (language.empty()) language = Env("LC_MESSAGES");
  if (language.empty()) language = Env("LANG");

  // Every installed application; an ID found in an earlier folder hides the
  // same ID in later ones.
  std::vector<std::pair<std::string, std::string>> files;
  ScanApplications(JoinPath(dirs.dataHome, "applications"), "", files);
  for (const std::string& d : dirs.dataDirs) ScanApplications(JoinPath(d, "applications"), "", files);
  std::map<std::string, DesktopApp> installed;
  std::vector<std::string> order;  // IDs in folder order
  std::set<std::string> seen;
  for (const auto& [id, path] : files) {
    if (!seen.insert(id).second) continue;
    DesktopApp app;
    if (!ParseDesktopApp(ReadAll(path), id, app, language)) continue;
    app.file = path;
    order.push_back(id);
    installed.emplace(id, std::move(app));
  }

  std::vector<KeyFileGroups> lists;
  std::vector<bool> specific;
  for (const std::string& file : MimeAppsLists(dirs)) {
    lists.push_back(ParseKeyFile(ReadAll(file)));
    specific.push_back(IsDesktopSpecific(file));
  }
  auto entries = [](const KeyFileGroups& list, const char* group, const std::string& type) {
    const auto g = list.find(group);
    if (g == list.end()) return std::vector<std::string>();
    const auto v = g->second.find(type);
    return v == g->second.end() ? std::vector<std::string>() : Split(v->second, ';');
  };

  std::vector<DesktopApp> result;
  std::set<std::string> listed;
  auto add = [&](const std::string& id) {
    const auto it = installed.find(id);
    if (it == installed.end() || !listed.insert(id).second) return false;
    result.push_back(it->second);
    return true;
  };
  // The default: the first installed one named under [Default Applications],
  // for the type itself before the types it is a kind of.
  bool haveDefault = false;
  for (const std::string& type : mimeTypes) {
    for (const KeyFileGroups& list : lists) {
      for (const std::string& id : entries(list, "Default Applications", type))
        if (add(id)) {
          haveDefault = true;
          break;
        }
      if (haveDefault) break;
    }
    if (haveDefault) break;
  }
  // Then, type by type: associations added in each list unless an earlier
  // list removed them, then the desktop files that name the type.
  for (const std::string& type : mimeTypes) {
    std::set<std::string> removed;
    for (size_t i = 0; i < lists.size(); ++i) {
      if (specific[i]) continue;  // desktop-specific lists only choose defaults
      for (const std::string& id : entries(lists[i], "Added Associations", type))
        if (!removed.count(id)) add(id);
      for (const std::string& id : entries(lists[i], "Removed Associations", type)) removed.insert(id);
    }
    for (const std::string& id : order) {
      const DesktopApp& app = installed.at(id);
      if (!removed.count(id) &&
          std::find(app.mimeTypes.begin(), app.mimeTypes.end(), type) != app.mimeTypes.end())
        add(id);
    }
  }
  return result;
}

std::vector<std::string> ExecArguments(const DesktopApp& app, const std::string& path) {
  // Split by the quoting rules: blanks separate, double quotes group, and
  // inside quotes a backslash escapes ", `, $ and \.
  std::vector<std::string> words;
  std::vector<bool> quotedWord;
  std::string word;
  bool inWord = false, quoted = false, wasQuoted = false;
  const std::string& line = app.exec;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < line.size() && std::string_view("\"`$\\").find(line[i + 1]) != std::string_view::npos) {
        word += line[++i];
      } else {
        word += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) {
        words.push_back(word);
        quotedWord.push_back(wasQuoted);
      }
      word.clear();
      inWord = wasQuoted = false;
      continue;
    }
    inWord = true;
    if (c == '"') {
      quoted = wasQuoted = true;
      continue;
    }
    word += c;
  }
  if (inWord) {
    words.push_back(word);
    quotedWord.push_back(wasQuoted);
  }

  // Field codes.
  std::vector<std::string> args;
  bool gotFile = false;
  for (size_t w = 0; w < words.size(); ++w) {
    const std::string& in = words[w];
    if (!quotedWord[w] && in == "%i") {
      if (!app.icon.empty()) {
        args.push_back("--icon");
        args.push_back(app.icon);
      }
      continue;
    }
    std::string out;
    bool drop = false;
    for (size_t i = 0; i < in.size(); ++i) {
      if (in[i] != '%' || i + 1 >= in.size()) {
        out += in[i];
        continue;
      }
      switch (in[++i]) {
        case 'f': case 'F': case 'u': case 'U':
          out += path;
          gotFile = true;
          break;
        case 'c': out += app.name; break;
        case 'k': out += app.file; break;
        case '%': out += '%'; break;
        default:
          // Deprecated and unknown codes are removed; alone they leave no word.
          if (in.size() == 2) drop = true;
          break;
      }
    }
    if (!drop) args.push_back(out);
  }
  if (!gotFile && !args.empty()) args.push_back(path);
  return args;
}

}  // namespace vantrel::platform
