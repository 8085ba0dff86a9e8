// quick_view.cpp - the quick view page and the side it stands in for.
#include "app/panels/quick_view.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <QApplication>
#include <QHeaderView>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/panels/archive_places.h"
#include "app/window/mainform.h"
#include "panels/panel_source.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"
#include "platform/text.h"
#include "viewer/document.h"
#include "viewer/hex_view.h"
#include "viewer/image_view.h"
#include "viewer/text_view.h"
#include "vfs/source.h"

namespace vantrel::app {

using panels::TFMPanel;

namespace {

// Pictures are decoded whole; larger files are shown as text or hex.
constexpr uint64_t kMaxImageBytes = 64u << 20;

QString Thousands(uint64_t n) { return platform::ToDisplay(platform::FormatThousands(n)); }

QString BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return platform::ToDisplay(slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1));
}

QLabel* MakeLine(QWidget* parent, const char* name) {
  auto* line = new QLabel(parent);
  line->setObjectName(QLatin1String(name));
  line->setTextFormat(Qt::PlainText);
  line->setFixedHeight(19);
  line->setFrameShape(QFrame::Panel);
  line->setFrameShadow(QFrame::Sunken);
  line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  return line;
}

// "Counting...": the word the properties window shows ("counting...", keys
// being matched without regard to case) begun with a capital.
QString CountingText() {
  QString text = platform::Worded("counting...");
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

// "1,234 bytes", in the form its count takes.
QString BytesPart(uint64_t bytes) {
  return platform::WordedCount("%1 byte", "%1 bytes", static_cast<long long>(bytes), Thousands(bytes));
}

}  // namespace

QString QuickViewSummaryText(const QString& name, const tools::TDirSummary& s, bool final) {
  QString text = platform::Worded("Directory %1").arg(name) + QStringLiteral("\n\n");
  text += platform::Worded("Files: %1").arg(Thousands(s.files)) + QLatin1Char('\n');
  text += platform::Worded("Directories: %1").arg(Thousands(s.directories)) + QLatin1Char('\n');
  if (s.links != 0) text += platform::Worded("Symbolic links: %1").arg(Thousands(s.links)) + QLatin1Char('\n');
  text += platform::Worded("Size: %1").arg(BytesPart(s.bytes)) + QLatin1Char('\n');
  if (s.unreadable != 0)
    text += QLatin1Char('\n') +
            platform::WordedForm("Not readable: %1 directory (%2)", "Not readable: %1 directories (%2)",
                                 static_cast<long long>(std::min<uint64_t>(s.unreadable, INT64_MAX)))
                .arg(Thousands(s.unreadable), platform::ToDisplay(s.firstError)) +
            QLatin1Char('\n');
  if (!final) text += QLatin1Char('\n') + CountingText();
  return text;
}

QString QuickViewCountLine(uint64_t files, uint64_t bytes) {
  return platform::WordedForm("%1 file, %2", "%1 files, %2", static_cast<long long>(std::min<uint64_t>(files, INT64_MAX)))
      .arg(Thousands(files), BytesPart(bytes));
}

QString QuickViewFileLine(uint64_t size, const QString& sizeNote, const QString& kind) {
  return (sizeNote.isEmpty() ? BytesPart(size) : sizeNote) + QStringLiteral(", ") + kind;
}

QString QuickViewPartNote(uint64_t shown, uint64_t size) {
  return platform::WordedForm("the first %1 of %2 byte", "the first %1 of %2 bytes",
                              static_cast<long long>(std::min<uint64_t>(size, INT64_MAX)))
      .arg(Thousands(shown), Thousands(size));
}

// ---------------------------------------------------------------------------
// TQuickView

TQuickView::TQuickView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("QuickView"));
  title_ = MakeLine(this, "QuickViewTitle");
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  stack_ = new QStackedWidget(this);
  message_ = new QLabel(stack_);
  message_->setObjectName(QStringLiteral("QuickViewMessage"));
  message_->setTextFormat(Qt::PlainText);
  message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message_->setMargin(8);
  message_->setWordWrap(true);
  message_->setFocusPolicy(Qt::StrongFocus);
  message_->setAutoFillBackground(true);
  message_->setBackgroundRole(QPalette::Base);
  message_->setForegroundRole(QPalette::Text);
  stack_->addWidget(message_);
  status_ = MakeLine(this, "QuickViewStatus");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(title_);
  layout->addWidget(stack_, 1);
  layout->addWidget(status_);
}

