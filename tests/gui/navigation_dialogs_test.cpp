// navigation_dialogs_test.cpp - New file, New directory, Rename and Find file
// on the real main window, offscreen: their texts, what they create or
// refuse, the messages, the refresh, and the search with Go to file.
#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTableView>

#include <memory>

#include "app/drivecombo.h"
#include "app/findfileform.h"
#include "app/mainform.h"
#include "app/nav_hooks.h"
#include "app/newdirectoryform.h"
#include "app/newfileform.h"
#include "app/renamefileform.h"
#include "gui_test_support.h"
#include "platform/fs.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;
using panels::TFMPanel;

class NavigationDialogsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string leftDir_, rightDir_, startDir_;
  std::unique_ptr<TMainForm> form_;
  std::vector<std::string> editorStarts_;

  std::string Ini() const { return Std(tmp_.filePath(QStringLiteral("vantrel.ini"))); }
  TFMPanel* Left() const { return form_->LeftFMPanel(); }
  TFMPanel* Right() const { return form_->RightFMPanel(); }
  template <class T>
  T* Dialog(const char* name) const {
    return form_->findChild<T*>(QLatin1String(name));
  }
  static QPushButton* Button(QWidget* dialog, const char* name) {
    return dialog->findChild<QPushButton*>(QLatin1String(name));
  }
  // Runs `command` (which opens a modal dialog) with `script` acting inside it.
  void RunModal(const char* command, QWidget* dialog, const std::function<void()>& script) {
    bool ran = false;
    QTimer::singleShot(0, dialog, [&] {
      ran = dialog->isVisible();
      script();
      // Whatever the script did, never leave the dialog open.
      if (dialog->isVisible()) QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    form_->Action(QLatin1String(command))->trigger();
    QVERIFY2(ran, command);
    QVERIFY(!dialog->isVisible());
    // The focus goes back to the main window once the dialog is gone (the
    // offscreen platform does not reactivate it by itself).
    form_->activateWindow();
    QTRY_VERIFY(form_->ActivePanel() != nullptr || form_->CommandEdit()->hasFocus());
  }
  std::string Slurp(const std::string& path) const { return Std(ReadText(path)); }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    leftDir_ = Std(tmp_.filePath(QStringLiteral("left")));
    rightDir_ = Std(tmp_.filePath(QStringLiteral("right")));
    QVERIFY(QDir().mkpath(QString::fromStdString(leftDir_)));
    QVERIFY(QDir().mkpath(QString::fromStdString(rightDir_)));
  }

  void init() {
    InstallRecorder();
    editorStarts_.clear();
    app::NavHooks() = app::DefaultNavHooks();
    app::NavHooks().StartEditor = [this](const std::string& p) {
      editorStarts_.push_back(p);
      return true;
    };
    startDir_ = platform::GetCurrentDir();
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + leftDir_ + "\nRightPath=" + rightDir_ + "\n");
    form_ = std::make_unique<TMainForm>(Ini());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTRY_VERIFY(Left()->hasFocus());
  }

  void cleanup() {
    form_.reset();
    app::NavHooks() = app::DefaultNavHooks();
    platform::SetCurrentDir(startDir_);
  }

  void newFileCreatesAndEditsButNeverTouchesAnExistingFile() {
    auto* dialog = Dialog<app::TNewFileForm>("NewFileForm");
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("New file"));
    QCOMPARE(dialog->HelpContext(), 401);
    QVERIFY(dialog->OkButton()->isDefault());
    QCOMPARE(dialog->CancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog->HelpButton()->text(), QStringLiteral("Help"));

    WriteText(leftDir_ + "/exists.txt", "keep me");
    Left()->ReadDirectory(leftDir_);
    RunModal("mnuFileNew", dialog, [&] {
      dialog->FileNameEdit()->setText(QStringLiteral("exists.txt"));
      QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    });
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].kind, app::MessageKind::Warning);
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    QCOMPARE(ShownMessages()[0].text,
             QStringLiteral("Can not create file exists.txt!\nProbably, the file already exists."));
    QCOMPARE(Slurp(leftDir_ + "/exists.txt"), std::string("keep me"));
    QVERIFY(editorStarts_.empty());

    // A new name: an empty file in the active panel's directory, the editor,
    // both panels re-read with the cursor on the first entry.
    Left()->SetCursor(1);
    QString shownAgain;
    RunModal("mnuFileNew", dialog, [&] {
      shownAgain = dialog->FileNameEdit()->text();
      dialog->FileNameEdit()->setText(QStringLiteral("new.txt"));
      QTest::keyClick(dialog->FileNameEdit(), Qt::Key_Return);  // Enter is Ok
    });
    QCOMPARE(shownAgain, QStringLiteral("exists.txt"));  // the edit keeps the last name
    QVERIFY(QFileInfo::exists(QString::fromStdString(leftDir_ + "/new.txt")));
    QCOMPARE(QFileInfo(QString::fromStdString(leftDir_ + "/new.txt")).size(), 0);
    QCOMPARE(editorStarts_, std::vector<std::string>{leftDir_ + "/new.txt"});
    QVERIFY(Left()->IndexOfName("new.txt") > 0);
    QCOMPARE(Left()->Cursor(), 0);
    QCOMPARE(ShownMessages().size(), size_t{1});

    // Cancel (Escape) changes nothing.
    RunModal("mnuFileNew", dialog, [&] {
      dialog->FileNameEdit()->setText(QStringLiteral("never.txt"));
      QTest::keyClick(dialog, Qt::Key_Escape);
    });
    QVERIFY(!QFileInfo::exists(QString::fromStdString(leftDir_ + "/never.txt")));
  }

  void newDirectoryWithAMissingParentReportsAndRefreshes() {
    auto* dialog = Dialog<app::TNewDirectoryForm>("NewDirectoryForm");
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("New directory"));
    QCOMPARE(dialog->HelpContext(), 501);
    // Something appears meanwhile; the failed command still refreshes.
    QVERIFY(MakeFile(rightDir_ + "/appeared", 1));
    RunModal("mnuCmndMkDir", dialog, [&] {
      dialog->DirectoryNameEdit()->setText(QStringLiteral("no/such"));
      QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    });
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].text,
             QStringLiteral("Can not create directory no/such!\nProbably, the directory already exists."));
    QVERIFY(!QFileInfo::exists(QString::fromStdString(leftDir_ + "/no")));
    QVERIFY(Right()->IndexOfName("appeared") > 0);
    QFile::remove(QString::fromStdString(rightDir_ + "/appeared"));

    RunModal("mnuCmndMkDir", dialog, [&] {
      dialog->DirectoryNameEdit()->setText(QStringLiteral("made"));
      QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    });
    QVERIFY(QFileInfo(QString::fromStdString(leftDir_ + "/made")).isDir());
    QVERIFY(Left()->IndexOfName("made") > 0);
    QCOMPARE(ShownMessages().size(), size_t{1});
    QDir().rmdir(QString::fromStdString(leftDir_ + "/made"));
  }

  void renameNeverReplacesAndWorksOnDirectories() {
    auto* dialog = Dialog<app::TRenameFileForm>("RenameFileForm");
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Rename file"));
    QCOMPARE(dialog->HelpContext(), 407);
    WriteText(leftDir_ + "/one.txt", "one");
    WriteText(leftDir_ + "/two.txt", "two");
    QVERIFY(QDir().mkpath(QString::fromStdString(leftDir_ + "/folder")));
    Left()->ReadDirectory(leftDir_);

    Left()->SetCursor(Left()->IndexOfName("one.txt"));
    QString label, edit;
    RunModal("mnuFileRename", dialog, [&] {
      label = dialog->FileNameLabel()->text();
      edit = dialog->FileNameEdit()->text();
      dialog->FileNameEdit()->setText(QStringLiteral("two.txt"));
      QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    });
    QCOMPARE(label, QStringLiteral("one.txt"));
    QCOMPARE(edit, QStringLiteral("one.txt"));
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("Sorry! Can not rename!"));
    QCOMPARE(Slurp(leftDir_ + "/one.txt"), std::string("one"));
    QCOMPARE(Slurp(leftDir_ + "/two.txt"), std::string("two"));

    // A directory, into a new name.
    Left()->SetCursor(Left()->IndexOfName("folder"));
    RunModal("mnuFileRename", dialog, [&] {
      dialog->FileNameEdit()->setText(QStringLiteral("renamed"));
      QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    });
    QVERIFY(QFileInfo(QString::fromStdString(leftDir_ + "/renamed")).isDir());
    QVERIFY(Left()->IndexOfName("renamed") > 0);
    QCOMPARE(Left()->Cursor(), 0);
    QCOMPARE(ShownMessages().size(), size_t{1});

    // ".." and no active panel are refused before the dialog.
    Left()->SetCursor(0);
    form_->Action(QStringLiteral("mnuFileRename"))->trigger();
    QCOMPARE(ShownMessages().size(), size_t{2});
    QCOMPARE(ShownMessages()[1].caption, QStringLiteral("Vantrel v. 1.6 (beta)"));
    QCOMPARE(ShownMessages()[1].text, QStringLiteral("There are no selected files"));
    form_->CommandEdit()->setFocus();
    QTRY_VERIFY(form_->CommandEdit()->hasFocus());
    form_->Action(QStringLiteral("mnuFileRename"))->trigger();
    QCOMPARE(ShownMessages().size(), size_t{3});
    QVERIFY(!dialog->isVisible());
  }

  void findListsDepthFirstWithFullPathsAndGoesToTheFile() {
    const std::string root = leftDir_ + "/tree";
    QVERIFY(QDir().mkpath(QString::fromStdString(root + "/sub/x.txt")));
    QVERIFY(MakeFile(root + "/a.txt", 5, 2024, 3, 9, 14, 30));
    QVERIFY(MakeFile(root + "/other.dat", 5));
    QVERIFY(MakeFile(root + "/sub/b.txt", 7));
    QVERIFY(MakeFile(root + "/sub/x.txt/c.txt", 9));
    // A link loop: searched once, never again through the link.
    QVERIFY(::symlink("..", (root + "/sub/loop").c_str()) == 0);
    // 5 GiB without the blocks: the size column is not 32-bit.
    {
      const int fd = ::open((root + "/big.txt").c_str(), O_CREAT | O_WRONLY, 0644);
      QVERIFY(fd >= 0);
      QVERIFY(::ftruncate(fd, 5LL << 30) == 0);
      ::close(fd);
    }
    auto* dialog = Dialog<app::TFindFileForm>("FindFileForm");
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Find file:"));
    QCOMPARE(dialog->StartButton()->text(), QStringLiteral("Start!"));
    QVERIFY(dialog->StartButton()->isDefault());
    QCOMPARE(dialog->ResultsView()->horizontalHeader()->sectionSize(0), 220);

    Left()->ReadDirectory(root);
    platform::SetCurrentDir(root);
    QString mask, path;
    QStringList paths;
    QString size, date;
    RunModal("mnuCmndFindFile", dialog, [&] {
      mask = dialog->MaskEdit()->text();
      path = dialog->PathEdit()->text();
      dialog->MaskEdit()->setText(QStringLiteral("*.txt"));
      platform::SetCurrentDir(leftDir_);  // the search returns here
      QTest::mouseClick(dialog->StartButton(), Qt::LeftButton);
      QCOMPARE(platform::GetCurrentDir(), leftDir_);
      QVERIFY(!dialog->Animate()->isVisible());
      QAbstractItemModel* model = dialog->ResultsView()->model();
      for (int r = 0; r < model->rowCount(); ++r) {
        paths << model->index(r, 0).data().toString();
        if (paths.back().endsWith(QStringLiteral("/big.txt")))
          size = model->index(r, 1).data().toString();
        if (paths.back().endsWith(QStringLiteral("/a.txt")))
          date = model->index(r, 2).data().toString();
      }
      // Go to file with no row chosen: a warning, the window stays.
      dialog->ResultsView()->clearSelection();
      QTest::mouseClick(dialog->GoToButton(), Qt::LeftButton);
      QVERIFY(dialog->isVisible());
      // Then with the row of sub/b.txt.
      const int row = static_cast<int>(paths.indexOf(QString::fromStdString(root + "/sub/b.txt")));
      dialog->ResultsView()->selectionModel()->select(
          model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      QTest::mouseClick(dialog->GoToButton(), Qt::LeftButton);
    });
    QCOMPARE(mask, QStringLiteral("*.*"));
    QCOMPARE(path, QString::fromStdString(root));
    const QString r = QString::fromStdString(root);
    // Top-level matches first (listing order), then the subdirectories'.
    QCOMPARE(paths.size(), 4);
    QVERIFY(paths.indexOf(r + "/a.txt") < 2 && paths.indexOf(r + "/big.txt") < 2);
    QVERIFY(paths.indexOf(r + "/sub/b.txt") >= 2);
    QVERIFY(paths.contains(r + "/sub/x.txt/c.txt"));
    QVERIFY(!paths.contains(r + "/sub/x.txt"));  // a directory is never a match
    QCOMPARE(size, QStringLiteral("5368709120"));
    QVERIFY2(date.contains(QStringLiteral("14:30")), qPrintable(date));
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("There are no selected files!"));
    // The left panel had the focus, so it went there, cursor on the file.
    QCOMPARE(Left()->Directory(), root + "/sub");
    QCOMPARE(Left()->CurrentEntry()->FileName, std::string("b.txt"));
    app::TDriveCombo* combo = form_->Left().DriveCombo;
    QCOMPARE(combo->MountPointAt(combo->currentIndex()),
             platform::MountPointOf(root, combo->Volumes()));
    QCOMPARE(Right()->Directory(), rightDir_);
  }

  void findInTheRootGivesSingleSeparatorsAndCloseStopsIt() {
    auto* dialog = Dialog<app::TFindFileForm>("FindFileForm");
    // The right panel is the target when the left one does not have the focus.
    QTest::keyClick(Left(), Qt::Key_Tab);
    QTRY_VERIFY(Right()->hasFocus());
    QStringList paths;
    bool wasRunning = false;
    QString runningText;
    RunModal("mnuCmndFindFile", dialog, [&] {
      dialog->PathEdit()->setText(QStringLiteral("/"));
      dialog->MaskEdit()->setText(QStringLiteral("*"));
      // Close while the search runs: it stops, then the window closes.
      QTimer::singleShot(1500, dialog, [&] {
        wasRunning = dialog->Searching();
        runningText = dialog->StartButton()->text();
        QTest::mouseClick(dialog->CloseButton(), Qt::LeftButton);
      });
      dialog->StartButtonClick();
      QAbstractItemModel* model = dialog->ResultsView()->model();
      for (int r = 0; r < model->rowCount() && r < 20000; ++r)
        paths << model->index(r, 0).data().toString();
    });
    QVERIFY(wasRunning);
    QCOMPARE(runningText, QStringLiteral("Searching..."));
    QVERIFY(!paths.isEmpty());
    for (const QString& p : paths) {
      QVERIFY2(p.startsWith(QLatin1Char('/')) && !p.contains(QStringLiteral("//")), qPrintable(p));
    }
    QCOMPARE(platform::GetCurrentDir(), rightDir_);
    QCOMPARE(dialog->Target(), &form_->Right());
    QVERIFY(!dialog->Searching());
    QCOMPARE(dialog->StartButton()->text(), QStringLiteral("Start!"));
  }

  void escapeStopsASearchAndTheDirectoryLineOpensFind() {
    auto* dialog = Dialog<app::TFindFileForm>("FindFileForm");
    QAction* menuFind = form_->Right().DirectoryPanel->actions().value(0);
    QVERIFY(menuFind != nullptr);
    bool ran = false;
    QTimer::singleShot(0, dialog, [&] {
      ran = true;
      dialog->PathEdit()->setText(QStringLiteral("/"));
      dialog->MaskEdit()->setText(QStringLiteral("*"));
      QTimer::singleShot(300, dialog, [&] { QTest::keyClick(dialog, Qt::Key_Escape); });
      dialog->StartButtonClick();
    });
    menuFind->trigger();
    QVERIFY(ran);
    QVERIFY(!dialog->isVisible());
    QVERIFY(!dialog->Searching());
  }
};

QTEST_MAIN(NavigationDialogsTest)
#include "navigation_dialogs_test.moc"
