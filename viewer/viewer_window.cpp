// viewer_window.cpp - modes, keys, search and status of the viewer window.
#include "viewer/viewer_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/qt/wording.h"
#include "platform/text.h"
#include "viewer/hex_view.h"
#include "viewer/image_view.h"
#include "viewer/text_view.h"

namespace vantrel::viewer {

namespace {

// Images are decoded whole; larger files open as text or hex.
constexpr uint64_t kMaxImageBytes = 256u << 20;

QString FromBytes(const std::string& s) {
  return QString::fromStdString(platform::DisplayName(s));
}

QString Thousands(uint64_t n) { return FromBytes(platform::FormatThousands(n)); }

}  // namespace

QString KeysHelpText() {
  // The keys, then what they do in the language chosen (a description
  // that goes on to a second line is two texts).
  static const struct {
    const char* keys;
    const char* does;
  } kKeys[] = {
      {"Esc, F10", "close the viewer (Esc first stops a running search)"},
      {"F3", "find the next hit while a search is active (after Ctrl+F);"},
      {"", "without a search, F3 closes the viewer"},
      {"Shift+F3", "find the previous hit"},
      {"Ctrl+F", "find text (not case-sensitive unless asked; forwards or backwards)"},
      {"Ctrl+G", "go to a line (in hex mode: to an offset, decimal or 0x hex)"},
      {"F2", "wrap long lines on or off"},
      {"F4", "switch between text and hex"},
      {"F8", "next encoding: UTF-8, UTF-16LE, UTF-16BE, Latin-1, CP1251, CP866, CP437"},
      {"1", "image: original size or fitted to the window"},
      {"F1", "this help"},
  };
  QString text = platform::Worded("vnview FILE - shows a file as text, in hex or as an image.") + QStringLiteral("\n\n");
  for (const auto& k : kKeys) {
    text += QString::fromLatin1(k.keys).leftJustified(15) + platform::Worded(k.does) + QLatin1Char('\n');
    if (qstrcmp(k.keys, "1") == 0)  // the scrolling keys, in their place
      text += QStringLiteral("Up, Down, PgUp, PgDn, Home, End, Left, Right   ") + platform::Worded("scroll") +
              QLatin1Char('\n');
  }
  return text;
}

std::string TakeLanguageOption(int& argc, char** argv) {
  static constexpr std::string_view kOption = "--language=";
  if (argc < 3 || std::string_view(argv[1]).substr(0, kOption.size()) != kOption) return {};
  std::string file(argv[1] + kOption.size());
  for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
  argv[--argc] = nullptr;
  return file;
}

TViewerWindow::TViewerWindow(const std::string& path, QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("ViewerWindow"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  setWindowTitle(FromBytes(name) + QStringLiteral(" - vnview"));
  resize(800, 600);

  stack_ = new QStackedWidget(this);
  textView_ = new TTextView(doc_, stack_);
  hexView_ = new THexView(doc_, stack_);
  imageView_ = new TImageView(stack_);
  errorLabel_ = new QLabel(stack_);
  errorLabel_->setObjectName(QStringLiteral("ErrorLabel"));
  errorLabel_->setAlignment(Qt::AlignCenter);
  errorLabel_->setWordWrap(true);
  errorLabel_->setTextFormat(Qt::PlainText);
  for (QWidget* w : {static_cast<QWidget*>(textView_), static_cast<QWidget*>(hexView_),
                     static_cast<QWidget*>(imageView_), static_cast<QWidget*>(errorLabel_)})
    stack_->addWidget(w);
  setCentralWidget(stack_);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("ViewerStatus"));
  statusBar()->addWidget(status_, 1);
  statusTimer_ = new QTimer(this);
  statusTimer_->setInterval(250);
  connect(statusTimer_, &QTimer::timeout, this, [this] {
    UpdateStatus();
    if (!searching_ && doc_.LineCount() != 0) statusTimer_->stop();
  });
  connect(textView_, &TTextView::positionChanged, this, &TViewerWindow::UpdateStatus);
  connect(hexView_, &THexView::positionChanged, this, &TViewerWindow::UpdateStatus);

  BuildActions();

  std::string why;
  if (!doc_.Open(path, &why)) {
    ShowError(platform::Worded("Cannot view \"%1\": %2.").arg(FromBytes(path), FromBytes(why)));
    return;
  }
  for (QAction* a : encodings_->actions())
    a->setChecked(a->data().toInt() == static_cast<int>(doc_.Encoding()));
  textView_->DocumentChanged();
  if (LoadImage())
    SetMode(TMode::Image);
  else
    SetMode(doc_.Detected().binary ? TMode::Hex : TMode::Text);
  // Lines are counted once the first screen is up.
  QTimer::singleShot(200, this, [this] {
    doc_.StartLineCount();
    statusTimer_->start();
  });
  UpdateStatus();
}

TViewerWindow::~TViewerWindow() { StopSearch(); }

void TViewerWindow::ShowError(const QString& text) {
  error_ = text;
  errorLabel_->setText(text);
  stack_->setCurrentWidget(errorLabel_);
  status_->setText(text);
}

bool TViewerWindow::LoadImage() {
  if (imageTried_) return !imageView_->Image().isNull();
  imageTried_ = true;
  if (doc_.Size() == 0 || doc_.Size() > kMaxImageBytes) return false;
  const std::string_view head = doc_.Bytes(0, 64);
  if (!LooksLikeImage(QByteArray(head.data(), static_cast<qsizetype>(head.size())))) return false;
  QByteArray bytes(static_cast<qsizetype>(doc_.Size()), Qt::Uninitialized);
  bytes.resize(static_cast<qsizetype>(doc_.File().ReadAt(0, bytes.data(), static_cast<size_t>(bytes.size()))));
  imageView_->SetImage(DecodeImage(bytes));
  return !imageView_->Image().isNull();
}

// ---------------------------------------------------------------------------
// Actions and keys

void TViewerWindow::BuildActions() {
  auto add = [this](QMenu* menu, const char* name, const QString& text,
                    const QList<QKeySequence>& keys, auto handler) {
    auto* action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, handler);
    menu->addAction(action);
    addAction(action);
    return action;
  };
  QMenu* file = menuBar()->addMenu(platform::Worded("&File"));
  add(file, "actClose", platform::Worded("Close"), {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::Key_F10)},
      &TViewerWindow::EscapePressed);

  QMenu* view = menuBar()->addMenu(platform::Worded("&View"));
  add(view, "actHex", platform::Worded("Text / Hex"), {QKeySequence(Qt::Key_F4)}, [this] {
    SetMode(mode_ == TMode::Hex ? (imageView_->Image().isNull() ? TMode::Text : TMode::Image) : TMode::Hex);
  });
  add(view, "actImage", platform::Worded("Image"), {}, [this] {
    if (LoadImage()) SetMode(TMode::Image);
  });
  QAction* wrap = add(view, "actWrap", platform::Worded("Wrap lines"), {QKeySequence(Qt::Key_F2)},
                      [this] { SetWrap(!textView_->Wrap()); });
  wrap->setCheckable(true);
  add(view, "actOriginalSize", platform::Worded("Image at original size"), {QKeySequence(Qt::Key_1)},
      [this] { imageView_->SetOriginalSize(!imageView_->OriginalSize()); });
  QMenu* encodingMenu = view->addMenu(platform::Worded("Encoding"));
  encodings_ = new QActionGroup(this);
  for (TEncoding e : kAllEncodings) {
    QAction* a = encodingMenu->addAction(EncodingName(e));
    a->setCheckable(true);
    a->setData(static_cast<int>(e));
    encodings_->addAction(a);
    connect(a, &QAction::triggered, this, [this, e] { SetEncoding(e); });
  }
  add(view, "actNextEncoding", platform::Worded("Next encoding"), {QKeySequence(Qt::Key_F8)},
      &TViewerWindow::NextEncoding);

  QMenu* search = menuBar()->addMenu(platform::Worded("&Search"));
  add(search, "actFind", platform::Worded("Find..."), {QKeySequence(Qt::CTRL | Qt::Key_F)},
      &TViewerWindow::FindDialog);
  add(search, "actFindNext", platform::Worded("Find next (closes without a search)"),
      {QKeySequence(Qt::Key_F3)}, &TViewerWindow::F3Pressed);
  add(search, "actFindPrevious", platform::Worded("Find previous"),
      {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] { FindAgain(true); });
  add(search, "actGoTo", platform::Worded("Go to line..."), {QKeySequence(Qt::CTRL | Qt::Key_G)},
      &TViewerWindow::GoToDialog);

  QMenu* help = menuBar()->addMenu(platform::Worded("&Help"));
  add(help, "actKeys", platform::Worded("Keys"), {QKeySequence(Qt::Key_F1)}, [this] {
    QMessageBox::information(this, QStringLiteral("vnview"), KeysHelpText());
  });
}