TQuickView::~TQuickView() { StopCount(); }

QWidget* TQuickView::Page() const { return stack_->currentWidget(); }
QString TQuickView::TitleText() const { return title_->text(); }
QString TQuickView::StatusText() const { return status_->text(); }
QString TQuickView::SummaryText() const { return kind_ == TKind::Directory ? message_->text() : QString(); }

QStringList TQuickView::VisibleRows() const {
  if (kind_ == TKind::Text && text_ != nullptr) return text_->VisibleRows();
  if (kind_ == TKind::Hex && hex_ != nullptr) return hex_->VisibleRows();
  return {};
}

void TQuickView::SetStatus(const QString& text) { status_->setText(text); }

void TQuickView::SetWords(std::function<void()> words) {
  words_ = std::move(words);
  if (words_) words_();
}

void TQuickView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange && words_) words_();
  QWidget::changeEvent(event);
}

// A file's line: its size (or the part shown of it) and what it is shown as.
void TQuickView::WordFileStatus() {
  if (doc_ == nullptr) return;
  const uint64_t size = doc_->Size();
  SetStatus(QuickViewFileLine(size, partOf_ != 0 ? QuickViewPartNote(size, partOf_) : QString(),
                              kind_ == TKind::Hex ? QStringLiteral("hex") : viewer::EncodingName(doc_->Encoding())));
}

// A directory's summary as far as the count went; the status line says the
// count goes on, or what it found.
void TQuickView::WordDirectory() {
  message_->setText(QuickViewSummaryText(BaseName(path_), summary_, summaryFinal_));
  SetStatus(summaryFinal_ ? QuickViewCountLine(summary_.files, summary_.bytes) : CountingText());
}

void TQuickView::Clear() {
  StopCount();
  const bool hadFocus = stack_->isAncestorOf(QApplication::focusWidget());
  for (QWidget* page : {static_cast<QWidget*>(text_), static_cast<QWidget*>(hex_), static_cast<QWidget*>(image_)})
    delete page;
  text_ = nullptr, hex_ = nullptr, image_ = nullptr;
  doc_.reset();
  path_.clear();
  partOf_ = 0;
  words_ = nullptr;
  summary_ = {};
  summaryFinal_ = false;
  kind_ = TKind::None;
  title_->clear();
  message_->clear();
  SetStatus({});
  stack_->setCurrentWidget(message_);
  if (hadFocus) message_->setFocus();
}

void TQuickView::ShowPath(const std::string& path, bool directory) {
  const bool hadFocus = stack_->isAncestorOf(QApplication::focusWidget());
  Clear();
  path_ = path;
  title_->setText(BaseName(path));
  title_->setToolTip(platform::ToDisplay(path));
  if (directory)
    ShowDirectory();
  else
    ShowFile();
  if (hadFocus) Page()->setFocus();
}

void TQuickView::ShowNote(const std::string& path, const char* english) {
  Clear();
  path_ = path;
  title_->setText(BaseName(path));
  title_->setToolTip(platform::ToDisplay(path));
  SetWords([this, english] { message_->setText(platform::Worded(english)); });
}

