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
//
// The tree is compact, for archives of hundreds of thousands of entries:
// one pass over the paths, every name once in one buffer, nodes found by
// name in a small open-addressed table per directory, and the children of every
// directory side by side in one array.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::vfs {

class TPathIndex {
 public:
  struct TNode {
    uint64_t nameAt = 0;
    uint32_t nameSize = 0;
    uint32_t parent = 0;
    int32_t entry = -1;  // the entry of a file, or a directory's own entry (-1: implied)
    // Further files of this node's path, while it is a file (the build's
    // own chain; kNone at the end).
    uint32_t nextSame = UINT32_MAX;
    // A directory's table of children by name.
    uint32_t table = UINT32_MAX;
    bool directory = false;
    // Merged into a directory of the same path: listed nowhere.
    bool merged = false;
  };
  static constexpr uint32_t kRoot = 0;
  static constexpr uint32_t kNone = UINT32_MAX;

  // `count` entries; pathOf(i) is entry i's stored path ("a/b/" for a
  // directory entry), asked for once per entry, in order. The view needs to
  // live only until the next call.
  void Build(size_t count, const std::function<std::string_view(size_t)>& pathOf);

  // The node of an inner path ("" the root); kNone when there is none. A
  // path of two files of one name finds the first.
  uint32_t Find(std::string_view inner) const;
  const TNode& Node(uint32_t id) const { return nodes_[id]; }
  std::string_view Name(uint32_t id) const {
    return std::string_view(names_).substr(static_cast<size_t>(nodes_[id].nameAt), nodes_[id].nameSize);
  }
  // What a directory lists, in the order the entries named them.
  std::span<const uint32_t> Children(uint32_t id) const {
    return std::span<const uint32_t>(children_).subspan(childAt_[id], childAt_[id + 1] - childAt_[id]);
  }
  // Further entries of a node's path: a directory's repeated entries and the
  // files its path hides.
  std::span<const int32_t> Hidden(uint32_t id) const;
  // Nodes made, merged ones included.
  size_t NodeCount() const { return nodes_.size(); }
  // The inner path of a node (normalised).
  std::string PathOf(uint32_t id) const;
  // Every entry at or below the node, its hidden ones included.
  void EntriesBelow(uint32_t id, std::vector<int32_t>& out) const;

  // An entry path as the index files it: components without empty ones and
  // "."; `isDir` when it ends in "/".
  static std::string Normalise(std::string_view path, bool* isDir = nullptr);

 private:
  uint32_t Lookup(uint32_t parent, std::string_view name, size_t hash) const;
  uint32_t AddNode(uint32_t parent, std::string_view name, size_t hash, bool directory, int32_t entry);
  void Insert(uint32_t parent, uint32_t id, size_t hash);
  uint32_t NewTable() {
    tables_.emplace_back();
    return static_cast<uint32_t>(tables_.size() - 1);
  }
  uint32_t DirectoryChild(uint32_t parent, std::string_view name);
  void FileChild(uint32_t parent, std::string_view name, int32_t entry);
  // Files entry under `name` in the directory `dir`.
  void Place(uint32_t dir, std::string_view name, bool isDir, int32_t entry);
  void Hide(uint32_t id, int32_t entry) { hiddenPairs_.emplace_back(id, entry); }
  void Index();

  std::vector<TNode> nodes_;
  std::string names_;
  // Per directory, open addressing by name: a directory, or the first file
  // of its path. A power of two in size, at most half full. Entries come
  // grouped by directory, so the table in use stays in the cache.
  struct TTable {
    std::vector<uint64_t> cells;
    size_t used = 0;
  };
  std::vector<TTable> tables_;
  std::vector<uint32_t> childAt_;  // per node and one more: where its children start
  std::vector<uint32_t> children_;
  std::vector<std::pair<uint32_t, int32_t>> hiddenPairs_;  // sorted by node after the build
  std::vector<int32_t> hidden_;                            // their entries, in that order
};

}  // namespace vantrel::vfs