void TViewerWindow::closeEvent(QCloseEvent* event) {
  StopSearch();
  event->accept();
}

void TViewerWindow::EscapePressed() {
  if (searching_) {
    StopSearch();
    return;
  }
  close();
}

void TViewerWindow::F3Pressed() {
  if (!error_.isEmpty() || !SearchActive()) {
    close();
    return;
  }
  FindAgain(false);
}

void TViewerWindow::SetMode(TMode mode) {
  if (!error_.isEmpty()) return;
  if (mode == TMode::Image && imageView_->Image().isNull()) mode = TMode::Text;
  mode_ = mode;
  QWidget* page = mode == TMode::Text ? static_cast<QWidget*>(textView_)
                  : mode == TMode::Hex ? static_cast<QWidget*>(hexView_)
                                       : static_cast<QWidget*>(imageView_);
  // The same place in the other mode.
  if (mode == TMode::Hex) {
    hexView_->ShowOffset(hit_ ? hit_->offset : textView_->TopOffset());
    hexView_->SetHit(hit_);
  } else if (mode == TMode::Text) {
    textView_->SetHit(hit_);
    if (!hit_ && hexView_->TopOffset() != 0) textView_->ShowOffset(hexView_->TopOffset());
  }
  stack_->setCurrentWidget(page);
  page->setFocus();
  UpdateStatus();
}

