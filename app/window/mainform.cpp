// mainform.cpp - layout of the main window, the active panel and the steps
// that span both panels.
#include "app/window/mainform.h"

#include <algorithm>
#include <cmath>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/dialogs/aboutform.h"
#include "app/panels/archive_places.h"
#include "panels/panel_source.h"
#include "app/commands/command_hooks.h"
#include "app/panels/drivecombo.h"
#include "app/window/features.h"
#include "app/window/focus_keeper.h"
#include "app/panels/trash_place.h"
#include "app/window/key_bar.h"
#include "app/dialogs/infoform.h"
#include "app/dialogs/messages.h"
#include "app/settings/settings.h"
#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/install_paths.h"
#include "platform/qt/help.h"
#include "platform/qt/icons.h"
#include "platform/qt/volumes.h"

namespace vantrel::app {

using panels::TFMPanel;

namespace {

// One command of the menus and the toolbar. Commands whose behaviour is not
// built yet exist disabled, so the menus already show the whole command set.
struct TCommandDef {
  const char* name;
  const char* caption;
  const char* shortcut;      // empty: none
  const char* button;        // toolbar button name, or nullptr
  const char* hint;          // toolbar hint
  const char* icon;          // icon theme names, ";" between alternatives
  QStyle::StandardPixmap fallback;
};

constexpr TCommandDef kCommands[] = {
    {"mnuLftChDrive", "Change drive", "Alt+F1", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuLftSettings", "Settings...", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuFileNew", "New", "Shift+F4", "NewFileButton", "New file (Shift+F4)", "document-new",
     QStyle::SP_FileIcon},
    {"mnuFileDelete", "Delete", "Del", "DeleteFileButton", "Delete file (Del)", "edit-delete",
     QStyle::SP_TrashIcon},
    {"mnuFileDeletePermanently", "Delete permanently", "Shift+Del", nullptr, nullptr, nullptr,
     QStyle::SP_CustomBase},
    {"mnuFileView", "View", "F3", "ViewFileButton", "View file (F3)", "view-reveal;document-print-preview",
     QStyle::SP_FileDialogContentsView},
    {"mnuFileEdit", "Edit ", "F4", "EditFileButton", "Edit file (F4)", "document-edit",
     QStyle::SP_FileDialogDetailedView},
    {"mnuFileCopy", "Copy", "F5", "CopyFileButton", "Copy file (F5)", "edit-copy",
     QStyle::SP_DialogSaveButton},
    {"mnuFileMove", "Move", "F6", "MoveFileButton", "Move file (F6)", "send-to;go-next",
     QStyle::SP_ArrowForward},
    {"mnuFileRename", "Rename", "Shift+F6", "RenameFileButton", "Rename file (Shift+F6)",
     "insert-text;edit-rename", QStyle::SP_FileLinkIcon},
    {"mnuFileMultiRename", "Multi-rename...", "Ctrl+M", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuFilePack", "Pack to .ZIP", "Alt+F5", "PackFileButton", "Pack to .ZIP (Alt+F5)",
     "package-x-generic", QStyle::SP_DriveFDIcon},
    {"mnuFileUnpack", "Unpack from .ZIP", "Alt+F9", "UnpackFileButton",
     "Unpack from .ZIP (Alt+F9)", "folder-download;document-open", QStyle::SP_DialogOpenButton},
    {"mnuFileExit", "Exit", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuCmndMkDir", "Make directory", "F7", "MakeDirButton", "Make directory (F7)", "folder-new",
     QStyle::SP_FileDialogNewFolder},
    {"mnuCmndFindFile", "Find file", "Alt+F7", "FindFileButton", "Find files (Alt+F7)",
     "edit-find", QStyle::SP_FileDialogInfoView},
    {"mnuCmndCompareDirs", "Compare directories...", "Shift+F2", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuCmndSyncDirs", "Synchronize directories...", "Ctrl+Shift+F2", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuCmndQuickView", "Quick view", "Ctrl+Q", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuCmndTerminal", "Open terminal here", "Shift+F9", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuCmndFrmtDiskette", "Format diskette", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuCmndDirSize", "Calculate directory size", "Ctrl+G", nullptr, nullptr, nullptr,
     QStyle::SP_CustomBase},
    {"mnuCmndOperations", "Operations...", "Ctrl+J", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuOptGenSettings", "General settings...", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuOptFont", "Font...", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuOptSelColors", "Select colors", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuOptLoadScheme", "Load color scheme", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuOptSaveScheme", "Save color scheme as...", "", nullptr, nullptr, nullptr,
     QStyle::SP_CustomBase},
    {"SelectLanguage", "Select language", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuRghtChDrive", "Change drive", "Alt+F2", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuRghtSettings", "Settings...", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuHlpContents", "Contents", "F1", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
    {"mnuHlpAbout", "About", "", nullptr, nullptr, nullptr, QStyle::SP_CustomBase},
};

// The menus, their items in order; "-" is a separator, ">" opens and "<"
// closes a submenu.
struct TMenuDef {
  const char* name;
  const char* caption;
  std::initializer_list<const char*> items;
};

const TMenuDef kMenus[] = {
    {"mnuLftPanel", "Left Panel", {"mnuLftChDrive", "mnuLftSettings"}},
    {"mnuFiles",
     "Files",
     {"mnuFileNew", "mnuFileDelete", "mnuFileDeletePermanently", "mnuFileView", "mnuFileEdit", "mnuFileCopy",
      "mnuFileMove", "mnuFileRename", "mnuFileMultiRename", "-", "mnuFilePack", "mnuFileUnpack", "-", "mnuFileExit"}},
    {"mnuCommands",
     "Commands",
     {"mnuCmndMkDir", "mnuCmndFindFile", "mnuCmndCompareDirs", "mnuCmndSyncDirs", "mnuCmndQuickView",
      "mnuCmndTerminal", "mnuCmndFrmtDiskette", "mnuCmndDirSize", "-", "mnuCmndOperations"}},
    {"mnuOptions",
     "Options",
     {"mnuOptGenSettings", "mnuOptFont", ">mnuOptColors:Color", "mnuOptSelColors", "-",
      "mnuOptLoadScheme", "mnuOptSaveScheme", "<", "SelectLanguage"}},
    {"mnuRghtPanel", "RightPanel", {"mnuRghtChDrive", "mnuRghtSettings"}},
    {"mnuHelp", "Help", {"mnuHlpContents", "-", "mnuHlpAbout"}},
};

// The toolbar, in order; "-" is a divider.
constexpr const char* kToolBar[] = {"mnuFileNew",  "mnuFileDelete", "mnuFileView",   "mnuFileEdit",
                                    "mnuFileCopy", "mnuFileMove",   "mnuFileRename", "-",
                                    "mnuFilePack", "mnuFileUnpack", "-",             "mnuCmndMkDir",
                                    "mnuCmndFindFile"};

// Commands that work in this build; the rest stay disabled until they do.
constexpr const char* kWorkingCommands[] = {"mnuFileExit", "mnuHlpAbout"};

const TCommandDef* FindCommand(const QString& name) {
  for (const TCommandDef& def : kCommands)
    if (name == QLatin1String(def.name)) return &def;
  return nullptr;
}

// `text` with "&" before its first letter that is not in `taken` (which then
// holds it); as it is when it has an accelerator already or no free letter.
QString WithAccelerator(const QString& text, QString& taken) {
  if (text.contains(QLatin1Char('&'))) {
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    if (at + 1 < text.size()) taken += text.at(at + 1).toLower();
    return text;
  }
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i).toLower();
    if (c.isLetterOrNumber() && !taken.contains(c)) {
      taken += c;
      return text.left(i) + QLatin1Char('&') + text.mid(i);
    }
  }
  return text;
}

void AddMenuAccelerators(QMenu& menu) {
  QString taken;
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) continue;
    action->setText(WithAccelerator(action->text(), taken));
    if (QMenu* sub = action->menu()) AddMenuAccelerators(*sub);
  }
}

