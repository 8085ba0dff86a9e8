// document.cpp - reading window, line navigation, line counting and search.
#include "viewer/document.h"

#include <algorithm>
#include <cstring>

#include "platform/process.h"

namespace vantrel::viewer {

namespace {

constexpr uint64_t kNone = UINT64_MAX;
constexpr size_t kWindowBytes = 256 * 1024;
// Line numbers this far past the background count are counted on the spot.
constexpr uint64_t kSyncCountBytes = 8u << 20;
constexpr size_t kSearchChunkBytes = 4u << 20;

uint64_t CountIn(TEncoding e, std::string_view bytes) {
  if (UnitBytes(e) == 1) return static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  uint64_t n = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) n += IsNewline(e, bytes.data() + i);
  return n;
}

}  // namespace

TViewDocument::TViewDocument(uint32_t pieceBytes) : pieceBytes_(std::max<uint32_t>(pieceBytes, 8) & ~1u) {}

TViewDocument::~TViewDocument() { StopLineCount(); }

bool TViewDocument::Open(const std::string& path, std::string* error) {
  StopLineCount();
  path_ = path;
  window_.clear();
  windowStart_ = 0;
  if (!file_.Open(path, error)) return false;
  std::string sample(static_cast<size_t>(std::min<uint64_t>(Size(), 65536)), '\0');
  sample.resize(file_.ReadAt(0, sample.data(), sample.size()));
  detected_ = DetectEncoding(sample, sample.size() == Size());
  encoding_ = detected_.encoding;
  textStart_ = detected_.bomBytes;
  return true;
}

void TViewDocument::SetEncoding(TEncoding encoding) {
  const bool counting = counter_.joinable();
  StopLineCount();
  encoding_ = encoding;
  textStart_ = BomBytesFor(encoding, Bytes(0, 4));
  if (counting) StartLineCount();
}

std::string_view TViewDocument::Bytes(uint64_t begin, uint64_t end) {
  end = std::min(end, Size());
  if (begin >= end) return {};
  const uint64_t have = windowStart_ + window_.size();
  if (begin < windowStart_ || end > have) {
    // Keep some bytes before `begin` too: backward scans come back for them.
    const uint64_t want = std::max<uint64_t>(end - begin, kWindowBytes);
    const uint64_t start = begin > want / 4 ? begin - want / 4 : 0;
    window_.resize(static_cast<size_t>(std::min<uint64_t>(want + want / 4, Size() - start)));
    window_.resize(file_.ReadAt(start, window_.data(), window_.size()));
    windowStart_ = start;
  }
  const uint64_t avail = windowStart_ + window_.size();
  if (begin >= avail) return {};  // the file shrank
  return std::string_view(window_).substr(static_cast<size_t>(begin - windowStart_),
                                          static_cast<size_t>(std::min(end, avail) - begin));
}

// ---------------------------------------------------------------------------
// Lines

uint64_t TViewDocument::AlignDown(uint64_t pos) const {
  if (pos <= textStart_) return textStart_;
  return pos - (UnitBytes(encoding_) == 2 ? (pos - textStart_) % 2 : 0);
}

uint64_t TViewDocument::FindNewline(uint64_t from, uint64_t limit) {
  const std::string_view bytes = Bytes(from, limit);
  if (UnitBytes(encoding_) == 1) {
    const void* hit = std::memchr(bytes.data(), '\n', bytes.size());
    return hit != nullptr ? from + static_cast<uint64_t>(static_cast<const char*>(hit) - bytes.data())
                          : limit;
  }
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    if (IsNewline(encoding_, bytes.data() + i)) return from + i;
  return limit;
}

uint64_t TViewDocument::FindNewlineBack(uint64_t floor, uint64_t before) {
  const std::string_view bytes = Bytes(floor, before);
  const int unit = UnitBytes(encoding_);
  for (size_t i = bytes.size() - bytes.size() % unit; i >= static_cast<size_t>(unit);) {
    i -= unit;
    if (IsNewline(encoding_, bytes.data() + i)) return floor + i;
  }
  return kNone;
}