void TViewerWindow::SetWrap(bool wrap) {
  textView_->SetWrap(wrap);
  if (QAction* a = findChild<QAction*>(QStringLiteral("actWrap"))) a->setChecked(wrap);
  UpdateStatus();
}

void TViewerWindow::SetEncoding(TEncoding encoding) {
  if (!error_.isEmpty()) return;
  StopSearch();
  doc_.SetEncoding(encoding);
  hit_.reset();
  textView_->DocumentChanged();
  hexView_->DocumentChanged();
  for (QAction* a : encodings_->actions()) a->setChecked(a->data().toInt() == static_cast<int>(encoding));
  // Choosing an encoding asks for text.
  if (mode_ != TMode::Text) SetMode(TMode::Text);
  statusTimer_->start();
  UpdateStatus();
}

void TViewerWindow::NextEncoding() {
  const auto* it = std::find(std::begin(kAllEncodings), std::end(kAllEncodings), doc_.Encoding());
  ++it;
  SetEncoding(it == std::end(kAllEncodings) ? kAllEncodings[0] : *it);
}

// ---------------------------------------------------------------------------
// Search

void TViewerWindow::FindDialog() {
  if (!error_.isEmpty()) return;
  QDialog dialog(this);
  dialog.setObjectName(QStringLiteral("FindDialog"));
  dialog.setWindowTitle(platform::Worded("Find"));
  auto* edit = new QLineEdit(search_.pattern, &dialog);
  edit->setObjectName(QStringLiteral("FindText"));
  edit->selectAll();
  auto* backwards = new QCheckBox(platform::Worded("&Backwards"), &dialog);
  backwards->setObjectName(QStringLiteral("FindBackwards"));
  auto* caseSensitive = new QCheckBox(platform::Worded("&Case sensitive"), &dialog);
  caseSensitive->setObjectName(QStringLiteral("FindCaseSensitive"));
  caseSensitive->setChecked(search_.caseSensitive);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(platform::Worded("Text to find:"), &dialog));
  layout->addWidget(edit);
  layout->addWidget(backwards);
  layout->addWidget(caseSensitive);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted || edit->text().isEmpty()) return;
  Find(edit->text(), backwards->isChecked(), caseSensitive->isChecked());
}

