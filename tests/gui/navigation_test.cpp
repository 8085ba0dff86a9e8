// navigation_test.cpp - the real main window, offscreen: Enter on entries and
// "..", Insert, the command line, header clicks and drags, drag and drop
// between the panels and with other programs (programs, copies and the ZIP
// window recorded through the navigation hooks); and the New file, New
// directory, Rename and Find file dialogs: what they create or refuse, their
// messages, the refresh, and the search with Go to file.
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>

#include "app/drivecombo.h"
#include "app/findfileform.h"
#include "app/nav_hooks.h"
#include "app/nav_panels.h"
#include "app/newdirectoryform.h"
#include "app/newfileform.h"
#include "app/renamefileform.h"
#include "gui_support.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::MessageKind;
using panels::TFMPanel;

class NavigationTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  // What the hooks were asked to do.
  int copies_ = 0;
  std::vector<std::string> zips_, documents_, edited_, dropped_;
  std::string dropDir_;
  QStringList dragUrls_;
  std::function<int()> duringDrag_;  // runs while a drag runs; returns the drop action

  TFMPanel* L() const { return f_->L(); }
  TFMPanel* R() const { return f_->R(); }
  QString Cmd() const { return f_->form->CommandEdit()->text(); }
  void Enter(const char* name) {
    QVERIFY2(f_->Put(L(), name), name);
    QTest::keyClick(L(), Qt::Key_Return);
  }
  // Sends a drag enter, move or drop with `data` to a panel's list area.
  static bool SendDrag(TFMPanel* panel, QEvent::Type type, QMimeData* data) {
    const QPoint at = panel->viewport()->rect().center();
    std::unique_ptr<QDropEvent> event;
    if (type == QEvent::Drop) event = std::make_unique<QDropEvent>(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    if (type == QEvent::DragEnter) event = std::make_unique<QDragEnterEvent>(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    if (type == QEvent::DragMove) event = std::make_unique<QDragMoveEvent>(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel->viewport(), event.get());
    return event->isAccepted();
  }

 private slots:
  void init() {
    f_ = std::make_unique<TFormFixture>();
    copies_ = 0;
    zips_.clear(), documents_.clear(), edited_.clear(), dropped_.clear(), dragUrls_.clear();
    app::TNavHooks& hooks = app::NavHooks();
    hooks = app::DefaultNavHooks();
    hooks.CopyCommand = [this](app::TMainForm& f) { copies_ += f.ActivePanel() == L() ? 1 : 100; };
    hooks.OpenZipWindow = [this](app::TMainForm&, const std::string& p) { return zips_.push_back(p), true; };
    hooks.OpenDocument = [this](const std::string& p) { return documents_.push_back(p), true; };
    hooks.StartEditor = [this](const std::string& p) { return edited_.push_back(p), true; };
    hooks.CopyPathsInto = [this](app::TMainForm&, const std::vector<std::string>& paths, const std::string& dir) {
      dropped_ = paths;
      dropDir_ = dir;
    };
    hooks.ExecDrag = [this](QDrag& drag) {
      for (const QUrl& url : drag.mimeData()->urls()) dragUrls_ << url.toString();
      return duringDrag_();
    };
    // Two directories whose names differ only in case, one deeper level, files.
    for (const char* dir : {"/Work/Src", "/Work/src/deep", "/Work/a-first"}) QVERIFY(MakeDir(f_->left + dir));
    for (const char* file : {"/ARCHIVE.ZIP", "/archive.zip.txt", "/-dash.txt", "/z-last.txt"})
      QVERIFY(MakeFile(f_->left + file, 3));
    QVERIFY(f_->Show());
  }
  void cleanup() {
    f_.reset();
    app::NavHooks() = app::DefaultNavHooks();
  }

  void enterAndDotDotKeepTheCursorOnTheDirectoryJustLeft() {
    Enter("Work");
    QCOMPARE(L()->Directory(), f_->left + "/Work");
    QCOMPARE(L()->Cursor(), 0);
    QCOMPARE(platform::GetCurrentDir(), f_->left + "/Work");
    QCOMPARE(Cmd(), Q(f_->left + "/Work"));
    // Into the lower-case one of "Src" and "src" and back up: the cursor is
    // on "src" itself, not on its upper-case sibling listed earlier.
    Enter("src");
    Enter("..");
    QCOMPARE(f_->AtCursor(L()), std::string("src"));
    Enter("..");
    QCOMPARE(L()->Directory(), f_->left);
    QCOMPARE(f_->AtCursor(L()), std::string("Work"));
    // Up from a directory just below the root.
    QVERIFY(L()->ReadDirectory("/usr"));
    Enter("..");
    QCOMPARE(L()->Directory(), std::string("/"));
    QCOMPARE(f_->AtCursor(L()), std::string("usr"));
    QCOMPARE(Cmd(), QStringLiteral("/"));
    // A directory that vanished: the system's reason, and the panel stays.
    QVERIFY(L()->ReadDirectory(f_->left) && MakeDir(f_->left + "/gone"));
    L()->Reread();
    QVERIFY(f_->Put(L(), "gone") && QDir().rmdir(Q(f_->left + "/gone")));
    QTest::keyClick(L(), Qt::Key_Return);
    QCOMPARE(Script().Texts(), QStringList({Q(platform::ErrorText(ENOENT))}));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Error);
    QCOMPARE(L()->Directory(), f_->left);
    QCOMPARE(f_->AtCursor(L()), std::string("gone"));
  }

  void filesGoToTheZipWindowOrTheDefaultApplication() {
    for (const char* name : {"ARCHIVE.ZIP", "archive.zip.txt", "-dash.txt"}) Enter(name);
    QCOMPARE(zips_, std::vector<std::string>{f_->left + "/ARCHIVE.ZIP"});
    // Full paths: "-dash.txt" must not reach xdg-open as an option.
    QCOMPARE(documents_, (std::vector<std::string>{f_->left + "/archive.zip.txt", f_->left + "/-dash.txt"}));
    QCOMPARE(L()->Directory(), f_->left);
  }

  void insertMarksAndMovesDownAndKeysResetTheCommandLine() {
    f_->form->CommandEdit()->setText(QStringLiteral("typed"));
    const int last = L()->Count() - 1;
    L()->SetCursor(last - 1);
    // Marks and moves down; on the last entry it stays, and unmarks again.
    for (auto [index, marked] : {std::pair{last - 1, true}, {last, true}, {last, false}}) {
      QTest::keyClick(L(), Qt::Key_Insert);
      QCOMPARE(L()->IsMarked(index), marked);
      QCOMPARE(L()->Cursor(), last);
    }
    QCOMPARE(Cmd(), QStringLiteral("typed"));
    // Any other key, handled by the panel or not, resets the command line.
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_X}) {
      f_->form->CommandEdit()->setText(QStringLiteral("typed"));
      QTest::keyClick(L(), key);
      QCOMPARE(Cmd(), Q(f_->left));
    }
  }

  void headerClicksSortAndDragsSetTheWidths() {
    QHeaderView* header = f_->form->Left().Header;
    const int sizeX = header->sectionViewportPosition(2) + header->sectionSize(2) / 2;
    // Size, then the same column again reverses the order, and back.
    for (bool descending : {false, true, false}) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(sizeX, 8));
      QCOMPARE(L()->SortType(), uint8_t{2});
      QCOMPARE(L()->Model().SortDescending(), descending);
      QCOMPARE(header->sortIndicatorOrder(), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
    QCOMPARE(header->sortIndicatorSection(), 2);
    QCOMPARE(R()->SortType(), uint8_t{0});
    QCOMPARE(L()->Cursor(), 0);
    // The right edge of "Name" dragged 40 pixels to the right.
    const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1, before = L()->NameWidth();
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, 8));
    QTest::mouseMove(header->viewport(), QPoint(edge + 20, 8));
    QTest::mouseMove(header->viewport(), QPoint(edge + 40, 8));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 40, 8));
    QCOMPARE(L()->NameWidth(), before + 40);
    f_->form->Right().Header->resizeSection(3, 91);
    QCOMPARE(R()->DateWidth(), 91);
    f_->form->close();
    QVERIFY(f_->Section("LEFT PANEL").contains(QStringLiteral("NameWidth=%1").arg(before + 40)));
    QVERIFY(f_->Section("LEFT PANEL").contains(QStringLiteral("SortType=2")));
    QVERIFY(f_->Section("RIGHT PANEL").contains(QStringLiteral("DateWidth=91")));
  }

  void directoryLineClickActivatesItsPanel() {
    QLabel* line = f_->form->Right().DirectoryPanel;
    QTest::mouseClick(line, Qt::LeftButton, {}, line->rect().center());
    QTRY_VERIFY(R()->hasFocus());
    QCOMPARE(platform::GetCurrentDir(), f_->right);
    QCOMPARE(line->actions().value(0)->text(), QStringLiteral("Find files"));
  }

  // A drag from the left panel's cursor row: where it passes and ends, and
  // whether that copies (to the other panel only) through the Copy command.
  void drag_data() {
    QTest::addColumn<QString>("path");  // L/R: panel, e/m/d: enter, move, drop
    QTest::addColumn<int>("copies");
    QTest::newRow("dropped on the other panel") << "Re Rd" << 1;
    QTest::newRow("across and back") << "Re Le Lm Ld" << 1;
    QTest::newRow("inside the source panel") << "Le Lm Ld" << 0;
    QTest::newRow("across and out to another program") << "Re" << 0;
  }
  void drag() {
    QFETCH(QString, path);
    QStringList failures;
    duringDrag_ = [&] {
      QMimeData data;
      for (const QString& step : path.split(' ')) {
        TFMPanel* panel = step[0] == 'L' ? L() : R();
        const auto type = step[1] == 'e' ? QEvent::DragEnter : step[1] == 'm' ? QEvent::DragMove : QEvent::Drop;
        if (!SendDrag(panel, type, &data)) failures << step;
        if (!panel->hasFocus()) failures << step + " focus";  // passing over makes it active
      }
      return int(Qt::CopyAction);  // somebody took it
    };
    QVERIFY(f_->Put(L(), "z-last.txt"));
    const QPoint from = L()->RowRect(L()->Cursor()).center(), to = from + QPoint(0, QApplication::startDragDistance() + 5);
    QTest::mousePress(L()->viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(L()->viewport(), to);
    QTest::mouseRelease(L()->viewport(), Qt::LeftButton, {}, to);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral(", "))));
    QCOMPARE(dragUrls_, QStringList{QUrl::fromLocalFile(Q(f_->left + "/z-last.txt")).toString()});
    QFETCH(int, copies);
    QCOMPARE(copies_, copies);  // from the source panel, active again
    QVERIFY(dropped_.empty());
  }

  void dragAndDropDataKeepTheBytesOfNames() {
    const std::string odd = "n\xFF a.txt";
    QVERIFY(MakeFile(f_->left + "/" + odd, 1));
    L()->Reread();
    QVERIFY(f_->Put(L(), odd));
    app::TNavigation* nav = f_->form->findChild<app::TNavigation*>(QStringLiteral("Navigation"));
    std::unique_ptr<QMimeData> data(nav->MimeDataFor(*L()));
    QVERIFY2(data->data(QStringLiteral("text/uri-list")).endsWith("/n%FF%20a.txt\r\n"), data->data("text/uri-list").constData());
    QCOMPARE(app::TNavigation::LocalPathsOf(*data), std::vector<std::string>{f_->left + "/" + odd});
    ::unlink((f_->left + "/" + odd).c_str());
    // From another program: a name that is not UTF-8, a remote file (skipped), a comment.
    QMimeData from;
    from.setData(QStringLiteral("text/uri-list"), "# from a file manager\r\nfile:///tmp/a%20b/x%FF.txt\r\n"
                                                  "file://elsewhere/tmp/remote\r\nfile:///tmp/plain\r\n");
    QVERIFY(SendDrag(R(), QEvent::DragEnter, &from) && SendDrag(R(), QEvent::Drop, &from));
    QTRY_COMPARE(dropped_, (std::vector<std::string>{"/tmp/a b/x\xFF.txt", "/tmp/plain"}));
    QCOMPARE(dropDir_, f_->right);
    QCOMPARE(copies_, 0);
    QMimeData text;  // nothing local: refused
    text.setText(QStringLiteral("hello"));
    QVERIFY(!SendDrag(R(), QEvent::DragEnter, &text));
  }

  // ------------------------------------------------------------ dialogs

  void newFileAndDirectoryNeverTouchWhatExists() {
    auto* file = f_->Find<app::TNewFileForm>("NewFileForm");
    auto* dir = f_->Find<app::TNewDirectoryForm>("NewDirectoryForm");
    WriteText(f_->left + "/exists.txt", "keep me");
    QVERIFY(MakeFile(f_->right + "/appeared", 1));  // a failed command still re-reads
    const auto create = [&](const char* command, QDialog* dialog, QLineEdit* edit, QPushButton* ok, const char* name) {
      return f_->RunModal(command, dialog, [=] {
        edit->setText(QLatin1String(name));
        QTest::mouseClick(ok, Qt::LeftButton);
      });
    };
    QVERIFY(create("mnuFileNew", file, file->FileNameEdit(), file->OkButton(), "exists.txt"));
    QVERIFY(create("mnuCmndMkDir", dir, dir->DirectoryNameEdit(), dir->OkButton(), "no/such"));
    QCOMPARE(Script().Texts(), QStringList({"Can not create file exists.txt!", "Can not create directory no/such!"}));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("Can not create file exists.txt!\nProbably, the file already exists."));
    QCOMPARE(ShownMessages()[1].text,
             QStringLiteral("Can not create directory no/such!\nProbably, the directory already exists."));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Warning);
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    QCOMPARE(ReadText(f_->left + "/exists.txt"), QStringLiteral("keep me"));
    QVERIFY(!Exists(f_->left + "/no") && edited_.empty());
    QVERIFY(f_->Listed(R(), "appeared"));
    // New names: an empty file opened in the editor, a directory; both
    // panels re-read with the cursor on the first entry.
    L()->SetCursor(1);
    QString shownAgain;
    QVERIFY(f_->RunModal("mnuFileNew", file, [&] {
      shownAgain = file->FileNameEdit()->text();  // the last name is kept
      file->FileNameEdit()->setText(QStringLiteral("new.txt"));
      QTest::keyClick(file->FileNameEdit(), Qt::Key_Return);
    }));
    QCOMPARE(shownAgain, QStringLiteral("exists.txt"));
    QVERIFY(create("mnuCmndMkDir", dir, dir->DirectoryNameEdit(), dir->OkButton(), "made"));
    QCOMPARE(QFileInfo(Q(f_->left + "/new.txt")).size(), 0);
    QCOMPARE(edited_, std::vector<std::string>{f_->left + "/new.txt"});
    QVERIFY(QFileInfo(Q(f_->left + "/made")).isDir());
    QVERIFY(f_->Listed(L(), "new.txt") && f_->Listed(L(), "made"));
    QCOMPARE(L()->Cursor(), 0);
    QCOMPARE(ShownMessages().size(), size_t{2});
    // Escape changes nothing.
    QVERIFY(f_->RunModal("mnuFileNew", file, [&] {
      file->FileNameEdit()->setText(QStringLiteral("never.txt"));
      QTest::keyClick(file, Qt::Key_Escape);
    }));
    QVERIFY(!Exists(f_->left + "/never.txt"));
  }

  void renameNeverReplacesAndWorksOnDirectories() {
    auto* dialog = f_->Find<app::TRenameFileForm>("RenameFileForm");
    const auto renameTo = [&](const char* name) {
      return f_->RunModal("mnuFileRename", dialog, [&] {
        dialog->FileNameEdit()->setText(QLatin1String(name));
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
      });
    };
    QVERIFY(f_->Put(L(), "-dash.txt"));
    WriteText(f_->left + "/z-last.txt", "z");
    QVERIFY(renameTo("z-last.txt"));
    QCOMPARE(Script().Texts(), QStringList({"Sorry! Can not rename!"}));
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    QVERIFY(Exists(f_->left + "/-dash.txt"));
    QCOMPARE(ReadText(f_->left + "/z-last.txt"), QStringLiteral("z"));
    Script().shown.clear();
    QVERIFY(f_->Put(L(), "Work"));
    QString label;
    QVERIFY(f_->RunModal("mnuFileRename", dialog, [&] {
      label = dialog->FileNameLabel()->text();
      dialog->FileNameEdit()->setText(QStringLiteral("renamed"));
      QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    }));
    QCOMPARE(label, QStringLiteral("Work"));
    QVERIFY(QFileInfo(Q(f_->left + "/renamed/Src")).isDir());
    QVERIFY(f_->Listed(L(), "renamed"));
    QCOMPARE(L()->Cursor(), 0);
    // ".." and no active panel are refused before the dialog.
    f_->Action("mnuFileRename")->trigger();
    f_->form->CommandEdit()->setFocus();
    QTRY_VERIFY(f_->form->CommandEdit()->hasFocus());
    f_->Action("mnuFileRename")->trigger();
    QCOMPARE(Script().Texts(), QStringList({"There are no selected files", "There are no selected files"}));
    QCOMPARE(ShownMessages()[0].caption, kMainCaption);
    QVERIFY(!dialog->isVisible());
  }

  void findListsDepthFirstWithFullPathsAndGoesToTheFile() {
    const std::string root = f_->left + "/tree";
    QVERIFY(MakeDir(root + "/sub/x.txt"));  // a directory is never a match
    QVERIFY(MakeFile(root + "/a.txt", 5, 2024, 3, 9, 14, 30) && MakeFile(root + "/other.dat", 5));
    QVERIFY(MakeFile(root + "/sub/b.txt", 7) && MakeFile(root + "/sub/x.txt/c.txt", 9));
    QVERIFY(::symlink("..", (root + "/sub/loop").c_str()) == 0);  // searched once, not through the link
    // 5 GiB without the blocks: the size column is not 32-bit.
    const int fd = ::open((root + "/big.txt").c_str(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0 && ::ftruncate(fd, 5LL << 30) == 0);
    ::close(fd);
    auto* dialog = f_->Find<app::TFindFileForm>("FindFileForm");
    L()->ReadDirectory(root);
    platform::SetCurrentDir(root);
    QString mask, path, size, date;
    QStringList paths;
    QVERIFY(f_->RunModal("mnuCmndFindFile", dialog, [&] {
      mask = dialog->MaskEdit()->text();
      path = dialog->PathEdit()->text();
      dialog->MaskEdit()->setText(QStringLiteral("*.txt"));
      platform::SetCurrentDir(f_->left);  // the search returns here
      QTest::mouseClick(dialog->StartButton(), Qt::LeftButton);
      QCOMPARE(platform::GetCurrentDir(), f_->left);
      QAbstractItemModel* model = dialog->ResultsView()->model();
      for (int r = 0; r < model->rowCount(); ++r) {
        paths << model->index(r, 0).data().toString();
        if (paths.back().endsWith(QStringLiteral("/big.txt"))) size = model->index(r, 1).data().toString();
        if (paths.back().endsWith(QStringLiteral("/a.txt"))) date = model->index(r, 2).data().toString();
      }
      // Go to file with no row chosen: a warning, the window stays; then sub/b.txt's row.
      dialog->ResultsView()->clearSelection();
      QTest::mouseClick(dialog->GoToButton(), Qt::LeftButton);
      QVERIFY(dialog->isVisible());
      dialog->ResultsView()->selectionModel()->select(
          model->index(int(paths.indexOf(Q(root + "/sub/b.txt"))), 0),
          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      QTest::mouseClick(dialog->GoToButton(), Qt::LeftButton);
    }));
    QCOMPARE(mask, QStringLiteral("*.*"));
    QCOMPARE(path, Q(root));
    // Top-level matches first (listing order), then the subdirectories'.
    const QString r = Q(root);
    QCOMPARE(paths.size(), 4);
    QVERIFY(paths.indexOf(r + "/a.txt") < 2 && paths.indexOf(r + "/big.txt") < 2);
    QVERIFY(paths.indexOf(r + "/sub/b.txt") >= 2 && paths.contains(r + "/sub/x.txt/c.txt"));
    QCOMPARE(size, QStringLiteral("5368709120"));
    QVERIFY2(date.contains(QStringLiteral("14:30")), qPrintable(date));
    QCOMPARE(Script().Texts(), QStringList({"There are no selected files!"}));
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    // The left panel had the focus, so it went there, cursor on the file.
    QCOMPARE(L()->Directory(), root + "/sub");
    QCOMPARE(f_->AtCursor(L()), std::string("b.txt"));
    app::TDriveCombo* combo = f_->form->Left().DriveCombo;
    QCOMPARE(combo->MountPointAt(combo->currentIndex()), platform::MountPointOf(root, combo->Volumes()));
    QCOMPARE(R()->Directory(), f_->right);
  }

  // From the directory line's menu, for the right panel: a search of the
  // whole tree stopped by Close; paths in the root have single separators.
  void closeStopsASearch() {
    auto* dialog = f_->Find<app::TFindFileForm>("FindFileForm");
    QTest::keyClick(L(), Qt::Key_Tab);
    QTRY_VERIFY(R()->hasFocus());
    bool wasRunning = false;
    QString runningText;
    QStringList paths;
    QTimer::singleShot(0, dialog, [&] {
      dialog->PathEdit()->setText(QStringLiteral("/"));
      dialog->MaskEdit()->setText(QStringLiteral("*"));
      QTimer::singleShot(1000, dialog, [&] {
        wasRunning = dialog->Searching();
        runningText = dialog->StartButton()->text();
        QTest::mouseClick(dialog->CloseButton(), Qt::LeftButton);
      });
      dialog->StartButtonClick();
      QAbstractItemModel* model = dialog->ResultsView()->model();
      for (int r = 0; r < model->rowCount() && r < 20000; ++r) paths << model->index(r, 0).data().toString();
    });
    f_->form->Right().DirectoryPanel->actions().value(0)->trigger();
    QVERIFY(wasRunning && !dialog->isVisible() && !dialog->Searching());
    QCOMPARE(runningText, QStringLiteral("Searching..."));
    QCOMPARE(dialog->StartButton()->text(), QStringLiteral("Start!"));
    QCOMPARE(dialog->Target(), &f_->form->Right());
    QVERIFY(!paths.isEmpty());
    for (const QString& p : paths)
      QVERIFY2(p.startsWith(QLatin1Char('/')) && !p.contains(QStringLiteral("//")), qPrintable(p));
  }
};

QTEST_MAIN(NavigationTest)
#include "navigation_test.moc"
