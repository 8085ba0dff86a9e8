// item_menu.cpp - building and running the entry menu.
#include "app/commands/item_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPointer>

#include "app/commands/archive_entries.h"
#include "app/commands/command_hooks.h"
#include "app/commands/trash_commands.h"
#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "app/panels/archive_places.h"
#include "app/panels/trash_place.h"
#include "app/panels/panel_navigation.h"
#include "app/dialogs/propertiesform.h"
#include "panels/qt/fmpanel.h"
#include "platform/codepages.h"
#include "platform/desktop_apps.h"
#include "platform/file_details.h"
#include "platform/file_uri.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/qt/wording.h"
#include "vfs/zip_source.h"

namespace vantrel::app {

namespace {

using panels::TFileEntry;
using panels::TFMPanel;

QString Shown(const std::string& bytes) { return QString::fromStdString(platform::DisplayName(bytes)); }

int MarkedCount(const TFMPanel& panel) {
  int n = 0;
  for (int i = 0; i < panel.Count(); ++i)
    if (panel.IsMarked(i) && !panel.Entries()[static_cast<size_t>(i)]->IsDotDot()) ++n;
  return n;
}

bool IsZip(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return ext == ".zip";
}

// An item's words in the language chosen, then its key ("Copy\tF5").
QString Item(const char* english, const char* key = nullptr) {
  QString text = platform::Worded(english);
  if (key != nullptr) text += QLatin1Char('\t') + QLatin1String(key);
  return text;
}

// "Copy", "Copy 1 marked entry" or "Copy 12 marked entries" (each phrase
// whole, for languages that order the words otherwise; `many` in the plural
// form its count takes, "21 marked entries" may read as "21 marked entry"),
// then the key.
QString Counted(int marked, const char* none, const char* one, const char* many, const char* key = nullptr) {
  if (marked == 0) return Item(none, key);
  if (marked == 1) return Item(one, key);
  QString text = platform::WordedCount(many, many, marked);
  if (key != nullptr) text += QLatin1Char('\t') + QLatin1String(key);
  return text;
}

// The MIME type of an entry and the types it is a kind of.
std::vector<std::string> MimeTypesOf(const std::string& path, bool isDirectory) {
  static const QMimeDatabase db;
  QMimeType type;
  if (isDirectory) {
    type = db.mimeTypeForName(QStringLiteral("inode/directory"));
  } else {
    const std::string head = platform::ReadFileHead(path, 4096);
    type = db.mimeTypeForFileNameAndData(Shown(path.substr(path.rfind('/') + 1)),
                                        QByteArray(head.data(), static_cast<qsizetype>(head.size())));
  }
  std::vector<std::string> types{type.name().toStdString()};
  for (const QString& parent : type.allAncestors()) types.push_back(parent.toStdString());
  return types;
}

QIcon AppIcon(const std::string& icon) {
  if (icon.empty()) return {};
  const QString name = QString::fromStdString(icon);
  return icon.front() == '/' ? QIcon(name) : QIcon::fromTheme(name);
}

void StartApp(const platform::DesktopApp& app, const std::string& path, const std::string& dir) {
  std::vector<std::string> args = platform::ExecArguments(app, path);
  if (app.terminal) args.insert(args.begin(), {"x-terminal-emulator", "-e"});
  std::string error;
  if (!platform::StartDetached(args, dir, &error))
    ShowMessage(nullptr, MessageKind::Error, QString::fromLatin1(kDialogCaption),
                platform::Worded("Cannot start %1: %2.").arg(Shown(app.name), Shown(error)));
}

}  // namespace

void CopyPathsToClipboard(const TFMPanel& panel) {
  QStringList texts;
  QByteArray uris;
  for (const TFileEntry* entry : panel.GetMarkedEntries()) {
    const std::string path = entry->IsDotDot() ? panel.Directory()
                                               : platform::JoinPath(panel.Directory(), entry->FileName);
    texts << Shown(path);
    uris += QByteArray::fromStdString(platform::FileUriOf(path)) + "\r\n";
  }
  auto* data = new QMimeData;
  data->setText(texts.join(QLatin1Char('\n')));
  // Inside an archive the paths are the panel's, no files another program
  // could open: text only.
  if (!panel.Model().InSource()) data->setData(QStringLiteral("text/uri-list"), uris);
  QApplication::clipboard()->setMimeData(data);
}

namespace {

// Inside a ZIP archive: the code page its names are read in, as the ZIP
// window offers it; a choice lists the archive again at once.
void AddCodePageMenu(QMenu& menu, TFMPanel& panel) {
  std::string chosen, used;
  if (!PanelCodePage(panel, chosen, used)) return;
  QMenu* pages = menu.addMenu(Item("Code page"));
  pages->setObjectName(QStringLiteral("ItemCodePage"));
  auto* group = new QActionGroup(pages);
  std::vector<std::string> all{"", "UTF-8"};
  for (const std::string& page : platform::NameCodePages()) all.push_back(page);
  QPointer<TFMPanel> p(&panel);
  for (const std::string& page : all) {
    QString text = QString::fromStdString(page);
    if (page.empty())
      text = chosen.empty() && !used.empty() ? platform::Worded("Automatic (%1)").arg(QString::fromStdString(used))
                                             : platform::Worded("Automatic");
    QAction* action = pages->addAction(text);
    action->setObjectName(QStringLiteral("ItemCodePage") +
                          (page.empty() ? QStringLiteral("Auto") : QString::fromStdString(page)));
    action->setCheckable(true);
    action->setChecked(page == chosen);
    group->addAction(action);
    if (page.empty()) pages->addSeparator();
    QObject::connect(action, &QAction::triggered, &panel, [p, page] {
      if (p == nullptr) return;
      std::string error;
      if (!SetPanelCodePage(*p, page, &error))
        ShowMessage(p, MessageKind::Error, QLatin1String(kDialogCaption), Shown(error));
    });
  }
}

}  // namespace

std::unique_ptr<QMenu> BuildItemMenu(TMainForm& form, TFMPanel& panel) {
  const TFileEntry* current = panel.CurrentEntry();
  if (current == nullptr) return nullptr;
  auto menu = std::make_unique<QMenu>(&panel);
  menu->setObjectName(QStringLiteral("ItemMenu"));
  TMainForm* f = &form;
  QPointer<TFMPanel> p(&panel);
  // Each command runs with its panel active, as from the keyboard.
  auto add = [&](const char* name, const QString& text, auto handler) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    QObject::connect(action, &QAction::triggered, &form, [p, handler] {
      if (p == nullptr) return;
      p->setFocus(Qt::PopupFocusReason);
      handler(*p);
    });
    return action;
  };
  // A main-window command: as enabled as the command itself.
  auto command = [&](const char* name, const QString& text, const char* mainAction) {
    QAction* main = form.Action(QLatin1String(mainAction));
    QAction* item = add(name, text, [main](TFMPanel&) {
      if (main != nullptr) main->trigger();
    });
    item->setEnabled(main != nullptr && main->isEnabled());
  };
  auto properties = [f](const std::string& path) {
    auto* dialog = new TPropertiesForm(path, f);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
  };
  // The archive's code page is the place's, so ".." inside one offers it too.
  if (current->IsDotDot()) AddCodePageMenu(*menu, panel);

