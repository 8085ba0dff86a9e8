// path_index.cpp - the tree of an archive's entry paths.
#include "vfs/path_index.h"

#include <algorithm>

namespace vantrel::vfs {

namespace {

// Calls take(component, last) for each component of `path` that is neither
// empty nor ".".
template <class F>
void ForEachComponent(std::string_view path, F take) {
  size_t start = 0;
  std::string_view pending;
  bool have = false;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(start, slash - start);
    if (!part.empty() && part != ".") {
      if (have && !take(pending, false)) return;
      pending = part;
      have = true;
    }
    start = slash + 1;
  }
  if (have) take(pending, true);
}

size_t HashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

// A slot holds a node and the upper half of its name's hash, so that a
// probe touches a node (and its name) only when that half matches.
constexpr uint64_t kEmptySlot = UINT64_MAX;

uint64_t SlotOf(uint32_t id, size_t hash) { return (static_cast<uint64_t>(hash >> 32) << 32) | id; }

}  // namespace

uint32_t TPathIndex::Lookup(uint32_t parent, std::string_view name, size_t hash) const {
  const TTable& table = tables_[nodes_[parent].table];
  if (table.cells.empty()) return kNone;
  const size_t mask = table.cells.size() - 1;
  const uint64_t tag = static_cast<uint64_t>(hash >> 32) << 32;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const uint64_t slot = table.cells[at];
    if (slot == kEmptySlot) return kNone;
    if ((slot & 0xFFFFFFFF00000000ull) != tag) continue;
    const uint32_t id = static_cast<uint32_t>(slot);
    if (Name(id) == name) return id;
  }
}

std::string TPathIndex::Normalise(std::string_view path, bool* isDir) {
  if (isDir) *isDir = !path.empty() && path.back() == '/';
  std::string out;
  out.reserve(path.size());
  ForEachComponent(path, [&out](std::string_view part, bool) {
    if (!out.empty()) out += '/';
    out += part;
    return true;
  });
  return out;
}

void TPathIndex::Insert(uint32_t parent, uint32_t id, size_t hash) {
  TTable& table = tables_[nodes_[parent].table];
  if ((table.used + 1) * 2 > table.cells.size()) {
    // Twice the room, every node placed again.
    std::vector<uint64_t> old(std::max<size_t>(8, table.cells.size() * 2), kEmptySlot);
    old.swap(table.cells);
    const size_t mask = table.cells.size() - 1;
    for (uint64_t slot : old) {
      if (slot == kEmptySlot) continue;
      const uint32_t moved = static_cast<uint32_t>(slot);
      size_t at = HashOf(Name(moved)) & mask;
      while (table.cells[at] != kEmptySlot) at = (at + 1) & mask;
      table.cells[at] = slot;
    }
  }
  const size_t mask = table.cells.size() - 1;
  size_t at = hash & mask;
  while (table.cells[at] != kEmptySlot) at = (at + 1) & mask;
  table.cells[at] = SlotOf(id, hash);
  ++table.used;
}

uint32_t TPathIndex::AddNode(uint32_t parent, std::string_view name, size_t hash, bool directory,
                             int32_t entry) {
  const uint32_t id = static_cast<uint32_t>(nodes_.size());
  TNode node;
  node.nameAt = names_.size();
  node.nameSize = static_cast<uint32_t>(name.size());
  node.parent = parent;
  node.directory = directory;
  node.entry = entry;
  if (directory) node.table = NewTable();
  names_.append(name);
  nodes_.push_back(node);
  Insert(parent, id, hash);
  return id;
}

uint32_t TPathIndex::DirectoryChild(uint32_t parent, std::string_view name) {
  const size_t hash = HashOf(name);
  const uint32_t found = Lookup(parent, name, hash);
  if (found == kNone) return AddNode(parent, name, hash, true, -1);
  TNode& node = nodes_[found];
  if (node.directory) return found;
  // Files of this path become the directory's hidden entries: the first
  // file's node is the directory now, the others are listed no more.
  for (uint32_t id = found; id != kNone; id = nodes_[id].nextSame) {
    Hide(found, nodes_[id].entry);
    if (id != found) nodes_[id].merged = true;
  }
  node.directory = true;
  node.entry = -1;
  node.nextSame = kNone;
  node.table = NewTable();
  return found;
}

void TPathIndex::FileChild(uint32_t parent, std::string_view name, int32_t entry) {
  const size_t hash = HashOf(name);
  const uint32_t found = Lookup(parent, name, hash);
  if (found == kNone) {
    AddNode(parent, name, hash, false, entry);
    return;
  }
  if (nodes_[found].directory) {
    Hide(found, entry);
    return;
  }
  // A further file of one path: listed too, found by nobody's path (the
  // first one is), chained to the first for a directory that may come.
  const uint32_t id = static_cast<uint32_t>(nodes_.size());
  TNode node;
  node.nameAt = nodes_[found].nameAt;
  node.nameSize = nodes_[found].nameSize;
  node.parent = parent;
  node.entry = entry;
  node.nextSame = nodes_[found].nextSame;
  nodes_.push_back(node);
  nodes_[found].nextSame = id;
}

