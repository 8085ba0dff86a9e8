// multi_rename.cpp - the mask language, the plan with its conflicts, the
// two-phase renaming and its log.
#include "tools/multi_rename.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>


#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/copyfile.h"
#include "platform/escaped_names.h"
#include "platform/rename.h"

namespace vantrel::tools {

// ---------------------------------------------------------------------------
// The masks

namespace {

enum class TTokenKind : uint8_t { Literal, Name, Ext, Parent, Counter, Year, Month, Day, Hour, Minute, Second };

// A range of code points: `from` and `to` counted from 1, negative from the
// end; `to` 0 means "to the end"; `count` > 0 takes that many from `from`.
struct TRange {
  bool whole = true;
  int64_t from = 1;
  int64_t to = 0;
  int64_t count = 0;
};

bool ParseInt(const std::string& s, size_t& pos, int64_t& value, bool allowSign) {
  bool negative = false;
  size_t p = pos;
  if (allowSign && p < s.size() && s[p] == '-') {
    negative = true;
    ++p;
  }
  if (p >= s.size() || s[p] < '0' || s[p] > '9') return false;
  int64_t v = 0;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
    v = v * 10 + (s[p] - '0');
    if (v > 1000000000) return false;
    ++p;
  }
  value = negative ? -v : v;
  pos = p;
  return true;
}

// Parses what follows [N, [E or [P up to the "]": "", "3", "2-5", "2-",
// "-3-", "1--2", "2,3".
bool ParseRange(const std::string& body, TRange& range) {
  range = TRange{};
  if (body.empty()) return true;
  size_t pos = 0;
  int64_t a = 0;
  if (!ParseInt(body, pos, a, true) || a == 0) return false;
  range.whole = false;
  range.from = a;
  range.to = a;  // a single character unless more follows
  if (pos == body.size()) return true;
  if (body[pos] == ',') {
    ++pos;
    int64_t count = 0;
    if (!ParseInt(body, pos, count, false) || count == 0 || pos != body.size()) return false;
    range.count = count;
    return true;
  }
  if (body[pos] != '-') return false;
  ++pos;
  if (pos == body.size()) {
    range.to = 0;
    return true;
  }
  int64_t b = 0;
  if (!ParseInt(body, pos, b, true) || b == 0 || pos != body.size()) return false;
  range.to = b;
  return true;
}

std::string Slice(const std::string& text, const TRange& range) {
  if (range.whole) return text;
  const std::vector<std::string_view> points = CodePoints(text);
  const int64_t n = static_cast<int64_t>(points.size());
  auto position = [n](int64_t p) { return p > 0 ? p : n + p + 1; };  // 1-based
  int64_t first = position(range.from);
  int64_t last;
  if (range.count > 0) {
    last = first + range.count - 1;
  } else {
    last = range.to == 0 ? n : position(range.to);
  }
  first = std::max<int64_t>(first, 1);
  last = std::min(last, n);
  std::string out;
  for (int64_t i = first; i <= last; ++i) out.append(points[static_cast<size_t>(i - 1)]);
  return out;
}

std::string Padded(int64_t value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

}  // namespace

struct TRenamer::TToken {
  TTokenKind kind = TTokenKind::Literal;
  std::string text;  // the literal
  TRange range;
  // The counter's own start, step and width; unset ones come from the rules.
  bool hasStart = false, hasStep = false, hasWidth = false;
  int64_t start = 0, step = 0;
  int width = 0;
};

namespace {

bool ParseCounter(const std::string& body, TRenamer::TToken& token);

// Splits a mask into literal text and placeholders.
bool ParseMask(const std::string& mask, std::vector<TRenamer::TToken>& out, std::string* error) {
  out.clear();
  std::string literal;
  auto flush = [&] {
    if (literal.empty()) return;
    TRenamer::TToken t;
    t.text = literal;
    out.push_back(std::move(t));
    literal.clear();
  };
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what;
    return false;
  };
  for (size_t pos = 0; pos < mask.size();) {
    if (mask[pos] != '[') {
      literal += mask[pos++];
      continue;
    }
    if (pos + 1 < mask.size() && mask[pos + 1] == '[') {
      literal += '[';
      pos += 2;
      continue;
    }
    const size_t close = mask.find(']', pos);
    if (close == std::string::npos) return fail("Missing \"]\" after \"" + mask.substr(pos) + "\"");
    const std::string tag = mask.substr(pos + 1, close - pos - 1);
    const std::string shown = "[" + tag + "]";
    if (tag.empty()) return fail("Unknown placeholder " + shown);
    TRenamer::TToken t;
    const std::string body = tag.substr(1);
    bool ok = true;
    switch (tag[0]) {
      case 'N': t.kind = TTokenKind::Name; ok = ParseRange(body, t.range); break;
      case 'E': t.kind = TTokenKind::Ext; ok = ParseRange(body, t.range); break;
      case 'P': t.kind = TTokenKind::Parent; ok = ParseRange(body, t.range); break;
      case 'C': t.kind = TTokenKind::Counter; ok = ParseCounter(body, t); break;
      case 'Y': t.kind = TTokenKind::Year; ok = body.empty(); break;
      case 'M': t.kind = TTokenKind::Month; ok = body.empty(); break;
      case 'D': t.kind = TTokenKind::Day; ok = body.empty(); break;
      case 'h': t.kind = TTokenKind::Hour; ok = body.empty(); break;
      case 'm': t.kind = TTokenKind::Minute; ok = body.empty(); break;
      case 's': t.kind = TTokenKind::Second; ok = body.empty(); break;
      default: return fail("Unknown placeholder " + shown);
    }
    if (!ok) return fail("Invalid placeholder " + shown);
    flush();
    out.push_back(std::move(t));
    pos = close + 1;
  }
  flush();
  return true;
}

// "", "10", "10+5", "+5", "+-1", ":3", "10+5:3".
bool ParseCounter(const std::string& body, TRenamer::TToken& token) {
  size_t pos = 0;
  if (pos < body.size() && body[pos] >= '0' && body[pos] <= '9') {
    if (!ParseInt(body, pos, token.start, false)) return false;
    token.hasStart = true;
  }
  if (pos < body.size() && body[pos] == '+') {
    ++pos;
    if (!ParseInt(body, pos, token.step, true)) return false;
    token.hasStep = true;
  }
  if (pos < body.size() && body[pos] == ':') {
    ++pos;
    int64_t width = 0;
    if (!ParseInt(body, pos, width, false) || width > 20) return false;
    token.width = static_cast<int>(width);
    token.hasWidth = true;
  }
  return pos == body.size();
}

}  // namespace

