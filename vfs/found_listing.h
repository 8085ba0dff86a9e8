// found_listing.h - the members of an archive found so far, while its
// listing is still being read.
//
// A compressed tar is listed by decompressing it from its start, which for a
// large one takes seconds. Meanwhile the panel shows what was found, place
// by place: each member is filed as it comes, with the directories its path
// implies, under the rules of the finished index (path_index.h): empty
// components and "." dropped, ".." kept as a name, a directory shown once
// however often it is stored, a file whose path is also a directory hidden
// behind it, two files of one name both listed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vfs/source.h"

namespace vantrel::vfs {

class TFoundListing {
 public:
  void Clear();
  // Files a member: `path` as stored ("a/b/" for a directory), `entry` with
  // its details (its name is taken from the path).
  void Add(std::string_view path, TEntry entry);
  // The entries found in the directory `inner` ("" the root); false when no
  // member found so far lies there.
  bool List(std::string_view inner, std::vector<TEntry>& out) const;
  // Members filed (hidden ones included).
  size_t Count() const { return count_; }

 private:
  struct TDirectory {
    std::vector<TEntry> entries;
    std::unordered_map<std::string, size_t> directories;  // name -> its row
    std::unordered_map<std::string, size_t> files;        // name -> rows of that name
  };
  // The directory of a normalised path, made (with its parents) when new.
  TDirectory& DirectoryAt(const std::string& normalised);
  // Files the directory `name` in `parent`: its row, made when new.
  TEntry& DirectoryRow(TDirectory& parent, const std::string& name);

  std::unordered_map<std::string, TDirectory> directories_;
  size_t count_ = 0;
};

}  // namespace vantrel::vfs
