// ini.h - profile files with the semantics users of INI files expect.
//
// Sections and keys match without regard to ASCII case; a value is read with a
// default; at most 2047 characters of a value are significant; integers read as
// signed decimal, or as hexadecimal after "0x", "0X" or "$". Every write reads
// the file afresh, changes one key and replaces the whole file atomically (a
// temporary file beside it, flushed, then renamed), so a crash or a full disk
// never leaves a truncated file. The file is never held open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform {

inline constexpr size_t kIniValueLimit = 2047;

// A line of a file read by ReadIniKeys counts up to this many bytes: enough
// for any key with a whole value; the rest of a longer line is skipped.
inline constexpr size_t kIniLineLimit = 16384;

// Where a bare profile file name lives: $XDG_CONFIG_HOME/NAME, else
// ~/.config/NAME. A name with a "/" is taken as it is.
std::string ProfilePath(std::string_view name);

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

  // Between BeginUpdate and EndUpdate, writes change a copy in memory and
  // EndUpdate replaces the file once; it returns false (errno set, the file on
  // disk as it was) when the file cannot be written. Reads inside an update see
  // the pending values.
  void BeginUpdate();
  bool EndUpdate();

  // Parses an integer the way ReadInteger does; false when the text is no valid integer.
  static bool ParseInteger(std::string_view text, int64_t& out);

 private:
  // The file's lines; false when it exists but cannot be read.
  bool Lines(std::vector<std::string>& lines) const;
  bool Store(const std::vector<std::string>& lines);
  static void SetValue(std::vector<std::string>& lines, std::string_view section,
                       std::string_view key, std::string_view value);

  std::string path_;
  bool updating_ = false;
  bool unreadable_ = false;  // the update started from a file that could not be read
  std::vector<std::string> pending_;
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
