// path_line.cpp - the editable directory line, history and hotlist.
#include "app/panels/path_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "panels/qt/fmpanel.h"
#include "platform/copyfile.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

using panels::TFMPanel;

std::string ResolveTypedPath(const std::string& base, const std::string& typed) {
  std::string path = typed;
  if (path.size() >= 2 && (path.front() == '"' || path.front() == '\'') && path.back() == path.front())
    path = path.substr(1, path.size() - 2);
  const char* env = std::getenv("HOME");
  const std::string home = env != nullptr && *env != '\0' ? env : "/";
  if (path.empty() || path == "~") return home;
  if (path.rfind("~/", 0) == 0) return platform::JoinPath(home, path.substr(2));
  if (path.front() != '/') return platform::JoinPath(base, path);
  return path;
}

TPathLine::TPathLine(TMainForm& form) : QObject(&form), form_(form) {
  setObjectName(QStringLiteral("PathLine"));
  int i = 0;
  for (const TPanelSide* side : {&form.Left(), &form.Right()}) {
    auto* field = new QLineEdit(side->DirectoryPanel);
    field->setObjectName(side->DirectoryPanel->objectName() + QStringLiteral("Edit"));
    field->setFrame(false);
    field->hide();
    field->installEventFilter(this);
    side->DirectoryPanel->installEventFilter(this);
    fields_[i] = field;
    lines_[i] = side->DirectoryPanel;
    panels_[i] = side->FMPanel;
    ++i;
  }
}

const TPanelSide& TPathLine::SideOf(const TFMPanel& panel) const {
  return &panel == form_.LeftFMPanel() ? form_.Left() : form_.Right();
}

QLineEdit* TPathLine::Field(const TFMPanel& panel) const {
  return &panel == panels_[0] ? fields_[0] : fields_[1];
}

void TPathLine::Edit(TFMPanel& panel) {
  QLineEdit* field = Field(panel);
  field->setGeometry(SideOf(panel).DirectoryPanel->rect());
  field->setText(platform::ToDisplay(panel.Directory()));
  field->selectAll();
  field->show();
  field->setFocus(Qt::OtherFocusReason);
}

void TPathLine::Finish(TFMPanel& panel, bool go) {
  QLineEdit* field = Field(panel);
  if (!field->isVisible()) return;
  const std::string typed = field->text().trimmed().toStdString();
  panel.setFocus(Qt::OtherFocusReason);
  field->hide();
  if (go && typed != panel.Directory()) GoTo(panel, typed);
}

bool TPathLine::GoTo(TFMPanel& panel, const std::string& typed) {
  const std::string path = ResolveTypedPath(panel.Directory(), typed);
  std::string error;
  if (platform::IsDirectory(path)) {
    if (panel.ReadDirectory(path, &error)) {
      panel.SetCursor(0);
      platform::SetCurrentDir(panel.Directory());
      return true;
    }
  } else {
    // A place inside an archive as the directory line shows it (the
    // archive's own path is its root): the history and the hotlist hold them.
    std::string placeError;
    if (panel.ReadDirectory(path, &placeError)) {
      panel.SetCursor(0);
      return true;
    }
    platform::EntryInfo info;
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    // A file, or an entry of an archive: the cursor on it in its place.
    const bool onDisk = platform::LStat(path, info);
    if (!name.empty() && (onDisk || !platform::IsDirectory(dir)) && panel.ReadDirectory(dir, &error)) {
      const int index = panel.IndexOfName(name);
      if (onDisk || (index < panel.Count() && panel.Entries()[static_cast<size_t>(index)]->FileName == name)) {
        panel.SetCursor(index);
        if (!panel.Model().InSource()) platform::SetCurrentDir(panel.Directory());
        return true;
      }
    }
    if (error.empty()) error = !placeError.empty() ? placeError : platform::ErrorText(ENOENT);
  }
  ShowMessage(&form_, MessageKind::Warning, QString::fromLatin1(kMainCaption),
              platform::Worded("Cannot go to %1: %2").arg(platform::ToDisplay(path), platform::ToDisplay(error)));
  return false;
}

