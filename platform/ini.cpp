// ini.cpp - profile files: reading keys with defaults, atomic writes.
#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

bool IsBlank(std::string_view line) { return Trim(line).empty(); }


// Calls take(line, length) for every line of the file open as fd, without
// its line break (and "\r"), the byte order mark of the first skipped; a line
// longer than kIniLineLimit comes cut to that length with its whole length.
// Stops when take returns false. False on a read error.
template <typename Take>
bool ForEachLine(int fd, Take take) {
  std::string line;
  size_t length = 0;  // of the current line, whole
  bool first = true;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;  // Retry
    if (n < 0) return false;
    std::string_view chunk(buffer, static_cast<size_t>(n));
    if (first && !chunk.empty()) {
      if (chunk.substr(0, 3) == "\xEF\xBB\xBF") chunk.remove_prefix(3);
      first = false;
    }
    if (n == 0) {
      if (length > 0) take(line, length);  // the last line has no line break
      return true;
    }
    while (!chunk.empty()) {
      const size_t eol = chunk.find('\n');
      const std::string_view part = chunk.substr(0, eol);
      if (line.size() < kIniLineLimit) line.append(part.substr(0, kIniLineLimit - line.size()));
      length += part.size();
      if (eol == std::string_view::npos) break;
      if (!line.empty() && line.back() == '\r' && length <= kIniLineLimit) {
        line.pop_back();
        --length;
      }
      if (!take(line, length)) return true;
      line.clear();
      length = 0;
      chunk.remove_prefix(eol + 1);
    }
  }
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

std::string FollowLinks(const std::string& path) {
  std::string p = path;
  // As many steps as the system allows before it says ELOOP.
  for (int step = 0; step < 40; ++step) {
    char target[4096];
    const ssize_t n = readlink(p.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target) return p;
    std::string next(target, static_cast<size_t>(n));
    if (next[0] != '/') {
      const size_t slash = p.rfind('/');
      if (slash != std::string::npos) next = p.substr(0, slash + 1) + next;
    }
    p = std::move(next);
  }
  return p;
}

void IniFile::AddLine(std::string line) const {
  std::string_view name;
  if (SectionName(line, name)) {
    // Later sections of a name are kept as text but never read or written.
    index_.emplace(FoldAscii(name), sections_.size());
    sections_.push_back({std::move(line), {}, {}});
    return;
  }
  TSection& section = sections_.back();
  std::string_view k, v;
  if (KeyValue(line, k, v)) section.keys.emplace(FoldAscii(k), section.lines.size());
  section.lines.push_back(std::move(line));
}

void IniFile::Load() const {
  if (loaded_) return;
  loaded_ = true;
  sections_.assign(1, TSection{});  // the lines before the first section
  const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // A file that is not there reads as empty; one that is there but cannot
    // be opened is unreadable.
    struct stat st;
    unreadable_ = stat(path_.c_str(), &st) == 0;
    return;
  }
  size_t number = 0;
  const bool ok = ForEachLine(fd, [&](std::string_view line, size_t length) {
    ++number;
    if (length > kIniLineLimit)
      warnings_.push_back("line " + std::to_string(number) + ": " + std::to_string(length) +
                          " bytes, skipped");
    else
      AddLine(std::string(line));
    return true;
  });
  close(fd);
  if (!ok) {
    // A directory, a read error: nothing of it is known, so nothing may
    // replace it.
    unreadable_ = true;
    sections_.assign(1, TSection{});
    index_.clear();
  }
}

const std::vector<std::string>& IniFile::Warnings() const {
  Load();
  return warnings_;
}

IniFile::TSection* IniFile::Find(std::string_view section) const {
  Load();
  const auto it = index_.find(FoldAscii(section));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  if (const TSection* s = Find(section)) {
    const auto it = s->keys.find(FoldAscii(key));
    std::string_view k, v;
    if (it != s->keys.end() && KeyValue(s->lines[it->second], k, v))
      return std::string(v.substr(0, kIniValueLimit));
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

void IniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  std::string newLine = OneLine(key) + "=" + OneLine(value);
  TSection* s = Find(section);
  if (s == nullptr) {
    // A new section at the end, after a blank line.
    const TSection& last = sections_.back();
    const std::string& lastLine = last.lines.empty() ? last.header : last.lines.back();
    if (!IsBlank(lastLine)) sections_.back().lines.emplace_back();
    std::string header(1, '[');
    header += OneLine(section);
    header += ']';
    AddLine(std::move(header));
    AddLine(std::move(newLine));
    return;
  }
  const std::string folded = FoldAscii(Trim(OneLine(key)));
  const auto it = s->keys.find(folded);
  if (it != s->keys.end()) {
    s->lines[it->second] = std::move(newLine);
    return;
  }
  // After the section's last line that is not blank; only blank lines (no
  // keys) move.
  size_t at = s->lines.size();
  while (at > 0 && IsBlank(s->lines[at - 1])) --at;
  s->lines.insert(s->lines.begin() + static_cast<long>(at), std::move(newLine));
  s->keys.emplace(folded, at);
}

bool IniFile::Store() {
  // A link stays a link: the file it leads to is replaced.
  const std::string target = FollowLinks(path_);
  // A file the user made read-only stays unwritten, as it would in place. The
  // mode bits count too, since root passes every access check.
  struct stat st;
  if (stat(target.c_str(), &st) == 0 &&
      ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)) {
    errno = EACCES;
    return false;
  }

  std::string dir = ".";
  size_t slash = target.rfind('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : target.substr(0, slash);
  mkdir(dir.c_str(), 0700);  // the configuration directory may not exist yet

  std::string tmp = target + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  std::string text;
  auto line = [&text](const std::string& l) {
    text += l;
    text += '\n';
  };
  for (const TSection& section : sections_) {
    if (!section.header.empty()) line(section.header);
    for (const std::string& l : section.lines) line(l);
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
  if (stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
  if (ok) ok = fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int savedErrno = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && rename(tmp.c_str(), target.c_str()) != 0) {
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
  Load();
  if (unreadable_) {
    errno = EACCES;
    return false;
  }
  SetValue(section, key, value);
  return updating_ > 0 || Store();
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  return WriteString(section, key, std::to_string(value));
}

void IniFile::BeginUpdate() {
  Load();
  ++updating_;
}

bool IniFile::EndUpdate() {
  if (updating_ > 0 && --updating_ > 0) return true;
  if (unreadable_) {
    errno = EACCES;
    return false;
  }
  return Store();
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

  ForEachLine(fd, [&](std::string_view line, size_t) { return take(line); });
  close(fd);
  return values;
}

}  // namespace vantrel::platform
