// options_test.cpp - the settings dialogs, the font and colour schemes on the
// real main window, offscreen, with scripted file, colour and font dialogs:
// what each applies, to which panel, and what reaches the settings file.
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QListView>
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <deque>
#include <memory>

#include "app/colorform.h"
#include "app/common_dialogs.h"
#include "app/generalsettingsform.h"
#include "app/mainform.h"
#include "app/panelsettingsform.h"
#include "app/settings.h"
#include "gui_test_support.h"
#include "platform/fs.h"
#include "platform/qt/colors.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;
using panels::TFMPanel;
using platform::TColor;

namespace {

// Scripted common dialogs: each answers the next queued value and keeps what
// it was asked.
std::deque<QString> g_files;
app::TFileRequest g_lastRequest;
QColor g_pickedColor, g_pickerStart;
QFont g_pickedFont;

QString ScriptedFile(QWidget*, const app::TFileRequest& request) {
  g_lastRequest = request;
  if (g_files.empty()) return {};
  const QString next = g_files.front();
  g_files.pop_front();
  return next;
}
bool ScriptedColor(QWidget*, QColor& color) {
  g_pickerStart = color;
  color = g_pickedColor;
  return g_pickedColor.isValid();
}
bool ScriptedFont(QWidget*, QFont& font, int) {
  font = g_pickedFont;
  return true;
}

// The six colours of a panel in the fixed role order.
std::vector<TColor> Colors(const TFMPanel* p) {
  return {p->Color(),         p->CursorColor(),  p->FileColor(),
          p->SelectedColor(), p->CurrentColor(), p->CurSelColor()};
}

const std::vector<TColor> kDefaultColors = {platform::clWindow, platform::clWindow,
                                            platform::clWindowText, platform::clRed,
                                            platform::clWindowText, platform::clRed};

}  // namespace

class OptionsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string startDir_;
  std::unique_ptr<TMainForm> form_;

  std::string Ini() const { return Std(tmp_.filePath(QStringLiteral("vantrel.ini"))); }
  QString Path(const char* name) const { return tmp_.filePath(QLatin1String(name)); }
  TFMPanel* Left() const { return form_->LeftFMPanel(); }
  TFMPanel* Right() const { return form_->RightFMPanel(); }
  void Open() {
    form_ = std::make_unique<TMainForm>(Ini());
    form_->show();
  }
  template <class T>
  T* Find(const char* name) const {
    return form_->findChild<T*>(QLatin1String(name));
  }
  QStringList Section(const char* section) const {
    return SectionLines(ReadText(Ini()), QLatin1String(section));
  }
  void SetColors(TFMPanel* p, const std::vector<TColor>& c) {
    p->SetColor(c[0]);
    p->SetCursorColor(c[1]);
    p->SetFileColor(c[2]);
    p->SetSelectedColor(c[3]);
    p->SetCurrentColor(c[4]);
    p->SetCurSelColor(c[5]);
  }
  // Runs the menu command `command`, which opens `dialog` modally, with
  // `script` acting inside it; true when the dialog was shown and is gone.
  bool RunModal(const char* command, QDialog* dialog, const std::function<void()>& script) {
    bool shown = false;
    QTimer::singleShot(0, dialog, [&] {
      shown = dialog->isVisible();
      script();
      if (dialog->isVisible()) QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    form_->Action(QLatin1String(command))->trigger();
    return shown && !dialog->isVisible();
  }
  static void Click(QWidget* dialog, const char* button) {
    QTest::mouseClick(dialog->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
  }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    app::SetFileDialogHandler(&ScriptedFile);
    app::SetColorDialogHandler(&ScriptedColor);
    app::SetFontDialogHandler(&ScriptedFont);
    startDir_ = platform::GetCurrentDir();
  }
  void init() {
    QFile::remove(QString::fromStdString(Ini()));
    InstallRecorder();
    g_files.clear();
    Open();
  }
  void cleanup() {
    form_.reset();
    platform::SetCurrentDir(startDir_);
  }

  void everyOptionsCommandIsEnabled() {
    for (const char* name : {"mnuLftSettings", "mnuRghtSettings", "mnuOptGenSettings", "mnuOptFont",
                             "mnuOptSelColors", "mnuOptLoadScheme", "mnuOptSaveScheme",
                             "SelectLanguage"})
      QVERIFY2(form_->Action(QLatin1String(name))->isEnabled(), name);
    QVERIFY(Find<QMenu>("mnuOptColors")->menuAction()->isEnabled());
  }

  // A scheme saved in one run and loaded in another gives both panels all six
  // colours, and the settings file's COLOR section equals the scheme's.
  void schemeSavedInOneRunLoadsInAnother() {
    const std::vector<TColor> mine = {0x112233, 0x445566, 0x778899, platform::clWindowText,
                                      0x00FF00, 0xABCDEF};
    SetColors(Left(), mine);
    g_files = {Path("mine")};  // typed without extension
    form_->Action(QStringLiteral("mnuOptSaveScheme"))->trigger();
    QCOMPARE(g_lastRequest.title, QStringLiteral("Save color scheme"));
    QVERIFY(g_lastRequest.save);
    QCOMPARE(g_lastRequest.defaultSuffix, QStringLiteral("vnp"));
    QCOMPARE(g_lastRequest.filters, QStringList{QStringLiteral("Vantrel palette (*.vnp)")});
    // The real dialog adds the suffix; the scripted one hands the name on.
    const std::string scheme = Std(Path("mine"));
    QCOMPARE(KeysOf(SectionLines(ReadText(scheme), QStringLiteral("COLOR"))),
             QStringList({"Back", "Cursor", "File", "Selected", "Current", "CurSel"}));
    form_->close();

    QFile::remove(QString::fromStdString(Ini()));
    Open();
    QCOMPARE(Colors(Right()), kDefaultColors);
    g_files = {QString::fromStdString(scheme)};
    form_->Action(QStringLiteral("mnuOptLoadScheme"))->trigger();
    QCOMPARE(g_lastRequest.title, QStringLiteral("Load color scheme"));
    QCOMPARE(g_lastRequest.filterIndex, 0);
    QCOMPARE(g_lastRequest.filters.size(), 2);
    QCOMPARE(Colors(Left()), mine);
    QCOMPARE(Colors(Right()), mine);
    QCOMPARE(Section("COLOR"), SectionLines(ReadText(scheme), QStringLiteral("COLOR")));

    // A language file chosen as a scheme has no COLOR: every colour resets.
    const std::string lng = Std(Path("x.lng"));
    WriteText(lng, "[Translations]\nMainForm.Caption=X\n");
    g_files = {QString::fromStdString(lng)};
    form_->Action(QStringLiteral("mnuOptLoadScheme"))->trigger();
    QCOMPARE(Colors(Left()), kDefaultColors);
    QCOMPARE(Colors(Right()), kDefaultColors);
    QVERIFY(ShownMessages().empty());
  }

  // Saving into an existing file replaces COLOR only.
  void schemeSaveKeepsOtherSections() {
    const std::string scheme = Std(Path("shared.vnp"));
    WriteText(scheme, "[GENERAL]\nEditor=vi\n[COLOR]\nBack=1\nExtra=yes\n");
    SetColors(Left(), {7, 7, 7, 7, 7, 7});
    g_files = {QString::fromStdString(scheme)};
    form_->Action(QStringLiteral("mnuOptSaveScheme"))->trigger();
    const QString text = ReadText(scheme);
    QCOMPARE(SectionLines(text, QStringLiteral("GENERAL")), QStringList{"Editor=vi"});
    QVERIFY(SectionLines(text, QStringLiteral("COLOR")).contains(QStringLiteral("Back=7")));
    QVERIFY(SectionLines(text, QStringLiteral("COLOR")).contains(QStringLiteral("Extra=yes")));
  }

  // Files that cannot be written: the error names the file, what was applied
  // stays, the dialog that wrote stays open, and no file is half-written.
  void unwritableFilesAreReportedAndAppliedValuesStay() {
    form_->close();
    WriteText(Ini(), "[COLOR]\nBack=5\n");
    QCOMPARE(chmod(Ini().c_str(), 0444), 0);
    Open();
    ShownMessages().clear();
    g_pickedColor = QColor(0, 0, 255);
    auto* colors = Find<app::TColorForm>("ColorForm");
    bool stayedOpen = false;
    QVERIFY(RunModal("mnuOptSelColors", colors, [&] {
      Click(colors, "ChangeBack");
      Click(colors, "OkButton");
      stayedOpen = colors->isVisible();
    }));
    QVERIFY(stayedOpen);
    QCOMPARE(Left()->Color(), platform::clBlue);
    QCOMPARE(Right()->Color(), platform::clBlue);
    QCOMPARE(ReadText(Ini()), QStringLiteral("[COLOR]\nBack=5\n"));
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].text,
             QStringLiteral("Unable to write to ") + QString::fromStdString(Ini()));

    // A scheme below a plain file cannot be written either.
    const std::string blocked = Std(Path("plain")) + "/s.vnp";
    WriteText(Std(Path("plain")), "x");
    g_files = {QString::fromStdString(blocked)};
    form_->Action(QStringLiteral("mnuOptSaveScheme"))->trigger();
    QCOMPARE(ShownMessages().back().text,
             QStringLiteral("Unable to write to ") + QString::fromStdString(blocked));
    QCOMPARE(chmod(Ini().c_str(), 0644), 0);
  }

  void selectColorStartsFromTheLeftPanelAndOkWritesColor() {
    Right()->SetFileColor(0x00AA00);
    Left()->SetFileColor(0x0000AA);
    auto* colors = Find<app::TColorForm>("ColorForm");
    QCOMPARE(colors->windowTitle(), QStringLiteral("Select Color"));
    QCOMPARE(colors->HelpContext(), 6031);
    // Cancel discards the swatches.
    g_pickedColor = QColor(1, 2, 3);
    QVERIFY(RunModal("mnuOptSelColors", colors, [&] {
      QCOMPARE(colors->Swatch(2), TColor{0x0000AA});
      Click(colors, "ChangeFile");
      Click(colors, "CancelButton");
    }));
    QCOMPARE(Left()->FileColor(), TColor{0x0000AA});
    // Each "change" starts from the panel's colour, not from the swatch.
    QVERIFY(RunModal("mnuOptSelColors", colors, [&] {
      QCOMPARE(colors->Swatch(2), TColor{0x0000AA});
      Click(colors, "ChangeFile");
      QCOMPARE(colors->Swatch(2), TColor{0x030201});
      g_pickedColor = QColor(0x10, 0x20, 0x30);
      Click(colors, "ChangeFile");
      QCOMPARE(g_pickerStart, QColor(0xAA, 0, 0));
      QCOMPARE(colors->SwatchPanel(2)->palette().color(QPalette::Window), QColor(0x10, 0x20, 0x30));
      Click(colors, "OkButton");
    }));
    QCOMPARE(Left()->FileColor(), TColor{0x302010});
    QCOMPARE(Right()->FileColor(), TColor{0x302010});
    // System colours the user did not change stay system colours.
    QCOMPARE(Right()->Color(), platform::clWindow);
    QCOMPARE(Section("COLOR"), QStringList({"Back=-2147483643", "Cursor=-2147483643",
                                            "File=3153936", "Selected=255",
                                            "Current=-2147483640", "CurSel=255"}));
  }

  // Right panel, every width 0 and "By size": the right panel collapses and
  // is re-read by size, its header follows; the left panel is untouched.
  void panelSettingsChangeTheTargetPanelOnly() {
    const std::string dir = Std(Path("sizes"));
    QDir().mkpath(QString::fromStdString(dir));
    MakeFile(dir + "/a-small", 1);
    MakeFile(dir + "/b-big", 9000);
    Right()->ReadDirectory(dir);
    Left()->ReadDirectory(dir);
    const std::vector<int> leftBefore = {Left()->NameWidth(), Left()->ExtWidth(),
                                         Left()->SizeWidth(), Left()->DateWidth(),
                                         Left()->TimeWidth()};
    auto* dialog = Find<app::TPanelSettingsForm>("PanelSettingsForm");
    QVERIFY(RunModal("mnuRghtSettings", dialog, [&] {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Panel Settings"));
      QCOMPARE(dialog->HelpContext(), 702);
      QCOMPARE(dialog->WidthSpin(0)->value(), Right()->NameWidth());
      QVERIFY(dialog->SortButton(0)->isChecked());
      for (int i = 0; i < 5; ++i) dialog->WidthSpin(i)->setValue(0);
      dialog->SortButton(2)->setChecked(true);
      Click(dialog, "OkButton");
    }));
    QCOMPARE(Right()->SortType(), uint8_t{2});
    QCOMPARE(Right()->Entries()[1]->FileName, std::string("b-big"));
    for (int i = 0; i < 5; ++i) QCOMPARE(form_->Right().Header->sectionSize(i), 0);
    QCOMPARE(Right()->NameWidth() + Right()->TimeWidth(), 0);
    QCOMPARE(Left()->SortType(), uint8_t{0});
    QCOMPARE(Left()->Entries()[1]->FileName, std::string("a-small"));
    QCOMPARE((std::vector<int>{Left()->NameWidth(), Left()->ExtWidth(), Left()->SizeWidth(),
                               Left()->DateWidth(), Left()->TimeWidth()}),
             leftBefore);
    QCOMPARE(form_->Left().Header->sectionSize(0), leftBefore[0]);
    // The left panel's settings carry its own help context and values.
    QVERIFY(RunModal("mnuLftSettings", dialog, [&] {
      QCOMPARE(dialog->HelpContext(), 302);
      QCOMPARE(dialog->WidthSpin(0)->value(), leftBefore[0]);
    }));
    // Nothing reaches the settings file before exit.
    QVERIFY(Section("RIGHT PANEL").isEmpty());
  }

  // What typing does to a width field once it loses the focus.
  void widthFieldsSettleOnFocusLoss() {
    const struct {
      const char* typed;
      int value;
    } cases[] = {{"20000", 10000}, {"250", 250}, {"-7", 0}, {"", 0}, {"-", 0}, {"12abc", 12}};
    auto* dialog = Find<app::TPanelSettingsForm>("PanelSettingsForm");
    QVERIFY(RunModal("mnuLftSettings", dialog, [&] {
      QApplication::setActiveWindow(dialog);
      QVERIFY(QTest::qWaitForWindowActive(dialog));
      QSpinBox* spin = dialog->WidthSpin(1);
      for (const auto& c : cases) {
        spin->setFocus();
        spin->selectAll();
        QTest::keyClick(spin, Qt::Key_Delete);
        QTest::keyClicks(spin, QLatin1String(c.typed));
        dialog->WidthSpin(2)->setFocus();
        QCOMPARE(spin->value(), c.value);
        QCOMPARE(spin->text(), QString::number(c.value));
      }
      spin->setFocus();
      spin->selectAll();
      QTest::keyClicks(spin, QStringLiteral("321"));
      QTest::keyClick(spin, Qt::Key_Return);  // Ok is the default button
    }));
    QCOMPARE(Left()->ExtWidth(), 321);
  }

  // Cancel keeps the commands but the edited text is shown next time; Ok
  // takes the texts as typed and writes them at once.
  void generalSettingsCancelKeepsTextOkWrites() {
    auto* dialog = Find<app::TGeneralSettingsForm>("GeneralSettingsForm");
    const std::string editor = form_->EditorCommand;
    QVERIFY(RunModal("mnuOptGenSettings", dialog, [&] {
      QCOMPARE(dialog->EditorPath()->text(), QString::fromStdString(editor));
      dialog->EditorPath()->setText(QStringLiteral("kate --new"));
      Click(dialog, "CancelButton");
    }));
    QCOMPARE(form_->EditorCommand, editor);
    QVERIFY(Section("GENERAL").isEmpty());
    QVERIFY(RunModal("mnuOptGenSettings", dialog, [&] {
      QCOMPARE(dialog->EditorPath()->text(), QStringLiteral("kate --new"));
      g_files = {QStringLiteral("/opt/tools/my viewer")};
      Click(dialog, "BrowseViewer");
      QCOMPARE(g_lastRequest.filters, QStringList{QStringLiteral("Programs (*)")});
      QVERIFY(g_lastRequest.programs);
      QCOMPARE(dialog->ViewerPath()->text(), QStringLiteral("/opt/tools/my viewer"));
      Click(dialog, "OkButton");
    }));
    QCOMPARE(form_->EditorCommand, std::string("kate --new"));
    QCOMPARE(form_->ViewerCommand, std::string("/opt/tools/my viewer"));
    QCOMPARE(Section("GENERAL"),
             QStringList({"Editor=kate --new", "Viewer=/opt/tools/my viewer"}));
    // Default: the viewer beside the program, and an editor that exists here.
    QVERIFY(RunModal("mnuOptGenSettings", dialog, [&] {
      Click(dialog, "DefViewButton");
      Click(dialog, "DefEditButton");
      QCOMPARE(dialog->ViewerPath()->text(),
               QString::fromStdString(form_->ProgramDir()) + QLatin1String(app::kDefaultViewerName));
      QVERIFY(!dialog->EditorPath()->text().isEmpty());
      QVERIFY(dialog->EditorPath()->text() != QStringLiteral("kate --new"));
    }));
  }

  // Qt's own Browse dialog lists directories and programs, whatever their names.
  void browseDialogListsProgramsOnly() {
    const QString dir = Path("programs");
    QDir().mkpath(dir + QStringLiteral("/sub"));
    MakeFile(Std(dir) + "/tool", 10);
    MakeFile(Std(dir) + "/notes.txt", 10);
    QVERIFY(QFile::setPermissions(dir + QStringLiteral("/tool"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    app::TFileRequest request;
    request.directory = dir;
    request.filters = {QStringLiteral("Programs (*)")};
    request.programs = true;
    QStringList listed;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
      // The directory is read in the background: wait for its entries.
      for (int i = 0; i < 100 && listed.size() < 2; ++i) {
        QTest::qWait(20);
        listed.clear();
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
          listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
      }
      QTest::qWait(50);  // a file listed late would show here
      listed.clear();
      for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
        listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
      dialog->reject();
    });
    app::SetFileDialogHandler(nullptr);
    const QString chosen = app::ChooseFile(form_.get(), request);
    app::SetFileDialogHandler(&ScriptedFile);
    QVERIFY(chosen.isEmpty());
    listed.sort();
    QCOMPARE(listed, QStringList({"sub", "tool"}));
  }

  // The whole font goes to both panels; only face and size outlive the run.
  void fontGoesToBothPanelsAndFaceAndSizeAreKept() {
    g_pickedFont = QFont(QStringLiteral("DejaVu Serif"), 15);
    g_pickedFont.setBold(true);
    form_->Action(QStringLiteral("mnuOptFont"))->trigger();
    for (TFMPanel* p : {Left(), Right()}) {
      QCOMPARE(p->font().family(), QStringLiteral("DejaVu Serif"));
      QCOMPARE(p->font().pointSize(), 15);
      QVERIFY(p->font().bold());
    }
    QCOMPARE(Section("FONT"), QStringList({"Size=15", "Name=DejaVu Serif"}));
    form_->close();
    Open();
    QCOMPARE(Right()->font().pointSize(), 15);
    QCOMPARE(Right()->font().family(), QStringLiteral("DejaVu Serif"));
    QVERIFY(!Right()->font().bold());
  }
};

QTEST_MAIN(OptionsTest)
#include "options_test.moc"
