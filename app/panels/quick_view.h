// quick_view.h - Quick view (Ctrl+Q): the other panel's place shows the entry
// under the active panel's cursor, and follows the cursor as it moves.
//
// Inside an archive the entry is read through the archive: a file's first
// kPreviewBytes into a private file in memory (an encrypted one is not
// opened, which would ask for its password at every cursor step), a
// directory counted through the archive's listing.
//
// A file is shown as the viewer shows it: a picture as an image, text as
// text and anything else in hex (F4 switches between text and hex while the
// view has the keyboard). A directory gets a summary: how many files,
// directories and links it holds and the files' bytes, counted on a thread
// of its own so that the cursor never waits for a large tree.
//
// The keyboard stays in the panel whose cursor is followed. Tab goes into
// the view (to scroll it) and Tab again goes back; Ctrl+Q from either ends
// the quick view and the hidden panel comes back as it was.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "tools/dir_summary.h"

class QLabel;
class QStackedWidget;

namespace vantrel::viewer {
class TViewDocument;
class TTextView;
class THexView;
class TImageView;
}  // namespace vantrel::viewer

namespace vantrel::panels {
class TFMPanel;
}
namespace vantrel::vfs {
class TSource;
}

namespace vantrel::app {

class TMainForm;
struct TPanelSide;

// The quick view's words in the language chosen, each count with the form
// it takes. A directory's summary ("Directory docs", "Files: 3", ...,
// "Size: 1,234 bytes", "Counting..." while not `final`).
QString QuickViewSummaryText(const QString& name, const tools::TDirSummary& summary, bool final);
// A directory's status line: "3 files, 1,234 bytes".
QString QuickViewCountLine(uint64_t files, uint64_t bytes);
// A file's status line: its size (or `sizeNote` when only a part is shown)
// and `kind` (the encoding or "hex"): "1,234 bytes, UTF-8".
QString QuickViewFileLine(uint64_t size, const QString& sizeNote, const QString& kind);
// The note for an entry shown in part: "the first 16,777,216 of 20,000,000 bytes".
QString QuickViewPartNote(uint64_t shown, uint64_t size);

// The view itself: a title line, the page and a status line.
class TQuickView : public QWidget {
  Q_OBJECT

 public:
  enum class TKind { None, Text, Hex, Image, Directory, Error };

  explicit TQuickView(QWidget* parent = nullptr);
  ~TQuickView() override;

  // Shows the file or directory at `path` (bytes); the same path again
  // reads it again (it may have changed).
  void ShowPath(const std::string& path, bool directory);
  // Shows the message `english` (in the language chosen) under the title
  // `path` in place of a file (no file to read).
  void ShowNote(const std::string& path, const char* english);
  void Clear();

  const std::string& Path() const { return path_; }
  TKind Kind() const { return kind_; }
  // The page that takes the keyboard.
  QWidget* Page() const;
  QString TitleText() const;
  QString StatusText() const;
  // The directory summary as shown (empty for a file).
  QString SummaryText() const;
  // The rows of text or hex on screen (empty for other kinds).
  QStringList VisibleRows() const;
  // Whether the count of a directory is still running.
  bool Counting() const { return counting_; }

  // F4: text and hex change places.
  void ToggleHex();

  // The entry `inner` of an archive, shown as `display`.
  void ShowEntry(vfs::TSource& source, const std::string& inner, const std::string& display, bool directory);
  static constexpr uint64_t kPreviewBytes = 16ull << 20;

 protected:
  // A change of language rewords what is shown at once.
  void changeEvent(QEvent* event) override;

 private:
  void ShowFile();
  void ShowDirectory();
  void StopCount();
  void CountDone(uint64_t generation, const tools::TDirSummary& summary, bool final);
  void SetStatus(const QString& text);
  void ShowEntryFile(vfs::TSource& source, const std::string& inner, const QString& name);
  // Puts the words of what is shown, and keeps how to put them again when
  // the language changes (the numbers and names stay, the words change).
  void SetWords(std::function<void()> words);
  void WordFileStatus();
  void WordDirectory();

  // An archive's entry: the private copy ShowFile opens, and the entry's
  // size when only its first part is shown (0: all of it).
  std::string openPath_;
  uint64_t partOf_ = 0;
  std::function<void()> words_;
  // A directory's count as far as it went, and whether it ended.
  tools::TDirSummary summary_;
  bool summaryFinal_ = false;

  std::string path_;
  TKind kind_ = TKind::None;
  QLabel* title_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QLabel* message_ = nullptr;  // the directory summary or why a file cannot be shown
  QLabel* status_ = nullptr;
  std::unique_ptr<viewer::TViewDocument> doc_;
  viewer::TTextView* text_ = nullptr;
  viewer::THexView* hex_ = nullptr;
  viewer::TImageView* image_ = nullptr;

  std::thread counter_;
  std::atomic<bool> stopCount_{false};
  uint64_t generation_ = 0;
  bool counting_ = false;
};

// Turns a side into the quick view and back, and keeps the view on the
// followed panel's cursor.
class TQuickViewer : public QObject {
  Q_OBJECT

 public:
  explicit TQuickViewer(TMainForm& form);

  // Ctrl+Q: on for the active panel (the one that had the keyboard last), or off.
  void Toggle();
  void Open(panels::TFMPanel& source);
  void Close();
  bool IsOpen() const { return source_ != nullptr; }
  // The panel whose cursor is followed, and the view.
  panels::TFMPanel* Source() const { return source_; }
  TQuickView* View() const { return view_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Follow(bool again);
  void SetSideShown(const TPanelSide& side, bool shown);
  const TPanelSide& OtherSide(const panels::TFMPanel& panel) const;

  TMainForm& form_;
  TQuickView* view_ = nullptr;
  QPointer<panels::TFMPanel> source_;
  const TPanelSide* target_ = nullptr;
  QList<QMetaObject::Connection> follow_;
};

}  // namespace vantrel::app
