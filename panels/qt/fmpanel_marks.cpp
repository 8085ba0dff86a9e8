// fmpanel_marks.cpp - marking many entries at once and the quick-search field
// of the file panel control.
#include <algorithm>

#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>

#include "panels/qt/fmpanel.h"
#include "platform/wildcard.h"

namespace vantrel::panels {

namespace {

std::vector<std::string> SplitMasks(const std::string& masks) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= masks.size()) {
    size_t end = masks.find_first_of(";,", start);
    if (end == std::string::npos) end = masks.size();
    std::string mask = masks.substr(start, end - start);
    const size_t first = mask.find_first_not_of(' ');
    const size_t last = mask.find_last_not_of(' ');
    if (first != std::string::npos) out.push_back(mask.substr(first, last - first + 1));
    start = end + 1;
  }
  return out;
}

}  // namespace

int TFMPanel::MarkByMask(const std::string& masks, bool mark) {
  const std::vector<std::string> list = SplitMasks(masks);
  int changed = 0;
  for (int i = 0; i < Count(); ++i) {
    const TFileEntry& entry = *Entries()[static_cast<size_t>(i)];
    if (entry.IsDirectory() || IsMarked(i) == mark) continue;
    if (std::any_of(list.begin(), list.end(),
                    [&](const std::string& m) { return platform::MatchWildcard(m, entry.FileName); })) {
      model_.SetMarked(i, mark);
      ++changed;
    }
  }
  if (changed > 0) MarksChanged();
  return changed;
}

void TFMPanel::InvertFileMarks() {
  for (int i = 0; i < Count(); ++i)
    if (!Entries()[static_cast<size_t>(i)]->IsDirectory()) model_.ToggleMark(i);
  MarksChanged();
}

void TFMPanel::MarkAllFiles() {
  for (int i = 0; i < Count(); ++i)
    if (!Entries()[static_cast<size_t>(i)]->IsDirectory()) model_.SetMarked(i, true);
  MarksChanged();
}

void TFMPanel::MoveMarking(int index, bool inclusive) {
  if (Count() == 0) return;
  index = std::clamp(index, 0, Count() - 1);
  const int from = Cursor();
  const bool state = !IsMarked(from);
  int lo = from, hi = from;  // a cursor that cannot move marks where it stands
  if (index > from) hi = inclusive ? index : index - 1;
  if (index < from) lo = inclusive ? index : index + 1;
  for (int i = lo; i <= hi; ++i)
    if (!Entries()[static_cast<size_t>(i)]->IsDotDot()) model_.SetMarked(i, state);
  SetCursor(index);
  MarksChanged();
}

// ---------------------------------------------------------------------------
// Quick search

int TFMPanel::FindQuickSearch(const QString& text, int from, int step) const {
  if (text.isEmpty() || Count() == 0) return -1;
  const QByteArray pattern = text.toUtf8();
  const TQuickSearch search(std::string_view(pattern.constData(), static_cast<size_t>(pattern.size())));
  for (int i = std::clamp(from, 0, Count() - 1); i >= 0 && i < Count(); i += step)
    if (search.Matches(Entries()[static_cast<size_t>(i)]->FileName)) return i;
  return -1;
}

bool TFMPanel::QuickSearchOpen() const { return quickSearch_ != nullptr && quickSearch_->isVisible(); }

bool TFMPanel::ShowsCursor() const {
  return hasFocus() || (QuickSearchOpen() && quickSearch_->hasFocus());
}

void TFMPanel::OpenQuickSearch(const QString& text) {
  if (quickSearch_ == nullptr) {
    quickSearch_ = new QLineEdit(this);
    quickSearch_->setObjectName(QStringLiteral("QuickSearchEdit"));
    quickSearch_->setPlaceholderText(QStringLiteral("Search"));
    quickSearch_->installEventFilter(this);
    connect(quickSearch_, &QLineEdit::textEdited, this, [this](const QString& typed) {
      // The first match from the top; nothing found leaves the cursor be.
      const int found = FindQuickSearch(typed, 0, 1);
      if (found >= 0) SetCursor(found);
    });
  }
  quickSearch_->setText(text);
  // The field takes a row of its own below the list, which gives up that
  // height: no entry hides behind it.
  setViewportMargins(0, 0, 0, quickSearch_->sizeHint().height());
  PlaceQuickSearch();
  quickSearch_->show();
  quickSearch_->raise();
  quickSearch_->setFocus(Qt::ShortcutFocusReason);
  if (!text.isEmpty()) emit quickSearch_->textEdited(text);
}

void TFMPanel::CloseQuickSearch() {
  if (!QuickSearchOpen()) return;
  if (quickSearch_->hasFocus()) setFocus(Qt::OtherFocusReason);
  quickSearch_->hide();
}

void TFMPanel::PlaceQuickSearch() {
  if (quickSearch_ == nullptr) return;
  const QRect list = viewport()->geometry();
  quickSearch_->setGeometry(list.left(), list.bottom() + 1, list.width(), quickSearch_->sizeHint().height());
}

void TFMPanel::QuickSearchKey(QKeyEvent* event) {
  const QString text = quickSearch_->text();
  switch (event->key()) {
    case Qt::Key_Down:
    case Qt::Key_Up: {
      const int step = event->key() == Qt::Key_Down ? 1 : -1;
      const int found = FindQuickSearch(text, Cursor() + step, step);
      if (found >= 0) SetCursor(found);
      break;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      CloseQuickSearch();
      break;
    default:
      break;
  }
}

bool TFMPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == quickSearch_) {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      switch (key->key()) {
        case Qt::Key_Down:
        case Qt::Key_Up:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
          QuickSearchKey(key);
          return true;
        default:
          return false;
      }
    }
    if (event->type() == QEvent::ShortcutOverride) {
      // Escape and Enter belong to the field while it is open.
      const int k = static_cast<QKeyEvent*>(event)->key();
      if (k == Qt::Key_Escape || k == Qt::Key_Return || k == Qt::Key_Enter) {
        event->accept();
        return true;
      }
    }
    if (event->type() == QEvent::Hide) {
      setViewportMargins(0, 0, 0, 0);  // the list takes the row back
      UpdateScrollBars();
    }
    if (event->type() == QEvent::FocusOut) {
      // Closed when the focus goes elsewhere (later, never inside a teardown).
      QLineEdit* field = quickSearch_;
      QTimer::singleShot(0, field, [field] {
        if (!field->hasFocus()) field->hide();
      });
    }
  }
  return QAbstractScrollArea::eventFilter(watched, event);
}

}  // namespace vantrel::panels