// ---------------------------------------------------------------------------
// Search and replace

struct TRenamer::TRegex {
  pcre2_code* code = nullptr;
  std::string replacement;  // \1 written as ${1}
  ~TRegex() { pcre2_code_free(code); }
};

TRenamer::TRenamer() = default;
TRenamer::~TRenamer() = default;

bool TRenamer::Compile(const TRenameRules& rules, std::string* error) {
  compiled_ = false;
  rules_ = rules;
  regex_.reset();
  if (!ParseMask(rules.nameMask, name_, error) || !ParseMask(rules.extMask, ext_, error)) return false;
  if (rules.regex && !rules.search.empty()) {
    auto regex = std::make_unique<TRegex>();
    int code = 0;
    PCRE2_SIZE offset = 0;
    regex->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(rules.search.data()), rules.search.size(),
                                PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF, &code, &offset, nullptr);
    if (regex->code == nullptr) {
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(code, message, sizeof message);
      if (error != nullptr)
        *error = "Regular expression: " + std::string(reinterpret_cast<char*>(message)) + " at " +
                 std::to_string(offset);
      return false;
    }
    // "\1" as many editors write it; PCRE2 writes "$1".
    for (size_t i = 0; i < rules.replace.size(); ++i) {
      const char c = rules.replace[i];
      if (c == '\\' && i + 1 < rules.replace.size() && rules.replace[i + 1] >= '0' &&
          rules.replace[i + 1] <= '9') {
        regex->replacement += "${";
        regex->replacement += rules.replace[++i];
        regex->replacement += '}';
      } else {
        regex->replacement += c;
      }
    }
    regex_ = std::move(regex);
  }
  compiled_ = true;
  return true;
}

