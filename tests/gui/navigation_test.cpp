// navigation_test.cpp - the real main window, offscreen: Enter on entries and
// "..", Insert, the command line, header clicks and drags, drag and drop
// between the panels and with other programs (programs, copies and the ZIP
// window recorded through the navigation hooks); and the New file, New
// directory, Rename and Find file dialogs: what they refuse, their messages,
// and the search with Go to file.
#include <QApplication>
#include <QCheckBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTableView>

#include "app/dialogs/findfileform.h"
#include "app/commands/command_hooks.h"
#include "app/commands/command_line.h"
#include "app/panels/panel_navigation.h"
#include "app/dialogs/newdirectoryform.h"
#include "app/dialogs/newfileform.h"
#include "app/dialogs/renamefileform.h"
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
  // The directory the command line's prompt shows.
  QString Cmd() const { return f_->form->CommandPrompt()->toolTip(); }
  QString Typed() const { return f_->form->CommandEdit()->text(); }
  void Enter(const char* name) {
    QVERIFY2(f_->Put(L(), name), name);
    QTest::keyClick(L(), Qt::Key_Return);
  }
  // Sends a drag enter, move or drop with `data` to a panel's list area.
  static bool SendDrag(TFMPanel* panel, QEvent::Type type, QMimeData* data) {
    const QPoint at = panel->viewport()->rect().center();
    const std::unique_ptr<QDropEvent> event(
        type == QEvent::Drop        ? new QDropEvent(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier)
        : type == QEvent::DragEnter ? new QDragEnterEvent(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier)
                                    : new QDragMoveEvent(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier));
    QApplication::sendEvent(panel->viewport(), event.get());
    return event->isAccepted();
  }

 private slots:
  void init() {
    f_ = std::make_unique<TFormFixture>();
    copies_ = 0, zips_.clear(), documents_.clear(), edited_.clear(), dropped_.clear(), dragUrls_.clear();
    app::TNavHooks& hooks = app::NavHooks();
    hooks = app::DefaultNavHooks();
    hooks.CopyCommand = [this](app::TMainForm& f) { copies_ += f.ActivePanel() == L() ? 1 : 100; };
    hooks.OpenZipWindow = [this](app::TMainForm&, const std::string& p) { return zips_.push_back(p), true; };
    hooks.OpenDocument = [this](const std::string& p) { return documents_.push_back(p), true; };
    hooks.StartEditor = [this](const std::string& p) { return edited_.push_back(p), true; };
    hooks.CopyPathsInto = [this](app::TMainForm&, const std::vector<std::string>& paths, const std::string& dir) {
      dropped_ = paths, dropDir_ = dir;
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
    QCOMPARE(Cmd(), Q(f_->left + "/Work"));
    // Into the lower-case one of "Src" and "src" and back up: the cursor is
    // on "src" itself, not on its upper-case sibling listed earlier.
    Enter("src");
    Enter("..");
    QCOMPARE(f_->AtCursor(L()), std::string("src"));
    // Up from a directory just below the root.
    QVERIFY(L()->ReadDirectory("/usr"));
    Enter("..");
    QCOMPARE(L()->Directory() + f_->AtCursor(L()), std::string("/usr"));
    QCOMPARE(Cmd(), QStringLiteral("/"));
    // A directory that vanished: the system's reason, and the panel stays.
    QVERIFY(L()->ReadDirectory(f_->left) && MakeDir(f_->left + "/gone"));
    L()->Reread();
    QVERIFY(f_->Put(L(), "gone") && QDir().rmdir(Q(f_->left + "/gone")));
    QTest::keyClick(L(), Qt::Key_Return);
    QCOMPARE(Script().Texts(), QStringList({Q(platform::ErrorText(ENOENT))}));
    QCOMPARE(L()->Directory() + "/" + f_->AtCursor(L()), f_->left + "/gone");
  }

  void filesGoToTheZipWindowOrTheDefaultApplication() {
    for (const char* name : {"ARCHIVE.ZIP", "archive.zip.txt", "-dash.txt"}) Enter(name);
    QCOMPARE(zips_, std::vector<std::string>{f_->left + "/ARCHIVE.ZIP"});
    // Full paths: "-dash.txt" must not reach xdg-open as an option.
    QCOMPARE(documents_, (std::vector<std::string>{f_->left + "/archive.zip.txt", f_->left + "/-dash.txt"}));
    QCOMPARE(L()->Directory(), f_->left);
  }

  void insertMarksAndMovesDown() {
    const int last = L()->Count() - 1;
    L()->SetCursor(last);
    for (bool marked : {true, false}) {  // on the last entry Insert stays and unmarks again
      QTest::keyClick(L(), Qt::Key_Insert);
      QCOMPARE(QPoint(L()->IsMarked(last), L()->Cursor()), QPoint(marked, last));
    }
  }

  // Keys in a panel, one after the other from the cursor on "a b.txt": what
  // the command line's field then holds, how many entries are marked and the
  // directory the panel shows (relative to left/).
  void typedTextGoesToTheCommandLine() {
    QVERIFY(MakeFile(f_->left + "/a b.txt", 1) && MakeFile(f_->left + "/it's", 1));
    L()->Reread();
    QVERIFY(f_->Put(L(), "a b.txt"));
    const QString full = Q(f_->left);
    const std::string parent = Std(f_->tmp.path());
    const struct {
      char typed;  // a character key, or 0 for `key`
      Qt::Key key;
      Qt::KeyboardModifiers mods;
      QString field;
      int marked;
      bool up;  // the panel went to the parent
    } steps[] = {
        {' ', {}, {}, "", 1, false},  // empty field: Space marks
        {'l', {}, {}, "l", 1, false},
        {'S', {}, Qt::ShiftModifier, "lS", 1, false},
        {' ', {}, {}, "lS ", 1, false},  // text there: a blank
        {0, Qt::Key_Return, Qt::ControlModifier, "lS 'a b.txt' ", 1, false},
        {0, Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier, "lS 'a b.txt' '" + full + "/a b.txt' ", 1, false},
        {0, Qt::Key_Backspace, {}, "lS 'a b.txt' '" + full + "/a b.txt'", 1, false},
        {0, Qt::Key_Down, {}, "lS 'a b.txt' '" + full + "/a b.txt'", 1, false},  // the cursor keys stay the panel's
        {0, Qt::Key_Escape, {}, "", 1, false},
        {0, Qt::Key_Backspace, {}, "", 0, true},  // empty field: the parent
    };
    for (const auto& s : steps) {
      if (s.typed != 0)
        QTest::keyClick(L(), s.typed, s.mods);
      else
        QTest::keyClick(L(), s.key, s.mods);
      QCOMPARE(Typed(), s.field);
      QCOMPARE(L()->Model().MarkedCount(), s.marked);
      QCOMPARE(L()->Directory(), s.up ? parent : f_->left);
    }
  }

  // Earlier commands, newest first: Ctrl+E goes back, Ctrl+X forward to an
  // empty field; in the field Alt+Up and Alt+Down do the same.
  void ctrlEAndCtrlXWalkTheHistory() {
    f_->form->Lists().Commands = {"echo two", "echo one"};
    QLineEdit* edit = f_->form->CommandEdit();
    const std::pair<QWidget*, std::pair<Qt::Key, Qt::KeyboardModifiers>> keys[] = {
        {L(), {Qt::Key_E, Qt::ControlModifier}}, {L(), {Qt::Key_E, Qt::ControlModifier}},
        {L(), {Qt::Key_E, Qt::ControlModifier}}, {L(), {Qt::Key_X, Qt::ControlModifier}},
        {edit, {Qt::Key_Down, Qt::AltModifier}}, {edit, {Qt::Key_Up, Qt::AltModifier}}};
    const QStringList expected = {"echo two", "echo one", "echo one", "echo two", "", "echo two"};
    for (size_t i = 0; i < std::size(keys); ++i) {
      QTest::keyClick(keys[i].first, keys[i].second.first, keys[i].second.second);
      QCOMPARE(Typed(), expected[static_cast<qsizetype>(i)]);
    }
  }

  void shellWordsQuoteWhatAShellWouldSplit() {
    for (auto [name, word] : {std::pair{"plain-name_1.txt", "plain-name_1.txt"}, {"a b", "'a b'"},
                              {"it's", "'it'\\''s'"}, {"$HOME", "'$HOME'"}, {"", "''"}})
      QCOMPARE(app::ShellWord(name), std::string(word));
  }

  // Backspace and Ctrl+PgUp go to the parent with the cursor on the
  // directory left; Ctrl+PgDn enters the directory under the cursor and
  // leaves files alone; Ctrl+U swaps the panels' directories.
  void parentEnterAndSwapKeys() {
    const struct {
      const char* cursor;
      Qt::Key key;
      Qt::KeyboardModifiers mods;
      const char* dir;  // relative to left/ afterwards
    } steps[] = {{"-dash.txt", Qt::Key_PageDown, Qt::ControlModifier, ""},
                 {"Work", Qt::Key_PageDown, Qt::ControlModifier, "Work"},
                 {"Src", Qt::Key_PageDown, Qt::ControlModifier, "Work/Src"},
                 {"..", Qt::Key_PageUp, Qt::ControlModifier, "Work"},
                 {"a-first", Qt::Key_Backspace, {}, ""}};
    for (const auto& s : steps) {
      QVERIFY2(f_->Put(L(), s.cursor), s.cursor);
      QTest::keyClick(L(), s.key, s.mods);
      QCOMPARE(L()->Directory(), s.dir[0] ? f_->left + "/" + s.dir : f_->left);
    }
    QCOMPARE(f_->AtCursor(L()), std::string("Work"));  // the directory just left
    QVERIFY(documents_.empty());
    QTest::keyClick(L(), Qt::Key_U, Qt::ControlModifier);
    QCOMPARE(L()->Directory() + "|" + R()->Directory(), f_->right + "|" + f_->left);
    QCOMPARE(f_->AtCursor(R()), std::string("Work"));
    QVERIFY(L()->hasFocus());
    QCOMPARE(Cmd(), Q(f_->right));
  }

  void headerClicksSortAndDragsSetTheWidths() {
    QHeaderView* header = f_->form->Left().Header;
    const int sizeX = header->sectionViewportPosition(2) + header->sectionSize(2) / 2;
    // Size, then the same column again reverses the order, and back.
    for (bool descending : {false, true, false}) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(sizeX, 8));
      QCOMPARE(L()->SortType(), uint8_t{2});
      QCOMPARE(L()->Model().SortDescending(), descending);
    }
    QCOMPARE(R()->SortType(), uint8_t{0});
    // The right edge of "Name" dragged 40 pixels to the right: the name
    // column is that much wider than the room it had.
    const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1, before = L()->ShownNameWidth();
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, 8));
    QTest::mouseMove(header->viewport(), QPoint(edge + 20, 8));
    QTest::mouseMove(header->viewport(), QPoint(edge + 40, 8));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 40, 8));
    QCOMPARE(L()->NameWidth(), before + 40);
    QCOMPARE(L()->ShownNameWidth(), before + 40);
    f_->form->close();
    for (const QString& line : {QStringLiteral("NameWidth=%1").arg(before + 40), QStringLiteral("SortType=2")})
      QVERIFY2(f_->Section("LEFT PANEL").contains(line), qPrintable(line));
  }

  // A drag from the left panel's cursor row: where it passes and ends, and
  // whether that copies (to the other panel only) through the Copy command.
  void drag() {
    const std::pair<const char*, int> paths[] = {  // L/R: panel, e/m/d: enter, move, drop; copies made
        {"Re Rd", 1}, {"Re Le Lm Ld", 1}, {"Le Lm Ld", 0}, {"Re", 0}};  // "Re": out to another program
    for (const auto& [path, copies] : paths) {
      copies_ = 0;
      dragUrls_.clear();
      QStringList failures;
      duringDrag_ = [&] {
        QMimeData data;
        for (const QString& step : QString(path).split(' ')) {
          TFMPanel* panel = step[0] == 'L' ? L() : R();
          const auto type = step[1] == 'e' ? QEvent::DragEnter : step[1] == 'm' ? QEvent::DragMove : QEvent::Drop;
          if (!SendDrag(panel, type, &data)) failures << step;
          if (!panel->hasFocus()) failures << step + " focus";  // passing over makes it active
        }
        return int(Qt::CopyAction);  // somebody took it
      };
      QVERIFY(f_->Put(L(), "z-last.txt"));
      L()->setFocus();
      const QPoint from = L()->RowRect(L()->Cursor()).center(), to = from + QPoint(0, QApplication::startDragDistance() + 5);
      QTest::mousePress(L()->viewport(), Qt::LeftButton, {}, from);
      QTest::mouseMove(L()->viewport(), to);
      QTest::mouseRelease(L()->viewport(), Qt::LeftButton, {}, to);
      QVERIFY2(failures.isEmpty(), qPrintable(QLatin1String(path) + ": " + failures.join(QStringLiteral(", "))));
      QCOMPARE(dragUrls_, QStringList{QUrl::fromLocalFile(Q(f_->left + "/z-last.txt")).toString()});
      QVERIFY2(copies_ == copies && dropped_.empty(), path);  // copied from the source panel, active again
    }
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
    QVERIFY(dropDir_ == f_->right && copies_ == 0);
    QMimeData text;  // nothing local: refused
    text.setText(QStringLiteral("hello"));
    QVERIFY(!SendDrag(R(), QEvent::DragEnter, &text));
  }

  // ------------------------------------------------------------ dialogs

  // New file, New directory and Rename refuse names that exist or cannot be
  // made, with their texts (New directory and Rename with the system's
  // reason), and touch nothing; a failed command still re-reads. New
  // directory stays open with the name to correct.
  void nameDialogsNeverTouchWhatExists() {
    auto* file = f_->Find<app::TNewFileForm>("NewFileForm");
    auto* dir = f_->Find<app::TNewDirectoryForm>("NewDirectoryForm");
    auto* rename = f_->Find<app::TRenameFileForm>("RenameFileForm");
    WriteText(f_->left + "/exists.txt", "keep me");
    QVERIFY(MakeFile(f_->right + "/appeared", 1));
    const struct {
      const char* command;
      QDialog* dialog;
      QLineEdit* edit;
      QPushButton* ok;
      const char* name;
      const char* text;
      bool staysOpen;
    } cases[] = {
        {"mnuFileNew", file, file->FileNameEdit(), file->OkButton(), "exists.txt",
         "Can not create file exists.txt!\nProbably, the file already exists.", false},
        {"mnuCmndMkDir", dir, dir->DirectoryNameEdit(), dir->OkButton(), "exists.txt/sub",
         "Can not create directory exists.txt/sub!\nNot a directory", true},
        {"mnuCmndMkDir", dir, dir->DirectoryNameEdit(), dir->OkButton(), "exists.txt",
         "Can not create directory exists.txt!\nFile exists", true},
        {"mnuFileRename", rename, rename->FileNameEdit(), rename->OkButton(), "exists.txt",
         "Sorry! Can not rename!\nFile exists", false}};
    for (const auto& c : cases) {
      Script().shown.clear();
      QVERIFY(f_->Put(L(), "-dash.txt"));  // the entry Rename renames
      bool open = false;
      QString kept;
      QVERIFY(f_->RunModal(c.command, c.dialog, [&] {
        c.edit->setText(QLatin1String(c.name));
        QTest::mouseClick(c.ok, Qt::LeftButton);
        open = c.dialog->isVisible();
        kept = c.edit->text();
      }));
      QCOMPARE(open, c.staysOpen);
      if (open) QCOMPARE(kept, QLatin1String(c.name));
      QCOMPARE(ShownMessages().size(), size_t(1));
      QCOMPARE(ShownMessages()[0].text, QLatin1String(c.text));
      QCOMPARE(ShownMessages()[0].kind, MessageKind::Warning);
    }
    QCOMPARE(ReadText(f_->left + "/exists.txt"), QStringLiteral("keep me"));
    QVERIFY(Exists(f_->left + "/-dash.txt") && edited_.empty());
    QVERIFY(f_->Listed(R(), "appeared"));
    // The last name is shown again; Escape changes nothing.
    QString shownAgain;
    QVERIFY(f_->RunModal("mnuFileNew", file, [&] {
      shownAgain = file->FileNameEdit()->text();
      file->FileNameEdit()->setText(QStringLiteral("never.txt"));
      QTest::keyClick(file, Qt::Key_Escape);
    }));
    QCOMPARE(shownAgain, QStringLiteral("exists.txt"));
    QVERIFY(!Exists(f_->left + "/never.txt"));
  }

  // New directory with a nested name makes every missing level and closes;
  // Rename to the entry's own name (however spelled) does nothing, silently.
  void nestedDirectoryAndRenameToItself() {
    auto* dir = f_->Find<app::TNewDirectoryForm>("NewDirectoryForm");
    auto* rename = f_->Find<app::TRenameFileForm>("RenameFileForm");
    QVERIFY(MakeDir(f_->left + "/a"));  // the first level exists already
    WriteText(f_->left + "/same.txt", "same");
    L()->ReadDirectory(f_->left);
    const struct {
      const char* command;
      QDialog* dialog;
      QLineEdit* edit;
      const char* name;
    } cases[] = {{"mnuCmndMkDir", dir, dir->DirectoryNameEdit(), "a/b/c"},
                 {"mnuCmndMkDir", dir, dir->DirectoryNameEdit(), "x/y/"},
                 {"mnuFileRename", rename, rename->FileNameEdit(), "same.txt"},
                 {"mnuFileRename", rename, rename->FileNameEdit(), "./same.txt"}};
    for (const auto& c : cases) {
      QVERIFY(f_->Put(L(), "same.txt"));  // the entry Rename renames
      bool open = true;
      QVERIFY(f_->RunModal(c.command, c.dialog, [&] {
        c.edit->setText(QLatin1String(c.name));
        QTest::keyClick(c.edit, Qt::Key_Return);
        open = c.dialog->isVisible();
      }));
      QVERIFY2(!open, c.name);
    }
    QVERIFY(platform::IsDirectory(f_->left + "/a/b/c") && platform::IsDirectory(f_->left + "/x/y"));
    QCOMPARE(ReadText(f_->left + "/same.txt"), QStringLiteral("same"));
    QVERIFY(ShownMessages().empty());
    QVERIFY(f_->Listed(L(), "x"));  // both panels re-read
  }

  // The search's order and walk are the search's own tests; here the result
  // columns (a size beyond 32 bits, the time), Go to file without a row, and
  // the panel that had the focus going to the chosen file.
  void findShowsResultsAndGoesToTheFile() {
    const std::string root = f_->left + "/tree";
    QVERIFY(MakeDir(root + "/sub") && MakeFile(root + "/a.txt", 5, 2024, 3, 9, 14, 30));
    QVERIFY(MakeFile(root + "/sub/b.txt", 7));
    const int fd = ::open((root + "/big.txt").c_str(), O_CREAT | O_WRONLY, 0644);  // 5 GiB without the blocks
    QVERIFY(fd >= 0 && ::ftruncate(fd, 5LL << 30) == 0);
    ::close(fd);
    auto* dialog = f_->Find<app::TFindFileForm>("FindFileForm");
    L()->ReadDirectory(root);
    platform::SetCurrentDir(root);
    QString path;
    QStringList rows;
    QVERIFY(f_->RunModal("mnuCmndFindFile", dialog, [&] {
      path = dialog->PathEdit()->text();
      dialog->MaskEdit()->setText(QStringLiteral("*.txt"));
      QTest::mouseClick(dialog->StartButton(), Qt::LeftButton);
      QAbstractItemModel* model = dialog->ResultsView()->model();
      for (int r = 0; r < model->rowCount(); ++r)  // the path below the tree, the size, the time
        rows << model->index(r, 0).data().toString().mid(int(root.size())) + " " + model->index(r, 1).data().toString() +
                    " " + model->index(r, 2).data().toString();
      // Go to file with no row chosen: a warning, the window stays; then sub/b.txt's row.
      dialog->ResultsView()->clearSelection();
      QTest::mouseClick(dialog->GoToButton(), Qt::LeftButton);
      QVERIFY(dialog->isVisible());
      dialog->ResultsView()->selectionModel()->select(model->index(int(rows.size()) - 1, 0),
                                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      QTest::mouseClick(dialog->GoToButton(), Qt::LeftButton);
    }));
    QCOMPARE(path, Q(root));
    QVERIFY2(rows.size() == 3 && rows.last().startsWith(QStringLiteral("/sub/b.txt 7 ")) &&
                 rows.filter(QStringLiteral("/big.txt 5368709120 ")).size() == 1 &&
                 rows.filter(QStringLiteral("/a.txt 5 ")).value(0).contains(QStringLiteral("14:30")),
             qPrintable(rows.join('|')));
    QCOMPARE(Script().Texts(), QStringList({"There are no selected files!"}));
    QCOMPARE(L()->Directory() + "/" + f_->AtCursor(L()), root + "/sub/b.txt");
    QCOMPARE(R()->Directory(), f_->right);
  }

  // Go to file on an entry found inside a ZIP archive opens the archive's
  // place that holds it, the cursor on the entry.
  void findGoesIntoTheArchive() {
    const std::string root = f_->left + "/tree", packed = f_->Path("packed");
    QVERIFY(MakeDir(root) && MakeDir(packed + "/docs/deep") && MakeFile(packed + "/docs/deep/wanted.txt", 3));
    QVERIFY(MakeFile(packed + "/docs/other.txt", 3));
    QVERIFY(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), Q("cd '" + packed + "' && zip -qr '" + root + "/box.zip' .")}) == 0);
    auto* dialog = f_->Find<app::TFindFileForm>("FindFileForm");
    L()->ReadDirectory(root);
    platform::SetCurrentDir(root);
    int rows = -1;
    QVERIFY(f_->RunModal("mnuCmndFindFile", dialog, [&] {
      dialog->MaskEdit()->setText(QStringLiteral("wanted.txt"));
      dialog->findChild<QCheckBox*>(QStringLiteral("ArchivesCheck"))->setChecked(true);
      QTest::mouseClick(dialog->StartButton(), Qt::LeftButton);
      rows = dialog->ResultsView()->model()->rowCount();
      dialog->ResultsView()->selectRow(0);
      QTest::mouseClick(dialog->GoToButton(), Qt::LeftButton);
    }));
    QCOMPARE(rows, 1);
    QCOMPARE(L()->Directory(), root + "/box.zip/docs/deep");
    QCOMPARE(f_->AtCursor(L()), std::string("wanted.txt"));
    QVERIFY(ShownMessages().empty());
  }

  // Feed to panel lists a hit inside a ZIP archive by its path through the
  // archive beside the files on disk; Ctrl+R keeps it while the archive is
  // there, and Enter on it opens the archive's place with the cursor on it.
  void feedListsArchiveHitsThatEnterOpens() {
    const std::string root = f_->left + "/tree", packed = f_->Path("packed");
    QVERIFY(MakeDir(root) && MakeDir(packed + "/docs"));
    WriteText(packed + "/docs/wanted.txt", "in the archive\n");
    QVERIFY(MakeFile(root + "/wanted.txt", 4));
    QVERIFY(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), Q("cd '" + packed + "' && zip -qr '" + root + "/box.zip' .")}) == 0);
    auto* dialog = f_->Find<app::TFindFileForm>("FindFileForm");
    L()->ReadDirectory(root);
    platform::SetCurrentDir(root);
    QVERIFY(f_->RunModal("mnuCmndFindFile", dialog, [&] {
      dialog->MaskEdit()->setText(QStringLiteral("wanted.txt"));
      dialog->findChild<QCheckBox*>(QStringLiteral("ArchivesCheck"))->setChecked(true);
      QTest::mouseClick(dialog->StartButton(), Qt::LeftButton);
      QTest::mouseClick(dialog->FeedButton(), Qt::LeftButton);
    }));
    QTRY_VERIFY(L()->Model().IsListing());
    QVERIFY(f_->Listed(L(), "wanted.txt") && f_->Listed(L(), "box.zip/docs/wanted.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_R, Qt::ControlModifier));
    QVERIFY(L()->Model().IsListing() && f_->Listed(L(), "box.zip/docs/wanted.txt"));
    // F3 views a private copy of the entry; F4 says where it can be edited.
    const std::string out = f_->Path("viewed.txt"), prog = f_->Path("viewer.sh");
    WriteText(prog, "#!/bin/sh\ncp \"$1\" '" + out + ".tmp' && echo \"$1\" >> '" + out + ".tmp' && mv '" + out +
                        ".tmp' '" + out + "'\n");
    ::chmod(prog.c_str(), 0700);
    f_->form->ViewerCommand = prog;
    QVERIFY(f_->Put(L(), "box.zip/docs/wanted.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_F3));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(Q(out)), 10000);
    const QStringList lines = ReadText(out).split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("in the archive"));
    QVERIFY(Std(lines.value(1)).ends_with("/wanted.txt") && Std(lines.value(1)).find(root) == std::string::npos);
    QVERIFY(ShownMessages().empty());
    QVERIFY(f_->Press(L(), Qt::Key_F4));
    QCOMPARE(Script().Texts(), QStringList{"box.zip/docs/wanted.txt is inside an archive: Enter opens its place there, "
                                           "where F4 edits it."});
    // F5, F6 and F8 say where they work on it; the archive keeps it.
    for (const auto& [key, words] : {std::pair{Qt::Key_F5, "F5 copies"}, std::pair{Qt::Key_F6, "F6 moves"},
                                     std::pair{Qt::Key_F8, "F8 deletes"}}) {
      ShownMessages().clear();
      QVERIFY(f_->Put(L(), "box.zip/docs/wanted.txt"));
      QVERIFY(f_->Press(L(), key));
      QCOMPARE(Script().Texts(), QStringList{QStringLiteral("box.zip/docs/wanted.txt is inside an archive: Enter opens "
                                                            "its place there, where %1 it.").arg(QLatin1String(words))});
    }
    QVERIFY(QFileInfo::exists(Q(root + "/box.zip")));
    ShownMessages().clear();
    QVERIFY(f_->Put(L(), "box.zip/docs/wanted.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Return));
    QTRY_COMPARE(L()->Directory(), root + "/box.zip/docs");
    QCOMPARE(f_->AtCursor(L()), std::string("wanted.txt"));
    QVERIFY(ShownMessages().empty());
  }

  // A click on the right directory line activates its panel; from the line's
  // menu, a search of the whole tree stopped by Close; paths in the root have
  // single separators.
  void closeStopsASearch() {
    auto* dialog = f_->Find<app::TFindFileForm>("FindFileForm");
    QLabel* line = f_->form->Right().DirectoryPanel;
    QTest::mouseClick(line, Qt::LeftButton, {}, line->rect().center());
    QTRY_VERIFY(R()->hasFocus());
    QCOMPARE(platform::GetCurrentDir(), f_->right);
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
    QCOMPARE(line->actions().value(0)->text(), QStringLiteral("Find files"));
    line->actions().value(0)->trigger();
    QVERIFY(wasRunning && !dialog->isVisible() && !dialog->Searching() && !paths.isEmpty());
    QCOMPARE(runningText + "|" + dialog->StartButton()->text(), QStringLiteral("Searching...|Start!"));
    QCOMPARE(dialog->Target(), &f_->form->Right());
    for (const QString& p : paths)
      QVERIFY2(p.startsWith(QLatin1Char('/')) && !p.contains(QStringLiteral("//")), qPrintable(p));
  }
};

QTEST_MAIN(NavigationTest)
#include "navigation_test.moc"