uint64_t TViewDocument::Boundary(uint64_t m) {
  const int unit = UnitBytes(encoding_);
  uint64_t b = textStart_ + m * pieceBytes_;
  for (int step = 0; step < 3 && b + unit <= Size(); ++step) {
    const std::string_view at = Bytes(b, b + unit);
    if (at.size() < static_cast<size_t>(unit) || IsCharStart(encoding_, at.data())) break;
    b += unit;
  }
  return std::min(b, Size());
}

bool TViewDocument::IsPieceStart(uint64_t m) {
  const uint64_t raw = textStart_ + m * pieceBytes_;
  const uint64_t b = Boundary(m);
  const int unit = UnitBytes(encoding_);
  if (m == 0 || b + unit > Size()) return false;
  if (FindNewline(raw - pieceBytes_, raw) != raw) return false;
  const std::string_view at = Bytes(b, b + unit);
  return at.size() == static_cast<size_t>(unit) && !IsNewline(encoding_, at.data());
}

uint64_t TViewDocument::NextLineStart(uint64_t start) {
  const uint64_t size = Size();
  if (start >= size) return size;
  const int unit = UnitBytes(encoding_);
  const uint64_t m1 = (start - textStart_) / pieceBytes_ + 1;
  const uint64_t limit = std::min(size, textStart_ + (m1 + 1) * pieceBytes_ + 4 * unit);
  const uint64_t n = FindNewline(start, limit);
  const uint64_t afterNewline = n < limit ? n + unit : kNone;
  for (uint64_t m : {m1, m1 + 1}) {
    const uint64_t b = Boundary(m);
    if (b >= afterNewline || b >= size) break;
    if (b > start && IsPieceStart(m)) return b;
  }
  return std::min(afterNewline, size);
}

uint64_t TViewDocument::LineStartAt(uint64_t pos) {
  const uint64_t size = Size();
  if (size <= textStart_ || pos <= textStart_) return textStart_;
  pos = AlignDown(std::min(pos, size - 1));
  const int unit = UnitBytes(encoding_);
  const uint64_t mTop = (pos - textStart_) / pieceBytes_;
  const uint64_t floor = mTop >= 2 ? textStart_ + (mTop - 2) * pieceBytes_ : textStart_;
  const uint64_t n = FindNewlineBack(floor, pos);
  uint64_t lineStart = n != kNone ? n + unit : (floor == textStart_ ? textStart_ : kNone);
  for (uint64_t m = mTop; m >= 1 && m + 2 >= mTop; --m) {
    const uint64_t b = Boundary(m);
    if (b > pos) continue;
    if (lineStart != kNone && b <= lineStart) break;
    if (IsPieceStart(m)) return b;
  }
  return lineStart != kNone ? lineStart : textStart_;
}

uint64_t TViewDocument::PrevLineStart(uint64_t start) {
  if (start <= textStart_) return textStart_;
  return LineStartAt(start - UnitBytes(encoding_));
}

uint64_t TViewDocument::LastLineStart() {
  if (Size() <= textStart_) return textStart_;
  return LineStartAt(Size() - 1);
}

QString TViewDocument::LineText(uint64_t start, uint64_t end) {
  std::string_view bytes = Bytes(start, end);
  const size_t unit = static_cast<size_t>(UnitBytes(encoding_));
  if (bytes.size() >= unit && IsNewline(encoding_, bytes.data() + bytes.size() - unit)) {
    bytes.remove_suffix(unit);
    const char cr = '\r';
    if (bytes.size() >= unit) {
      const char* last = bytes.data() + bytes.size() - unit;
      const bool isCr = unit == 1 ? *last == cr
                                  : (encoding_ == TEncoding::Utf16LE ? last[0] == cr && last[1] == 0
                                                                     : last[0] == 0 && last[1] == cr);
      if (isCr) bytes.remove_suffix(unit);
    }
  }
  return Decode(encoding_, bytes);
}

// ---------------------------------------------------------------------------
// Line numbers

