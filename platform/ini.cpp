// ini.cpp - profile files: reading keys with defaults, atomic writes.
#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unordered_map>

#include "platform/fs.h"
#include "platform/text.h"

namespace vantrel::platform {
namespace {

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\r\n";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return CompareNoCaseAscii(a, b) == 0;
}

std::string FoldAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A section header "[name]" gives its name; anything else gives false.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

// A key line "key=value" gives its trimmed key and value.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  if (key.empty() || key.front() == ';' || key.front() == '[') return false;
  value = Trim(line.substr(eq + 1));
  return true;
}

// Values and keys live on one line: line breaks would split them.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\n' || c == '\r') c = ' ';
  return out;
}

}  // namespace

std::string ProfilePath(std::string_view name) {
  if (name.find('/') != std::string_view::npos) return std::string(name);
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return JoinPath(xdg, name);
  const char* home = std::getenv("HOME");
  std::string base = (home != nullptr && home[0] != '\0') ? home : "/tmp";
  return JoinPath(JoinPath(base, ".config"), name);
}

bool IniFile::Lines(std::vector<std::string>& lines) const {
  if (updating_) {
    lines = pending_;
    return !unreadable_;
  }
  lines.clear();
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    // A file that is not there reads as empty; one that is there but cannot
    // be opened is unreadable.
    struct stat st;
    return stat(path_.c_str(), &st) != 0;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return !in.bad();
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  bool inSection = false;
  bool sectionSeen = false;
  std::vector<std::string> lines;
  Lines(lines);  // an unreadable file reads as empty: every key has its default
  for (const std::string& line : lines) {
    std::string_view name;
    if (SectionName(line, name)) {
      // The first section of a name counts; later duplicates are ignored.
      if (inSection) break;
      inSection = !sectionSeen && EqualNoCase(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (KeyValue(line, k, v) && EqualNoCase(k, key)) {
      return std::string(v.substr(0, kIniValueLimit));
    }
  }
  return std::string(def.substr(0, kIniValueLimit));
}

bool IniFile::ParseInteger(std::string_view text, int64_t& out) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    if (value > (UINT64_MAX - d) / base) return false;
    value = value * base + d;
  }
  // Hexadecimal texts are 32-bit patterns ("0x80000005" is a system colour),
  // read as signed 32-bit numbers like the decimal form they are saved in.
  if (base == 16) {
    if (value > 0xFFFFFFFFULL) return false;
    int64_t v = static_cast<int32_t>(static_cast<uint32_t>(value));
    out = negative ? -v : v;
    return true;
  }
  if (value > static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0)) return false;
  out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
  return true;
}

int64_t IniFile::ReadInteger(std::string_view section, std::string_view key, int64_t def) const {
  const std::string text = ReadString(section, key, "");
  int64_t v;
  return ParseInteger(text, v) ? v : def;
}

void IniFile::SetValue(std::vector<std::string>& lines, std::string_view section,
                       std::string_view key, std::string_view value) {
  const std::string newLine = OneLine(key) + "=" + OneLine(value);
  bool inSection = false;
  size_t insertAt = std::string::npos;  // after the last line of the first matching section
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(lines[i], name)) {
      if (inSection) break;
      if (insertAt == std::string::npos && EqualNoCase(name, section)) {
        inSection = true;
        insertAt = i + 1;
      }
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (KeyValue(lines[i], k, v) && EqualNoCase(k, key)) {
      lines[i] = newLine;
      return;
    }
    if (!Trim(lines[i]).empty()) insertAt = i + 1;
  }
  if (insertAt == std::string::npos) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    std::string header(1, '[');
    header += OneLine(section);
    header += ']';
    lines.push_back(std::move(header));
    lines.push_back(newLine);
  } else {
    lines.insert(lines.begin() + static_cast<long>(insertAt), newLine);
  }
}

