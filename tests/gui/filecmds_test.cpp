// filecmds_test.cpp - the file commands of the real main window, offscreen,
// with scripted answers: copy, move and delete (the destination prompt, the
// overwrite question, Cancel in the operation window, the panels re-read
// afterwards), View and Edit, directory size, and the entry menu with Copy
// path and Properties.
#include <atomic>
#include <thread>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>

#include "app/commands/file_commands.h"
#include "app/panels/trash_place.h"
#include "app/panels/drivecombo.h"
#include "app/commands/trash_commands.h"
#include "app/commands/item_menu.h"
#include "app/dialogs/propertiesform.h"
#include "app/settings/settings.h"
#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "fileops/qt/operationform.h"
#include "gui_support.h"
#include "platform/install_paths.h"
#include "platform/process.h"
#include "platform/text.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::MessageAnswer;
using app::MessageKind;

namespace {

QStringList Texts(const QMenu& menu) {
  QStringList texts;
  for (QAction* a : menu.actions())
    if (!a->isSeparator()) texts << a->text().section(QLatin1Char('\t'), 0, 0);
  return texts;
}

uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

class FileCmdsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  std::unique_ptr<QMenu> menu_;

  fileops::TOperationForm* Window() const { return app::OperationForm(*f_->form); }
  panels::TFMPanel* L() const { return f_->L(); }
  // Marks `names` in the left panel and copies (F5) or moves (F6) them into `to`.
  void Run(Qt::Key key, std::initializer_list<const char*> names, const std::string& to) {
    for (const char* name : names) QVERIFY2(f_->Mark(L(), name), name);
    Script().inputs.push_back(Q(to));
    QVERIFY(f_->Press(L(), key));
  }
  // Files in the left panel, then the window.
  void Files(std::initializer_list<std::pair<const char*, size_t>> files) {
    for (auto [name, size] : files) QVERIFY(MakeFile(f_->left + "/" + name, size));
    QVERIFY(f_->Show());
  }
  QAction* MenuItem(const char* name) {
    menu_ = app::BuildItemMenu(*f_->form, *L());
    return menu_->findChild<QAction*>(QLatin1String(name));
  }

 private slots:
  void init() { f_ = std::make_unique<TFormFixture>(); }
  void cleanup() {
    menu_.reset();
    if (f_->form) qDeleteAll(f_->form->findChildren<app::TPropertiesForm*>());
    f_.reset();
  }