std::string TRenamer::Expand(const std::vector<TToken>& tokens, const TRenameSource& source, size_t index,
                             const std::string& parentName, const std::string& base,
                             const std::string& ext) const {
  std::string out;
  const platform::LocalTime t = platform::ToLocalTime(source.writeTime);
  for (const TToken& token : tokens) {
    switch (token.kind) {
      case TTokenKind::Literal: out += token.text; break;
      case TTokenKind::Name: out += Slice(base, token.range); break;
      case TTokenKind::Ext: out += Slice(ext, token.range); break;
      case TTokenKind::Parent: out += Slice(parentName, token.range); break;
      case TTokenKind::Counter: {
        const int64_t start = token.hasStart ? token.start : rules_.counterStart;
        const int64_t step = token.hasStep ? token.step : rules_.counterStep;
        const int width = token.hasWidth ? token.width : rules_.counterWidth;
        out += Padded(start + step * static_cast<int64_t>(index), width);
        break;
      }
      case TTokenKind::Year: out += Padded(t.year, 4); break;
      case TTokenKind::Month: out += Padded(t.month, 2); break;
      case TTokenKind::Day: out += Padded(t.day, 2); break;
      case TTokenKind::Hour: out += Padded(t.hour, 2); break;
      case TTokenKind::Minute: out += Padded(t.minute, 2); break;
      case TTokenKind::Second: out += Padded(t.second, 2); break;
    }
  }
  return out;
}

void SplitExtension(const std::string& name, std::string& base, std::string& ext) {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
    base = name;
    ext.clear();
    return;
  }
  base = name.substr(0, dot);
  ext = name.substr(dot + 1);
}

std::string TRenamer::NewName(const TRenameSource& source, size_t index, const std::string& parentName) const {
  if (!compiled_) return source.name;
  const size_t slash = source.name.find_last_of('/');
  const std::string bare = slash == std::string::npos ? source.name : source.name.substr(slash + 1);
  std::string base, ext;
  SplitExtension(bare, base, ext);
  const std::string newBase = Expand(name_, source, index, parentName, base, ext);
  const std::string newExt = Expand(ext_, source, index, parentName, base, ext);
  std::string result = newExt.empty() ? newBase : newBase + "." + newExt;

  if (!rules_.search.empty()) {
    if (regex_ != nullptr) {
      pcre2_match_data* match = pcre2_match_data_create_from_pattern(regex_->code, nullptr);
      std::string out(result.size() * 2 + 64, '\0');
      for (int attempt = 0; attempt < 2; ++attempt) {
        PCRE2_SIZE length = out.size();
        const int rc = pcre2_substitute(
            regex_->code, reinterpret_cast<PCRE2_SPTR>(result.data()), result.size(), 0,
            PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_EXTENDED | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH, match,
            nullptr, reinterpret_cast<PCRE2_SPTR>(regex_->replacement.data()), regex_->replacement.size(),
            reinterpret_cast<PCRE2_UCHAR*>(out.data()), &length);
        if (rc == PCRE2_ERROR_NOMEMORY) {
          out.assign(length + 1, '\0');
          continue;
        }
        if (rc >= 0) {
          out.resize(length);
          result = out;
        }
        break;  // an error in the replacement leaves the name as the masks made it
      }
      pcre2_match_data_free(match);
    } else {
      std::string out;
      size_t from = 0;
      for (size_t at; (at = result.find(rules_.search, from)) != std::string::npos;
           from = at + rules_.search.size()) {
        out.append(result, from, at - from);
        out += rules_.replace;
      }
      out.append(result, from, std::string::npos);
      result = std::move(out);
    }
  }
  return ChangeCase(result, rules_.caseChange);
}

// ---------------------------------------------------------------------------
// The plan

namespace {

std::string DirectoryPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool ValidName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos && name.size() <= NAME_MAX;
}