bool IniFile::Store(const std::vector<std::string>& lines) {
  // A file the user made read-only stays unwritten, as it would in place. The
  // mode bits count too, since root passes every access check.
  struct stat st;
  if (stat(path_.c_str(), &st) == 0 &&
      ((st.st_mode & 0222) == 0 || access(path_.c_str(), W_OK) != 0)) {
    errno = EACCES;
    return false;
  }

  std::string dir = ".";
  size_t slash = path_.rfind('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : path_.substr(0, slash);
  mkdir(dir.c_str(), 0700);  // the configuration directory may not exist yet

  std::string tmp = path_ + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  std::string text;
  for (const std::string& l : lines) {
    text += l;
    text += '\n';
  }
  const char* p = text.data();
  size_t left = text.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;  // Retry
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  mode_t mode = 0644;
  if (stat(path_.c_str(), &st) == 0) mode = st.st_mode & 07777;
  if (ok) ok = fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int savedErrno = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && rename(tmp.c_str(), path_.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    unlink(tmp.c_str());
    errno = savedErrno;
  }
  return ok;
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::vector<std::string> lines;
  if (!Lines(lines)) {
    errno = EACCES;
    return false;
  }
  SetValue(lines, section, key, value);
  if (updating_) {
    pending_ = std::move(lines);
    return true;
  }
  return Store(lines);
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  return WriteString(section, key, std::to_string(value));
}

void IniFile::BeginUpdate() {
  updating_ = false;
  unreadable_ = !Lines(pending_);
  updating_ = true;
}

bool IniFile::EndUpdate() {
  updating_ = false;
  std::vector<std::string> lines = std::move(pending_);
  pending_.clear();
  if (unreadable_) {
    unreadable_ = false;
    errno = EACCES;
    return false;
  }
  return Store(lines);
}

std::vector<std::optional<std::string>> ReadIniKeys(const std::string& path,
                                                    std::string_view section,
                                                    const std::vector<std::string>& keys) {
  std::vector<std::optional<std::string>> values(keys.size());
  // Each key (folded to lower case) with the places it takes in `keys`.
  std::unordered_map<std::string, std::vector<size_t>> wanted;
  for (size_t i = 0; i < keys.size(); ++i) wanted[FoldAscii(Trim(keys[i]))].push_back(i);

  if (keys.empty()) return values;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return values;

  enum class State { Before, Inside, Done } state = State::Before;
  size_t found = 0;
  // Looks at one line (without its line break) and says whether to go on.
  auto take = [&](std::string_view line) {
    std::string_view name;
    if (SectionName(line, name)) {
      // The first section of the name counts; reading ends where it ends.
      if (state == State::Inside) state = State::Done;
      else if (state == State::Before && EqualNoCase(name, section)) state = State::Inside;
      return state != State::Done;
    }
    std::string_view k, v;
    if (state != State::Inside || !KeyValue(line, k, v)) return true;
    auto it = wanted.find(FoldAscii(k));
    if (it == wanted.end() || values[it->second.front()]) return true;
    v = v.substr(0, std::min(v.find('\0'), kIniValueLimit));
    for (size_t i : it->second) values[i] = std::string(v);
    return ++found < wanted.size();
  };

  std::string line;
  bool overlong = false;  // the current line passed kIniLineLimit
  bool first = true;
  bool more = true;
  char buffer[65536];
  while (more) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;  // Retry
    std::string_view chunk(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    if (first && !chunk.empty()) {
      if (chunk.substr(0, 3) == "\xEF\xBB\xBF") chunk.remove_prefix(3);
      first = false;
    }
    while (more && !chunk.empty()) {
      const size_t eol = chunk.find('\n');
      const std::string_view part = chunk.substr(0, eol);
      if (!overlong) {
        line.append(part.substr(0, kIniLineLimit - std::min(line.size(), kIniLineLimit)));
        overlong = line.size() >= kIniLineLimit;
      }
      if (eol == std::string_view::npos) break;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      more = take(line);
      line.clear();
      overlong = false;
      chunk.remove_prefix(eol + 1);
    }
    if (n <= 0) {
      if (more && !line.empty()) take(line);  // the last line has no line break
      break;
    }
  }
  close(fd);
  return values;
}

}  // namespace vantrel::platform