// A lone Alt does not arm the menu bar while a panel has the keyboard: the
// next Down must move the panel's cursor. F9 and F10 open the menu bar.
class TLoneAltFilter final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Alt && key->key() != Qt::Key_Meta) return false;
    (void)watched;
    return qobject_cast<TFMPanel*>(QApplication::focusWidget()) != nullptr;
  }
};

panels::TInfoLine* MakeLine(QWidget* parent, const QString& name, int height) {
  auto* line = new panels::TInfoLine(parent);
  line->setObjectName(name);
  line->setFixedHeight(height);
  line->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  // A long text must not widen the side: the label takes whatever width it gets.
  line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  line->setTextFormat(Qt::PlainText);
  return line;
}

}  // namespace

TMainForm::TMainForm(const std::string& settingsPath, QWidget* parent)
    : QMainWindow(parent),
      settingsPath_(settingsPath.empty() ? platform::ProfilePath("vantrel.ini") : settingsPath),
      settings_(std::make_unique<platform::IniFile>(settingsPath_)) {
  setObjectName(QStringLiteral("MainForm"));
  BuildMenus();
  BuildToolBar();

  left_ = BuildSide(QStringLiteral("Left"));
  right_ = BuildSide(QStringLiteral("Right"));

  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName(QStringLiteral("Splitter"));
  splitter_->setHandleWidth(3);
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(left_.Panel);
  splitter_->addWidget(right_.Panel);
  // The left side keeps its width; the right side takes the rest.
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  connect(splitter_, &QSplitter::splitterMoved, this, [this](int pos, int) {
    leftWidth_ = pos;
    const int room = splitter_->width() - splitter_->handleWidth();
    if (room > 0) sideRatio_ = static_cast<double>(pos) / room;
  });
  splitter_->installEventFilter(this);

  auto* commandPanel = new QWidget(this);
  commandPanel->setObjectName(QStringLiteral("CommandPanel"));
  commandPanel->setFixedHeight(21);
  commandPrompt_ = new QLabel(commandPanel);
  commandPrompt_->setObjectName(QStringLiteral("CommandPrompt"));
  commandPrompt_->setTextFormat(Qt::PlainText);
  commandPrompt_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  commandEdit_ = new QLineEdit(commandPanel);
  commandEdit_->setObjectName(QStringLiteral("CommandEdit"));
  commandEdit_->setFocusPolicy(Qt::ClickFocus);  // never reached by Tab
  auto* commandLayout = new QHBoxLayout(commandPanel);
  commandLayout->setContentsMargins(4, 0, 0, 0);
  commandLayout->setSpacing(4);
  commandLayout->addWidget(commandPrompt_);
  commandLayout->addWidget(commandEdit_, 1);

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("Central"));
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(splitter_, 1);
  layout->addWidget(commandPanel);
  keyBar_ = new TKeyBar(*this);
  keyBar_->setParent(central);
  keyBar_->setFixedHeight(24);
  layout->addWidget(keyBar_);
  setCentralWidget(central);

  auto* status = new QStatusBar(this);
  status->setObjectName(QStringLiteral("MainStatusBar"));
  status->setFixedHeight(20);
  setStatusBar(status);

  // Tab goes from one panel to the other and back, nowhere else.
  setTabOrder(left_.FMPanel, right_.FMPanel);

  setWindowTitle(QString::fromLatin1(kMainCaption));
  programDir_ = QCoreApplication::applicationDirPath().toStdString() + "/";
  platform::SetHelpFile(QString::fromStdString(platform::HelpDirectory() + "contents.html"));

  // The panels' widths before the settings are read (the settings replace them).
  for (TPanelSide* side : {&left_, &right_}) {
    side->FMPanel->SetNameWidth(120);
    side->FMPanel->SetSizeWidth(50);
  }
  ConnectSide(left_);
  ConnectSide(right_);

  // Archives are folders in the panels (unless a test has its own places).
  if (!panels::SourceOpener()) InstallArchivePlaces();
  FollowArchiveChanges(*left_.FMPanel);
  FollowArchiveChanges(*right_.FMPanel);
  const platform::IniFile& ini = *settings_;
  LoadSettings(*this, ini);
  lists_.Load(ini);
  for (const TPanelSide* side : {&left_, &right_}) {
    TFMPanel* panel = side->FMPanel;
    HistoryOf(panel).Visit(panel->Directory());
    connect(panel, &TFMPanel::directoryRead, this,
            [this, panel] { HistoryOf(panel).Visit(panel->Directory()); });
  }

  focusKeeper_ = new TFocusKeeper(*this);
  focusKeeper_->SetActivePanel(left_.FMPanel);
  keyBar_->SetTrashPlace(TrashSourceOf(*left_.FMPanel) != nullptr);
  infoForm_ = new TInfoForm(this);
  aboutForm_ = new TAboutForm(this);

  InstallFileCommands(*this);
  InstallNavigation(*this);
  InstallZipCommands(*this);
  InstallItemMenu(*this);
  InstallOptionsCommands(*this);
  InstallToolCommands(*this);
  InstallViewToggles();
  AddAccelerators();

  left_.FMPanel->setFocus();
}

