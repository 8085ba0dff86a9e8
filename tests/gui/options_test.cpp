// options_test.cpp - the settings dialogs and colour schemes on the real main
// window, offscreen, with scripted file and colour dialogs: what each applies,
// to which panel, and what reaches the settings file; and the translation
// files: property paths by object name, list values, switching languages, bad
// values, and the shipped files.
#include <sys/stat.h>

#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QRegularExpression>
#include <QRadioButton>
#include <QStyleOption>
#include <QGroupBox>
#include <QHeaderView>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QMenu>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <map>
#include <set>
#include <optional>

#include "app/dialogs/colorform.h"
#include "app/dialogs/conflict_list.h"
#include "app/dialogs/operationsform.h"
#include "app/dialogs/overwrite_question.h"
#include "app/dialogs/propertiesform.h"
#include "app/commands/file_commands.h"
#include "app/commands/archive_entries.h"
#include "app/commands/zip_commands.h"
#include "app/commands/item_menu.h"
#include "app/dialogs/common_dialogs.h"
#include "app/dialogs/findfileform.h"
#include "app/dialogs/generalsettingsform.h"
#include "app/dialogs/multirenameform.h"
#include "app/dialogs/syncdirsform.h"
#include "app/settings/lang.h"
#include "app/settings/message_table.h"
#include "app/commands/options_commands.h"
#include "app/dialogs/panelsettingsform.h"
#include "app/settings/settings.h"
#include "app/window/key_bar.h"
#include "app/panels/archive_places.h"
#include "app/panels/trash_place.h"
#include "app/panels/quick_view.h"
#include "app/panels/drivecombo.h"
#include "fileops/job.h"
#include "fileops/qt/operationform.h"
#include "fileops/trash_operation.h"
#include "platform/qt/wording.h"
#include "platform/text.h"
#include "gui_support.h"
#include "panels/dirmodel.h"
#include "platform/ini.h"
#include "platform/install_paths.h"
#include "platform/process.h"
#include "platform/qt/colors.h"
#include "platform/qt/volumes.h"
#include "platform/places.h"
#include "vfs/source.h"
#include "platform/text.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TLanguage;
using app::TMsg;
using panels::TFMPanel;
using platform::TColor;

namespace {

// Scripted common dialogs: each answers the next queued value and keeps what it was asked.
std::deque<QString> g_files;
app::TFileRequest g_request;
QColor g_pickedColor, g_pickerStart;
QString g_itemChoice;            // the item the list dialog answers
QStringList g_items;             // what it offered,
QString g_itemCurrent;           // with this one chosen at the start

int ScriptedItem(QWidget*, const QString&, const QString&, const QStringList& items, int current) {
  g_items = items, g_itemCurrent = items.value(current);
  return static_cast<int>(items.indexOf(g_itemChoice));
}

QString ScriptedFile(QWidget*, const app::TFileRequest& request) {
  g_request = request;
  const QString next = g_files.empty() ? QString() : g_files.front();
  if (!g_files.empty()) g_files.pop_front();
  return next;
}

// The six colours of a panel in the fixed role order.
std::vector<TColor> Colors(const TFMPanel* p) {
  return {p->Color(), p->CursorColor(), p->FileColor(), p->SelectedColor(), p->CurrentColor(), p->CurSelColor()};
}
const std::vector<TColor> kDefaultColors = {platform::clWindow, platform::clWindow,     platform::clWindowText,
                                            platform::clRed,    platform::clWindowText, platform::clRed};

std::string Shipped(const char* name) {
  return std::string(std::getenv("VANTREL_SOURCE_DIR")) + "/app/language/" + name;
}

// ------------------------------------------------------------ shown texts

// What marks every text of the probe language.
const QString kProbe = QStringLiteral("\u00bb");

// The shipped English file with every text marked: list values item by item.
std::string ProbeLanguage() {
  std::string out;
  for (const QString& line : ReadText(Shipped("English.lng")).split('\n')) {
    const qsizetype eq = line.indexOf('=');
    if (line.startsWith(';') || line.startsWith('[') || eq < 0) {
      out += line.toUtf8().toStdString() + "\n";
      continue;
    }
    // Each item of a list, and each form of a counted message.
    QStringList items = line.mid(eq + 1).split(';');
    for (QString& item : items) {
      QStringList forms = item.split('|');
      for (QString& form : forms) form.prepend(kProbe);
      item = forms.join(QLatin1Char('|'));
    }
    out += (line.left(eq + 1) + items.join(QLatin1Char(';'))).toUtf8().toStdString() + "\n";
  }
  return out;
}

// Words, not names of pages, keys or encodings ("CP437", "UTF-16 LE", "F2").
bool HasWords(const QString& text) {
  for (qsizetype i = 1; i < text.size(); ++i)
    if (text[i - 1].isLower() && text[i].isLower()) return true;
  return false;
}

bool OwnWindow(const QObject* object) {
  const auto* widget = qobject_cast<const QWidget*>(object);
  return widget != nullptr && widget->isWindow() &&
         (widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog);
}

// Every text a person sees in `object` and inside it, not entering other
// windows: titles, captions, labels, tool tips, choices, column titles, each
// as "object name: text".
void CollectShownTexts(QObject* object, bool top, QStringList& out) {
  if (!top && OwnWindow(object)) return;
  const auto add = [&](const QString& text) {
    if (HasWords(text)) out << object->objectName() + ": " + text;
  };
  const auto titles = [&](QAbstractItemModel* model) {
    for (int i = 0; i < model->columnCount(); ++i) add(model->headerData(i, Qt::Horizontal).toString());
  };
  if (auto* action = qobject_cast<QAction*>(object)) {
    if (!action->isSeparator()) add(action->text()), add(action->toolTip());
  } else if (auto* menu = qobject_cast<QMenu*>(object)) {
    add(menu->title());
  } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
    add(group->title());
  } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
    add(button->text());
  } else if (auto* label = qobject_cast<QLabel*>(object)) {
    add(label->text());
  } else if (auto* combo = qobject_cast<QComboBox*>(object)) {
    for (int i = 0; i < combo->count(); ++i) add(combo->itemText(i));
  } else if (auto* view = qobject_cast<QTreeView*>(object)) {
    if (!view->isHeaderHidden()) titles(view->model());
  } else if (auto* table = qobject_cast<QTableView*>(object)) {
    if (!table->horizontalHeader()->isHidden()) titles(table->model());
  } else if (auto* edit = qobject_cast<QLineEdit*>(object)) {
    add(edit->placeholderText());
  }
  if (auto* widget = qobject_cast<QWidget*>(object)) {
    if (top) add(widget->windowTitle());
    add(widget->toolTip());
  }
  for (QObject* child : object->children()) CollectShownTexts(child, false, out);
}

// Texts that are the user's data or the program's name, not its wording:
// object names, or "*" for any object.
const struct {
  const char* object;
  const char* text;  // "" any
} kNotWording[] = {
    {"LeftDirectoryPanel", ""}, {"RightDirectoryPanel", ""},  // the directory
    {"LeftInfoPanel", ""},      {"RightInfoPanel", ""},       // worded by the panel texts
    {"LeftFilePanel", ""},      {"RightFilePanel", ""},
    {"CommandPrompt", ""},                                    // the directory
    {"*", "Vantrel"},           {"*", "Vantrel v. 1.6 (beta)"}, {"InfoLabel", ""},
    {"PropName", ""},           {"PropPath", ""},  {"PropType", ""},  {"PropOwner", ""},  {"PropGroup", ""},
    {"FormatCombo", ""},                                      // names of archive formats
    {"ItemOpenWithApp", ""},                                  // named by their desktop files
};

// The shown texts of `window` without the probe's mark.
QStringList UnmarkedTexts(QWidget* window) {
  QStringList shown, unmarked;
  CollectShownTexts(window, true, shown);
  // The volumes and places of the drive boxes are named by the system.
  QStringList volumes;
  for (const platform::Volume& volume : platform::ListVolumes()) volumes << platform::VolumeDisplayText(volume);
  for (const platform::Place& place : platform::UserPlaces()) volumes << platform::ToDisplay(place.label);
  for (const QString& line : shown) {
    const qsizetype colon = line.indexOf(QLatin1String(": "));
    const QString object = line.left(colon), text = line.mid(colon + 2);
    if (object.endsWith(QLatin1String("DriveCombo")) && volumes.contains(text)) continue;
    const bool data = std::any_of(std::begin(kNotWording), std::end(kNotWording), [&](const auto& n) {
      return (object == QLatin1String(n.object) || *n.object == '*') && (*n.text == '\0' || text == QLatin1String(n.text));
    });
    if (!data && !text.contains(kProbe)) unmarked << window->objectName() + "/" + line;
  }
  return unmarked;
}

}  // namespace

class OptionsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;

  TFMPanel* L() const { return f_->L(); }
  TFMPanel* R() const { return f_->R(); }
  // Clicks `button` of `dialog`.
  static void Click(QWidget* dialog, const char* button) {
    QTest::mouseClick(dialog->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
  }
  void Trigger(const char* command, std::initializer_list<QString> files = {}) {
    g_files = files, f_->Action(command)->trigger();
  }
  TLanguage& Language() const { return app::Language(*f_->form); }
  std::string File(const char* name, const std::string& text) const {
    return WriteText(f_->Path(name), text), f_->Path(name);
  }
  // The user's own folder for schemes and translations, beside the settings.
  std::string UserDir() const { return f_->Path("vantrel"); }
  // A translation file `name`.lng in the user's folder, chosen from the list.
  void Select(const char* name, const std::string& text) {
    QVERIFY(MakeDir(UserDir() + "/Language"));
    WriteText(UserDir() + "/Language/" + name + ".lng", text);
    g_itemChoice = QLatin1String(name);
    f_->Action("SelectLanguage")->trigger();
  }
  // A menu's title without the "&" of its underlined letter.
  QString Menu(const char* name) const { return f_->Find<QMenu>(name)->title().remove(QLatin1Char('&')); }
  static QString Caption(const char* path) {
    QString property;
    QObject* object = TLanguage::Resolve(QLatin1String(path), &property);
    return object ? TLanguage::ReadProperty(object, property, QStringLiteral(";")).value_or("<no property>")
                  : QStringLiteral("<none>");
  }

 private slots:
  void initTestCase() {
    app::SetFileDialogHandler(&ScriptedFile);
    app::SetItemDialogHandler(&ScriptedItem);
    app::SetColorDialogHandler([](QWidget*, QColor& color) {
      g_pickerStart = std::exchange(color, g_pickedColor);
      return g_pickedColor.isValid();
    });
  }
  void init() {
    f_ = std::make_unique<TFormFixture>();
    QVERIFY(f_->Show());
  }
  void cleanup() {
    f_.reset();
    app::BuildMessagesTable();
  }

  // A scheme saved in one run and loaded in another gives both panels all six
  // colours, and the settings file's COLOR section equals the scheme's.
  void schemeSavedInOneRunLoadsInAnother() {
    const std::vector<TColor> mine = {0x112233, 0x445566, 0x778899, platform::clWindowText, 0x00FF00, 0xABCDEF};
    const std::string scheme = f_->Path("mine");
    L()->SetColor(mine[0]), L()->SetCursorColor(mine[1]), L()->SetFileColor(mine[2]);
    L()->SetSelectedColor(mine[3]), L()->SetCurrentColor(mine[4]), L()->SetCurSelColor(mine[5]);
    Trigger("mnuOptSaveScheme", {Q(scheme)});  // the real dialog adds ".vnp"
    QCOMPARE(g_request.directory, Q(UserDir() + "/"));  // the user's folder, made when missing
    QVERIFY(platform::IsDirectory(UserDir()));
    f_->form->close();
    QFile::remove(Q(f_->ini));
    QVERIFY(f_->Show() && Colors(R()) == kDefaultColors);
    Trigger("mnuOptLoadScheme", {Q(scheme)});
    QVERIFY(Colors(L()) == mine && Colors(R()) == mine);
    QCOMPARE(f_->Section("COLOR"), SectionLines(ReadText(scheme), QStringLiteral("COLOR")));
    // A language file chosen as a scheme has no COLOR: every colour resets.
    Trigger("mnuOptLoadScheme", {Q(File("x.lng", "[Translations]\nMainForm.Caption=X\n"))});
    QCOMPARE(Colors(L()), kDefaultColors);
    // Saving into an existing file replaces COLOR only.
    const std::string shared = File("shared.vnp", "[GENERAL]\nEditor=vi\n[COLOR]\nBack=1\nExtra=yes\n");
    L()->SetColor(7);
    Trigger("mnuOptSaveScheme", {Q(shared)});
    QCOMPARE(SectionLines(ReadText(shared), QStringLiteral("GENERAL")), QStringList{"Editor=vi"});
    for (const char* line : {"Back=7", "Extra=yes"})
      QVERIFY(SectionLines(ReadText(shared), QStringLiteral("COLOR")).contains(QLatin1String(line)));
    QVERIFY(ShownMessages().empty());
  }

  void selectColorStartsFromThePanelAndOkWritesColor() {
    R()->SetFileColor(0x00AA00);
    L()->SetFileColor(0x0000AA);
    auto* colors = f_->Find<app::TColorForm>("ColorForm");
    g_pickedColor = QColor(1, 2, 3);
    for (const char* button : {"CancelButton", "OkButton"}) {  // Cancel discards the swatches
      QVERIFY(f_->RunModal("mnuOptSelColors", colors, [&] {
        QCOMPARE(colors->Swatch(2), TColor{0x0000AA});  // the active panel's
        Click(colors, "ChangeFile");
        QCOMPARE(colors->Swatch(2), TColor{0x030201});
        if (button[0] == 'O') {
          g_pickedColor = QColor(0x10, 0x20, 0x30);
          Click(colors, "ChangeFile");  // each change starts from the panel's colour, not the swatch
          QCOMPARE(g_pickerStart, QColor(0xAA, 0, 0));
        }
        Click(colors, button);
      }));
    }
    QCOMPARE(R()->FileColor(), TColor{0x302010});
    // System colours the user did not change stay system colours.
    QCOMPARE(f_->Section("COLOR"), QStringList({"Back=-2147483643", "Cursor=-2147483643", "File=3153936",
                                                "Selected=255", "Current=-2147483640", "CurSel=255"}));
  }

  // Files that cannot be written: the error names the file, what was applied
  // stays, the dialog that wrote stays open, and no file is half-written.
  void unwritableFilesAreReportedAndAppliedValuesStay() {
    f_->form->close();
    WriteText(f_->ini, "[COLOR]\nBack=5\n");
    QCOMPARE(::chmod(f_->ini.c_str(), 0444), 0);
    QVERIFY(f_->Show(false));
    Script().shown.clear();
    g_pickedColor = QColor(0, 0, 255);
    auto* colors = f_->Find<app::TColorForm>("ColorForm");
    bool stayedOpen = false;
    QVERIFY(f_->RunModal("mnuOptSelColors", colors, [&] {
      Click(colors, "ChangeBack");
      Click(colors, "OkButton");
      stayedOpen = colors->isVisible();
    }));
    QVERIFY(stayedOpen && R()->Color() == platform::clBlue);
    QCOMPARE(ReadText(f_->ini), QStringLiteral("[COLOR]\nBack=5\n"));
    // A scheme below a plain file cannot be written either.
    const std::string blocked = File("plain", "x") + "/s.vnp";
    Trigger("mnuOptSaveScheme", {Q(blocked)});
    QCOMPARE(Script().Texts(), QStringList({"Unable to write to " + Q(f_->ini), "Unable to write to " + Q(blocked)}));
    QCOMPARE(::chmod(f_->ini.c_str(), 0644), 0);
  }

  // What typing does to a width field once it loses the focus.
  void widthFieldsSettleOnFocusLoss() {
    auto* dialog = f_->Find<app::TPanelSettingsForm>("PanelSettingsForm");
    QVERIFY(f_->RunModal("mnuLftSettings", dialog, [&] {
      QApplication::setActiveWindow(dialog);
      QVERIFY(QTest::qWaitForWindowActive(dialog));
      QSpinBox* spin = dialog->WidthSpin(1);
      for (auto [typed, value] : {std::pair{"20000", 10000}, {"250", 250}, {"-7", 0}, {"", 0}, {"-", 0}, {"12abc", 12}}) {
        spin->setFocus();
        spin->selectAll();
        QTest::keyClick(spin, Qt::Key_Delete);
        QTest::keyClicks(spin, QLatin1String(typed));
        dialog->WidthSpin(2)->setFocus();
        QCOMPARE(spin->text(), QString::number(value));
        QCOMPARE(spin->value(), value);
      }
      spin->setFocus();
      spin->selectAll();
      QTest::keyClicks(spin, QStringLiteral("321"));
      QTest::keyClick(spin, Qt::Key_Return);  // Ok is the default button
    }));
    QCOMPARE(L()->ExtWidth(), 321);
  }

  // The terminal field shows the settings file's Terminal (empty: the
  // desktop's), Ok writes what was typed and Shift+F9 starts it in the
  // active panel's directory; Default brings back the desktop's terminal.
  void generalSettingsNameTheTerminal() {
    QVERIFY(f_->Show());
    auto* dialog = f_->Find<app::TGeneralSettingsForm>("GeneralSettingsForm");
    const std::string script = f_->Path("term.sh"), out = f_->Path("term.out");
    WriteText(script, "#!/bin/sh\npwd > '" + out + "'\n");
    QVERIFY(::chmod(script.c_str(), 0755) == 0);
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      QVERIFY(dialog->TerminalCommand()->text().isEmpty());
      dialog->TerminalCommand()->setText(Q(script));
      Click(dialog, "OkButton");
    }));
    QVERIFY(f_->Section("GENERAL").contains(Q("Terminal=" + script)));
    QVERIFY(f_->Press(L(), Qt::Key_F9, Qt::ShiftModifier));
    QTRY_COMPARE(ReadText(out).trimmed(), Q(f_->left));
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      QCOMPARE(dialog->TerminalCommand()->text(), Q(script));
      Click(dialog, "DefTerminalButton");
      QVERIFY(dialog->TerminalCommand()->text().isEmpty());
      Click(dialog, "OkButton");
    }));
    QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("Terminal=")));
    QCOMPARE(f_->form->Settings().ReadString("GENERAL", "Terminal", "x"), std::string());
  }

  // Cancel keeps the commands but the edited text is shown next time; Ok
  // takes the texts as typed and writes them at once.
  void generalSettingsCancelKeepsTextOkWrites() {
    auto* dialog = f_->Find<app::TGeneralSettingsForm>("GeneralSettingsForm");
    const std::string editor = f_->form->EditorCommand;
    QCOMPARE(editor, std::string("notepad.exe"));
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      // What F4 really starts, not the portable default's name.
      QCOMPARE(dialog->EditorPath()->text(), Q(platform::DefaultEditor()));
      dialog->EditorPath()->setText(QStringLiteral("kate --new"));
      Click(dialog, "CancelButton");
    }));
    QCOMPARE(f_->form->EditorCommand, editor);
    QCOMPARE(KeysOf(f_->Section("GENERAL")), QStringList({"LeftPath", "RightPath"}));  // nothing written
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      QCOMPARE(dialog->EditorPath()->text(), QStringLiteral("kate --new"));
      g_files = {QStringLiteral("/opt/tools/my viewer")};
      Click(dialog, "BrowseViewer");
      QVERIFY(g_request.programs);
      Click(dialog, "OkButton");
    }));
    QCOMPARE(f_->form->ViewerCommand, std::string("/opt/tools/my viewer"));
    QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("Editor=kate --new")));
    // "Default" shows the platform's editor, and the file keeps the portable name.
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      Click(dialog, "DefEditButton");
      QCOMPARE(dialog->EditorPath()->text(), Q(platform::DefaultEditor()));
      Click(dialog, "OkButton");
    }));
    QCOMPARE(f_->form->EditorCommand, std::string("notepad.exe"));
    QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("Editor=notepad.exe")));
  }

  // The threads for packing and unpacking: "auto" (0) by default, written
  // on Ok only when changed, shown again at the next opening; a hand-edited
  // value out of range reads as "auto".
  void threadsSettingShowsAutoAndIsWrittenOnOk() {
    auto* dialog = f_->Find<app::TGeneralSettingsForm>("GeneralSettingsForm");
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      QCOMPARE(dialog->ThreadsSpin()->value(), 0);
      QCOMPARE(dialog->ThreadsSpin()->text(), QStringLiteral("auto"));
      Click(dialog, "OkButton");
    }));
    QVERIFY(!KeysOf(f_->Section("GENERAL")).contains(QStringLiteral("ArchiveThreads")));
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      dialog->ThreadsSpin()->setValue(3);
      Click(dialog, "CancelButton");
    }));
    QVERIFY(!KeysOf(f_->Section("GENERAL")).contains(QStringLiteral("ArchiveThreads")));
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      QCOMPARE(dialog->ThreadsSpin()->value(), 0);  // Cancel kept nothing
      dialog->ThreadsSpin()->setValue(3);
      Click(dialog, "OkButton");
    }));
    QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("ArchiveThreads=3")));
    QVERIFY(f_->RunModal("mnuOptGenSettings", dialog, [&] {
      QCOMPARE(dialog->ThreadsSpin()->value(), 3);
      Click(dialog, "CancelButton");
    }));
    const struct {
      const char* line;
      int threads;
    } cases[] = {{"", 0}, {"ArchiveThreads=2\n", 2}, {"ArchiveThreads=64\n", 64}, {"ArchiveThreads=0x10\n", 16},
                 {"ArchiveThreads=65\n", 0}, {"ArchiveThreads=-1\n", 0}, {"ArchiveThreads=two\n", 0}};
    for (const auto& c : cases) {
      const std::string path = File("threads.ini", std::string("[GENERAL]\n") + c.line);
      QCOMPARE(app::ArchiveThreads(platform::IniFile(path)), c.threads);
    }
  }

  // ------------------------------------------------------------ languages

  // Paths resolve by object name without regard to case and blanks: a window
  // first, then what is inside it; the value goes to the property it names.
  void pathsReachTheirWindowsAndControls() {
    const std::pair<const char*, const char*> cases[] = {
        // as written in a file, the same property by its canonical path
        {"zippanel.Caption", "ZipPanel.Caption"},
        {" ZIPPANEL . filemenu . CAPTION ", "ZipPanel.FileMenu.Caption"},
        {"MainForm.CopyFileButton.Hint", "MainForm.CopyFileButton.Hint"},
        {"NewFileForm.Label1.Caption", "NewFileForm.Label1.Caption"}};
    int n = 0;
    for (const auto& [path, canonical] : cases) {
      const QString value = QStringLiteral("T%1").arg(n++);
      QVERIFY(Language().Apply(QLatin1String(path), value));
      QCOMPARE(Caption(canonical), value);
    }
    QCOMPARE(f_->form->findChild<QDialog*>(QStringLiteral("ZIPpanel"))->windowTitle(), QStringLiteral("T0"));
    // A list replaces the items it names, each trimmed.
    QVERIFY(Language().Apply(QStringLiteral("PanelSettingsForm.SortGroup.Items"), QStringLiteral(" x ;; y ")));
    QCOMPARE(Caption("PanelSettingsForm.SortGroup.Items"), QStringLiteral("x;;y;By date;By time"));
    // Paths that lead nowhere and empty values change nothing.
    for (const char* path : {"NoSuchForm.Caption", "MainForm.NoSuchControl.Caption", "MainForm.mnuFiles.NoSuchProperty",
                             "mnuFiles.Caption", ""})
      QVERIFY(Language().Apply(QLatin1String(path), QStringLiteral("X")));
    QVERIFY(Language().Apply(QStringLiteral("MainForm.mnuFiles.Caption"), QString()));
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("Files"));
    QCOMPARE(Caption("MainForm.Label1.Caption"), QStringLiteral("<none>"));  // a dialog is reached by its own name
    // A caption a window changes while it works comes back translated.
    QVERIFY(Language().Apply(QStringLiteral("FindFileForm.StartButton.Caption"), QStringLiteral("Suche starten")));
    auto* find = f_->Find<app::TFindFileForm>("FindFileForm");
    find->PathEdit()->setText(Q(f_->left));
    QTest::mouseClick(find->StartButton(), Qt::LeftButton);
    QCOMPARE(find->StartButton()->text(), QStringLiteral("Suche starten"));
  }

  // From language A to a file B that lacks some paths: those keep A's texts,
  // while messages B lacks come back in English.
  void switchingKeepsMissingTextsAndResetsMissingMessages() {
    Select("a", "[Translations]\nMainForm.mnuFiles.Caption=A-Files\nMainForm.mnuFileCopy.Caption=A-Copy\n"
                "[Messages]\nThere are no selected files=A-none\nDrive not found=A-drive\n");
    QVERIFY2(g_items.contains(QStringLiteral("a")), qPrintable(g_items.join('|')));  // by name, from the user's folder
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("A-Files"));
    QCOMPARE(app::Msg(TMsg::NoSelectedFiles), QStringLiteral("A-none"));
    Select("b", "[Translations]\nMainForm.mnuFileCopy.Caption=B-Copy\n"
                "[Messages]\nDrive not found=B-drive\nOperation aborted=\n");
    QVERIFY(g_items.contains(QStringLiteral("a")) && g_items.contains(QStringLiteral("b")));
    QCOMPARE(g_itemCurrent, QStringLiteral("a"));  // the language in use comes chosen
    QCOMPARE(Menu("mnuFiles") + "|" + f_->Action("mnuFileCopy")->text().remove(QLatin1Char('&')),
             QStringLiteral("A-Files|B-Copy"));
    QCOMPARE(QStringList({app::Msg(TMsg::NoSelectedFiles), app::Msg(TMsg::DriveNotFound), app::Msg(TMsg::OperationAborted)}),
             QStringList({"There are no selected files", "B-drive", "Operation aborted"}));
    QVERIFY(ShownMessages().empty());
  }

  // A value that is no whole number for an integer property ends the run
  // with the error: what came before stays set, nothing after is, the
  // file's messages still apply, and the next run works.
  void noWholeNumberStopsTheRun() {
    const QSize before = f_->form->size();
    Language().Properties = {"MainForm.mnuFiles.Caption", "MainForm.Width", "MainForm.mnuHelp.Caption"};
    Select("bad", "[Translations]\nMainForm.mnuFiles.Caption=Eins\nMainForm.Width=breit\n"
                  "MainForm.mnuHelp.Caption=Drei\n[Messages]\nDrive not found=Kein Laufwerk\n");
    QCOMPARE(Script().Texts(), QStringList({"'breit' is not a valid integer value"}));
    QCOMPARE(Menu("mnuFiles") + "|" + Menu("mnuHelp"), QStringLiteral("Eins|Help"));
    QCOMPARE(f_->form->size(), before);
    QCOMPARE(app::Msg(TMsg::DriveNotFound), QStringLiteral("Kein Laufwerk"));
    Select("good", "[Translations]\nMainForm.Width=$1F4\nMainForm.mnuHelp.Caption=Drei\n");
    QVERIFY(f_->form->width() == 500 && Menu("mnuHelp") == QStringLiteral("Drei"));
  }

  // The shipped German and Russian files leave nothing of the window in
  // English: column titles, the lines under the panels, the pack form's
  // encryption, the buttons of message boxes and input dialogs; the pack
  // form grows to its longest text. Back to no file, the buttons are English.
  void shippedTranslationsCoverTheWindow() {
    const auto buttons = [] {
      QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Yes | QMessageBox::Cancel);
      return box.button(QMessageBox::Yes)->text() + "|" + box.button(QMessageBox::Cancel)->text();
    };
    const struct {
      const char* file;  // "" for none
      const char* headers;
      const char* zipColumns;
      const char* encrypt;
      const char* dirLine;
      const char* free;
      const char* buttons;
      const char* keyF3;       // the key bar, worded while the program runs
      const char* trash;       // the drive box's last place
      const char* operations;  // a window made after the language was chosen
    } cases[] = {
        {"German.lng", "Name;Erw.;Größe;Datum;Zeit", "Dateiname;Größe;Pfad;Geändert", "Verschlüsseln (AES-256)",
         "[..]:  VERZEICHNIS", " frei", "&Ja|Abbrechen", "F3 Ansicht", "Papierkorb", "Vorgänge"},
        {"Russian.lng", "Имя;Расш.;Размер;Дата;Время", "Имя файла;Размер;Путь;Изменён", "Зашифровать (AES-256)",
         "[..]:  КАТАЛОГ", "свободно ", "&Да|Отмена", "F3 Просмотр", "Корзина", "Операции"},
        {"", "Имя;Расш.;Размер;Дата;Время", "Имя файла;Размер;Путь;Изменён", "Зашифровать (AES-256)",
         "[..]:  DIRECTORY", " free", "&Yes|Cancel", "F3 View", "Trash", "Операции"},
    };
    auto* drives = f_->Find<QComboBox>("LeftDriveCombo");
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      QCOMPARE(Caption("MainForm.LeftHeader.Items"), QString::fromUtf8(c.headers));  // (none keeps the last)
      QCOMPARE(Caption("MainForm.RightHeader.Items"), QString::fromUtf8(c.headers));
      QCOMPARE(Caption("ZipPanel.ListView.Items"), QString::fromUtf8(c.zipColumns));
      QCOMPARE(Caption("PackForm.EncryptCheck.Caption"), QString::fromUtf8(c.encrypt));
      QCOMPARE(f_->form->Left().FilePanel->text(), QString::fromUtf8(c.dirLine));
      QVERIFY2(f_->form->Left().InfoPanel->text().contains(QString::fromUtf8(c.free)),
               qPrintable(f_->form->Left().InfoPanel->text()));
      QCOMPARE(buttons(), QString::fromUtf8(c.buttons));
      QCOMPARE(f_->Find<QToolButton>("KeyF3")->text(), QString::fromUtf8(c.keyF3));
      QCOMPARE(drives->itemText(drives->count() - 1), QString::fromUtf8(c.trash));
      QCOMPARE(app::ShowOperations(*f_->form)->windowTitle(), QString::fromUtf8(c.operations));
      if (std::string(c.file) == "Russian.lng") {
        auto* pack = f_->Find<QDialog>("PackForm");
        pack->show();
        auto* level = pack->findChild<QLabel*>(QStringLiteral("Label2"));
        QVERIFY2(level->width() >= level->sizeHint().width(), qPrintable(level->text()));
        pack->hide();
      }
    }
  }

  // While the active panel shows the Trash the key bar names what the keys
  // do there, in the language chosen (a word left in English fails): F5 and
  // F6 put back, F8 erases, F4 and F7 are refused and show nothing. The other
  // panel's keys are the usual ones, and so are the keys after leaving.
  void keyBarFollowsTheTrashPlace() {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const struct {
      const char* file;  // "" for none
      const char* copy;
      const char* putBack;
      const char* erase;
      const char* del;
    } cases[] = {
        {"", "Copy", "Put back", "Erase", "Delete"},
        {"German.lng", "Kopier.", "Zurück", "Vernichten", "Löschen"},
        {"Russian.lng", "Копия", "Вернуть", "Стереть", "Удалить"},
    };
    app::TKeyBar* bar = f_->form->KeyBar();
    const auto text = [bar](int key) { return bar->Button(key)->text(); };
    const auto word = [](int key, const char* w) { return QStringLiteral("F%1 ").arg(key) + QString::fromUtf8(w); };
    app::TDriveCombo* box = f_->form->Left().DriveCombo;
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      emit box->activated(box->count() - 1);  // the Trash, the drive box's last place
      QCOMPARE(L()->Directory(), std::string("trash:///"));
      QVERIFY(bar->TrashPlace());
      QCOMPARE(QStringList({text(5), text(6), text(8)}),
               QStringList({word(5, c.putBack), word(6, c.putBack), word(8, c.erase)}));
      for (int key : {4, 7}) QVERIFY(text(key) == word(key, "") && !bar->Button(key)->isEnabled());
      QCOMPARE(bar->Command(5), f_->Action("mnuFileCopy"));  // restores, as the key does
      QCOMPARE(bar->Command(8), f_->Action("mnuFileDelete"));
      bar->ShowLayer(Qt::ShiftModifier);
      QVERIFY(!bar->Button(6)->isEnabled() && bar->Command(6) == nullptr);  // no renaming in the Trash
      bar->ShowLayer(Qt::NoModifier);
      // The other panel active: its keys.
      R()->setFocus();
      QTRY_COMPARE(text(5), word(5, c.copy));
      L()->setFocus();
      QTRY_COMPARE(text(5), word(5, c.putBack));
      // ".." leaves the Trash.
      QVERIFY(f_->Put(L(), "..") && f_->Press(L(), Qt::Key_Return));
      QCOMPARE(L()->Directory(), app::TrashParentDirectory());
      QVERIFY(!bar->TrashPlace());
      QCOMPARE(QStringList({text(5), text(8)}), QStringList({word(5, c.copy), word(8, c.del)}));
      QVERIFY(bar->Button(4)->isEnabled() && bar->Button(7)->isEnabled());
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
    qunsetenv("XDG_DATA_HOME");
  }

  // A key bar label may be shortened to fit while the same word in a menu
  // stays whole: the key bar reads section "Key bar", the menus "Messages";
  // a file without that section gives the key bar the menus' word.
  void keyBarLabelsAreTheirOwn() {
    WriteText(f_->left + "/b.txt", "b");
    QVERIFY(L()->Reread() && f_->Put(L(), "b.txt"));
    const struct {
      const char* file;  // shipped, or written here
      const char* key;   // F5, F6 on the key bar
      const char* menu;  // the entry menu's Copy and Move
    } cases[] = {
        {"German.lng", "F5 Kopier.|F6 Versch.", "Kopieren\tF5|Verschieben\tF6"},
        {"Russian.lng", "F5 Копия|F6 Перенос", "Копировать\tF5|Переместить\tF6"},
        {"English.lng", "F5 Copy|F6 Move", "Copy\tF5|Move\tF6"},
        {"", "F5 Kopie|F6 Schieben", "Kopie\tF5|Schieben\tF6"},
    };
    app::TKeyBar* bar = f_->form->KeyBar();
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file)
                                        : File("old.lng", "[Language]\nPlural rule=one-other\n[Messages]\nCopy=Kopie\nMove=Schieben\n");
      app::ApplyLanguage(*f_->form);
      QCOMPARE(bar->Button(5)->text() + '|' + bar->Button(6)->text(), QString::fromUtf8(c.key));
      std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
      QStringList items;
      for (const char* name : {"ItemCopy", "ItemMove"}) items << menu->findChild<QAction*>(QLatin1String(name))->text();
      QCOMPARE(items.join('|'), QString::fromUtf8(c.menu));
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The shipped files: every path and message in every file, the English one
  // equal to the built-in texts, list values with as many items as the group
  // has choices.
  void shippedFilesAreComplete() {
    const QStringList& paths = app::TranslatedProperties();
    QCOMPARE(paths.size(), 192);
    std::vector<std::string> keys, english;
    for (const QString& path : paths) keys.push_back(path.toStdString());
    for (int i = 0; i < app::kMessageCount; ++i) english.emplace_back(app::EnglishMessage(static_cast<TMsg>(i)));
    std::map<std::string, std::vector<std::optional<std::string>>> files;
    for (const char* name : {"English.lng", "German.lng", "Russian.lng"}) {
      files[name] = platform::ReadIniKeys(Shipped(name), "Translations", keys);
      const auto messages = platform::ReadIniKeys(Shipped(name), "Messages", english);
      for (size_t i = 0; i < english.size(); ++i) {
        QVERIFY2(messages[i] && !messages[i]->empty(), qPrintable(QLatin1String(name) + " " + Q(english[i])));
        if (name == std::string("English.lng")) QCOMPARE(*messages[i], english[i]);
      }
    }
    // Every path reaches a property of its window (the windows made later
    // are opened for it), and every file has its value.
    std::set<QString> checked;
    const auto checkPaths = [&] {
      for (qsizetype i = 0; i < paths.size(); ++i) {
        QString property;
        QObject* object = TLanguage::Resolve(paths[i], &property);
        const auto builtIn = object ? TLanguage::ReadProperty(object, property, QStringLiteral(";")) : std::nullopt;
        if (!builtIn) continue;
        checked.insert(paths[i]);
        const QByteArray path = paths[i].toUtf8();
        for (auto& [name, values] : files) {
          const auto& value = values[static_cast<size_t>(i)];
          QVERIFY2(value && !value->empty(), qPrintable(Q(name) + " " + paths[i]));
          if (property == QLatin1String("Items"))
            QVERIFY2(Q(*value).count(';') == builtIn->count(';'), path);
        }
        // Values are trimmed in a file: built-in texts may end in a blank.
        QVERIFY2(Q(*files["English.lng"][static_cast<size_t>(i)]) == builtIn->trimmed(), path);
      }
    };
    app::ShowOperations(*f_->form);
    checkPaths();
    QVERIFY(WithModal<QDialog>([&] { f_->Action("mnuCmndSyncDirs")->trigger(); }, [&](QDialog&) { checkPaths(); }));
    for (const QString& path : paths) QVERIFY2(checked.count(path) != 0, qPrintable(path));
    // The panels' lines keep their placeholders; every button word is there.
    // Every text of the panels has its key (a text added without one fails);
    // besides the texts there is the plural rule.
    QCOMPARE(sizeof(panels::TPanelTexts),
             app::PanelTextKeys().size() * sizeof(std::string) + sizeof(panels::TPanelTexts::formOf));
    std::vector<std::string> lines;
    for (const auto& key : app::PanelTextKeys()) lines.emplace_back(key.first);
    const std::vector<std::string> words = {"OK", "Cancel", "Yes", "No", "Close", "Help",
                                            "Open", "Save", "Abort", "Retry", "Ignore"};
    const auto englishLines = platform::ReadIniKeys(Shipped("English.lng"), "Panel texts", lines);
    const panels::TPanelTexts builtIn;
    for (size_t i = 0; i < lines.size(); ++i)
      QCOMPARE(englishLines[i].value_or(""), builtIn.*app::PanelTextKeys()[i].second);
    for (const char* name : {"English.lng", "German.lng", "Russian.lng"}) {
      const auto texts = platform::ReadIniKeys(Shipped(name), "Panel texts", lines);
      for (size_t i = 0; i < lines.size(); ++i) {
        QVERIFY2(texts[i] && englishLines[i], qPrintable(QLatin1String(name) + " " + Q(lines[i])));
        for (const char* p : {"%1", "%2"})
          QVERIFY2((texts[i]->find(p) == std::string::npos) == (englishLines[i]->find(p) == std::string::npos),
                   qPrintable(QLatin1String(name) + " " + Q(lines[i])));
      }
      for (const auto& word : platform::ReadIniKeys(Shipped(name), "Buttons", words))
        QVERIFY2(word && !word->empty(), name);
    }
    // The words of the English file's messages: each its own key, and in
    // every other file with the same placeholders.
    std::vector<std::string> messageKeys;
    bool inMessages = false;
    for (const QString& line : ReadText(Shipped("English.lng")).split('\n')) {
      if (line.startsWith('[')) inMessages = line == QLatin1String("[Messages]");
      else if (inMessages && !line.startsWith(';') && line.contains('=')) messageKeys.push_back(Std(line.section('=', 0, 0)));
    }
    // A counted message (English forms separated by "|", the last one its
    // key) has in every file as many forms as the file's plural rule.
    QVERIFY(messageKeys.size() > english.size());
    const auto englishTexts = platform::ReadIniKeys(Shipped("English.lng"), "Messages", messageKeys);
    for (const char* name : {"English.lng", "German.lng", "Russian.lng"}) {
      const auto texts = platform::ReadIniKeys(Shipped(name), "Messages", messageKeys);
      const auto rule = platform::ReadIniKeys(Shipped(name), "Language", {"Plural rule"}).front();
      QVERIFY2(rule && (*rule == "one-other" || *rule == "east-slavic"), name);
      for (size_t i = 0; i < messageKeys.size(); ++i) {
        const QString what = QLatin1String(name) + " " + Q(messageKeys[i]);
        QVERIFY2(texts[i] && !texts[i]->empty(), qPrintable(what));
        const bool counted = englishTexts[i] && englishTexts[i]->find('|') != std::string::npos;
        if (name == std::string("English.lng"))
          QVERIFY2(*texts[i] == messageKeys[i] || (counted && texts[i]->ends_with("|" + messageKeys[i])),
                   qPrintable(what));
        if (counted)
          QVERIFY2(Q(*texts[i]).count('|') + 1 == app::PluralFormCount(*rule), qPrintable(what));
        for (const char* p : {"%1", "%2", "%3", "%4", "%5"})
          QVERIFY2((texts[i]->find(p) == std::string::npos) == (messageKeys[i].find(p) == std::string::npos),
                   qPrintable(what));
      }
    }
    // The key bar's labels: every one in every file, the English one equal
    // to the word.
    const std::vector<std::string> labels = app::TKeyBar::Words();
    QVERIFY(labels.size() >= 18);
    for (const char* name : {"English.lng", "German.lng", "Russian.lng"}) {
      const auto values = platform::ReadIniKeys(Shipped(name), "Key bar", labels);
      for (size_t i = 0; i < labels.size(); ++i) {
        QVERIFY2(values[i] && !values[i]->empty(), qPrintable(QLatin1String(name) + " " + Q(labels[i])));
        if (name == std::string("English.lng")) QCOMPARE(*values[i], labels[i]);
      }
    }
    // A bare name in the settings is looked up in the data folder's Language/.
    QCOMPARE(app::LanguagePath("German.lng"), platform::LanguageDirectory() + "German.lng");
  }
  // Every text the program words while it runs (Worded, WordedCount and
  // WordedForm with the English written out in the sources) has its key in
  // the English file, and so in every shipped file (shippedFilesAreComplete):
  // a text added without its key fails here, whichever window shows it.
  void everyWordedTextHasItsKey() {
    const QString root = QString::fromUtf8(std::getenv("VANTREL_SOURCE_DIR"));
    // A call and its first string literal, or the two of a counted one (the
    // second is the key); adjacent literals are one text.
    const QString literals = QStringLiteral("((?:\"(?:[^\"\\\\]|\\\\.)*\"\\s*)+)");
    const QRegularExpression call(QStringLiteral("\\bWorded(Form|Count)?\\(\\s*") + literals +
                                  QStringLiteral("(?:,\\s*") + literals + QStringLiteral(")?"));
    const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    const auto text = [&](const QString& written) {
      QString joined;
      for (auto it = literal.globalMatch(written); it.hasNext();) joined += it.next().captured(1);
      return joined.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    };
    std::vector<std::string> keys;
    QStringList where;
    for (const char* dir : {"app", "fileops", "viewer", "zip", "panels", "platform"}) {
      QDirIterator files(root + '/' + QLatin1String(dir), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                         QDirIterator::Subdirectories);
      while (files.hasNext()) {
        const QString path = files.next();
        for (auto it = call.globalMatch(ReadText(Std(path))); it.hasNext();) {
          const QRegularExpressionMatch m = it.next();
          const bool counted = !m.captured(1).isEmpty();
          if (counted && m.captured(3).isEmpty()) continue;  // not a call with literals
          keys.push_back(Std(text(m.captured(counted ? 3 : 2))));
          where << path.mid(root.size() + 1);
        }
      }
    }
    QVERIFY2(keys.size() > 250, qPrintable(QString::number(keys.size())));
    const auto found = platform::ReadIniKeys(Shipped("English.lng"), "Messages", keys);
    QStringList missing;
    for (size_t i = 0; i < keys.size(); ++i)
      if (!found[i]) missing << where[static_cast<qsizetype>(i)] + ": " + Q(keys[i]);
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join('\n')));
  }

  // With a language whose every text is marked, no window shows a text of
  // its own unmarked: a text added without its key in the English file (and
  // so in every other, see shippedFilesAreComplete) fails here. Windows made
  // after the language was chosen take it too.
  void everyShownTextIsTranslated() {
    Language().LanguageFile = File("probe.lng", ProbeLanguage());
    app::ApplyLanguage(*f_->form);
    QStringList unmarked;
    const auto check = [&](QWidget* window) { unmarked << UnmarkedTexts(window); };
    const auto checkDialog = [&](QDialog& dialog) { check(&dialog); };
    WriteText(f_->left + "/a.txt", "a");
    QVERIFY(L()->Reread());
    QVERIFY(TFormFixture::Mark(L(), "a.txt"));
    for (const char* command : {"mnuFileMultiRename", "mnuCmndCompareDirs", "mnuCmndSyncDirs"})
      QVERIFY2(WithModal<QDialog>([&] { f_->Action(command)->trigger(); }, checkDialog), command);
    app::ShowOperations(*f_->form);
    for (QWidget* window : QApplication::topLevelWidgets())
      if (OwnWindow(window)) check(window);
    QVERIFY(WithModal<QDialog>([&] { app::AskConflictList(f_->form.get(), QStringLiteral("Copy"), {"a"}); }, checkDialog));
    app::TPropertiesForm properties(f_->left + "/a.txt", f_->form.get());
    properties.show();
    check(&properties);
    // What a job's notification says at its end (no window shows it).
    for (const auto& [cancelled, failed] : {std::pair{true, 0}, {false, 0}, {false, 1}, {false, 2}, {false, 5}}) {
      const QString text = app::JobEndText(cancelled, failed);
      if (!text.startsWith(kProbe)) unmarked << QStringLiteral("job end: ") + text;
    }
    QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(QLatin1Char('\n'))));
  }
  // Counted texts in every shipped language, each with the plural form its
  // count takes: a job's end, the questions of the Trash (worded from the
  // English line the program makes) and the entry menu's items for marked
  // entries.
  void countedTextsTakeThePluralForm() {
    enum Text { JobEnd, TrashAsk, EraseAsk, EmptyAsk, MenuCopy, MenuCopyPaths, RetryAsk, DamagedAsk, Jobs, JobsOpen, ArchiveDelete, Written, Skipped, Uncompared };
    const struct {
      const char* file;  // "" for none
      Text text;
      int n;
      const char* worded;
    } cases[] = {
        {"", JobEnd, 1, "Done, 1 item failed"},
        {"", JobEnd, 2, "Done, 2 items failed"},
        {"", TrashAsk, 1, "Move 1 item to the Trash?"},
        {"", TrashAsk, 21, "Move 21 items to the Trash?"},
        {"", MenuCopy, 2, "Copy 2 marked entries\tF5"},
        {"English.lng", JobEnd, 1, "Done, 1 item failed"},
        {"English.lng", JobEnd, 11, "Done, 11 items failed"},
        {"English.lng", TrashAsk, 1, "Move 1 item to the Trash?"},
        {"English.lng", TrashAsk, 0, "Move 0 items to the Trash?"},
        {"English.lng", EraseAsk, 1, "Delete 1 item permanently? They cannot be restored."},
        {"English.lng", EraseAsk, 104, "Delete 104 items permanently? They cannot be restored."},
        {"English.lng", MenuCopy, 1, "Copy 1 marked entry\tF5"},
        {"English.lng", MenuCopy, 21, "Copy 21 marked entries\tF5"},
        {"English.lng", MenuCopyPaths, 5, "Copy paths of 5 marked entries"},
        {"German.lng", JobEnd, 1, "Fertig, 1 Element fehlgeschlagen"},
        {"German.lng", JobEnd, 3, "Fertig, 3 Elemente fehlgeschlagen"},
        {"German.lng", TrashAsk, 1, "1 Element in den Papierkorb verschieben?"},
        {"German.lng", TrashAsk, 0, "0 Elemente in den Papierkorb verschieben?"},
        {"German.lng", TrashAsk, 21, "21 Elemente in den Papierkorb verschieben?"},
        {"German.lng", EmptyAsk, 1, "Papierkorb leeren? 1 Element wird endgültig gelöscht."},
        {"German.lng", EmptyAsk, 11, "Papierkorb leeren? 11 Elemente werden endgültig gelöscht."},
        {"German.lng", MenuCopy, 1, "1 markierten Eintrag kopieren\tF5"},
        {"German.lng", MenuCopy, 104, "104 markierte Einträge kopieren\tF5"},
        {"German.lng", MenuCopyPaths, 2, "Pfade von 2 markierten Einträgen kopieren"},
        {"Russian.lng", JobEnd, 0, "Готово"},
        {"Russian.lng", JobEnd, 1, "Готово, 1 элемент с ошибкой"},
        {"Russian.lng", JobEnd, 2, "Готово, 2 элемента с ошибкой"},
        {"Russian.lng", JobEnd, 5, "Готово, 5 элементов с ошибкой"},
        {"Russian.lng", JobEnd, 11, "Готово, 11 элементов с ошибкой"},
        {"Russian.lng", JobEnd, 21, "Готово, 21 элемент с ошибкой"},
        {"Russian.lng", JobEnd, 104, "Готово, 104 элемента с ошибкой"},
        {"Russian.lng", TrashAsk, 0, "Переместить 0 элементов в корзину?"},
        {"Russian.lng", TrashAsk, 1, "Переместить 1 элемент в корзину?"},
        {"Russian.lng", TrashAsk, 2, "Переместить 2 элемента в корзину?"},
        {"Russian.lng", TrashAsk, 5, "Переместить 5 элементов в корзину?"},
        {"Russian.lng", TrashAsk, 11, "Переместить 11 элементов в корзину?"},
        {"Russian.lng", TrashAsk, 21, "Переместить 21 элемент в корзину?"},
        {"Russian.lng", TrashAsk, 104, "Переместить 104 элемента в корзину?"},
        {"Russian.lng", EraseAsk, 21, "Удалить навсегда 21 элемент? Их нельзя будет восстановить."},
        {"Russian.lng", EraseAsk, 12, "Удалить навсегда 12 элементов? Их нельзя будет восстановить."},
        {"Russian.lng", EmptyAsk, 1, "Очистить корзину? 1 элемент будет удалён навсегда."},
        {"Russian.lng", EmptyAsk, 104, "Очистить корзину? 104 элемента будут удалены навсегда."},
        {"Russian.lng", EmptyAsk, 111, "Очистить корзину? 111 элементов будут удалены навсегда."},
        {"Russian.lng", MenuCopy, 1, "Копировать 1 отмеченный элемент\tF5"},
        {"Russian.lng", MenuCopy, 2, "Копировать 2 отмеченных элемента\tF5"},
        {"Russian.lng", MenuCopy, 5, "Копировать 5 отмеченных элементов\tF5"},
        {"Russian.lng", MenuCopy, 11, "Копировать 11 отмеченных элементов\tF5"},
        {"Russian.lng", MenuCopy, 21, "Копировать 21 отмеченный элемент\tF5"},
        {"Russian.lng", MenuCopy, 104, "Копировать 104 отмеченных элемента\tF5"},
        {"Russian.lng", MenuCopyPaths, 21, "Копировать пути 21 отмеченного элемента"},
        {"Russian.lng", MenuCopyPaths, 22, "Копировать пути 22 отмеченных элементов"},
        // Retry and damaged archives are worded from the English line; the
        // jobs' indicator has 2 queued behind n running at 40%.
        {"", RetryAsk, 1, "Retry the 1 failed items?"},
        {"", Jobs, 1, "1 job (+2 queued), 40%"},
        {"", JobsOpen, 1, "1 job has not ended yet."},
        {"English.lng", RetryAsk, 1, "Retry the 1 failed item?"},
        {"English.lng", RetryAsk, 3, "Retry the 3 failed items?"},
        {"English.lng", DamagedAsk, 1, "This archive is damaged: 1 entry could be read. Show it?"},
        {"English.lng", DamagedAsk, 0, "This archive is damaged: 0 entries could be read. Show them?"},
        {"English.lng", Jobs, 2, "2 jobs (+2 queued), 40%"},
        {"English.lng", JobsOpen, 2, "2 jobs have not ended yet."},
        {"German.lng", RetryAsk, 1, "1 fehlgeschlagenes Element wiederholen?"},
        {"German.lng", DamagedAsk, 5, "Dieses Archiv ist beschädigt: 5 Einträge konnten gelesen werden. Anzeigen?"},
        {"German.lng", Jobs, 1, "1 Auftrag (+2 wartend), 40%"},
        {"German.lng", JobsOpen, 3, "3 Aufträge sind noch nicht beendet."},
        {"Russian.lng", RetryAsk, 1, "Повторить 1 элемент с ошибкой?"},
        {"Russian.lng", RetryAsk, 2, "Повторить 2 элемента с ошибкой?"},
        {"Russian.lng", RetryAsk, 5, "Повторить 5 элементов с ошибкой?"},
        {"Russian.lng", RetryAsk, 11, "Повторить 11 элементов с ошибкой?"},
        {"Russian.lng", RetryAsk, 21, "Повторить 21 элемент с ошибкой?"},
        {"Russian.lng", DamagedAsk, 21, "Архив повреждён: удалось прочитать 21 элемент. Показать его?"},
        {"Russian.lng", DamagedAsk, 3, "Архив повреждён: удалось прочитать 3 элемента. Показать их?"},
        {"Russian.lng", DamagedAsk, 11, "Архив повреждён: удалось прочитать 11 элементов. Показать их?"},
        {"Russian.lng", Jobs, 1, "1 задание (+2 в очереди), 40%"},
        {"Russian.lng", Jobs, 2, "2 задания (+2 в очереди), 40%"},
        {"Russian.lng", Jobs, 5, "5 заданий (+2 в очереди), 40%"},
        {"Russian.lng", Jobs, 21, "21 задание (+2 в очереди), 40%"},
        {"Russian.lng", JobsOpen, 11, "11 заданий ещё не завершены."},
        {"Russian.lng", JobsOpen, 21, "21 задание ещё не завершено."},
        {"Russian.lng", JobsOpen, 22, "22 задания ещё не завершены."},
        // Delete in an archive of n entries named "e"; n entries written by a repair.
        {"", ArchiveDelete, 1, "Delete \"e\" from x.zip?"},
        {"", Written, 1, "1 entry was written to x.zip."},
        {"English.lng", ArchiveDelete, 2, "Delete 2 entries from x.zip?"},
        {"English.lng", Written, 0, "0 entries were written to x.zip."},
        {"German.lng", ArchiveDelete, 1, "\"e\" aus x.zip löschen?"},
        {"German.lng", ArchiveDelete, 3, "3 Einträge aus x.zip löschen?"},
        {"German.lng", Written, 1, "1 Eintrag wurde in x.zip geschrieben."},
        {"Russian.lng", ArchiveDelete, 1, "Удалить «e» из x.zip?"},
        {"Russian.lng", ArchiveDelete, 2, "Удалить 2 элемента из x.zip?"},
        {"Russian.lng", ArchiveDelete, 5, "Удалить 5 элементов из x.zip?"},
        {"Russian.lng", ArchiveDelete, 21, "Удалить 21 элемент из x.zip?"},
        {"Russian.lng", Written, 11, "В x.zip записано 11 элементов."},
        {"Russian.lng", Written, 21, "В x.zip записан 21 элемент."},
        {"Russian.lng", Written, 104, "В x.zip записано 104 элемента."},
        {"", Skipped, 1, "1 items were skipped:"},
        {"English.lng", Skipped, 1, "1 item was skipped:"},
        {"German.lng", Skipped, 2, "2 Elemente wurden übersprungen:"},
        {"Russian.lng", Skipped, 1, "1 элемент пропущен:"},
        {"Russian.lng", Skipped, 3, "3 элемента пропущены:"},
        {"Russian.lng", Skipped, 11, "11 элементов пропущено:"},
        {"Russian.lng", Skipped, 21, "21 элемент пропущен:"},
        {"", Uncompared, 1, "1 items could not be compared:"},
        {"English.lng", Uncompared, 1, "1 item could not be compared:"},
        {"German.lng", Uncompared, 1, "1 Element konnte nicht verglichen werden:"},
        {"German.lng", Uncompared, 5, "5 Elemente konnten nicht verglichen werden:"},
        {"Russian.lng", Uncompared, 2, "2 элемента не удалось сравнить:"},
        {"Russian.lng", Uncompared, 5, "5 элементов не удалось сравнить:"},
        {"Russian.lng", Uncompared, 11, "11 элементов не удалось сравнить:"},
        {"Russian.lng", Uncompared, 21, "21 элемент не удалось сравнить:"},
    };
    // Files to mark: as many as the largest count above ("m0" to "m110").
    const auto marker = [](int i) {
      std::string name = "m";  // appended: GCC 12 misreads "m" + std::to_string(i)
      name += std::to_string(i);
      return name;
    };
    for (int i = 0; i < 111; ++i) WriteText(f_->left + "/" + marker(i), "m");
    QVERIFY(L()->Reread());
    const auto menuItem = [&](int marked, const char* name) {
      for (const auto& entry : L()->Entries()) L()->SetMarked(L()->IndexOfName(entry->FileName), false);
      for (int i = 0; i < marked; ++i) TFormFixture::Mark(L(), marker(i));
      f_->Put(L(), "m0");
      std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
      const auto* action = menu ? menu->findChild<QAction*>(QLatin1String(name)) : nullptr;
      return action ? action->text() : QStringLiteral("(no %1)").arg(QLatin1String(name));
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      QString worded;
      switch (c.text) {
        case JobEnd: worded = app::JobEndText(false, c.n); break;
        case TrashAsk: worded = app::WordedMessage(Q(fileops::TrashQuestion(c.n))); break;
        case EraseAsk: worded = app::WordedMessage(Q(fileops::EraseQuestion(c.n))); break;
        case EmptyAsk: worded = app::WordedMessage(Q(fileops::EmptyQuestion(c.n))); break;
        case MenuCopy: worded = menuItem(c.n, "ItemCopy"); break;
        case MenuCopyPaths: worded = menuItem(c.n, "ItemCopyPath"); break;
        case RetryAsk: worded = app::WordedMessage(QStringLiteral("Retry the %1 failed items?").arg(c.n)); break;
        case DamagedAsk:
          worded = app::WordedMessage(
              QStringLiteral("This archive is damaged: %1 entries could be read. Show them?").arg(c.n));
          break;
        case Jobs: worded = app::JobsIndicatorText(c.n, 2, 40); break;
        case ArchiveDelete:
          worded = app::WordedMessage(
              app::ArchiveDeleteQuestion(std::vector<std::string>(static_cast<size_t>(c.n), "e"), QStringLiteral("x.zip")));
          break;
        case Uncompared: worded = app::WordedMessage(QStringLiteral("%1 items could not be compared:\na: Permission denied").arg(c.n)).section(QLatin1Char('\n'), 0, 0); break;
        case Skipped: worded = app::WordedMessage(QStringLiteral("%1 items were skipped:\na: Permission denied").arg(c.n)).section(QLatin1Char('\n'), 0, 0); break;
        case Written: worded = app::WordedMessage(app::WrittenEntriesText(static_cast<uint64_t>(c.n), QStringLiteral("x.zip"))); break;
        // The question as the message box words it, its first line.
        case JobsOpen:
          worded = app::WordedMessage(app::JobsNotEndedText(static_cast<size_t>(c.n))).section(QLatin1Char('\n'), 0, 0);
          break;
      }
      QVERIFY2(worded == QString::fromUtf8(c.worded),
               qPrintable(QStringLiteral("%1 %2: %3").arg(QLatin1String(c.file)).arg(c.n).arg(worded)));
    }
    QCOMPARE(app::JobEndText(true, 0), QStringLiteral("Отменено"));
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The counted texts of the dialogs (a properties window's bytes and
  // unreadable directories, the conflict list, multi-rename's conflicts, the
  // synchronizer's directory sizes and hidden rows) in every shipped
  // language: the form each count takes, the count shown as given.
  void dialogCountsTakeThePluralForm() {
    struct Text {
      const char* one;
      const char* other;
    };
    const Text bytes{"%1 byte", "%1 bytes"};
    const Text exist{"%1 file exists already at the destination.", "%1 files exist already at the destination."};
    const Text conflicts{"%1 conflict: nothing can be renamed until it is resolved.",
                         "%1 conflicts: nothing can be renamed until they are resolved."};
    const Text renamed{"Nothing was renamed: %1 of the new names conflicts (the row in red says why).",
                       "Nothing was renamed: %1 of the new names conflict (the rows in red say why)."};
    const Text unreadable{"(%1 directory could not be read)", "(%1 directories could not be read)"};
    const Text dirFiles{"DIR %1 files", "DIR %1 files"};
    const Text hidden{"(%1 row hidden, left alone)", "(%1 rows hidden, left alone)"};
    const struct {
      const char* file;  // "" for none
      const Text& text;
      long long n;
      const char* worded;
    } cases[] = {
        {"", exist, 1, "1 file exists already at the destination."},
        {"", exist, 2, "2 files exist already at the destination."},
        {"", bytes, 0, "0 bytes"},
        {"English.lng", bytes, 1, "1 byte"},
        {"English.lng", bytes, 21, "21 bytes"},
        {"English.lng", exist, 1, "1 file exists already at the destination."},
        {"English.lng", exist, 11, "11 files exist already at the destination."},
        {"English.lng", conflicts, 1, "1 conflict: nothing can be renamed until it is resolved."},
        {"English.lng", conflicts, 2, "2 conflicts: nothing can be renamed until they are resolved."},
        {"English.lng", renamed, 1, "Nothing was renamed: 1 of the new names conflicts (the row in red says why)."},
        {"English.lng", unreadable, 1, "(1 directory could not be read)"},
        {"English.lng", unreadable, 104, "(104 directories could not be read)"},
        {"English.lng", dirFiles, 5, "DIR 5 files"},
        {"English.lng", hidden, 1, "(1 row hidden, left alone)"},
        {"English.lng", hidden, 0, "(0 rows hidden, left alone)"},
        {"German.lng", bytes, 1, "1 Byte"},
        {"German.lng", bytes, 2, "2 Bytes"},
        {"German.lng", exist, 1, "1 Datei gibt es am Ziel schon."},
        {"German.lng", exist, 21, "21 Dateien gibt es am Ziel schon."},
        {"German.lng", conflicts, 1, "1 Konflikt: nichts kann umbenannt werden, bis er gelöst ist."},
        {"German.lng", unreadable, 5, "(5 Verzeichnisse waren nicht lesbar)"},
        {"German.lng", dirFiles, 1, "VERZ 1 Datei"},
        {"German.lng", hidden, 11, "(11 Zeilen verborgen, werden gelassen)"},
        {"Russian.lng", bytes, 0, "0 байт"},
        {"Russian.lng", bytes, 1, "1 байт"},
        {"Russian.lng", bytes, 2, "2 байта"},
        {"Russian.lng", bytes, 5, "5 байт"},
        {"Russian.lng", bytes, 11, "11 байт"},
        {"Russian.lng", bytes, 21, "21 байт"},
        {"Russian.lng", bytes, 104, "104 байта"},
        {"Russian.lng", dirFiles, 0, "КАТ 0 файлов"},
        {"Russian.lng", dirFiles, 2, "КАТ 2 файла"},
        {"Russian.lng", dirFiles, 5, "КАТ 5 файлов"},
        {"Russian.lng", dirFiles, 11, "КАТ 11 файлов"},
        {"Russian.lng", dirFiles, 21, "КАТ 21 файл"},
        {"Russian.lng", dirFiles, 104, "КАТ 104 файла"},
        {"Russian.lng", exist, 1, "1 файл уже есть в месте назначения."},
        {"Russian.lng", exist, 22, "22 файла уже есть в месте назначения."},
        {"Russian.lng", exist, 25, "25 файлов уже есть в месте назначения."},
        {"Russian.lng", conflicts, 21, "21 конфликт: ничего нельзя переименовать, пока конфликты не устранены."},
        {"Russian.lng", conflicts, 3, "3 конфликта: ничего нельзя переименовать, пока конфликты не устранены."},
        {"Russian.lng", conflicts, 111, "111 конфликтов: ничего нельзя переименовать, пока конфликты не устранены."},
        {"Russian.lng", renamed, 1, "Ничего не переименовано: 1 новое имя конфликтует (красные строки объясняют почему)."},
        {"Russian.lng", renamed, 2, "Ничего не переименовано: 2 новых имени конфликтуют (красные строки объясняют почему)."},
        {"Russian.lng", renamed, 5, "Ничего не переименовано: 5 новых имён конфликтуют (красные строки объясняют почему)."},
        {"Russian.lng", unreadable, 1, "(1 каталог не удалось прочитать)"},
        {"Russian.lng", unreadable, 12, "(12 каталогов не удалось прочитать)"},
        {"Russian.lng", unreadable, 104, "(104 каталога не удалось прочитать)"},
        {"Russian.lng", hidden, 21, "(21 строка скрыта, остаётся как есть)"},
        {"Russian.lng", hidden, 4, "(4 строки скрыты, остаются как есть)"},
        {"Russian.lng", hidden, 11, "(11 строк скрыто, остаются как есть)"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      const QString worded = platform::WordedCount(c.text.one, c.text.other, c.n);
      QVERIFY2(worded == QString::fromUtf8(c.worded),
               qPrintable(QStringLiteral("%1 %2: %3").arg(QLatin1String(c.file)).arg(c.n).arg(worded)));
    }
    // Counts beyond an int keep their form; the count is shown as given.
    Language().LanguageFile = Shipped("Russian.lng");
    app::ApplyLanguage(*f_->form);
    const struct {
      long long n;
      const char* worded;
    } large[] = {{5000000021, "5,000,000,021 байт"}, {5000000022, "5,000,000,022 байта"},
                 {5000000011, "5,000,000,011 байт"}, {3000000000, "3,000,000,000 байт"}};
    for (const auto& c : large)
      QCOMPARE(platform::WordedCount(bytes.one, bytes.other, c.n, Q(platform::FormatThousands(c.n))),
               QString::fromUtf8(c.worded));
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // Texts with two counts in every shipped language, each count with the
  // form it takes (1, 2, 5, 21 and 11 against each other in the language
  // with three forms): a directory's files and directories, multi-rename's
  // changes of rows, the Delete question's items and bytes, a job's progress
  // and the Trash's panel line.
  void twoCountTextsTakeAFormForEachCount() {
    enum Text { Totals, Renames, DeleteNote, Progress, TrashTop, TrashInside };
    const struct {
      const char* file;  // "" for none
      Text text;
      uint64_t a, b;  // the two counts (the progress: of items and bytes, half of each done)
      const char* worded;
    } cases[] = {
        {"", Totals, 1, 2, "in 1 file, 2 directories"},
        {"", Renames, 1, 5, "1 of 5 entries gets a new name."},
        {"", DeleteNote, 2, 1, "2 items, 1 byte"},
        {"", TrashTop, 3, 18, "Trash: 3 items, 18 bytes | F5 restores, F8 deletes permanently"},
        {"English.lng", Totals, 1, 1, "in 1 file, 1 directory"},
        {"English.lng", Totals, 2, 1, "in 2 files, 1 directory"},
        {"English.lng", Totals, 1234, 0, "in 1,234 files, 0 directories"},
        {"English.lng", Renames, 2, 5, "2 of 5 entries get a new name."},
        {"English.lng", Renames, 1, 1, "1 of 1 entry gets a new name."},
        {"English.lng", DeleteNote, 2, 1234, "2 items, 1,234 bytes"},
        {"English.lng", Progress, 1, 1, "0%, 0 of 1 byte, 0 of 1 item"},
        {"English.lng", Progress, 2, 2000, "50%, 1,000 of 2,000 bytes, 1 of 2 items"},
        {"English.lng", TrashTop, 1, 1, "Trash: 1 item, 1 byte | F5 restores, F8 deletes permanently"},
        {"English.lng", TrashInside, 2, 1, "2 items: 1 byte | in the Trash"},
        {"German.lng", Totals, 1, 5, "in 1 Datei, 5 Verzeichnissen"},
        {"German.lng", Totals, 2, 1, "in 2 Dateien, 1 Verzeichnis"},
        {"German.lng", Renames, 1, 1, "1 von 1 Eintrag erhält einen neuen Namen."},
        {"German.lng", Renames, 3, 4, "3 von 4 Einträgen erhalten einen neuen Namen."},
        {"German.lng", DeleteNote, 3, 1, "3 Elemente, 1 Byte"},
        {"German.lng", Progress, 2, 2, "50%, 1 von 2 Bytes, 1 von 2 Einträgen"},
        {"German.lng", TrashTop, 1, 2, "Papierkorb: 1 Element, 2 Bytes | F5 stellt wieder her, F8 löscht endgültig"},
        {"German.lng", TrashInside, 2, 1, "2 Elemente: 1 Byte | im Papierkorb"},
        {"Russian.lng", Totals, 1, 2, "в 1 файле, 2 каталогах"},
        {"Russian.lng", Totals, 2, 1, "в 2 файлах, 1 каталоге"},
        {"Russian.lng", Totals, 5, 21, "в 5 файлах, 21 каталоге"},
        {"Russian.lng", Totals, 21, 5, "в 21 файле, 5 каталогах"},
        {"Russian.lng", Totals, 11, 11, "в 11 файлах, 11 каталогах"},
        {"Russian.lng", Renames, 1, 5, "1 из 5 элементов получит новое имя."},
        {"Russian.lng", Renames, 2, 21, "2 из 21 элемента получат новое имя."},
        {"Russian.lng", Renames, 21, 22, "21 из 22 элементов получит новое имя."},
        {"Russian.lng", Renames, 5, 111, "5 из 111 элементов получат новое имя."},
        {"Russian.lng", Renames, 11, 101, "11 из 101 элемента получат новое имя."},
        {"Russian.lng", DeleteNote, 2, 1, "2 элемента, 1 байт"},
        {"Russian.lng", DeleteNote, 5, 2, "5 элементов, 2 байта"},
        {"Russian.lng", DeleteNote, 21, 5, "21 элемент, 5 байт"},
        {"Russian.lng", DeleteNote, 22, 21, "22 элемента, 21 байт"},
        {"Russian.lng", Progress, 2, 2, "50%, 1 из 2 байт, 1 из 2 элементов"},
        {"Russian.lng", Progress, 21, 42, "50%, 21 из 42 байт, 10 из 21 элемента"},
        {"Russian.lng", Progress, 5, 21, "47%, 10 из 21 байта, 2 из 5 элементов"},
        {"Russian.lng", Progress, 1, 1, "0%, 0 из 1 байта, 0 из 1 элемента"},
        {"Russian.lng", TrashTop, 21, 2, "Корзина: 21 элемент, 2 байта | F5 восстанавливает, F8 удаляет навсегда"},
        {"Russian.lng", TrashTop, 2, 5, "Корзина: 2 элемента, 5 байт | F5 восстанавливает, F8 удаляет навсегда"},
        {"Russian.lng", TrashInside, 5, 21, "5 элементов: 21 байт | в корзине"},
        {"Russian.lng", TrashInside, 1, 11, "1 элемент: 11 байт | в корзине"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      QString worded;
      switch (c.text) {
        case Totals: worded = app::FilesAndDirectoriesText(c.a, c.b); break;
        case Renames: worded = app::RenameCountText(c.a, c.b); break;
        case DeleteNote: worded = app::DeleteNoteText(c.a, c.b); break;
        case Progress: {
          fileops::TJobProgress p;
          p.itemsTotal = c.a;
          p.itemsDone = c.a / 2;
          p.bytesTotal = static_cast<double>(c.b);
          p.bytesDone = static_cast<double>(c.b / 2);
          worded = app::TOperationsForm::ProgressText(p);
          break;
        }
        case TrashTop: worded = Q(app::TrashSummaryLine(true, c.a, c.b)); break;
        case TrashInside: worded = Q(app::TrashSummaryLine(false, c.a, c.b)); break;
      }
      QVERIFY2(worded == QString::fromUtf8(c.worded),
               qPrintable(QStringLiteral("%1 %2/%3: %4").arg(QLatin1String(c.file)).arg(c.a).arg(c.b).arg(worded)));
    }
    // An empty Trash says so in every language.
    const struct {
      const char* file;
      const char* worded;
    } empty[] = {{"", "The Trash is empty"}, {"German.lng", "Der Papierkorb ist leer"}, {"Russian.lng", "Корзина пуста"}};
    for (const auto& c : empty) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      QCOMPARE(Q(app::TrashSummaryLine(true, 0, 0)), QString::fromUtf8(c.worded));
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The quick view's lines, the operation window's bytes line and a
  // Trash item's file line in every shipped language: each count with its
  // own form (1, 2, 5, 11, 21 against each other in the language with three
  // forms), and a name that is not UTF-8 kept as its bytes.
  void quickViewProgressAndTrashLinesAreWorded() {
    const auto summary = [](uint64_t files, uint64_t dirs, uint64_t links, uint64_t bytes, uint64_t unreadable,
                            bool final) {
      tools::TDirSummary s;
      s.files = files, s.directories = dirs, s.links = links, s.bytes = bytes, s.unreadable = unreadable;
      s.firstError = unreadable ? "Permission denied" : "";
      return app::QuickViewSummaryText(QStringLiteral("d"), s, final);
    };
    const auto trash = [](const std::string& name, uint64_t size, const std::string& original) {
      panels::TFileEntry entry;
      entry.FileName = name;
      entry.FileSize = size;
      return app::TrashEntryLine(entry, original);
    };
    using R = fileops::TOperationForm;
    constexpr double kMiB = 1024 * 1024;
    const struct {
      const char* file;  // "" for none
      std::function<QString()> worded;
      const char* text;
    } cases[] = {
        {"", [] { return app::QuickViewCountLine(1, 1); }, "1 file, 1 byte"},
        {"", [] { return R::RateText(0, 1, 0, -1); }, "0 of 1 byte"},
        {"English.lng", [] { return app::QuickViewCountLine(2, 1234); }, "2 files, 1,234 bytes"},
        {"English.lng", [] { return app::QuickViewCountLine(1, 0); }, "1 file, 0 bytes"},
        {"English.lng", [=] { return summary(1, 0, 3, 1, 1, true); },
         "Directory d\n\nFiles: 1\nDirectories: 0\nSymbolic links: 3\nSize: 1 byte\n\n"
         "Not readable: 1 directory (Permission denied)\n"},
        {"English.lng", [=] { return summary(2, 5, 0, 1005, 0, false); },
         "Directory d\n\nFiles: 2\nDirectories: 5\nSize: 1,005 bytes\n\nCounting..."},
        {"English.lng", [] { return app::QuickViewFileLine(1, {}, QStringLiteral("hex")); }, "1 byte, hex"},
        {"English.lng", [] { return app::QuickViewPartNote(16777216, 20000000); },
         "the first 16,777,216 of 20,000,000 bytes"},
        {"English.lng", [] { return R::RateText(0, 1, 0, -1); }, "0 of 1 byte"},
        {"English.lng", [] { return R::RateText(3 * kMiB, 9 * kMiB, 1.5 * kMiB, 4); },
         "3,145,728 of 9,437,184 bytes, 1.5 MB/s, 0:04 left"},
        {"English.lng", [=] { return Q(trash("f", 1, "/home/u/Pictures/f")); }, "f- size:1 bytes, from /home/u/Pictures"},
        {"English.lng", [=] { return Q(trash("f (2)", 7, "/home/u/f")); }, "f (2)- size:7 bytes, from /home/u/f"},
        {"German.lng", [] { return app::QuickViewCountLine(1, 2); }, "1 Datei, 2 Bytes"},
        {"German.lng", [] { return app::QuickViewCountLine(2, 1); }, "2 Dateien, 1 Byte"},
        {"German.lng", [=] { return summary(1, 1, 0, 1, 2, false); },
         "Verzeichnis d\n\nDateien: 1\nVerzeichnisse: 1\nGröße: 1 Byte\n\n"
         "Nicht lesbar: 2 Verzeichnisse (Permission denied)\n\nWird gezählt..."},
        {"German.lng", [] { return app::QuickViewPartNote(16, 1); }, "die ersten 16 von 1 Byte"},
        {"German.lng", [] { return R::RateText(0, 1, 0, -1); }, "0 von 1 Byte"},
        {"German.lng", [] { return R::RateText(1, 2, 2048, 0.2); }, "1 von 2 Bytes, 2 KB/s, noch 0:01"},
        {"German.lng", [=] { return Q(trash("f", 1, "/home/u/Bilder/f")); }, "f - Größe: 1 Byte, aus /home/u/Bilder"},
        {"Russian.lng", [] { return app::QuickViewCountLine(1, 2); }, "1 файл, 2 байта"},
        {"Russian.lng", [] { return app::QuickViewCountLine(2, 5); }, "2 файла, 5 байт"},
        {"Russian.lng", [] { return app::QuickViewCountLine(5, 21); }, "5 файлов, 21 байт"},
        {"Russian.lng", [] { return app::QuickViewCountLine(11, 1); }, "11 файлов, 1 байт"},
        {"Russian.lng", [] { return app::QuickViewCountLine(21, 11); }, "21 файл, 11 байт"},
        {"Russian.lng", [] { return app::QuickViewCountLine(22, 104); }, "22 файла, 104 байта"},
        {"Russian.lng", [=] { return summary(21, 2, 0, 1, 0, true); },
         "Каталог d\n\nФайлов: 21\nКаталогов: 2\nРазмер: 1 байт\n"},
        {"Russian.lng", [=] { return summary(5, 11, 1, 5, 2, false); },
         "Каталог d\n\nФайлов: 5\nКаталогов: 11\nСимволических ссылок: 1\nРазмер: 5 байт\n\n"
         "Не удалось прочитать: 2 каталога (Permission denied)\n\nПодсчёт..."},
        {"Russian.lng", [=] { return summary(1, 1, 0, 22, 11, true); },
         "Каталог d\n\nФайлов: 1\nКаталогов: 1\nРазмер: 22 байта\n\n"
         "Не удалось прочитать: 11 каталогов (Permission denied)\n"},
        {"Russian.lng", [] { return app::QuickViewFileLine(21, {}, QStringLiteral("UTF-8")); }, "21 байт, UTF-8"},
        {"Russian.lng", [] { return app::QuickViewPartNote(16777216, 20000021); },
         "первые 16,777,216 из 20,000,021 байта"},
        {"Russian.lng", [] { return app::QuickViewPartNote(16777216, 20000011); },
         "первые 16,777,216 из 20,000,011 байт"},
        {"Russian.lng", [] { return R::RateText(1, 1, 0, -1); }, "1 из 1 байта"},
        {"Russian.lng", [] { return R::RateText(1, 21, 0, -1); }, "1 из 21 байта"},
        {"Russian.lng", [] { return R::RateText(0, 11, 0, -1); }, "0 из 11 байт"},
        {"Russian.lng", [] { return R::RateText(2, 5, 0, -1); }, "2 из 5 байт"},
        {"Russian.lng", [] { return R::RateText(2, 2, 1.5 * kMiB, 61); }, "2 из 2 байт, 1.5 МБ/с, осталось 1:01"},
        {"Russian.lng", [] { return R::RateText(1, 22, 3000, 7); }, "1 из 22 байт, 3 КБ/с, осталось 0:07"},
        {"Russian.lng", [=] { return Q(trash("f", 2, "/home/u/Фото/f")); }, "f — размер: 2 байта, из /home/u/Фото"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      const QString worded = c.worded();
      QVERIFY2(worded == QString::fromUtf8(c.text), qPrintable(QLatin1String(c.file) + QLatin1String(": ") + worded));
    }
    // A trashed name that is not UTF-8 keeps its bytes in the line.
    Language().LanguageFile = Shipped("Russian.lng");
    app::ApplyLanguage(*f_->form);
    QCOMPARE(trash("\xff.txt", 5, "/tmp/\xfe/\xff.txt"), std::string("\xff.txt — размер: 5 байт, из /tmp/\xfe"));
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The copy engine's lines and the overwrite questions (the copy engine's,
  // the ZIP engine's) in every shipped language: the engine's English line
  // worded with its name, both files' facts lined up after the longer label,
  // each count of bytes with its form; the engines' fixed messages.
  void engineLinesAndOverwriteFactsAreWorded() {
    const int64_t when = 1709632800;  // the facts' time, as the panels show it
    const platform::FileTime t = platform::FileTimeFromUnix(when, 0);
    const QString at = Q(panels::DateText(t) + " " + panels::TimeText(t));
    const struct {
      const char* file;  // "" for none
      const char* english;
      uint64_t incoming, existing;  // sizes; 0 0: no facts
      const char* worded;           // %t stands for the time
    } cases[] = {
        {"", "Overwrite file a b.txt?", 1, 1234,
         "Overwrite file a b.txt?\n\nNew:      1 byte, %t\nExisting: 1,234 bytes, %t"},
        {"English.lng", "Could not copy file d/x.txt onto itself", 0, 0, "Could not copy file d/x.txt onto itself"},
        {"German.lng", "Overwrite file a b.txt?", 2, 1, "Datei a b.txt überschreiben?\n\nNeu:       2 Bytes, %t\nVorhanden: 1 Byte, %t"},
        {"German.lng", "Could not copy file d/x.txt onto itself", 0, 0, "Datei d/x.txt kann nicht auf sich selbst kopiert werden"},
        {"German.lng", "Could not copy file d/x.txt", 0, 0, "Datei d/x.txt konnte nicht kopiert werden"},
        {"Russian.lng", "Overwrite file a.txt?", 21, 22,
         "Перезаписать файл a.txt?\n\nНовый:        21 байт, %t\nСуществующий: 22 байта, %t"},
        {"Russian.lng", "Overwrite file a.txt?", 5, 11, "Перезаписать файл a.txt?\n\nНовый:        5 байт, %t\nСуществующий: 11 байт, %t"},
        {"Russian.lng", "Could not copy directory d into itself", 0, 0, "Не удалось скопировать каталог d внутрь самого себя"},
        {"Russian.lng", "Could not delete file q: r", 0, 0, "Не удалось удалить файл q: r"},
        {"Russian.lng", "Could not find file z", 0, 0, "Не удалось найти файл z"},
        {"Russian.lng", "Invalid file name ?", 0, 0, "Недопустимое имя файла ?"},
        {"German.lng", "Replace existing file a/b.txt?", 3, 1, "Vorhandene Datei a/b.txt ersetzen?\n\nNeu:       3 Bytes, %t\nVorhanden: 1 Byte, %t"},
        {"Russian.lng", "Abort operation?", 0, 0, "Прервать операцию?"},
        {"Russian.lng", "Not a valid zip file!", 0, 0, "Недопустимый ZIP-файл!"},
        {"German.lng", "Unable to write to /x/vantrel.ini", 0, 0, "In /x/vantrel.ini kann nicht geschrieben werden"},
        {"Russian.lng", "'12a' is not a valid integer value", 0, 0, "«12a» не является допустимым целым числом"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      const std::string text = c.incoming == 0 ? std::string(c.english)
                                               : app::OverwriteQuestionText(c.english, {c.incoming, when}, {c.existing, when});
      const QString worded = app::WordedMessage(Q(text));
      QVERIFY2(worded == QString::fromUtf8(c.worded).replace(QLatin1String("%t"), at),
               qPrintable(QLatin1String(c.file) + ": " + worded));
    }
    // The engines' captions through the message seam.
    const struct {
      const char* file;
      const char* engine;
      const char* caption;
    } captions[] = {{"German.lng", "Confirm", "Bestätigen"}, {"Russian.lng", "File Exists Alert", "Файл существует"},
                    {"English.lng", "Confirm", "Confirm"}};
    for (const auto& c : captions) {
      Language().LanguageFile = Shipped(c.file);
      app::ApplyLanguage(*f_->form);
      ShownMessages().clear();
      app::AskOverwriteQuestion(f_->form.get(), c.engine, "Overwrite file a?", {1, when}, {2, when});
      QCOMPARE(ShownMessages().size(), size_t{1});
      QCOMPARE(ShownMessages()[0].caption, QString::fromUtf8(c.caption));
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // A job's title in every shipped language: one name as its bytes, or the
  // count with its form.
  void jobTitlesTakeTheFormOfTheirCount() {
    using V = app::TJobVerb;
    const auto names = [](int n) {
      std::vector<std::string> out;
      for (int i = 0; i < n; ++i) out.push_back(std::to_string(i) + ".txt");
      return out;
    };
    const struct {
      const char* file;  // "" for none
      V verb;
      std::vector<std::string> names;
      const char* title;
    } cases[] = {
        {"", V::Copy, {"a b.txt"}, "Copy a b.txt to /d"},
        {"English.lng", V::Move, names(3), "Move 3 items to /d"},
        {"English.lng", V::Delete, {"x"}, "Delete x"},
        {"German.lng", V::Copy, names(2), "2 Elemente nach /d kopieren"},
        {"German.lng", V::Delete, {"\xff.txt"}, "\xff.txt löschen"},
        {"Russian.lng", V::Copy, names(2), "Копирование 2 элементов в /d"},
        {"Russian.lng", V::Move, names(21), "Перемещение 21 элемента в /d"},
        {"Russian.lng", V::Delete, names(5), "Удаление 5 элементов"},
        {"Russian.lng", V::Delete, names(11), "Удаление 11 элементов"},
        {"Russian.lng", V::Move, {"\xfe%2"}, "Перемещение \xfe%2 в /d"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      const std::string title = app::JobTitle(c.verb, c.names, c.verb == V::Delete ? std::string() : "/d");
      QVERIFY2(title == c.title, (std::string(c.file) + ": " + title).c_str());
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The buttons the program adds to its message boxes are in the language
  // chosen (a failing item, closing while jobs run, a list
  // of what was skipped, the overwrite question).
  void messageBoxButtonsAreWorded() {
    using K = app::MessageKind;
    const struct {
      const char* file;
      K kind;
      const char* buttons;  // "|" between, in any order
    } cases[] = {
        {"German.lng", K::Failure, "Überspringen|Alle überspringen|Abbrechen|Wiederholen"},
        {"German.lng", K::JobsRunning, "Weiterarbeiten|Vorgänge abbrechen|Warten"},
        {"German.lng", K::Summary, "Liste kopieren|OK"},
        {"German.lng", K::QuestionAll, "&Alle|&Keine"},
        {"Russian.lng", K::Failure, "Пропустить|Пропустить все|Прервать|Повторить"},
        {"Russian.lng", K::JobsRunning, "Продолжить|Отменить задания|Ждать"},
        {"Russian.lng", K::QuestionAll, "&Все|&Ни одного"},
        {"English.lng", K::Failure, "Skip|Skip all|Abort|Retry"},
        {"English.lng", K::QuestionAll, "&All|N&one"},
    };
    const app::MessageHandler scripted = app::SetMessageHandler(nullptr);
    for (const auto& c : cases) {
      Language().LanguageFile = Shipped(c.file);
      app::ApplyLanguage(*f_->form);
      QStringList shown;
      QVERIFY(WithModal<QMessageBox>([&] { app::ShowMessage(f_->form.get(), c.kind, QStringLiteral("c"), QStringLiteral("t")); },
                                     [&](QMessageBox& box) {
                                       for (QAbstractButton* b : box.buttons()) {
                                         const QMessageBox::StandardButton standard = box.standardButton(b);
                                         // Of the standard buttons only those the program renames.
                                         if (standard == QMessageBox::NoButton || standard == QMessageBox::YesToAll ||
                                             standard == QMessageBox::NoToAll || c.kind == K::Summary)
                                           shown << b->text();
                                       }
                                     }));
      std::sort(shown.begin(), shown.end());
      QStringList expected = QString::fromUtf8(c.buttons).split('|');
      std::sort(expected.begin(), expected.end());
      QVERIFY2(shown == expected, qPrintable(QLatin1String(c.file) + ": " + shown.join('|')));
    }
    app::SetMessageHandler(scripted);
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // An archive entry's Properties in every shipped language: each count of
  // bytes (size, packed size, a directory's whole size) with its own form,
  // the time, encryption and why the archive cannot be changed.
  void archiveEntryPropertiesTakeTheFormOfEachCount() {
    const auto entry = [](vfs::TEntryKind kind, uint64_t size, uint64_t packed, bool encrypted) {
      vfs::TEntry e;
      e.kind = kind, e.size = size, e.packedSize = packed, e.encrypted = encrypted;
      return e;
    };
    using K = vfs::TEntryKind;
    const struct {
      const char* file;  // "" for none
      vfs::TEntry entry;
      uint64_t below;
      const char* readOnly;
      const char* text;
    } cases[] = {
        {"", entry(K::File, 1, 2, false), 0, "", "Name: a\nIn: /z.zip\nSize: 1 byte\nPacked: 2 bytes"},
        {"English.lng", entry(K::Directory, 0, 0, false), 1, "", "Name: a\nIn: /z.zip\nDirectory, 1 byte with everything in it"},
        {"English.lng", entry(K::File, 1234, 0, true), 0, "The archive is read-only: x",
         "Name: a\nIn: /z.zip\nSize: 1,234 bytes\nPacked: 0 bytes\nEncrypted\nThe archive is read-only: x"},
        {"German.lng", entry(K::File, 1, 21, true), 0, "", "Name: a\nOrt: /z.zip\nGröße: 1 Byte\nGepackt: 21 Bytes\nVerschlüsselt"},
        {"German.lng", entry(K::Directory, 0, 0, false), 2, "", "Name: a\nOrt: /z.zip\nVerzeichnis, 2 Bytes mit allem darin"},
        {"German.lng", entry(K::File, 2, 2, false), 0, "The archive is read-only: Permission denied",
         "Name: a\nOrt: /z.zip\nGröße: 2 Bytes\nGepackt: 2 Bytes\nDas Archiv ist schreibgeschützt: Permission denied"},
        {"Russian.lng", entry(K::File, 1, 2, false), 0, "", "Имя: a\nРасположение: /z.zip\nРазмер: 1 байт\nСжато: 2 байта"},
        {"Russian.lng", entry(K::File, 5, 11, false), 0, "", "Имя: a\nРасположение: /z.zip\nРазмер: 5 байт\nСжато: 11 байт"},
        {"Russian.lng", entry(K::File, 21, 22, true), 0, "", "Имя: a\nРасположение: /z.zip\nРазмер: 21 байт\nСжато: 22 байта\nЗашифрован"},
        {"Russian.lng", entry(K::File, 111, 1001, false), 0, "", "Имя: a\nРасположение: /z.zip\nРазмер: 111 байт\nСжато: 1,001 байт"},
        {"Russian.lng", entry(K::Directory, 0, 0, false), 21, "", "Имя: a\nРасположение: /z.zip\nКаталог, 21 байт со всем содержимым"},
        {"Russian.lng", entry(K::Directory, 0, 0, false), 1024, "", "Имя: a\nРасположение: /z.zip\nКаталог, 1,024 байта со всем содержимым"},
        {"Russian.lng", entry(K::Directory, 0, 0, false), 11, "", "Имя: a\nРасположение: /z.zip\nКаталог, 11 байт со всем содержимым"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      const QString worded = app::WordedMessage(app::ArchiveEntryInfoText("a", "/z.zip", c.entry, c.below, c.readOnly));
      QVERIFY2(worded == QString::fromUtf8(c.text), qPrintable(QLatin1String(c.file) + QLatin1String(": ") + worded));
    }
    // A link says where it points, a time is shown as the panels show it.
    vfs::TEntry link = entry(K::Link, 3, 3, false);
    link.linkTarget = "t\xff", link.mtime = 86400;
    Language().LanguageFile = Shipped("German.lng");
    app::ApplyLanguage(*f_->form);
    const QString linked = app::ArchiveEntryInfoText("a", "/z.zip", link, 0, "");
    QVERIFY2(linked.contains(QStringLiteral("\nVerweist auf: t")) && linked.contains(QStringLiteral("\nGeändert: 0")),
             qPrintable(linked));
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The line below an archive panel in every shipped language: the files'
  // count, the bytes and the packed bytes each with its own form, the
  // listing's progress and a stopped listing with the form of their count,
  // a read-only reason worded (kept as its bytes when it is not UTF-8).
  void archivePanelLineTakesTheFormOfEachCount() {
    const struct {
      const char* file;  // "" for none
      uint64_t files, bytes, packed;
      int partial;  // -1: the listing is whole
      const char* readOnly;
      const char* line;
    } cases[] = {
        {"", 1, 1, 1, -1, "", "1 file: 1 byte, packed 1 byte"},
        {"English.lng", 2, 144, 144, -1, "", "2 files: 144 bytes, packed 144 bytes"},
        {"English.lng", 1, 2, 0, 1, "", "Partial listing: 1 entry found, Ctrl+R reads the rest | 1 file: 2 bytes, packed 0 bytes"},
        {"German.lng", 1, 2, 1, -1, "x \xff", "1 Datei: 2 Bytes, gepackt 1 Byte | x \xff"},
        {"German.lng", 1, 2, 1, -1, "Archives inside archives are read-only here; extract it to change it",
         "1 Datei: 2 Bytes, gepackt 1 Byte | Archive in Archiven sind hier schreibgeschützt; entpacken Sie es, um es zu ändern"},
        {"Russian.lng", 2, 2, 2, -1, "7z archives are read-only here; pack a new one with Alt+F5",
         "2 файла: 2 байта, сжато 2 байта | Архивы 7z здесь только для чтения; упакуйте новый клавишами Alt+F5"},
        {"German.lng", 21, 1, 2, 3, "", "Teilweise gelesen: 3 Einträge gefunden, Strg+R liest den Rest | 21 Dateien: 1 Byte, gepackt 2 Bytes"},
        {"Russian.lng", 1, 2, 5, -1, "", "1 файл: 2 байта, сжато 5 байт"},
        {"Russian.lng", 2, 5, 11, -1, "", "2 файла: 5 байт, сжато 11 байт"},
        {"Russian.lng", 5, 11, 21, -1, "", "5 файлов: 11 байт, сжато 21 байт"},
        {"Russian.lng", 11, 21, 22, -1, "", "11 файлов: 21 байт, сжато 22 байта"},
        {"Russian.lng", 21, 1, 1, 21, "", "Список неполон: найден 21 элемент, Ctrl+R дочитывает остальное | 21 файл: 1 байт, сжато 1 байт"},
        {"Russian.lng", 104, 111, 1002, 12, "", "Список неполон: найдено 12 элементов, Ctrl+R дочитывает остальное | 104 файла: 111 байт, сжато 1,002 байта"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      const std::string line = app::ArchiveSummaryLine(c.files, c.bytes, c.packed,
                                                       c.partial < 0 ? std::nullopt : std::optional<uint64_t>(c.partial), c.readOnly);
      QVERIFY2(line == c.line, (std::string(c.file) + ": " + line).c_str());
    }
    const struct {
      const char* file;
      uint64_t found;
      const char* line;
    } reading[] = {
        {"English.lng", 1, "Reading the archive: 1 entry found (40%); Esc stops"},
        {"German.lng", 2, "Archiv wird gelesen: 2 Einträge gefunden (40%); Esc hält an"},
        {"Russian.lng", 1, "Чтение архива: найден 1 элемент (40%); Esc — остановить"},
        {"Russian.lng", 22, "Чтение архива: найдено 22 элемента (40%); Esc — остановить"},
        {"Russian.lng", 11, "Чтение архива: найдено 11 элементов (40%); Esc — остановить"},
    };
    for (const auto& c : reading) {
      Language().LanguageFile = Shipped(c.file);
      app::ApplyLanguage(*f_->form);
      QCOMPARE(Q(app::ArchiveReadingLine(c.found, 40)), QString::fromUtf8(c.line));
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The Operations window open while the language changes: its title, its
  // column titles and every button are in the new language at once; so is
  // the progress window's line for a job that waits or is paused.
  void operationsWindowFollowsTheLanguageWhileOpen() {
    const struct {
      const char* file;
      const char* texts;  // title; columns; Pause, Cancel, up, down, Close
      const char* paused;
      const char* waiting;
    } cases[] = {
        {"German.lng", "Vorgänge|Vorgang;Zustand;Fortschritt;Tempo;Restzeit|&Anhalten;&Abbrechen;Nach &oben;Nach &unten;Schließen",
         "Angehalten", "Wartet auf die Vorgänge vor ihm auf demselben Datenträger"},
        {"Russian.lng", "Операции|Задание;Состояние;Ход;Скорость;Осталось|&Пауза;О&тменить;&Выше;&Ниже;Закрыть",
         "Приостановлено", "Ждёт завершения предыдущих заданий на том же диске"},
        {"English.lng", "Operations|Job;State;Progress;Speed;Time left|&Pause;&Cancel;Move &up;Move &down;Close",
         "Paused", "Waiting for the jobs before it on the same disk"},
    };
    app::TOperationsForm* window = app::ShowOperations(*f_->form);
    QVERIFY(window->isVisible());
    fileops::TOperationForm progress(f_->form.get());
    progress.show();
    QLabel* item = progress.ItemLabel();
    for (const auto& c : cases) {
      Language().LanguageFile = Shipped(c.file);
      app::ApplyLanguage(*f_->form);
      QStringList columns, buttons;
      for (int i = 0; i < window->List()->columnCount(); ++i) columns << window->List()->headerItem()->text(i);
      for (const char* name : {"PauseButton", "CancelJobButton", "MoveUpButton", "MoveDownButton", "CloseButton"})
        buttons << window->findChild<QPushButton*>(QLatin1String(name))->text();
      QCOMPARE(window->windowTitle() + '|' + columns.join(';') + '|' + buttons.join(';'), QString::fromUtf8(c.texts));
      const auto shown = [item](const char* text) {
        return item->fontMetrics().elidedText(QString::fromUtf8(text), Qt::ElideMiddle, item->width());
      };
      progress.ShowProgress({}, fileops::TJobState::Paused);
      QCOMPARE(item->text(), shown(c.paused));
      progress.ShowProgress({}, fileops::TJobState::Waiting);
      QCOMPARE(item->text(), shown(c.waiting));
    }
    window->close();
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // A change of language rewords the quick view at once, the cursor where it
  // was: a directory's summary and line, a file's line, a file that cannot
  // be read (a link to nothing). Each step changes the language with the view open.
  void quickViewRewordsAtOnce() {
    QVERIFY(MakeDir(f_->left + "/sub/inner"));
    WriteText(f_->left + "/sub/a.txt", "12345");
    WriteText(f_->left + "/sub/b.txt", "x");
    WriteText(f_->left + "/notes.txt", std::string(21, 'n'));
    QVERIFY(symlink("nowhere", (f_->left + "/gone.txt").c_str()) == 0);
    QVERIFY(L()->Reread());
    auto* viewer = f_->form->findChild<app::TQuickViewer*>(QStringLiteral("QuickViewer"));
    QVERIFY(viewer != nullptr);
    app::TQuickView* view = viewer->View();
    const struct {
      const char* entry;
      const char* file;  // the language it is switched to
      const char* shown;  // the summary or the message, then the status line
    } cases[] = {
        {"sub", "German.lng", "Verzeichnis sub\n\nDateien: 2\nVerzeichnisse: 1\nGröße: 6 Bytes\n|2 Dateien, 6 Bytes"},
        {"sub", "Russian.lng", "Каталог sub\n\nФайлов: 2\nКаталогов: 1\nРазмер: 6 байт\n|2 файла, 6 байт"},
        {"sub", "English.lng", "Directory sub\n\nFiles: 2\nDirectories: 1\nSize: 6 bytes\n|2 files, 6 bytes"},
        {"notes.txt", "Russian.lng", "|21 байт, UTF-8"},
        {"notes.txt", "German.lng", "|21 Bytes, UTF-8"},
        {"gone.txt", "Russian.lng", "Не удалось просмотреть «gone.txt»: No such file or directory.|"},
        {"gone.txt", "English.lng", "Cannot view \"gone.txt\": No such file or directory.|"},
    };
    f_->Action("mnuCmndQuickView")->trigger();
    QVERIFY(viewer->IsOpen());
    for (const auto& c : cases) {
      QVERIFY(f_->Put(L(), c.entry));
      QTRY_VERIFY(!view->Counting());
      const std::string path = view->Path();
      Language().LanguageFile = Shipped(c.file);
      app::ApplyLanguage(*f_->form);
      QCOMPARE(view->Path(), path);  // not shown anew
      const QString message = view->Kind() == app::TQuickView::TKind::Error
                                  ? view->findChild<QLabel*>(QStringLiteral("QuickViewMessage"))->text()
                                  : view->SummaryText();
      QCOMPARE(message + QLatin1Char('|') + view->StatusText(), QString::fromUtf8(c.shown));
    }
    f_->Action("mnuCmndQuickView")->trigger();
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The synchronisation summary in every shipped language: the bytes to
  // copy, the hidden rows and the unread directories each with their form.
  void syncSummaryTakesTheFormOfEachCount() {
    const struct {
      const char* file;  // "" for none
      int counts[4];     // left alone, to the right, to the left, to delete
      uint64_t bytes;
      int hidden;
      size_t unreadable;
      const char* text;
    } cases[] = {
        {"", {0, 1, 0, 0}, 1, 0, 0, "1 to the right, 0 to the left, 0 to delete, 0 left alone; 1 byte to copy"},
        {"English.lng", {4, 3, 2, 1}, 1234, 1, 2,
         "3 to the right, 2 to the left, 1 to delete, 4 left alone; 1,234 bytes to copy (1 row hidden, left alone); "
         "2 not readable"},
        {"German.lng", {0, 1, 0, 0}, 1, 0, 0, "1 nach rechts, 0 nach links, 0 zu löschen, 0 gelassen; 1 Byte zu kopieren"},
        {"German.lng", {1, 2, 0, 0}, 2, 0, 1,
         "2 nach rechts, 0 nach links, 0 zu löschen, 1 gelassen; 2 Bytes zu kopieren; 1 nicht lesbar"},
        {"Russian.lng", {0, 1, 0, 0}, 1, 0, 0, "1 направо, 0 налево, 0 удалить, 0 оставить; копировать 1 байт"},
        {"Russian.lng", {0, 2, 0, 0}, 2, 0, 0, "2 направо, 0 налево, 0 удалить, 0 оставить; копировать 2 байта"},
        {"Russian.lng", {0, 5, 0, 0}, 5, 0, 0, "5 направо, 0 налево, 0 удалить, 0 оставить; копировать 5 байт"},
        {"Russian.lng", {11, 0, 0, 0}, 11, 0, 0, "0 направо, 0 налево, 0 удалить, 11 оставить; копировать 11 байт"},
        {"Russian.lng", {0, 0, 21, 0}, 21, 0, 3, "0 направо, 21 налево, 0 удалить, 0 оставить; копировать 21 байт; не читается: 3"},
        {"Russian.lng", {0, 0, 0, 1}, 1022, 0, 0, "0 направо, 0 налево, 1 удалить, 0 оставить; копировать 1,022 байта"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      const QString worded = app::SyncTotalsText(c.counts, c.bytes, c.hidden, c.unreadable);
      QVERIFY2(worded == QString::fromUtf8(c.text), qPrintable(QLatin1String(c.file) + QLatin1String(": ") + worded));
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The panels' lines with a count of bytes (the marks' line, a file's
  // line) in every shipped language: the form of the count of bytes; the
  // marks' count takes the form of its own count.
  void panelLinesTakeTheBytesPluralForm() {
    const struct {
      const char* file;  // "" for none
      int marked;
      uint64_t bytes;
      const char* markedLine;
      const char* fileLine;
    } cases[] = {
        {"", 3, 1, "Marked 3: 1 bytes", "f- size:1 bytes."},
        {"English.lng", 3, 2, "Marked 3: 2 bytes", "f- size:2 bytes."},
        {"English.lng", 1, 1234, "Marked 1: 1,234 bytes", "f- size:1,234 bytes."},
        {"German.lng", 3, 1, "Markiert: 3 Elemente, 1 Byte", "f - Größe: 1 Byte"},
        {"German.lng", 1, 21, "Markiert: 1 Element, 21 Bytes", "f - Größe: 21 Bytes"},
        {"Russian.lng", 3, 0, "Отмечено: 3 элемента, 0 байт", "f — размер: 0 байт"},
        {"Russian.lng", 5, 1, "Отмечено: 5 элементов, 1 байт", "f — размер: 1 байт"},
        {"Russian.lng", 1, 2, "Отмечено: 1 элемент, 2 байта", "f — размер: 2 байта"},
        {"Russian.lng", 21, 5, "Отмечено: 21 элемент, 5 байт", "f — размер: 5 байт"},
        {"Russian.lng", 11, 11, "Отмечено: 11 элементов, 11 байт", "f — размер: 11 байт"},
        {"Russian.lng", 2, 21, "Отмечено: 2 элемента, 21 байт", "f — размер: 21 байт"},
        {"Russian.lng", 111, 104, "Отмечено: 111 элементов, 104 байта", "f — размер: 104 байта"},
        {"Russian.lng", 1022, 1022, "Отмечено: 1,022 элемента, 1,022 байта", "f — размер: 1,022 байта"},
        {"Russian.lng", 12, 5000000012, "Отмечено: 12 элементов, 5,000,000,012 байт", "f — размер: 5,000,000,012 байт"},
        {"Russian.lng", 101, 5000000023, "Отмечено: 101 элемент, 5,000,000,023 байта", "f — размер: 5,000,000,023 байта"},
    };
    for (const auto& c : cases) {
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      panels::TFileEntry entry;
      entry.FileName = "f";
      entry.FileSize = c.bytes;
      const QString what = QLatin1String(c.file) + QLatin1Char(' ') + QString::number(c.marked) + QLatin1Char('/') +
                           QString::number(c.bytes) + QLatin1String(": ") + Q(panels::MarkedLine(c.marked, c.bytes));
      QVERIFY2(panels::MarkedLine(c.marked, c.bytes) == c.markedLine, qPrintable(what));
      QVERIFY2(panels::InfoLine(entry) == c.fileLine, qPrintable(what));
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The find window's status line in every shipped language: its words
  // follow the count of files looked at.
  void findStatusTakesTheFilesPluralForm() {
    const struct {
      const char* file;  // "" for none
      int files;
      const char* status;
    } cases[] = {
        {"", 1, "1 found in 1 file"},
        {"English.lng", 1, "1 found in 1 file"},
        {"English.lng", 2, "2 found in 2 files"},
        {"German.lng", 1, "1 gefunden in 1 Datei"},
        {"German.lng", 5, "5 gefunden in 5 Dateien"},
        {"Russian.lng", 1, "Найдено: 1 в 1 файле"},
        {"Russian.lng", 2, "Найдено: 2 в 2 файлах"},
        {"Russian.lng", 11, "Найдено: 11 в 11 файлах"},
        {"Russian.lng", 21, "Найдено: 21 в 21 файле"},
    };
    auto* find = f_->Find<app::TFindFileForm>("FindFileForm");
    int run = 0;
    for (const auto& c : cases) {
      std::string dir = f_->left + "/find";
      dir += std::to_string(run++);
      QVERIFY(MakeDir(dir));
      for (int i = 0; i < c.files; ++i) {
        std::string name = dir + "/f";
        name += std::to_string(i);
        WriteText(name, "f");
      }
      Language().LanguageFile = *c.file ? Shipped(c.file) : std::string();
      app::ApplyLanguage(*f_->form);
      find->PathEdit()->setText(Q(dir));
      find->MaskEdit()->setText(QStringLiteral("*"));
      QTest::mouseClick(find->StartButton(), Qt::LeftButton);
      QTRY_COMPARE(find->StatusLabel()->text(), QString::fromUtf8(c.status));
    }
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // The entry menu in every place it is built for (a directory's "..", a
  // directory, a ZIP file, one and two marked entries, inside an archive
  // with its code pages, an item of the Trash and the Trash's ".."): with
  // the marked language every item is worded from the file.
  void entryMenusAreTranslated() {
    Language().LanguageFile = File("probe.lng", ProbeLanguage());
    app::ApplyLanguage(*f_->form);
    QVERIFY(MakeDir(f_->left + "/dir"));
    WriteText(f_->left + "/b.txt", "b");
    QCOMPARE(QProcess::execute(QStringLiteral("python3"),
                               {QStringLiteral("-c"),
                                QStringLiteral("import sys, zipfile\n"
                                               "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                               "  z.writestr('inner/x.txt', 'x')\n"),
                                Q(f_->left + "/a.zip")}),
             0);
    QVERIFY(L()->Reread());
    QStringList unmarked;
    int menus = 0;
    const auto check = [&](const char* where, const char* needed) {
      std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
      if (menu == nullptr) {
        unmarked << QLatin1String(where) + ": no menu";
        return;
      }
      ++menus;
      if (menu->findChild<QObject*>(QLatin1String(needed)) == nullptr)
        unmarked << QLatin1String(where) + ": no " + QLatin1String(needed);
      for (const QString& text : UnmarkedTexts(menu.get())) unmarked << QLatin1String(where) + ": " + text;
    };
    const struct {
      const char* cursor;
      std::vector<const char*> marks;
      const char* needed;  // an item that must be in this menu
    } places[] = {
        {"..", {}, "ItemProperties"},
        {"dir", {}, "ItemSize"},
        {"a.zip", {}, "ItemZipWindow"},
        {"b.txt", {"b.txt"}, "ItemCopyPath"},
        {"b.txt", {"a.zip", "b.txt"}, "ItemPack"},
    };
    for (const auto& p : places) {
      for (const auto& entry : L()->Entries()) L()->SetMarked(L()->IndexOfName(entry->FileName), false);
      for (const char* name : p.marks) QVERIFY(TFormFixture::Mark(L(), name));
      QVERIFY(f_->Put(L(), p.cursor));
      check(p.cursor, p.needed);
    }
    // Inside the archive: its ".." and an entry offer the code pages.
    for (const auto& entry : L()->Entries()) L()->SetMarked(L()->IndexOfName(entry->FileName), false);
    QVERIFY(f_->Put(L(), "a.zip") && f_->Press(L(), Qt::Key_Return));
    QTRY_VERIFY(L()->Model().InSource() && TFormFixture::Listed(L(), "inner"));
    QVERIFY(f_->Put(L(), ".."));
    check("a.zip/..", "ItemCodePage");
    QVERIFY(f_->Put(L(), "inner"));
    check("a.zip/inner", "ItemCodePage");
    // The Trash: an item and its "..".
    WriteText(f_->left + "/t.txt", "t");
    std::string error;
    QVERIFY2(L()->ReadDirectory(f_->left, &error), error.c_str());
    QVERIFY(f_->Put(L(), "t.txt"));
    Script().answers = {app::MessageAnswer::Yes};
    app::RunDeleteCommand(*f_->form, false);
    QVERIFY(Exists(f_->trash + "/files/t.txt"));
    QVERIFY2(L()->ReadDirectory("trash:///", &error), error.c_str());
    QVERIFY(f_->Put(L(), "t.txt"));
    check("Trash/t.txt", "ItemRestore");
    QVERIFY(f_->Put(L(), ".."));
    check("Trash/..", "ItemEmptyTrash");
    QCOMPARE(menus, 9);
    QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(QLatin1Char('\n'))));
    // The Trash's line below the panel is worded too, and worded again when
    // the language changes while the panel shows it.
    QVERIFY2(f_->form->Left().InfoPanel->text().startsWith(kProbe), qPrintable(f_->form->Left().InfoPanel->text()));
    Language().LanguageFile = Shipped("Russian.lng");
    app::ApplyLanguage(*f_->form);
    QCOMPARE(f_->form->Left().InfoPanel->text(),
             QString::fromUtf8("Корзина: 1 элемент, 1 байт | F5 восстанавливает, F8 удаляет навсегда"));
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }
  // Messages are worded line by line: a line that is a message of its own,
  // a line made with numbers and names (the pieces kept as they are, even
  // one that looks like a marker), and lines of data left alone. With the
  // marked language a worded line starts with the mark.
  void messageLinesAreTranslated() {
    Language().LanguageFile = File("probe.lng", ProbeLanguage());
    app::ApplyLanguage(*f_->form);
    const QString p = kProbe;
    const struct {
      const char* english;
      QString worded;
    } cases[] = {
        {"Move 1 item to the Trash?\n\nc.txt", p + "Move 1 item to the Trash?\n\nc.txt"},
        {"Move 12 items to the Trash?", p + "Move 12 items to the Trash?"},
        {"Delete selected files?\n\nThese items cannot be moved to the Trash: they will be deleted permanently.",
         p + "Delete selected files?\n\n" + p +
             "These items cannot be moved to the Trash: they will be deleted permanently."},
        {"Can not create file new file.txt!\nProbably, the file already exists.",
         p + "Can not create file new file.txt!\n" + p + "Probably, the file already exists."},
        {"Can not create directory a/b!\nPermission denied", p + "Can not create directory a/b!\nPermission denied"},
        // A name holding ": " and a marker of its own stays whole.
        {"Could not move to the Trash x: %2.txt: Permission denied",
         p + "Could not move to the Trash x: %2.txt: Permission denied"},
        {"Could not restore a.txt: File exists\nCould not restore b.txt: No such file or directory",
         p + "Could not restore a.txt: File exists\n" + p + "Could not restore b.txt: No such file or directory"},
        {"These files were not added to the archive:\n/tmp/a: Permission denied\n... and 3 more",
         p + "These files were not added to the archive:\n/tmp/a: Permission denied\n" + p + "... and 3 more"},
        {"a: b.txt: changed since the comparison, left alone", p + "a: b.txt: changed since the comparison, left alone"},
        // Not the program's wording: as it is.
        {"Copy 3 items to the Trash?", "Copy 3 items to the Trash?"},
        {"c.txt\n\n", "c.txt\n\n"},
        {"", ""},
    };
    for (const auto& c : cases) QCOMPARE(app::WordedMessage(QString::fromUtf8(c.english)), c.worded);
    // Through F8: the message box gets the worded question.
    WriteText(f_->left + "/c.txt", "c");
    QVERIFY(L()->Reread() && f_->Put(L(), "c.txt"));
    Script() = TScript(), Script().answers = {app::MessageAnswer::No};
    app::RunDeleteCommand(*f_->form, false);
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].text, p + "Move 1 item to the Trash?\n\nc.txt");
    // No language: English as the program words it.
    Language().LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
    QCOMPARE(app::WordedMessage(QStringLiteral("Move 12 items to the Trash?\n\n... and 3 more")),
             QStringLiteral("Move 12 items to the Trash?\n\n... and 3 more"));
  }
  // A desktop asking for dark colours: the boxes of check boxes and radio
  // buttons, the frames of fields and the grid of tables stay visible (the
  // style's own outline is as dark as the fields on a dark palette). Last:
  // it changes the application's look.
  void darkPaletteKeepsBoxesAndFramesVisible() {
    qputenv("GTK_THEME", "Adwaita:dark");
    QVERIFY(platform::ApplyDesktopColorScheme());
    qunsetenv("GTK_THEME");
    const int base = QApplication::palette().color(QPalette::Base).lightness();
    QWidget window;
    auto* check = new QCheckBox(QStringLiteral("Unchecked"), &window);
    auto* radio = new QRadioButton(QStringLiteral("Off"), &window);
    auto* edit = new QLineEdit(&window);
    check->move(0, 0), radio->move(0, 30), edit->setGeometry(0, 60, 120, 24);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The lightest pixel of `widget`'s part `area`: its outline, as the inside is the field.
    const auto lightest = [](QWidget* widget, QRect area) {
      const QImage image = widget->grab().toImage();
      int most = 0;
      for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) most = std::max(most, QColor(image.pixel(x, y)).lightness());
      return most;
    };
    QStyleOptionButton option;
    option.initFrom(check);
    const QRect checkBox = check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check);
    option.initFrom(radio);
    const QRect radioBox = radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio);
    const struct {
      const char* what;
      int lightness;
    } cases[] = {
        {"check box", lightest(check, checkBox)},
        {"radio button", lightest(radio, radioBox)},
        {"field frame", lightest(edit, QRect(0, 2, 2, edit->height() - 4))},
        {"table grid", QColor::fromRgba(static_cast<QRgb>(window.style()->styleHint(QStyle::SH_Table_GridLineColor, &option)))
                           .lightness()},
    };
    for (const auto& c : cases)
      QVERIFY2(c.lightness - base >= 40, qPrintable(QStringLiteral("%1: %2 on %3").arg(c.what).arg(c.lightness).arg(base)));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(QApplication::style()->standardPalette());
  }
};

QTEST_MAIN(OptionsTest)
#include "options_test.moc"
