// mainform_test.cpp - the real main window, offscreen: its layout and
// command set, the active panel and its highlighted directory line, the
// process's current directory, refreshing both panels, drive boxes and root
// buttons, the Info and About windows, and closing.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>

#include "app/aboutform.h"
#include "app/drivecombo.h"
#include "app/infoform.h"
#include "app/mainform.h"
#include "gui_test_support.h"
#include "platform/fs.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;
using panels::TFMPanel;

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string leftDir_, rightDir_, startDir_;
  std::unique_ptr<TMainForm> form_;

  std::string Ini() const { return Std(tmp_.filePath(QStringLiteral("vantrel.ini"))); }

  static QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* a : actions) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
  }
  QMenu* Menu(const char* name) const { return form_->findChild<QMenu*>(QLatin1String(name)); }
  bool Highlighted(QLabel* line) const {
    return line->palette().color(QPalette::Window) ==
               QApplication::palette().color(QPalette::Highlight) &&
           line->palette().color(QPalette::WindowText) ==
               QApplication::palette().color(QPalette::HighlightedText);
  }
  bool Plain(QLabel* line) const {
    return line->palette().color(QPalette::Window) == QApplication::palette().color(QPalette::Window) &&
           line->palette().color(QPalette::WindowText) ==
               QApplication::palette().color(QPalette::WindowText);
  }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    leftDir_ = Std(tmp_.filePath(QStringLiteral("left")));
    rightDir_ = Std(tmp_.filePath(QStringLiteral("right")));
    QVERIFY(QDir().mkpath(QString::fromStdString(leftDir_ + "/sub")));
    QVERIFY(QDir().mkpath(QString::fromStdString(rightDir_)));
    QVERIFY(MakeFile(leftDir_ + "/l.txt", 10));
    QVERIFY(MakeFile(rightDir_ + "/r.txt", 20));
  }

  void init() {
    InstallRecorder();
    startDir_ = platform::GetCurrentDir();
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + leftDir_ + "\nRightPath=" + rightDir_ + "\n");
    form_ = std::make_unique<TMainForm>(Ini());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTRY_VERIFY(form_->LeftFMPanel()->hasFocus());
  }

  void cleanup() {
    form_.reset();
    platform::SetCurrentDir(startDir_);
  }

  void menusHoldTheWholeCommandSet() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Vantrel v. 1.6 (beta)"));
    QCOMPARE(Texts(form_->menuBar()->actions()),
             QStringList({"Left Panel", "Files", "Commands", "Options", "RightPanel", "Help"}));
    QCOMPARE(Texts(Menu("mnuLftPanel")->actions()), QStringList({"Change drive", "Settings..."}));
    QCOMPARE(Texts(Menu("mnuFiles")->actions()),
             QStringList({"New", "Delete", "View", "Edit ", "Copy", "Move", "Rename", "-",
                          "Pack to .ZIP", "Unpack from .ZIP", "-", "Exit"}));
    QCOMPARE(Texts(Menu("mnuCommands")->actions()),
             QStringList({"Make directory", "Find file", "Format diskette",
                          "Calculate directory size"}));
    QCOMPARE(Texts(Menu("mnuOptions")->actions()),
             QStringList({"General settings...", "Font...", "Color", "Select language"}));
    QCOMPARE(Texts(Menu("mnuOptColors")->actions()),
             QStringList({"Select colors", "-", "Load color scheme", "Save color scheme as..."}));
    QCOMPARE(Texts(Menu("mnuRghtPanel")->actions()), QStringList({"Change drive", "Settings..."}));
    QCOMPARE(Texts(Menu("mnuHelp")->actions()), QStringList({"Contents", "-", "About"}));

    const std::pair<const char*, const char*> shortcuts[] = {
        {"mnuLftChDrive", "Alt+F1"}, {"mnuFileNew", "Shift+F4"},  {"mnuFileDelete", "Del"},
        {"mnuFileView", "F3"},       {"mnuFileEdit", "F4"},       {"mnuFileCopy", "F5"},
        {"mnuFileMove", "F6"},       {"mnuFileRename", "Shift+F6"}, {"mnuFilePack", "Alt+F5"},
        {"mnuFileUnpack", "Alt+F9"}, {"mnuCmndMkDir", "F7"},      {"mnuCmndFindFile", "Alt+F7"},
        {"mnuCmndDirSize", "Ctrl+G"}, {"mnuRghtChDrive", "Alt+F2"}, {"mnuHlpContents", "F1"}};
    for (const auto& [name, key] : shortcuts) {
      QAction* action = form_->Action(QLatin1String(name));
      QVERIFY2(action != nullptr, name);
      QCOMPARE(action->shortcut(), QKeySequence(QLatin1String(key)));
    }
  }

  // Format diskette, which Linux has no use for, stays visible and disabled;
  // everything else works.
  void onlyFormatDisketteStaysDisabled() {
    const QStringList later = {"mnuCmndFrmtDiskette"};
    int disabled = 0;
    for (QAction* action : form_->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (action->objectName().isEmpty() || action->menu() != nullptr) continue;
      const bool isLater = later.contains(action->objectName());
      QVERIFY2(action->isEnabled() != isLater, qPrintable(action->objectName()));
      disabled += isLater ? 1 : 0;
    }
    QCOMPARE(disabled, later.size());
  }

  void toolbarButtonsInOrderWithHints() {
    QToolBar* bar = form_->MainToolBar();
    QCOMPARE(bar->height(), 40);
    QStringList order, hints;
    for (QAction* action : bar->actions()) {
      if (action->isSeparator()) {
        order << QStringLiteral("-");
        continue;
      }
      QWidget* button = bar->widgetForAction(action);
      order << button->objectName();
      hints << action->toolTip();
      QCOMPARE(button->size(), QSize(32, 32));
      QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    }
    QCOMPARE(order, QStringList({"NewFileButton", "DeleteFileButton", "ViewFileButton",
                                 "EditFileButton", "CopyFileButton", "MoveFileButton",
                                 "RenameFileButton", "-", "PackFileButton", "UnpackFileButton", "-",
                                 "MakeDirButton", "FindFileButton"}));
    QCOMPARE(hints, QStringList({"New file (Shift+F4)", "Delete file (Del)", "View file (F3)",
                                 "Edit file (F4)", "Copy file (F5)", "Move file (F6)",
                                 "Rename file (Shift+F6)", "Pack to .ZIP (Alt+F5)",
                                 "Unpack from .ZIP (Alt+F9)", "Make directory (F7)",
                                 "Find files (Alt+F7)"}));
  }

  void eachSideIsLaidOutTopToBottom() {
    for (const app::TPanelSide* side : {&form_->Left(), &form_->Right()}) {
      QCOMPARE(side->ComboPanel->height(), 20);
      QCOMPARE(side->DriveCombo->geometry(), QRect(0, 0, 153, 20));
      QCOMPARE(side->RootButton->geometry(), QRect(152, 0, 20, 20));
      QCOMPARE(side->RootButton->toolTip(), QStringLiteral("Go to root"));
      QCOMPARE(side->DirectoryPanel->height(), 17);
      QCOMPARE(side->Header->height(), 17);
      QCOMPARE(side->FilePanel->height(), 19);
      QCOMPARE(side->InfoPanel->height(), 19);
      QVERIFY(side->ComboPanel->y() < side->DirectoryPanel->y());
      QVERIFY(side->DirectoryPanel->y() < side->Header->y());
      QVERIFY(side->Header->y() < side->FMPanel->y());
      QVERIFY(side->FMPanel->y() < side->FilePanel->y());
      QVERIFY(side->FilePanel->y() < side->InfoPanel->y());
      QCOMPARE(side->DriveCombo->focusPolicy(), Qt::ClickFocus);  // never reached by Tab
      QStringList sections;
      for (int i = 0; i < 5; ++i)
        sections << side->Header->model()->headerData(i, Qt::Horizontal).toString();
      QCOMPARE(sections, QStringList({"Name", "Ext", "Size", "Date", "Time"}));
      QCOMPARE(side->Header->sectionSize(0), side->FMPanel->NameWidth());
      QCOMPARE(side->Header->sectionSize(2), side->FMPanel->SizeWidth());
      QVERIFY(side->InfoPanel->text().endsWith(QStringLiteral(" free")));
    }
    QCOMPARE(form_->Left().DirectoryPanel->text(), QString::fromStdString(leftDir_));
    QCOMPARE(form_->CommandEdit()->parentWidget()->height(), 21);
    QCOMPARE(form_->CommandEdit()->focusPolicy(), Qt::ClickFocus);
    QCOMPARE(form_->statusBar()->height(), 20);
    QCOMPARE(form_->LeftWidth(), 300);
    QCOMPARE(form_->Splitter()->handleWidth(), 3);
    // Widths set later reach the headers at the next resize.
    form_->LeftFMPanel()->SetNameWidth(222);
    form_->resize(form_->width() + 10, form_->height());
    QTRY_COMPARE(form_->Left().Header->sectionSize(0), 222);
  }

  void focusSwitchesTheHighlightAndTheCurrentDirectory() {
    const app::TPanelSide& left = form_->Left();
    const app::TPanelSide& right = form_->Right();
    QCOMPARE(form_->ActivePanel(), left.FMPanel);
    QVERIFY(Highlighted(left.DirectoryPanel));
    QVERIFY(Plain(right.DirectoryPanel));
    QCOMPARE(platform::GetCurrentDir(), leftDir_);
    QCOMPARE(form_->CommandEdit()->text(), QString::fromStdString(leftDir_));
    QCOMPARE(left.FilePanel->text(), QStringLiteral("[..]:  DIRECTORY"));

    // Tab goes to the other panel.
    QTest::keyClick(left.FMPanel, Qt::Key_Tab);
    QTRY_VERIFY(right.FMPanel->hasFocus());
    QCOMPARE(form_->ActivePanel(), right.FMPanel);
    QVERIFY(Highlighted(right.DirectoryPanel));
    QVERIFY(Plain(left.DirectoryPanel));
    QCOMPARE(platform::GetCurrentDir(), rightDir_);
    QCOMPARE(form_->CommandEdit()->text(), QString::fromStdString(rightDir_));

    // A click brings the left one back.
    QTest::mouseClick(left.FMPanel->viewport(), Qt::LeftButton, {}, left.FMPanel->RowRect(0).center());
    QTRY_VERIFY(left.FMPanel->hasFocus());
    QVERIFY(Highlighted(left.DirectoryPanel));
    QCOMPARE(platform::GetCurrentDir(), leftDir_);

    // Focus in the command line: no active panel.
    form_->CommandEdit()->setFocus();
    QTRY_VERIFY(form_->CommandEdit()->hasFocus());
    QCOMPARE(form_->ActivePanel(), nullptr);
  }

  void refreshBothPanelsRereadsAndKeepsTheFocus() {
    TFMPanel* left = form_->LeftFMPanel();
    const int before = left->Count();
    left->SetCursor(2);
    QVERIFY(MakeFile(leftDir_ + "/new-file", 1));
    QVERIFY(MakeFile(rightDir_ + "/new-too", 1));
    platform::SetCurrentDir(rightDir_);
    form_->RefreshBothPanels();
    QCOMPARE(left->Count(), before + 1);
    QVERIFY(form_->RightFMPanel()->IndexOfName("new-too") > 0);
    QVERIFY(left->hasFocus());
    QCOMPARE(left->Cursor(), 0);
    QCOMPARE(platform::GetCurrentDir(), rightDir_);
    QFile::remove(QString::fromStdString(leftDir_ + "/new-file"));
    QFile::remove(QString::fromStdString(rightDir_ + "/new-too"));
  }

  void rootButtonEntersTheVolumeRoot() {
    const app::TPanelSide& right = form_->Right();
    const std::string mount = platform::MountPointOf(rightDir_, right.DriveCombo->Volumes());
    QVERIFY(!mount.empty());
    QTest::mouseClick(right.RootButton, Qt::LeftButton);
    QCOMPARE(right.FMPanel->Directory(), mount);
    QTRY_VERIFY(right.FMPanel->hasFocus());
    QVERIFY(Highlighted(right.DirectoryPanel));
    QCOMPARE(form_->CommandEdit()->text(), QString::fromStdString(mount));
    // Only "/" has no "..".
    const bool dotDot = right.FMPanel->Count() > 0 && right.FMPanel->Entries()[0]->FileName == "..";
    QCOMPARE(dotDot, mount != "/");
  }

  void driveBoxShowsAndEntersVolumes() {
    const app::TPanelSide& left = form_->Left();
    app::TDriveCombo* combo = left.DriveCombo;
    QVERIFY(combo->count() > 0);
    const std::string mount = platform::MountPointOf(leftDir_, combo->Volumes());
    QCOMPARE(combo->MountPointAt(combo->currentIndex()), mount);
    QVERIFY(combo->currentText().startsWith(QString::fromStdString(mount)));

    // An item that cannot be entered: "Drive not found", nothing changes.
    emit combo->activated(combo->count() + 3);
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].kind, app::MessageKind::Warning);
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel v. 1.6 (beta)"));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("Drive not found"));
    QCOMPARE(left.FMPanel->Directory(), leftDir_);

    // Choosing the panel's own volume enters its mount point.
    emit combo->activated(combo->currentIndex());
    QCOMPARE(left.FMPanel->Directory(), mount);
    QCOMPARE(ShownMessages().size(), size_t{1});
  }

  void infoWindowLayoutAndReset() {
    app::TInfoForm* info = form_->InfoForm();
    QCOMPARE(info->windowTitle(), QStringLiteral("Vantrel"));
    QCOMPARE(info->size(), QSize(386, 108));
    QCOMPARE(info->InfoLabel()->objectName(), QStringLiteral("InfoLabel"));
    QCOMPARE(info->GaugeLocal()->maximum(), 100);
    QCOMPARE(info->GaugeTotal()->minimum(), 0);
    QVERIFY(info->InfoLabel()->wordWrap());
    QVERIFY(!(info->windowFlags() & Qt::WindowCloseButtonHint));
    info->GaugeLocal()->setValue(40);
    info->GaugeTotal()->setValue(70);
    info->show();
    QApplication::setActiveWindow(info);
    QTRY_VERIFY(info->isActiveWindow());
    QCOMPARE(info->GaugeLocal()->value(), 0);
    QCOMPARE(info->GaugeTotal()->value(), 0);
    info->hide();
  }

  void aboutShowsAndOkCloses() {
    app::TAboutForm* about = form_->AboutForm();
    QCOMPARE(about->windowTitle(), QStringLiteral("About Vantrel"));
    QCOMPARE(about->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Vantrel is convenient file manager for Linux."));
    bool shown = false;
    QTimer::singleShot(0, about, [&] {
      shown = about->isVisible();
      QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("OkButton")), Qt::LeftButton);
    });
    form_->Action(QStringLiteral("mnuHlpAbout"))->trigger();
    QVERIFY(shown);
    QVERIFY(!about->isVisible());
  }

  void exitClosesAndSavesTheSettings() {
    QTest::keyClick(form_->LeftFMPanel(), Qt::Key_Tab);
    QTRY_VERIFY(form_->RightFMPanel()->hasFocus());
    form_->Action(QStringLiteral("mnuFileExit"))->trigger();
    QVERIFY(!form_->isVisible());
    const QStringList general = SectionLines(ReadText(Ini()), QStringLiteral("GENERAL"));
    QVERIFY(general.contains(QStringLiteral("LeftPath=") + QString::fromStdString(leftDir_)));
    QVERIFY(general.contains(QStringLiteral("RightPath=") + QString::fromStdString(rightDir_)));
    QVERIFY(ShownMessages().empty());
  }
};

QTEST_MAIN(MainFormTest)
#include "mainform_test.moc"
