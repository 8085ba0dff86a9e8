// vfs_helpers.h - archives with chosen entry names, scripted passwords and
// listings in a form a test can compare.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/formats/formats_helpers.h"
#include "vfs/password.h"
#include "vfs/source.h"

namespace vantrel::test {

// One entry, written as {name, data, deflate, gap, descriptor, rank} with
// the fields after the name optional.
struct TSpecEntry {
  TSpecEntry(std::string n, std::string d = {}, bool z = false, std::string g = {}, bool desc = false, int r = -1)
      : name(std::move(n)), data(std::move(d)), deflate(z), gap(std::move(g)), descriptor(desc), rank(r) {}

  std::string name;  // bytes; a trailing "/" makes a directory entry
  std::string data;
  bool deflate;
  std::string gap;   // bytes before the entry's local header
  bool descriptor;   // sizes and CRC after the data
  int rank;          // central records go by rank (default: in order)
};

inline std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Writes a ZIP archive holding exactly these entries, in this order, names
// as given (tests/vfs/make_zip.py writes the records directly).
inline void MakeZip(const std::string& out, const std::vector<TSpecEntry>& entries) {
  std::string json = "[";
  for (const TSpecEntry& e : entries) {
    if (json.size() > 1) json += ",";
    json += "{\"name\":\"" + Hex(e.name) + "\",\"data\":\"" + Hex(e.data) +
            "\",\"deflate\":" + (e.deflate ? "true" : "false") + ",\"gap\":\"" + Hex(e.gap) +
            "\",\"descriptor\":" + (e.descriptor ? "true" : "false");
    if (e.rank >= 0) json += ",\"rank\":" + std::to_string(e.rank);
    json += "}";
  }
  json += "]";
  WriteFile(out + ".json", json);
  Sh("python3 " + Q(std::string(std::getenv("VANTREL_SOURCE_DIR")) + "/tests/vfs/make_zip.py") + " " +
     Q(out) + " " + Q(out + ".json"));
  ::unlink((out + ".json").c_str());
}

// "name/" for directories, "name@" for links, "name" for files; sorted.
inline std::vector<std::string> Names(const std::vector<vfs::TEntry>& entries) {
  std::vector<std::string> out;
  for (const vfs::TEntry& e : entries)
    out.push_back(e.name + (e.kind == vfs::TEntryKind::Directory ? "/" : e.kind == vfs::TEntryKind::Link ? "@" : ""));
  std::sort(out.begin(), out.end());
  return out;
}

inline std::vector<std::string> ListNames(vfs::TSource& source, const std::string& inner) {
  std::vector<vfs::TEntry> entries;
  vfs::TError err;
  EXPECT_TRUE(source.List(inner, entries, &err)) << inner << ": " << err.text;
  return Names(entries);
}

inline std::string ReadAll(vfs::TSource& source, const std::string& inner, vfs::TError* err = nullptr) {
  struct TSink : vfs::TDataSink {
    bool Write(const void* d, size_t n) override {
      bytes.append(static_cast<const char*>(d), n);
      return true;
    }
    std::string bytes;
  } sink;
  vfs::TError local;
  if (!source.ReadInto(inner, sink, {}, err ? err : &local)) return "<failed>";
  return sink.bytes;
}

// Answers password questions from a list, and records them.
class TScriptedPasswords final : public vfs::TPasswordProvider {
 public:
  explicit TScriptedPasswords(std::vector<std::string> answers) : answers_(std::move(answers)) {}
  bool AskPassword(const std::string& archive, bool again, std::string& password) override {
    asked.push_back(archive + (again ? " again" : ""));
    if (next_ >= answers_.size()) return false;
    password = answers_[next_++];
    return true;
  }
  std::vector<std::string> asked;

 private:
  std::vector<std::string> answers_;
  size_t next_ = 0;
};

}  // namespace vantrel::test
