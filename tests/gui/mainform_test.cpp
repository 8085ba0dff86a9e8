// mainform_test.cpp - the real main window, offscreen: "vantrel.ini" read at
// the start and written at the close (defaults, order, bad values, the
// maximised window, a file that cannot be written), the active panel with its
// directory line and the current directory, volumes, the About box; "cd" in
// the command line, Back and Forward, history, hotlist and tabs across a
// restart, and the masks list.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTabBar>
#include <QToolButton>

#include "app/commands/options_commands.h"
#include "app/dialogs/aboutform.h"
#include "app/panels/drivecombo.h"
#include "app/panels/panel_tabs.h"
#include "app/panels/path_line.h"
#include "app/settings/lang.h"
#include "app/settings/settings.h"
#include "app/window/key_bar.h"
#include "platform/file_uri.h"
#include "platform/qt/colors.h"
#include "platform/qt/volumes.h"
#include "gui_support.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;
using panels::TFMPanel;

class MainFormTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;

  TFMPanel* L() const { return f_->L(); }
  app::TPathLine* Path() const { return f_->Find<app::TPathLine>("PathLine"); }
  // A window on the settings file `text` (no window shown).
  TMainForm& Open(const std::string& text) {
    WriteText(f_->ini, text);
    return *(f_->form = std::make_unique<TMainForm>(f_->ini));
  }
  // Types `text` into the command line and presses Enter there.
  void Command(const QString& text) {
    QLineEdit* edit = f_->form->CommandEdit();
    edit->setFocus(), edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
  }
  static bool Highlighted(QLabel* line) {
    return line->palette().color(QPalette::Window) == QApplication::palette().color(QPalette::Highlight) &&
           line->palette().color(QPalette::WindowText) == QApplication::palette().color(QPalette::HighlightedText);
  }

 private slots:
  void init() {
    f_ = std::make_unique<TFormFixture>();
    QVERIFY(MakeDir(f_->left + "/sub/deeper") && MakeFile(f_->left + "/sub/target.txt", 3));
  }
  void cleanup() { f_.reset(); }

  // ------------------------------------------------------------ settings

  // Without a file: the defaults, written back in full and in order by Exit.
  void defaultsAreWrittenInOrder() {
    TMainForm& form = Open("");
    QCOMPARE(form.ViewerCommand, Std(QCoreApplication::applicationDirPath()) + "/vnview");
    QCOMPARE(form.LeftFMPanel()->Directory(), f_->startDir);
    // A first start shows every column whole: wider than the old 600 pixels.
    QCOMPARE(QRect(form.pos(), form.size()), QRect(QPoint(20, 20), form.FittingSize()));
    QVERIFY(form.width() > 600);
    QVERIFY(!form.isMaximized() && form.RightFMPanel()->font().family() == QStringLiteral("MS Sans Serif"));
    form.show();
    form.Action(QStringLiteral("mnuFileExit"))->trigger();
    QVERIFY(!form.isVisible());
    QCOMPARE(KeysOf(f_->Section("GENERAL")), QStringList({"Editor", "Viewer", "LeftPath", "RightPath", "Top", "Left",
                                                         "Width", "Height", "LeftWidth", "LeftShare", "LanguageFile",
                                                         "KeyBar", "ClickMarks", "ZipWindowOnEnter", "StoreExactTimes"}));
    for (const QString& line : {QStringLiteral("Editor=notepad.exe"), "LeftPath=" + Q(f_->startDir),
                                QStringLiteral("Top=20"), QStringLiteral("Width=%1").arg(form.width()),
                                QStringLiteral("LeftWidth=%1").arg(form.width() / 2)})
      QVERIFY2(f_->Section("GENERAL").contains(line), qPrintable(line));
    QCOMPARE(f_->Section("FONT"), QStringList({"Size=10", "Name=MS Sans Serif"}));
    // System colours are written as negative decimal numbers, red as 255.
    QCOMPARE(f_->Section("COLOR"), QStringList({"Back=-2147483643", "Cursor=-2147483643", "File=-2147483640",
                                                "Selected=255", "Current=-2147483640", "CurSel=255"}));
    // Widths the file does not name fit the texts in the panel's font.
    const TFMPanel::TColumnWidths fit = form.LeftFMPanel()->FittingColumnWidths();
    for (const char* section : {"LEFT PANEL", "RIGHT PANEL"})
      QCOMPARE(f_->Section(section),
               QStringList({"NameWidth=120", QStringLiteral("ExtWidth=%1").arg(fit.ext),
                            QStringLiteral("SizeWidth=%1").arg(fit.size), QStringLiteral("DateWidth=%1").arg(fit.date),
                            QStringLiteral("TimeWidth=%1").arg(fit.time), "SortType=0", "SortDescending=0"}));
    QVERIFY(ShownMessages().empty());
  }

  void valuesRoundTrip() {
    TMainForm& form = Open("[general]\nEDITOR=vi\nViewer=less -R\nLanguageFile=de.lng\nLeftPath=" + f_->left +
                           "\nRightPath=" + f_->right + "\nTop=33\nLeft=44\nWidth=777\nHeight=555\nLeftWidth=$140\n"
                           "[Font]\nSize=12\nName=DejaVu Sans\n"
                           "[color]\nBack=0x00FF00\nCursor=16711680\nFile=0\nSelected=-2147483643\n"
                           "Current=0x123456\nCurSel=-2147483640\n"
                           "[LEFT PANEL]\nNameWidth=200\nExtWidth=40\nSizeWidth=90\nDateWidth=80\n"
                           "TimeWidth=50\nSortType=2\nSortDescending=1\n[RIGHT PANEL]\nNameWidth=150\nSortType=4\n");
    TFMPanel *left = form.LeftFMPanel(), *right = form.RightFMPanel();
    QCOMPARE(form.EditorCommand + "|" + form.ViewerCommand + "|" + form.LanguageFile, std::string("vi|less -R|de.lng"));
    QCOMPARE(left->Directory() + "|" + right->Directory(), f_->left + "|" + f_->right);
    QCOMPARE(QRect(form.pos(), form.size()), QRect(44, 33, 777, 555));
    QCOMPARE(form.LeftWidth(), 0x140);  // "$" is hexadecimal
    QCOMPARE(right->font().family() + QString::number(right->font().pointSize()), QStringLiteral("DejaVu Sans12"));
    // A hand-written hexadecimal green reads as green on both panels.
    QCOMPARE(platform::ColorToQColor(left->Color()), QColor(0, 255, 0));
    QCOMPARE(std::vector<platform::TColor>({right->Color(), right->CursorColor(), right->SelectedColor()}),
             std::vector<platform::TColor>({0x00FF00, platform::clBlue, platform::clWindow}));
    QCOMPARE(QPoint(left->SortType(), right->SortType()), QPoint(2, 4));
    QVERIFY(left->Model().SortDescending() && !right->Model().SortDescending());
    QCOMPARE(right->ExtWidth(), right->FittingColumnWidths().ext);
    // A width narrower than the column's texts in the font is widened to fit.
    const TFMPanel::TColumnWidths fit = left->FittingColumnWidths();
    QCOMPARE(QList<int>({left->NameWidth(), left->ExtWidth(), left->SizeWidth(), left->DateWidth(), left->TimeWidth()}),
             QList<int>({200, std::max(40, fit.ext), std::max(90, fit.size), std::max(80, fit.date),
                         std::max(50, fit.time)}));
    QList<int> header, expected;  // the header stands over the columns
    for (int i = 0; i < 5; ++i) header << form.Left().Header->sectionSize(i);
    expected << left->ShownNameWidth() + left->frameWidth() + 1 << left->ExtWidth() + 1 << left->SizeWidth() + 1
             << left->DateWidth() + 1 << left->TimeWidth() + 1;
    QCOMPARE(header, expected);
    QVERIFY(form.close());
    for (auto [section, line] : {std::pair{"GENERAL", "Viewer=less -R"}, {"GENERAL", "LeftWidth=320"},
                                 {"GENERAL", "Height=555"}, {"COLOR", "Back=65280"}, {"COLOR", "Current=1193046"},
                                 {"RIGHT PANEL", "SortType=4"}, {"FONT", "Size=12"}})
      QVERIFY2(f_->Section(section).contains(QLatin1String(line)), line);
  }

  // Values that cannot be used give the defaults, without a message.
  void badValuesFallBack() {
    const std::string gone = f_->Path("removed/long/ago"), sorted = f_->Path("sorted");
    QVERIFY(MakeDir(sorted) && MakeFile(sorted + "/b-small", 1) && MakeFile(sorted + "/a-big", 5000));
    const std::pair<std::string, std::function<void(TMainForm&)>> cases[] = {
        {"[GENERAL]\nLeftPath=" + f_->left + "\n",  // the right panel follows the left one
         [&](TMainForm& f) { QCOMPARE(f.RightFMPanel()->Directory(), f_->left); }},
        {"[GENERAL]\nLeftPath=" + gone + "\nRightPath=" + f_->right + "\n",
         [&](TMainForm& f) {
           QCOMPARE(f.LeftFMPanel()->Directory() + "|" + f.RightFMPanel()->Directory(), f_->startDir + "|" + f_->right);
         }},
        {"[GENERAL]\nHeight=-40\nWidth=banana\nLeftWidth=-5\n[FONT]\nSize=0\n"
         "[LEFT PANEL]\nNameWidth=-3\nSortType=-1\n[COLOR]\nBack=0xZZ\n",
         [](TMainForm& f) {
           QCOMPARE(f.size(), f.FittingSize());
           QCOMPARE(QList<int>({f.LeftWidth(), f.LeftFMPanel()->font().pointSize(), f.LeftFMPanel()->NameWidth()}),
                    QList<int>({f.width() / 2, 10, 120}));
           QCOMPARE(f.LeftFMPanel()->Color(), platform::clWindow);
         }},
        // An unknown sort order keeps name order and is saved as 0; size order is taken.
        {"[GENERAL]\nLeftPath=" + sorted + "\nRightPath=" + sorted + "\n[LEFT PANEL]\nSortType=7\n"
         "[RIGHT PANEL]\nSortType=2\n",
         [&](TMainForm& f) {
           QCOMPARE(f.LeftFMPanel()->SortType(), uint8_t{0});
           QCOMPARE(f.LeftFMPanel()->Entries()[1]->FileName + f.RightFMPanel()->Entries()[1]->FileName,
                    std::string("a-biga-big"));
           QVERIFY(f.close());
           QVERIFY(f_->Section("LEFT PANEL").contains(QStringLiteral("SortType=0")));
         }},
    };
    for (const auto& [text, check] : cases) {
      platform::SetCurrentDir(f_->startDir);  // a panel makes its directory the current one
      check(Open(text));
      QVERIFY(ShownMessages().empty());
    }
  }

  // A panel closed in the Trash starts there again; a trashed directory that
  // is gone gives the Trash's top, no usable trash the home directory (not
  // the directory the program started in, as for a vanished directory).
  void trashIsAStartPlace() {
    const std::string data = f_->Path("data"), home = f_->Path("home"), bare = f_->Path("bare");
    QVERIFY(MakeDir(data + "/Trash/files/box") && MakeDir(data + "/Trash/info") && MakeDir(home) && MakeDir(bare));
    QVERIFY(MakeFile(data + "/Trash/files/box/inner.txt", 4));
    WriteText(data + "/Trash/info/box.trashinfo", "[Trash Info]\nPath=/x/box\nDeletionDate=2026-01-02T03:04:05\n");
    QVERIFY(MakeDir(f_->Path("plain")) && MakeFile(f_->Path("plain") + "/Trash", 3));  // a file where the trash would be
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(home));
    const struct {
      std::string dataHome, saved, shown, listed;
    } cases[] = {
        {data, "trash:///", "trash:///", "box"},
        {data, "trash:///box", "trash:///box", "inner.txt"},
        {data, "trash:///gone", "trash:///", "box"},      // restored or erased meanwhile
        {data, "trash:///box/inner.txt", "trash:///", "box"},  // a file is no place
        {bare, "trash:///", home, ""},                    // never made, or removed
        {f_->Path("plain"), "trash:///box", home, ""},
    };
    for (const auto& row : cases) {
      qputenv("XDG_DATA_HOME", QByteArray::fromStdString(row.dataHome));
      platform::SetCurrentDir(f_->startDir);
      TMainForm& form = Open("[GENERAL]\nLeftPath=" + row.saved + "\nRightPath=" + f_->right + "\n");
      QCOMPARE(form.LeftFMPanel()->Directory(), row.shown);
      QCOMPARE(form.RightFMPanel()->Directory(), f_->right);
      if (!row.listed.empty()) QVERIFY2(f_->Listed(form.LeftFMPanel(), row.listed), row.saved.c_str());
      QVERIFY(form.close());
      QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("LeftPath=") + Q(row.shown)));
      QVERIFY(ShownMessages().empty());
    }
    qputenv("HOME", oldHome);
    qunsetenv("XDG_DATA_HOME");
  }

  // Maximised: Height 0 with the normal window's bounds and the sides'
  // share kept, so that the next start is maximised with the same sides and
  // leaving the maximised state gives the normal window back.
  void maximisedKeepsTheNormalBoundsAndTheShare() {
    Open("[GENERAL]\nTop=5\nLeft=6\nWidth=700\nHeight=500\nLeftWidth=210\n").show();
    QVERIFY(QTest::qWaitForWindowExposed(f_->form.get()));
    QTRY_COMPARE(f_->form->LeftWidth(), 210);
    const double share = f_->form->LeftShare();
    f_->form->setWindowState(Qt::WindowMaximized);
    QVERIFY(f_->form->close());
    for (const char* line : {"Height=0", "Top=5", "Left=6", "Width=700", "NormalHeight=500"})
      QVERIFY2(f_->Section("GENERAL").contains(QLatin1String(line)), line);
    f_->form = std::make_unique<TMainForm>(f_->ini);  // the next start is maximised
    QVERIFY(f_->form->windowState() & Qt::WindowMaximized);
    QCOMPARE(f_->form->NormalBounds().size(), QSize(700, 500));
    QVERIFY(std::abs(f_->form->LeftShare() - share) < 0.002);
  }

  void unwritableFileIsReportedAndTheWindowStillCloses() {
    // A settings path below a plain file can never be written, not even by root.
    QVERIFY(MakeFile(f_->Path("plain"), 3));
    f_->ini = f_->Path("plain") + "/vantrel.ini";
    Open("").show();
    QVERIFY(f_->form->close() && !f_->form->isVisible());
    QCOMPARE(Script().Texts(), QStringList({"Unable to write to " + Q(f_->ini)}));
    QCOMPARE(ShownMessages()[0].kind, app::MessageKind::Error);
  }

  // The settings file as users leave it: a link to it stays a link (its
  // target gets the settings), a byte order mark before the first section
  // costs nothing, a runaway line is left out, and histories of 500 items
  // per list come back as far as each list keeps them; one file replacement
  // at the close.
  void settingsFileThroughALinkWithAMarkALongLineAndLongLists() {
    const std::string target = f_->Path("real.ini");
    std::string text = "\xEF\xBB\xBF[GENERAL]\nEditor=vi\nJunk=" + std::string(1 << 20, 'j') + "\n";
    for (const char* section : {"MASK HISTORY", "COMMAND HISTORY", "HOTLIST", "LEFT HISTORY"}) {
      text += std::string("[") + section + "]\nCount=500\n";
      for (int i = 1; i <= 500; ++i) text += "Item" + std::to_string(i) + "=" + f_->left + "/" + std::to_string(i) + "\n";
    }
    WriteText(target, text);
    QVERIFY(::symlink(target.c_str(), f_->ini.c_str()) == 0);
    f_->form = std::make_unique<TMainForm>(f_->ini);
    TMainForm& form = *f_->form;
    QCOMPARE(form.EditorCommand, std::string("vi"));
    QCOMPARE(form.Lists().Masks.size(), size_t{20});
    QCOMPARE(form.Lists().Commands.size(), size_t{100});
    QCOMPARE(form.Lists().Hotlist.back(), f_->left + "/100");
    QVERIFY(form.close());
    struct stat st;
    QVERIFY(::lstat(f_->ini.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    const QString written = ReadText(target);
    QVERIFY(written.startsWith(QStringLiteral("[GENERAL]\n")));  // one section, first, without the mark
    QCOMPARE(written.count(QStringLiteral("[GENERAL]")), 1);
    QVERIFY(written.contains(QStringLiteral("Editor=vi\n")));
    QVERIFY(!written.contains(QStringLiteral("Junk=")));
    QVERIFY(f_->Section("HOTLIST").contains(QStringLiteral("Count=100")));
    QVERIFY(ShownMessages().empty());
  }

  // ------------------------------------------------------------ the window

  void focusSwitchesTheHighlightAndTheCurrentDirectory() {
    QVERIFY(f_->Show());
    const app::TPanelSide &left = f_->form->Left(), &right = f_->form->Right();
    for (const app::TPanelSide* active : {&left, &right, &left}) {
      if (active == &right) QTest::keyClick(left.FMPanel, Qt::Key_Tab);
      else QTest::mouseClick(left.FMPanel->viewport(), Qt::LeftButton, {}, left.FMPanel->RowRect(0).center());
      QTRY_VERIFY(active->FMPanel->hasFocus());
      const std::string dir = active == &left ? f_->left : f_->right;
      QCOMPARE(f_->form->ActivePanel(), active->FMPanel);
      QVERIFY(Highlighted(active->DirectoryPanel) && !Highlighted((active == &left ? right : left).DirectoryPanel));
      QCOMPARE(platform::GetCurrentDir() + "|" + Std(f_->form->CommandPrompt()->toolTip()), dir + "|" + dir);
    }
    QCOMPARE(left.FilePanel->text(), QStringLiteral("[..]:  DIRECTORY"));
    f_->form->CommandEdit()->setFocus();  // in the command line: no active panel
    QTRY_VERIFY(f_->form->CommandEdit()->hasFocus());
    QCOMPARE(f_->form->ActivePanel(), nullptr);
  }

  void rootButtonAndDriveBoxEnterVolumes() {
    QVERIFY(f_->Show());
    const app::TPanelSide &left = f_->form->Left(), &right = f_->form->Right();
    app::TDriveCombo* combo = left.DriveCombo;
    const std::string mount = platform::MountPointOf(f_->left, combo->Volumes());
    QVERIFY(!mount.empty() && combo->currentText().startsWith(Q(mount)));
    QCOMPARE(combo->MountPointAt(combo->currentIndex()), mount);
    emit combo->activated(combo->count() + 3);  // cannot be entered: nothing changes
    QCOMPARE(Script().Texts(), QStringList({"Drive not found"}));
    QCOMPARE(left.FMPanel->Directory(), f_->left);
    emit combo->activated(combo->currentIndex());
    QCOMPARE(left.FMPanel->Directory(), mount);
    QTest::mouseClick(right.RootButton, Qt::LeftButton);
    QTRY_VERIFY(right.FMPanel->hasFocus());
    QCOMPARE(right.FMPanel->Directory() + "|" + Std(f_->form->CommandPrompt()->toolTip()), mount + "|" + mount);
    QCOMPARE(right.FMPanel->Entries()[0]->FileName == "..", mount != "/");  // only "/" has no ".."
  }

  // After the volumes: the home folder and the GTK bookmarks, each entered
  // like a volume.
  void driveBoxListsUserPlaces() {
    QVERIFY(f_->Show());
    QTemporaryDir config;
    QVERIFY(QDir(config.path()).mkpath(QStringLiteral("gtk-3.0")));
    QFile bookmarks(config.path() + QStringLiteral("/gtk-3.0/bookmarks"));
    QVERIFY(bookmarks.open(QIODevice::WriteOnly));
    bookmarks.write(QByteArray::fromStdString(platform::FileUriOf(f_->right)) + " Right side\n");
    bookmarks.close();
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    app::TDriveCombo* combo = f_->form->Left().DriveCombo;
    combo->Reload(f_->left);
    qputenv("XDG_CONFIG_HOME", savedConfig);
    const int volumes = static_cast<int>(combo->Volumes().size());
    QCOMPARE(combo->MountPointAt(volumes), std::string());  // the separator
    QCOMPARE(combo->MountPointAt(volumes + 1), Std(QDir::homePath()));
    const int bookmark = combo->findText(QStringLiteral("Right side"));
    QCOMPARE(bookmark, volumes + 2);
    QCOMPARE(combo->itemData(bookmark, Qt::ToolTipRole).toString(), Q(f_->right));
    for (int i = 0; i < volumes; ++i)  // a volume is marked removable exactly when it is
      QCOMPARE(combo->itemData(i, app::TDriveCombo::kRemovableRole).toBool(),
               platform::IsRemovableMedia(combo->Volumes()[static_cast<size_t>(i)].mountPoint));
    emit combo->activated(bookmark);
    QCOMPARE(f_->form->LeftFMPanel()->Directory(), f_->right);
    QVERIFY(combo->currentIndex() < volumes);  // the box shows the volume again
  }

  // The framed area under the sentence tells the version and what the
  // program is built on.
  void aboutNamesLinuxAndTheVersion() {
    const app::TAboutForm* about = Open("").AboutForm();
    QCOMPARE(about->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Vantrel is convenient file manager for Linux."));
    const QString info = about->findChild<QLabel*>(QStringLiteral("InfoLabel"))->text();
    QVERIFY2(info.contains(QStringLiteral("1.6 (beta)")) && info.contains(QLatin1String(qVersion())), qPrintable(info));
  }

  // ------------------------------------------------------------ command and path lines

  // The real-window tier goes through cd and a command's output; here a
  // failure's text and the recall of earlier lines.
  void cdMovesTheActivePanelAndIsRecalled() {
    QVERIFY(f_->Show());
    const std::string home = platform::NearestExistingDirectory(std::getenv("HOME"));
    const std::pair<const char*, std::string> steps[] = {
        {"cd sub/deeper", f_->left + "/sub/deeper"}, {"cd /nonexistent", f_->left + "/sub/deeper"}, {"cd", home}};
    for (const auto& [command, dir] : steps) {
      Command(QLatin1String(command));
      QCOMPARE(L()->Directory(), dir);
    }
    QVERIFY(ShownMessages().size() == 1 && ShownMessages()[0].text.startsWith(QStringLiteral("Cannot change to /nonexistent: ")));
    // Recalled newest first with Up; Down comes back.
    QLineEdit* edit = f_->form->CommandEdit();
    for (auto [key, text] : {std::pair{Qt::Key_Up, "cd"}, {Qt::Key_Up, "cd /nonexistent"}, {Qt::Key_Down, "cd"}}) {
      QTest::keyClick(edit, key);
      QCOMPARE(edit->text(), QLatin1String(text));
    }
  }

  void backAndForwardFollowTheVisits() {
    QVERIFY(f_->Show());
    for (const char* dir : {"/sub", "/sub/deeper"}) QVERIFY(Path()->GoTo(*L(), f_->left + dir));
    for (auto [key, dir] : {std::pair{Qt::Key_Left, "/sub"}, {Qt::Key_Left, ""}, {Qt::Key_Right, "/sub"}}) {
      QTest::keyClick(L(), key, Qt::AltModifier);
      QCOMPARE(L()->Directory(), f_->left + dir);
    }
    QVERIFY(!Path()->GoTo(*L(), "/no/such/place") && ShownMessages().size() == 1);
  }

  void historyAndHotlistSurviveARestart() {
    QVERIFY(f_->Show());
    for (const char* dir : {"/sub", "/sub/deeper"}) Path()->GoTo(*L(), f_->left + dir);
    Path()->HotlistMenu(*L())->findChild<QAction*>(QStringLiteral("HotlistAdd"))->trigger();
    Path()->GoTo(*L(), f_->left);
    QVERIFY(f_->Restart());
    // The last visit of the left directory moved it to the end.
    QCOMPARE(f_->form->HistoryOf(L()).Items(),
             (app::TStringList{f_->left + "/sub", f_->left + "/sub/deeper", f_->left}));
    QCOMPARE(f_->form->Lists().Hotlist, app::TStringList{f_->left + "/sub/deeper"});
    Path()->HotlistMenu(*L())->actions().front()->trigger();  // the hotlist jumps, and removes
    QCOMPARE(L()->Directory(), f_->left + "/sub/deeper");
    Path()->HotlistMenu(*L())->findChild<QAction*>(QStringLiteral("HotlistRemove"))->trigger();
    QVERIFY(f_->form->Lists().Hotlist.empty());
    QCOMPARE(Path()->HistoryMenu(*L())->actions().front()->text(), Q(f_->left + "/sub/deeper"));  // newest first
  }

  // Alt+Down opens the visited directories with the one shown now highlighted.
  void historyOpensOnTheCurrentDirectory() {
    QVERIFY(f_->Show());
    for (const char* dir : {"/sub", "/sub/deeper", "/sub"}) Path()->GoTo(*L(), f_->left + dir);
    QString active;
    QTimer::singleShot(100, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        if (menu->activeAction() != nullptr) active = menu->activeAction()->text();
        menu->close();
      }
    });
    QTest::keyClick(L(), Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(active, Q(f_->left + "/sub"));
    QCOMPARE(L()->Directory(), f_->left + "/sub");
  }

  void tabsKeepTheirPlacesAcrossARestart() {
    QVERIFY(f_->Show());
    auto tabs = [&] { return f_->Find<app::TPanelTabs>("LeftPanelTabs"); };
    QTest::keyClick(L(), Qt::Key_T, Qt::ControlModifier);
    // The second tab: sub, by size descending, the cursor on target.txt.
    Path()->GoTo(*L(), f_->left + "/sub/target.txt");
    L()->Model().SetSortOrder(2, true, false);
    L()->Reread();
    QVERIFY(f_->Put(L(), "target.txt"));
    QTest::keyClick(L(), Qt::Key_Tab, Qt::ControlModifier);  // round to the first
    QCOMPARE(L()->SortType(), uint8_t{0});
    QTest::keyClick(L(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(f_->Restart());
    QCOMPARE(tabs()->Current(), 1);
    QCOMPARE(L()->SortType(), uint8_t{2});
    QVERIFY(L()->Model().SortDescending());
    QCOMPARE(f_->AtCursor(L()), std::string("target.txt"));
    for (int i = 0; i < 2; ++i) QTest::keyClick(L(), Qt::Key_W, Qt::ControlModifier);  // the last tab stays, alone: no bar
    QCOMPARE(tabs()->Count(), 1);
    QVERIFY(!tabs()->Bar()->isVisible());
  }

  // A mask used again, for marking or unmarking, is listed once.
  void masksAreRemembered() {
    QVERIFY(f_->Show());
    for (Qt::Key key : {Qt::Key_Plus, Qt::Key_Minus, Qt::Key_Plus}) {
      Script().inputs = {QStringLiteral("*.txt")};
      QTest::keyClick(L(), key, Qt::KeypadModifier);
    }
    QCOMPARE(f_->form->Lists().Masks, app::TStringList{"*.txt"});
  }

  // ------------------------------------------------------------ info line

  // In every language of the language folder, with large numbers, the line
  // below the left panel fits whatever width the splitter gives the panel:
  // the free space shortens first, the count of marks stays, and the whole
  // line is the tip while it shows less.
  void infoLineFitsThePanelInEveryLanguage() {
    const uint64_t sizes[] = {736674304000ULL, 99999999999ULL, 12345678901ULL};  // sparse
    uint64_t bytes = 0;
    for (size_t i = 0; i < std::size(sizes); ++i) {
      const std::string path = f_->left + "/big" + std::to_string(i) + ".bin";
      QVERIFY(MakeFile(path, 0) && ::truncate(path.c_str(), static_cast<off_t>(sizes[i])) == 0);
      bytes += sizes[i];
    }
    QVERIFY(f_->Show());
    const QString folder = qEnvironmentVariable("VANTREL_SOURCE_DIR") + QStringLiteral("/app/language");
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.lng")}, QDir::Files, QDir::Name);
    QVERIFY2(files.size() >= 3, qPrintable(files.join(' ')));
    panels::TInfoLine* info = f_->form->Left().InfoPanel;
    QSplitter* splitter = f_->form->Splitter();
    const int both = splitter->sizes().value(0) + splitter->sizes().value(1);
    for (const QString& file : files) {
      app::Language(*f_->form).LanguageFile = Std(folder + "/" + file);
      app::ApplyLanguage(*f_->form);
      QVERIFY(L()->ReadDirectory(f_->left));
      for (size_t i = 0; i < std::size(sizes); ++i) QVERIFY(f_->Mark(L(), "big" + std::to_string(i) + ".bin"));
      const panels::TLinePieces marks = panels::MarkedLinePieces(3, bytes);
      const QString marksLine = Q(marks.Whole()), count = Q(marks.middle);
      QVERIFY2(!count.isEmpty() && info->text().startsWith(marksLine + " | "), qPrintable(file + ": " + info->text()));
      int shortened = 0;
      for (int width = 60; width <= both / 2; width += 23) {
        splitter->setSizes({width, both - width});
        QTRY_COMPARE(info->width(), f_->form->Left().Panel->width());
        const QString shown = info->ShownText();
        const int room = info->TextRect().width();
        const QByteArray what = (file + " in " + QString::number(room) + ": " + shown).toUtf8();
        QVERIFY2(info->fontMetrics().horizontalAdvance(shown) <= room, what);
        if (info->fontMetrics().horizontalAdvance(count) <= room) QVERIFY2(shown.contains(count), what);
        if (info->fontMetrics().horizontalAdvance(marksLine) <= room) QVERIFY2(shown.startsWith(marksLine), what);
        QVERIFY2(info->toolTip() == (shown == info->text() ? QString() : info->text()), what);
        shortened += shown != info->text();
      }
      QVERIFY2(shortened >= 3, qPrintable(file));
    }
    app::Language(*f_->form).LanguageFile.clear();
    app::ApplyLanguage(*f_->form);  // the panel texts are the process's
  }

  // In every language, a long name (with a byte that is not UTF-8) deep in
  // a directory: the file line keeps the size whole while the name's start
  // and extension fit beside it, the directory line keeps the last
  // component; each keeps its whole text, with the name's stand-in for the
  // odd byte, and shows it as the tip while shortened.
  void entryAndDirectoryLinesFitThePanelInEveryLanguage() {
    const std::string deep = f_->left + "/projects/vantrel/panels/qt/deeply/nested";
    const std::string name = "\xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82 about the roads of 2026 \xff final.docx";
    QVERIFY(MakeDir(deep) && MakeFile(deep + "/" + name, 0));
    QVERIFY(::truncate((deep + "/" + name).c_str(), 736674304) == 0);
    QVERIFY(f_->Show());
    const QString folder = qEnvironmentVariable("VANTREL_SOURCE_DIR") + QStringLiteral("/app/language");
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.lng")}, QDir::Files, QDir::Name);
    QVERIFY2(files.size() >= 3, qPrintable(files.join(' ')));
    const app::TPanelSide& side = f_->form->Left();
    QSplitter* splitter = f_->form->Splitter();
    const int both = splitter->sizes().value(0) + splitter->sizes().value(1);
    const QString shownName = platform::ToDisplay(name), dots = QStringLiteral("\u2026");
    QVERIFY(shownName.contains(QChar(0xFFFD)));
    for (const QString& file : files) {
      app::Language(*f_->form).LanguageFile = Std(folder + "/" + file);
      app::ApplyLanguage(*f_->form);
      QVERIFY(L()->ReadDirectory(deep));
      L()->SetCursor(L()->IndexOfName(name));
      QCOMPARE(L()->CurrentEntry()->FileName, name);
      const QString fileLine = side.FilePanel->text();
      const qsizetype at = fileLine.indexOf(shownName);
      QVERIFY2(at >= 0 && side.DirectoryPanel->text() == Q(deep), qPrintable(file + ": " + fileLine));
      const QString head = fileLine.left(at), tail = fileLine.mid(at + shownName.size());
      int shortened = 0;
      for (int width = 60; width <= both / 2; width += 23) {
        splitter->setSizes({width, both - width});
        QTRY_COMPARE(side.FilePanel->width(), side.Panel->width());
        const QString entry = side.FilePanel->ShownText(), path = side.DirectoryPanel->ShownText();
        const QFontMetrics fm = side.FilePanel->fontMetrics(), dm = side.DirectoryPanel->fontMetrics();
        const int room = side.FilePanel->TextRect().width(), dirRoom = side.DirectoryPanel->TextRect().width();
        const QByteArray what = (file + " in " + QString::number(room) + ": " + entry + " / " + path).toUtf8();
        QVERIFY2(fm.horizontalAdvance(entry) <= room && dm.horizontalAdvance(path) <= dirRoom, what);
        QVERIFY2(side.FilePanel->text() == fileLine && side.DirectoryPanel->text() == Q(deep), what);
        // The name as much of its start as fits, then "…" and its extension.
        const QString ending = dots + QStringLiteral(".docx") + tail;
        if (entry != fileLine && fm.horizontalAdvance(head + shownName.left(6) + ending) <= room) {
          QVERIFY2(entry.startsWith(head + shownName.left(6)) && entry.endsWith(ending), what);
          QVERIFY2(shownName.startsWith(entry.mid(at, entry.size() - at - ending.size())), what);
        }
        if (dm.horizontalAdvance(dots + QStringLiteral("/nested")) <= dirRoom)
          QVERIFY2(path.endsWith(QStringLiteral("/nested")), what);
        QVERIFY2(side.FilePanel->toolTip() == (entry == fileLine ? QString() : fileLine), what);
        QVERIFY2(side.DirectoryPanel->toolTip() == (path == Q(deep) ? QString() : Q(deep)), what);
        shortened += entry != fileLine && path != Q(deep);
      }
      QVERIFY2(shortened >= 3, qPrintable(file));
    }
    app::Language(*f_->form).LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // In every language, in a narrow window and a wide one, each function
  // key's button shows its key and as much of its word as fits, the word
  // ending in "…" when cut, never text cut at the button's edges; its text
  // stays whole, and the tooltip tells the word while it is cut.
  void keyBarWordsFitTheirButtonsInEveryLanguage() {
    QVERIFY(f_->Show());
    const QString folder = qEnvironmentVariable("VANTREL_SOURCE_DIR") + QStringLiteral("/app/language");
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.lng")}, QDir::Files, QDir::Name);
    QVERIFY2(files.size() >= 3, qPrintable(files.join(' ')));
    app::TKeyBar* bar = f_->form->KeyBar();
    const QString dots = QStringLiteral("\u2026");
    for (const QString& file : files) {
      app::Language(*f_->form).LanguageFile = Std(folder + "/" + file);
      app::ApplyLanguage(*f_->form);
      int cut = 0;
      for (const int width : {420, 640, 1000}) {
        f_->form->resize(width, 480);
        QTRY_VERIFY(bar->width() <= width && bar->width() > width - 40);
        for (int key = 1; key <= 10; ++key) {
          const app::TKeyButton* button = bar->Button(key);
          const QString whole = button->text(), shown = button->ShownText(), name = QStringLiteral("F%1").arg(key);
          const QString word = whole.mid(name.size() + 1);
          const QByteArray what = (file + " at " + QString::number(width) + ": " + shown + " of " + whole).toUtf8();
          QVERIFY2(whole.startsWith(name + u' '), what);
          QVERIFY2(button->fontMetrics().horizontalAdvance(shown) <= button->TextWidth(), what);
          const bool shortened = shown != whole;
          if (shortened && shown != name) {
            QVERIFY2(shown.startsWith(name + u' ') && shown.endsWith(dots), what);
            QVERIFY2(word.startsWith(shown.mid(name.size() + 1).chopped(1)) && shown.size() > name.size() + 2, what);
          }
          if (shortened && shown != name && !word.isEmpty())
            QVERIFY2(button->toolTip().endsWith(name + u' ' + word), what);
          if (!shortened && !word.isEmpty()) QVERIFY2(button->toolTip().endsWith(name), what);
          cut += shortened;
        }
      }
      QVERIFY2(cut > 0, qPrintable(file));
    }
    app::Language(*f_->form).LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
    // What a button paints is what a plain tool button showing the
    // shortened text paints.
    app::TKeyButton button;
    QToolButton plain;
    for (QToolButton* b : {static_cast<QToolButton*>(&button), &plain}) {
      b->setAutoRaise(true);
      b->setToolButtonStyle(Qt::ToolButtonTextOnly);
      b->show();
    }
    for (const int width : {30, 50, 70, 120}) {
      button.SetKey(QStringLiteral("F3 \u041f\u0440\u043e\u0441\u043c\u043e\u0442\u0440"), QStringLiteral("F3"));
      button.resize(width, 22), plain.resize(width, 22);
      plain.setText(button.ShownText());
      QVERIFY2(button.grab().toImage() == plain.grab().toImage(), qPrintable(button.ShownText()));
    }
  }
};

QTEST_MAIN(MainFormTest)
#include "mainform_test.moc"
