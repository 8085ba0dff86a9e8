// panel_keys.cpp - the panel keys beyond those of the list itself.
#include "app/panels/panel_keys.h"

#include <QKeyEvent>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "app/panels/archive_places.h"
#include "app/panels/panel_tabs.h"
#include "app/panels/path_line.h"
#include "app/settings/user_lists.h"
#include "panels/qt/fmpanel.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

using panels::TFMPanel;

bool MarkByMaskDialog(TMainForm& form, TFMPanel& panel, bool mark) {
  TStringList& masks = form.Lists().Masks;
  QStringList recent;
  for (const std::string& m : masks) recent << platform::ToDisplay(m);
  QString text = recent.isEmpty() ? QStringLiteral("*.*") : recent.front();
  if (!AskTextFrom(&form, QString::fromLatin1(kDialogCaption),
                   mark ? platform::Worded("Mark files matching:") : platform::Worded("Unmark files matching:"),
                   recent, text))
    return false;
  const std::string mask = text.trimmed().toStdString();
  if (mask.empty()) return false;
  RememberFirst(masks, mask, TUserLists::kMaskLimit);
  panel.MarkByMask(mask, mark);
  return true;
}

bool PanelExtraKey(TMainForm& form, TFMPanel& panel, QKeyEvent& key) {
  const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
  const bool gray = (key.modifiers() & Qt::KeypadModifier) != 0;
  if (mods == Qt::ControlModifier && key.key() == Qt::Key_R) {
    // An archive whose listing was stopped is read to its end.
    if (!ContinueArchiveListing(panel)) panel.Reread();
    return true;
  }
  auto* pathLine = form.findChild<TPathLine*>(QStringLiteral("PathLine"));
  if (pathLine != nullptr) {
    if (mods == Qt::ControlModifier && key.key() == Qt::Key_L) {
      pathLine->Edit(panel);
      return true;
    }
    if (mods == Qt::ControlModifier && key.key() == Qt::Key_D) {
      pathLine->Popup(panel, pathLine->HotlistMenu(panel));
      return true;
    }
    if (mods == Qt::AltModifier && key.key() == Qt::Key_Down) {
      pathLine->Popup(panel, pathLine->HistoryMenu(panel));
      return true;
    }
    if (mods == Qt::AltModifier && (key.key() == Qt::Key_Left || key.key() == Qt::Key_Right)) {
      pathLine->Step(panel, key.key() == Qt::Key_Left ? -1 : 1);
      return true;
    }
  }
  const TPanelSide& side = &panel == form.LeftFMPanel() ? form.Left() : form.Right();
  if (auto* tabs = form.findChild<TPanelTabs*>(side.Panel->objectName() + QStringLiteral("Tabs"))) {
    const bool ctrl = (mods & Qt::ControlModifier) != 0;
    const bool tabKey = key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab;
    if (ctrl && tabKey) {
      const bool back = key.key() == Qt::Key_Backtab || (mods & Qt::ShiftModifier) != 0;
      tabs->Switch(back ? -1 : 1);
      return true;
    }
    if (mods == Qt::ControlModifier && key.key() == Qt::Key_T) {
      tabs->NewTab();
      return true;
    }
    if (mods == Qt::ControlModifier && key.key() == Qt::Key_W) {
      tabs->CloseTab();
      return true;
    }
  }
  if (gray && mods == Qt::NoModifier && (key.key() == Qt::Key_Plus || key.key() == Qt::Key_Minus)) {
    MarkByMaskDialog(form, panel, key.key() == Qt::Key_Plus);
    panel.setFocus();
    return true;
  }
  return false;
}

}  // namespace vantrel::app