void TPathIndex::Place(uint32_t dir, std::string_view name, bool isDir, int32_t entry) {
  if (!isDir) return FileChild(dir, name, entry);
  const uint32_t id = DirectoryChild(dir, name);
  if (nodes_[id].entry < 0)
    nodes_[id].entry = entry;
  else
    Hide(id, entry);
}

void TPathIndex::Build(size_t count, const std::function<std::string_view(size_t)>& pathOf) {
  nodes_.clear();
  names_.clear();
  hiddenPairs_.clear();
  tables_.clear();
  nodes_.reserve(count + 1);
  TNode root;
  root.directory = true;
  root.table = NewTable();
  nodes_.push_back(root);
  // Entries come grouped by directory: the directory of the last path is
  // kept and its components are not looked up again for the next one.
  std::string lastPrefix;
  uint32_t lastDir = kNone;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view path = pathOf(i);
    const bool isDir = !path.empty() && path.back() == '/';
    const int32_t entry = static_cast<int32_t>(i);
    const size_t end = isDir ? path.size() - 1 : path.size();
    const size_t cut = end == 0 ? std::string_view::npos : path.rfind('/', end - 1);
    const size_t leafAt = cut == std::string_view::npos ? 0 : cut + 1;
    const std::string_view leaf = path.substr(leafAt, end - leafAt);
    if (!leaf.empty() && leaf != ".") {
      const std::string_view prefix = path.substr(0, leafAt);
      if (lastDir == kNone || prefix != lastPrefix) {
        lastDir = kRoot;
        ForEachComponent(prefix, [&](std::string_view part, bool) {
          lastDir = DirectoryChild(lastDir, part);
          return true;
        });
        lastPrefix.assign(prefix);
      }
      Place(lastDir, leaf, isDir, entry);
      continue;
    }
    // A path ending in "." or an empty component: each component looked up.
    uint32_t dir = kRoot;
    bool named = false;
    ForEachComponent(path, [&](std::string_view part, bool last) {
      named = true;
      if (last)
        Place(dir, part, isDir, entry);
      else
        dir = DirectoryChild(dir, part);
      return true;
    });
    // A path of no name at all ("/", "."): kept with the root.
    if (!named) Hide(kRoot, entry);
  }
  Index();
}

void TPathIndex::Index() {
  // Children side by side, each directory's in the order its nodes were made.
  const size_t n = nodes_.size();
  childAt_.assign(n + 1, 0);
  for (size_t id = 1; id < n; ++id)
    if (!nodes_[id].merged) ++childAt_[nodes_[id].parent + 1];
  for (size_t id = 0; id < n; ++id) childAt_[id + 1] += childAt_[id];
  children_.assign(childAt_[n], 0);
  std::vector<uint32_t> fill(childAt_.begin(), childAt_.end() - 1);
  for (size_t id = 1; id < n; ++id)
    if (!nodes_[id].merged) children_[fill[nodes_[id].parent]++] = static_cast<uint32_t>(id);

  std::stable_sort(hiddenPairs_.begin(), hiddenPairs_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  hidden_.resize(hiddenPairs_.size());
  for (size_t i = 0; i < hiddenPairs_.size(); ++i) hidden_[i] = hiddenPairs_[i].second;
}

std::span<const int32_t> TPathIndex::Hidden(uint32_t id) const {
  const auto range = std::equal_range(hiddenPairs_.begin(), hiddenPairs_.end(), std::make_pair(id, int32_t(0)),
                                      [](const auto& a, const auto& b) { return a.first < b.first; });
  return std::span<const int32_t>(hidden_).subspan(static_cast<size_t>(range.first - hiddenPairs_.begin()),
                                                   static_cast<size_t>(range.second - range.first));
}

uint32_t TPathIndex::Find(std::string_view inner) const {
  uint32_t id = kRoot;
  ForEachComponent(inner, [&](std::string_view part, bool) {
    if (!nodes_[id].directory) {
      id = kNone;
      return false;
    }
    id = Lookup(id, part, HashOf(part));
    return id != kNone;
  });
  return id;
}

std::string TPathIndex::PathOf(uint32_t id) const {
  std::string path;
  while (id != kRoot) {
    path = path.empty() ? std::string(Name(id)) : std::string(Name(id)) + "/" + path;
    id = nodes_[id].parent;
  }
  return path;
}

void TPathIndex::EntriesBelow(uint32_t id, std::vector<int32_t>& out) const {
  // Without recursion: a hostile archive nests thousands of levels deep.
  std::vector<uint32_t> pending{id};
  while (!pending.empty()) {
    const uint32_t at = pending.back();
    pending.pop_back();
    if (nodes_[at].entry >= 0) out.push_back(nodes_[at].entry);
    const std::span<const int32_t> hidden = Hidden(at);
    out.insert(out.end(), hidden.begin(), hidden.end());
    const std::span<const uint32_t> children = Children(at);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

}  // namespace vantrel::vfs