// An entry's device and inode.
using TIdentity = std::pair<uint64_t, uint64_t>;

bool Identify(const std::string& path, TIdentity& id) {
  platform::EntryInfo info;
  if (!platform::LStat(path, info)) return false;
  id = TIdentity{info.device, info.inode};
  return true;
}

}  // namespace

TRenamePlan PlanRenames(const std::string& dir, const std::vector<TRenameSource>& sources,
                        const TRenamer& renamer) {
  TRenamePlan plan;
  plan.rows.reserve(sources.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    TRenameRow row;
    row.oldName = sources[i].name;
    const std::string subdir = DirectoryPart(row.oldName);
    const std::string parent = LastComponent(subdir.empty() ? dir : platform::JoinPath(dir, subdir));
    const std::string bare = renamer.NewName(sources[i], i, parent);
    row.newName = subdir + bare;
    row.state = !ValidName(bare) ? TRenameState::Invalid
                : row.newName == row.oldName ? TRenameState::Unchanged
                                             : TRenameState::Ok;
    plan.rows.push_back(std::move(row));
  }
  // The entries that are renamed away free their names for the others.
  std::set<TIdentity> leaving;
  for (const TRenameRow& row : plan.rows) {
    TIdentity id;
    if (row.state == TRenameState::Ok && Identify(platform::JoinPath(dir, row.oldName), id)) leaving.insert(id);
  }
  std::map<std::string, int> byNewName;
  for (size_t i = 0; i < plan.rows.size(); ++i) {
    TRenameRow& row = plan.rows[i];
    if (row.state == TRenameState::Invalid) continue;
    const auto [it, fresh] = byNewName.emplace(row.newName, static_cast<int>(i));
    if (!fresh) {
      row.state = TRenameState::Collides;
      row.other = it->second;
      TRenameRow& first = plan.rows[static_cast<size_t>(it->second)];
      if (first.state != TRenameState::Invalid) {
        first.state = TRenameState::Collides;
        first.other = static_cast<int>(i);
      }
      continue;
    }
    if (row.state != TRenameState::Ok) continue;
    TIdentity target, self;
    if (Identify(platform::JoinPath(dir, row.newName), target)) {
      // The entry itself under another case on a case-blind volume, or one
      // that this batch renames away, is no obstacle.
      const bool itself = Identify(platform::JoinPath(dir, row.oldName), self) && self == target;
      if (!itself && leaving.count(target) == 0) row.state = TRenameState::Exists;
    }
  }
  for (const TRenameRow& row : plan.rows) {
    if (row.state == TRenameState::Ok) ++plan.changes;
    if (row.state == TRenameState::Invalid || row.state == TRenameState::Collides ||
        row.state == TRenameState::Exists)
      ++plan.problems;
  }
  return plan;
}

// ---------------------------------------------------------------------------
// Renaming, all or nothing

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// A name no entry of `dir` has: a hidden one with the process and a count.
std::string TemporaryName(const std::string& oldName, size_t index) {
  static unsigned serial = 0;
  return DirectoryPart(oldName) + ".vantrel-rename-" + std::to_string(getpid()) + "-" +
         std::to_string(++serial) + "-" + std::to_string(index);
}

}  // namespace