  const std::string dir = panel.Directory();
  const bool inArchive = panel.Model().InSource();
  if (current->IsDotDot()) {
    if (TrashSourceOf(panel) != nullptr)
      add("ItemEmptyTrash", Item("Empty Trash"), [f](TFMPanel& panel) { EmptyTrashAsked(*f, panel); });
    // Inside an archive the place is no directory of the disk.
    if (!inArchive) add("ItemProperties", Item("Properties"), [properties, dir](TFMPanel&) { properties(dir); });
    return menu;
  }
  const TFileEntry entry = *current;
  const std::string path = platform::JoinPath(dir, entry.FileName);
  const int marked = MarkedCount(panel);
  if (TrashSourceOf(panel) != nullptr && panel.Model().Place().empty()) {
    // An item of the Trash: back, or away for good.
    add("ItemRestore", Counted(marked, "Restore", "Restore 1 marked entry", "Restore %1 marked entries", "F5"), [f](TFMPanel& panel) { RestoreFromTrashPanel(*f, panel); });
    if (!entry.IsDirectory()) command("ItemView", Item("View", "F3"), "mnuFileView");
    menu->addSeparator();
    add("ItemDelete",
        Counted(marked, "Delete permanently", "Delete 1 marked entry permanently",
                "Delete %1 marked entries permanently", "F8"),
        [f](TFMPanel& panel) { EraseFromTrashPanel(*f, panel); });
    add("ItemEmptyTrash", Item("Empty Trash"), [f](TFMPanel& panel) { EmptyTrashAsked(*f, panel); });
    menu->addSeparator();
    add("ItemCopyPath", Item("Copy path"), [](TFMPanel& panel) { CopyPathsToClipboard(panel); });
    return menu;
  }

