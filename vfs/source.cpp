// source.cpp - what every source shares: the change helpers, the pull stream
// made from a push reading, and inner path arithmetic.
#include "vfs/source.h"

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/private_file.h"

namespace vantrel::vfs {

bool TDescriptorSink::Write(const void* data, size_t n) {
  error = platform::WriteAll(fd_, data, n, &written);
  return error == 0;
}

bool TBufferedDescriptorSink::Write(const void* data, size_t n) {
  if (used_ + n > cap_ && !Finish()) return false;
  if (n >= cap_) {
    // A piece as large as the buffer goes as it is.
    if (out_.Write(data, n)) return true;
    error = out_.error;
    return false;
  }
  std::memcpy(buf_ + used_, data, n);
  used_ += n;
  return true;
}

bool TBufferedDescriptorSink::Finish() {
  if (used_ == 0) return true;
  const size_t n = used_;
  used_ = 0;
  if (out_.Write(buf_, n)) return true;
  error = out_.error;
  return false;
}

namespace {

class TMemorySink final : public TDataSink {
 public:
  bool Write(const void* data, size_t n) override {
    bytes.append(static_cast<const char*>(data), n);
    return true;
  }
  std::string bytes;
};

class TMemoryStream final : public TReadStream {
 public:
  explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Read(void* buffer, size_t n, TError*) override {
    n = std::min(n, bytes_.size() - pos_);
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<int64_t>(n);
  }
  uint64_t Size() const override { return bytes_.size(); }

 private:
  std::string bytes_;
  size_t pos_ = 0;
};

class TFileStream final : public TReadStream {
 public:
  TFileStream(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~TFileStream() override { platform::CloseDescriptor(fd_); }
  int64_t Read(void* buffer, size_t n, TError* err) override {
    const int64_t r = platform::ReadSome(fd_, buffer, n);
    if (r < 0 && err) err->Set(errno, platform::ErrorText(errno));
    return r;
  }
  uint64_t Size() const override { return size_; }

 private:
  int fd_;
  uint64_t size_;
};

bool Refuse(const TSource& source, TError* err) {
  if (err) {
    const TCapabilities caps = source.Capabilities();
    err->Set(EROFS, caps.readOnlyReason.empty() ? "This place cannot be changed" : caps.readOnlyReason);
  }
  return false;
}

}  // namespace

TChangeSet& TChangeSet::MakeDir(std::string path) {
  TChange c;
  c.kind = TChange::TKind::MakeDir;
  c.path = std::move(path);
  c.mode = 0755;
  changes.push_back(std::move(c));
  return *this;
}

TChangeSet& TChangeSet::Delete(std::string path) {
  TChange c;
  c.kind = TChange::TKind::Delete;
  c.path = std::move(path);
  changes.push_back(std::move(c));
  return *this;
}

TChangeSet& TChangeSet::Rename(std::string from, std::string to) {
  TChange c;
  c.kind = TChange::TKind::Rename;
  c.path = std::move(from);
  c.to = std::move(to);
  changes.push_back(std::move(c));
  return *this;
}

TChangeSet& TChangeSet::PutFile(std::string path, std::string localFile, int64_t mtime,
                                uint32_t mode) {
  TChange c;
  c.kind = TChange::TKind::Put;
  c.path = std::move(path);
  c.localFile = std::move(localFile);
  c.mtime = mtime;
  c.mode = mode;
  changes.push_back(std::move(c));
  return *this;
}

TChangeSet& TChangeSet::PutData(std::string path, std::function<bool(TDataSink&, TError*)> produce,
                                uint64_t size, int64_t mtime, uint32_t mode) {
  TChange c;
  c.kind = TChange::TKind::Put;
  c.path = std::move(path);
  c.produce = std::move(produce);
  c.size = size;
  c.mtime = mtime;
  c.mode = mode;
  changes.push_back(std::move(c));
  return *this;
}

TChangeSet& TChangeSet::PutStored(std::string path, std::shared_ptr<const TStoredRecord> record,
                                  std::function<bool(TDataSink&, TError*)> produce, uint64_t size) {
  PutData(std::move(path), std::move(produce), size);
  changes.back().stored = std::move(record);
  return *this;
}

TChangeSet& TChangeSet::PutLink(std::string path, std::string target, int64_t mtime) {
  TChange c;
  c.kind = TChange::TKind::Link;
  c.path = std::move(path);
  c.to = std::move(target);
  c.mtime = mtime;
  changes.push_back(std::move(c));
  return *this;
}

std::unique_ptr<TReadStream> TSource::Open(const std::string& inner, TError* err) {
  TEntry e;
  if (!Stat(inner, e, err)) return nullptr;
  if (e.kind == TEntryKind::Directory) {
    if (err) err->Set(EISDIR, "\"" + inner + "\" is a directory");
    return nullptr;
  }
  if (e.size <= MemoryLimit) {
    TMemorySink sink;
    if (!ReadInto(inner, sink, {}, err)) return nullptr;
    return std::make_unique<TMemoryStream>(std::move(sink.bytes));
  }
  const int fd = platform::PrivateTempFile();
  if (fd < 0) {
    if (err) err->Set(errno, "Cannot make a temporary file: " + platform::ErrorText(errno));
    return nullptr;
  }
  TDescriptorSink sink(fd);
  if (!ReadInto(inner, sink, {}, err)) {
    if (sink.error && err) err->Set(sink.error, platform::ErrorText(sink.error));
    platform::CloseDescriptor(fd);
    return nullptr;
  }
  if (const int error = platform::Rewind(fd); error != 0) {
    if (err) err->Set(error, "Cannot read a temporary file: " + platform::ErrorText(error));
    platform::CloseDescriptor(fd);
    return nullptr;
  }
  return std::make_unique<TFileStream>(fd, sink.written);
}

bool TSource::Apply(const TChangeSet&, const TProgress&, TError* err) { return Refuse(*this, err); }

bool TSource::ReadStored(const std::string& inner, TDataSink&, std::shared_ptr<const TStoredRecord>&,
                         const TProgress&, TError* err) {
  if (err) err->Set(ENOTSUP, "\"" + inner + "\" has no stored form of its own in " + Root());
  return false;
}

bool TSource::MakeDir(const std::string& inner, TError* err) {
  return Apply(TChangeSet().MakeDir(inner), {}, err);
}

bool TSource::Delete(const std::string& inner, TError* err) {
  return Apply(TChangeSet().Delete(inner), {}, err);
}

bool TSource::Rename(const std::string& from, const std::string& to, TError* err) {
  return Apply(TChangeSet().Rename(from, to), {}, err);
}

std::vector<std::string> SplitInner(const std::string& inner) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= inner.size()) {
    size_t slash = inner.find('/', start);
    if (slash == std::string::npos) slash = inner.size();
    if (slash > start) parts.emplace_back(inner, start, slash - start);
    start = slash + 1;
  }
  return parts;
}

std::string JoinInner(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (name.empty()) return dir;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string ParentInner(const std::string& inner) {
  std::string s = inner;
  while (!s.empty() && s.back() == '/') s.pop_back();
  const size_t slash = s.rfind('/');
  if (slash == std::string::npos) return {};
  s.resize(slash);
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

std::string LeafInner(const std::string& inner) {
  std::string s = inner;
  while (!s.empty() && s.back() == '/') s.pop_back();
  const size_t slash = s.rfind('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

}  // namespace vantrel::vfs