TMainForm::~TMainForm() = default;

// ---------------------------------------------------------------------------
// Layout

void TMainForm::BuildMenus() {
  auto makeAction = [this](const TCommandDef& def) {
    auto* action = new QAction(QString::fromLatin1(def.caption), this);
    action->setObjectName(QLatin1String(def.name));
    if (*def.shortcut != '\0') action->setShortcut(QKeySequence(QLatin1String(def.shortcut)));
    if (def.hint != nullptr) action->setToolTip(QLatin1String(def.hint));
    // One set of one-colour icons in the palette's text colour: they read
    // alike on a light and a dark desktop.
    if (def.icon != nullptr)
      action->setIcon(platform::CommandIcon(QLatin1String(def.icon), palette().color(QPalette::ButtonText),
                                            style()->standardIcon(def.fallback)));
    action->setEnabled(false);
    return action;
  };
  for (const TCommandDef& def : kCommands) addAction(makeAction(def));
  for (const char* working : kWorkingCommands) Action(QLatin1String(working))->setEnabled(true);
  connect(Action(QStringLiteral("mnuFileExit")), &QAction::triggered, this,
          &TMainForm::mnuFileExitClick);
  connect(Action(QStringLiteral("mnuHlpAbout")), &QAction::triggered, this,
          &TMainForm::mnuHlpAboutClick);

  auto* menuKey = new QAction(QStringLiteral("Menu"), this);
  menuKey->setObjectName(QStringLiteral("actMenuBar"));
  menuKey->setShortcuts({QKeySequence(Qt::Key_F9), QKeySequence(Qt::Key_F10)});
  addAction(menuKey);
  connect(menuKey, &QAction::triggered, this, &TMainForm::OpenMenuBar);
  qApp->installEventFilter(new TLoneAltFilter(this));

  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));
  for (const TMenuDef& menuDef : kMenus) {
    QMenu* menu = bar->addMenu(QString::fromLatin1(menuDef.caption));
    menu->setObjectName(QLatin1String(menuDef.name));
    QMenu* target = menu;
    for (const char* item : menuDef.items) {
      const QString text = QLatin1String(item);
      if (text == QLatin1String("-")) {
        target->addSeparator();
      } else if (text.startsWith(QLatin1Char('>'))) {
        const QStringList parts = text.mid(1).split(QLatin1Char(':'));
        target = menu->addMenu(parts.value(1));
        target->setObjectName(parts.value(0));
        // The submenu's item is as enabled as its commands.
        target->menuAction()->setEnabled(false);
      } else if (text == QLatin1String("<")) {
        target = menu;
      } else {
        target->addAction(Action(text));
      }
    }
  }
}