void TQuickView::ShowFile() {
  doc_ = std::make_unique<viewer::TViewDocument>();
  std::string why;
  if (!doc_->Open(openPath_.empty() ? path_ : openPath_, &why)) {
    doc_.reset();
    kind_ = TKind::Error;
    SetWords([this, name = BaseName(path_), why = platform::ToDisplay(why)] {
      message_->setText(platform::Worded("Cannot view \"%1\": %2.").arg(name, why));
    });
    return;
  }
  const uint64_t size = doc_->Size();
  if (size > 0 && size <= kMaxImageBytes) {
    const std::string_view head = doc_->Bytes(0, 64);
    if (viewer::LooksLikeImage(QByteArray(head.data(), static_cast<qsizetype>(head.size())))) {
      QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
      bytes.resize(static_cast<qsizetype>(doc_->File().ReadAt(0, bytes.data(), static_cast<size_t>(size))));
      const QImage picture = viewer::DecodeImage(bytes);
      if (!picture.isNull()) {
        image_ = new viewer::TImageView(stack_);
        image_->setObjectName(QStringLiteral("QuickViewImage"));
        image_->SetImage(picture);
        stack_->addWidget(image_);
        stack_->setCurrentWidget(image_);
        kind_ = TKind::Image;
        SetWords([this, width = picture.width(), height = picture.height(), size] {
          SetStatus(QStringLiteral("%1 x %2, ").arg(width).arg(height) + BytesPart(size));
        });
        return;
      }
    }
  }
  text_ = new viewer::TTextView(*doc_, stack_);
  text_->setObjectName(QStringLiteral("QuickViewText"));
  hex_ = new viewer::THexView(*doc_, stack_);
  hex_->setObjectName(QStringLiteral("QuickViewHex"));
  stack_->addWidget(text_);
  stack_->addWidget(hex_);
  text_->DocumentChanged();
  kind_ = doc_->Detected().binary ? TKind::Hex : TKind::Text;
  stack_->setCurrentWidget(kind_ == TKind::Hex ? static_cast<QWidget*>(hex_) : text_);
  SetWords([this] { WordFileStatus(); });
}

void TQuickView::ToggleHex() {
  if (text_ == nullptr || hex_ == nullptr) return;
  const bool hadFocus = stack_->isAncestorOf(QApplication::focusWidget());
  kind_ = kind_ == TKind::Hex ? TKind::Text : TKind::Hex;
  if (kind_ == TKind::Hex) hex_->ShowOffset(text_->TopOffset());
  else text_->ShowOffset(hex_->TopOffset(), true);
  stack_->setCurrentWidget(kind_ == TKind::Hex ? static_cast<QWidget*>(hex_) : text_);
  WordFileStatus();
  if (hadFocus) Page()->setFocus();
}

void TQuickView::ShowDirectory() {
  kind_ = TKind::Directory;
  SetWords([this] { WordDirectory(); });
  counting_ = true;
  stopCount_ = false;
  const uint64_t generation = ++generation_;
  QPointer<TQuickView> self(this);
  counter_ = std::thread([this, generation, path = path_] {
    auto lastReport = std::chrono::steady_clock::now();
    const tools::TDirSummary sum = tools::SummariseDirectory(
        path, [this] { return stopCount_.load(); },
        [&](const tools::TDirSummary& running) {
          // The running count shows a few times a second on large trees.
          const auto now = std::chrono::steady_clock::now();
          if (now - lastReport < std::chrono::milliseconds(250)) return;
          lastReport = now;
          QMetaObject::invokeMethod(this, [this, generation, running] { CountDone(generation, running, false); },
                                    Qt::QueuedConnection);
        });
    if (!sum.stopped)
      QMetaObject::invokeMethod(this, [this, generation, sum] { CountDone(generation, sum, true); },
                                Qt::QueuedConnection);
  });
}

// The first `limit` bytes of an entry (all of it when smaller) in a private
// file in memory: its descriptor, `whole` false when the entry went on past
// the limit; -1 with `error` when it cannot be read.
static int EntryPreview(vfs::TSource& source, const std::string& inner, uint64_t limit, bool* whole, std::string* error) {
  const int fd = platform::PrivateMemoryFile("vantrel-quick-view");
  if (fd < 0) {
    *error = platform::ErrorText(errno);
    return -1;
  }
  // Takes bytes up to the limit, then stops the reading.
  struct TLimitedSink final : vfs::TDataSink {
    TLimitedSink(int fd, uint64_t limit) : file(fd), left(limit) {}
    bool Write(const void* data, size_t n) override {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(n, left));
      if (take > 0 && !file.Write(data, take)) return false;
      left -= take;
      full = take < n;
      return !full;
    }
    vfs::TDescriptorSink file;
    uint64_t left;
    bool full = false;
  } sink(fd, limit);
  vfs::TError err;
  const bool read = source.ReadInto(inner, sink, {}, &err);
  if (!read && !sink.full) {
    ::close(fd);
    *error = err.text.empty() ? platform::ErrorText(err.code) : err.text;
    return -1;
  }
  *whole = read;
  return fd;
}