uint64_t TViewDocument::CountNewlines(uint64_t begin, uint64_t end,
                                      const std::atomic<bool>* stop) const {
  std::string buffer(static_cast<size_t>(std::min<uint64_t>(end - std::min(begin, end), 1u << 20)), '\0');
  uint64_t count = 0;
  while (begin < end && !(stop && stop->load(std::memory_order_relaxed))) {
    const size_t got = file_.ReadAt(begin, buffer.data(),
                                    static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - begin)));
    if (got == 0) break;
    count += CountIn(encoding_, std::string_view(buffer.data(), got - got % UnitBytes(encoding_)));
    begin += got - got % UnitBytes(encoding_);
    if (got < static_cast<size_t>(UnitBytes(encoding_))) break;
  }
  return count;
}

void TViewDocument::StartLineCount() {
  StopLineCount();
  {
    std::lock_guard lock(countMutex_);
    checkpoints_.assign(1, 0);
    lineCount_ = 0;
  }
  stopCount_ = false;
  counter_ = std::thread([this] {
    platform::RunThreadWhenIdle();
    CountLoop();
  });
}

void TViewDocument::StopLineCount() {
  stopCount_ = true;
  if (counter_.joinable()) counter_.join();
}

void TViewDocument::CountLoop() {
  for (;;) {
    uint64_t index, before;
    {
      std::lock_guard lock(countMutex_);
      index = checkpoints_.size() - 1;
      before = checkpoints_.back();
    }
    const uint64_t begin = textStart_ + index * kCheckpointBytes;
    if (begin >= Size()) {
      // Every line feed ends a line; text after the last one is one more.
      const uint64_t unit = static_cast<uint64_t>(UnitBytes(encoding_));
      bool endsWithNewline = false;
      if (Size() >= textStart_ + unit) {
        char last[2] = {0, 0};
        endsWithNewline = file_.ReadAt(Size() - unit, last, unit) == unit && IsNewline(encoding_, last);
      }
      std::lock_guard lock(countMutex_);
      lineCount_ = std::max<uint64_t>(1, before + (endsWithNewline || Size() <= textStart_ ? 0 : 1));
      return;
    }
    const uint64_t n = CountNewlines(begin, std::min(Size(), begin + kCheckpointBytes), &stopCount_);
    if (stopCount_) return;
    std::lock_guard lock(countMutex_);
    checkpoints_.push_back(before + n);
  }
}

uint64_t TViewDocument::LineNumberAt(uint64_t pos) {
  pos = std::clamp(pos, textStart_, Size());
  const uint64_t index = (pos - textStart_) / kCheckpointBytes;
  uint64_t known = 0, base = 0;  // before any count: from the start of the text
  {
    std::lock_guard lock(countMutex_);
    if (!checkpoints_.empty()) {
      known = std::min<uint64_t>(index, checkpoints_.size() - 1);
      base = checkpoints_[known];
    }
  }
  const uint64_t from = textStart_ + known * kCheckpointBytes;
  if (pos - from > kSyncCountBytes) return 0;
  return base + CountNewlines(from, AlignDown(pos), nullptr) + 1;
}

uint64_t TViewDocument::LineCount() const {
  std::lock_guard lock(countMutex_);
  return lineCount_;
}

uint64_t TViewDocument::OffsetOfLine(uint64_t line) {
  if (line <= 1) return textStart_;
  const uint64_t wanted = line - 1;  // line feeds before the line
  uint64_t pos = textStart_, seen = 0;
  {
    std::lock_guard lock(countMutex_);
    for (size_t i = checkpoints_.size(); i-- > 0;) {
      if (checkpoints_[i] < wanted) {
        pos = textStart_ + i * kCheckpointBytes;
        seen = checkpoints_[i];
        break;
      }
    }
  }
  const int unit = UnitBytes(encoding_);
  std::string buffer(1u << 20, '\0');
  while (pos < Size()) {
    const size_t got = file_.ReadAt(pos, buffer.data(), buffer.size()) & ~static_cast<size_t>(unit - 1);
    if (got == 0) break;
    const std::string_view bytes(buffer.data(), got);
    const uint64_t here = CountIn(encoding_, bytes);
    if (seen + here >= wanted) {
      for (size_t i = 0; i + unit <= got; i += unit) {
        if (IsNewline(encoding_, bytes.data() + i) && ++seen == wanted) {
          const uint64_t start = pos + i + unit;
          return start < Size() ? start : LastLineStart();
        }
      }
    }
    seen += here;
    pos += got;
  }
  return LastLineStart();
}