void TMainForm::SetKeyBarShown(bool shown) {
  keyBarShown_ = shown;
  keyBar_->setVisible(shown);
  if (QAction* toggle = Action(QStringLiteral("actKeyBar"))) toggle->setChecked(shown);
}

bool TMainForm::KeyBarShown() const { return keyBarShown_; }

void TMainForm::SetClickMarks(bool on) {
  left_.FMPanel->SetClickMarks(on);
  right_.FMPanel->SetClickMarks(on);
  if (QAction* toggle = Action(QStringLiteral("actClickMarks"))) toggle->setChecked(on);
}

bool TMainForm::ClickMarks() const { return left_.FMPanel->ClickMarks(); }

void TMainForm::SetZipWindowOnEnter(bool on) {
  zipWindowOnEnter_ = on;
  if (QAction* toggle = Action(QStringLiteral("actZipWindowOnEnter"))) toggle->setChecked(on);
}

// Switches at the end of the Options menu.
void TMainForm::InstallViewToggles() {
  QMenu* options = findChild<QMenu*>(QStringLiteral("mnuOptions"));
  if (options == nullptr) return;
  options->addSeparator();
  const struct {
    const char* name;
    const char* caption;
    bool on;
    void (TMainForm::*set)(bool);
  } toggles[] = {{"actKeyBar", "Function key bar", KeyBarShown(), &TMainForm::SetKeyBarShown},
                 {"actClickMarks", "Clicks mark entries", ClickMarks(), &TMainForm::SetClickMarks},
                 {"actZipWindowOnEnter", "ZIP archives open in the ZIP window", ZipWindowOnEnter(),
                  &TMainForm::SetZipWindowOnEnter}};
  for (const auto& t : toggles) {
    auto* action = new QAction(QLatin1String(t.caption), this);
    action->setObjectName(QLatin1String(t.name));
    action->setCheckable(true);
    action->setChecked(t.on);
    addAction(action);
    options->addAction(action);
    const auto set = t.set;
    connect(action, &QAction::toggled, this, [this, set](bool on) { (this->*set)(on); });
  }
}

