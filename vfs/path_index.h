// path_index.h - the tree of an archive's entry paths.
//
// Built once when an archive is read, so that entering a directory, going
// up and finding an entry by its path never read the archive again. The
// rules, for archives as they are found in the wild:
// - a directory named only by the paths below it ("a/b/c.txt" without an
//   entry "a/") is a directory all the same (implied);
// - two entries of one path are both listed;
// - an entry whose path is also a directory ("a" and "a/x") is shown once,
//   as the directory (the file is kept with it, so that deleting or renaming
//   the directory takes it too);
// - empty components and "." are dropped: "/etc/x" and "a//b" stay inside
//   the archive; ".." is kept as a name, never as the way up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel::vfs {

class TPathIndex {
 public:
  struct TNode {
    std::string name;
    uint32_t parent = 0;
    bool directory = false;
    int32_t entry = -1;  // the entry of a file, or a directory's own entry (-1: implied)
    std::vector<uint32_t> children;  // of a directory
    // Further entries of this node's path: a directory's repeated entries
    // and the files its path hides.
    std::vector<int32_t> hidden;
  };
  static constexpr uint32_t kRoot = 0;
  static constexpr uint32_t kNone = UINT32_MAX;

  // `count` entries; pathOf(i) is entry i's stored path ("a/b/" for a
  // directory entry), asked for once per entry, in order.
  void Build(size_t count, const std::function<std::string_view(size_t)>& pathOf);

  // The node of an inner path ("" the root); kNone when there is none. A
  // path of two files of one name finds the first.
  uint32_t Find(std::string_view inner) const;
  const TNode& Node(uint32_t id) const { return nodes_[id]; }
  size_t NodeCount() const { return nodes_.size(); }
  // The inner path of a node (normalised).
  std::string PathOf(uint32_t id) const;
  // Every entry at or below the node, its hidden ones included.
  void EntriesBelow(uint32_t id, std::vector<int32_t>& out) const;

  // An entry path as the index files it: components without empty ones and
  // "."; `isDir` when it ends in "/".
  static std::string Normalise(std::string_view path, bool* isDir = nullptr);

 private:
  uint32_t DirectoryFor(const std::string& normalised);
  std::vector<TNode> nodes_;
  std::unordered_map<std::string, uint32_t> dirs_;   // normalised path -> directory node
  std::unordered_map<std::string, uint32_t> files_;  // normalised path -> first file node
};

}  // namespace vantrel::vfs
