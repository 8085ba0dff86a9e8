// document.h - TViewDocument, a file as the viewer reads it: bytes through a
// small window, lines found on demand, line numbers counted in the background.
//
// Nothing here reads the whole file to show a part of it. A line is found by
// scanning for the next or previous line feed from a known place, so opening
// a file of any size, jumping to its end or to any fraction of it costs a few
// reads. To keep every such scan short, a line longer than `pieceBytes` is
// cut into pieces: a piece boundary is a multiple of `pieceBytes` from the
// start of the text with no line feed in the `pieceBytes` before it (moved
// forward to the next character start), and a boundary is a line start like
// any other. The rule depends only on the bytes around the boundary, so
// scanning forwards and backwards always agree on where lines begin.
//
// Line numbers count line feeds. A background thread counts them through the
// file and keeps the count at every `kCheckpointBytes`; any line number is a
// checkpoint plus one short count.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <QString>

#include "platform/readonly_file.h"
#include "viewer/encoding.h"

namespace vantrel::viewer {

// A found text: its byte range in the file.
struct TTextHit {
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct TFindRequest {
  QString pattern;
  bool backwards = false;
  bool caseSensitive = false;
  // Forwards: the first hit starting at or after `from`; backwards: the last
  // hit starting before it.
  uint64_t from = 0;
};

class TViewDocument {
 public:
  static constexpr uint32_t kPieceBytes = 16384;
  static constexpr uint64_t kCheckpointBytes = 1u << 20;

  explicit TViewDocument(uint32_t pieceBytes = kPieceBytes);
  ~TViewDocument();
  TViewDocument(const TViewDocument&) = delete;
  TViewDocument& operator=(const TViewDocument&) = delete;

  // Opens the file and judges its encoding from its first bytes. False with
  // the reason in `error` when it cannot be read.
  bool Open(const std::string& path, std::string* error = nullptr);
  const std::string& Path() const { return path_; }
  uint64_t Size() const { return file_.Size(); }
  const platform::ReadOnlyFile& File() const { return file_; }

  // What the first bytes said.
  const TDetection& Detected() const { return detected_; }
  TEncoding Encoding() const { return encoding_; }
  // Switches the encoding; the text starts after the byte-order mark when the
  // file has the one of the new encoding. Line numbers are counted anew.
  void SetEncoding(TEncoding encoding);
  uint64_t TextStart() const { return textStart_; }

  // Bytes [begin, end), clamped to the file: a view into the read window,
  // valid until the next call.
  std::string_view Bytes(uint64_t begin, uint64_t end);

  // --- Lines (a line's range runs from its start to the next start) ---
  // The start of the line after the one that starts at `start`, or Size()
  // for the last line.
  uint64_t NextLineStart(uint64_t start);
  // The start of the line that holds the byte at `pos`.
  uint64_t LineStartAt(uint64_t pos);
  // The start of the line before the one starting at `start` (itself at the top).
  uint64_t PrevLineStart(uint64_t start);
  uint64_t LastLineStart();
  // The text of [start, end) without its closing line feed (and carriage
  // return).
  QString LineText(uint64_t start, uint64_t end);

  // --- Line numbers ---
  // Starts counting line feeds in the background (again, after an encoding
  // change). Counting stops when the document is destroyed.
  void StartLineCount();
  // The 1-based number of the line holding `pos`, or 0 while the count has
  // not come near it (the first 8 MiB are counted on the spot).
  uint64_t LineNumberAt(uint64_t pos);
  // The number of lines once counted through, else 0.
  uint64_t LineCount() const;
  // The start of line `line` (1-based; past the end: the last line). Counts
  // from the nearest checkpoint itself, so it is exact even while the
  // background count is still running.
  uint64_t OffsetOfLine(uint64_t line);

  // --- Search ---
  // Looks for `request.pattern` in decoded text, chunk by chunk; a set
  // `stop` ends the search early (no hit), `progress` hears the bytes searched
  // so far. Reads only the file itself, so it may run on another thread while
  // the document is in use there (but not while the encoding changes).
  std::optional<TTextHit> Find(const TFindRequest& request, const std::atomic<bool>* stop = nullptr,
                               const std::function<void(uint64_t)>& progress = {}) const;

 private:
  void StopLineCount();
  // The piece boundary number `m` (m >= 1), moved forward to a character
  // start, and whether it starts a line.
  uint64_t Boundary(uint64_t m);
  bool IsPieceStart(uint64_t m);
  // The first line feed in [from, limit), or `limit`.
  uint64_t FindNewline(uint64_t from, uint64_t limit);
  // The last line feed in [floor, before), or UINT64_MAX.
  uint64_t FindNewlineBack(uint64_t floor, uint64_t before);
  uint64_t AlignDown(uint64_t pos) const;
  // Line feeds in [begin, end) counted with reads of the file itself.
  uint64_t CountNewlines(uint64_t begin, uint64_t end, const std::atomic<bool>* stop) const;
  void CountLoop();

  const uint32_t pieceBytes_;
  std::string path_;
  platform::ReadOnlyFile file_;
  TDetection detected_;
  TEncoding encoding_ = TEncoding::Utf8;
  uint64_t textStart_ = 0;

  // The read window.
  std::string window_;
  uint64_t windowStart_ = 0;

  // Line feeds before each checkpoint: checkpoints_[i] counts those in
  // [textStart_, textStart_ + i * kCheckpointBytes).
  mutable std::mutex countMutex_;
  std::vector<uint64_t> checkpoints_;
  uint64_t lineCount_ = 0;  // set when counted through
  std::thread counter_;
  std::atomic<bool> stopCount_{false};
};

}  // namespace vantrel::viewer
