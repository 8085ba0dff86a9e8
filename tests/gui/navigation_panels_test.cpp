// navigation_panels_test.cpp - the real main window, offscreen: Enter and
// double-click on entries, "..", Insert and F8, the command line, header
// clicks and drags, directory lines, Change drive, and drag and drop between
// the panels and with other applications. Programs, the copy and delete
// commands and the ZIP window are recorded through the navigation hooks.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

#include <memory>

#include "app/drivecombo.h"
#include "app/messages.h"
#include "app/mainform.h"
#include "app/nav_hooks.h"
#include "app/nav_panels.h"
#include "gui_test_support.h"
#include "platform/fs.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;
using panels::TFMPanel;

// Inside the drag hook (which returns a drop action) a failed check is
// recorded and reported once the drag is over.
#define EXPECT_DRAG(cond) \
  do {                    \
    if (!(cond)) dragFailures_ << QStringLiteral(#cond); \
  } while (0)

namespace {

// What the hooks were asked to do.
struct TRecorded {
  int copies = 0;
  bool copySourceFocused = false;  // the source panel was the active one
  int deletes = 0;
  std::vector<std::string> zips, documents;
  std::vector<std::string> dropped;
  std::string dropDir;
  QStringList dragUrls;
};

}  // namespace

class NavigationPanelsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string leftDir_, rightDir_, startDir_;
  std::unique_ptr<TMainForm> form_;
  TRecorded rec_;
  // What the drag hook does while the "drag" runs; returns the drop action.
  std::function<int()> duringDrag_;
  QStringList dragFailures_;

  std::string Ini() const { return Std(tmp_.filePath(QStringLiteral("vantrel.ini"))); }
  TFMPanel* Left() const { return form_->LeftFMPanel(); }
  TFMPanel* Right() const { return form_->RightFMPanel(); }
  app::TNavigation* Nav() const {
    return form_->findChild<app::TNavigation*>(QStringLiteral("Navigation"));
  }
  QString Cmd() const { return form_->CommandEdit()->text(); }
  static std::string NameAtCursor(const TFMPanel* p) { return p->CurrentEntry()->FileName; }
  static void Put(TFMPanel* p, const std::string& name) {
    const int i = p->IndexOfName(name);
    QVERIFY2(p->Entries()[static_cast<size_t>(i)]->FileName == name, name.c_str());
    p->SetCursor(i);
  }
  void Mkdir(const std::string& path) { QVERIFY(QDir().mkpath(QString::fromStdString(path))); }

  // Sends a drag enter (or move) with `data` to a panel's list area.
  static bool SendDrag(TFMPanel* panel, QEvent::Type type, QMimeData* data) {
    const QPoint at = panel->viewport()->rect().center();
    bool accepted = false;
    if (type == QEvent::Drop) {
      QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(panel->viewport(), &drop);
      accepted = drop.isAccepted();
    } else if (type == QEvent::DragEnter) {
      QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(panel->viewport(), &enter);
      accepted = enter.isAccepted();
    } else {
      QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(panel->viewport(), &move);
      accepted = move.isAccepted();
    }
    return accepted;
  }

  // A press on the cursor row of `panel` and a move far enough to start a drag.
  void DragFrom(TFMPanel* panel) {
    const QPoint from = panel->RowRect(panel->Cursor()).center();
    QTest::mousePress(panel->viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(panel->viewport(), from + QPoint(0, QApplication::startDragDistance() + 5));
    QTest::mouseRelease(panel->viewport(), Qt::LeftButton, {},
                        from + QPoint(0, QApplication::startDragDistance() + 5));
    QVERIFY2(dragFailures_.isEmpty(), qPrintable(dragFailures_.join(QStringLiteral("; "))));
  }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    leftDir_ = Std(tmp_.filePath(QStringLiteral("left")));
    rightDir_ = Std(tmp_.filePath(QStringLiteral("right")));
    // Two directories whose names differ only in case, one deeper level, files.
    Mkdir(leftDir_ + "/Work/Src");
    Mkdir(leftDir_ + "/Work/src/deep");
    Mkdir(leftDir_ + "/Work/a-first");  // sorts before both
    Mkdir(rightDir_);
    QVERIFY(MakeFile(leftDir_ + "/ARCHIVE.ZIP", 22));
    QVERIFY(MakeFile(leftDir_ + "/archive.zip.txt", 3));
    QVERIFY(MakeFile(leftDir_ + "/-dash.txt", 3));
    QVERIFY(MakeFile(leftDir_ + "/z-last.txt", 3));
    QVERIFY(MakeFile(rightDir_ + "/r.txt", 20));
  }

  void init() {
    InstallRecorder();
    rec_ = {};
    dragFailures_.clear();
    duringDrag_ = [] { return int(Qt::IgnoreAction); };
    app::TNavHooks& hooks = app::NavHooks();
    hooks = app::DefaultNavHooks();
    hooks.CopyCommand = [this](TMainForm& f) {
      ++rec_.copies;
      rec_.copySourceFocused = f.ActivePanel() == Left();
    };
    hooks.DeleteCommand = [this](TMainForm&) { ++rec_.deletes; };
    hooks.OpenZipWindow = [this](TMainForm&, const std::string& p) {
      rec_.zips.push_back(p);
      return true;
    };
    hooks.OpenDocument = [this](const std::string& p) {
      rec_.documents.push_back(p);
      return true;
    };
    hooks.StartEditor = [](const std::string&) { return true; };
    hooks.CopyPathsInto = [this](TMainForm&, const std::vector<std::string>& paths,
                                 const std::string& dir) {
      rec_.dropped = paths;
      rec_.dropDir = dir;
    };
    hooks.ExecDrag = [this](QDrag& drag) {
      for (const QUrl& url : drag.mimeData()->urls()) rec_.dragUrls << url.toString();
      return duringDrag_();
    };
    startDir_ = platform::GetCurrentDir();
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + leftDir_ + "\nRightPath=" + rightDir_ + "\n");
    form_ = std::make_unique<TMainForm>(Ini());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTRY_VERIFY(Left()->hasFocus());
    QVERIFY(Nav() != nullptr);
  }

  void cleanup() {
    form_.reset();
    app::NavHooks() = app::DefaultNavHooks();
    platform::SetCurrentDir(startDir_);
  }

  void enterAndDotDotKeepTheCursorOnTheDirectoryJustLeft() {
    Put(Left(), "Work");
    QTest::keyClick(Left(), Qt::Key_Return);
    QCOMPARE(Left()->Directory(), leftDir_ + "/Work");
    QCOMPARE(Left()->Cursor(), 0);
    QCOMPARE(platform::GetCurrentDir(), leftDir_ + "/Work");
    QCOMPARE(Cmd(), QString::fromStdString(leftDir_ + "/Work"));

    // Into the lower-case one of "Src" and "src", and back up: the cursor is
    // on "src" itself, not on its upper-case sibling listed earlier.
    Put(Left(), "src");
    QTest::keyClick(Left(), Qt::Key_Enter);
    QCOMPARE(Left()->Directory(), leftDir_ + "/Work/src");
    QCOMPARE(NameAtCursor(Left()), std::string(".."));
    QTest::keyClick(Left(), Qt::Key_Return);
    QCOMPARE(Left()->Directory(), leftDir_ + "/Work");
    QCOMPARE(NameAtCursor(Left()), std::string("src"));
    QVERIFY(Left()->IndexOfName("Src") < Left()->Cursor() || Left()->IndexOfName("Src") > 0);
    Put(Left(), "Src");
    QTest::keyClick(Left(), Qt::Key_Return);
    Left()->SetCursor(0);
    QTest::keyClick(Left(), Qt::Key_Return);
    QCOMPARE(NameAtCursor(Left()), std::string("Src"));

    // One more level up, and a directory just below the root.
    Left()->SetCursor(0);
    QTest::keyClick(Left(), Qt::Key_Return);
    QCOMPARE(Left()->Directory(), leftDir_);
    QCOMPARE(NameAtCursor(Left()), std::string("Work"));
    QVERIFY(Left()->ReadDirectory("/usr"));
    Left()->SetCursor(0);
    QTest::keyClick(Left(), Qt::Key_Return);
    QCOMPARE(Left()->Directory(), std::string("/"));
    QCOMPARE(NameAtCursor(Left()), std::string("usr"));
    QCOMPARE(Cmd(), QStringLiteral("/"));
    QVERIFY(ShownMessages().empty());
  }

  void doubleClickRunsTheEnterAction() {
    Put(Left(), "Work");
    const QPoint at = Left()->RowRect(Left()->Cursor()).center();
    QTest::mouseDClick(Left()->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(Left()->Directory(), leftDir_ + "/Work");
    QCOMPARE(Left()->Cursor(), 0);
  }

  void aDirectoryThatCannotBeEnteredLeavesThePanel() {
    Mkdir(leftDir_ + "/gone");
    Left()->ReadDirectory(leftDir_);
    Put(Left(), "gone");
    QVERIFY(QDir().rmdir(QString::fromStdString(leftDir_ + "/gone")));
    const int count = Left()->Count();
    QTest::keyClick(Left(), Qt::Key_Return);
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].kind, app::MessageKind::Error);
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    QCOMPARE(ShownMessages()[0].text, QString::fromStdString(platform::ErrorText(ENOENT)));
    QCOMPARE(Left()->Directory(), leftDir_);
    QCOMPARE(Left()->Count(), count);
    QCOMPARE(NameAtCursor(Left()), std::string("gone"));
    QCOMPARE(platform::GetCurrentDir(), leftDir_);
  }

  void filesGoToTheZipWindowOrTheDefaultApplication() {
    Put(Left(), "ARCHIVE.ZIP");
    QTest::keyClick(Left(), Qt::Key_Return);
    Put(Left(), "archive.zip.txt");
    QTest::keyClick(Left(), Qt::Key_Return);
    Put(Left(), "-dash.txt");
    QTest::keyClick(Left(), Qt::Key_Return);
    QCOMPARE(rec_.zips, std::vector<std::string>{leftDir_ + "/ARCHIVE.ZIP"});
    // Full paths: "-dash.txt" must not reach xdg-open as an option.
    QCOMPARE(rec_.documents,
             (std::vector<std::string>{leftDir_ + "/archive.zip.txt", leftDir_ + "/-dash.txt"}));
    QCOMPARE(Left()->Directory(), leftDir_);
    QCOMPARE(Cmd(), QString::fromStdString(leftDir_));
  }

  void insertMarksAndMovesDownAndLeavesTheCommandLine() {
    form_->CommandEdit()->setText(QStringLiteral("typed"));
    const int last = Left()->Count() - 1;
    Left()->SetCursor(last - 1);
    QTest::keyClick(Left(), Qt::Key_Insert);
    QVERIFY(Left()->IsMarked(last - 1));
    QCOMPARE(Left()->Cursor(), last);
    QTest::keyClick(Left(), Qt::Key_Insert);  // the last entry: marked, cursor stays
    QVERIFY(Left()->IsMarked(last));
    QCOMPARE(Left()->Cursor(), last);
    QTest::keyClick(Left(), Qt::Key_Insert);  // again: unmarked
    QVERIFY(!Left()->IsMarked(last));
    QCOMPARE(Left()->Cursor(), last);
    QCOMPARE(rec_.deletes, 0);
    QTest::keyClick(Left(), Qt::Key_F8);
    QCOMPARE(rec_.deletes, 1);
    QCOMPARE(Cmd(), QStringLiteral("typed"));
    // Any other key, handled by the panel or not, resets the command line.
    QTest::keyClick(Left(), Qt::Key_Up);
    QCOMPARE(Cmd(), QString::fromStdString(leftDir_));
    QCOMPARE(Left()->Cursor(), last - 1);
    form_->CommandEdit()->setText(QStringLiteral("typed"));
    QTest::keyClick(Left(), Qt::Key_X);
    QCOMPARE(Cmd(), QString::fromStdString(leftDir_));
  }

  void headerClicksSortAndDragsSetTheWidths() {
    QHeaderView* header = form_->Left().Header;
    const int sizeX = header->sectionViewportPosition(2) + header->sectionSize(2) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(sizeX, 8));
    QCOMPARE(Left()->SortType(), uint8_t{2});
    QCOMPARE(Right()->SortType(), uint8_t{0});
    QCOMPARE(Left()->Cursor(), 0);
    QCOMPARE(header->sortIndicatorSection(), 2);
    // The sorted column clicked again reverses the order, and back.
    for (bool descending : {true, false}) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(sizeX, 8));
      QCOMPARE(Left()->SortType(), uint8_t{2});
      QCOMPARE(Left()->Model().SortDescending(), descending);
      QCOMPARE(header->sortIndicatorOrder(), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    }

    // Drag the right edge of "Name" 40 pixels to the right.
    const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
    const int before = Left()->NameWidth();
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, 8));
    QTest::mouseMove(header->viewport(), QPoint(edge + 20, 8));
    QTest::mouseMove(header->viewport(), QPoint(edge + 40, 8));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 40, 8));
    QCOMPARE(Left()->NameWidth(), before + 40);
    QCOMPARE(header->sectionSize(0), before + 40);
    // Another section by the header's own call, as a resize reports it.
    form_->Right().Header->resizeSection(3, 91);
    QCOMPARE(Right()->DateWidth(), 91);

    form_->close();
    const QString ini = ReadText(Ini());
    QVERIFY(SectionLines(ini, QStringLiteral("LEFT PANEL"))
                .contains(QStringLiteral("NameWidth=%1").arg(before + 40)));
    QVERIFY(SectionLines(ini, QStringLiteral("LEFT PANEL")).contains(QStringLiteral("SortType=2")));
    QVERIFY(SectionLines(ini, QStringLiteral("RIGHT PANEL")).contains(QStringLiteral("DateWidth=91")));
  }

  void directoryLineClickActivatesItsPanel() {
    QLabel* line = form_->Right().DirectoryPanel;
    QTest::mouseClick(line, Qt::LeftButton, {}, line->rect().center());
    QTRY_VERIFY(Right()->hasFocus());
    QCOMPARE(platform::GetCurrentDir(), rightDir_);
    QCOMPARE(Cmd(), QString::fromStdString(rightDir_));
    // Its menu holds "Find files", working.
    const QList<QAction*> menu = line->actions();
    QCOMPARE(menu.size(), 1);
    QCOMPARE(menu[0]->text(), QStringLiteral("Find files"));
    QVERIFY(menu[0]->isEnabled());
  }

  void changeDriveOpensTheDriveBox() {
    form_->Action(QStringLiteral("mnuRghtChDrive"))->trigger();
    app::TDriveCombo* combo = form_->Right().DriveCombo;
    QTRY_VERIFY(combo->view()->isVisible());
    QVERIFY(combo->hasFocus() || combo->view()->hasFocus());
    combo->hidePopup();
    // Enter with the list closed takes the shown volume: its mount point.
    combo->setFocus();
    QTRY_VERIFY(combo->hasFocus());
    QTest::keyClick(combo, Qt::Key_Return);
    QCOMPARE(Right()->Directory(), combo->MountPointAt(combo->currentIndex()));
    QTRY_VERIFY(Right()->hasFocus());
  }

  void dragOntoTheOtherPanelCopiesAndOffersAUriList() {
    Put(Left(), "z-last.txt");
    duringDrag_ = [this] {
      QMimeData data;
      EXPECT_DRAG(SendDrag(Right(), QEvent::DragEnter, &data));
      EXPECT_DRAG(SendDrag(Right(), QEvent::Drop, &data));
      return int(Qt::CopyAction);  // dropped on the right panel
    };
    DragFrom(Left());
    // The press marked the entry; the drag offered exactly it.
    QCOMPARE(rec_.dragUrls,
             QStringList{QUrl::fromLocalFile(QString::fromStdString(leftDir_ + "/z-last.txt"))
                             .toString()});
    QCOMPARE(rec_.copies, 1);
    QVERIFY(rec_.copySourceFocused);
  }

  void dragThatCrossesAndReturnsStillCopies() {
    Put(Left(), "z-last.txt");
    duringDrag_ = [this] {
      QMimeData data;
      EXPECT_DRAG(SendDrag(Right(), QEvent::DragEnter, &data));
      EXPECT_DRAG(Right()->hasFocus());  // passing over makes it active
      EXPECT_DRAG(SendDrag(Left(), QEvent::DragEnter, &data));
      EXPECT_DRAG(SendDrag(Left(), QEvent::DragMove, &data));
      EXPECT_DRAG(SendDrag(Left(), QEvent::Drop, &data));
      return int(Qt::CopyAction);
    };
    DragFrom(Left());
    QCOMPARE(rec_.copies, 1);
    // A drop on the source panel copies nothing by itself.
    QVERIFY(rec_.dropped.empty());
  }

  void dragThatStaysInsideOrLeavesForAnotherProgramDoesNothing() {
    Put(Left(), "z-last.txt");
    duringDrag_ = [this] {
      QMimeData data;
      EXPECT_DRAG(SendDrag(Left(), QEvent::DragEnter, &data));
      EXPECT_DRAG(SendDrag(Left(), QEvent::DragMove, &data));
      EXPECT_DRAG(SendDrag(Left(), QEvent::Drop, &data));
      return int(Qt::CopyAction);
    };
    DragFrom(Left());
    QCOMPARE(rec_.copies, 0);
    QVERIFY(!rec_.dragUrls.isEmpty());

    // Across the right panel and out to another program, which took the files.
    duringDrag_ = [this] {
      QMimeData data;
      EXPECT_DRAG(SendDrag(Right(), QEvent::DragEnter, &data));
      return int(Qt::CopyAction);
    };
    DragFrom(Left());
    QCOMPARE(rec_.copies, 0);

    // The drag functions by themselves: over the other side and cancelled.
    app::TNavigation* nav = Nav();
    nav->DragStart(*Right());
    nav->DragOver(*Left());
    nav->DragOver(*Right());
    nav->DragEnd(*Right(), false);
    QCOMPARE(rec_.copies, 1);
    QVERIFY(!nav->Dragging());
  }

  void aDragToTheOtherPanelOpensTheRealCopyPrompt() {
    // The real Copy command this time: its prompt offers the other panel's
    // directory; cancelling it copies nothing.
    app::NavHooks().CopyCommand = app::DefaultNavHooks().CopyCommand;
    static QStringList asked;
    asked.clear();
    const app::InputHandler old = app::SetInputHandler(
        [](QWidget*, const QString& caption, const QString& prompt, QString& text) {
          asked << caption << prompt << text;
          return false;
        });
    Put(Left(), "z-last.txt");
    app::TNavigation* nav = Nav();
    nav->DragStart(*Left());
    nav->DragOver(*Right());
    QVERIFY(Right()->hasFocus());
    nav->DragOver(*Left());
    nav->DragEnd(*Left(), false);
    app::SetInputHandler(old);
    QCOMPARE(asked, (QStringList{QStringLiteral("Vantrel v. 1.6 (beta)"),
                                 QStringLiteral("Copy selected files to:"),
                                 QString::fromStdString(rightDir_)}));
    QVERIFY(Left()->hasFocus());
    QVERIFY(!QFileInfo::exists(QString::fromStdString(rightDir_ + "/z-last.txt")));
  }

  void dragDataKeepsTheBytesOfNames() {
    const std::string odd = "n\xFF a.txt";
    QVERIFY(MakeFile(leftDir_ + "/" + odd, 1));
    Left()->ReadDirectory(leftDir_);
    Put(Left(), odd);
    std::unique_ptr<QMimeData> data(Nav()->MimeDataFor(*Left()));
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    QVERIFY2(list.endsWith("/n%FF%20a.txt\r\n"), list.constData());
    QCOMPARE(app::TNavigation::LocalPathsOf(*data), std::vector<std::string>{leftDir_ + "/" + odd});
    QFile::remove(QString::fromStdString(leftDir_ + "/" + odd));
  }

  void filesDroppedFromAnotherProgramAreCopiedIn() {
    QMimeData data;
    // A name that is not UTF-8, a remote file (skipped) and a comment line.
    data.setData(QStringLiteral("text/uri-list"),
                 "# from a file manager\r\nfile:///tmp/a%20b/x%FF.txt\r\n"
                 "file://elsewhere/tmp/remote\r\nfile:///tmp/plain\r\n");
    QVERIFY(SendDrag(Right(), QEvent::DragEnter, &data));
    QVERIFY(SendDrag(Right(), QEvent::Drop, &data));
    QTRY_COMPARE(rec_.dropped.size(), size_t{2});
    QCOMPARE(rec_.dropped[0], std::string("/tmp/a b/x\xFF.txt"));
    QCOMPARE(rec_.dropped[1], std::string("/tmp/plain"));
    QCOMPARE(rec_.dropDir, rightDir_);
    QCOMPARE(rec_.copies, 0);
    // Something without local files is refused.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QVERIFY(!SendDrag(Right(), QEvent::DragEnter, &text));
  }
};

QTEST_MAIN(NavigationPanelsTest)
#include "navigation_panels_test.moc"