uint64_t TViewerWindow::CurrentOffset() const {
  return mode_ == TMode::Hex ? hexView_->TopOffset() : textView_->TopOffset();
}

void TViewerWindow::Find(const QString& pattern, bool backwards, bool caseSensitive) {
  search_.pattern = pattern;
  search_.caseSensitive = caseSensitive;
  search_.backwards = backwards;
  hit_.reset();
  textView_->SetHit(std::nullopt);
  hexView_->SetHit(std::nullopt);
  TFindRequest request = search_;
  request.from = backwards ? (mode_ == TMode::Hex ? doc_.Size() : textView_->BottomOffset())
                           : CurrentOffset();
  RunSearch(request);
}

void TViewerWindow::FindAgain(bool reverse) {
  if (!SearchActive() || !error_.isEmpty() || searching_) return;
  TFindRequest request = search_;
  request.backwards = search_.backwards != reverse;
  const uint64_t unit = static_cast<uint64_t>(UnitBytes(doc_.Encoding()));
  if (hit_)
    request.from = request.backwards ? hit_->offset : hit_->offset + unit;
  else
    request.from = request.backwards ? textView_->BottomOffset() : CurrentOffset();
  RunSearch(request);
}

// The search runs on its own thread; its answer comes back as an event, so
// the window keeps painting and Escape can stop it.
void TViewerWindow::RunSearch(const TFindRequest& request) {
  StopSearch();
  searching_ = true;
  stopSearch_ = false;
  searched_ = 0;
  searchNote_.clear();
  const uint64_t id = ++searchId_;
  searchThread_ = std::thread([this, request, id] {
    const auto hit = doc_.Find(request, &stopSearch_, [this](uint64_t done) { searched_ = done; });
    const bool stopped = stopSearch_;
    QMetaObject::invokeMethod(this, [this, id, hit, stopped] { SearchDone(id, hit, stopped); },
                              Qt::QueuedConnection);
  });
  statusTimer_->start();
  UpdateStatus();
}

void TViewerWindow::StopSearch() {
  stopSearch_ = true;
  if (searchThread_.joinable()) searchThread_.join();
  searching_ = false;
}

void TViewerWindow::SearchDone(uint64_t id, std::optional<TTextHit> hit, bool stopped) {
  if (id != searchId_) return;  // a search that was stopped for a newer one
  if (searchThread_.joinable()) searchThread_.join();
  searching_ = false;
  if (stopped) {
    searchNote_ = platform::Worded("Search stopped");
  } else if (!hit) {
    searchNote_ = platform::Worded("Not found: \"%1\"").arg(search_.pattern);
  } else {
    hit_ = hit;
    if (mode_ == TMode::Image) SetMode(TMode::Text);
    textView_->SetHit(hit_);
    hexView_->SetHit(hit_);
  }
  UpdateStatus();
}

// ---------------------------------------------------------------------------
// Go to

