// ini.h - profile files with the semantics users of INI files expect.
//
// Sections and keys match without regard to ASCII case; a value is read with a
// default; at most 2047 characters of a value are significant; integers read as
// signed decimal, or as hexadecimal after "0x", "0X" or "$".
//
// An IniFile reads its file once, at its first use, into memory (sections and
// keys indexed, so that a file of thousands of keys costs no more per key than
// one of ten); every later read is served from there. A UTF-8 byte order mark
// is skipped; a line longer than kIniLineLimit is skipped and named in
// Warnings() (nothing that long is a setting, and holding it would cost its
// size again in memory). A write changes the copy in memory and replaces the
// whole file atomically (a temporary file beside it, flushed, then renamed),
// so a crash or a full disk never leaves a truncated file; between
// BeginUpdate and EndUpdate the file is written once, at the end. When the
// path is a symbolic link, the file it leads to is replaced and the link
// stays a link. The file is never held open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel::platform {

inline constexpr size_t kIniValueLimit = 2047;

// A line counts up to this many bytes: enough for any key with a whole value;
// a longer line is skipped.
inline constexpr size_t kIniLineLimit = 16384;

// Where a bare profile file name lives: $XDG_CONFIG_HOME/NAME, else
// ~/.config/NAME. A name with a "/" is taken as it is.
std::string ProfilePath(std::string_view name);

// The file a path names after every symbolic link is followed (also a link
// whose target does not exist yet); the path itself when it is no link.
std::string FollowLinks(const std::string& path);

class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  int64_t ReadInteger(std::string_view section, std::string_view key, int64_t def) const;

  // Return false (errno set) when the file cannot be written, or when it exists
  // and cannot be read (writing it would lose its other keys); the file on
  // disk then stays as it was. A file without any write permission bit counts
  // as read-only even for root.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int64_t value);

  // Between BeginUpdate and EndUpdate, writes change the copy in memory only
  // and EndUpdate replaces the file once; it returns false (errno set, the
  // file on disk as it was) when the file cannot be written. Updates nest: an
  // inner EndUpdate writes nothing and returns true.
  void BeginUpdate();
  bool EndUpdate();

  // What reading the file passed over ("line 3: 209715200 bytes, skipped").
  const std::vector<std::string>& Warnings() const;

  // Parses an integer the way ReadInteger does; false when the text is no valid integer.
  static bool ParseInteger(std::string_view text, int64_t& out);

 private:
  struct TSection {
    std::string header;  // the "[name]" line as read; empty before the first section
    std::vector<std::string> lines;
    // Each key (ASCII folded) at the line of its first occurrence.
    std::unordered_map<std::string, size_t> keys;
  };

  // Reads the file on first use.
  void Load() const;
  // Adds one line of the file (or of a new section) to the sections.
  void AddLine(std::string line) const;
  TSection* Find(std::string_view section) const;
  void SetValue(std::string_view section, std::string_view key, std::string_view value);
  bool Store();

  std::string path_;
  int updating_ = 0;
  mutable bool loaded_ = false;
  mutable bool unreadable_ = false;  // the file is there but could not be read
  mutable std::vector<TSection> sections_;
  // Each section name (ASCII folded) at its first section.
  mutable std::unordered_map<std::string, size_t> index_;
  mutable std::vector<std::string> warnings_;
};

// Reads the values of `keys` in `section` of the file at `path` in one pass
// that stops as soon as the section has been read, for files the user picks
// (translation files, colour schemes) that may be huge or no text at all.
// Sections and keys match as in IniFile; the first of duplicate sections and
// keys wins; a value ends at a NUL byte and keeps at most kIniValueLimit
// characters; a UTF-8 byte order mark at the start is skipped. The result has
// one element per key, empty where the key is missing; a file that cannot be
// read gives all empty.
std::vector<std::optional<std::string>> ReadIniKeys(const std::string& path,
                                                    std::string_view section,
                                                    const std::vector<std::string>& keys);

}  // namespace vantrel::platform