void TPathLine::Step(TFMPanel& panel, int direction) {
  TDirHistory& history = form_.HistoryOf(&panel);
  const std::string dir = direction < 0 ? history.Back() : history.Forward();
  if (!dir.empty()) GoTo(panel, dir);
}

QMenu* TPathLine::HistoryMenu(TFMPanel& panel) {
  delete menu_;
  menu_ = new QMenu(&form_);
  menu_->setObjectName(QStringLiteral("HistoryMenu"));
  const TStringList& items = form_.HistoryOf(&panel).Items();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    const std::string dir = *it;
    QAction* action = menu_->addAction(platform::ToDisplay(dir));
    action->setCheckable(dir == panel.Directory());
    action->setChecked(dir == panel.Directory());
    connect(action, &QAction::triggered, this, [this, &panel, dir] { GoTo(panel, dir); });
  }
  return menu_;
}

QMenu* TPathLine::HotlistMenu(TFMPanel& panel) {
  delete menu_;
  menu_ = new QMenu(&form_);
  menu_->setObjectName(QStringLiteral("HotlistMenu"));
  TStringList& hotlist = form_.Lists().Hotlist;
  for (const std::string& dir : hotlist) {
    connect(menu_->addAction(platform::ToDisplay(dir)), &QAction::triggered, this,
            [this, &panel, dir] { GoTo(panel, dir); });
  }
  if (!hotlist.empty()) menu_->addSeparator();
  const std::string current = panel.Directory();
  const bool listed = std::find(hotlist.begin(), hotlist.end(), current) != hotlist.end();
  QAction* add = menu_->addAction(platform::Worded("Add current directory"));
  add->setObjectName(QStringLiteral("HotlistAdd"));
  add->setEnabled(!listed && hotlist.size() < TUserLists::kHotlistLimit);
  connect(add, &QAction::triggered, this, [&hotlist, current] { hotlist.push_back(current); });
  QAction* remove = menu_->addAction(platform::Worded("Remove current directory"));
  remove->setObjectName(QStringLiteral("HotlistRemove"));
  remove->setEnabled(listed);
  connect(remove, &QAction::triggered, this, [&hotlist, current] {
    hotlist.erase(std::remove(hotlist.begin(), hotlist.end(), current), hotlist.end());
  });
  return menu_;
}

void TPathLine::Popup(TFMPanel& panel, QMenu* menu) {
  const QLabel* line = SideOf(panel).DirectoryPanel;
  // The checked entry (the directory shown now) is highlighted when the menu
  // opens, so Up and Down start from it.
  QAction* current = nullptr;
  for (QAction* action : menu->actions())
    if (action->isChecked()) current = action;
  if (current != nullptr)
    QTimer::singleShot(0, menu, [menu, current] { menu->setActiveAction(current); });
  menu->exec(line->mapToGlobal(QPoint(0, line->height())));
  if (!panel.hasFocus() && !Field(panel)->isVisible()) panel.setFocus(Qt::OtherFocusReason);
}

bool TPathLine::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::FocusOut &&
      type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease)
    return false;
  for (int side = 0; side < 2; ++side) {
    if (watched == fields_[side]) {
      QLineEdit* field = fields_[side];
      if (type == QEvent::FocusOut) {
        // Left without Enter: nothing happens (later, never inside a teardown).
        QTimer::singleShot(0, field, [field] {
          if (!field->hasFocus()) field->hide();
        });
        return false;
      }
      if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) return false;
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) return false;
      if (type == QEvent::ShortcutOverride) {
        event->accept();  // Enter and Escape belong to the field while it is open
      } else {
        Finish(*panels_[side], key != Qt::Key_Escape);
      }
      return true;
    }
    if (watched == lines_[side]) {
      // A click on the line of the inactive side makes that side active, as
      // it always did; a click on the active side's line opens the field.
      if (type == QEvent::MouseButtonPress)
        editOnRelease_ =
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && panels_[side]->hasFocus();
      if (type == QEvent::MouseButtonRelease && editOnRelease_) {
        editOnRelease_ = false;
        Edit(*panels_[side]);
      }
      return false;
    }
  }
  return false;
}

}  // namespace vantrel::app