void TMainForm::AddAccelerators() {
  QString taken;
  for (QAction* action : menuBar()->actions()) {
    action->setText(WithAccelerator(action->text(), taken));
    if (QMenu* menu = action->menu()) {
      menu->setTitle(action->text());
      AddMenuAccelerators(*menu);
    }
  }
}

void TMainForm::OpenMenuBar() {
  const QList<QAction*> menus = menuBar()->actions();
  if (menus.isEmpty()) return;
  menuBar()->setActiveAction(menus.front());
  if (QMenu* first = menus.front()->menu()) {
    for (QAction* item : first->actions()) {
      if (!item->isSeparator() && item->isEnabled()) {
        first->setActiveAction(item);
        break;
      }
    }
  }
}

void TMainForm::BuildToolBar() {
  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("MainToolBar"));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setFixedHeight(40);
  toolBar_->setIconSize(QSize(24, 24));
  toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
  addToolBar(Qt::TopToolBarArea, toolBar_);
  for (const char* item : kToolBar) {
    if (QLatin1String(item) == QLatin1String("-")) {
      toolBar_->addSeparator();
      continue;
    }
    QAction* action = Action(QLatin1String(item));
    toolBar_->addAction(action);
    if (QWidget* button = toolBar_->widgetForAction(action)) {
      button->setObjectName(QLatin1String(FindCommand(QLatin1String(item))->button));
      button->setFocusPolicy(Qt::NoFocus);  // the panel keeps the focus
      button->setFixedSize(32, 32);
    }
  }
}