void TQuickView::ShowEntry(vfs::TSource& source, const std::string& inner, const std::string& display,
                           bool directory) {
  const bool hadFocus = stack_->isAncestorOf(QApplication::focusWidget());
  Clear();
  path_ = display;
  title_->setText(BaseName(display));
  title_->setToolTip(platform::ToDisplay(display));
  const QString name = BaseName(display);
  if (directory) {
    // An archive's listing is in memory: counted at once.
    summary_ = tools::SummarisePlace(source, inner);
    summaryFinal_ = true;
    kind_ = TKind::Directory;
    SetWords([this] { WordDirectory(); });
  } else {
    ShowEntryFile(source, inner, name);
  }
  if (hadFocus) Page()->setFocus();
}

void TQuickView::ShowEntryFile(vfs::TSource& source, const std::string& inner, const QString& name) {
  vfs::TEntry entry;
  vfs::TError err;
  std::string why;
  bool whole = true;
  int fd = -1;
  if (!source.Stat(inner, entry, &err)) {
    why = err.text;
  } else if (entry.encrypted) {
    kind_ = TKind::Error;
    SetWords([this, name, size = entry.size] {
      message_->setText(platform::Worded("\"%1\" is encrypted: F3 views it after the password.").arg(name));
      SetStatus(platform::Worded("%1, encrypted").arg(BytesPart(size)));
    });
    return;
  } else {
    fd = EntryPreview(source, inner, kPreviewBytes, &whole, &why);
  }
  if (fd < 0) {
    kind_ = TKind::Error;
    SetWords([this, name, why = platform::ToDisplay(why)] {
      message_->setText(platform::Worded("Cannot view \"%1\": %2.").arg(name, why));
    });
    return;
  }
  openPath_ = platform::OpenDescriptorPath(fd);
  partOf_ = whole ? 0 : entry.size;
  ShowFile();
  openPath_.clear();
  ::close(fd);  // the view keeps the file open
}

void TQuickView::CountDone(uint64_t generation, const tools::TDirSummary& summary, bool final) {
  if (generation != generation_ || kind_ != TKind::Directory) return;  // the cursor moved on
  summary_ = summary;
  summaryFinal_ = final;
  WordDirectory();
  if (!final) return;
  counting_ = false;
  if (counter_.joinable()) counter_.join();
}

void TQuickView::StopCount() {
  ++generation_;
  stopCount_ = true;
  if (counter_.joinable()) counter_.join();
  counting_ = false;
}

// ---------------------------------------------------------------------------
// TQuickViewer

TQuickViewer::TQuickViewer(TMainForm& form) : QObject(&form), form_(form) {
  setObjectName(QStringLiteral("QuickViewer"));
  view_ = new TQuickView(&form);
  view_->hide();
  // Before the panels' own key handling: Tab from the followed panel.
  qApp->installEventFilter(this);
}

const TPanelSide& TQuickViewer::OtherSide(const TFMPanel& panel) const {
  return &panel == form_.LeftFMPanel() ? form_.Right() : form_.Left();
}

void TQuickViewer::Toggle() {
  if (IsOpen()) {
    Close();
    return;
  }
  TFMPanel* source = form_.ActivePanel() != nullptr ? form_.ActivePanel() : form_.LastActivePanel();
  if (source != nullptr) Open(*source);
}

void TQuickViewer::SetSideShown(const TPanelSide& side, bool shown) {
  for (QWidget* w : {static_cast<QWidget*>(side.DirectoryPanel), static_cast<QWidget*>(side.Header),
                     static_cast<QWidget*>(side.FMPanel), static_cast<QWidget*>(side.FilePanel),
                     static_cast<QWidget*>(side.InfoPanel)})
    w->setVisible(shown);
}

