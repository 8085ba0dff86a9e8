// common_dialogs.cpp - Qt's file, colour and font dialogs through replaceable
// handlers.
#include "app/dialogs/common_dialogs.h"

#include <algorithm>

#include <QColorDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDialog>
#include <QInputDialog>
#include <QShortcut>
#include <QSortFilterProxyModel>

#include "platform/qt/help.h"

namespace vantrel::app {

namespace {

// F1 in a dialog opens the help at its topic.
void AddHelpKey(QDialog& dialog, int helpContext) {
  if (helpContext == 0) return;
  auto* key = new QShortcut(QKeySequence(Qt::Key_F1), &dialog);
  QObject::connect(key, &QShortcut::activated, &dialog,
                   [helpContext] { platform::ShowHelp(helpContext); });
}

// Directories and the files the user may run, whatever their names.
class TProgramsOnly final : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr) return true;
    const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
    return info.isDir() || info.isExecutable();
  }
};

QString QtFileDialog(QWidget* parent, const TFileRequest& request) {
  QFileDialog dialog(parent, request.title, request.directory);
  dialog.setNameFilters(request.filters);
  if (request.filterIndex >= 0 && request.filterIndex < request.filters.size())
    dialog.selectNameFilter(request.filters[request.filterIndex]);
  dialog.setDefaultSuffix(request.defaultSuffix);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (request.programs) {
    // Only Qt's own dialog can be told which files to list.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new TProgramsOnly(&dialog));
  }
  AddHelpKey(dialog, request.helpContext);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

bool QtColorDialog(QWidget* parent, QColor& color) {
  const QColor chosen = QColorDialog::getColor(color, parent);
  if (!chosen.isValid()) return false;
  color = chosen;
  return true;
}

bool QtFontDialog(QWidget* parent, QFont& font, int helpContext) {
  QFontDialog dialog(font, parent);
  AddHelpKey(dialog, helpContext);
  if (dialog.exec() != QDialog::Accepted) return false;
  font = dialog.selectedFont();
  return true;
}

int QtItemDialog(QWidget* parent, const QString& title, const QString& prompt, const QStringList& items,
                 int current) {
  bool ok = false;
  const QString chosen =
      QInputDialog::getItem(parent, title, prompt, items, std::max(0, current), false, &ok);
  return ok ? static_cast<int>(items.indexOf(chosen)) : -1;
}

FileDialogHandler g_file = &QtFileDialog;
ItemDialogHandler g_item = &QtItemDialog;
ColorDialogHandler g_color = &QtColorDialog;
FontDialogHandler g_font = &QtFontDialog;

template <typename Handler>
Handler Replace(Handler& slot, Handler handler, Handler fallback) {
  Handler old = slot;
  slot = handler != nullptr ? handler : fallback;
  return old;
}

}  // namespace

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
  return Replace(g_file, handler, &QtFileDialog);
}
ColorDialogHandler SetColorDialogHandler(ColorDialogHandler handler) {
  return Replace(g_color, handler, &QtColorDialog);
}
FontDialogHandler SetFontDialogHandler(FontDialogHandler handler) {
  return Replace(g_font, handler, &QtFontDialog);
}

ItemDialogHandler SetItemDialogHandler(ItemDialogHandler handler) {
  return Replace(g_item, handler, &QtItemDialog);
}

QString ChooseFile(QWidget* parent, const TFileRequest& request) { return g_file(parent, request); }
int ChooseItem(QWidget* parent, const QString& title, const QString& prompt, const QStringList& items,
               int current) {
  return items.isEmpty() ? -1 : g_item(parent, title, prompt, items, current);
}
bool ChooseColor(QWidget* parent, QColor& color) { return g_color(parent, color); }
bool ChooseFont(QWidget* parent, QFont& font, int helpContext) {
  return g_font(parent, font, helpContext);
}

}  // namespace vantrel::app