TPanelSide TMainForm::BuildSide(const QString& prefix) {
  TPanelSide side;
  side.Panel = new QWidget(this);
  side.Panel->setObjectName(prefix + QStringLiteral("Panel"));

  // The drive box and, at x = 152, the root button, in a 20-pixel row.
  side.ComboPanel = new QWidget(side.Panel);
  side.ComboPanel->setObjectName(prefix + QStringLiteral("ComboPanel"));
  side.ComboPanel->setFixedHeight(20);
  side.DriveCombo = new TDriveCombo(side.ComboPanel);
  side.DriveCombo->setObjectName(prefix + QStringLiteral("DriveCombo"));
  side.DriveCombo->setGeometry(0, 0, 153, 20);
  side.RootButton = new QToolButton(side.ComboPanel);
  side.RootButton->setObjectName(prefix + QStringLiteral("RootButton"));
  side.RootButton->setGeometry(152, 0, 20, 20);
  side.RootButton->setAutoRaise(true);
  side.RootButton->setFocusPolicy(Qt::NoFocus);
  side.RootButton->setText(QStringLiteral("/"));
  side.RootButton->setToolTip(QStringLiteral("Go to root"));

  side.DirectoryPanel = MakeLine(side.Panel, prefix + QStringLiteral("DirectoryPanel"), 17);
  side.DirectoryPanel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  side.DirectoryPanel->setAutoFillBackground(true);
  QFont dirFont = side.DirectoryPanel->font();
  dirFont.setPointSize(8);
  dirFont.setBold(true);
  side.DirectoryPanel->setFont(dirFont);
  // Its context menu offers file search, which comes with a later command set.
  auto* findFiles = new QAction(QStringLiteral("Find files"), side.DirectoryPanel);
  findFiles->setObjectName(QStringLiteral("MenuFind"));
  findFiles->setEnabled(false);
  side.DirectoryPanel->addAction(findFiles);
  side.DirectoryPanel->setContextMenuPolicy(Qt::ActionsContextMenu);

  side.Header = new QHeaderView(Qt::Horizontal, side.Panel);
  side.Header->setObjectName(prefix + QStringLiteral("Header"));
  auto* headerModel = new QStandardItemModel(0, 5, side.Header);
  headerModel->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Ext"),
                                          QStringLiteral("Size"), QStringLiteral("Date"),
                                          QStringLiteral("Time")});
  side.Header->setModel(headerModel);
  side.Header->setFixedHeight(17);
  side.Header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  side.Header->setSectionResizeMode(QHeaderView::Fixed);
  side.Header->setSectionsClickable(false);
  side.Header->setStretchLastSection(false);
  side.Header->setMinimumSectionSize(0);
  side.Header->setFocusPolicy(Qt::NoFocus);

  side.FMPanel = new TFMPanel(side.Panel);
  side.FMPanel->setObjectName(prefix + QStringLiteral("FMPanel"));
  side.FilePanel = MakeLine(side.Panel, prefix + QStringLiteral("FilePanel"), 19);
  side.InfoPanel = MakeLine(side.Panel, prefix + QStringLiteral("InfoPanel"), 19);
  side.FMPanel->SetDirPanel(side.DirectoryPanel);
  side.FMPanel->SetFilePanel(side.FilePanel);
  side.FMPanel->SetInfoPanel(side.InfoPanel);

  auto* layout = new QVBoxLayout(side.Panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(side.ComboPanel);
  layout->addWidget(side.DirectoryPanel);
  layout->addWidget(side.Header);
  layout->addWidget(side.FMPanel, 1);
  layout->addWidget(side.FilePanel);
  layout->addWidget(side.InfoPanel);

  SetDirectoryLineActive(side.DirectoryPanel, false);
  return side;
}

void TMainForm::ConnectSide(TPanelSide& side) {
  const TPanelSide* s = &side;
  connect(side.FMPanel, &TFMPanel::entered, this, [this, s] { PanelEnter(*s); });
  connect(side.FMPanel, &TFMPanel::directoryRead, this, [this, s] {
    SelectDriveOf(*s);
    // Also when the panel moved by itself (an archive shown went away).
    if (s->FMPanel == lastActive_) ShowCommandPrompt(*s->FMPanel);
  });
  connect(side.FMPanel, &TFMPanel::columnsChanged, this, [this, s] { SyncHeader(*s); });
  // A directory deleted under the panel: the parent it moved to is the one
  // the command line and the process follow.
  connect(side.FMPanel, &TFMPanel::directoryGone, this, [this, s] {
    if (s->FMPanel->hasFocus()) PanelEnter(*s);
  });
  // A directory that failed only after it was shown as being read: the
  // panel went back; the reason is told as for any directory not entered.
  connect(side.FMPanel, &TFMPanel::readingFailed, this, [this, s](const QString&, const QString& error) {
    if (s->FMPanel->hasFocus()) PanelEnter(*s);
    ShowGeneralError(error);
  });
  connect(side.DriveCombo, qOverload<int>(&QComboBox::activated), this,
          [this, s](int index) { DriveComboChange(*s, index); });
  connect(side.RootButton, &QToolButton::clicked, this, [this, s] { RootButtonClick(*s); });
  // However the list closes (a drive chosen, Escape, a click elsewhere), the
  // keyboard goes back to the box's panel.
  connect(side.DriveCombo, &TDriveCombo::popupHidden, this, [s] { s->FMPanel->setFocus(); });
}

