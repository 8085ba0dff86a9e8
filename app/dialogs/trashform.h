// trashform.h - the Trash: what the user's trashes hold (the home trash and
// those of the mounted volumes), each item with its original location and
// the date it was deleted. "Restore" (F5, F6) puts the selected items back
// where they came from, asking for another name where that one is taken;
// "Delete" (F8, Del) removes them for good and "Empty Trash" all of them,
// each after a question.
#pragma once

#include <string>
#include <vector>

#include <QDialog>

#include "platform/trash.h"

class QPushButton;
class QTreeWidget;

namespace vantrel::app {

class TTrashForm : public QDialog {
  Q_OBJECT

 public:
  // `topdirs`: the mount points whose trashes are listed beside the home one.
  TTrashForm(platform::TrashEnv env, std::vector<std::string> topdirs, QWidget* parent = nullptr);

  // Reads the trashes again.
  void Reload();
  const std::vector<platform::TrashedItem>& Items() const { return items_; }
  QTreeWidget* List() const { return list_; }

  // The commands on the selected rows (all rows for EmptyTrash). Each returns
  // how many items it handled; what failed is said in one message.
  int RestoreSelected();
  int DeleteSelected();
  int EmptyTrash();

 signals:
  // Items went back to these directories (the panels showing them re-read).
  void restored();

 protected:
  // F5, F6, F8 and Del are this window's, not the main window's shortcuts.
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::vector<size_t> Selected() const;
  int Erase(const std::vector<size_t>& which, const QString& question);

  platform::TrashEnv env_;
  std::vector<std::string> topdirs_;
  std::vector<platform::TrashedItem> items_;  // in the list's order
  QTreeWidget* list_ = nullptr;
};

}  // namespace vantrel::app
