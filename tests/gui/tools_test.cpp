// tools_test.cpp - the file tools in the real main window, offscreen:
// multi-rename from the keyboard; Find file by content with Feed to panel
// and the file commands on the listing it makes; Compare directories
// marking both panels; quick view following the cursor.
#include <map>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>

#include "app/commands/file_commands.h"
#include "app/commands/tool_commands.h"
#include "app/dialogs/comparedirsform.h"
#include "app/dialogs/conflict_list.h"
#include "app/dialogs/findfileform.h"
#include "app/dialogs/multirenameform.h"
#include "app/dialogs/syncdirsform.h"
#include "app/panels/quick_view.h"
#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "app/commands/options_commands.h"
#include "app/settings/lang.h"
#include "gui_support.h"

using namespace vantrel;
using namespace vantrel::testing;

class ToolsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  panels::TFMPanel* L() const { return f_->L(); }

 private slots:
  void init() { f_ = std::make_unique<TFormFixture>(); }
  void cleanup() { f_.reset(); }

  // Ctrl+M opens with the name mask focused and selected: typing replaces
  // it, Enter renames the marked entries, the cursor follows its entry.
  void MultiRenameFromTheKeyboard() {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "other.dat"}) QVERIFY(MakeFile(f_->left + "/" + name, 1));
    QVERIFY(f_->Show());
    for (const char* name : {"a.txt", "b.txt"}) QVERIFY(f_->Mark(L(), name));
    QVERIFY(f_->Put(L(), "b.txt"));
    bool focused = false;
    QVERIFY(WithModal<app::TMultiRenameForm>([&] { QVERIFY(f_->Press(L(), Qt::Key_M, Qt::ControlModifier)); },
                                            [&](app::TMultiRenameForm& w) {
                                              focused = QTest::qWaitFor([&] { return w.NameMaskEdit()->hasFocus(); }) &&
                                                        w.NameMaskEdit()->selectedText() == QStringLiteral("[N]");
                                              QTest::keyClicks(w.NameMaskEdit(), QStringLiteral("doc[C:2]"));
                                              w.UpdatePreview();
                                              QCOMPARE(w.Model()->rowCount(), 2);
                                              QCOMPARE(w.Model()->index(1, 1).data().toString(), QStringLiteral("doc02.txt"));
                                              QTest::keyClick(w.NameMaskEdit(), Qt::Key_Return);
                                            }));
    QVERIFY(focused);
    QVERIFY(Exists(f_->left + "/doc01.txt") && Exists(f_->left + "/doc02.txt"));
    QVERIFY(!Exists(f_->left + "/a.txt") && Exists(f_->left + "/c.txt"));
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("doc02.txt"));
    QTRY_VERIFY(L()->hasFocus());

    // The same batch again would collide with c.txt: refused, nothing moves.
    QVERIFY(f_->Mark(L(), "c.txt") && f_->Mark(L(), "other.dat"));
    QVERIFY(WithModal<app::TMultiRenameForm>([&] { f_->Action("mnuFileMultiRename")->trigger(); },
                                            [&](app::TMultiRenameForm& w) {
                                              w.NameMaskEdit()->setText(QStringLiteral("same"));
                                              w.ExtMaskEdit()->setText(QStringLiteral("txt"));
                                              w.RenameButtonClick();
                                              QVERIFY(w.isVisible());
                                              QCOMPARE(w.Model()->index(0, 2).data().toString(),
                                                       QStringLiteral("Same name as row 2"));
                                            }));
    QVERIFY(Exists(f_->left + "/c.txt") && Exists(f_->left + "/other.dat"));
    QVERIFY(Script().Texts().last().startsWith(QStringLiteral("Nothing was renamed")));

    // Undo gives the first batch its old names back.
    QTRY_VERIFY(L()->hasFocus());
    QVERIFY(WithModal<app::TMultiRenameForm>([&] { f_->Action("mnuFileMultiRename")->trigger(); },
                                            [&](app::TMultiRenameForm& w) {
                                              QVERIFY(w.UndoButton()->isEnabled());
                                              w.UndoButtonClick();
                                            }));
    QTRY_VERIFY(Exists(f_->left + "/a.txt") && Exists(f_->left + "/b.txt"));
    QVERIFY(!Exists(app::RenameLogPath(*f_->form)));
  }

  // Text found in UTF-8 and UTF-16 LE below the start, with the matching
  // line shown; the results fed to the left panel as a listing of paths
  // below the start, where F5 copies from two directories at once and F8
  // deletes, and the listing follows what the commands changed.
  void FindByContentAndFeedToPanel() {
    const std::string root = f_->left + "/tree";
    QVERIFY(MakeDir(root + "/sub/deep"));
    WriteText(root + "/a.txt", "first line\nhello Needle world\n");
    WriteText(root + "/plain.txt", "no such word here\n");
    WriteText(root + "/sub/b.log", "needles\n");
    WriteText(root + "/sub/deep/wide.txt", std::string("n\0e\0e\0d\0l\0e\0", 12));
    QVERIFY(f_->Show());
    auto* dialog = f_->Find<app::TFindFileForm>("FindFileForm");
    L()->ReadDirectory(root);
    platform::SetCurrentDir(root);
    QStringList rows;
    QString header, status;
    QVERIFY(f_->RunModal("mnuCmndFindFile", dialog, [&] {
      dialog->MaskEdit()->setText(QStringLiteral("*"));
      dialog->ContentEdit()->setText(QStringLiteral("NEEDLE"));
      dialog->Utf16LECheck()->setChecked(true);
      QTest::mouseClick(dialog->StartButton(), Qt::LeftButton);
      QAbstractItemModel* model = dialog->ResultsView()->model();
      header = model->headerData(3, Qt::Horizontal).toString();
      for (int r = 0; r < model->rowCount(); ++r)
        rows << model->index(r, 0).data().toString().mid(int(root.size()) + 1) + "|" + model->index(r, 3).data().toString();
      status = dialog->StatusLabel()->text();
      QTest::mouseClick(dialog->FeedButton(), Qt::LeftButton);
    }));
    rows.sort();
    QCOMPARE(rows, QStringList({"a.txt|hello Needle world", "sub/b.log|needles", "sub/deep/wide.txt|needle"}));
    QCOMPARE(header, QStringLiteral("Line"));
    QVERIFY2(status.startsWith(QStringLiteral("3 found in 4 files")), qPrintable(status));

    // The listing: "..", then the three paths; the directory stays the start.
    QTRY_VERIFY(L()->hasFocus());
    QVERIFY(L()->Model().IsListing());
    QCOMPARE(L()->Directory(), root);
    QVERIFY(f_->Listed(L(), "sub/b.log") && f_->Listed(L(), "sub/deep/wide.txt") && !f_->Listed(L(), "plain.txt"));

    // F5 of two entries from different directories into the right panel's.
    QVERIFY(f_->Mark(L(), "a.txt") && f_->Mark(L(), "sub/deep/wide.txt"));
    Script().inputs.push_back(Q(f_->right));
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QTRY_VERIFY(Exists(f_->right + "/a.txt") && Exists(f_->right + "/wide.txt"));
    QVERIFY(Exists(root + "/a.txt"));
    QTRY_COMPARE(L()->Model().MarkedCount(), 0);  // both were copied whole: both unmarked

    // F8 of one entry: gone on disk and from the listing, which stays.
    QTRY_VERIFY(L()->hasFocus());
    QVERIFY(f_->Put(L(), "sub/b.log"));
    Script().answers = {app::MessageAnswer::Yes};
    app::RunDeleteCommand(*f_->form, true);  // Shift+F8: the permanent delete
    QVERIFY2(!Exists(root + "/sub/b.log") && Exists(root + "/sub/deep/wide.txt"), qPrintable(Script().Texts().join("|")));
    QTRY_VERIFY(!f_->Listed(L(), "sub/b.log"));
    QVERIFY(L()->Model().IsListing() && f_->Listed(L(), "a.txt"));

    // Ctrl+R keeps the listing; entering ".." leaves it for the directory.
    QVERIFY(f_->Press(L(), Qt::Key_R, Qt::ControlModifier));
    QVERIFY(L()->Model().IsListing() && f_->Listed(L(), "sub/deep/wide.txt"));
    // F8 through the Trash (the fixture's private one) reaches the entry
    // below the listing's directory too.
    QVERIFY(f_->Put(L(), "sub/deep/wide.txt"));
    Script().answers = {app::MessageAnswer::Yes};
    app::RunDeleteCommand(*f_->form, false);
    QVERIFY2(!Exists(root + "/sub/deep/wide.txt"), qPrintable(Script().Texts().join("|")));
    QCOMPARE(Script().Texts().last(), QStringLiteral("Move 1 item to the Trash?"));
    QVERIFY(Exists(f_->trash + "/files/wide.txt"));
    QVERIFY(ReadText(f_->trash + "/info/wide.txt.trashinfo").contains(Q("Path=" + root + "/sub/deep/wide.txt")));
    QTRY_VERIFY(!f_->Listed(L(), "sub/deep/wide.txt"));

    QVERIFY(f_->Put(L(), ".."));
    QTest::keyClick(L(), Qt::Key_Return);
    QTRY_VERIFY(!L()->Model().IsListing());
  }

  // Shift+F2 and Enter (name, date and size): each panel marks what it has
  // more of or newer, both mark a size difference; the marks from before
  // go. Subdirectories on request; identical directories are said to be so.
  void CompareDirectoriesMarksBothPanels() {
    const std::string& l = f_->left;
    const std::string& r = f_->right;
    for (const std::string& side : {l, r}) {
      QVERIFY(MakeFile(side + "/same.txt", 3, 2024, 1, 1));
      QVERIFY(MakeDir(side + "/dir"));
    }
    QVERIFY(MakeFile(l + "/only-left.txt", 1) && MakeFile(r + "/only-right.txt", 1));
    QVERIFY(MakeFile(l + "/newer.txt", 4, 2025, 6, 1) && MakeFile(r + "/newer.txt", 4, 2024, 6, 1));
    QVERIFY(MakeFile(l + "/size.txt", 4, 2024, 1, 1) && MakeFile(r + "/size.txt", 9, 2024, 1, 1));
    QVERIFY(MakeFile(l + "/dir/deep.txt", 1, 2024, 1, 1) && MakeFile(r + "/dir/deep.txt", 2, 2024, 1, 1));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(L(), "same.txt"));  // goes: only differences stay marked
    auto marked = [](panels::TFMPanel* panel) {
      QStringList names;
      for (const panels::TFileEntry* e : panel->GetMarkedEntries())
        if (panel->IsMarked(panel->IndexOfName(e->FileName))) names << Q(e->FileName);
      names.sort();
      return names.join(' ');
    };
    bool defaults = false;
    QVERIFY(WithModal<app::TCompareDirsForm>(
        [&] { QVERIFY(f_->Press(L(), Qt::Key_F2, Qt::ShiftModifier)); },
        [&](app::TCompareDirsForm& w) {
          defaults = w.DateCheck()->isChecked() && w.SizeCheck()->isChecked() && !w.ContentCheck()->isChecked() &&
                     !w.RecursiveCheck()->isChecked();
          QTest::keyClick(&w, Qt::Key_Return);
        }));
    QVERIFY(defaults);
    QCOMPARE(marked(L()), QStringLiteral("newer.txt only-left.txt size.txt"));
    QCOMPARE(marked(f_->R()), QStringLiteral("only-right.txt size.txt"));
    QTRY_VERIFY(L()->hasFocus());

    // With subdirectories: "dir" holds a size difference, marked on both sides.
    QVERIFY(WithModal<app::TCompareDirsForm>([&] { f_->Action("mnuCmndCompareDirs")->trigger(); },
                                             [&](app::TCompareDirsForm& w) {
                                               w.RecursiveCheck()->setChecked(true);
                                               w.OkButton()->click();
                                             }));
    QCOMPARE(marked(L()), QStringLiteral("dir newer.txt only-left.txt size.txt"));
    QCOMPARE(marked(f_->R()), QStringLiteral("dir only-right.txt size.txt"));

    // The same directory on both sides: nothing marked, and a word saying so.
    f_->R()->ReadDirectory(l);
    QVERIFY(WithModal<app::TCompareDirsForm>([&] { f_->Action("mnuCmndCompareDirs")->trigger(); },
                                             [&](app::TCompareDirsForm& w) { w.accept(); }));
    QCOMPARE(marked(L()), QString());
    QCOMPARE(Script().Texts().last(), QStringLiteral("The directories are the same."));
  }

  // Ctrl+Q: the right side shows what the left cursor stands on, kind by
  // kind, as the cursor moves; Tab goes into the view and back; F4 there is
  // hex, not Edit; Ctrl+Q brings the right panel back.
  void QuickViewFollowsTheCursor() {
    const std::string& l = f_->left;
    QVERIFY(MakeDir(l + "/sub/inner"));
    WriteText(l + "/sub/a.txt", "12345");
    WriteText(l + "/sub/inner/b.txt", std::string(1000, 'b'));
    WriteText(l + "/notes.txt", "first line\nsecond line\n");
    WriteText(l + "/data.bin", std::string("\x00\x01\x02\xffMZ\x00\x00", 8));
    QImage picture(7, 5, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(QString::fromStdString(l + "/picture.png")));
    QVERIFY(f_->Show());
    auto* viewer = f_->form->findChild<app::TQuickViewer*>(QStringLiteral("QuickViewer"));
    QVERIFY(viewer != nullptr);
    app::TQuickView* view = viewer->View();
    using K = app::TQuickView::TKind;

    QVERIFY(f_->Put(L(), "notes.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Q, Qt::ControlModifier));
    QVERIFY(viewer->IsOpen());
    QVERIFY(!f_->R()->isVisible());
    QVERIFY(view->isVisible() && f_->form->Right().Panel->isAncestorOf(view));
    QVERIFY(L()->hasFocus());

    struct TStep {
      const char* entry;
      K kind;
      const char* shows;  // in the rows, the summary or the status line
    };
    const TStep steps[] = {
        {"notes.txt", K::Text, "second line"},
        {"data.bin", K::Hex, "00 01 02 FF 4D 5A"},
        {"picture.png", K::Image, "7 x 5"},
        {"sub", K::Directory, "Files: 2\nDirectories: 1\nSize: 1,005 bytes"},
        {"..", K::Directory, "Directory"},
    };
    for (const TStep& step : steps) {
      // The cursor moves by key, as a person moves it.
      const int target = L()->IndexOfName(step.entry);
      while (L()->Cursor() != target) QTest::keyClick(L(), L()->Cursor() < target ? Qt::Key_Down : Qt::Key_Up);
      QCOMPARE(view->Kind(), step.kind);
      QTRY_VERIFY(!view->Counting());
      const QString shown = view->VisibleRows().join('\n') + view->SummaryText() + view->StatusText();
      QVERIFY2(shown.contains(QLatin1String(step.shows)), qPrintable(QLatin1String(step.entry) + ": " + shown));
    }
    QCOMPARE(view->TitleText(), QFileInfo(QString::fromStdString(l)).dir().dirName());

    // Tab into the view, F4 switches to hex there (no editor), Tab back.
    QVERIFY(f_->Put(L(), "notes.txt"));
    QCOMPARE(view->Kind(), K::Text);
    const auto shownBefore = ShownMessages().size();
    QTest::keyClick(L(), Qt::Key_Tab);
    QTRY_VERIFY(view->Page()->hasFocus());
    QTest::keyClick(view->Page(), Qt::Key_F4);
    QCOMPARE(view->Kind(), K::Hex);
    QVERIFY(view->Page()->hasFocus());
    QCOMPARE(ShownMessages().size(), shownBefore);
    QTest::keyClick(view->Page(), Qt::Key_Tab);
    QTRY_VERIFY(L()->hasFocus());

    // A file changed under the cursor is shown anew on the live re-read.
    WriteText(l + "/notes.txt", "rewritten\n");
    L()->Reread();
    QCOMPARE(view->Kind(), K::Text);
    QTRY_VERIFY(view->VisibleRows().join('\n').contains(QLatin1String("rewritten")));

    // Ctrl+Q from inside the view ends it; the right panel is back as it was.
    QTest::keyClick(L(), Qt::Key_Tab);
    QTRY_VERIFY(view->Page()->hasFocus());
    QTest::keyClick(view->Page(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!viewer->IsOpen());
    QVERIFY(f_->R()->isVisible() && f_->form->Right().Header->isVisible());
    QVERIFY(!view->isVisible());
    QTRY_VERIFY(L()->hasFocus());
    QCOMPARE(f_->R()->Directory(), f_->right);

    // From the right panel the left side becomes the view.
    f_->R()->setFocus();
    QTRY_VERIFY(f_->R()->hasFocus());
    QTest::keyClick(f_->R(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(viewer->IsOpen() && viewer->Source() == f_->R());
    QVERIFY(!L()->isVisible() && f_->form->Left().Panel->isAncestorOf(view));
    QTest::keyClick(f_->R(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(L()->isVisible() && !viewer->IsOpen());
  }

  // Inside an archive the view follows the cursor through the archive:
  // text and hex from the entry's bytes, a directory counted through the
  // listing, an encrypted entry not opened (no password question), ".." at
  // the root the directory the archive is in.
  void QuickViewInsideAnArchive() {
    const std::string zip = f_->left + "/box.zip";
    const char* make =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "  z.writestr('notes.txt', 'first line\\nsecond line\\n' * 50)\n"
        "  z.writestr('data.bin', bytes([0, 1, 2, 255, 77, 90, 0, 0]))\n"
        "  z.writestr('sub/a.txt', '12345')\n"
        "  z.writestr('sub/inner/b.txt', 'b' * 1000)\n";
    QCOMPARE(QProcess::execute(QStringLiteral("python3"), {QStringLiteral("-c"), QLatin1String(make), Q(zip)}), 0);
    const std::string locked = f_->Path("locked");
    QVERIFY(MakeDir(locked) && MakeFile(locked + "/secret.txt", 10, 2024, 1, 1));
    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), Q("cd '" + locked + "' && zip -qP pw '" + zip + "' secret.txt")}), 0);
    QVERIFY(f_->Show());
    QVERIFY(f_->Put(L(), "box.zip") && f_->Press(L(), Qt::Key_Return));
    auto* viewer = f_->form->findChild<app::TQuickViewer*>(QStringLiteral("QuickViewer"));
    app::TQuickView* view = viewer->View();
    using K = app::TQuickView::TKind;
    QVERIFY(f_->Put(L(), "notes.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Q, Qt::ControlModifier));
    QVERIFY(viewer->IsOpen());
    const struct {
      const char* entry;
      K kind;
      const char* shows;
    } steps[] = {
        {"notes.txt", K::Text, "second line"},
        {"data.bin", K::Hex, "00 01 02 FF 4D 5A"},
        {"sub", K::Directory, "Files: 2\nDirectories: 1\nSize: 1,005 bytes"},
        {"secret.txt", K::Error, "encrypted"},
        {"..", K::Directory, "Directory left"},
    };
    for (const auto& step : steps) {
      const int target = L()->IndexOfName(step.entry);
      QVERIFY2(target >= 0, step.entry);
      while (L()->Cursor() != target) QTest::keyClick(L(), L()->Cursor() < target ? Qt::Key_Down : Qt::Key_Up);
      QCOMPARE(view->Kind(), step.kind);
      QTRY_VERIFY(!view->Counting());
      const QString shown = view->VisibleRows().join('\n') + view->SummaryText() + view->StatusText();
      QVERIFY2(shown.contains(QLatin1String(step.shows)), qPrintable(QLatin1String(step.entry) + ": " + shown));
    }
    QVERIFY(ShownMessages().empty());  // no password was asked for
    QVERIFY(L()->hasFocus());
  }

  // Synchronize directories: Enter compares the two panels' directories,
  // a filter hides a kind, keys change the selected rows' actions, and
  // Synchronize carries out what is listed, then compares again.
  void SyncDialogRunsTheChosenActions() {
    const std::string& l = f_->left;
    const std::string& r = f_->right;
    QVERIFY(MakeFile(l + "/new.txt", 1, 2025, 1, 1));
    QVERIFY(MakeFile(l + "/both.txt", 5, 2025, 1, 1) && MakeFile(r + "/both.txt", 3, 2024, 1, 1));
    QVERIFY(MakeFile(r + "/extra.txt", 2, 2024, 1, 1));
    QVERIFY(MakeFile(r + "/kept.txt", 2, 2024, 1, 1));
    QVERIFY(MakeDir(l + "/tree/sub") && MakeFile(l + "/tree/sub/deep.txt", 7, 2024, 1, 1));
    QVERIFY(f_->Show());
    using tools::TSyncAction;
    auto rowOf = [](app::TSyncDirsForm& w, const char* path) {
      for (int i = 0; i < w.Model().rowCount(); ++i)
        if (w.Model().RowAt(i).path == path) return i;
      return -1;
    };
    QStringList rowsBefore, rowsAfter;
    QString hiddenSummary;
    QVERIFY(WithModal<app::TSyncDirsForm>([&] { f_->Action("mnuCmndSyncDirs")->trigger(); },
                                          [&](app::TSyncDirsForm& w) {
      QCOMPARE(w.LeftEdit()->text(), Q(l));
      QCOMPARE(w.RightEdit()->text(), Q(r));
      QTest::keyClick(&w, Qt::Key_Return);  // Compare is the default button
      for (int i = 0; i < w.Model().rowCount(); ++i)
        rowsBefore << Q(w.Model().RowAt(i).path) + ' ' + app::ActionText(w.Model().RowAt(i).action);
      // Only-right rows hidden: they are left alone, and the line says so.
      w.Check("ShowOnlyRight")->setChecked(false);
      QCOMPARE(rowOf(w, "extra.txt"), -1);
      hiddenSummary = w.SummaryLabel()->text();
      w.Check("ShowOnlyRight")->setChecked(true);
      // extra.txt goes from the right (Del), kept.txt stays (Space), new.txt
      // cannot be copied to the left (Left changes nothing).
      QTRY_VERIFY(w.Table()->hasFocus());  // Compare hands the keyboard to the list
      for (const auto& [path, key] : {std::pair{"extra.txt", Qt::Key_Delete}, std::pair{"kept.txt", Qt::Key_Space},
                                      std::pair{"new.txt", Qt::Key_Left}}) {
        w.Table()->selectRow(rowOf(w, path));
        QTest::keyClick(w.Table(), key);
      }
      w.SyncButton()->click();
      for (int i = 0; i < w.Model().rowCount(); ++i)
        rowsAfter << Q(w.Model().RowAt(i).path) + ' ' + app::ActionText(w.Model().RowAt(i).action);
    }));
    QCOMPARE(rowsBefore.join(", "), QStringLiteral("both.txt \u2192, extra.txt \u2190, kept.txt \u2190, "
                                                   "new.txt \u2192, tree \u2192"));
    QVERIFY2(hiddenSummary.contains(QLatin1String("2 rows hidden")), qPrintable(hiddenSummary));
    // What is left to do after the run: kept.txt, left alone.
    QCOMPARE(rowsAfter.join(", "), QStringLiteral("kept.txt \u2190"));
    QVERIFY(Exists(r + "/new.txt") && Exists(r + "/tree/sub/deep.txt"));
    QCOMPARE(QFileInfo(Q(r + "/both.txt")).size(), 5);
    QVERIFY(!Exists(r + "/extra.txt") && !Exists(l + "/extra.txt"));
    QVERIFY(!Exists(l + "/kept.txt") && Exists(r + "/kept.txt"));
    QTRY_VERIFY(L()->hasFocus());
    QVERIFY(f_->Listed(f_->R(), "new.txt"));  // the panels were read again
  }

  // The left panel inside a ZIP archive: the dialog compares the archive's
  // place with the right directory, Synchronize copies into the archive
  // (which unzip still accepts) and out of it as a job followed in front,
  // which Background (F2) could send behind.
  void SyncWithAnArchivePanel() {
    const std::string& r = f_->right;
    const std::string zip = f_->left + "/box.zip", packed = f_->Path("packed");
    QVERIFY(MakeDir(packed + "/docs") && MakeFile(packed + "/docs/in-zip.txt", 4, 2024, 1, 1));
    QVERIFY(MakeFile(packed + "/same.txt", 2, 2024, 1, 1) && MakeFile(r + "/same.txt", 2, 2024, 1, 1));
    QVERIFY(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), Q("cd '" + packed + "' && zip -qr '" + zip + "' .")}) == 0);
    QVERIFY(MakeFile(r + "/new.txt", 3, 2025, 1, 1));
    QVERIFY(f_->Show());
    QVERIFY(f_->Put(L(), "box.zip") && f_->Press(L(), Qt::Key_Return));
    QCOMPARE(L()->Directory(), zip);
    QStringList rowsBefore;
    int rowsAfter = -1;
    bool background = true;
    QVERIFY(WithModal<app::TSyncDirsForm>([&] { f_->Action("mnuCmndSyncDirs")->trigger(); },
                                          [&](app::TSyncDirsForm& w) {
      QCOMPARE(w.LeftEdit()->text(), Q(zip));
      QTest::keyClick(&w, Qt::Key_Return);
      for (int i = 0; i < w.Model().rowCount(); ++i)
        rowsBefore << Q(w.Model().RowAt(i).path) + ' ' + app::ActionText(w.Model().RowAt(i).action);
      background = w.BackgroundButton()->isEnabled();
      w.SyncButton()->click();
      rowsAfter = w.Model().rowCount();
    }));
    QCOMPARE(rowsBefore.join(", "), QStringLiteral("docs \u2192, new.txt \u2190"));
    QVERIFY(background);
    QCOMPARE(rowsAfter, 0);
    QVERIFY(QProcess::execute(QStringLiteral("unzip"), {QStringLiteral("-tqq"), Q(zip)}) == 0);
    QProcess list;
    list.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), Q(zip)});
    QVERIFY(list.waitForFinished());
    QVERIFY2(QString::fromUtf8(list.readAllStandardOutput()).split('\n').contains(QStringLiteral("new.txt")),
             "new.txt went into the archive");
    QVERIFY(Exists(r + "/docs/in-zip.txt"));
    QVERIFY(f_->Listed(L(), "new.txt"));  // the archive panel was read again
  }

  // A ZIP archive typed as the right side ("box.zip/docs") and sent to the
  // background with F2: the job asks nothing while it runs; what changed in
  // the archive since the comparison waits for the end's one list, whose
  // answer replaces it; the rest went in with the archive's one rewrite.
  void SyncIntoATypedArchivePlaceInTheBackground() {
    const std::string& l = f_->left;
    const std::string zip = f_->right + "/box.zip", packed = f_->Path("packed");
    QVERIFY(MakeDir(packed + "/docs") && MakeFile(packed + "/docs/changing.txt", 2, 2024, 1, 1));
    QVERIFY(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), Q("cd '" + packed + "' && zip -qr '" + zip + "' .")}) == 0);
    QVERIFY(MakeFile(l + "/changing.txt", 9, 2025, 1, 1) && MakeFile(l + "/new.txt", 3, 2025, 1, 1));
    QVERIFY(f_->Show());
    static QStringList asked;
    asked.clear();
    app::SetConflictListHandler([](QWidget*, const QString&, const QStringList& items) {
      asked = items;
      return fileops::TConflictChoice::OverwriteAll;
    });
    QStringList rows;
    bool closed = false;
    QVERIFY(WithModal<app::TSyncDirsForm>([&] { f_->Action("mnuCmndSyncDirs")->trigger(); },
                                          [&](app::TSyncDirsForm& w) {
      w.RightEdit()->setText(Q(zip + "/docs/"));
      QTest::keyClick(&w, Qt::Key_Return);
      for (int i = 0; i < w.Model().rowCount(); ++i)
        rows << Q(w.Model().RowAt(i).path) + ' ' + app::ActionText(w.Model().RowAt(i).action);
      // Another program changes the archive after the comparison.
      QVERIFY(MakeFile(packed + "/docs/changing.txt", 5, 2026, 1, 1));
      QVERIFY(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), Q("cd '" + packed + "' && zip -q '" + zip + "' docs/changing.txt")}) == 0);
      QTest::keyClick(w.Table(), Qt::Key_F2);
      closed = !w.isVisible();
    }));
    QCOMPARE(rows.join(", "), QStringLiteral("changing.txt \u2192, new.txt \u2192"));
    QVERIFY(closed);
    QTRY_VERIFY(app::JobCenter(*f_->form)->Queue().Jobs().empty());
    app::SetConflictListHandler(nullptr);
    QCOMPARE(asked, QStringList{Q(zip + "/docs/changing.txt")});
    QVERIFY(QProcess::execute(QStringLiteral("unzip"), {QStringLiteral("-tqq"), Q(zip)}) == 0);
    for (const auto& [entry, size] : {std::pair{"docs/changing.txt", 9}, std::pair{"docs/new.txt", 3}}) {
      QProcess show;
      show.start(QStringLiteral("unzip"), {QStringLiteral("-p"), Q(zip), QLatin1String(entry)});
      QVERIFY(show.waitForFinished());
      QCOMPARE(show.readAllStandardOutput().size(), size);
    }
    QVERIFY(ShownMessages().empty());
  }

  // A typed side that is no place says what it is (in the language chosen),
  // and the field gets the keyboard back; a place inside an archive is one.
  void SyncDialogTypedPaths() {
    const std::string zip = f_->right + "/box.zip", packed = f_->Path("packed");
    QVERIFY(MakeDir(packed + "/docs") && MakeFile(packed + "/docs/a.txt", 2, 2024, 1, 1));
    QVERIFY(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), Q("cd '" + packed + "' && zip -qr '" + zip + "' .")}) == 0);
    QVERIFY(MakeFile(f_->right + "/plain.txt", 2, 2024, 1, 1));
    QVERIFY(f_->Show());
    const struct {
      std::string typed;
      const char* says;  // "": compared (one row, a.txt only on the right)
      const char* file = "";  // the language
    } cases[] = {
        {zip + "/docs", ""},
        {zip + "/docs/", ""},
        {zip + "/nowhere", "does not exist: "},
        {zip + "/docs/a.txt", "holds no directory \"docs/a.txt\""},
        {f_->right + "/nothing/here", "does not exist."},
        {f_->right + "/plain.txt", "is a file, not a directory or an archive."},
        {zip + "/docs/a.txt", "enthält kein Verzeichnis „docs/a.txt“.", "German.lng"},
        {f_->right + "/nothing/here", "» не существует.", "Russian.lng"},
        {f_->right + "/plain.txt", "» — файл, а не каталог или архив.", "Russian.lng"},
    };
    const std::string source = std::getenv("VANTREL_SOURCE_DIR");
    for (const auto& c : cases) {
      app::Language(*f_->form).LanguageFile = *c.file ? source + "/app/language/" + c.file : std::string();
      app::ApplyLanguage(*f_->form);
      ShownMessages().clear();
      int rows = -1;
      bool refocused = false;
      QVERIFY(WithModal<app::TSyncDirsForm>([&] { f_->Action("mnuCmndSyncDirs")->trigger(); },
                                            [&](app::TSyncDirsForm& w) {
        w.RightEdit()->setText(Q(c.typed));
        w.CompareButton()->click();
        rows = w.Model().rowCount();
        refocused = w.focusWidget() == w.RightEdit();
      }));
      if (*c.says == '\0') {
        QVERIFY2(ShownMessages().empty(), qPrintable(Q(c.typed)));
        QCOMPARE(rows, 1);  // a.txt, only on the right
        continue;
      }
      QVERIFY2(ShownMessages().size() == 1, qPrintable(Q(c.typed)));
      QVERIFY2(ShownMessages().front().text.contains(QString::fromUtf8(c.says)), qPrintable(ShownMessages().front().text));
      QVERIFY2(ShownMessages().front().text.contains(Q(c.typed).chopped(c.typed.back() == '/')), qPrintable(ShownMessages().front().text));
      QCOMPARE(rows, 0);
      QVERIFY(refocused);
    }
    app::Language(*f_->form).LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // Background (F2) hands the run to a job and the window closes; the job
  // carries out the plan behind it and the panels are read again.
  void SyncInTheBackground() {
    const std::string& l = f_->left;
    QVERIFY(MakeDir(l + "/tree") && MakeFile(l + "/tree/a.txt", 1000, 2025, 1, 1));
    QVERIFY(MakeFile(l + "/b.txt", 10, 2025, 1, 1));
    QVERIFY(f_->Show());
    bool closed = false;
    QVERIFY(WithModal<app::TSyncDirsForm>([&] { f_->Action("mnuCmndSyncDirs")->trigger(); },
                                          [&](app::TSyncDirsForm& w) {
      QTest::keyClick(&w, Qt::Key_Return);
      QCOMPARE(w.Model().rowCount(), 2);
      QVERIFY(w.BackgroundButton()->isEnabled());
      QTest::keyClick(w.Table(), Qt::Key_F2);
      closed = !w.isVisible();
    }));
    QVERIFY(closed);
    QTRY_VERIFY(app::JobCenter(*f_->form)->Queue().Jobs().empty());
    QVERIFY(Exists(f_->right + "/tree/a.txt") && Exists(f_->right + "/b.txt"));
    QTRY_VERIFY(f_->Listed(f_->R(), "b.txt"));
  }

  // Every key of the main window's commands runs one command only, and
  // Ctrl+Shift+F2 is the one that opens Synchronize directories.
  void CommandKeysAreTakenOnce() {
    QVERIFY(f_->Show());
    std::map<QString, QString> owners;
    for (QAction* action : f_->form->findChildren<QAction*>()) {
      // Windows of their own (the ZIP window) have keys of their own.
      auto* owner = qobject_cast<QWidget*>(action->parent());
      if (owner == nullptr || owner->window() != f_->form.get()) continue;
      for (const QKeySequence& key : action->shortcuts()) {
        const QString text = key.toString();
        const auto [at, fresh] = owners.emplace(text, action->objectName());
        QVERIFY2(fresh, qPrintable(text + " is taken by " + at->second + " and " + action->objectName()));
      }
    }
    QCOMPARE(owners[QStringLiteral("Ctrl+Shift+F2")], QStringLiteral("mnuCmndSyncDirs"));
    QCOMPARE(owners[QStringLiteral("Shift+F2")], QStringLiteral("mnuCmndCompareDirs"));
    QVERIFY(WithModal<app::TSyncDirsForm>([&] { QVERIFY(f_->Press(L(), Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier)); },
                                          [&](app::TSyncDirsForm& w) { QCOMPARE(w.LeftEdit()->text(), Q(f_->left)); }));
  }

  // No terminal anywhere: an error that says where to name one, not silence.
  void TerminalHereSaysWhenThereIsNone() {
    QVERIFY(f_->Show());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(f_->Path("no-programs-here")));
    qputenv("TERMINAL", "no-such-terminal");
    QVERIFY(f_->Press(L(), Qt::Key_F9, Qt::ShiftModifier));
    qputenv("PATH", path);
    qunsetenv("TERMINAL");
    QVERIFY(!ShownMessages().empty());
    QCOMPARE(ShownMessages().back().kind, app::MessageKind::Error);
    QVERIFY2(ShownMessages().back().text.contains(QLatin1String("no terminal was found")),
             qPrintable(ShownMessages().back().text));
  }
};

QTEST_MAIN(ToolsTest)
#include "tools_test.moc"