void TViewerWindow::GoToDialog() {
  if (!error_.isEmpty() || mode_ == TMode::Image) return;
  bool ok = false;
  const bool hex = mode_ == TMode::Hex;
  const QString text = QInputDialog::getText(this, platform::Worded("Go to"),
                                             hex ? platform::Worded("Go to offset:") : platform::Worded("Go to line:"),
                                             QLineEdit::Normal, QString(), &ok).trimmed();
  if (!ok || text.isEmpty()) return;
  const bool isHex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
  const uint64_t value = isHex ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
  if (!ok) {
    searchNote_ = platform::Worded("Not a number: \"%1\"").arg(text);
    UpdateStatus();
    return;
  }
  GoToLine(value);
}

void TViewerWindow::GoToLine(uint64_t line) {
  if (!error_.isEmpty()) return;
  searchNote_.clear();
  // The place the user went to is now the current one: the last hit no
  // longer speaks for the status line, and F3 searches on from here.
  hit_.reset();
  textView_->SetHit(std::nullopt);
  hexView_->SetHit(std::nullopt);
  if (mode_ == TMode::Hex) {
    hexView_->ShowOffset(std::min(line, doc_.Size()));
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const uint64_t offset = doc_.OffsetOfLine(std::max<uint64_t>(line, 1));
  QApplication::restoreOverrideCursor();
  // The line goes to the top, as far as the end of the file allows.
  textView_->ShowOffset(offset, true);
  UpdateStatus();
}

// ---------------------------------------------------------------------------
// Status

QString TViewerWindow::StatusText() const { return status_->text(); }

void TViewerWindow::UpdateStatus() {
  if (!error_.isEmpty()) return;
  QStringList parts;
  const uint64_t size = doc_.Size();
  if (mode_ == TMode::Image) {
    const QImage& image = imageView_->Image();
    parts << QStringLiteral("%1 x %2").arg(image.width()).arg(image.height())
          << (imageView_->OriginalSize() ? platform::Worded("Original size") : platform::Worded("Fit"))
          << platform::WordedCount("%1 byte", "%1 bytes", static_cast<long long>(std::min<uint64_t>(size, INT64_MAX)),
                                   Thousands(size));
  } else {
    const bool hex = mode_ == TMode::Hex;
    // The hit speaks for the position while it is on screen.
    const uint64_t top = CurrentOffset();
    const uint64_t bottom = hex ? std::min(size, hexView_->TopOffset() + static_cast<uint64_t>(hexView_->PageRows()) * THexView::kBytesPerRow)
                                : textView_->BottomOffset();
    const bool hitShown = hit_ && hit_->offset >= top && hit_->offset < std::max(bottom, top + 1);
    const uint64_t pos = hitShown ? hit_->offset : top;
    if (!hex) {
      const uint64_t line = doc_.LineNumberAt(pos);
      const uint64_t total = doc_.LineCount();
      const QString lineText = line ? Thousands(line) : QStringLiteral("?");
      parts << (total ? platform::Worded("Line %1 of %2").arg(lineText, Thousands(total))
                      : platform::Worded("Line %1 (counting lines)").arg(lineText));
      if (hitShown) {
        const uint64_t start = doc_.LineStartAt(pos);
        parts << platform::Worded("Col %1").arg(Decode(doc_.Encoding(), const_cast<TViewDocument&>(doc_).Bytes(start, pos)).size() + 1);
      }
    }
    const int percent = size ? static_cast<int>(bottom * 100 / size) : 100;
    parts << platform::Worded("Offset %1 of %2 (%3%)").arg(Thousands(pos), Thousands(size)).arg(percent);
    parts << EncodingName(doc_.Encoding());
    if (hex) parts << platform::Worded("Hex");
    else if (textView_->Wrap()) parts << platform::Worded("Wrap");
  }
  if (searching_) {
    const uint64_t done = searched_;
    parts << platform::Worded("Searching for \"%1\"... %2% (Esc stops)")
                 .arg(search_.pattern)
                 .arg(size ? static_cast<int>(done * 100 / size) : 0);
  } else if (!searchNote_.isEmpty()) {
    parts << searchNote_;
  }
  status_->setText(parts.join(QStringLiteral("   ")));
}

}  // namespace vantrel::viewer