int TMainForm::LeftWidth() const {
  // Once the window is laid out the splitter knows; before, the set value.
  const QList<int> sizes = splitter_->sizes();
  if (splitter_->isVisible() && !sizes.isEmpty()) return sizes.front();
  return leftWidth_;
}

void TMainForm::SetLeftWidth(int width) {
  leftWidth_ = width;
  sideRatio_ = -1;  // taken afresh from the pixels at the next layout
  const int total = std::max(splitter_->width(), width + 100);
  splitter_->setSizes({width, std::max(1, total - width - splitter_->handleWidth())});
  if (splitter_->isVisible()) KeepSideRatio();
}

double TMainForm::LeftShare() const {
  const int room = splitter_->width() - splitter_->handleWidth();
  if (sideRatio_ >= 0) return sideRatio_;
  return room > 1 ? std::clamp(static_cast<double>(LeftWidth()) / room, 0.0, 1.0) : 0.5;
}

void TMainForm::SetLeftShare(double share) {
  sideRatio_ = std::clamp(share, 0.0, 1.0);
  if (splitter_->isVisible()) KeepSideRatio();
}

QSize TMainForm::FittingSize() const {
  const TFMPanel* panel = left_.FMPanel;
  const int scrollBar = panel->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, panel);
  constexpr int kNameRoom = 220;  // the name column of a first start
  const int side = 2 * panel->frameWidth() + scrollBar + platform::kSmallIconSize + kNameRoom +
                   panel->ExtWidth() + panel->SizeWidth() + panel->DateWidth() + panel->TimeWidth() + 8;
  QSize size(2 * side + splitter_->handleWidth(), 600);
  if (const QScreen* shown = screen()) size = size.boundedTo(shown->availableGeometry().size() * 9 / 10);
  return size;
}

QRect TMainForm::NormalBounds() const {
  if (!isMaximized() && !isFullScreen()) return QRect(pos(), size());
  // The frame stands as far from the client area as it does now.
  const QRect normal = normalGeometry();
  return QRect(normal.topLeft() - (geometry().topLeft() - pos()), normal.size());
}

void TMainForm::SyncHeaders() {
  for (const TPanelSide* side : {&left_, &right_}) SyncHeader(*side);
}

void TMainForm::SyncHeader(const TPanelSide& side) {
  const TFMPanel* p = side.FMPanel;
  // The header sits above the panel's frame: its name section takes the
  // frame's width too, so that every section stands over its column.
  const int widths[] = {p->ShownNameWidth() + p->frameWidth() + 1, p->ExtWidth() + 1, p->SizeWidth() + 1,
                        p->DateWidth() + 1, p->TimeWidth() + 1};
  // Only the user's drags of a section's edge are news for the panel.
  const QSignalBlocker quiet(side.Header);
  for (int i = 0; i < 5; ++i) side.Header->resizeSection(i, widths[i]);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == splitter_ && event->type() == QEvent::Resize) KeepSideRatio();
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::KeepSideRatio() {
  const int room = splitter_->width() - splitter_->handleWidth();
  if (room <= 1) return;
  // The first layout takes the left width as set in pixels; from then on the
  // share stays.
  if (sideRatio_ < 0) sideRatio_ = std::clamp(static_cast<double>(leftWidth_) / room, 0.0, 1.0);
  const int left = std::clamp(static_cast<int>(std::lround(sideRatio_ * room)), 1, room - 1);
  splitter_->setSizes({left, room - left});
  leftWidth_ = left;
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  SyncHeaders();
}

QAction* TMainForm::Action(const QString& name) const {
  return findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
}

// ---------------------------------------------------------------------------
// The active panel

TFMPanel* TMainForm::ActivePanel() const {
  if (left_.FMPanel->hasFocus()) return left_.FMPanel;
  if (right_.FMPanel->hasFocus()) return right_.FMPanel;
  return nullptr;
}

void TMainForm::SetDirectoryLineActive(QLabel* line, bool active) {
  const QPalette system = QApplication::palette();
  QPalette pal = line->palette();
  pal.setColor(QPalette::Window, system.color(active ? QPalette::Highlight : QPalette::Window));
  pal.setColor(QPalette::WindowText,
               system.color(active ? QPalette::HighlightedText : QPalette::WindowText));
  line->setPalette(pal);
}