void TQuickViewer::Open(TFMPanel& source) {
  if (IsOpen()) Close();
  source_ = &source;
  target_ = &OtherSide(source);
  auto* layout = qobject_cast<QVBoxLayout*>(target_->Panel->layout());
  view_->setParent(target_->Panel);
  if (layout != nullptr) layout->insertWidget(layout->indexOf(target_->FMPanel), view_, 1);
  SetSideShown(*target_, false);
  view_->show();
  follow_ << connect(&source, &TFMPanel::selectionChanged, this, [this] { Follow(false); })
          << connect(&source, &TFMPanel::directoryRead, this, [this] { Follow(false); })
          << connect(&source, &TFMPanel::listingRefreshed, this, [this] { Follow(true); });
  Follow(true);
  source.setFocus();
}

void TQuickViewer::Close() {
  if (!IsOpen() && target_ == nullptr) return;
  for (const QMetaObject::Connection& c : follow_) disconnect(c);
  follow_.clear();
  const bool hadFocus = view_->isAncestorOf(QApplication::focusWidget());
  view_->Clear();
  view_->hide();
  if (auto* layout = target_->Panel->layout()) layout->removeWidget(view_);
  view_->setParent(&form_);
  view_->hide();
  SetSideShown(*target_, true);
  TFMPanel* source = source_;
  source_ = nullptr;
  target_ = nullptr;
  if (source != nullptr && hadFocus) source->setFocus();
}

// What the cursor stands on: a file or directory of the panel (or of a
// listing of search results, named by its path below the directory); ".."
// is the parent directory.
void TQuickViewer::Follow(bool again) {
  if (source_ == nullptr) return;
  const panels::TFileEntry* entry = source_->CurrentEntry();
  if (entry == nullptr) {
    view_->Clear();
    return;
  }
  if (std::shared_ptr<vfs::TSource> archive = ArchiveSourceOf(*source_)) {
    // Inside an archive: its entries through the archive; ".." at its root
    // is the directory the archive is in.
    const std::string& place = source_->Model().Place();
    if (!entry->IsDotDot() || !place.empty()) {
      const std::string inner =
          EntryPathOf(entry->IsDotDot() ? vfs::ParentInner(place) : vfs::JoinInner(place, entry->FileName));
      const std::string display = entry->IsDotDot() ? panels::PlacePath(archive->Root(), inner)
                                                    : platform::JoinPath(source_->Directory(), entry->FileName);
      if (!again && display == view_->Path()) return;
      view_->ShowEntry(*archive, inner, display, entry->IsDirectory());
      return;
    }
  }
  std::string path;
  if (entry->IsDotDot()) {
    const std::string& dir = source_->Directory();
    const size_t slash = dir.find_last_of('/');
    path = slash == 0 || slash == std::string::npos ? std::string("/") : dir.substr(0, slash);
  } else {
    path = platform::JoinPath(source_->Directory(), entry->FileName);
  }
  if (!again && path == view_->Path()) return;
  if (source_->Model().InSource() && !(entry->IsDotDot() && platform::IsDirectory(path))) {
    // An entry of an archive is no file to read here (".." at an archive's
    // root is the directory it is in, when that is a directory).
    view_->ShowNote(path, "Inside an archive: F3 views an entry.");
    return;
  }
  view_->ShowPath(path, entry->IsDirectory());
}

bool TQuickViewer::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (!IsOpen() || (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  if (type == QEvent::ShortcutOverride) {
    // F4 and Escape belong to the view while it has the keyboard, not to
    // the main window's Edit.
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool own = (key->key() == Qt::Key_F4 || key->key() == Qt::Key_Escape) && mods == Qt::NoModifier;
    if (own && widget != nullptr && view_->isAncestorOf(widget)) {
      event->accept();
      return true;
    }
    return false;
  }
  const bool tab = (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                   (mods == Qt::NoModifier || mods == Qt::ShiftModifier);
  if (watched == source_.data()) {
    // Tab: into the view, to scroll it; the hidden panel takes no keys.
    if (!tab) return false;
    view_->Page()->setFocus(Qt::TabFocusReason);
    return true;
  }
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || !view_->isAncestorOf(widget)) return false;
  if (tab || (key->key() == Qt::Key_Escape && mods == Qt::NoModifier)) {
    source_->setFocus(Qt::TabFocusReason);
    return true;
  }
  if (key->key() == Qt::Key_F4 && mods == Qt::NoModifier) {
    view_->ToggleHex();
    return true;
  }
  return false;
}

}  // namespace vantrel::app