  add("ItemOpen", Item("Open", "Enter"), [f](TFMPanel& panel) {
    if (auto* nav = f->findChild<TNavigation*>(QStringLiteral("Navigation"))) nav->OpenCurrentEntry(panel);
  });
  QMenu* openWith = menu->addMenu(Item("Open with"));
  openWith->setObjectName(QStringLiteral("ItemOpenWith"));
  // Inside an archive there is no file to hand over (Enter opens a copy).
  const auto apps = inArchive ? std::vector<platform::DesktopApp>{}
                              : platform::ApplicationsFor(MimeTypesOf(path, entry.IsDirectory()),
                                                          platform::XdgDirsFromEnvironment());
  for (const platform::DesktopApp& app : apps) {
    QAction* action = openWith->addAction(AppIcon(app.icon), Shown(app.name));
    action->setObjectName(QStringLiteral("ItemOpenWithApp"));  // a name the desktop file gives
    action->setData(QString::fromStdString(app.id));
    QObject::connect(action, &QAction::triggered, &form, [app, path, dir] { StartApp(app, path, dir); });
  }
  openWith->menuAction()->setEnabled(!apps.empty());
  if (!entry.IsDirectory()) {
    command("ItemView", Item("View", "F3"), "mnuFileView");
    command("ItemEdit", Item("Edit", "F4"), "mnuFileEdit");
  }
  menu->addSeparator();
  command("ItemCopy", Counted(marked, "Copy", "Copy 1 marked entry", "Copy %1 marked entries", "F5"), "mnuFileCopy");
  command("ItemMove", Counted(marked, "Move", "Move 1 marked entry", "Move %1 marked entries", "F6"), "mnuFileMove");
  command("ItemRename", Item("Rename", "Shift+F6"), "mnuFileRename");
  command("ItemDelete", Counted(marked, "Delete", "Delete 1 marked entry", "Delete %1 marked entries", "F8"),
          "mnuFileDelete");
  menu->addSeparator();
  command("ItemPack",
          Counted(marked, "Pack to .ZIP", "Pack 1 marked entry to .ZIP", "Pack %1 marked entries to .ZIP", "Alt+F5"),
          "mnuFilePack");
  if (!entry.IsDirectory() && !inArchive && (IsZip(entry.FileName) || vfs::IsZipArchive(path))) {
    // The archive in the window of its own, as Enter opened it before
    // archives were shown as folders (still so with that setting); also a
    // .jar or .docx, which are ZIP archives by their content.
    add("ItemZipWindow", Item("Open in ZIP window"),
        [f, path](TFMPanel&) { NavHooks().OpenZipWindow(*f, path); });
    if (IsZip(entry.FileName)) command("ItemUnpack", Item("Unpack from .ZIP", "Alt+F9"), "mnuFileUnpack");
  }
  AddCodePageMenu(*menu, panel);
  menu->addSeparator();
  if (entry.IsDirectory()) command("ItemSize", Item("Calculate size", "Ctrl+G"), "mnuCmndDirSize");
  add("ItemCopyPath", Counted(marked, "Copy path", "Copy path of 1 marked entry", "Copy paths of %1 marked entries"),
      [](TFMPanel& panel) { CopyPathsToClipboard(panel); });
  menu->addSeparator();
  if (inArchive)
    add("ItemProperties", Item("Properties"), [f](TFMPanel& panel) { ShowArchiveEntryInfo(*f, panel); });
  else
    add("ItemProperties", Item("Properties"), [properties, path](TFMPanel&) { properties(path); });
  return menu;
}

void ShowItemMenu(TMainForm& form, TFMPanel& panel, const QPoint& globalPos) {
  panel.setFocus(Qt::MouseFocusReason);
  std::unique_ptr<QMenu> menu = BuildItemMenu(form, panel);
  if (menu) menu->exec(globalPos);
}

void InstallItemMenu(TMainForm& form) {
  for (TFMPanel* panel : {form.LeftFMPanel(), form.RightFMPanel()})
    QObject::connect(panel, &TFMPanel::contextMenuRequested, &form,
                     [&form, panel](int, const QPoint& pos) { ShowItemMenu(form, *panel, pos); });
}

}  // namespace vantrel::app