void TMainForm::PanelEnter(const TPanelSide& side) {
  const TPanelSide& other = &side == &left_ ? right_ : left_;
  lastActive_ = side.FMPanel;
  ShowCommandPrompt(*side.FMPanel);
  if (focusKeeper_ != nullptr) focusKeeper_->SetActivePanel(side.FMPanel);
  SetDirectoryLineActive(side.DirectoryPanel, true);
  SetDirectoryLineActive(other.DirectoryPanel, false);
  // Dialogs that work with bare names rely on the active panel's directory.
  if (!side.FMPanel->Directory().empty()) platform::SetCurrentDir(side.FMPanel->Directory());
}

void TMainForm::ShowCommandPrompt(const TFMPanel& panel) {
  // A long path gives up its beginning: the prompt keeps most of the row
  // for the command.
  const QString dir = platform::ToDisplay(panel.Directory());
  const int room = std::max(80, width() * 2 / 5);
  commandPrompt_->setText(commandPrompt_->fontMetrics().elidedText(dir, Qt::ElideLeft, room) +
                          QStringLiteral(">"));
  commandPrompt_->setToolTip(dir);
  // The key bar says what the keys do where the active panel is.
  if (keyBar_ != nullptr) keyBar_->SetTrashPlace(TrashSourceOf(panel) != nullptr);
}

void TMainForm::RefreshBothPanels(const std::string& cursorName) {
  QWidget* focused = QApplication::focusWidget();
  const std::string cwd = platform::GetCurrentDir();
  left_.FMPanel->Reread();
  right_.FMPanel->Reread();
  if (!cwd.empty()) platform::SetCurrentDir(cwd);
  if (focused != nullptr) focused->setFocus();
  // A dialog that made the entry may still have the focus: its panel is
  // the one that was active.
  TFMPanel* panel = qobject_cast<TFMPanel*>(focused);
  if (panel == nullptr) panel = LastActivePanel();
  // A reread that takes longer than the wait places it when it comes.
  if (!cursorName.empty()) panel->PlaceCursorWhenListed(cursorName);
}

// ---------------------------------------------------------------------------
// Drive boxes and root buttons

void TMainForm::SelectDriveOf(const TPanelSide& side) {
  side.DriveCombo->ShowVolumeOf(side.FMPanel->Directory());
}

void TMainForm::DriveComboChange(const TPanelSide& side, int index) {
  const std::string mount = side.DriveCombo->MountPointAt(index);
  if (mount.empty() || !side.FMPanel->ReadDirectory(mount)) {
    SelectDriveOf(side);  // the box shows the panel's volume again
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kMainCaption),
                QStringLiteral("Drive not found"));
    side.FMPanel->setFocus();  // back to the panel, as after a successful change
    return;
  }
  side.FMPanel->setFocus();
  PanelEnter(side);
}

void TMainForm::RootButtonClick(const TPanelSide& side) {
  const std::string mount =
      platform::MountPointOf(side.FMPanel->Directory(), side.DriveCombo->Volumes());
  std::string error;
  if (!side.FMPanel->ReadDirectory(mount.empty() ? std::string("/") : mount, &error))
    ShowGeneralError(platform::ToDisplay(error));  // the panel stays where it was
  side.FMPanel->setFocus();
  PanelEnter(side);
}

// ---------------------------------------------------------------------------
// Commands and shutdown

void TMainForm::mnuFileExitClick() { close(); }

void TMainForm::mnuHlpAboutClick() { aboutForm_->exec(); }

void TMainForm::closeEvent(QCloseEvent* event) {
  for (const auto& guard : closeGuards_)
    if (!guard()) {
      event->ignore();
      return;
    }
  // Everything in one replacement of the file; a failed save is reported,
  // and the window closes regardless.
  platform::IniFile& ini = *settings_;
  ini.BeginUpdate();
  SaveSettings(*this, ini);
  lists_.Save(ini);
  for (const auto& saver : settingsSavers_) saver(ini);
  if (!ini.EndUpdate()) ReportUnwritable(ini);
  event->accept();
}

}  // namespace vantrel::app