TRenameResult ApplyRenames(const std::string& dir, const TRenamePairs& pairs, const TRenameStep& step) {
  TRenameResult result;
  const TRenameStep rename = step ? step : TRenameStep(platform::RenameNoReplace);
  auto path = [&dir](const std::string& name) { return platform::JoinPath(dir, name); };

  // Everything is checked before the first change.
  std::set<TIdentity> leaving;
  std::set<std::string> targets;
  for (const auto& [from, to] : pairs) {
    const std::string bare = LastComponent(to);
    if (!ValidName(bare) || DirectoryPart(to) != DirectoryPart(from)) {
      result.error = "Invalid file name " + Quoted(to);
      return result;
    }
    TIdentity id;
    if (!Identify(path(from), id)) {
      result.error = "Could not find file " + Quoted(from);
      return result;
    }
    leaving.insert(id);
    if (!targets.insert(to).second) {
      result.error = "Two entries would be named " + Quoted(to);
      return result;
    }
  }
  for (const auto& [from, to] : pairs) {
    TIdentity target, self;
    if (Identify(path(to), target) && !(Identify(path(from), self) && self == target) &&
        leaving.count(target) == 0) {
      result.error = Quoted(to) + " exists already";
      return result;
    }
  }

  // Phase one: every entry to a temporary name; phase two: to its new name.
  std::vector<std::string> temporary(pairs.size());
  size_t parked = 0, placed = 0;
  int error = 0;
  std::string failed;
  for (; parked < pairs.size(); ++parked) {
    temporary[parked] = TemporaryName(pairs[parked].first, parked);
    error = rename(path(pairs[parked].first), path(temporary[parked]));
    if (error != 0) {
      failed = pairs[parked].first;
      break;
    }
  }
  if (error == 0) {
    for (; placed < pairs.size(); ++placed) {
      error = rename(path(temporary[placed]), path(pairs[placed].second));
      if (error != 0) {
        failed = pairs[placed].first;
        break;
      }
    }
  }
  if (error == 0) {
    result.ok = true;
    result.renamed = static_cast<int>(pairs.size());
    return result;
  }
  // Back to where everything was, last step first.
  for (size_t i = placed; i-- > 0;) rename(path(pairs[i].second), path(temporary[i]));
  for (size_t i = parked; i-- > 0;) rename(path(temporary[i]), path(pairs[i].first));
  result.error = "Could not rename " + Quoted(failed) + ": " + platform::ErrorText(error);
  return result;
}

// ---------------------------------------------------------------------------
// The log: a first line naming the format, the directory, then one line per
// entry with the old and the new name separated by a tab. Bytes below 0x20,
// "%" and DEL are written as %XX, so that any name fits on its line.

namespace {

constexpr const char* kLogHeader = "vantrel rename log 1";

std::string Escape(const std::string& s) {
  return platform::PercentEncode(s, [](unsigned char c) { return c >= 0x20 && c != '%' && c != 0x7F; });
}

bool Unescape(const std::string& s, std::string& out) {
  out.clear();
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    const int hi = digit(s[i + 1]), lo = digit(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

}  // namespace

bool WriteRenameLog(const std::string& logPath, const std::string& dir, const TRenamePairs& pairs,
                    std::string* error) {
  std::string text = std::string(kLogHeader) + "\n" + Escape(dir) + "\n";
  for (const auto& [from, to] : pairs) text += Escape(from) + "\t" + Escape(to) + "\n";
  // Written beside its place and renamed over it: never half a log.
  const int failed = platform::WriteWholeFile(logPath, text);
  if (failed != 0 && error != nullptr) *error = platform::ErrorText(failed);
  return failed == 0;
}

bool ReadRenameLog(const std::string& logPath, std::string& dir, TRenamePairs& pairs, std::string* error) {
  pairs.clear();
  std::ifstream in(logPath, std::ios::binary);
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what;
    return false;
  };
  if (!in) return fail("There is no renaming to undo");
  std::string line;
  if (!std::getline(in, line) || line != kLogHeader) return fail("The rename log is damaged");
  if (!std::getline(in, line) || !Unescape(line, dir) || dir.empty())
    return fail("The rename log is damaged");
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    std::string from, to;
    if (tab == std::string::npos || !Unescape(line.substr(0, tab), from) ||
        !Unescape(line.substr(tab + 1), to))
      return fail("The rename log is damaged");
    pairs.emplace_back(std::move(from), std::move(to));
  }
  if (pairs.empty()) return fail("There is no renaming to undo");
  return true;
}

TRenameResult UndoRenames(const std::string& logPath) {
  TRenameResult result;
  std::string dir;
  TRenamePairs pairs;
  if (!ReadRenameLog(logPath, dir, pairs, &result.error)) return result;
  for (auto& [from, to] : pairs) std::swap(from, to);
  result = ApplyRenames(dir, pairs);
  if (result.ok) unlink(logPath.c_str());
  return result;
}

}  // namespace vantrel::tools