  // ".." under the cursor, F3 on a directory, or no active panel: the warning,
  // and no prompt; Ctrl+G on ".." leaves the file line as it is.
  void withoutASelectionNothingRuns() {
    QVERIFY(MakeDir(f_->left + "/dir"));
    Files({{"a.txt", 3}});
    QLineEdit* edit = f_->form->CommandEdit();
    QLabel* line = f_->form->Left().FilePanel;
    line->setText(QStringLiteral("unchanged"));
    QTest::keyClick(L(), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(line->text(), QStringLiteral("unchanged"));
    QVERIFY(ShownMessages().empty());
    const struct {
      const char* cursor;  // nullptr: the focus in the command line
      Qt::Key key;
      Qt::KeyboardModifiers mods;
    } cases[] = {{"..", Qt::Key_F5, {}},   {"..", Qt::Key_F6, {}},    {"..", Qt::Key_Delete, {}},
                 {"dir", Qt::Key_F3, {}},  {nullptr, Qt::Key_F5, {}}, {nullptr, Qt::Key_F4, {}},
                 {nullptr, Qt::Key_G, Qt::ControlModifier}};
    for (const auto& c : cases) {
      Script().shown.clear();
      if (c.cursor) QVERIFY(f_->Put(L(), c.cursor));
      else edit->setFocus();
      QTRY_VERIFY((c.cursor ? static_cast<QWidget*>(L()) : edit)->hasFocus());
      QTest::keyClick(c.cursor ? static_cast<QWidget*>(L()) : edit, c.key, c.mods);
      QCOMPARE(Script().Texts(), QStringList({"There are no selected files"}));
      QCOMPARE(ShownMessages()[0].kind, MessageKind::Warning);
      QCOMPARE(ShownMessages()[0].caption, kMainCaption);
    }
    QVERIFY(Script().prompts.empty());
  }

  void copyMarkedEntriesThroughThePrompt() {
    QVERIFY(MakeDir(f_->left + "/tree/deep") && MakeFile(f_->left + "/tree/deep/d.bin", 5000));
    Files({{"a.txt", 100}, {"b.txt", 200}, {"c.txt", 300}});
    QVERIFY(f_->Put(L(), "c.txt"));  // not marked: not copied
    QString panelText;
    bool shownDuring = false;
    {
      // The window follows the job: at least its first look is shown.
      const auto during = QObject::connect(Window(), &fileops::TOperationForm::progressShown, [&](int) {
        shownDuring = Window()->isVisible();
        panelText = Window()->Panel()->text();
      });
      Run(Qt::Key_F5, {"a.txt", "tree"}, f_->right);
      QObject::disconnect(during);
    }
    QCOMPARE(Script().prompts, std::vector<QString>({"Copy selected files to:"}));
    QCOMPARE(Script().prefilled, std::vector<QString>({Q(f_->right)}));
    QVERIFY(ShownMessages().empty() && shownDuring && !Window()->isVisible());
    QCOMPARE(panelText, QStringLiteral("Copy files...Wait"));
    QCOMPARE(QFileInfo(Q(f_->right + "/tree/deep/d.bin")).size(), 5000);
    QVERIFY(Exists(f_->right + "/a.txt") && !Exists(f_->right + "/c.txt") && Exists(f_->left + "/a.txt"));
    // Both panels re-read; the cursor stays on its entry, the copied entries are unmarked.
    QVERIFY(f_->Listed(f_->R(), "tree"));
    QCOMPARE(f_->AtCursor(L()), std::string("c.txt"));
    QCOMPARE(L()->Model().MarkedCount(), 0);
    // A relative directory is taken relative to the source; Move asks the same way.
    QVERIFY(MakeDir(f_->left + "/inner") && f_->Put(L(), "b.txt"));
    Script().inputs.push_back(QStringLiteral("inner"));
    QVERIFY(f_->Press(L(), Qt::Key_F6));
    QVERIFY(Exists(f_->left + "/inner/b.txt") && !Exists(f_->left + "/b.txt") && !Exists(f_->right + "/b.txt"));
    QCOMPARE(Script().prompts.back(), QStringLiteral("Move selected files to:"));
  }

  // The typed destination decides: one item onto a new name is copied (moved)
  // under it, a trailing "/" makes a new directory for the items, and several
  // items onto one name are refused before anything happens.
  void copyAndMoveUnderANewName() {
    Files({{"a.txt", 10}, {"b.txt", 20}});
    const struct {
      Qt::Key key;
      std::vector<const char*> marked;  // empty: the entry under the cursor, a.txt
      std::string typed;
      const char* warning;  // the refusal's first words, or nullptr
      std::vector<std::string> made;
    } cases[] = {
        {Qt::Key_F5, {}, "a_copy.txt", nullptr, {f_->left + "/a_copy.txt"}},
        {Qt::Key_F5, {"a.txt", "b.txt"}, f_->right + "/new/", nullptr, {f_->right + "/new/a.txt", f_->right + "/new/b.txt"}},
        {Qt::Key_F5, {"a.txt", "b.txt"}, "one.txt", "Cannot copy 2 items onto the one name \"one.txt\".", {}},
        {Qt::Key_F5, {}, "missing/x", "Cannot copy to \"missing/x\"", {}},
        {Qt::Key_F6, {}, f_->right + "/moved.txt", nullptr, {f_->right + "/moved.txt"}},
    };
    for (const auto& c : cases) {
      Script() = TScript();
      L()->ReadDirectory(f_->left);  // no marks left from the case before
      QVERIFY(f_->Put(L(), "a.txt"));
      for (const char* name : c.marked) QVERIFY(f_->Mark(L(), name));
      Script().inputs.push_back(Q(c.typed));
      QVERIFY(f_->Press(L(), c.key));
      if (c.warning) {
        QCOMPARE(ShownMessages().size(), size_t(1));
        QVERIFY2(ShownMessages()[0].text.startsWith(QLatin1String(c.warning)), qPrintable(ShownMessages()[0].text));
        QCOMPARE(ShownMessages()[0].kind, MessageKind::Warning);
      } else {
        QVERIFY2(ShownMessages().empty(), qPrintable(Script().Texts().join('|')));
      }
      for (const std::string& path : c.made) QVERIFY2(ReadText(path).size() > 0, path.c_str());
    }
    QVERIFY(!Exists(f_->left + "/one.txt") && !Exists(f_->left + "/missing") && !Exists(f_->left + "/a.txt"));
    QCOMPARE(ReadText(f_->right + "/moved.txt").size(), 10);
  }

  void overwriteQuestionPerFileOrAll() {
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) {
      WriteText(f_->left + "/" + name, "new");
      WriteText(f_->right + "/" + name, "old!");
    }
    QVERIFY(f_->Show());
    const auto copyAll = [&](std::initializer_list<MessageAnswer> answers) {
      Script().shown.clear();
      Script().answers = answers;
      Run(Qt::Key_F5, {"1.txt", "2.txt", "3.txt"}, f_->right);
      QTest::qVerify(Script().answers.empty(), "every answer used", "", __FILE__, __LINE__);
      QStringList texts;
      for (const char* name : {"/1.txt", "/2.txt", "/3.txt"}) texts << ReadText(f_->right + name);
      return texts;
    };
    QCOMPARE(copyAll({MessageAnswer::No, MessageAnswer::Yes, MessageAnswer::No}), QStringList({"old!", "new", "old!"}));
    QCOMPARE(Script().Texts(), QStringList({"Overwrite file 1.txt?", "Overwrite file 2.txt?", "Overwrite file 3.txt?"}));
    for (const TShownMessage& m : ShownMessages()) {
      QCOMPARE(m.kind, MessageKind::QuestionAll);
      QCOMPARE(m.caption, QStringLiteral("Confirm"));
      // Under the question: both files' sizes and times.
      const QStringList lines = m.text.split(QLatin1Char('\n'));
      QCOMPARE(lines.size(), 4);
      QVERIFY2(lines[2].startsWith(QStringLiteral("New:")) && lines[2].contains(QStringLiteral("3 bytes, ")), qPrintable(lines[2]));
      QVERIFY2(lines[3].startsWith(QStringLiteral("Existing:")) && lines[3].contains(QStringLiteral("4 bytes, ")), qPrintable(lines[3]));
    }
    // All answers all three at once.
    WriteText(f_->right + "/2.txt", "old!");
    QCOMPARE(copyAll({MessageAnswer::All}), QStringList({"new", "new", "new"}));
    QCOMPARE(Script().Texts(), QStringList({"Overwrite file 1.txt?"}));
  }

