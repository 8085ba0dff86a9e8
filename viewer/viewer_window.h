// viewer_window.h - TViewerWindow, the window of vnview: one file in text,
// hex or image mode, with search, go to line, encodings and a status bar.
//
// Keys: Escape and F10 close; F3 finds the next hit while a search is
// active (one was entered with Ctrl+F), and closes the window otherwise;
// Shift+F3 finds the previous hit; Ctrl+G goes to a line (in hex mode to an
// offset); F2 turns wrapping on and off; F4 switches between text and hex;
// F8 takes the next encoding; "1" shows an image at its original size or
// fitted to the window.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <QMainWindow>

#include "viewer/document.h"

class QActionGroup;
class QLabel;
class QStackedWidget;
class QTimer;

namespace vantrel::viewer {

class THexView;
class TImageView;
class TTextView;

// The key help, for F1 and for "vnview --help".
QString KeysHelpText();

// "--language=FILE" as the first argument (the file manager passes the
// translation file it uses, so that the viewer speaks its language) is
// taken out of the arguments and its FILE returned; "" when there is none.
// A lone argument is always the file to show, whatever its name.
std::string TakeLanguageOption(int& argc, char** argv);

class TViewerWindow : public QMainWindow {
  Q_OBJECT

 public:
  enum class TMode { Text, Hex, Image };

  // Opens `path` (bytes, as the file system names it). A file that cannot be
  // read gives a window that says why.
  explicit TViewerWindow(const std::string& path, QWidget* parent = nullptr);
  ~TViewerWindow() override;

  // Empty when the file was opened; otherwise the sentence shown instead.
  const QString& ErrorText() const { return error_; }
  TMode Mode() const { return mode_; }
  void SetMode(TMode mode);
  TViewDocument& Document() { return doc_; }
  TTextView* TextView() const { return textView_; }
  THexView* HexView() const { return hexView_; }
  TImageView* ImageView() const { return imageView_; }
  QString StatusText() const;

  void SetEncoding(TEncoding encoding);
  void SetWrap(bool wrap);

  // --- Search ---
  // Starts a search for `pattern` from the current place; the answer comes
  // later (Searching() turns false), the hit is highlighted and shown.
  void Find(const QString& pattern, bool backwards, bool caseSensitive);
  // F3 and Shift+F3: the next hit in the last search's direction or against it.
  void FindAgain(bool reverse);
  bool SearchActive() const { return !search_.pattern.isEmpty(); }
  bool Searching() const { return searching_; }
  void StopSearch();
  // The hit on screen, if any.
  std::optional<TTextHit> Hit() const { return hit_; }

  // Text mode: line `line` (1-based) at the top; hex mode: byte `line`.
  void GoToLine(uint64_t line);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildActions();
  void ShowError(const QString& text);
  void UpdateStatus();
  uint64_t CurrentOffset() const;
  void RunSearch(const TFindRequest& request);
  void SearchDone(uint64_t id, std::optional<TTextHit> hit, bool stopped);
  void FindDialog();
  void GoToDialog();
  void F3Pressed();
  void EscapePressed();
  void NextEncoding();
  bool LoadImage();

  TViewDocument doc_;
  QString error_;
  TMode mode_ = TMode::Text;
  QStackedWidget* stack_ = nullptr;
  TTextView* textView_ = nullptr;
  THexView* hexView_ = nullptr;
  TImageView* imageView_ = nullptr;
  QLabel* errorLabel_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  QActionGroup* encodings_ = nullptr;
  bool imageTried_ = false;

  TFindRequest search_;
  std::optional<TTextHit> hit_;
  std::thread searchThread_;
  std::atomic<bool> stopSearch_{false};
  std::atomic<uint64_t> searched_{0};
  bool searching_ = false;
  uint64_t searchId_ = 0;
  QString searchNote_;
};

}  // namespace vantrel::viewer