// ---------------------------------------------------------------------------
// Search

std::optional<TTextHit> TViewDocument::Find(const TFindRequest& request, const std::atomic<bool>* stop,
                                            const std::function<void(uint64_t)>& progress) const {
  const QString& pattern = request.pattern;
  if (pattern.isEmpty()) return std::nullopt;
  const TEncoding enc = encoding_;
  const uint64_t unit = static_cast<uint64_t>(UnitBytes(enc));
  const uint64_t size = Size();
  const uint64_t textStart = textStart_;
  const Qt::CaseSensitivity cs = request.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
  // A hit may straddle two chunks: each chunk reaches this far into the next.
  const uint64_t overlap = static_cast<uint64_t>(pattern.size()) * 3 + 4;
  auto align = [&](uint64_t pos) {
    pos = std::clamp(pos, textStart, size);
    return pos - (pos - textStart) % unit;
  };
  // Moves `pos` forward to a character start (at most three units).
  auto charStart = [&](uint64_t pos) {
    char at[2];
    for (int step = 0; step < 3 && pos + unit <= size; ++step) {
      if (file_.ReadAt(pos, at, unit) != unit || IsCharStart(enc, at)) break;
      pos += unit;
    }
    return pos;
  };
  std::string bytes;
  auto read = [&](uint64_t a, uint64_t b) {
    bytes.resize(static_cast<size_t>(b - a));
    bytes.resize(file_.ReadAt(a, bytes.data(), bytes.size()));
  };
  auto hitAt = [&](uint64_t chunkStart, qsizetype index) {
    const size_t skip = BytesForUnits(enc, bytes, index);
    const size_t len = BytesForUnits(enc, std::string_view(bytes).substr(skip), pattern.size());
    return TTextHit{chunkStart + skip, len};
  };
  auto stopped = [&] { return stop != nullptr && stop->load(std::memory_order_relaxed); };

  QString text;
  uint64_t searched = 0;
  if (!request.backwards) {
    uint64_t a = charStart(align(request.from));
    while (a < size && !stopped()) {
      const uint64_t b = charStart(align(std::min(size, a + kSearchChunkBytes)));
      read(a, b);
      text.clear();
      DecodeAppend(enc, bytes, text);
      const qsizetype index = text.indexOf(pattern, 0, cs);
      if (index >= 0) return hitAt(a, index);
      searched += b - a;
      if (progress) progress(searched);
      if (b >= size) break;
      a = std::max(a + unit, charStart(align(b - std::min(b, overlap))));
    }
    return std::nullopt;
  }

  // Backwards: chunks from `from` towards the start; a hit must begin before `limit`.
  uint64_t limit = align(request.from);
  while (limit > textStart && !stopped()) {
    const uint64_t b = charStart(align(std::min(size, limit + overlap)));
    const uint64_t a = charStart(align(limit > kSearchChunkBytes ? limit - kSearchChunkBytes : 0));
    read(a, b);
    text.clear();
    DecodeAppend(enc, std::string_view(bytes).substr(0, static_cast<size_t>(limit - a)), text);
    const qsizetype before = text.size();  // units that start before `limit`
    DecodeAppend(enc, std::string_view(bytes).substr(static_cast<size_t>(limit - a)), text);
    const qsizetype index = before > 0 ? text.lastIndexOf(pattern, before - 1, cs) : -1;
    if (index >= 0) return hitAt(a, index);
    searched += limit - a;
    if (progress) progress(searched);
    if (a <= textStart) break;
    limit = a;
  }
  return std::nullopt;
}

}  // namespace vantrel::viewer