  void deleteAsksAndDeletesOnlyTheMarked() {
    QVERIFY(MakeDir(f_->left + "/tree/sub") && MakeFile(f_->left + "/tree/sub/f", 5));
    Files({{"a.txt", 5}, {"b.txt", 5}, {"c.txt", 5}});
    QVERIFY(f_->Mark(L(), "a.txt") && f_->Mark(L(), "tree") && f_->Put(L(), "c.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Delete, Qt::ShiftModifier));  // answered No
    QCOMPARE(Script().Texts(), QStringList({"Delete selected files?"}));
    // Under the question: how many and how large, with what is below them.
    QVERIFY2(ShownMessages()[0].text.endsWith(QStringLiteral("\n\n2 items, 10 bytes")), qPrintable(ShownMessages()[0].text));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Question);
    QCOMPARE(ShownMessages()[0].caption, kMainCaption);
    QVERIFY(Exists(f_->left + "/a.txt") && Exists(f_->left + "/tree/sub/f"));
    Script().answers = {MessageAnswer::Yes};
    app::RunDeleteCommand(*f_->form, true);  // the command Shift+F8 runs from a panel
    QVERIFY(!Exists(f_->left + "/a.txt") && !Exists(f_->left + "/tree") && !f_->Listed(L(), "a.txt"));
    QVERIFY(Exists(f_->left + "/b.txt") && Exists(f_->left + "/c.txt"));
  }

  // F8 and Del move to the Trash (here a private one) after their question;
  // with the setting off they delete permanently; where no trash can take
  // the items the delete question says so.
  void deleteMovesToTheTrash() {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const std::string trash = Std(data.path()) + "/Trash";
    Files({{"a.txt", 5}, {"b.txt", 5}, {"c.txt", 5}});
    QVERIFY(f_->Mark(L(), "a.txt") && f_->Mark(L(), "b.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_F8));  // answered No
    QCOMPARE(Script().Texts(), QStringList({"Move 2 items to the Trash?"}));
    QVERIFY(Exists(f_->left + "/a.txt"));
    Script() = TScript(), Script().answers = {MessageAnswer::Yes};
    QVERIFY(f_->Press(L(), Qt::Key_Delete));
    QCOMPARE(Script().Texts(), QStringList({"Move 2 items to the Trash?"}));
    QVERIFY(!Exists(f_->left + "/a.txt") && !f_->Listed(L(), "b.txt") && f_->Listed(L(), "c.txt"));
    QVERIFY(Exists(trash + "/files/a.txt") && Exists(trash + "/info/b.txt.trashinfo"));
    QVERIFY(ReadText(trash + "/info/a.txt.trashinfo").contains(Q("Path=" + f_->left + "/a.txt")));

    // One item is named; Shift+F8 goes past the Trash.
    Script() = TScript(), Script().answers = {MessageAnswer::No, MessageAnswer::Yes};
    QVERIFY(f_->Put(L(), "c.txt") && f_->Press(L(), Qt::Key_F8));
    QVERIFY(f_->Press(L(), Qt::Key_F8, Qt::ShiftModifier));
    QCOMPARE(Script().Texts(), QStringList({"Move 1 item to the Trash?", "Delete selected files?"}));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("Move 1 item to the Trash?\n\nc.txt"));
    QVERIFY(!Exists(f_->left + "/c.txt") && !Exists(trash + "/files/c.txt"));

    // No trash for the items: the trash is a file where a directory must be.
    Files({{"d.txt", 5}});
    QVERIFY(QDir(data.path()).removeRecursively() && MakeDir(Std(data.path())));
    WriteText(trash, "in the way");
    Script() = TScript(), Script().answers = {MessageAnswer::Yes};
    QVERIFY(f_->Put(L(), "d.txt") && f_->Press(L(), Qt::Key_F8));
    QCOMPARE(Script().Texts(), QStringList({"Delete selected files?"}));
    QVERIFY(ShownMessages()[0].text.endsWith(QStringLiteral("\n\nThese items cannot be moved to the Trash: "
                                                           "they will be deleted permanently.")));
    QVERIFY(!Exists(f_->left + "/d.txt"));

    // The setting keeps the permanent delete for F8 and Del.
    Files({{"e.txt", 5}});
    app::SetDeleteMovesToTrash(*f_->form, false);
    Script() = TScript(), Script().answers = {MessageAnswer::No};
    QVERIFY(f_->Put(L(), "e.txt") && f_->Press(L(), Qt::Key_F8));
    QCOMPARE(Script().Texts(), QStringList({"Delete selected files?"}));
    app::SetDeleteMovesToTrash(*f_->form, true);
    qunsetenv("XDG_DATA_HOME");
  }

  // The drive box's "Trash" shows the Trash in the panel: each item with its
  // deletion date and size in the columns and where it came from on the
  // file line; F5 puts the marked items back (asking for another name where
  // one is taken), F8 deletes permanently after its question, Empty Trash
  // asks too, and what would change the Trash says it is not available.
  void trashPlaceRestoresAndEmpties() {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    Files({{"a.txt", 5}, {"b.txt", 6}, {"c.txt", 7}});
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) QVERIFY(f_->Mark(L(), name));
    Script() = TScript(), Script().answers = {MessageAnswer::Yes};
    QVERIFY(f_->Press(L(), Qt::Key_F8));
    QVERIFY(!Exists(f_->left + "/a.txt"));
    Files({{"b.txt", 1}});  // made again meanwhile: its restore needs another name
    app::TDriveCombo* box = f_->form->Left().DriveCombo;
    box->Reload(f_->left);
    QCOMPARE(box->itemText(box->count() - 1), QStringLiteral("Trash"));
    emit box->activated(box->count() - 1);
    QCOMPARE(L()->Directory(), std::string("trash:///"));
    QCOMPARE(box->currentIndex(), box->count() - 1);
    QVERIFY(L()->hasFocus());
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) QVERIFY(f_->Listed(L(), name));
    QCOMPARE(L()->Entries().size(), size_t{4});
    QCOMPARE(f_->form->Left().InfoPanel->text(), QStringLiteral("Trash: 3 items, 18 bytes | F5 restores, F8 deletes permanently"));
    QVERIFY(f_->Put(L(), "a.txt"));
    QCOMPARE(f_->form->Left().FilePanel->text(), QStringLiteral("a.txt- size:5 bytes, from ") + Q(f_->left));
    const panels::TFileEntry* a = L()->CurrentEntry();
    QCOMPARE(panels::DateText(a->LastWriteTime), panels::DateText(platform::FileTimeFromUnix(time(nullptr), 0)));

    // Nothing in the Trash is changed but by restoring and deleting.
    const struct {
      Qt::Key key;
      Qt::KeyboardModifiers mods;
      const char* message;
    } refused[] = {
        {Qt::Key_F7, Qt::NoModifier, "Make directory is not available in the Trash."},
        {Qt::Key_F6, Qt::ShiftModifier, "Rename is not available in the Trash."},
        {Qt::Key_F4, Qt::NoModifier, "Edit is not available in the Trash."},
    };
    for (const auto& row : refused) {
      Script() = TScript();
      QVERIFY(f_->Press(L(), row.key, row.mods));
      QCOMPARE(Script().Texts(), QStringList({QLatin1String(row.message)}));
    }
    // Into the Trash from the other panel: F8 is the way.
    f_->R()->setFocus();
    Script() = TScript();
    QVERIFY(f_->Press(f_->R(), Qt::Key_F5));
    QCOMPARE(Script().Texts(), QStringList({"Nothing is copied into the Trash: F8 moves items there."}));
    L()->setFocus();

    // Restore a.txt and b.txt: b.txt under the name typed into the question.
    QVERIFY(f_->Mark(L(), "a.txt") && f_->Mark(L(), "b.txt"));
    Script() = TScript(), Script().inputs = {QStringLiteral("b (2).txt")};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QCOMPARE(Script().prompts, std::vector<QString>{Q(f_->left + "/b.txt") + " exists already. Restore it as:"});
    QCOMPARE(Script().prefilled, std::vector<QString>{QStringLiteral("b (2).txt")});
    QCOMPARE(QFileInfo(Q(f_->left + "/a.txt")).size(), 5);
    QCOMPARE(QFileInfo(Q(f_->left + "/b (2).txt")).size(), 6);
    QCOMPARE(QFileInfo(Q(f_->left + "/b.txt")).size(), 1);
    QVERIFY(!f_->Listed(L(), "a.txt") && !f_->Listed(L(), "b.txt") && f_->Listed(L(), "c.txt"));
    // The next key goes to the panel.
    QVERIFY(f_->Put(L(), "..") && f_->Press(L(), Qt::Key_Down));
    QCOMPARE(f_->AtCursor(L()), std::string("c.txt"));

    // F8: No keeps it; Empty Trash (entry menu): Yes empties it.
    Script() = TScript(), Script().answers = {MessageAnswer::No};
    QVERIFY(f_->Press(L(), Qt::Key_F8));
    QCOMPARE(Script().Texts(), QStringList({"Delete 1 item permanently? They cannot be restored."}));
    QVERIFY(f_->Listed(L(), "c.txt"));
    std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
    QVERIFY(menu != nullptr);
    QCOMPARE(Texts(*menu).first(), QStringLiteral("Restore"));
    auto* empty = menu->findChild<QAction*>(QStringLiteral("ItemEmptyTrash"));
    QVERIFY(empty != nullptr);
    Script() = TScript(), Script().answers = {MessageAnswer::Yes};
    empty->trigger();
    QCOMPARE(Script().Texts(), QStringList({"Empty the Trash? 1 item will be deleted permanently."}));
    QCOMPARE(L()->Entries().size(), size_t{1});
    QCOMPARE(f_->form->Left().InfoPanel->text(), QStringLiteral("The Trash is empty"));
    QVERIFY(QDir(data.path() + QStringLiteral("/Trash/files")).isEmpty());
    QVERIFY(QDir(data.path() + QStringLiteral("/Trash/info")).isEmpty());

    // ".." leaves the Trash for the home directory.
    QVERIFY(f_->Put(L(), "..") && f_->Press(L(), Qt::Key_Return));
    QCOMPARE(L()->Directory(), app::TrashParentDirectory());
    QVERIFY(box->currentIndex() != box->count() - 1);
    qunsetenv("XDG_DATA_HOME");
  }

