// panel_navigation.cpp - keys, double-clicks, headers, directory lines and drag and
// drop around the two panels.
#include "app/panels/panel_navigation.h"

#include <algorithm>
#include <cerrno>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "app/panels/drivecombo.h"
#include "app/commands/archive_entries.h"
#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "app/commands/command_hooks.h"
#include "app/commands/command_line.h"
#include "app/panels/panel_keys.h"
#include "app/panels/trash_place.h"
#include "formats/archive_kind.h"
#include "panels/dirmodel.h"
#include "panels/panel_source.h"
#include "panels/qt/fmpanel.h"
#include "platform/copyfile.h"
#include "platform/file_uri.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"

namespace vantrel::app {

using panels::TFileEntry;
using panels::TFMPanel;

namespace {

constexpr const char* kUriList = "text/uri-list";

bool IsZipName(const std::string& name) {
  const std::string ext = panels::ExtensionOf(name);
  if (ext.size() != 4) return false;
  std::string lower = ext;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower == ".zip";
}

// The entry's name relative to the directory it was left for: "/a/b" left
// for "/a" gives "b". Empty when `newDir` is not a parent of `oldDir`.
std::string ChildName(const std::string& oldDir, const std::string& newDir) {
  if (oldDir.size() <= newDir.size() || oldDir.compare(0, newDir.size(), newDir) != 0) return {};
  std::string child = oldDir.substr(newDir.size());
  if (!child.empty() && child[0] == '/') child.erase(0, 1);
  else if (newDir != "/") return {};  // "/ab" is not below "/a"
  return child;
}

}  // namespace

TNavigation::TNavigation(TMainForm& form) : QObject(&form), form_(form) {
  setObjectName(QStringLiteral("Navigation"));
  for (const TPanelSide* side : {&form.Left(), &form.Right()}) {
    TFMPanel* panel = side->FMPanel;
    panel->installEventFilter(this);
    panel->viewport()->installEventFilter(this);
    panel->viewport()->setAcceptDrops(true);
    side->DirectoryPanel->installEventFilter(this);
    side->DriveCombo->installEventFilter(this);
    connect(panel, &TFMPanel::dblClick, this, [this, panel] { OpenCurrentEntry(*panel); });

    // A click sorts by that column; a drag of a section's edge sets its width.
    QHeaderView* header = side->Header;
    header->setSectionsClickable(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // The sorted column shows an arrow; a second click on it reverses the order.
    header->setSortIndicatorShown(true);
    connect(header, &QHeaderView::sectionClicked, this, [panel](int section) {
      if (section < 0 || section > 4) return;
      panels::TPanelModel& model = panel->Model();
      model.SetSortOrder(static_cast<uint8_t>(section),
                         section == model.SortType() && !model.SortDescending());
    });
    auto showOrder = [panel, header] {
      header->setSortIndicator(panel->SortType(),
                               panel->Model().SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
    };
    connect(panel, &TFMPanel::directoryRead, this, showOrder);
    connect(panel, &TFMPanel::listingRefreshed, this, showOrder);  // a new order keeps the listing
    showOrder();
    connect(header, &QHeaderView::sectionResized, this,
            [this, side](int section, int, int width) { HeaderResized(*side, section, width); });
  }
}

const TPanelSide* TNavigation::SideOf(const QObject* object) const {
  for (const TPanelSide* side : {&form_.Left(), &form_.Right()}) {
    if (object == side->FMPanel || object == side->FMPanel->viewport() ||
        object == side->DirectoryPanel || object == side->DriveCombo)
      return side;
  }
  return nullptr;
}

void TNavigation::SetCommandLine(const TFMPanel& panel) {
  form_.ShowCommandPrompt(panel);
}

// ---------------------------------------------------------------------------
// Keys and opening entries

bool TNavigation::eventFilter(QObject* watched, QEvent* event) {
  const TPanelSide* side = SideOf(watched);
  if (side == nullptr) return false;
  if (watched == side->FMPanel) {
    if (event->type() != QEvent::KeyPress) return false;
    auto& key = *static_cast<QKeyEvent*>(event);
    return side->FMPanel->HoldKey(key) || PanelKey(*side->FMPanel, key);
  }
  if (watched == side->FMPanel->viewport()) return ViewportEvent(*side, event);
  if (watched == side->DirectoryPanel) {
    // Any click on the directory line makes its panel the active one; the
    // right button then opens the line's menu.
    if (event->type() == QEvent::MouseButtonPress) side->FMPanel->setFocus(Qt::MouseFocusReason);
    return false;
  }
  if (watched == side->DriveCombo && event->type() == QEvent::KeyPress &&
      !side->DriveCombo->view()->isVisible()) {
    // With the list closed, Enter takes the shown drive as chosen and Escape
    // goes back to the panel.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      emit side->DriveCombo->activated(side->DriveCombo->currentIndex());
      return true;
    }
    if (key == Qt::Key_Escape) {
      side->FMPanel->setFocus(Qt::OtherFocusReason);
      return true;
    }
  }
  return false;
}

bool TNavigation::PanelKey(TFMPanel& panel, QKeyEvent& key) {
  // Typed text goes to the command line first; the gray keys, Space and
  // Enter only once something was typed there.
  auto* commandLine = form_.findChild<TCommandLine*>(QStringLiteral("CommandLine"));
  if (commandLine != nullptr && commandLine->PanelKey(panel, key)) return true;
  if (PanelExtraKey(form_, panel, key)) return true;
  const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
  const bool plain = mods == Qt::NoModifier;
  const bool ctrl = mods == Qt::ControlModifier;
  switch (key.key()) {
    case Qt::Key_F8:
      NavHooks().DeleteCommand(form_, key.modifiers().testFlag(Qt::ShiftModifier));
      return true;
    case Qt::Key_Insert:
      MarkAndMoveDown(panel);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!plain && mods != Qt::ShiftModifier) break;
      OpenCurrentEntry(panel);
      return true;
    case Qt::Key_Backspace:
      if (!plain) break;
      GoUp(panel);
      SetCommandLine(panel);
      return true;
    case Qt::Key_PageUp:
      if (!ctrl) break;
      GoUp(panel);
      SetCommandLine(panel);
      return true;
    case Qt::Key_PageDown:
      if (!ctrl) break;
      EnterCurrent(panel);
      return true;
    case Qt::Key_U:
      if (!ctrl) break;
      SwapPanels();
      return true;
    default:
      break;
  }
  // The panel handles the key itself afterwards.
  SetCommandLine(panel);
  return false;
}

// Ctrl+PgDn: into the directory under the cursor, or into any file that
// holds an archive by its content (".jar", ".docx", ".epub" as well as
// ".zip"); other files are not started.
void TNavigation::EnterCurrent(TFMPanel& panel) {
  const TFileEntry* entry = panel.CurrentEntry();
  if (entry == nullptr) return;
  if (entry->IsDirectory()) {
    OpenCurrentEntry(panel);
    return;
  }
  EnterArchive(panel, platform::JoinPath(panel.Directory(), entry->FileName), false);
  SetCommandLine(panel);
}

bool TNavigation::EnterArchive(TFMPanel& panel, const std::string& path, bool quiet, bool* recognised) {
  if (recognised != nullptr) *recognised = false;
  const panels::TSourceOpener& open = panels::SourceOpener();
  if (!open) return false;
  std::string place;
  std::string error;
  std::shared_ptr<panels::TPanelSource> source = open(path, place, &error);
  if (recognised != nullptr) *recognised = source != nullptr || !error.empty();
  if (source == nullptr) {
    if (!error.empty() && !quiet) ShowGeneralError(platform::ToDisplay(error));
    return false;
  }
  if (!panel.Model().ReadPlace(std::move(source), place, &error)) {
    if (!quiet) ShowGeneralError(platform::ToDisplay(error));
    return false;
  }
  panel.setFocus();
  panel.SetCursor(0);
  return true;
}

// Ctrl+U: the two panels exchange their directories, sort orders and cursor
// entries; the keyboard stays on the same side.
void TNavigation::SwapPanels() {
  struct TShown {
    std::string dir, cursor;
    uint8_t sort;
    bool descending;
  };
  TFMPanel* panels[] = {form_.LeftFMPanel(), form_.RightFMPanel()};
  TShown shown[2];
  for (int i = 0; i < 2; ++i) {
    const TFileEntry* entry = panels[i]->CurrentEntry();
    shown[i] = {panels[i]->Directory(), entry != nullptr ? entry->FileName : std::string(), panels[i]->SortType(),
                panels[i]->Model().SortDescending()};
  }
  for (int i = 0; i < 2; ++i) {
    const TShown& to = shown[1 - i];
    panels[i]->Model().SetSortOrder(to.sort, to.descending, false);
    if (!panels[i]->ReadDirectory(to.dir)) panels[i]->ReadDirectory(panels[i]->Directory());
    panels[i]->PlaceCursorOn(to.cursor);
  }
  if (TFMPanel* active = form_.ActivePanel()) {
    platform::SetCurrentDir(active->Directory());
    SetCommandLine(*active);
  }
}

void TNavigation::MarkAndMoveDown(TFMPanel& panel) {
  if (panel.Count() == 0) return;
  panel.ToggleMark(panel.Cursor());
  panel.SetCursor(panel.Cursor() + 1);  // stays on the last entry
}

void TNavigation::OpenCurrentEntry(TFMPanel& panel) {
  const TFileEntry* current = panel.CurrentEntry();
  if (current != nullptr) {
    // A copy: reading a directory frees the entry records.
    const TFileEntry entry = *current;
    if (entry.IsDotDot() && entry.IsDirectory()) {
      GoUp(panel);
    } else if (entry.IsDirectory()) {
      EnterDirectory(panel, entry.FileName);
    } else {
      OpenFile(panel, entry);
    }
  }
  SetCommandLine(panel);
}

// Enter on a file: an archive by its name is shown as a folder (a ZIP
// archive in the ZIP window when the settings say so, or when it cannot be
// read as a folder: the window reports and repairs damage), anything else
// goes to the desktop's program for it.
void TNavigation::OpenFile(TFMPanel& panel, const TFileEntry& entry) {
  const std::string path = platform::JoinPath(panel.Directory(), entry.FileName);
  platform::EntryInfo info;
  if (panel.Model().IsListing() && entry.FileName.find('/') != std::string::npos && !platform::LStat(path, info)) {
    // Found inside an archive by a search: the archive's place that holds it.
    const size_t slash = path.rfind('/');
    std::string error;
    if (panel.ReadDirectory(path.substr(0, slash), &error))
      panel.SetCursor(panel.IndexOfName(path.substr(slash + 1)));
    else
      ShowGeneralError(platform::ToDisplay(error));
    return;
  }
  const bool zip = IsZipName(entry.FileName);
  if (panel.Model().InSource()) {
    // An archive inside the archive opens as the next level; any other
    // entry through a temporary copy.
    bool recognised = false;
    if (zip || formats::HasArchiveName(entry.FileName)) EnterArchive(panel, path, false, &recognised);
    if (!recognised) OpenArchiveEntry(form_, panel);
    return;
  }
  platform::SetCurrentDir(panel.Directory());
  // The full path, so that a name beginning with "-" is never read as an option.
  if (zip) {
    if (form_.ZipWindowOnEnter() || !EnterArchive(panel, path, true)) NavHooks().OpenZipWindow(form_, path);
    return;
  }
  // An archive that cannot be read says so; a file only named like one
  // (text in "notes.tar.gz") is a document.
  bool recognised = false;
  if (formats::HasArchiveName(entry.FileName)) EnterArchive(panel, path, false, &recognised);
  if (!recognised) NavHooks().OpenDocument(path);
}

void TNavigation::EnterDirectory(TFMPanel& panel, const std::string& name) {
  std::string error;
  if (!panel.ReadDirectory(platform::JoinPath(panel.Directory(), name), &error)) {
    ShowGeneralError(platform::ToDisplay(error));
    return;
  }
  if (!panel.Model().InSource()) platform::SetCurrentDir(panel.Directory());
  panel.setFocus();
  panel.SetCursor(0);
}

// Inside a source the parent is the path without its last part: at the
// source's root that is the directory (or outer place) its file is in, with
// the cursor on the file.
void TNavigation::GoUpInSource(TFMPanel& panel) {
  const std::string oldDir = panel.Directory();
  if (panels::IsSchemePath(oldDir) && oldDir == panel.Model().Source()->Root()) {
    // The top of a place of no file (the Trash): home.
    std::string error;
    if (!panel.ReadDirectory(TrashParentDirectory(), &error)) ShowGeneralError(platform::ToDisplay(error));
    platform::SetCurrentDir(panel.Directory());
    panel.setFocus();
    return;
  }
  const size_t slash = oldDir.rfind('/');
  if (slash == std::string::npos) return;
  const std::string parent = slash == 0 ? std::string("/") : oldDir.substr(0, slash);
  std::string error;
  if (!panel.ReadDirectory(parent, &error)) {
    ShowGeneralError(platform::ToDisplay(error));
    return;
  }
  if (!panel.Model().InSource()) platform::SetCurrentDir(panel.Directory());
  panel.setFocus();
  panel.PlaceCursorOn(oldDir.substr(slash + 1));
}

void TNavigation::GoUp(TFMPanel& panel) {
  if (panel.Model().InSource()) {
    GoUpInSource(panel);
    return;
  }
  const std::string oldDir = panel.Directory();
  if (!platform::SetCurrentDir(oldDir) || !platform::SetCurrentDir("..")) {
    ShowGeneralError(platform::ToDisplay(platform::ErrorText(errno)));
    return;
  }
  std::string error;
  const std::string parent = platform::GetCurrentDir();
  if (parent.empty() || !panel.ReadDirectory(parent, &error)) {
    ShowGeneralError(platform::ToDisplay(error.empty() ? platform::ErrorText(errno) : error));
    platform::SetCurrentDir(oldDir);
    return;
  }
  platform::SetCurrentDir(panel.Directory());
  panel.setFocus();
  // The directory just left, by its exact bytes (a sibling whose name differs
  // only in case is another directory).
  const std::string child = ChildName(oldDir, panel.Directory());
  if (child.empty())
    panel.SetCursor(0);
  else
    panel.PlaceCursorOn(child);
}

// ---------------------------------------------------------------------------
// Headers

void TNavigation::HeaderResized(const TPanelSide& side, int section, int width) {
  TFMPanel& panel = *side.FMPanel;
  // A section spans its column and the pixel after it; the first one the
  // panel's frame too (TMainForm::SyncHeader).
  width = std::max(0, width - 1 - (section == 0 ? panel.frameWidth() : 0));
  switch (section) {
    case 0: if (panel.NameWidth() != width) panel.SetNameWidth(width); break;
    case 1: if (panel.ExtWidth() != width) panel.SetExtWidth(width); break;
    case 2: if (panel.SizeWidth() != width) panel.SetSizeWidth(width); break;
    case 3: if (panel.DateWidth() != width) panel.SetDateWidth(width); break;
    case 4: if (panel.TimeWidth() != width) panel.SetTimeWidth(width); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Drag and drop

void TNavigation::DragStart(TFMPanel& source) {
  dragSource_ = &source;
  dragOver_ = &source;
  droppedHere_ = false;
}

// The panel under the mouse becomes the active one. Once the drag has passed
// over the other panel, coming back to the source does not undo that: a drag
// that crosses the other panel and returns still copies.
void TNavigation::DragOver(TFMPanel& panel) {
  if (dragSource_ == nullptr) return;
  if (&panel != dragSource_) dragOver_ = &panel;
  if (!panel.hasFocus()) panel.setFocus(Qt::MouseFocusReason);
}

void TNavigation::DragEnd(TFMPanel& source, bool takenElsewhere) {
  TFMPanel* over = dragOver_;
  const bool fromSource = dragSource_ == &source;
  dragSource_ = nullptr;
  dragOver_ = nullptr;
  // Another application that took the files has done the work itself.
  if (!fromSource || takenElsewhere || over == nullptr || over == &source) return;
  source.setFocus(Qt::MouseFocusReason);
  NavHooks().CopyCommand(form_);
}

QMimeData* TNavigation::MimeDataFor(const TFMPanel& panel) const {
  auto* data = new QMimeData;
  // Entries of an archive are no files another program could take: such a
  // drag carries nothing for them, and a drop on the other panel copies
  // through the archive (the drag's end runs Copy).
  if (panel.Model().InSource()) return data;
  QByteArray list;
  for (const TFileEntry* entry : panel.GetMarkedEntries())
    list += QByteArray::fromStdString(platform::FileUriOf(platform::JoinPath(panel.Directory(), entry->FileName))) +
            "\r\n";
  data->setData(QString::fromLatin1(kUriList), list);
  return data;
}

std::vector<std::string> TNavigation::LocalPathsOf(const QMimeData& data) {
  // The list is read as bytes: a percent-encoded name that is not UTF-8 keeps
  // its bytes.
  std::vector<std::string> paths;
  const QByteArray list = data.data(QString::fromLatin1(kUriList));
  for (QByteArray line : list.split('\n')) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    if (auto path = platform::LocalPathOfUri(std::string_view(line.constData(), static_cast<size_t>(line.size()))))
      paths.push_back(std::move(*path));
  }
  return paths;
}

void TNavigation::StartDrag(TFMPanel& panel) {
  DragStart(panel);
  auto* drag = new QDrag(panel.viewport());
  drag->setMimeData(MimeDataFor(panel));
  const int result = NavHooks().ExecDrag(*drag);
  drag->deleteLater();
  // A drop on one of the panels is handled here; any other taker is another
  // application.
  DragEnd(panel, result != Qt::IgnoreAction && !droppedHere_);
}

bool TNavigation::ViewportEvent(const TPanelSide& side, QEvent* event) {
  TFMPanel& panel = *side.FMPanel;
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint pos = mouse->position().toPoint();
      pressPanel_ = mouse->button() == Qt::LeftButton && panel.IndexAt(pos) >= 0 ? &panel : nullptr;
      pressPos_ = pos;
      return false;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (pressPanel_ != &panel || !(mouse->buttons() & Qt::LeftButton)) return false;
      if ((mouse->position().toPoint() - pressPos_).manhattanLength() <
          QApplication::startDragDistance())
        return false;
      pressPanel_ = nullptr;
      StartDrag(panel);
      return true;
    }
    case QEvent::MouseButtonRelease:
      pressPanel_ = nullptr;
      return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (Dragging()) {
        DragOver(panel);
      } else if (drag->mimeData() == nullptr || LocalPathsOf(*drag->mimeData()).empty()) {
        drag->ignore();
        return true;
      }
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      if (Dragging()) {
        droppedHere_ = true;  // the drag's end copies
        return true;
      }
      if (drop->mimeData() == nullptr) return true;
      const std::vector<std::string> paths = LocalPathsOf(*drop->mimeData());
      if (paths.empty()) return true;
      // Copy once the other application has been told the drop was taken.
      QPointer<TFMPanel> target(&panel);
      QTimer::singleShot(0, this, [this, target, paths] {
        if (target == nullptr) return;
        target->setFocus(Qt::MouseFocusReason);
        NavHooks().CopyPathsInto(form_, paths, target->Directory());
      });
      return true;
    }
    default:
      return false;
  }
}

}  // namespace vantrel::app
