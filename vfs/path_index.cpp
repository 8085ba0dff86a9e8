// path_index.cpp - the tree of an archive's entry paths.
#include "vfs/path_index.h"

namespace vantrel::vfs {

namespace {

std::string_view ParentOf(std::string_view normalised) {
  const size_t slash = normalised.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : normalised.substr(0, slash);
}

std::string_view LeafOf(std::string_view normalised) {
  const size_t slash = normalised.rfind('/');
  return slash == std::string_view::npos ? normalised : normalised.substr(slash + 1);
}

}  // namespace

std::string TPathIndex::Normalise(std::string_view path, bool* isDir) {
  if (isDir) *isDir = !path.empty() && path.back() == '/';
  std::string out;
  out.reserve(path.size());
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(start, slash - start);
    if (!part.empty() && part != ".") {
      if (!out.empty()) out += '/';
      out += part;
    }
    start = slash + 1;
  }
  return out;
}

uint32_t TPathIndex::DirectoryFor(const std::string& normalised) {
  auto it = dirs_.find(normalised);
  if (it != dirs_.end()) return it->second;
  const uint32_t parent = DirectoryFor(std::string(ParentOf(normalised)));
  const uint32_t id = static_cast<uint32_t>(nodes_.size());
  TNode node;
  node.name = std::string(LeafOf(normalised));
  node.parent = parent;
  node.directory = true;
  nodes_.push_back(std::move(node));
  nodes_[parent].children.push_back(id);
  dirs_.emplace(normalised, id);
  return id;
}

void TPathIndex::Build(size_t count, const std::function<std::string_view(size_t)>& pathOf) {
  nodes_.clear();
  dirs_.clear();
  files_.clear();
  TNode root;
  root.directory = true;
  nodes_.push_back(std::move(root));
  dirs_.emplace(std::string(), kRoot);

  // Directories first, so that a file whose path is also a directory is
  // known as such whatever the order of the entries.
  std::vector<std::string> files(count);
  std::vector<bool> isFile(count, false);
  for (size_t i = 0; i < count; ++i) {
    bool isDir = false;
    std::string norm = Normalise(pathOf(i), &isDir);
    if (isDir) {
      const uint32_t id = DirectoryFor(norm);
      if (id != kRoot && nodes_[id].entry < 0)
        nodes_[id].entry = static_cast<int32_t>(i);
      else
        nodes_[id].hidden.push_back(static_cast<int32_t>(i));
    } else {
      DirectoryFor(std::string(ParentOf(norm)));
      files[i] = std::move(norm);
      isFile[i] = true;
    }
  }
  files_.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    if (!isFile[i]) continue;
    const std::string& norm = files[i];
    auto dir = dirs_.find(norm);
    if (dir != dirs_.end()) {  // also a directory (or a name that is no name)
      nodes_[dir->second].hidden.push_back(static_cast<int32_t>(i));
      continue;
    }
    const uint32_t parent = dirs_.find(std::string(ParentOf(norm)))->second;
    const uint32_t id = static_cast<uint32_t>(nodes_.size());
    TNode node;
    node.name = std::string(LeafOf(norm));
    node.parent = parent;
    node.entry = static_cast<int32_t>(i);
    nodes_.push_back(std::move(node));
    nodes_[parent].children.push_back(id);
    files_.emplace(norm, id);
  }
}

uint32_t TPathIndex::Find(std::string_view inner) const {
  const std::string norm = Normalise(inner);
  auto dir = dirs_.find(norm);
  if (dir != dirs_.end()) return dir->second;
  auto file = files_.find(norm);
  return file != files_.end() ? file->second : kNone;
}

std::string TPathIndex::PathOf(uint32_t id) const {
  std::string path;
  while (id != kRoot) {
    path = path.empty() ? nodes_[id].name : nodes_[id].name + "/" + path;
    id = nodes_[id].parent;
  }
  return path;
}

void TPathIndex::EntriesBelow(uint32_t id, std::vector<int32_t>& out) const {
  const TNode& node = nodes_[id];
  if (node.entry >= 0) out.push_back(node.entry);
  out.insert(out.end(), node.hidden.begin(), node.hidden.end());
  for (uint32_t child : node.children) EntriesBelow(child, out);
}

}  // namespace vantrel::vfs