  // Cancel in the window of a job that waits for another on the same disk
  // (clicked twice, queued as real clicks: one question), the question
  // answered `answer`: No lets it go on, and everything is copied once the
  // other job ends; Yes ends it with nothing copied, and since the user chose
  // it no "Operation aborted" follows.
  void cancelAsksAndEndsTheJob() {
    const std::string many = f_->right + "/many";
    QVERIFY(MakeDir(f_->left + "/many"));
    for (int i = 0; i < 400; ++i) QVERIFY(MakeFile(f_->left + "/many/f" + std::to_string(i), 1000));
    QVERIFY(f_->Show());
    fileops::TJobQueue& queue = app::JobCenter(*f_->form)->Queue();
    // The files, just written, are in memory: the queue must not let the
    // copy start beside the other job.
    queue.SetFacts(nullptr);
    const auto copied = [&] { return QDir(Q(many)).entryList(QDir::Files).size(); };
    for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
      QDir(Q(many)).removeRecursively();
      Script() = TScript(), Script().answers = {answer};
      std::atomic<bool> release{false};
      queue.Add("other", fileops::DevicesOf({f_->right}), [&](fileops::TJob& job) {
        while (job.Pass() && !release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      });
      bool clicked = false;
      const auto cancel = QObject::connect(Window(), &fileops::TOperationForm::progressShown, [&](int) {
        if (clicked) {
          release = true;  // the question was answered: let the copy run
          return;
        }
        clicked = true;
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);
      });
      QVERIFY(f_->Put(L(), "many"));
      Run(Qt::Key_F5, {}, f_->right);
      QObject::disconnect(cancel);
      release = true;
      QVERIFY(queue.WaitIdle(std::chrono::seconds(10)));
      QCOMPARE(Script().Texts(), QStringList({"Abort operation?"}));
      QCOMPARE(copied(), answer == MessageAnswer::No ? 400 : 0);
      QVERIFY(!Window()->isVisible());
    }
    queue.SetFacts(fileops::SystemJobFacts());
  }

  void operationWindowStaysWhileRunning() {
    QVERIFY(f_->Show());
    fileops::TOperationForm* w = Window();
    // A close request leaves a running operation's window alone; Escape,
    // wherever it is pressed, is Cancel.
    w->Begin(QStringLiteral("Copy files...Wait"));
    QVERIFY(!w->close() && w->isVisible() && !w->FMOperation.OperationAborted);
    QTest::keyClick(L(), Qt::Key_Escape);
    QVERIFY(w->isVisible() && w->FMOperation.OperationAborted);
    w->End();
    QVERIFY(!w->isVisible());
    // The bytes line: done of total, then speed and time left.
    QCOMPARE(fileops::TOperationForm::BytesText(0, 0.00001, 0), QStringLiteral("0 of 0 bytes"));
    QCOMPARE(fileops::TOperationForm::BytesText(3 << 20, 9 << 20, 2),
             QStringLiteral("3,145,728 of 9,437,184 bytes, 1.5 MB/s, 0:04 left"));
    QCOMPARE(fileops::TOperationForm::BytesText(2048, 1 << 20, 1), QStringLiteral("2,048 of 1,048,576 bytes, 2 KB/s, 8:31 left"));
  }

  // After a command the cursor stays on its entry, the marks go from what
  // was handled whole and stay on what failed or was declined; the info line
  // counts what stays marked.
  void marksStayOnWhatFailed() {
    Files({{"a.txt", 1}, {"b.txt", 2}, {"c.txt", 3}, {"d.txt", 4}});
    QVERIFY(MakeDir(f_->right + "/b.txt") && MakeFile(f_->right + "/c.txt", 9));  // b fails, c is declined
    const struct {
      Qt::Key key;
      std::deque<MessageAnswer> overwrite;  // the overwrite questions' answers
      std::vector<std::string> leftAfter;  // what the left panel lists then, marked entries with "*"
    } cases[] = {{Qt::Key_F5, {MessageAnswer::No}, {"..", "a.txt", "*b.txt", "*c.txt", "d.txt"}},
                 {Qt::Key_F6, {MessageAnswer::Yes, MessageAnswer::No}, {"..", "*b.txt", "*c.txt", "d.txt"}}};
    for (const auto& c : cases) {
      for (const char* name : {"a.txt", "b.txt", "c.txt"}) QVERIFY(f_->Mark(L(), name));
      QVERIFY(f_->Put(L(), "d.txt"));
      Script().answers = c.overwrite;  // a.txt is there after the copy; c.txt is declined
      Run(c.key, {}, f_->right);
      std::vector<std::string> listed;
      for (int i = 0; i < L()->Count(); ++i)
        listed.push_back((L()->IsMarked(i) ? "*" : "") + L()->Entries()[static_cast<size_t>(i)]->FileName);
      QCOMPARE(listed, c.leftAfter);
      QCOMPARE(f_->AtCursor(L()), std::string("d.txt"));
      QVERIFY2(f_->form->Left().InfoPanel->text().startsWith(QStringLiteral("Marked 2: 5 bytes")),
               qPrintable(f_->form->Left().InfoPanel->text()));
      for (int i = 0; i < L()->Count(); ++i) L()->SetMarked(i, false);
    }
  }

  // ------------------------------------------------------ other commands

  void viewAndEdit() {
    // Defaults: the viewer beside the program ("vnview.exe" of older settings
    // stands for it), the platform's editor for "notepad".
    QCOMPARE(app::ViewerProgram("/old/place/vnview.exe", "/prog/"), std::string("/prog/vnview"));
    QCOMPARE(app::ViewerProgram("less -R", "/prog/"), std::string("less -R"));
    for (const char* notepad : {"notepad.exe", "NOTEPAD.EXE", "notepad"})
      QCOMPARE(app::EditorProgram(notepad), platform::DefaultEditor());
    QCOMPARE(app::EditorProgram("vi -n"), std::string("vi -n"));
    // Missing programs are said.
    const std::string name = "my notes; $(touch pwned) 'q\" `id`.txt";
    WriteText(f_->left + "/" + name, "text");
    QVERIFY(f_->Show());
    // Our viewer is told the language chosen, no other program is.
    const struct {
      const char* viewer;
      const char* language;
      bool edit;
      std::vector<std::string> words;
    } commands[] = {
        {"/prog/vnview", "German.lng", false, {"/prog/vnview", "--language=" + platform::LanguageDirectory() + "German.lng"}},
        {"vnview -x", "/l/Russian.lng", false, {"vnview", "--language=/l/Russian.lng", "-x"}},
        {"/prog/vnview", "", false, {"/prog/vnview"}},
        {"less -R", "German.lng", false, {"less", "-R"}},
        {"/prog/my-vnview", "German.lng", false, {"/prog/my-vnview"}},
        {"vi", "German.lng", true, {"vi"}},
    };
    const std::string viewer = f_->form->ViewerCommand, editor = f_->form->EditorCommand;
    for (const auto& c : commands) {
      app::TMainForm& form = *f_->form;
      form.ViewerCommand = form.EditorCommand = c.viewer;
      form.LanguageFile = c.language;
      QCOMPARE(app::ViewerOrEditorWords(form, c.edit), c.words);
    }
    f_->form->LanguageFile.clear();
    f_->form->ViewerCommand = viewer, f_->form->EditorCommand = editor;
    QVERIFY(f_->Put(L(), name));
    QVERIFY(f_->Press(L(), Qt::Key_F3));  // the tests' program directory has no viewer
    f_->form->EditorCommand = f_->Path("no-such-editor") + " --flag";
    QVERIFY(f_->Press(L(), Qt::Key_F4));
    QCOMPARE(Script().Texts(), QStringList({"Viewer not found", "Editor not found"}));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Error);
    // The name reaches the program as one argument, after the command's own
    // words; a program path with a blank works quoted and unquoted.
    Script().shown.clear();
    const std::string out = f_->Path("args.txt"), prog = f_->Path("fake prog");
    WriteText(prog, "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" + out +
                        ".tmp' && mv '" + out + ".tmp' '" + out + "'\n");
    ::chmod(prog.c_str(), 0700);
    f_->form->ViewerCommand = "\"" + prog + "\" -v";
    f_->form->EditorCommand = prog;
    for (auto [key, args] : {std::pair{Qt::Key_F3, "2\n-v\n"}, {Qt::Key_F4, "1\n"}}) {
      QFile::remove(Q(out));
      QVERIFY(f_->Press(L(), key));
      QTRY_VERIFY_WITH_TIMEOUT(Exists(out), 10000);
      QCOMPARE(ReadText(out), QLatin1String(args) + Q(name) + "\n");
    }
    QVERIFY(ShownMessages().empty() && !Exists(f_->left + "/pwned"));
  }

  void directorySizeGoesToTheFileLine() {
    QVERIFY(MakeDir(f_->left + "/Docs/inner"));
    QVERIFY(MakeFile(f_->left + "/Docs/a", 1234000) && MakeFile(f_->left + "/Docs/inner/b", 567));
    Files({{"file.bin", 42}});
    const std::pair<const char*, std::string> sizes[] = {
        {"Docs", "Docs- size:" + platform::FormatThousands(1234567) + " bytes"},
        {"file.bin", "file.bin- size:42 bytes"}};
    for (const auto& [name, line] : sizes) {
      QVERIFY(f_->Put(L(), name));
      QTest::keyClick(L(), Qt::Key_G, Qt::ControlModifier);
      QCOMPARE(f_->form->Left().FilePanel->text(), Q(line));
      QCOMPARE(f_->AtCursor(L()), std::string(name));  // not re-read: the cursor stays
    }
    QVERIFY(ShownMessages().empty());
  }

  // ------------------------------------------------------ the entry menu

  // The items depend on the entry under the cursor and on the marks; the
  // commands run on the marked entries.
  void menuDependsOnTheEntryAndTheMarks() {
    QVERIFY(MakeDir(f_->left + "/dir"));
    Files({{"a.zip", 1}, {"b.txt", 1}, {"c.txt", 1}});
    const std::pair<const char*, QStringList> cases[] = {
        {"..", {"Properties"}},
        {"dir", {"Open", "Open with", "Copy", "Move", "Rename", "Delete", "Pack to .ZIP", "Calculate size",
                 "Copy path", "Properties"}},
        {"a.zip", {"Open", "Open with", "View", "Edit", "Copy", "Move", "Rename", "Delete", "Pack to .ZIP",
                   "Open in ZIP window", "Unpack from .ZIP", "Copy path", "Properties"}}};
    for (const auto& [name, texts] : cases) {
      QVERIFY(f_->Put(L(), name));
      QCOMPARE(Texts(*app::BuildItemMenu(*f_->form, *L())), texts);
    }
    QVERIFY(f_->Mark(L(), "a.zip") && f_->Mark(L(), "c.txt") && f_->Put(L(), "b.txt"));
    QCOMPARE(Texts(*app::BuildItemMenu(*f_->form, *L())),
             QStringList({"Open", "Open with", "View", "Edit", "Copy 2 marked entries", "Move 2 marked entries",
                          "Rename", "Delete 2 marked entries", "Pack 2 marked entries to .ZIP",
                          "Copy paths of 2 marked entries", "Properties"}));
    Script().inputs.push_back(Q(f_->right));
    MenuItem("ItemCopy")->trigger();
    QTRY_VERIFY(Exists(f_->right + "/a.zip") && Exists(f_->right + "/c.txt"));
    QVERIFY(!Exists(f_->right + "/b.txt"));
  }

  void copyPathKeepsTheBytesOfTheName() {
    const std::string name = "caf\xE9 & co.txt";  // Latin-1, not UTF-8
    Files({{name.c_str(), 1}});
    QVERIFY(f_->Put(L(), name));
    MenuItem("ItemCopyPath")->trigger();
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QVERIFY(data);
    const QByteArray uri = data->data(QStringLiteral("text/uri-list")).trimmed();
    QVERIFY2(uri.endsWith("/caf%E9%20%26%20co.txt"), uri.constData());
    QCOMPARE(QByteArray::fromPercentEncoding(uri.mid(7)).toStdString(), f_->left + "/" + name);
    QCOMPARE(data->text(), Q(f_->left) + QStringLiteral("/caf\uFFFD & co.txt"));
    ::unlink((f_->left + "/" + name).c_str());  // a name QTemporaryDir cannot remove
  }

  void propertiesOfFilesLinksAndDirectories() {
    const std::string file = f_->left + "/ro.txt", target = f_->left + "/target.txt";
    WriteText(file, "12345"), WriteText(target, "t");
    ::chmod(file.c_str(), 0444), ::chmod(target.c_str(), 0600);
    QVERIFY(::symlink("target.txt", (f_->left + "/link").c_str()) == 0);
    QVERIFY(MakeDir(f_->left + "/tree/a/b") && MakeFile(f_->left + "/tree/one", 1000) &&
            MakeFile(f_->left + "/tree/a/two", 234));
    QVERIFY(f_->Show());
    QVERIFY(f_->Put(L(), "ro.txt"));
    MenuItem("ItemProperties")->trigger();
    auto* dialog = f_->form->findChild<app::TPropertiesForm*>();
    QVERIFY(dialog);
    QStringList fields;
    for (const char* name : {"PropName", "PropPath", "PropSize"}) fields << dialog->Field(QLatin1String(name));
    QCOMPARE(fields, QStringList({"ro.txt", Q(file), "5 bytes"}));
    QVERIFY(dialog->Field(QStringLiteral("PropType")).contains(QLatin1String("text/plain")) &&
            dialog->OctalEdit()->text() == QStringLiteral("0444"));
    for (int i = 0; i < 9; ++i) QCOMPARE(dialog->PermissionBox(i)->isChecked(), i % 3 == 0);
    dialog->PermissionBox(1)->click();  // owner write
    QCOMPARE(dialog->OctalEdit()->text(), QStringLiteral("0644"));
    QCOMPARE(ModeOf(file), 0444u);  // nothing before OK
    QVERIFY(dialog->Apply() && ModeOf(file) == 0644u);
    // A link: its target shown, its modes never applied to the target.
    app::TPropertiesForm link(f_->left + "/link");
    QCOMPARE(link.Field(QStringLiteral("PropTarget")), QStringLiteral("target.txt"));
    QVERIFY(!link.PermissionBox(0)->isEnabled() && link.OctalEdit()->isReadOnly());
    QVERIFY(link.Apply() && ModeOf(target) == 0600u);
    // A directory is counted in the background.
    app::TPropertiesForm tree(f_->left + "/tree");
    QTRY_VERIFY(!tree.Measuring());
    QCOMPARE(tree.Field(QStringLiteral("PropSize")), QStringLiteral("1,234 bytes in 2 files, 2 directories"));
  }
};

QTEST_MAIN(FileCmdsTest)
#include "filecmds_test.moc"
